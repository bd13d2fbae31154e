#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "AppSetup.h"
#include "FileLock.h"
#include "TestPlatform.h"
#include "UnfinishedUpdates.h"
#include "UpdateWorkflow.h"

namespace {

class RecordingUi : public UpdateUi {
public:
    void ShowStatus(const std::string& text) override { statuses.push_back(text); }
    void HideStatus() override {}
    void SetProgress(int position) override { positions.push_back(position); }
    void SetTransferBytes(long long done, long long total) override { transfers.push_back({done, total}); }
    void SetConnectText(const std::string&) override {}
    void SetBusy(bool) override {}
    void ShowMessage(const std::string& text, const std::string& title, MessageKind) override
    {
        messages.push_back(title + ": " + text);
    }
    bool AskOkCancel(const std::string&, const std::string&) override { return false; }
    void Beep(MessageKind) override {}
    void PumpEvents() override { ++pumps; }

    std::vector<std::string> statuses;
    std::vector<int> positions;
    std::vector<std::pair<long long, long long>> transfers;
    std::vector<std::string> messages;
    int pumps = 0;
};

class WorkflowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetupOptions options;
        options.dataFolder = std::string(::testing::TempDir()) + "kelo-app-" + std::to_string(::getpid());
        std::string error;
        ASSERT_TRUE(SetUpAppState(state, options, &error)) << error;
    }
    void TearDown() override { CloseAppState(state); }

    AppState state;
    RecordingUi ui;
};

}  // namespace

TEST_F(WorkflowTest, StartsWithTheBuildsTarget)
{
    EXPECT_EQ(state.deviceName, "Hydrova Series 3");
    EXPECT_EQ(state.caption, "Hydrova Series 3 Firmware Updater");
    EXPECT_EQ(state.targetVersion, 352u);
    EXPECT_FLOAT_EQ(state.uploadProgressRatio, 0.6271169f);
    EXPECT_NE(state.logFilePath.find("Hydrova Series 3 Firmware Updater.errors.txt"), std::string::npos);
}

TEST_F(WorkflowTest, ProgressHookMovesTheBarAndCarriesTheStop)
{
    UpdateWorkflow workflow(state, ui);
    state.keepGoing = true;
    // Erase: one point per call.
    EXPECT_TRUE(workflow.UpdateProgress(119, 0, 1, 'X'));
    EXPECT_TRUE(workflow.UpdateProgress(119, 10, 1, 'X'));
    EXPECT_EQ(ui.positions.back(), 2);
    // Upload: the ratio accumulates and the bar shows it rounded.
    state.uploadProgressPosition = 21.0f;
    for (int i = 0; i < 3; ++i)
        workflow.UpdateProgress(56334, 0, 1, 'W');
    EXPECT_EQ(ui.positions.back(), 23);  // 21 + 3 * 0.627 = 22.88 -> 23
    int calls = 0;
    while (calls < 107) {
        workflow.UpdateProgress(56334, 0, 1, 'W');
        ++calls;
    }
    EXPECT_EQ(ui.positions.back(), 90);  // 21 + 110 * 0.627 = 89.98
    EXPECT_GE(ui.pumps, 112);
    // Only the write's readings under way reach the front end: not the
    // erase's, and not the closing call, which comes after a failure too.
    workflow.UpdateProgress(56334, 1024, 1, 'W');
    workflow.UpdateProgress(56334, 56334, 2, 'W');
    ASSERT_EQ(ui.transfers.size(), 111u);
    EXPECT_EQ(ui.transfers.back(), std::make_pair(1024LL, 56334LL));
    state.keepGoing = false;
    EXPECT_FALSE(workflow.UpdateProgress(56334, 0, 1, 'W'));
}

TEST_F(WorkflowTest, NoSuchPortFailsWithItsOwnMessageAndKeepsTheSettingsFile)
{
    state.commPortName = kMissingPort;
    const std::string file = SettingsFilePath(state);
    const std::string saved = "type=\"R7F\"\r\nadccal=\"1 2 3\"\r\n";
    std::ofstream(file, std::ios::binary) << saved;
    UpdateWorkflow workflow(state, ui);
    EXPECT_EQ(workflow.TimerStartTimer(), -20);
    EXPECT_EQ(workflow.FailedStep(), UpdateStep::Connect);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("Connection Error: Comm Port \"" + std::string(kMissingPort) +
                                  "\" isn't available."),
              std::string::npos);
    EXPECT_EQ(ui.positions.back(), 0);
    EXPECT_FALSE(state.updating);
    std::ifstream in(file, std::ios::binary);
    std::stringstream kept;
    kept << in.rdbuf();
    EXPECT_EQ(kept.str(), saved);
    FileLock after;
    EXPECT_EQ(after.TryLock(unfinished::LockPath(file)), 1) << "the lock ends with the update";
    std::remove(file.c_str());
}

// Another update holds the settings file: this one waits a few seconds, then
// stops before it opens the port, and names the other.
TEST_F(WorkflowTest, ASettingsFileInUseStopsTheUpdateBeforeTheDeviceIsTouched)
{
    state.commPortName = kMissingPort;
    FileLock other;
    ASSERT_EQ(other.TryLock(unfinished::LockPath(SettingsFilePath(state))), 1);
    ASSERT_TRUE(other.WriteHolder("the update of the Hydrova Series 3 on /dev/ttyUSB7"));
    UpdateWorkflow workflow(state, ui);
    EXPECT_EQ(workflow.TimerStartTimer(), -108);
    EXPECT_EQ(workflow.FailedStep(), UpdateStep::SettingsInUse);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("Settings File In Use: Another update running now uses the settings file "),
              std::string::npos)
        << ui.messages[0];
    EXPECT_NE(ui.messages[0].find("on /dev/ttyUSB7"), std::string::npos) << ui.messages[0];
    EXPECT_EQ(workflow.ConnectResult(), 0) << "the port was never opened";
}
