#include "UpdateHistory.h"

#include "AppendFile.h"
#include "Result.h"
#include "ResultWords.h"

#include <ctime>
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

bool UpdateHistory::AppendUntouched(UpdateRecord device, const std::string& why, std::string* error) const
{
    device.time = std::time(nullptr);
    device.result = result::kLeftUntouched;
    device.words = why + "; " + LineCause(result::kLeftUntouched);
    device.newSerialNumber.clear();
    device.newVersion.clear();
    device.settingsArchive.clear();
    device.seconds = 0;
    return Append(device, error);
}
