#include "SimDevice.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "FirmwareIdentity.h"
#include "FirmwareImage.h"

namespace {

constexpr const char* kStateMagic = "KELOSIM-STATE 1";
constexpr uint32_t kInfoStart = 0x1000;
constexpr uint32_t kInfoEnd = 0x1100;

// Settings are kept one per line: escape what would break a line.
std::string Escape(const std::string& text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        out += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
    }
    return out;
}

}  // namespace

SimDevice::SimDevice(const SimOptions& options, SimLine& line)
    : options_(options), line_(line),
      bootloader_(options, line, flash_,
                  SimBootloader::Events{
                      [this] {
                          updatePending_ = true;
                          SaveState();
                      },
                      [this] {
                          updatePending_ = false;
                          mode_ = Mode::Restarting;
                          restartDue_ = true;
                          restartAtMs_ = SimLine::NowMs() + options_.restartMs;
                      },
                      [this] {
                          mode_ = Mode::Dark;
                          SaveState();
                      }})
{
    // The settings live in the information flash: erasing it loses them.
    flash_.onErase = [this](uint32_t start, uint32_t size) {
        if (start < kInfoEnd && start + size > kInfoStart && !settings_.empty()) {
            settings_.clear();
            SaveState();
        }
    };
}

SimDevice::~SimDevice() = default;

bool SimDevice::Start(std::string* error)
{
    std::error_code ignored;
    if (!options_.stateFile.empty() && std::filesystem::exists(options_.stateFile, ignored)) {
        if (!LoadState(error))
            return false;
    } else if (!BuildStartingFlash(error)) {
        return false;
    }
    if (options_.bootloader)
        RunBootloader();
    else
        Boot();
    return true;
}

bool SimDevice::BuildStartingFlash(std::string* error)
{
    if (options_.bootloader) {
        flash_.Load({});  // a device that never got a firmware
        return true;
    }
    FirmwareLayout layout;
    layout.type = options_.type;
    layout.version = options_.version;
    FirmwareImage image;
    if (!image.Build(layout, error))
        return false;
    flash_.Load(image.Bytes());
    return true;
}

void SimDevice::Boot()
{
    retiredApp_ = std::move(app_);
    if (updatePending_ || !FirmwareIdentity::Read(flash_.Data()).present) {
        RunBootloader();
        return;
    }
    mode_ = Mode::App;
    app_ = MakeSimApp(*this);
}

void SimDevice::RunBootloader()
{
    mode_ = Mode::Bootloader;
    bootloader_.StartSession();
}

void SimDevice::OnBytes(const char* data, std::size_t size)
{
    retiredApp_.reset();
    switch (mode_) {
    case Mode::App:
        if (app_)
            app_->OnBytes(data, size);
        break;
    case Mode::Bootloader:
        bootloader_.OnBytes(data, size);
        break;
    case Mode::Restarting:
    case Mode::Dark:
        break;
    }
}

void SimDevice::OnTick(uint32_t nowMs)
{
    retiredApp_.reset();
    if (mode_ == Mode::Restarting && restartDue_ && static_cast<int32_t>(nowMs - restartAtMs_) >= 0) {
        restartDue_ = false;
        Boot();
        SaveState();
        // Counted from here: what the app seeded while it booted is no write.
        writesSinceRestart_ = 0;
        CheckUnplugRestore();
    }
    if (mode_ == Mode::Bootloader)
        bootloader_.OnTick(nowMs);
    if (mode_ == Mode::App && app_)
        app_->OnTick(nowMs);
}

bool SimDevice::TakePowerOn()
{
    const bool first = poweredOn_;
    poweredOn_ = false;
    return first;
}

void SimDevice::EnterBootloader()
{
    if (options_.HasFault("no-bootloader")) {
        line_.Send("KeloBSL MISSING\r\n>");
        return;
    }
    if (options_.HasFault("boot-error")) {
        line_.Send("ERROR\r\n>");
        return;
    }
    retiredApp_ = std::move(app_);
    RunBootloader();
    line_.Send("\r\nKeloBSL\r\n");
}

std::string SimDevice::FirmwareVersionLine() const
{
    return FirmwareIdentity::Read(flash_.Data()).versionLine;
}

bool SimDevice::FirmwareGood() const
{
    return FirmwareIdentity::Read(flash_.Data()).good;
}

void SimDevice::SettingsChanged()
{
    SaveState();
    if (writesSinceRestart_ >= 0) {
        ++writesSinceRestart_;
        CheckUnplugRestore();
    }
}

void SimDevice::CheckUnplugRestore()
{
    if (options_.HasFault("unplug-restore") && writesSinceRestart_ >= options_.FaultNumber("unplug-restore", 0))
        line_.Unplug();
}

void SimDevice::Shutdown()
{
    SaveState();
    WriteFlashDump();
}

bool SimDevice::WriteFlashDump() const
{
    if (options_.flashDump.empty())
        return true;
    std::ofstream out(options_.flashDump, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(flash_.Data()), SimFlash::kSize);
    return static_cast<bool>(out);
}

// The state file: a magic line, "pending 0|1", "settings N", N lines of
// key TAB value, "flash", then the 64 KiB of flash.
bool SimDevice::SaveState() const
{
    if (options_.stateFile.empty())
        return true;
    const std::string temporary = options_.stateFile + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << kStateMagic << "\n"
            << "pending " << (updatePending_ ? 1 : 0) << "\n"
            << "settings " << settings_.size() << "\n";
        for (const auto& [key, value] : settings_)
            out << Escape(key) << "\t" << Escape(value) << "\n";
        out << "flash\n";
        out.write(reinterpret_cast<const char*>(flash_.Data()), SimFlash::kSize);
        if (!out)
            return false;
    }
    std::error_code ignored;
    std::filesystem::rename(temporary, options_.stateFile, ignored);
    return !ignored;
}

bool SimDevice::LoadState(std::string* error)
{
    std::ifstream in(options_.stateFile, std::ios::binary);
    std::string line;
    auto fail = [&](const char* why) {
        if (error)
            *error = options_.stateFile + ": " + why;
        return false;
    };
    if (!std::getline(in, line) || line != kStateMagic)
        return fail("not a kelosim state file");
    int pending = 0;
    std::size_t count = 0;
    if (!std::getline(in, line) || std::sscanf(line.c_str(), "pending %d", &pending) != 1)
        return fail("no pending line");
    if (!std::getline(in, line) || std::sscanf(line.c_str(), "settings %zu", &count) != 1)
        return fail("no settings line");
    settings_.clear();
    for (std::size_t i = 0; i < count; ++i) {
        if (!std::getline(in, line))
            return fail("settings cut short");
        std::size_t tab = line.find('\t');
        if (tab == std::string::npos)
            return fail("a settings line without a tab");
        settings_[Unescape(line.substr(0, tab))] = Unescape(line.substr(tab + 1));
    }
    if (!std::getline(in, line) || line != "flash")
        return fail("no flash section");
    std::vector<uint8_t> bytes(SimFlash::kSize);
    in.read(reinterpret_cast<char*>(bytes.data()), SimFlash::kSize);
    if (in.gcount() != static_cast<std::streamsize>(SimFlash::kSize))
        return fail("flash cut short");
    flash_.Load(bytes);
    updatePending_ = pending != 0;
    return true;
}
