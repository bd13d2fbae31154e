#include "UiDriver.h"

#include <commctrl.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

#include "ControlIds.h"
#include "WindowQueries.h"

namespace {

constexpr const char* kCaption = "Hydrova Series 3 Firmware Updater";
constexpr const char* kPreferencesKey = "Software\\Tessaly Devices, Inc\\KeloBSL";
constexpr const char* kUploadingText = "Uploading new firmware code...";
constexpr const char* kSuccessPrefix = "Successfully updated firmware in ";
constexpr const char* kSuccessSuffix = " seconds.";

// The preferences before the start; the flags must read the same after close.
struct PresetFlag {
    const char* name;
    DWORD value;
};
constexpr PresetFlag kPresetFlags[] = {{"FindAllComms", 0}, {"VerboseLog", 1}};
constexpr const char* kPresetPort = "COM9";

// Questions the update asks on the way; any other message box is a failure.
constexpr const char* kExpectedQuestions[] = {"Demonstration Image"};
// Closing during an update asks this; OK lets the update go on.
constexpr const char* kQuitQuestion = "Don't Quit Now!";

constexpr DWORD kPollMs = 50;

void Say(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace

int UiDriver::Run()
{
    if (!PresetPreferences() || !Start() || !FindMainWindow() || !CheckControls() || !CheckSelectedPort())
        return Finish();
    Say("pressing Start");
    PostMessageA(start_, BM_CLICK, 0, 0);
    bool updated = WaitForSuccess();
    if (updated && !holdFile_.empty())
        WaitForHoldFile();
    CloseWindow();
    if (updated)
        CheckPreferences();
    return Finish();
}

int UiDriver::Fail(const char* format, ...)
{
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    Say("FAILED: %s", text);
    ++failures_;
    return 1;
}

int UiDriver::Finish()
{
    if (process_.get() && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.get(), 1);
        WaitForSingleObject(process_.get(), 5000);
    }
    if (failures_ == 0) {
        Say("UI driver: passed");
        return 0;
    }
    Say("UI driver: %d check(s) failed", failures_);
    return 1;
}

bool UiDriver::Start()
{
    std::string command = "\"" + exe_ + "\" --port " + port_;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(exe_.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
        Fail("could not start %s (error %lu)", exe_.c_str(), GetLastError());
        return false;
    }
    process_.reset(info.hProcess);
    CloseHandle(info.hThread);
    processId_ = info.dwProcessId;
    Say("started %s", command.c_str());
    return true;
}

bool UiDriver::FindMainWindow()
{
    const DWORD deadline = GetTickCount() + 30000;
    while (GetTickCount() < deadline) {
        if (Exited()) {
            DWORD code = 0;
            GetExitCodeProcess(process_.get(), &code);
            Fail("kelobsl.exe ended (exit code %lu) before its window \"%s\" showed", code, kCaption);
            return false;
        }
        auto windows = TopLevelWindows(processId_, nullptr, kCaption);
        if (!windows.empty()) {
            main_ = windows.front();
            RECT client{};
            GetClientRect(main_, &client);
            Say("window \"%s\" found, client area %ld x %ld", kCaption, client.right, client.bottom);
            return true;
        }
        // A message box at start-up (a data folder that cannot be made) is an error.
        if (AnswerMessageBoxes(nullptr).unexpected)
            return false;
        Sleep(kPollMs);
    }
    Fail("no window with the caption \"%s\" within 30 s", kCaption);
    return false;
}

bool UiDriver::CheckControls()
{
    struct Expected { int id; const char* className; HWND* out; };
    const Expected expected[] = {
        {IDC_STATUS, "Static", &status_},
        {IDC_PROGRESS, PROGRESS_CLASSA, &progress_},
        {IDC_COMMPORT, "ComboBox", &portList_},
        {IDC_START, "Button", &start_},
    };
    // The caption may show before the controls exist: give start-up time.
    WaitForInputIdle(process_.get(), 10000);
    const DWORD deadline = GetTickCount() + 10000;
    while (!FindControl(main_, IDC_START) && GetTickCount() < deadline)
        Sleep(kPollMs);
    for (const auto& e : expected) {
        *e.out = FindControl(main_, e.id);
        if (!*e.out)
            Fail("the window has no control with id %d (%s)", e.id, e.className);
        else if (_stricmp(ClassOf(*e.out).c_str(), e.className) != 0)
            Fail("control %d is a %s, not a %s", e.id, ClassOf(*e.out).c_str(), e.className);
    }
    if (failures_)
        return false;
    if (TextOf(start_) != "Start")
        return Fail("button %d reads \"%s\", not \"Start\"", IDC_START, TextOf(start_).c_str()), false;
    if (!IsWindowEnabled(start_))
        return Fail("Start is disabled before the update"), false;
    if (IsWindowVisible(status_))
        return Fail("the status label shows \"%s\" before the update", TextOf(status_).c_str()), false;
    return true;
}

bool UiDriver::CheckSelectedPort()
{
    DWORD_PTR index = 0;
    SendMessageTimeoutA(portList_, CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &index);
    if (static_cast<LRESULT>(index) == CB_ERR)
        return Fail("no port is selected in the port list"), false;
    DWORD_PTR length = 0;
    SendMessageTimeoutW(portList_, CB_GETLBTEXTLEN, index, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &length);
    std::vector<wchar_t> text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(portList_, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                        kAnswerTimeoutMs, &copied);
    std::string selected = Narrow(text.data());
    Say("port list: item %d \"%s\" selected", static_cast<int>(index), selected.c_str());
    if (index != 0 || selected != port_)
        return Fail("the port list shows item %d \"%s\", not item 0 \"%s\"", static_cast<int>(index),
                    selected.c_str(), port_.c_str()), false;
    return true;
}

UiDriver::Answered UiDriver::AnswerMessageBoxes(const char* alsoExpected)
{
    Answered result;
    for (HWND dialog : TopLevelWindows(processId_, "#32770", nullptr)) {
        char title[256] = {};
        GetWindowTextA(dialog, title, sizeof title);
        std::string text = DialogText(dialog);
        bool expected = alsoExpected && std::strcmp(title, alsoExpected) == 0;
        for (const char* q : kExpectedQuestions)
            expected = expected || std::strcmp(title, q) == 0;
        Say("message box \"%s\": %s", title, OneLine(text).c_str());
        if (!expected) {
            Fail("unexpected message box \"%s\": %s", title, OneLine(text).c_str());
            result.unexpected = true;
        }
        PressOk(dialog);
        ++result.answered;
    }
    return result;
}

// OK (or Yes), then wait until the box is gone so it is not answered twice.
void UiDriver::PressOk(HWND dialog)
{
    HWND button = GetDlgItem(dialog, IDOK);
    if (!button)
        button = GetDlgItem(dialog, IDYES);
    if (button)
        PostMessageA(button, BM_CLICK, 0, 0);
    else
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    for (int i = 0; i < 100 && IsWindow(dialog) && IsWindowVisible(dialog); ++i)
        Sleep(kPollMs);
}

bool UiDriver::IsSuccessText(const std::string& text)
{
    const std::size_t prefix = std::strlen(kSuccessPrefix), suffix = std::strlen(kSuccessSuffix);
    if (text.size() <= prefix + suffix || text.compare(0, prefix, kSuccessPrefix) != 0 ||
        text.compare(text.size() - suffix, suffix, kSuccessSuffix) != 0)
        return false;
    for (std::size_t i = prefix; i < text.size() - suffix; ++i)
        if (text[i] < '0' || text[i] > '9')
            return false;
    return true;
}

bool UiDriver::WaitForSuccess()
{
    const DWORD started = GetTickCount();
    std::string shown;
    bool uploadSeen = false;
    while (GetTickCount() - started < timeoutMs_) {
        if (Exited())
            return Fail("kelobsl.exe ended during the update"), false;
        if (AnswerMessageBoxes(nullptr).unexpected)
            return false;
        std::string text = IsWindowVisible(status_) ? TextOf(status_) : "";
        DWORD_PTR position = 0;
        SendMessageTimeoutA(progress_, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &position);
        if (text != shown) {
            shown = text;
            Say("status \"%s\", progress %d", text.c_str(), static_cast<int>(position));
        }
        if (!uploadSeen && text == kUploadingText) {
            uploadSeen = true;
            Say("uploading");
            // Windows asks before a log-off: mid-update the answer is no.
            DWORD_PTR allowed = 1;
            if (SendMessageTimeoutW(main_, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                                    kAnswerTimeoutMs, &allowed) &&
                allowed != FALSE)
                Fail("the window lets Windows log off during the update");
        }
        if (IsSuccessText(text)) {
            bool ok = true;
            if (position != 100)
                ok = !Fail("the progress bar stands at %d after the update, not 100", static_cast<int>(position));
            if (!IsWindowEnabled(start_))
                ok = !Fail("Start stays disabled after the update");
            if (!uploadSeen)
                ok = !Fail("the status never showed \"%s\"", kUploadingText);
            DWORD_PTR allowed = 1;
            if (SendMessageTimeoutW(main_, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_ABORTIFHUNG,
                                    kAnswerTimeoutMs, &allowed) &&
                allowed == FALSE)
                ok = !Fail("the window still holds off a log-off after the update");
            Say("success text %.1f s after Start", (GetTickCount() - started) / 1000.0);
            return ok;
        }
        Sleep(kPollMs);
    }
    Fail("no \"%s...%s\" within %lu s; the status reads \"%s\"", kSuccessPrefix, kSuccessSuffix,
         timeoutMs_ / 1000, shown.c_str());
    return false;
}

void UiDriver::WaitForHoldFile()
{
    Say("finished");
    for (int i = 0; i < 400; ++i) {
        if (GetFileAttributesA(holdFile_.c_str()) != INVALID_FILE_ATTRIBUTES)
            return;
        Sleep(kPollMs);
    }
    Say("no %s after 20 s; closing anyway", holdFile_.c_str());
}

// WM_CLOSE once the update is over (Start enabled again); the quit
// question, should the window still think it updates, is answered and
// the close sent again.
void UiDriver::CloseWindow()
{
    DWORD deadline = GetTickCount() + 30000;
    while (!Exited() && !IsWindowEnabled(start_) && GetTickCount() < deadline) {
        AnswerMessageBoxes(nullptr);
        Sleep(kPollMs);
    }
    if (Exited())
        return;
    Say("closing the window");
    PostMessageA(main_, WM_CLOSE, 0, 0);
    deadline = GetTickCount() + 15000;
    while (!Exited() && GetTickCount() < deadline) {
        if (AnswerMessageBoxes(kQuitQuestion).answered > 0)
            PostMessageA(main_, WM_CLOSE, 0, 0);
        Sleep(kPollMs);
    }
    if (!Exited()) {
        Fail("kelobsl.exe still runs 15 s after WM_CLOSE");
        return;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_.get(), &code);
    if (code != 0)
        Fail("kelobsl.exe ended with exit code %lu", code);
}

// Verbose on (so the log shows the update) and another stored port: the
// window must read the first and write the port it used at close.
bool UiDriver::PresetPreferences()
{
    RegDeleteTreeA(HKEY_CURRENT_USER, kPreferencesKey);
    HKEY created = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, kPreferencesKey, 0, nullptr, 0, KEY_WRITE, nullptr, &created,
                        nullptr) != ERROR_SUCCESS)
        return Fail("could not create HKCU\\%s", kPreferencesKey), false;
    RegKey key(created);
    for (const auto& flag : kPresetFlags)
        RegSetValueExA(key.get(), flag.name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&flag.value),
                       sizeof flag.value);
    RegSetValueExA(key.get(), "CommPort", 0, REG_SZ, reinterpret_cast<const BYTE*>(kPresetPort),
                   static_cast<DWORD>(std::strlen(kPresetPort) + 1));
    return true;
}

void UiDriver::CheckPreferences()
{
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kPreferencesKey, 0, KEY_READ, &opened) != ERROR_SUCCESS) {
        Fail("no preferences key HKCU\\%s after close", kPreferencesKey);
        return;
    }
    RegKey key(opened);
    for (const auto& flag : kPresetFlags) {
        DWORD type = 0, value = 0, size = sizeof value;
        if (RegQueryValueExA(key.get(), flag.name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
            ERROR_SUCCESS)
            Fail("no \"%s\" value", flag.name);
        else if (type != REG_DWORD || size != sizeof value || value != flag.value)
            Fail("\"%s\" is not the DWORD %lu read at start-up (type %lu, %lu bytes, value %lu)", flag.name,
                 flag.value, type, size, value);
        else
            Say("registry \"%s\" = %lu", flag.name, value);
    }
    char port[256] = {};
    DWORD type = 0, size = sizeof port - 1;
    if (RegQueryValueExA(key.get(), "CommPort", nullptr, &type, reinterpret_cast<BYTE*>(port), &size) != ERROR_SUCCESS)
        Fail("no \"CommPort\" value");
    else if (type != REG_SZ || port_ != port)
        Fail("\"CommPort\" is \"%s\" (type %lu), not the REG_SZ \"%s\"", port, type, port_.c_str());
    else
        Say("registry \"CommPort\" = \"%s\"", port);
}
