// Invocation and connection, with the log they write.
#include <gtest/gtest.h>

#include <string>

#include "BslTestSupport.h"
#include "KeloLog.h"
#include "PtyPeer.h"

namespace {

class ConnectTest : public ::testing::Test {
protected:
    std::string Log() { return ReadFile(logPath); }

    TempDir dir;
    std::string logPath = dir.Path("log.txt");
    KeloLog log{logPath.c_str(), 30, true};
    PtyPeer peer;
    KeloBSLHost host{&log};
};

TEST_F(ConnectTest, EmptyPortNameOpensNothing)
{
    EXPECT_EQ(host.BSLConnect("", true, 3), -10);
    EXPECT_EQ(host.BSLConnect(nullptr, true, 3), -10);
    EXPECT_FALSE(host.PortOpen());
    EXPECT_FALSE(host.IsOpen());
}

TEST_F(ConnectTest, FullInvocationThenVersionQuery)
{
    peer.Expect("boot ZUVA\r").Reply("\r\nKeloBSL\r\n");
    peer.Expect("\r").Reply("$");
    peer.Expect("P").Reply("#");
    peer.Expect("g.0095\r").Reply("+7+\r");
    peer.Start();
    EXPECT_EQ(host.BSLConnect(peer.SlavePath(), true, 3), 7);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_EQ(host.BootloaderVersion(), 7);
    EXPECT_TRUE(host.PortOpen());
    EXPECT_TRUE(host.ProgressEnabled());
    EXPECT_EQ(host.Tries(), 3u);
    EXPECT_NE(Log().find("KeloBSL: BSLInvocation successful (1 tries)"), std::string::npos);
    EXPECT_NE(Log().find("BSLConnect connected to device running KeloBSL version 7"), std::string::npos);
    EXPECT_EQ(host.BSLDisconnect(), 1);
    EXPECT_FALSE(host.PortOpen());
    EXPECT_EQ(host.BSLDisconnect(), 0);
}

TEST_F(ConnectTest, BootloaderAlreadyRunningGoesStraightToTheQuery)
{
    // A refused query is retried with a fresh invocation.
    peer.Expect("boot ZUVA\r").Reply("?\r");
    peer.Expect("g.0095\r").Reply("-\r");
    peer.Expect("boot ZUVA\r").Reply("?\r");
    peer.Expect("g.0095\r").Reply("+12+\r");
    peer.Start();
    EXPECT_EQ(host.BSLConnect(peer.SlavePath(), false, 3), 12);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_NE(Log().find("BSLInvocation found the KeloBSL already active"), std::string::npos);
    EXPECT_NE(Log().find("BSLConnect connected to device running KeloBSL version 12"), std::string::npos);
}

TEST_F(ConnectTest, MissingBootloaderStopsAtOnceAndClosesThePort)
{
    peer.Expect("boot ZUVA\r").Reply("boot ZUVA\r\nKeloBSL MISSING\r\n>");
    peer.Start();
    EXPECT_EQ(host.BSLConnect(peer.SlavePath(), true, 3), -112);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_EQ(peer.Received(), "boot ZUVA\r");
    EXPECT_FALSE(host.PortOpen());
    EXPECT_FALSE(host.IsOpen());
    EXPECT_NE(Log().find("BSLInvocation failed with error -112"), std::string::npos);
    EXPECT_NE(Log().find("BSLConnect failed to connect to device (error -112)"), std::string::npos);
}

TEST_F(ConnectTest, ErrorOnEveryAttemptGivesMinus110)
{
    for (int i = 0; i < 3; ++i)
        peer.Expect("boot ZUVA\r").Reply("ERROR\r\n>");
    peer.Start();
    EXPECT_EQ(host.BSLConnect(peer.SlavePath(), true, 3), -110);
    EXPECT_EQ(peer.Finish(), "");
    EXPECT_EQ(peer.Received(), "boot ZUVA\rboot ZUVA\rboot ZUVA\r");
    EXPECT_FALSE(host.IsOpen());
}

TEST_F(ConnectTest, NoPromptAndNoReadyAreTheirOwnFailures)
{
    // Attempt 1: no "$"; attempt 2: "$" but no "#".
    peer.Expect("boot ZUVA\r").Reply("ok\r\n");
    peer.Expect("\r").Reply("x");
    peer.Expect("boot ZUVA\r").Reply("ok\r\n");
    peer.Expect("\r").Reply("$");
    peer.Expect("P").Reply("!");
    peer.Start();
    EXPECT_EQ(host.BSLConnect(peer.SlavePath(), true, 2), -110);
    EXPECT_EQ(peer.Finish(), "");
}

}  // namespace
