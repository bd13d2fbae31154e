#include "ThisSystem.h"

#include <unistd.h>

long ProcessId()
{
    return static_cast<long>(::getpid());
}

std::string BuildPlatform()
{
#if defined(__APPLE__)
    std::string system = "macOS";
#elif defined(__linux__)
    std::string system = "Linux";
#else
    std::string system = "POSIX";
#endif
#if defined(__x86_64__)
    return system + " x86_64";
#elif defined(__aarch64__)
    return system + " arm64";
#elif defined(__i386__)
    return system + " x86";
#else
    return system;
#endif
}
