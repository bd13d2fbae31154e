#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "AppSetup.h"
#include "FileLock.h"
#include "TestPlatform.h"
#include "Timing.h"
#include "UnfinishedUpdates.h"
#include "UpdateWorkflow.h"

namespace {

class RecordingUi : public UpdateUi {
public:
    void ShowStatus(const std::string& text) override { statuses.push_back(text); }
    void HideStatus() override {}
    void SetProgress(const Progress& progress) override { positions.push_back(progress.percent); }
    void ShowTransfer(const Progress& progress) override { transfers.push_back(progress); }
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
    std::vector<Progress> transfers;
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

// The loader's readings move the bar, and those of the image's write carry
// the time left that every front end shows.
TEST_F(WorkflowTest, TheLoadersReadingsMoveTheBarAndGiveTheTimeLeft)
{
    UpdateWorkflow workflow(state, ui);
    state.keepGoing = true;
    EXPECT_TRUE(workflow.UpdateProgress(119, 10, 1, 'X'));
    EXPECT_TRUE(ui.transfers.empty()) << "the erase writes no bytes of the image";
    // A whole image climbs from 21 to 90 whatever its length (one call per
    // 512-character frame), and never back.
    for (const uint32_t length : {56334u, 4096u}) {
        state.uploadProgressRatio = UploadProgressRatio(length);
        state.uploadProgressPosition = 21.0f;
        ui.positions.clear();
        for (uint32_t done = 0; done < length; done += 512)
            workflow.UpdateProgress(length, done, 1, 'W');
        EXPECT_TRUE(std::is_sorted(ui.positions.begin(), ui.positions.end())) << length;
        EXPECT_NEAR(ui.positions.back(), 90, 1) << length;
    }
    // The time left comes from the bytes written over time.
    workflow.UpdateProgress(56334, 0, 1, 'W');
    PauseMs(300);
    workflow.UpdateProgress(56334, 2048, 1, 'W');
    ASSERT_TRUE(ui.transfers.back().eta && ui.transfers.back().rate);
    EXPECT_GT(*ui.transfers.back().eta, 0.0);
    // The closing call comes after a failure too: it does not say "all written".
    const std::size_t readings = ui.transfers.size();
    workflow.UpdateProgress(56334, 56334, 2, 'W');
    EXPECT_EQ(ui.transfers.size(), readings);
    state.keepGoing = false;
    EXPECT_FALSE(workflow.UpdateProgress(56334, 0, 1, 'W'));
}

TEST_F(WorkflowTest, NoSuchPortFailsWithItsOwnMessageAndKeepsTheSettingsFile)
{
    UpdateRequest request;
    request.port = kMissingPort;
    const std::string file = SettingsFilePath(state);
    const std::string saved = "type=\"R7F\"\r\nadccal=\"1 2 3\"\r\n";
    std::ofstream(file, std::ios::binary) << saved;
    UpdateWorkflow workflow(state, ui);
    EXPECT_EQ(workflow.Run(request).result, -20);
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
    UpdateRequest request;
    request.port = kMissingPort;
    FileLock other;
    ASSERT_EQ(other.TryLock(unfinished::LockPath(SettingsFilePath(state))), 1);
    ASSERT_TRUE(other.WriteHolder("the update of the Hydrova Series 3 on /dev/ttyUSB7"));
    UpdateWorkflow workflow(state, ui);
    EXPECT_EQ(workflow.Run(request).result, -108);
    EXPECT_EQ(workflow.FailedStep(), UpdateStep::SettingsInUse);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].find("Settings File In Use: Another update running now uses the settings file "),
              std::string::npos)
        << ui.messages[0];
    EXPECT_NE(ui.messages[0].find("on /dev/ttyUSB7"), std::string::npos) << ui.messages[0];
    EXPECT_EQ(workflow.ConnectResult(), 0) << "the port was never opened";
}
