// kelobsl.exe: the desktop window of the firmware updater on Windows.
#include <windows.h>

#include <shellapi.h>

#include <exception>
#include <string>
#include <vector>

#include "MainWindow.h"
#include "Utf16.h"

namespace {

// The command line after the program name, as UTF-8.
std::vector<std::string> Arguments()
{
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!words)
        return arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(Narrow(words[i]));
    LocalFree(words);
    return arguments;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show)
{
    try {
        MainWindow window(instance, Arguments());
        if (!window.Create(show))
            return 1;
        return window.Run();
    } catch (const std::exception& e) {
        // Shown, then the program ends with a status that says it failed.
        MessageBoxW(nullptr, Widen(e.what()).c_str(), L"KeloBSL", MB_OK | MB_ICONERROR);
        return 1;
    }
}
