// KeloBSLHost: the PC side of the instruments' resident bootloader (KeloBSL).
// It switches a running instrument into its bootloader, exchanges framed,
// checksummed commands with it over the serial port it is lent, and erases
// the instrument's flash and writes the firmware image it is handed.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "FirmwareImage.h"
#include "KeloSerial.h"

class KeloLog;

class KeloBSLHost {
public:
    static constexpr uint32_t kFrameBufferSize = 520;  // cmd + 512 + "." + 4 + CR + NUL
    static constexpr uint32_t kMaxPayloadChars = 512;
    static constexpr uint32_t kMaxPayloadWords = 128;
    static constexpr uint32_t kAnswerCapacity = 20;    // answer buffers hold 21 bytes
    static constexpr uint32_t kVectorCount = FirmwareImage::kVectorCount;
    static constexpr uint32_t kCommandTimeoutMs = 750;

    // Progress of a transfer: total, current, phase (1 under way, 2 at the
    // end) and kind ('X' erase, 'W' image write). Returning false stops the
    // transfer, which then ends with -40.
    using ProgressHook = std::function<bool(uint32_t total, uint32_t current, int phase, char kind)>;

    // The port is lent, not owned: it must outlive the host, and the host
    // opens and closes it only between BSLConnect and BSLDisconnect. Without
    // an image handed over the host writes the built-in one.
    KeloBSLHost(KeloSerial& port, KeloLog* log,
                std::shared_ptr<const FirmwareImage> image = FirmwareImage::BuiltIn());
    ~KeloBSLHost();
    KeloBSLHost(const KeloBSLHost&) = delete;
    KeloBSLHost& operator=(const KeloBSLHost&) = delete;

    int BSLConnect(const char* portName, bool progress, uint32_t tries);
    int BSLDisconnect();
    int BSLInvocation();
    // Word form: each word is sent as four hex digits.
    int BSLCommand(char command, const uint32_t* words, uint32_t count, char endChar, char* answer,
                   uint32_t* elapsedMs);
    // Text form: the payload bytes are sent unchanged.
    int BSLCommand(char command, const char* payload, uint32_t length, char endChar, char* answer,
                   uint32_t* elapsedMs);

    // The image the transfers write (null: none, BSLSendFirmware gives -10).
    void SetImage(std::shared_ptr<const FirmwareImage> image) { image_ = std::move(image); }
    const std::shared_ptr<const FirmwareImage>& Image() const { return image_; }

    int BSLEraseFlash(uint32_t start, uint32_t end);
    int BSLSendFirmware();
    int BSLSendVectors();

    // The front end's progress hook (its UpdateProgress); without one the
    // transfers behave as if every call answered true.
    void SetProgressHook(ProgressHook hook) { progressHook_ = std::move(hook); }

    int BootloaderVersion() const { return bootloaderVersion_; }
    // What the image is for, as its FirmwareImage says (0 and "" without one).
    const char* TargetName() const { return image_ ? image_->TargetName() : ""; }
    int ImageVersion() const { return image_ ? image_->Version() : 0; }
    bool ImageVersionKnown() const { return image_ && image_->VersionKnown(); }
    int8_t TargetType() const { return image_ ? image_->TargetType() : 0; }
    uint32_t ImageLength() const { return image_ ? image_->Length() : 0; }
    bool PortOpen() const { return portOpen_; }
    bool ProgressEnabled() const { return progress_; }
    uint32_t Tries() const { return tries_; }

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

    KeloSerial& port_;
    KeloLog* log_;
    std::shared_ptr<const FirmwareImage> image_;
    int bootloaderVersion_ = 0;
    // The frames are built in place: no allocation per command.
    char frame_[kFrameBufferSize] = {};
    char payload_[kFrameBufferSize] = {};
    bool portOpen_ = false;
    bool progress_ = false;
    uint32_t tries_ = 0;
    ProgressHook progressHook_;
};
