// Save, erase, restore against the simulator: the settings a device held
// before its information flash was erased are back after the restore.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "InstrumentTestSupport.h"
#include "Kelo_protocol.h"
#include "SimProcess.h"

namespace {

struct SimCase {
    const char* word;
    const char* version;
    int type;
};

void PrintTo(const SimCase& c, std::ostream* os) { *os << c.word; }

// With report set, every difference is a test failure.
bool SameInstrumentSettings(const InstrumentInfo& a, const InstrumentInfo& b, uint32_t mask,
                            bool report = true)
{
    bool same = true;
    auto text = [&](uint32_t bit, const char* x, const char* y, const char* what) {
        if ((mask & bit) && std::strcmp(x, y) != 0) {
            if (report)
                ADD_FAILURE() << what << ": \"" << x << "\" vs \"" << y << "\"";
            same = false;
        }
    };
    auto number = [&](uint32_t bit, int32_t x, int32_t y, const char* what) {
        if ((mask & bit) && x != y) {
            if (report)
                ADD_FAILURE() << what << ": " << x << " vs " << y;
            same = false;
        }
    };
    text(inst_mask::kSn, a.sn, b.sn, "sn");
    number(inst_mask::kLang, a.lang, b.lang, "lang");
    number(inst_mask::kContr, a.contr, b.contr, "contr");
    text(inst_mask::kFvals, a.fvals, b.fvals, "fvals");
    text(inst_mask::kUvals, a.uvals, b.uvals, "uvals");
    number(inst_mask::kUnits, a.units, b.units, "units");
    text(inst_mask::kAdc, a.adc, b.adc, "adc");
    text(inst_mask::kAdcCal, a.adccal, b.adccal, "adccal");
    text(inst_mask::kConfig, a.config, b.config, "config");
    return same;
}

bool SameLoggerSettings(const LoggerInfo& a, const LoggerInfo& b, uint32_t mask, bool report = true)
{
    bool same = true;
    auto check = [&](uint32_t bit, bool equal, const char* what) {
        if ((mask & bit) && !equal) {
            if (report)
                ADD_FAILURE() << what << " differs";
            same = false;
        }
    };
    check(logger_mask::kName, std::strcmp(a.name, b.name) == 0, "name");
    check(logger_mask::kSn, std::strcmp(a.sn, b.sn) == 0, "sn");
    check(logger_mask::kWake, a.wake == b.wake, "wake");
    check(logger_mask::kPadc, a.padc == b.padc, "padc");
    check(logger_mask::kPorts, std::memcmp(a.ports, b.ports, sizeof(a.ports)) == 0, "ports");
    check(logger_mask::kAdcCal,
          std::memcmp(a.slope, b.slope, sizeof(a.slope)) == 0 &&
              std::memcmp(a.offset, b.offset, sizeof(a.offset)) == 0,
          "adccal");
    check(logger_mask::kRmode, a.rmode == b.rmode, "rmode");
    check(logger_mask::kRch, a.rch == b.rch, "rch");
    check(logger_mask::kRsch, a.rsch == b.rsch, "rsch");
    check(logger_mask::kData, a.data == b.data, "data");
    return same;
}

class InstrumentSimTest : public ::testing::TestWithParam<SimCase> {
protected:
    void SetUp() override
    {
        file_ = TempPath((std::string("sim-settings-") + GetParam().word).c_str());
        std::remove(file_.c_str());
    }
    void TearDown() override { std::remove(file_.c_str()); }

    bool StartSim(bool blank)
    {
        const SimCase& c = GetParam();
        std::vector<std::string> args = {"--type", c.word, "--version", c.version,
                                         "--sn", std::string("SIM-") + c.word};
        if (blank) {
            args.push_back("--fault");
            args.push_back("blank-settings");
        }
        std::string error;
        bool ok = sim_.Start(args, &error);
        if (!ok)
            ADD_FAILURE() << error;
        return ok;
    }

    // Reads the type's settings into kp's records; the result of the read.
    int32_t ReadSettings(Kelo_protocol& kp)
    {
        uint32_t mask = Kelo_protocol::SaveMaskOfType(GetParam().type);
        if (IsLoggerType(GetParam().type))
            return kp.Protocol().DeviceSettings(&kp.LoggerSettings(), &mask, 0);
        return kp.GetInstInfo(mask);
    }

    TempLog log_{"instsim", 30};
    SimProcess sim_;
    std::string file_;
};

}  // namespace

TEST_P(InstrumentSimTest, SaveEraseRestore)
{
    const SimCase& c = GetParam();
    const bool logger = IsLoggerType(c.type);
    const uint32_t mask = Kelo_protocol::SaveMaskOfType(c.type);
    DeviceIdentity id;

    ASSERT_TRUE(StartSim(false));
    Kelo_protocol saver(log_.get());
    ASSERT_EQ(saver.QPConnect(sim_.Path().c_str(), 2, 3, &id), 1);
    EXPECT_EQ(id.type, c.type);
    EXPECT_TRUE(id.supported);
    int32_t percent = 0;
    EXPECT_EQ(saver.QPCheckBattery(&percent), 1);
    EXPECT_EQ(percent, 80);
    ASSERT_EQ(saver.QPSaveInfo(file_.c_str()), 1);
    const LoggerInfo savedLogger = saver.LoggerSettings();
    const InstrumentInfo savedInst = saver.InstrumentSettings();
    // Every setting the type keeps was read.
    if (logger)
        EXPECT_EQ(savedLogger.valid & mask & ~0x1000u, mask & ~0x1000u);
    else
        EXPECT_EQ(savedInst.valid & mask, mask);
    saver.QPDisconnect();
    sim_.Stop();

    // The information flash is erased, as by a firmware update.
    ASSERT_TRUE(StartSim(true));
    {
        Kelo_protocol blank(nullptr);
        ASSERT_EQ(blank.QPConnect(sim_.Path().c_str(), 2, 3, &id), 1);
        ReadSettings(blank);
        bool erased = logger ? !SameLoggerSettings(savedLogger, blank.LoggerSettings(), mask, false)
                             : !SameInstrumentSettings(savedInst, blank.InstrumentSettings(), mask, false);
        blank.QPDisconnect();
        ASSERT_TRUE(erased) << "the simulated information flash was not erased";
    }

    // A new object, as in a later run: the restore reads the settings file.
    Kelo_protocol restorer(log_.get());
    ASSERT_EQ(restorer.QPConnect(sim_.Path().c_str(), 2, 3, &id), 1);
    EXPECT_EQ(restorer.QPRestoreInfo(file_.c_str(), nullptr), 1) << log_.Text();
    restorer.QPDisconnect();

    Kelo_protocol checker(nullptr);
    ASSERT_EQ(checker.QPConnect(sim_.Path().c_str(), 2, 3, &id), 1);
    EXPECT_EQ(ReadSettings(checker), 1);
    if (logger)
        EXPECT_TRUE(SameLoggerSettings(savedLogger, checker.LoggerSettings(), mask));
    else
        EXPECT_TRUE(SameInstrumentSettings(savedInst, checker.InstrumentSettings(), mask));
    checker.QPDisconnect();
}

INSTANTIATE_TEST_SUITE_P(Instruments, InstrumentSimTest,
                         ::testing::Values(SimCase{"R7F", "3.51", 12}, SimCase{"TELSO", "1.20", 6},
                                           SimCase{"JV", "1.00", 7}, SimCase{"WN", "1.00", 9},
                                           SimCase{"MERV", "1.00", 11}),
                         [](const auto& info) { return std::string(info.param.word); });

INSTANTIATE_TEST_SUITE_P(Loggers, InstrumentSimTest,
                         ::testing::Values(SimCase{"QX70", "1.20", 3}, SimCase{"QX7B", "2.10", 2},
                                           SimCase{"KS", "1.10", 4}),
                         [](const auto& info) { return std::string(info.param.word); });
