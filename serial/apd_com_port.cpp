// Scaffold so that the windows can be built before the serial layer: stores settings, never opens.
#include "serial/apd_com_port.h"

TApdCustomComPort::TApdCustomComPort(QObject* owner) : TApdBaseComponent(owner) {}
TApdCustomComPort::~TApdCustomComPort() = default;
void TApdCustomComPort::SetComNumber(std::uint16_t value) { comNumber_ = value; }
void TApdCustomComPort::SetBaud(std::int32_t value) { baud_ = value; }
void TApdCustomComPort::SetParity(TParity value) { parity_ = value; }
void TApdCustomComPort::SetDataBits(std::uint16_t value) { dataBits_ = value; }
void TApdCustomComPort::SetStopBits(std::uint16_t value) { stopBits_ = value; }
void TApdCustomComPort::SetInSize(std::uint16_t value) { inSize_ = value; }
void TApdCustomComPort::SetOutSize(std::uint16_t value) { outSize_ = value; }
void TApdCustomComPort::SetOpen(bool value) { open_ = value; }
std::uint16_t TApdCustomComPort::AddDataTrigger(const std::string&, bool) { return 0; }
void TApdCustomComPort::RemoveTrigger(std::uint16_t) {}
char TApdCustomComPort::GetChar() { return 0; }
