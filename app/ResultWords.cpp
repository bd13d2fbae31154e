#include "ResultWords.h"

#include "Result.h"

std::string LineCause(int code)
{
    return std::string(result::Words(code)) + " (" + std::to_string(code) + ")";
}

std::string VersionText(uint32_t versionNumber)
{
    return std::to_string(versionNumber / 100) + "." + std::to_string(versionNumber / 10 % 10) +
           std::to_string(versionNumber % 10);
}
