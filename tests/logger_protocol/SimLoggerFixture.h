// The logger protocol against kelosim: start a simulated logger, connect to it.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "LoggerFixture.h"
#include "SimProcess.h"

class SimLoggers : public LoggerFixture {
protected:
    void StartSim(std::vector<std::string> args)
    {
        std::string error;
        ASSERT_TRUE(sim_.Start(args, &error)) << error;
    }
    ConnectParams Params(uint8_t link = kLinkSerial)
    {
        ConnectParams params;
        std::snprintf(params.port, sizeof params.port, "%s", sim_.Path().c_str());
        params.linkType = link;
        return params;
    }
    // Connect, read every setting of the type's mask, write them back, set
    // and read the clock, erase, disconnect.
    void RoundTrip(uint32_t typeMask, uint32_t expectRead, bool clock)
    {
        ConnectParams params = Params();
        ASSERT_EQ(proto_->ConnectDevice(&params), 1);
        LoggerInfo info;
        uint32_t mask = typeMask;
        EXPECT_EQ(proto_->DeviceSettings(&info, &mask, 0), 1);
        EXPECT_EQ(mask, expectRead);
        EXPECT_STREQ(info.name, "FIELD01");

        LoggerInfo back = info;
        uint32_t writeMask = back.valid;
        EXPECT_EQ(proto_->DeviceSettings(&back, &writeMask, 1), 1);
        EXPECT_NE(writeMask, 0u);

        int64_t set = 0;
        int64_t read = 0;
        if (clock) {
            EXPECT_EQ(proto_->DeviceTime(&set, 1), 1);
            EXPECT_EQ(proto_->DeviceTime(&read, 0), 1);
            EXPECT_NEAR(static_cast<double>(read), static_cast<double>(set), 3.0);
        } else {
            EXPECT_EQ(proto_->DeviceTime(&read, 0), -1);
        }
        EXPECT_EQ(proto_->EraseData(), 1);
        EXPECT_EQ(proto_->DisconnectDevice(), 1);
    }

    SimProcess sim_;
};

