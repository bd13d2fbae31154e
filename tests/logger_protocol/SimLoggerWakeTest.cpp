// The whole wake sequence against the simulated radio modem (about 55 s).
#include <cstring>

#include "SimLoggerFixture.h"
#include "Timing.h"

// About 55 s: one login attempt, the whole wake sequence, the second login.
TEST_F(SimLoggers, RadioLoggerWokenByWakeSequence)
{
    SetRetries(1, 1);
    StartSim({"--type", "QX70", "--version", "1.15", "--radio", "--fault", "wake-after=100"});
    ConnectParams params = Params(kLinkRadio);
    std::strcpy(params.loginName, "FIELD01");
    uint32_t start = TickMs();
    ASSERT_EQ(proto_->ConnectDevice(&params), 1);
    EXPECT_GE(ElapsedMs(start, TickMs()), 49000u);
    EXPECT_TRUE(Logged("SendWake sent 909 packets"));
    EXPECT_STREQ(proto_->Info().name, "FIELD01");
}
