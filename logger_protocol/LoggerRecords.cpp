#include "LoggerRecords.h"

#include <cctype>
#include <cstring>

namespace {

const char* const kModelNames[] = {"Unknown", "Unknown Logger", "Qx7",  "Qx70",
                                   "HubTerminal", "LinkCenter", "Qx7b", "Generic"};

struct ModelWord {
    const char* word;
    int model;
};
const ModelWord kModelWords[] = {
    {"QX7", kModelQx7}, {"QX7B", kModelQx7b}, {"QX70", kModelQx70}, {"KS", kModelHubTerminal},
    {"LC", kModelLinkCenter}};

const uint32_t kBaudRates[kLoggerBaudCount] = {0, 1200, 9600, 19200, 38400, 57600, 115200, 230400};

}  // namespace

const char* LoggerModelName(int model)
{
    if (model < 0 || model >= static_cast<int>(sizeof kModelNames / sizeof kModelNames[0]))
        return kModelNames[0];
    return kModelNames[model];
}

int LoggerModelFromWord(const char* word)
{
    if (!word)
        return kModelUnknown;
    char upper[kLoggerVersionSize] = {};
    std::size_t i = 0;
    for (; word[i] && i + 1 < sizeof upper; ++i)
        upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(word[i])));
    if (word[i])
        return kModelUnknown;  // longer than any model word
    for (const ModelWord& m : kModelWords)
        if (std::strcmp(upper, m.word) == 0)
            return m.model;
    return kModelUnknown;
}

uint32_t LoggerBaudRate(int index)
{
    if (index < 0 || index >= kLoggerBaudCount)
        return 0;
    return kBaudRates[index];
}
