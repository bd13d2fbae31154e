// KeloBSLHost: loading a firmware image from a TI-Text file.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "BslLog.h"
#include "FirmwareTarget.h"
#include "InputFile.h"
#include "KeloBSLHost.h"
#include "Result.h"
#include "TITextReader.h"
#include "Timing.h"

int KeloBSLHost::BSLLoadTIFile(const char* path)
{
    const uint32_t begin = TickMs();
    // Folders, pipes, devices and oversized files are refused before a byte
    // is read; the reason is kept beside the result, the log gives its C
    // error number.
    InputFile input;
    loadProblem_ = input.Open(path, InputFileKind::Firmware);
    if (loadProblem_ != InputFileStatus::Ok) {
        int error = -InputFileCode(loadProblem_);
        BSL_LOG(1, "BSLLoadTIFile got error %d trying to open datafile %s", error, path ? path : "");
        return result::kFirmwareUnreadable;
    }
    std::FILE* file = input.File();
    const uint64_t fileLength = input.Size();

    const uint32_t capacity = TITextReader::CapacityFor(static_cast<uint32_t>(fileLength));
    char* image = static_cast<char*>(std::malloc(capacity + 1));
    if (!image)
        return result::kOutOfMemory;
    uint32_t vectors[kVectorCount];
    TITextReader reader(image, capacity, vectors);
    bool valid = reader.Read(file, static_cast<uint32_t>(fileLength));

    const int elapsed = static_cast<int>(ElapsedMs(begin, TickMs()));
    if (!valid) {
        std::free(image);
        BSL_LOG(10, "BSLLoadTIFile: file %s is not a valid TI-Text file (%d ms)", path, elapsed);
        return result::kNotFirmware;
    }
    image[reader.Length()] = '\0';

    if (imageOwned_)
        std::free(const_cast<char*>(imageText_));
    imageText_ = image;
    imageLength_ = reader.Length();
    imageOwned_ = true;
    std::memcpy(vectors_, vectors, sizeof vectors_);
    FirmwareTarget target = FirmwareTarget::FromPath(path);
    std::memcpy(targetName_, target.name, sizeof targetName_);
    targetName_[sizeof targetName_ - 1] = '\0';
    targetType_ = target.type;
    imageVersion_ = target.version;
    imageVersionKnown_ = target.versionKnown;
    BSL_LOG(10, "BSLLoadTIFile loaded file %s (%d ms)", path, elapsed);
    return 1;
}
