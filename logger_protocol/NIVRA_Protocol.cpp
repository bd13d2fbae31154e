// Interface stubs: every operation reports failure until implemented.
#include "NIVRA_Protocol.h"

NIVRA_Protocol::NIVRA_Protocol(KeloLog* log) : KeloSerial(log), log_(log) {}
NIVRA_Protocol::~NIVRA_Protocol() = default;
int32_t NIVRA_Protocol::Configure(ProtocolConfig* /*config*/, int /*direction*/) { return -1; }
int32_t NIVRA_Protocol::DeviceCommand(const char* /*command*/, char /*terminator*/, uint32_t /*timeoutMs*/, char* /*answer*/, uint32_t* /*answerLength*/, uint32_t* /*elapsedMs*/) { return -1; }
int32_t NIVRA_Protocol::CheckDeviceName(const char* /*name*/) { return -1; }
bool NIVRA_Protocol::ReportProgress(uint32_t /*total*/, uint32_t /*done*/, int /*phase*/) { return true; }
void NIVRA_Protocol::TraceText(const char* /*text*/) {  }
int32_t NIVRA_Protocol::NameCommand(char* /*name*/, int /*direction*/) { return -1; }
int32_t NIVRA_Protocol::SNCommand(char* /*sn*/, int /*direction*/) { return -1; }
int32_t NIVRA_Protocol::WakeCommand(uint32_t* /*interval*/, int /*direction*/) { return -1; }
int32_t NIVRA_Protocol::PADCCommand(int32_t* /*frequency*/, int /*direction*/) { return -1; }
int32_t NIVRA_Protocol::PortsCommand(uint8_t* /*ports*/, int /*direction*/) { return -1; }
int32_t NIVRA_Protocol::ADCcalCommand(uint8_t* /*slope*/, uint8_t* /*offset*/, int /*direction*/) { return -1; }
int32_t NIVRA_Protocol::DataParameterCommand(int32_t* /*value*/, int /*direction*/) { return -1; }
int32_t NIVRA_Protocol::RmodeCommand(uint32_t* /*value*/, int /*direction*/) { return -1; }
int32_t NIVRA_Protocol::TraitCommand(int32_t* /*traits*/, int /*direction*/) { return -1; }
int32_t NIVRA_Protocol::HasRadio() const { return -1; }
int32_t NIVRA_Protocol::DeviceSettings(LoggerInfo* /*info*/, uint32_t* /*mask*/, int /*direction*/) { return -1; }
int32_t NIVRA_Protocol::MSRadioCommand(int32_t* /*rch*/, int32_t* /*rsch*/, char* /*rver*/, int /*direction*/, uint32_t* /*mask*/) { return -1; }
int32_t NIVRA_Protocol::Tz9Config(int32_t* /*rch*/, int32_t* /*rsch*/, char* /*rver*/, int /*direction*/, uint32_t* /*mask*/) { return -1; }
int32_t NIVRA_Protocol::ConnectDevice(ConnectParams* /*params*/) { return -1; }
int32_t NIVRA_Protocol::DisconnectDevice() { return -1; }
int32_t NIVRA_Protocol::DeviceLogin(char* /*name*/, uint8_t* /*baudIndex*/) { return -1; }
int32_t NIVRA_Protocol::SendWake() { return -1; }
int32_t NIVRA_Protocol::QueryCommand(char* /*name*/, uint32_t /*mode*/) { return -1; }
int32_t NIVRA_Protocol::LoginCommand(const char* /*name*/) { return -1; }
int32_t NIVRA_Protocol::VerCommand(int /*skipShow*/) { return -1; }
int32_t NIVRA_Protocol::ParseShowCommand(char* /*name*/) { return -1; }
int32_t NIVRA_Protocol::SetBaudCommand(uint32_t /*rate*/) { return -1; }
int32_t NIVRA_Protocol::UpdateFeatures() { return -1; }
int32_t NIVRA_Protocol::DeviceTime(int64_t* /*time*/, int /*direction*/) { return -1; }
int32_t NIVRA_Protocol::EraseData() { return -1; }
