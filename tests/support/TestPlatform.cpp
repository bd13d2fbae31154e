#include "TestPlatform.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <unistd.h>
#endif

#if defined(_WIN32)
const char* const kMissingPort = "COM250";
#else
const char* const kMissingPort = "/dev/ttyKELO-does-not-exist";
#endif

bool RunningUnderWine()
{
#if defined(_WIN32)
    // Wine's ntdll exports its version; Windows' does not.
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

double ProcessCpuMs()
{
#if defined(_WIN32)
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0;
    auto ms = [](const FILETIME& t) {
        return static_cast<double>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) /
               10000.0;  // 100 ns units
    };
    return ms(kernel) + ms(user);
#else
    return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
#endif
}

void SetEnvironment(const char* name, const char* value)
{
#if defined(_WIN32)
    _putenv_s(name, value ? value : "");  // an empty value removes it
#else
    if (value)
        ::setenv(name, value, 1);
    else
        ::unsetenv(name);
#endif
}

std::tm UtcFields(std::time_t t)
{
    std::tm fields{};
#if defined(_WIN32)
    gmtime_s(&fields, &t);
#else
    gmtime_r(&t, &fields);
#endif
    return fields;
}

std::time_t FromUtcFields(std::tm* fields)
{
#if defined(_WIN32)
    return _mkgmtime(fields);
#else
    return timegm(fields);
#endif
}

std::string MakeTempFolder()
{
    namespace fs = std::filesystem;
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
        fs::path path = fs::temp_directory_path() /
                        ("kelobsl-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::error_code error;
        if (fs::create_directory(path, error))
            return path.string();
        if (error)
            return {};
    }
}
