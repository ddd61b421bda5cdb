#include "plugin/plugin_frame.h"

#include "core/globals.h"
#include "core/xml/raport_xml.h"
#include "platform/cp1250.h"
#include "platform/register_lock.h"
#include "platform/serial_backend.h"

namespace quorvel::plugin {

std::vector<std::string> configPortNames() {
  std::vector<std::string> names;
  for (std::string name : platform::ListSerialPorts()) {
    while (!name.empty() && name.back() == ':') name.pop_back();
    if (!name.empty()) names.push_back(name);
  }
  if (names.empty()) {
    for (int i = 1; i <= 4; ++i) names.push_back("COM" + std::to_string(i));
  }
  return names;
}

bool modelAccepted(const QuorvelDriverDescription& driver, const std::string& idModelu, const std::string& operacja) {
  if (driver.anyModel || isConfigurationOperation(operacja)) return true;
  for (std::size_t i = 0; i < driver.modelCount; ++i)
    if (idModelu == driver.models[i].id) return true;
  std::string detail = idModelu + " (" + driver.name + " obsługuje modele:"_cp;
  for (std::size_t i = 0; i < driver.modelCount; ++i) detail += std::string(i == 0 ? " " : ", ") + driver.models[i].id;
  detail += ")";
  SetError(ERR_UNKNOWN_MODEL, detail.c_str());
  return false;
}

void setSerialLine(CRS232& port, const std::string& name, unsigned long speed, unsigned long readTimeoutMs,
                   unsigned long writeTimeoutMs) {
  port.SetPort(name);
  port.SetSpeed(speed);
  port.SetNrDataBits(8);
  port.SetParity(0);
  port.SetNrStopBits(0);
  port.SetTimeoutRead(readTimeoutMs);
  port.SetTimeoutWrite(writeTimeoutMs);
}

int openDeviceLine(CRS232& port) {
  if (const int e = port.Open()) return e;
  port.Purge();
  return 0;
}

int probeRegister(const ProbeLock& lock, const std::function<int()>& check, QuorvelProbeAnswer& answer) {
  // A register another job holds is left alone at once: the probe waits for nobody.
  platform::SetRegisterLockWaitMs(0);
  struct WaitBack {
    ~WaitBack() { platform::SetRegisterLockWaitMs(-1); }
  } waitBack;
  platform::RegisterLock held;
  const auto r =
      lock.serialLine ? held.LockSerialLine(platform::SerialDevicePath(lock.name)) : held.LockNamed(lock.name);
  if (r == platform::RegisterLock::Result::Busy) {
    answer.note = (held.HolderPid() > 0 ? "held by process " + std::to_string(held.HolderPid())
                                        : std::string("held by another program")) +
                  " (lock " + held.LockFile() + ")";
    return QUORVEL_PROBE_BUSY;
  }
  if (r == platform::RegisterLock::Result::Unavailable) {
    answer.note = "the lock cannot be taken: \"" + cp1250::toUtf8(held.UnavailableText()) + "\"";
    return QUORVEL_PROBE_SILENT;
  }
  ClearError("");
  const int e = check();
  // The system's own text of the failure, quoted whole.
  if (e != 0 && *GetErrorMsg()) answer.note = "\"" + cp1250::toUtf8(GetErrorMsg()) + "\"";
  if (e != 0 && !*GetErrorMsg()) answer.note = "error " + std::to_string(e);
  ClearError("");
  return e == 0 ? QUORVEL_PROBE_ANSWERED : QUORVEL_PROBE_SILENT;
}

void reportFormNotShown() {
  // A warning that becomes the job's status; the error number stays 0 (nothing failed, the
  // configuration simply stays as it was).
  if (raport)
    raport->DodajKomunikat("W", "Nie można wyświetlić formularza konfiguracji (brak terminala); konfiguracja nie została zmieniona."_cp, 0, true);
}

}  // namespace quorvel::plugin
