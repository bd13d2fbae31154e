// Drives kelobsl.exe as a person would: finds its window, checks the port
// named with --port is selected, presses Start, answers the questions, waits
// for the success text, closes the window and reads back the preferences it
// wrote. Every step says what it saw on stdout, every failed check with
// "FAILED: " and the reason.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>
#include <utility>

struct HandleCloser {
    void operator()(HANDLE h) const { CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

struct KeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using RegKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

class UiDriver {
public:
    // holdFile: when not empty, after the success text the driver says
    // "finished" and waits (at most 20 s) for that file before it closes
    // the window, so that a script can take its screenshots first.
    UiDriver(std::string exe, std::string port, std::string holdFile, DWORD timeoutMs)
        : exe_(std::move(exe)), port_(std::move(port)), holdFile_(std::move(holdFile)), timeoutMs_(timeoutMs) {}

    // 0 when every check held, else 1.
    int Run();

private:
    struct Answered {
        int answered = 0;
        bool unexpected = false;
    };

    int Fail(const char* format, ...);
    int Finish();
    bool Exited() const { return WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0; }
    bool PresetPreferences();
    bool Start();
    bool FindMainWindow();
    bool CheckControls();
    bool CheckSelectedPort();
    // Answers every message box of kelobsl.exe that is open now; one that is
    // neither an expected question nor alsoExpected is a failure.
    Answered AnswerMessageBoxes(const char* alsoExpected);
    void PressOk(HWND dialog);
    static bool IsSuccessText(const std::string& text);
    bool WaitForSuccess();
    void WaitForHoldFile();
    void CloseWindow();
    void CheckPreferences();

    std::string exe_, port_, holdFile_;
    DWORD timeoutMs_;
    Handle process_;
    DWORD processId_ = 0;
    HWND main_ = nullptr, status_ = nullptr, progress_ = nullptr, portList_ = nullptr, start_ = nullptr;
    int failures_ = 0;
};
