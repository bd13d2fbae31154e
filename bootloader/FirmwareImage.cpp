// FirmwareImage: the built-in image, and loading one from a TI-Text file.
#include "FirmwareImage.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "BuiltInImage.h"
#include "FirmwareTarget.h"
#include "InputFile.h"
#include "KeloLog.h"
#include "Result.h"
#include "TITextReader.h"
#include "Timing.h"

static_assert(FirmwareImage::kTargetNameSize == FirmwareTarget::kNameSize, "target names are copied whole");
static_assert(FirmwareImage::kVectorCount == TITextReader::kVectorCount, "one vector table");

// The log lines keep the words and the "KeloBSL" tag they had when the host
// loaded the file itself: people and scripts search the logs for them.
#define IMAGE_LOG(level, ...)                                \
    do {                                                     \
        if (log)                                             \
            log->LogMessage(level, "KeloBSL", __VA_ARGS__);  \
    } while (0)

std::shared_ptr<const FirmwareImage> FirmwareImage::BuiltIn()
{
    static const std::shared_ptr<const FirmwareImage> builtIn = [] {
        std::shared_ptr<FirmwareImage> image(new FirmwareImage);
        image->text_ = kBuiltInImageText;
        image->length_ = kBuiltInImageLength;
        std::memcpy(image->vectors_, kBuiltInVectors, sizeof image->vectors_);
        std::snprintf(image->targetName_, sizeof image->targetName_, "%s", kBuiltInTargetName);
        image->targetType_ = kBuiltInTargetType;
        image->version_ = kBuiltInImageVersion;
        return image;
    }();
    return builtIn;
}

int FirmwareImage::Load(const char* path, KeloLog* log, std::shared_ptr<const FirmwareImage>* image,
                        InputFileStatus* problem)
{
    const uint32_t begin = TickMs();
    // Folders, pipes, devices and oversized files are refused before a byte
    // is read; the reason is kept beside the result, the log gives its C
    // error number.
    InputFile input;
    InputFileStatus status = input.Open(path, InputFileKind::Firmware);
    if (problem)
        *problem = status;
    if (status != InputFileStatus::Ok) {
        int error = -InputFileCode(status);
        IMAGE_LOG(1, "BSLLoadTIFile got error %d trying to open datafile %s", error, path ? path : "");
        return result::kFirmwareUnreadable;
    }
    std::FILE* file = input.File();
    const uint64_t fileLength = input.Size();

    const uint32_t capacity = TITextReader::CapacityFor(static_cast<uint32_t>(fileLength));
    std::unique_ptr<char[]> text(new (std::nothrow) char[capacity + 1]);
    std::shared_ptr<FirmwareImage> loaded(new (std::nothrow) FirmwareImage);
    if (!text || !loaded)
        return result::kOutOfMemory;
    TITextReader reader(text.get(), capacity, loaded->vectors_);
    bool valid = reader.Read(file, static_cast<uint32_t>(fileLength));

    const int elapsed = static_cast<int>(ElapsedMs(begin, TickMs()));
    if (!valid) {
        IMAGE_LOG(10, "BSLLoadTIFile: file %s is not a valid TI-Text file (%d ms)", path, elapsed);
        return result::kNotFirmware;
    }
    text[reader.Length()] = '\0';

    loaded->owned_ = std::move(text);
    loaded->text_ = loaded->owned_.get();
    loaded->length_ = reader.Length();
    FirmwareTarget target = FirmwareTarget::FromPath(path);
    std::memcpy(loaded->targetName_, target.name, sizeof loaded->targetName_);
    loaded->targetName_[sizeof loaded->targetName_ - 1] = '\0';
    loaded->targetType_ = target.type;
    loaded->version_ = target.version;
    loaded->versionKnown_ = target.versionKnown;
    IMAGE_LOG(10, "BSLLoadTIFile loaded file %s (%d ms)", path, elapsed);
    *image = std::move(loaded);
    return 1;
}
