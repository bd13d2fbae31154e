#include "InstrumentChoice.h"

#include "SettingsArchive.h"

namespace instrument_choice {

namespace {

// The serial number and port come from files another run wrote: a control
// character would break the row or hide part of it.
std::string Printable(const std::string& text)
{
    std::string shown;
    for (unsigned char c : text)
        shown += (c < 0x20 || c == 0x7F) ? '?' : static_cast<char>(c);
    return shown;
}

}  // namespace

std::string CandidateLine(const SettingsCandidate& candidate)
{
    std::string line =
        candidate.serialNumber.empty() ? "No serial number" : "Serial number " + Printable(candidate.serialNumber);
    line += candidate.saved > 0 ? ", saved " + SettingsArchive::LocalDate(candidate.saved) : ", date not recorded";
    line += candidate.port.empty() ? ", port not recorded" : ", on " + Printable(candidate.port);
    return line;
}

std::vector<std::string> Rows(const std::vector<SettingsCandidate>& candidates)
{
    std::vector<std::string> rows;
    rows.reserve(candidates.size() + 1);
    for (const SettingsCandidate& candidate : candidates)
        rows.push_back(CandidateLine(candidate));
    rows.emplace_back(kNoneOfTheseRow);
    return rows;
}

bool CanAccept(int row, std::size_t candidateCount)
{
    return row >= 0 && static_cast<std::size_t>(row) <= candidateCount;
}

int Answer(int row, std::size_t candidateCount)
{
    if (!CanAccept(row, candidateCount))
        return kStopUpdate;
    return static_cast<std::size_t>(row) == candidateCount ? kNoneOfThese : row;
}

}  // namespace instrument_choice
