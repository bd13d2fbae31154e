// Invocation and connection, with the log they write, on an in-memory line.
#include <gtest/gtest.h>

#include <string>

#include "BslTestSupport.h"
#include "KeloLog.h"
#include "KeloBSLHost.h"
#include "MemoryLine.h"

namespace {

class ConnectTest : public ::testing::Test {
protected:
    std::string Log() { return ReadFile(logPath); }

    TempDir dir;
    std::string logPath = dir.Path("log.txt");
    KeloLog log{logPath.c_str(), 30, true};
    MemoryLine line;
    KeloBSLHost host{line, &log};
};

TEST_F(ConnectTest, EmptyPortNameOpensNothing)
{
    EXPECT_EQ(host.BSLConnect("", true, 3), -10);
    EXPECT_EQ(host.BSLConnect(nullptr, true, 3), -10);
    EXPECT_FALSE(host.PortOpen());
    EXPECT_FALSE(line.IsOpen());
}

TEST_F(ConnectTest, FullInvocationThenVersionQuery)
{
    line.Expect("boot ZUVA\r").Reply("\r\nKeloBSL\r\n");
    line.Expect("\r").Reply("$");
    line.Expect("P").Reply("#");
    line.Expect("g.0095\r").Reply("+7+\r");
    EXPECT_EQ(host.BSLConnect("memory", true, 3), 7);
    EXPECT_EQ(line.Finish(), "");
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
    line.Expect("boot ZUVA\r").Reply("?\r");
    line.Expect("g.0095\r").Reply("-\r");
    line.Expect("boot ZUVA\r").Reply("?\r");
    line.Expect("g.0095\r").Reply("+12+\r");
    EXPECT_EQ(host.BSLConnect("memory", false, 3), 12);
    EXPECT_EQ(line.Finish(), "");
    EXPECT_NE(Log().find("BSLInvocation found the KeloBSL already active"), std::string::npos);
    EXPECT_NE(Log().find("BSLConnect connected to device running KeloBSL version 12"), std::string::npos);
}

TEST_F(ConnectTest, MissingBootloaderStopsAtOnceAndClosesThePort)
{
    line.Expect("boot ZUVA\r").Reply("boot ZUVA\r\nKeloBSL MISSING\r\n>");
    EXPECT_EQ(host.BSLConnect("memory", true, 3), -112);
    EXPECT_EQ(line.Finish(), "");
    EXPECT_EQ(line.Received(), "boot ZUVA\r");
    EXPECT_FALSE(host.PortOpen());
    EXPECT_FALSE(line.IsOpen());
    EXPECT_NE(Log().find("BSLInvocation failed with error -112"), std::string::npos);
    EXPECT_NE(Log().find("BSLConnect failed to connect to device (error -112)"), std::string::npos);
}

TEST_F(ConnectTest, ErrorOnEveryAttemptGivesMinus110)
{
    for (int i = 0; i < 3; ++i)
        line.Expect("boot ZUVA\r").Reply("ERROR\r\n>");
    EXPECT_EQ(host.BSLConnect("memory", true, 3), -110);
    EXPECT_EQ(line.Finish(), "");
    EXPECT_EQ(line.Received(), "boot ZUVA\rboot ZUVA\rboot ZUVA\r");
    EXPECT_FALSE(line.IsOpen());
}

TEST_F(ConnectTest, NoPromptAndNoReadyAreTheirOwnFailures)
{
    // Attempt 1: no "$"; attempt 2: "$" but no "#".
    line.Expect("boot ZUVA\r").Reply("ok\r\n");
    line.Expect("\r").Reply("x");
    line.Expect("boot ZUVA\r").Reply("ok\r\n");
    line.Expect("\r").Reply("$");
    line.Expect("P").Reply("!");
    EXPECT_EQ(host.BSLConnect("memory", true, 2), -110);
    EXPECT_EQ(line.Finish(), "");
}

}  // namespace
