// KeloBSLHost: the PC side of the instruments' resident bootloader (KeloBSL).
// It switches a running instrument into its bootloader, exchanges framed,
// checksummed commands with it, carries the firmware image (built in, or
// loaded from a TI-Text file) and erases and programs the instrument's flash.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>

#include "InputFile.h"
#include "KeloSerial.h"

class KeloLog;

class KeloBSLHost : public KeloSerial {
public:
    static constexpr uint32_t kFrameBufferSize = 520;  // cmd + 512 + "." + 4 + CR + NUL
    static constexpr uint32_t kMaxPayloadChars = 512;
    static constexpr uint32_t kMaxPayloadWords = 128;
    static constexpr uint32_t kAnswerCapacity = 20;    // answer buffers hold 21 bytes
    static constexpr uint32_t kVectorCount = 16;
    static constexpr uint32_t kTargetNameSize = 33;
    static constexpr uint32_t kCommandTimeoutMs = 750;

    // Progress of a transfer: total, current, phase (1 under way, 2 at the
    // end) and kind ('X' erase, 'W' image write). Returning false stops the
    // transfer, which then ends with -40.
    using ProgressHook = std::function<bool(uint32_t total, uint32_t current, int phase, char kind)>;

    explicit KeloBSLHost(KeloLog* log);
    ~KeloBSLHost() override;

    int BSLConnect(const char* portName, bool progress, uint32_t tries);
    int BSLDisconnect();
    int BSLInvocation();
    // Word form: each word is sent as four hex digits.
    int BSLCommand(char command, const uint32_t* words, uint32_t count, char endChar, char* answer,
                   uint32_t* elapsedMs);
    // Text form: the payload bytes are sent unchanged.
    int BSLCommand(char command, const char* payload, uint32_t length, char endChar, char* answer,
                   uint32_t* elapsedMs);

    // 1 loaded; result::kFirmwareUnreadable with the reason in
    // LoadProblem(); result::kNotFirmware; result::kOutOfMemory.
    int BSLLoadTIFile(const char* path);
    // Why the last file could not be opened (Ok when it could).
    InputFileStatus LoadProblem() const { return loadProblem_; }

    int BSLEraseFlash(uint32_t start, uint32_t end);
    int BSLSendFirmware();
    int BSLSendVectors();

    // The front end's progress hook (its UpdateProgress); without one the
    // transfers behave as if every call answered true.
    void SetProgressHook(ProgressHook hook) { progressHook_ = std::move(hook); }

    int BootloaderVersion() const { return bootloaderVersion_; }
    const char* TargetName() const { return targetName_; }
    int ImageVersion() const { return imageVersion_; }
    // False when the loaded file's name gave no version (ImageVersion() is 0).
    bool ImageVersionKnown() const { return imageVersionKnown_; }
    int8_t TargetType() const { return targetType_; }
    uint32_t ImageLength() const { return imageLength_; }
    const char* ImageText() const { return imageText_; }
    const uint32_t* VectorTable() const { return vectors_; }
    bool PortOpen() const { return portOpen_; }
    bool ProgressEnabled() const { return progress_; }
    uint32_t Tries() const { return tries_; }
    bool ImageOwned() const { return imageOwned_; }

protected:
    // Leaves the host without an image, as a failed start-up would.
    void ForgetImage()
    {
        if (imageOwned_)
            std::free(const_cast<char*>(imageText_));
        imageText_ = nullptr;
        imageLength_ = 0;
        imageOwned_ = false;
    }

private:
    int SendFrame(char command, uint32_t payloadLength, char endChar, char* answer, uint32_t* elapsedMs);
    int CommandWithRetry(char command, const char* payload, uint32_t length, char endChar, char* answer);
    int CommandWithRetry(char command, const uint32_t* words, uint32_t count, char endChar, char* answer,
                         uint32_t* totalMs);
    // One "W" piece of the image from the payload buffer, retried; address is
    // where the piece begins (-1: unknown), sent again before each repeat.
    int WriteWithRetry(uint32_t length, int32_t address, char* answer);
    void DropLateAnswer(int result, uint32_t attempt, char endChar);
    bool Progress(uint32_t total, uint32_t current, int phase, char kind);
    void UseBuiltInImage();

    int bootloaderVersion_ = 0;
    char targetName_[kTargetNameSize] = {};
    int imageVersion_ = 0;
    bool imageVersionKnown_ = true;
    int8_t targetType_ = 0;
    uint32_t imageLength_ = 0;
    KeloLog* log_;
    char* frame_ = nullptr;
    char* payload_ = nullptr;
    const char* imageText_ = nullptr;
    uint32_t vectors_[kVectorCount] = {};
    bool portOpen_ = false;
    bool progress_ = false;
    uint32_t tries_ = 0;
    bool imageOwned_ = false;
    InputFileStatus loadProblem_ = InputFileStatus::Ok;
    ProgressHook progressHook_;
};
