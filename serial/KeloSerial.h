// KeloSerial: one serial port, synchronous, with the fixed line settings of
// the instruments (8N1, no flow control, DTR and RTS on). Every exchange on
// the line is purge, write, wait for the answer's end character, read.
//
// The protocols do not own a port: the caller lends them one (the bootloader
// host and the interpreter's protocol share it). Its line operations are
// virtual so that a test can lend an in-memory line instead of a device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Result.h"
#include "SerialBackend.h"

class KeloLog;

class KeloSerial {
public:
    static constexpr std::size_t kReadBufferSize = 2048;

    // readBuffer, when given, must hold kReadBufferSize bytes and outlive the
    // port; otherwise every open allocates one and every close frees it.
    explicit KeloSerial(KeloLog* log, char* readBuffer = nullptr);
    virtual ~KeloSerial();
    KeloSerial(const KeloSerial&) = delete;
    KeloSerial& operator=(const KeloSerial&) = delete;

    virtual int KSOpen(const char* portName, uint32_t baud);
    virtual int KSClose();
    virtual int KSWrite(const void* bytes, uint32_t count, uint32_t* written);
    virtual int KSRead(void* destination, uint32_t capacity, uint32_t* delivered);
    virtual int KSWait(uint32_t timeoutMs, char awaited);
    virtual int KSPurge(int mode);
    virtual int KSHostBaud(uint32_t baud);

    virtual bool IsOpen() const;
    uint32_t Baud() const { return baud_; }
    const char* PortName() const { return portName_.c_str(); }
    KeloLog* Log() const { return log_; }
    // The system's own number for the last failure that was one of the
    // system's (result::kPortSystemError and the port codes).
    int SystemError() const { return systemError_; }
    // What the last wait collected (NUL-terminated); null without a buffer
    // (never after a wait that did not fail).
    virtual const char* ReadBuffer() const { return readBuffer_; }

private:
    int FailedIo(const char* what, int error);
    // One poll of KSWait: a read that waits up to pollMs for the first byte.
    int PollRead(char* destination, std::size_t size, std::size_t* got, uint32_t pollMs);
    int FailedConfiguration(int error);
    // The result for a back end's error; the error itself is kept.
    Result FromSystem(int error);

    KeloLog* log_;
    serial_backend::Handle handle_;
    uint32_t baud_ = 0;
    std::string portName_;  // any length; set once per open
    char* readBuffer_;
    bool replyReady_ = false;
    bool ownsBuffer_ = false;
    int64_t lastPumpMs_ = 0;  // when a wait last ran the event pump
    int systemError_ = 0;
};
