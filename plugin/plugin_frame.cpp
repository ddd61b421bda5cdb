#include "plugin/plugin_frame.h"

#include "core/globals.h"
#include "core/xml/raport_xml.h"
#include "platform/cp1250.h"
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

int openDeviceLine(CRS232& port) {
  if (const int e = port.Open()) return e;
  port.Purge();
  return 0;
}

void reportFormNotShown() {
  // A warning that becomes the job's status; the error number stays 0 (nothing failed, the
  // configuration simply stays as it was).
  if (raport)
    raport->DodajKomunikat("W", "Nie można wyświetlić formularza konfiguracji (brak terminala); konfiguracja nie została zmieniona."_cp, 0, true);
}

}  // namespace quorvel::plugin
