// The one table of result words: the command line's messages, the update
// history and the window all say a result in these words.
#include "Result.h"

namespace result {

namespace {

#define KELO_RESULT_ENTRY(name, number, floor, words) {name, Floor::floor, words},
constexpr Entry kTable[] = {KELO_RESULTS(KELO_RESULT_ENTRY)};
#undef KELO_RESULT_ENTRY

}  // namespace

const char* Words(Result code)
{
    for (const Entry& entry : kTable)
        if (entry.code == code)
            return entry.words;
    return "system error";
}

const Entry* Table(int* count)
{
    *count = static_cast<int>(sizeof kTable / sizeof kTable[0]);
    return kTable;
}

}  // namespace result
