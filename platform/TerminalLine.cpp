#include "TerminalLine.h"

#include "TerminalLineDetail.h"

namespace terminal_line_detail {

std::atomic<unsigned> wakes{0};
static_assert(std::atomic<unsigned>::is_always_lock_free);

bool EndOfLine(char c, std::string* line)
{
    if (c != '\n')
        return false;
    if (!line->empty() && line->back() == '\r')
        line->pop_back();
    return true;
}

}  // namespace terminal_line_detail

unsigned TerminalWakes()
{
    return terminal_line_detail::wakes.load();
}
