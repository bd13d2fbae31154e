#include "UpdateHistory.h"

#include "AppendFile.h"

#include <filesystem>
#include <mutex>

namespace {

// Threads of one process take turns; other processes are kept apart by the
// single appending write.
std::mutex& AppendMutex()
{
    static std::mutex mutex;
    return mutex;
}

}  // namespace

UpdateHistory::UpdateHistory(const std::string& dataFolder)
    : path_((std::filesystem::path(dataFolder.empty() ? "." : dataFolder) / kFileName).string())
{
}

bool UpdateHistory::Append(const UpdateRecord& record, std::string* error) const
{
    const std::string line = record.ToJson() + "\n";
    std::lock_guard<std::mutex> lock(AppendMutex());
    return AppendLine(path_, line, error);
}
