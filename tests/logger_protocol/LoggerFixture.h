// Shared set-up of the logger protocol tests: a log file to search, a
// protocol object, and a connection to a scripted peer.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

#include "KeloLog.h"
#include "NIVRA_Protocol.h"
#include "PtyPeer.h"

class LoggerFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        path_ = std::string(::testing::TempDir()) + "logger" + std::to_string(::getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log";
        log_ = std::make_unique<KeloLog>(path_.c_str(), 40, true);
        port_ = std::make_unique<KeloSerial>(log_.get());
        proto_ = std::make_unique<NIVRA_Protocol>(*port_, log_.get());
    }
    void TearDown() override
    {
        proto_.reset();
        port_.reset();
        std::remove(path_.c_str());
    }

    std::string LogText()
    {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    bool Logged(const std::string& text) { return LogText().find(text) != std::string::npos; }

    // Connects over a cable to a peer whose script starts with the version
    // exchange; the caller adds its own steps before calling Start().
    ConnectParams SerialParams(PtyPeer& peer)
    {
        ConnectParams params;
        std::snprintf(params.port, sizeof params.port, "%s", peer.SlavePath());
        params.linkType = kLinkSerial;
        return params;
    }
    int32_t ConnectSerial(PtyPeer& peer, const std::string& versionAnswer)
    {
        peer.Expect("get -ver\r").Reply(versionAnswer);
        return Connect(peer, SerialParams(peer));
    }
    int32_t Connect(PtyPeer& peer, ConnectParams params)
    {
        peer.Start();
        return proto_->ConnectDevice(&params);
    }
    void SetRetries(int32_t serial, int32_t radio)
    {
        ProtocolConfig config;
        config.serialRetries = serial;
        config.radioRetries = radio;
        ASSERT_EQ(proto_->Configure(&config, 1), 1);
    }

    std::string path_;
    std::unique_ptr<KeloLog> log_;
    std::unique_ptr<KeloSerial> port_;  // lent to proto_
    std::unique_ptr<NIVRA_Protocol> proto_;
};
