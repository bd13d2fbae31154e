#include "FileLock.h"

#include "ThisSystem.h"

#include <cstdio>

long FileLock::ProcessId()
{
    return ::ProcessId();
}

FileLock::~FileLock()
{
    Unlock();
}

bool FileLock::Held() const
{
    return handle_ != kNotHeld;
}

std::string FileLock::ReadHolder(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return {};
    char text[kMaxHolderText];
    const std::size_t length = std::fread(text, 1, sizeof text, file);
    std::fclose(file);
    return std::string(text, length);
}
