// kelobsl_ui_driver.exe --exe PATH [--port COM5] [--hold FILE] [--timeout SECONDS]
// Exit code 0 when kelobsl.exe updated the instrument on the port and kept
// its preferences, 1 with the reasons printed, 2 for a bad command line.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "UiDriver.h"

int main(int argc, char** argv)
{
    std::string exe, port = "COM5", hold;
    DWORD timeoutSeconds = 120;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool hasValue = i + 1 < argc;
        if (a == "--exe" && hasValue)
            exe = argv[++i];
        else if (a == "--port" && hasValue)
            port = argv[++i];
        else if (a == "--hold" && hasValue)
            hold = argv[++i];
        else if (a == "--timeout" && hasValue)
            timeoutSeconds = static_cast<DWORD>(std::strtoul(argv[++i], nullptr, 10));
        else {
            std::fprintf(stderr, "unknown argument %s\n", a.c_str());
            exe.clear();
            break;
        }
    }
    if (exe.empty()) {
        std::fprintf(stderr, "usage: %s --exe kelobsl.exe [--port COM5] [--hold FILE] [--timeout SECONDS]\n", argv[0]);
        return 2;
    }
    return UiDriver(exe, port, hold, timeoutSeconds * 1000).Run();
}
