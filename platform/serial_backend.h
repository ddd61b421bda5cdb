// Serial lines behind one narrow interface.
//
// CRS232 talks to a SerialPort obtained from the current SerialBackend. The termios backend
// serves real lines, USB adapters and pseudo-terminals; the scripted backend plays a device
// with modem lines and injected failures for tests (pseudo-terminals have no modem lines).
//
// Port names are those users write: "COMn" is /dev/ttyS(n-1), a name starting with '/' is a
// path, any other name is looked up under /dev/ ("ttyUSB0" is /dev/ttyUSB0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/api.h"

namespace quorvel::platform {

// Line settings in the codes the drivers store (those of the Windows serial API):
// stop bits 0 = one, 1 = one and a half, 2 = two; parity 0 none, 1 odd, 2 even, 3 mark,
// 4 space; RTS control 0 low, 1 high, 2 handshake, 3 toggle; DTR control 0 low, 1 high,
// 2 handshake.
struct SerialSettings {
  std::uint32_t speed = 9600;
  std::uint8_t dataBits = 8;
  std::uint8_t stopBits = 0;
  std::uint8_t parity = 0;
  bool ctsFlow = false;
  bool dsrFlow = false;
  std::uint8_t rtsControl = 0;
  std::uint8_t dtrControl = 0;
};

// Why an open failed, in the terms the port's error numbers distinguish.
enum class SerialOpenError {
  None,
  Missing,     // no such port (no device node, no hardware behind it, not a serial line)
  Access,      // in use by another program
  Permission,  // the user may not open the device node (not in its group)
  Other,
};

enum class SerialIo {
  Ok,
  Timeout,  // the time-out ran out with the device present
  Failed,   // an I/O error, or the device vanished (hang-up, adapter pulled)
};

// Bits of the modem status byte.
inline constexpr std::uint8_t kModemCts = 0x10;
inline constexpr std::uint8_t kModemDsr = 0x20;
inline constexpr std::uint8_t kModemRing = 0x40;
inline constexpr std::uint8_t kModemDcd = 0x80;

// One open line. Not copyable; one thread at a time.
class QUORVEL_API SerialPort {
 public:
  virtual ~SerialPort();
  // Applies the line settings; false when the line refuses them.
  virtual bool Configure(const SerialSettings& settings) = 0;
  // Per-byte time-outs in milliseconds; 0 waits without limit.
  virtual bool SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs) = 0;
  // Waits up to the read time-out for one byte.
  virtual SerialIo ReadByte(unsigned char& byte) = 0;
  // Writes all count bytes; each byte may take up to the write time-out.
  virtual SerialIo Write(const void* bytes, std::size_t count) = 0;
  // Discards pending input and output.
  virtual void Purge() = 0;
  virtual void SetBreak(bool on) = 0;
  virtual void SetDtr(bool on) = 0;
  virtual void SetRts(bool on) = 0;
  // The modem status byte (kModem* bits); false when it cannot be read.
  virtual bool GetModemStatus(std::uint8_t& status) = 0;
  // An owned line gets back the settings found at open and is closed; a wrapped foreign
  // line is left untouched. Idempotent; the destructor closes an owned line that is still open.
  virtual void Close() = 0;
  // The platform handle (file descriptor), -1 when closed.
  virtual int Handle() const = 0;
};

class QUORVEL_API SerialBackend {
 public:
  virtual ~SerialBackend();
  // Opens the named port for exclusive use and saves its settings; null with error set on failure.
  virtual std::unique_ptr<SerialPort> Open(const std::string& name, SerialOpenError& error) = 0;
  // Wraps a line someone else opened; the wrapper never closes or reconfigures it.
  virtual std::unique_ptr<SerialPort> Wrap(int handle) = 0;
  // After an Open that failed: what the port's name alone does not tell, windows-1250 (who
  // holds the line, why its lock could not be made); empty when nothing more is known.
  virtual std::string OpenFailureDetail() const { return {}; }
};

// The termios backend (the default). An owned line is locked by the UUCP lock-file convention
// (register_lock.h) before it is opened and until it is closed: a line another program has
// locked is Access, with OpenFailureDetail naming the holder; a lock directory that cannot be
// written is Other, with the reason.
QUORVEL_API SerialBackend& TermiosSerialBackend();
// The backend CRS232 uses; SetSerialBackend(nullptr) goes back to termios.
QUORVEL_API SerialBackend& CurrentSerialBackend();
QUORVEL_API void SetSerialBackend(SerialBackend* backend);

// Device path of a port name ("COM2" -> "/dev/ttyS1", "ttyACM0" -> "/dev/ttyACM0").
QUORVEL_API std::string SerialDevicePath(const std::string& name);

// Ports of this system for the configuration forms, in the names users write: "COMn" for the
// 8250 ports that have hardware behind them, then ttyUSB*, ttyACM* (and other adapters) by name.
QUORVEL_API std::vector<std::string> ListSerialPorts();

// System calls the termios backend made since the process started (diagnostics, benchmarks).
struct SerialSyscallCounts {
  std::uint64_t reads = 0;
  std::uint64_t writes = 0;
  std::uint64_t polls = 0;
};
QUORVEL_API SerialSyscallCounts TermiosSyscallCounts();

// A scripted device for tests. It logs every line operation in order, together with the
// sleeps taken meanwhile (it observes the virtual clock while it exists), serves input bytes
// from a queue and reports the modem status from a function that may model a multiplexer.
//
// Log entries: "open NAME", "wrap H", "configure SPEED DATA STOP PARITY", "timeouts R W",
// "read", "write HH HH ...", "purge", "break 1"/"break 0", "dtr 1"/"dtr 0", "rts 1"/"rts 0",
// "msr", "sleep MS", "close" (an owned line) or "release" (a wrapped one).
class QUORVEL_API ScriptedSerialBackend : public SerialBackend {
 public:
  ScriptedSerialBackend();
  ~ScriptedSerialBackend() override;
  ScriptedSerialBackend(const ScriptedSerialBackend&) = delete;
  ScriptedSerialBackend& operator=(const ScriptedSerialBackend&) = delete;

  std::unique_ptr<SerialPort> Open(const std::string& name, SerialOpenError& error) override;
  std::unique_ptr<SerialPort> Wrap(int handle) override;

  // Script.
  SerialOpenError openError = SerialOpenError::None;  // the next opens fail so
  bool configureFails = false;
  std::deque<unsigned char> input;                    // bytes the device sends; empty = time-out
  SerialIo readFailure = SerialIo::Timeout;           // result of a read with no input
  int failWriteNumber = 0;                            // the Nth write (1-based) fails ...
  SerialIo writeFailure = SerialIo::Failed;           // ... with this result
  // Modem status on each read; null: `modemStatus` below.
  std::function<bool(std::uint8_t& status)> modemStatusSource;
  std::uint8_t modemStatus = 0;

  // State and record.
  bool dtr = false;
  bool rts = false;
  bool breakOn = false;
  int writes = 0;
  std::vector<unsigned char> written;  // every byte written, in order
  std::vector<std::string> log;
};

}  // namespace quorvel::platform
