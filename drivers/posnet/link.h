// The POSNET link of one job: the configuration, the device handle and open device of the
// vendor library, opening them at load and closing them after every operation, the request
// step every register command goes through, and the connection check.
//
// Every operation returns the error number of the process-wide error state (0 = success). A
// library status other than 0 is reported as an "E" message with the status text and becomes
// the error number (0x4303B0 gives 4391856).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>

#include "drivers/posnet/binding.h"
#include "drivers/posnet/config.h"
#include "drivers/posnet/posnet_api.h"
#include "platform/register_lock.h"

class CTowar;

namespace quorvel::posnet {

struct Link {
  SUConfig config{};
  POSNET_HANDLE handle = nullptr;  // empty when no device is open
  POSNET_DEVICE device = nullptr;
  // The register's lock (its serial line, or its TCP address and port), held from before the
  // open to the close: one job per register.
  std::unique_ptr<platform::RegisterLock> lock;
};

// The job's link (created on first use, destroyed with the plug-in).
Link& link();
void releaseLink();

// The serial parameter of the library: "port,speed,dataBits,parity,stopBits,N".
std::string serialParameter(const SUConfig& config);

// The serial descriptor the library keeps in its device-handle object; -1 without a handle.
int librarySerialDescriptor(POSNET_HANDLE handle);

// The name of the lock of a register over Ethernet: "posnet-tcp-HOST-PORT" (port 6666 unless
// the address names one).
std::string tcpLockName(const SUConfig& config);

// Opens the device with the configuration: first the register's lock (the serial line by the
// UUCP convention, or the TCP address and port); a register another job or program holds is
// waited for a few seconds and then refused with the failed open's message naming the holder.
// Then the multiplexer switched before the library opens the port (MPX4s, on a port of our
// own) or after (Elzab, Falwi, over the library's port); with the detailed log on, the
// library's log under the job's dump file name and the warning box. Returns 0, or the error
// number (-1 for a failed multiplexer switch) with the reason reported.
int openDevice();
// Closes the device if open and destroys the handle if present; both are forgotten. The
// register's lock is given up after the close.
void closeDevice();

// A request of the library, destroyed with this object.
class Request {
 public:
  Request() = default;
  ~Request();
  Request(const Request&) = delete;
  Request& operator=(const Request&) = delete;
  POSNET_REQUEST* out();  // where a POSS_ command stores the request (a previous one is destroyed)
  POSNET_REQUEST get() const { return request_; }

 private:
  POSNET_REQUEST request_ = nullptr;
};

// The request step: `submitted` is what the POSS_ command returned. A queued request is
// waited for (POSNET_REQUEST_WAIT_MS) and its status read; a status other than 0 and not in
// `expected` is reported with the goods' Id. Returns the status.
std::uint32_t requestStep(std::uint32_t submitted, Request& request, const CTowar* goods = nullptr,
                          std::initializer_list<std::uint32_t> expected = {});

// Report of a status: one "E" message (number 0, set-status flag) with the status text and the
// goods' Id, if any; the error number becomes the status. Returns the error number.
int reportStatus(std::uint32_t status, const CTowar* goods = nullptr);

// opSprawdzeniePolaczenia: VAT rates read and the device closed; the error number.
int checkConnection();

// The probe of `quorvel detect`: the register at the TCP address `where` (tcp) or on the
// serial port `where` at `speed` (8 data bits, no parity, 1 stop bit, the defaults), the
// libraries bound (once, kept), the device opened and its connection check waited for at most
// `timeoutMs`, the device closed. Returns the error number.
int probeDevice(bool tcp, const std::string& where, long speed, unsigned timeoutMs);

}  // namespace quorvel::posnet
