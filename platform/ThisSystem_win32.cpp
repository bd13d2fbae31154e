#include "ThisSystem.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

long ProcessId()
{
    return static_cast<long>(GetCurrentProcessId());
}

std::string BuildPlatform()
{
#if defined(__x86_64__) || defined(_M_X64)
    return "Windows x86_64";
#elif defined(__aarch64__) || defined(_M_ARM64)
    return "Windows arm64";
#elif defined(__i386__) || defined(_M_IX86)
    return "Windows x86";
#else
    return "Windows";
#endif
}
