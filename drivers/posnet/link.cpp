#include "drivers/posnet/link.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/records.h"
#include "core/serial/dump.h"
#include "core/serial/rs232.h"
#include "core/xml/raport_xml.h"
#include "core/xml/vexa_xml.h"
#include "drivers/posnet/status.h"
#include "platform/cp1250.h"
#include "platform/serial_backend.h"
#include "platform/ui.h"
#include "plugin/config_store.h"
#include "plugin/session.h"

namespace quorvel::posnet {

namespace {


std::string portName(const SUConfig& c) { return plugin::fieldText(c.port, sizeof c.port); }
std::string ipAddress(const SUConfig& c) { return addressText(c); }

std::string formatted(const char* format, const std::string& value) {
  char text[512];
  std::snprintf(text, sizeof text, format, value.c_str());
  return text;
}

// Why the register could not be reached over Ethernet, by the library's reason for the failed
// open: a refused connection, a time-out, or (an unreachable address, and any reason the
// library does not give) an address that does not exist.
std::string ethernetFailure(std::uint32_t why, const std::string& address) {
  switch (why) {
    case POSNET_STATUS_CONNECTION_REFUSED:
      return formatted("Brak połączenia przez ethernet - adres IP %s odrzucił połączenie (na tym porcie nie działa kasa)"_cp,
                       address);
    case POSNET_STATUS_CONNECT_TIMEOUT:
      return formatted("Brak połączenia przez ethernet - adres IP %s nie odpowiada (upłynął czas oczekiwania na połączenie)"_cp,
                       address);
    default: return formatted("Brak połączenia przez ethernet - adres IP %s nie istnieje"_cp, address);
  }
}

// MPX4s: the channel switched on a port of our own before the library opens the port.
int switchMuxBefore(const SUConfig& c) {
  CRS232 port;
  port.SetPort(portName(c));
  port.SetSpeed(static_cast<unsigned long>(c.speed));
  port.SetNrDataBits(c.dataBits == 7 ? 7 : 8);
  port.SetParity(c.parity == 'N' ? 0 : c.parity == 'E' ? 2 : 1);
  port.SetNrStopBits(c.stopBits == 2 ? 2 : 0);
  port.SetTimeoutRead(5000);
  port.SetTimeoutWrite(2000);
  if (port.Open() != 0) return -1;
  const int e = port.SetMux(c.muxType, c.muxChannel);
  port.Close();
  return e != 0 ? -1 : 0;
}

// Elzab, Falwi: the channel switched over the port the library opened; the borrowed
// descriptor stays the library's.
int switchMuxAfter(const SUConfig& c, POSNET_HANDLE handle) {
  const int fd = librarySerialDescriptor(handle);
  if (fd < 0) {
    SetError(formatted("Nie można przełączyć multipleksera - biblioteka nie udostępnia portu szeregowego %s"_cp, portName(c))
                 .c_str());
    return -1;
  }
  CRS232 port(fd);
  return port.SetMux(c.muxType, c.muxChannel) != 0 ? -1 : 0;
}

// The register's lock, before anything reaches the line or the address. 0, or the open's
// failure text (text form, as a failed open) naming the holder or the reason.
int lockRegister(Link& d, bool rs232) {
  const SUConfig& c = d.config;
  d.lock = std::make_unique<platform::RegisterLock>();
  const platform::RegisterLock::Result r = rs232 ? d.lock->LockSerialLine(platform::SerialDevicePath(portName(c)))
                                                 : d.lock->LockNamed(tcpLockName(c));
  if (r == platform::RegisterLock::Result::Held || r == platform::RegisterLock::Result::NoDevice) return 0;
  std::string why;
  if (r == platform::RegisterLock::Result::Busy) {
    why = (rs232 ? "port zajęty przez "_cp : "kasa pod adresem IP "_cp + ipAddress(c) + " zajęta przez "_cp) +
          d.lock->HolderText() + "; blokada "_cp + d.lock->LockFile();
  } else {
    why = d.lock->UnavailableText();
  }
  d.lock.reset();
  const std::string text = rs232 ? formatted("Brak połączenia z portem szeregowym %s"_cp, portName(c)) + " - " + why
                                 : "Brak połączenia przez ethernet - "_cp + why;
  return SetError(text.c_str());
}

}  // namespace

std::string tcpLockName(const SUConfig& c) {
  return platform::TcpRegisterLockName("posnet-tcp", ipAddress(c), POSNET_DEFAULT_TCP_PORT);
}

Link& link() { return plugin::Session<Link>::get(); }

void releaseLink() { plugin::Session<Link>::release(); }

std::string serialParameter(const SUConfig& c) {
  char text[320];
  std::snprintf(text, sizeof text, "%s,%d,%d,%c,%d,N", portName(c).c_str(), static_cast<int>(c.speed),
                static_cast<int>(c.dataBits), c.parity, static_cast<int>(c.stopBits));
  return text;
}

int librarySerialDescriptor(POSNET_HANDLE handle) {
  if (!handle) return -1;
  int fd = -1;
  std::memcpy(&fd, reinterpret_cast<const unsigned char*>(handle) + POSNET_HANDLE_SERIAL_FD_OFFSET, sizeof fd);
  return fd;
}

int openDevice() {
  Link& d = link();
  const SUConfig& c = d.config;
  const Api& a = api();
  const bool rs232 = c.connectionType == kConnectionRs232;
  if (!rs232 && c.connectionType != kConnectionEthernet) return SetError("Nieprawidłowy rodzaj komunikacji"_cp);
  if (const int e = lockRegister(d, rs232)) return e;
  if (rs232) {
    if (c.muxOn == 1 && c.muxType == kMuxMpx4s && switchMuxBefore(c) != 0) {
      closeDevice();
      return -1;
    }
    d.handle = a.POS_CreateDeviceHandle(POSNET_DEVICE_RS232);
    if (d.handle) a.POS_SetDeviceParam(d.handle, POSNET_PARAM_SERIAL, serialParameter(c).c_str());
  } else {
    d.handle = a.POS_CreateDeviceHandle(POSNET_DEVICE_ETHERNET);
    if (d.handle) a.POS_SetDeviceParam(d.handle, POSNET_PARAM_IP_ADDRESS, ipAddress(c).c_str());
  }

  d.device = d.handle ? a.POS_OpenDevice(d.handle) : nullptr;
  if (!d.device) {
    const std::uint32_t why = d.handle && a.POS_GetDeviceError ? a.POS_GetDeviceError(d.handle) : 0;
    closeDevice();
    const std::string text = rs232 ? formatted("Brak połączenia z portem szeregowym %s"_cp, portName(c))
                                   : ethernetFailure(why, ipAddress(c));
    return SetError(text.c_str());
  }

  if (rs232 && c.muxOn == 1 && c.muxType != kMuxMpx4s && switchMuxAfter(c, d.handle) != 0) {
    closeDevice();
    return -1;
  }

  if (c.detailedLog == 1) {
    // The log file takes the dump file's name; a name with Polish letters is UTF-8 on disk.
    const std::string name = GetDumpFileName(vexa ? vexa->GetOperacja() : std::string());
    a.POS_SetDebugFileName(d.handle, cp1250::toUtf8(name).c_str());
    a.POS_SetDebugLevel(d.handle, POSNET_DEBUG_ALL);
    ui::MessageBox("UWAGA! To jest transmisja z zapisem diagnostycznym.", "Quorvel", ui::Icon::Warning);
  }
  return 0;
}

void closeDevice() {
  Link& d = link();
  if (librariesBound()) {
    if (d.device) api().POS_CloseDevice(d.device);
    if (d.handle) api().POS_DestroyDeviceHandle(d.handle);
  }
  d.device = nullptr;
  d.handle = nullptr;
  d.lock.reset();
}

Request::~Request() {
  if (request_ && librariesBound()) api().POS_DestroyRequest(request_);
}

POSNET_REQUEST* Request::out() {
  if (request_ && librariesBound()) api().POS_DestroyRequest(request_);
  request_ = nullptr;
  return &request_;
}

std::uint32_t requestStep(std::uint32_t submitted, Request& request, const CTowar* goods,
                          std::initializer_list<std::uint32_t> expected) {
  std::uint32_t status = submitted;
  if (status == 0) {
    if (!request.get()) {
      // Queued, says the library, yet no request came back: nothing can be waited for.
      status = POSNET_STATUS_QUEUE_EMPTY;
    } else {
      const Api& a = api();
      const std::uint32_t waited = a.POS_WaitForRequestCompleted(request.get(), POSNET_REQUEST_WAIT_MS);
      status = a.POS_GetRequestStatus(request.get());
      // A request that did not complete has no result to read, whatever its status says.
      if (status == 0 && waited != 0) status = waited;
    }
  }
  if (status == 0) return 0;
  for (const std::uint32_t e : expected)
    if (status == e) return status;
  reportStatus(status, goods);
  return status;
}

int reportStatus(std::uint32_t status, const CTowar* goods) {
  CKomunikat k("E", statusMessage(status).c_str(), 0, true);
  if (goods && !goods->Id_brak) k.DodajTowar(goods->Id);
  if (raport) raport->DodajKomunikat(k);
  return SetErrorNum(static_cast<int>(status));
}

int checkConnection() {
  Link& d = link();
  if (d.device) {
    const Api& a = api();
    Request r;
    if (requestStep(a.POSS_VATGet(d.device, r.out(), 0), r) == 0) {
      const std::uint32_t s = a.POSG_Default(r.get());
      if (s != 0) reportStatus(s);
    }
  }
  closeDevice();
  return GetErrorNum();
}

int probeDevice(bool tcp, const std::string& where, long speed, unsigned timeoutMs) {
  Link& d = link();
  setDefaultConfig(d.config);
  if (tcp) {
    d.config.connectionType = kConnectionEthernet;
    storeAddress(d.config, where);
  } else {
    d.config.connectionType = kConnectionRs232;
    plugin::storeText(d.config.port, sizeof d.config.port, where);
    d.config.speed = static_cast<std::int32_t>(speed);
  }
  if (const int e = bindLibraries()) return e;
  if (const int e = openDevice()) return e;
  std::uint32_t status = 0;
  {
    const Api& a = api();
    Request r;
    status = a.POSS_VATGet(d.device, r.out(), 0);
    if (status == 0 && !r.get()) status = POSNET_STATUS_QUEUE_EMPTY;
    if (status == 0) {
      const std::uint32_t waited = a.POS_WaitForRequestCompleted(r.get(), timeoutMs);
      status = waited != 0 ? waited : a.POS_GetRequestStatus(r.get());
    }
    if (status == 0) status = a.POSG_Default(r.get());
  }
  closeDevice();
  // Outside a job the status has no report to go to: its text is the error's.
  return status == 0 ? GetErrorNum() : SetError(statusMessage(status).c_str());
}

}  // namespace quorvel::posnet
