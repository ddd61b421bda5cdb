#include "core/serial/rs232.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/error_state.h"
#include "core/trace.h"
#include "platform/clock.h"
#include "platform/cp1250.h"
#include "platform/serial_ports.h"
#include "platform/ui.h"

using quorvel::platform::SerialIo;
using quorvel::platform::SerialOpenError;

namespace {

constexpr std::uint32_t kTimeoutCap = 60000;

void traceFrame(bool sent, const std::string& frame, const std::string& decoded) {
  quorvel::trace::Line(sent ? ">" : "<", quorvel::frames::frameColumns(frame, decoded, false));
}

}  // namespace

CRS232::CRS232() { _setDefaults(); }

CRS232::CRS232(int handle) : open_(true), foreignHandle_(true) {
  handle_ = quorvel::platform::CurrentSerialBackend().Wrap(handle);
  startTrace();
}

CRS232::~CRS232() {
  if (open_) Close();
  dump_.reset();
}

void CRS232::_setDefaults() {
  port_ = "COM1";
  speed_ = 9600;
  dataBits_ = 8;
  stopBits_ = 0;
  parity_ = 0;
  timeoutRead_ = 60000;
  timeoutWrite_ = 60000;
  flowCTS_ = false;
  flowDSR_ = false;
  controlRTS_ = 0;
  controlDTR_ = 0;
}

int CRS232::GetHandle() const { return handle_ ? handle_->Handle() : -1; }

bool CRS232::_SetDCB() {
  quorvel::platform::SerialSettings s;
  s.speed = speed_;
  s.dataBits = dataBits_;
  s.stopBits = stopBits_;
  s.parity = parity_;
  s.ctsFlow = flowCTS_;
  s.dsrFlow = flowDSR_;
  s.rtsControl = controlRTS_;
  s.dtrControl = controlDTR_;
  return handle_->Configure(s);
}

bool CRS232::_SetTimeouts() {
  if (!handle_) return true;
  return handle_->SetTimeouts(timeoutRead_, timeoutWrite_);
}

void CRS232::SetTimeoutRead(unsigned long ms) {
  timeoutRead_ = static_cast<std::uint32_t>(ms > kTimeoutCap ? kTimeoutCap : ms);
  if (!_SetTimeouts()) SetError(ERR_PORT_OPEN, port_.c_str());
}

void CRS232::SetTimeoutWrite(unsigned long ms) {
  timeoutWrite_ = static_cast<std::uint32_t>(ms > kTimeoutCap ? kTimeoutCap : ms);
  if (!_SetTimeouts()) SetError(ERR_PORT_OPEN, port_.c_str());
}

int CRS232::Open() {
  if (handle_) {
    // Opening an open port again: start from a closed line so the first settings found are
    // the ones put back at the end.
    Close();
  }
  SerialOpenError why = SerialOpenError::None;
  handle_ = quorvel::platform::CurrentSerialBackend().Open(port_, why);
  if (handle_ && (!_SetDCB() || !_SetTimeouts())) {
    why = SerialOpenError::Other;
    // The port is given back with its settings restored: the system opens each port once
    // per load and does not retry, so nothing should keep it.
    handle_->Close();
    handle_.reset();
  }
  if (!handle_) {
    if (why == SerialOpenError::Permission) {
      // The number alone sends the user looking for another program on the port; the usual
      // cause is a user outside the device's group, which the message names.
      const std::string device = quorvel::platform::SerialDevicePath(port_);
      const std::string group = quorvel::platform::AccessGroup(device);
      std::string detail = port_ + " (brak uprawnień do urządzenia "_cp + device;
      if (!group.empty()) detail += "; dostęp mają członkowie grupy "_cp + group;
      detail += ")";
      return SetError(ERR_PORT_ACCESS, detail.c_str());
    }
    const int number = why == SerialOpenError::Missing  ? ERR_PORT_MISSING
                       : why == SerialOpenError::Access ? ERR_PORT_ACCESS
                                                        : ERR_PORT_OPEN;
    // Who holds the line, or why it could not be locked, when the backend knows.
    const std::string more = quorvel::platform::CurrentSerialBackend().OpenFailureDetail();
    if (!more.empty()) return SetError(number, (port_ + " (" + more + ")").c_str());
    return SetError(number, port_.c_str());
  }
  foreignHandle_ = false;
  open_ = true;
  startTrace();
  if (trace_) {
    char settings[96];
    std::snprintf(settings, sizeof settings, " open, %lu bit/s", static_cast<unsigned long>(speed_));
    quorvel::trace::Line("", "line " + port_ + settings);
  }
  if (dump_) quorvel::ui::MessageBox("UWAGA! To jest transmisja z zapisem binarnym."_cp, "Quorvel", quorvel::ui::Icon::Warning);
  return GetErrorNum();
}

int CRS232::Close() {
  traceEnd();
  if (!handle_) {
    open_ = false;
    return GetErrorNum();
  }
  if (!foreignHandle_) {
    if (closePauseMs_ != 0) quorvel::platform::SleepMs(closePauseMs_);
    handle_->Close();  // time-outs and settings back, then the line closed
    if (dump_) dump_->Close();
  }
  handle_.reset();
  open_ = false;
  foreignHandle_ = false;
  return GetErrorNum();
}

int CRS232::HandleErrorReadFile(SerialIo result) {
  return SetError(result == SerialIo::Timeout ? ERR_PORT_READ_TIMEOUT : ERR_PORT_READ, port_.c_str());
}

int CRS232::HandleErrorWriteFile(SerialIo result) {
  return SetError(result == SerialIo::Timeout ? ERR_PORT_WRITE_TIMEOUT : ERR_PORT_WRITE, port_.c_str());
}

int CRS232::Read(char& c) {
  unsigned char byte = 0;
  const SerialIo r = handle_ ? handle_->ReadByte(byte) : SerialIo::Failed;
  if (r != SerialIo::Ok) {
    if (trace_) {
      trace_->flush(traceFrame);
      quorvel::trace::Line("<", r == SerialIo::Timeout ? "nothing received within " + std::to_string(timeoutRead_) + " ms"
                                                       : std::string("reading failed"));
    }
    return HandleErrorReadFile(r);
  }
  c = static_cast<char>(byte);
  if (trace_) traceBytes(false, &byte, 1);
  if (dump_) dump_->OnRead(byte);
  return 0;
}

int CRS232::writeBlock(const void* bytes, unsigned count) {
  TraceBuffor(bytes, count);
  const SerialIo r = handle_ ? handle_->Write(bytes, count) : SerialIo::Failed;
  if (r != SerialIo::Ok) return HandleErrorWriteFile(r);
  if (trace_) traceBytes(true, bytes, count);
  return 0;
}

int CRS232::Write(char c) {
  const int r = writeBlock(&c, 1);
  if (r == 0 && dump_) dump_->OnWrite(static_cast<unsigned char>(c));
  return r;
}

int CRS232::Write(const char* text) {
  if (!text || !*text) return 0;
  const int r = writeBlock(text, static_cast<unsigned>(std::strlen(text)));
  if (r == 0 && dump_) dump_->OnWrite(text);
  return r;
}

int CRS232::Write(const void* bytes, unsigned count) {
  if (!bytes || count == 0) return 0;
  const int r = writeBlock(bytes, count);
  if (r == 0 && dump_) dump_->OnWrite(bytes, count);
  return r;
}

int CRS232::Write(CBufor& buffer) { return Write(buffer.Data() + buffer.ReadPos(), buffer.Unread()); }

void CRS232::Purge() {
  if (handle_) handle_->Purge();
}

void CRS232::CommBreak(unsigned long breakMs, unsigned long pauseMs) {
  if (trace_) quorvel::trace::Line("", "line break, " + std::to_string(breakMs) + " ms");
  if (handle_) handle_->SetBreak(true);
  quorvel::platform::SleepMs(breakMs);
  if (handle_) handle_->SetBreak(false);
  if (pauseMs != 0) quorvel::platform::SleepMs(pauseMs);
}

void CRS232::SetDTR() {
  if (handle_) handle_->SetDtr(true);
}
void CRS232::ClrDTR() {
  if (handle_) handle_->SetDtr(false);
}
void CRS232::SetRTS() {
  if (handle_) handle_->SetRts(true);
}
void CRS232::ClrRTS() {
  if (handle_) handle_->SetRts(false);
}

unsigned char CRS232::GetMSR() {
  std::uint8_t status = 0;
  if (!handle_ || !handle_->GetModemStatus(status)) return 0;
  return status;
}

bool CRS232::GetCTS() { return (GetMSR() & quorvel::platform::kModemCts) != 0; }
bool CRS232::GetDSR() { return (GetMSR() & quorvel::platform::kModemDsr) != 0; }
bool CRS232::GetDCD() { return (GetMSR() & quorvel::platform::kModemDcd) != 0; }

void CRS232::startTrace() {
  if (quorvel::trace::On()) trace_ = std::make_unique<quorvel::frames::Splitter>(traceDecoder_);
  else trace_.reset();
}

void CRS232::traceBytes(bool sent, const void* bytes, std::size_t count) {
  trace_->add(sent, static_cast<const char*>(bytes), count, traceFrame);
  // Without a decoder a write is one piece of its own: told at once.
  if (sent && !traceDecoder_) trace_->flush(traceFrame);
}

void CRS232::traceEnd() {
  if (trace_) trace_->flush(traceFrame);
  trace_.reset();
}

void CRS232::InitDumpSComm() {
  if (!dump_) dump_ = std::make_unique<CDumpSComm>();
}

void CRS232::DoneDumpSComm() { dump_.reset(); }

void CRS232::SetBinDump(const std::string& name) {
  InitDumpSComm();
  dump_->SetFileName(GetDumpFileName(name));
  dump_->Open();
}
