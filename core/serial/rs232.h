// The serial port the driver plug-ins use.
//
// CRS232 keeps the line settings, opens the port with them (exclusive use), does blocking
// single-byte reads and whole-block writes with per-byte time-outs, drives and reads the modem
// lines, switches a line multiplexer (mux.h) and, once SetBinDump switched it on, records
// every byte that passes in a transmission dump (dump.h). While a host listens to the job's
// trace (core/trace.h), every frame sent and received is told there (frames.h), as the
// driver's decoder finds and reads them. Failures set the process-wide error
// state with the port name as detail; operations return the error number (0 = success).
// After a read or write failure the port stays open: the caller decides.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/serial/bufor.h"
#include "core/serial/dump.h"
#include "core/serial/frames.h"
#include "platform/api.h"
#include "platform/serial_backend.h"

class QUORVEL_API CRS232 {
 public:
  CRS232();
  // Wraps a port someone else opened (a vendor library's file descriptor): open from the
  // start, never reconfigured, restored or closed by this object. Serves the line and status
  // functions and SetMux.
  explicit CRS232(int handle);
  ~CRS232();
  // One port object owns its line and its dump writer; nothing copies one.
  CRS232(const CRS232&) = delete;
  CRS232& operator=(const CRS232&) = delete;

  // Line settings take effect at the next Open.
  void SetPort(const std::string& port) { port_ = port; }
  void SetSpeed(unsigned long speed) { speed_ = static_cast<std::uint32_t>(speed); }
  void SetNrDataBits(unsigned char bits) { dataBits_ = bits; }
  void SetNrStopBits(unsigned char code) { stopBits_ = code; }  // 0 one, 1 one and a half, 2 two
  void SetParity(unsigned char code) { parity_ = code; }        // 0 none, 1 odd, 2 even, 3 mark, 4 space
  void SetFlowCTS(bool on) { flowCTS_ = on; }
  void SetFlowDSR(bool on) { flowDSR_ = on; }
  void SetControlRTS(unsigned char code) { controlRTS_ = code; }  // 0 low, 1 high, 2 handshake, 3 toggle
  void SetControlDTR(unsigned char code) { controlDTR_ = code; }  // 0 low, 1 high, 2 handshake
  // Milliseconds per byte, capped at 60000, applied to an open port at once (failure: the
  // open error 1000).
  void SetTimeoutRead(unsigned long ms);
  void SetTimeoutWrite(unsigned long ms);

  const std::string& GetPort() const { return port_; }
  unsigned long GetTimeoutRead() const { return timeoutRead_; }
  unsigned long GetTimeoutWrite() const { return timeoutWrite_; }

  // Opens and configures the port: 1002 when it does not exist, 1001 when another program
  // holds it or access is denied (then the detail names the device and the group that owns
  // it), 1000 otherwise. With the dump on, the user is warned with a
  // modal box once the port is open.
  int Open();
  // Own port: a 1000 ms pause (SetClosePause; lets the output drain), the saved settings back, the line
  // closed, then the dump file closed. A wrapped port is only forgotten. Returns the current
  // error number.
  int Close();
  // The pause before Close lets the line go, in milliseconds (1000 unless set): a probe that
  // only asked a question and had its answer, or none, need not wait for output to drain.
  void SetClosePause(unsigned long ms) { closePauseMs_ = static_cast<std::uint32_t>(ms); }
  bool IsOpen() const { return open_; }
  // The platform handle (file descriptor) of the open port, -1 when closed.
  int GetHandle() const;

  // One byte, waiting up to the read time-out: 1004 on time-out, 1003 on failure.
  int Read(char& c);
  // All the bytes: 1006 on time-out, 1005 on failure. An empty text writes and records nothing.
  int Write(char c);
  int Write(const char* text);
  int Write(const void* bytes, unsigned count);
  int Write(CBufor& buffer);  // its unread bytes; positions unchanged

  void Purge();
  // Break for breakMs, then a pause of pauseMs (none when 0).
  void CommBreak(unsigned long breakMs, unsigned long pauseMs);
  void SetDTR();
  void ClrDTR();
  void SetRTS();
  void ClrRTS();
  bool GetCTS();
  bool GetDSR();
  bool GetDCD();
  // CTS 10, DSR 20, ring 40, carrier 80 (hexadecimal); 0 when the status cannot be read.
  unsigned char GetMSR();

  // Switches a line multiplexer to a channel (mux.h). Returns 0, the error number, or -1.
  int SetMux(int type, int channel);

  // Switches the transmission dump on: creates the writer if needed and starts the file
  // GetDumpFileName(name).
  void SetBinDump(const std::string& name);

  // The protocol's frames for the trace (the caller keeps it alive while the port is open);
  // nullptr: each run of bytes in one direction is told as text.
  void SetTraceDecoder(quorvel::frames::Decoder* decoder) { traceDecoder_ = decoder; }

 private:
  void _setDefaults();
  bool _SetDCB();
  bool _SetTimeouts();
  int HandleErrorReadFile(quorvel::platform::SerialIo result);
  int HandleErrorWriteFile(quorvel::platform::SerialIo result);
  void TraceBuffor(const void*, unsigned) {}
  void startTrace();
  void traceBytes(bool sent, const void* bytes, std::size_t count);
  void traceEnd();
  int writeBlock(const void* bytes, unsigned count);

  int mxElzab_set_channel(int channel);
  int mxFalwi_set_channel(unsigned char channel);
  int mxMpx4s_set_channel(int channel);

  void InitDumpSComm();
  void DoneDumpSComm();
  bool IsDumpSComm() const { return dump_ != nullptr; }
  CDumpSComm* DumpSComm() { return dump_.get(); }

  bool open_ = false;
  bool foreignHandle_ = false;
  std::uint32_t closePauseMs_ = 1000;
  std::string port_;
  std::uint32_t speed_ = 0;
  std::uint8_t dataBits_ = 0;
  std::uint8_t stopBits_ = 0;
  std::uint8_t parity_ = 0;
  std::uint32_t timeoutRead_ = 0;
  std::uint32_t timeoutWrite_ = 0;
  bool flowCTS_ = false;
  bool flowDSR_ = false;
  std::uint8_t controlRTS_ = 0;
  std::uint8_t controlDTR_ = 0;
  // The open line; it also keeps the port's settings and time-outs as Open found them and
  // puts them back when closed.
  std::unique_ptr<quorvel::platform::SerialPort> handle_;
  std::unique_ptr<CDumpSComm> dump_;
  // The frames of the trace, only while a host listens to it.
  std::unique_ptr<quorvel::frames::Splitter> trace_;
  quorvel::frames::Decoder* traceDecoder_ = nullptr;
};
