#include "CliFixture.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "KeloSerial.h"

namespace fs = std::filesystem;

void CliFixture::SetUp()
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = std::string(::testing::TempDir()) + "kelo-cli-" + info->name() + "-" + std::to_string(::getpid());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    state_ = dir_ + "/device.state";
    flashDump_ = dir_ + "/flash.bin";
    MovePort();
}

void CliFixture::MovePort(const std::string& path)
{
    static int ports = 0;
    link_ = !path.empty() ? path
                          : std::string(::testing::TempDir()) + "kp" + std::to_string(::getpid()) + "-" +
                                std::to_string(++ports);
}

void CliFixture::TearDown()
{
    StopSim();
    if (!HasFailure())
        fs::remove_all(dir_);
}

void CliFixture::StartSim(std::vector<std::string> args)
{
    args.insert(args.end(), {"--state", state_, "--flash-dump", flashDump_, "--link", link_});
    simArgs_ = args;
    std::string error;
    ASSERT_TRUE(sim_.Start(args, &error)) << error;
}

void CliFixture::StopSim()
{
    if (sim_.Running())
        sim_.Stop();
}

void CliFixture::NewDevice()
{
    StopSim();
    std::filesystem::remove(state_);
}

CliRun CliFixture::Update(std::vector<std::string> extra, const CliRunOptions& options)
{
    std::vector<std::string> args = {"update", "--port", link_, "--data-dir", dir_};
    // The built-in image of a test build is the demonstration one, made for kelosim.
    if (std::find(extra.begin(), extra.end(), "--firmware") == extra.end())
        args.push_back("--demo-image");
    args.insert(args.end(), extra.begin(), extra.end());
    return RunCli(args, options);
}

std::string CliFixture::Ask(const std::string& command)
{
    return AskDevice(sim_.Path(), command);
}

std::string AskDevice(const std::string& portPath, const std::string& command)
{
    KeloSerial port(nullptr);
    // A child forked by another thread holds the port's lock until it execs:
    // try again for a moment before giving up.
    int opened = 0;
    for (int attempt = 0; attempt < 20 && opened != 1; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        opened = port.KSOpen(portPath.c_str(), 9600);
    }
    if (opened != 1)
        return "<no port>";
    std::string line = command + "\r";
    uint32_t n = 0;
    port.KSPurge(1);
    port.KSWrite(line.data(), static_cast<uint32_t>(line.size()), &n);
    std::string answer;
    if (port.KSWait(2000, '>') == '>') {
        char buffer[256];
        port.KSRead(buffer, sizeof buffer, &n);
        answer.assign(buffer, n);
    }
    port.KSClose();
    // "\rR7F 3.52\r>" -> "R7F 3.52"
    std::string out;
    for (char c : answer)
        if (c != '\r' && c != '\n' && c != '>')
            out += c;
    return out;
}

std::string CliFixture::MakeFirmware(const std::string& fileName, const std::string& type,
                                     const std::string& version)
{
    std::string path = dir_ + "/" + fileName;
    std::string command = std::string(KELO_BINARY_DIR) + "/sim/mkfirmware/mkfirmware --type " + type +
                          " --version " + version + " --image-chars 4010 -o '" + path + "' >/dev/null";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    return path;
}

std::string CliFixture::SettingsFile() const
{
    return dir_ + "/Hydrova Series 3.settings.txt";
}

std::vector<nlohmann::json> CliFixture::History() const
{
    std::ifstream in(dir_ + "/history.jsonl");
    std::vector<nlohmann::json> records;
    for (std::string line; std::getline(in, line);)
        records.push_back(nlohmann::json::parse(line, nullptr, false));
    return records;
}

std::string CliFixture::ReadFile(const std::string& path) const
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}
