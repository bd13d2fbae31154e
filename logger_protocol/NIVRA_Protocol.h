// NIVRA_Protocol: the host side of the data loggers' text command interpreter,
// over a direct cable (link type 10) or through a Tz9 radio modem (link type
// 30). It talks over the serial port it is lent (shared with the bootloader
// host): it opens and closes that port as its connections begin and end. One
// thread, one operation at a time.
#pragma once

#include <cstdint>
#include <functional>

#include "KeloLog.h"
#include "KeloSerial.h"
#include "LoggerRecords.h"
#include "Result.h"

class NIVRA_Protocol {
public:
    static constexpr uint32_t kAnswerSize = 2049;  // 2048 bytes of text and a NUL

    // Progress phases of ReportProgress.
    static constexpr int kPhaseProgress = 1;
    static constexpr int kPhaseFinished = 2;
    static constexpr int kPhaseQuery = 4;

    // Returns whether to go on; false cancels the running operation (-40).
    using ProgressHook = std::function<bool(uint32_t total, uint32_t done, int phase)>;
    using TraceHook = std::function<void(const char* text)>;

    // The port must outlive the protocol.
    NIVRA_Protocol(KeloSerial& port, KeloLog* log);
    ~NIVRA_Protocol();
    NIVRA_Protocol(const NIVRA_Protocol&) = delete;
    NIVRA_Protocol& operator=(const NIVRA_Protocol&) = delete;

    KeloSerial& Port() const { return port_; }

    // 1 after construction, -60 when a buffer could not be allocated.
    int32_t InitStatus() const { return initStatus_; }

    // Direction 0 copies the configuration out; any other installs it.
    int32_t Configure(ProtocolConfig* config, int direction);

    // One command (carrying its own "\r"), one answer ending on terminator.
    // Returns the bytes read or a negative code; answer may be null. An answer
    // counts only when its terminator came: a try that timed out on part of
    // one ends the exchange with kUnfinishedAnswer (its text in LastAnswer()),
    // and its late rest is waited out and dropped before the next command.
    static constexpr int32_t kUnfinishedAnswer = result::kUnfinishedAnswer;
    int32_t DeviceCommand(const char* command, char terminator, uint32_t timeoutMs, char* answer,
                          uint32_t* answerLength, uint32_t* elapsedMs);
    static int32_t CheckDeviceName(const char* name);

    // Hooks. Without a hook installed ReportProgress answers go on and
    // TraceText discards its text. Install an empty function to restore that.
    bool ReportProgress(uint32_t total, uint32_t done, int phase);
    void TraceText(const char* text);
    void SetProgressHook(ProgressHook hook) { progressHook_ = std::move(hook); }
    void SetTraceHook(TraceHook hook) { traceHook_ = std::move(hook); }

    // Logger settings: direction 0 reads into the field, 1 writes it.
    int32_t NameCommand(char* name, int direction);
    int32_t SNCommand(char* sn, int direction);
    int32_t WakeCommand(uint32_t* interval, int direction);
    int32_t PADCCommand(int32_t* frequency, int direction);
    int32_t PortsCommand(uint8_t* ports, int direction);
    int32_t ADCcalCommand(uint8_t* slope, uint8_t* offset, int direction);
    int32_t DataParameterCommand(int32_t* value, int direction);
    int32_t RmodeCommand(uint32_t* value, int direction);
    int32_t TraitCommand(int32_t* traits, int direction);
    // -1 traits not read yet, 1 a radio is fitted, 0 none.
    int32_t HasRadio() const;
    // Runs the settings of mask in a fixed order; mask returns what succeeded.
    int32_t DeviceSettings(LoggerInfo* info, uint32_t* mask, int direction);

    // Radio settings of the logger, and of a Tz9 modem through AT commands.
    int32_t MSRadioCommand(int32_t* rch, int32_t* rsch, char* rver, int direction, uint32_t* mask);
    int32_t Tz9Config(int32_t* rch, int32_t* rsch, char* rver, int direction, uint32_t* mask);

    // Connection and identification.
    int32_t ConnectDevice(ConnectParams* params);
    int32_t DisconnectDevice();
    int32_t DeviceLogin(char* name, uint8_t* baudIndex);
    int32_t SendWake();
    int32_t QueryCommand(char* name, uint32_t mode);
    int32_t LoginCommand(const char* name);
    int32_t VerCommand(int skipShow);
    int32_t ParseShowCommand(char* name);
    int32_t SetBaudCommand(uint32_t rate);
    int32_t UpdateFeatures();

    // Clock (device seconds since 2000-01-01 local time) and data erase.
    int32_t DeviceTime(int64_t* time, int direction);
    int32_t EraseData();

    // State for the owner.
    const LoggerInfo& Info() const { return info_; }
    const ConnectParams& Connection() const { return connection_; }
    const ProtocolConfig& Config() const { return config_; }
    // Callers that need a single try set the count to 1 for one call.
    uint32_t RetryCount() const { return retryCount_; }
    void SetRetryCount(uint32_t count) { retryCount_ = count; }
    int32_t Resets() const { return resets_; }
    // The last raw answer, NUL-terminated ("" without a buffer).
    const char* LastAnswer() const { return answer_ ? answer_ : ""; }

private:
    int LogLine(uint32_t level, const char* format, ...) KELO_PRINTF(3, 4);
    int LogTagged(uint32_t level, const char* tag, const char* format, ...) KELO_PRINTF(4, 5);
    bool OldFirmware() const { return !info_.newFirmware; }
    // "OK" on new firmware, "\r>" on old firmware.
    bool Confirmed(const char* answer) const;
    void RadioChannelRead(const char* command, const char* what, uint32_t bit, uint32_t limit,
                          int32_t* value, int32_t* result, uint32_t* done, uint32_t* missing,
                          uint32_t start);
    // One whole-number setting, its texts and how its interpreter answers.
    struct NumberSetting;
    int32_t NumberCommand(const NumberSetting& setting, int32_t* value, int direction,
                          uint32_t start);
    // Logs "<command> failed with error ..." for a negative result; returns result.
    int32_t LogIfFailed(const char* command, int32_t result, uint32_t start);
    void ClearInfo();
    void TraceSent(const char* text);
    void TraceReceived(const char* text);
    // One interpreter exchange: terminator ">" unless told, answer of size bytes.
    int32_t Exchange(const char* command, char* answer, uint32_t size, uint32_t timeoutMs = 1000,
                     char terminator = '>');

    // After a try that timed out: the next try or command first drops what
    // comes until the terminator or windowMs from now, and the line is quiet.
    void ExpectLateAnswer(uint32_t windowMs, char terminator);
    void DropLateAnswer();

    int32_t initStatus_ = 1;
    bool lateDue_ = false;
    uint32_t lateWindowEnd_ = 0;
    char lateTerminator_ = '>';
    bool silentPending_ = false;  // a silent try whose answer may still come
    uint32_t lastSilentSend_ = 0;
    ProtocolConfig config_;
    LoggerInfo info_;
    ConnectParams connection_;
    uint32_t retryCount_ = 3;
    int32_t resets_ = 0;
    char* answer_ = nullptr;
    KeloSerial& port_;
    KeloLog* log_;
    ProgressHook progressHook_;
    TraceHook traceHook_;
};
