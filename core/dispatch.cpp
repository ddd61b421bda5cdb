// Running the job's operation: loading the driver plug-in named by the host, choosing its entry
// point for the job's operation, and calling it.
#include <cstring>
#include <new>
#include <string>

#include "platform/api.h"
#include "platform/cp1250.h"
#include "core/error_state.h"
#include "core/globals.h"
#include "core/lifecycle.h"
#include "core/xml/raport_xml.h"
#include "core/xml/vexa_xml.h"
#include "platform/module.h"

namespace quorvel::core {
namespace {

using OperationFn = int (*)();
using HookFn = void (*)();

enum class Handling {
  kPlain,            // the result is not looked at
  kConnectionCheck,  // the result decides the status
};

struct OperationRow {
  const char* operacja;  // windows-1250, compared byte for byte
  const char* entry;     // exported name in the plug-in
  const char* noGoods;   // warning when the goods iteration is empty; null: no precondition
  Handling handling;
};

// The operation table, in the order of testing.
const OperationRow kOperations[] = {
    {"Konfiguracja"_cp, "opKonfiguracja", nullptr, Handling::kPlain},
    {"SprawdzeniePołączenia"_cp, "opSprawdzeniePolaczenia", nullptr, Handling::kConnectionCheck},
    {"PrzesyłanieTowarów"_cp, "opPrzesylanieTowarow", "Brak towarów do przesłania"_cp, Handling::kPlain},
    {"ZmianaCenTowarów"_cp, "opZmianaCenTowarow", "Brak towarów do przesłania"_cp, Handling::kPlain},
    {"UsuwanieTowarów"_cp, "opUsuwanieTowarow", "Brak towarów do usunięcia"_cp, Handling::kPlain},
    {"ImportTowarów"_cp, "opImportTowarow", nullptr, Handling::kPlain},
    {"SprawdzenieDanychTowarów"_cp, "opSprawdzenieDanychTowarow", nullptr, Handling::kPlain},
    {"OdbiórSprzedaży"_cp, "opOdbiorSprzedazy", nullptr, Handling::kPlain},
    {"UsuwanieSprzedaży"_cp, "opUsuwanieSprzedazy", nullptr, Handling::kPlain},
    {"WydrukFiskalny"_cp, "opWydrukFiskalny", "Brak danych do fiskalizacji"_cp, Handling::kPlain},
    {"RaportFiskalny"_cp, "opRaportFiskalny", nullptr, Handling::kPlain},
    {"UsuwanieWszystkichTowarów"_cp, "opUsuwanieWszystkichTowarow", nullptr, Handling::kPlain},
    {"OtwieranieSzuflady"_cp, "opOtwieranieSzuflady", nullptr, Handling::kPlain},
    {"SprawdzenieDatyICzasu"_cp, "opSprawdzenieDatyICzasu", nullptr, Handling::kPlain},
    {"SynchronizacjaDatyICzasu"_cp, "opSynchronizacjaDatyICzasu", nullptr, Handling::kPlain},
    {"RaportOkresowyPełny"_cp, "opRaportOkresowyPelny", nullptr, Handling::kPlain},
    {"RaportOkresowySkrócony"_cp, "opRaportOkresowySkrocony", nullptr, Handling::kPlain},
};
constexpr std::size_t kRowCount = sizeof kOperations / sizeof kOperations[0];
static_assert(kRowCount == 17);

}  // namespace

int runOperation(quorvel::platform::Module* plugin) {
  using quorvel::platform::findSymbol;
  // Every name is resolved before anything runs; a missing one only leaves its slot empty.
  OperationFn entries[kRowCount];
  for (std::size_t i = 0; i < kRowCount; ++i)
    entries[i] = reinterpret_cast<OperationFn>(findSymbol(plugin, kOperations[i].entry));
  const auto driverInit = reinterpret_cast<HookFn>(findSymbol(plugin, "opDriverInit"));
  const auto driverFree = reinterpret_cast<HookFn>(findSymbol(plugin, "opDriverFree"));

  vexa->TwIterReset();
  raport->UstawStatus("OK", "");

  const std::string& operacja = vexa->GetOperacja();
  std::size_t taken = kRowCount;
  for (std::size_t i = 0; i < kRowCount && taken == kRowCount; ++i)
    if (entries[i] && operacja == kOperations[i].operacja) taken = i;

  if (taken == kRowCount) {
    raport->UstawStatus("E", "Nieznana operacja"_cp);
    SetError(ERR_UNKNOWN_OPERATION, operacja.c_str());
  } else {
    const OperationRow& row = kOperations[taken];
    if (row.noGoods && vexa->TwIterEmpty()) {
      // Nothing to send, change, delete or print: the plug-in is not called at all.
      raport->DodajKomunikat("W", row.noGoods, 0, true);
    } else if (row.handling == Handling::kConnectionCheck) {
      if (driverInit) driverInit();
      raport->UstawStatus("OK", "Połączenie jest prawidłowe."_cp);
      const int result = entries[taken]();
      if (driverFree) driverFree();
      if (result != 0) raport->UstawStatus("E", "Brak połączenia"_cp);
    } else {
      if (driverInit) driverInit();
      entries[taken]();
      if (driverFree) driverFree();
    }
  }

  // One job per load: the catalogue is gone after the operation.
  vexa->TwIterDelete();
  return GetErrorNum();
}

}  // namespace quorvel::core

// Runs the loaded job with the driver plug-in `name` (its file name without ".dll").
QUORVEL_EXPORT_C void Quorvel_run(const std::string& name) {
  // Nothing may escape into the host: an exception from the plug-in ends the operation as an
  // out-of-memory error, the catalogue is freed and the plug-in released all the same.
  quorvel::platform::Module* plugin = nullptr;
  try {
    if (!raport || !vexa) return;  // the load was refused: there is no job to run
    if (name.empty()) {
      // The host named no driver at all: saying that the model is unknown would send the user
      // after the job's model identifier, which may be perfectly right. The number stays 21.
      std::string text = "Nie podano nazwy sterownika (biblioteki DLL) dla modelu urządzenia"_cp;
      if (!vexa->GetIdModelu().empty()) text += " " + vexa->GetIdModelu();
      SetError(text.c_str());
      SetErrorNum(ERR_UNKNOWN_MODEL);
      return;
    }
    const std::string moduleName = name + ".dll";
    plugin = quorvel::platform::loadModule(moduleName);
    if (!plugin) {
      // A reason given while the plug-in's own load ran stands; it is not replaced.
      if (GetErrorNum() == 0) SetError(ERR_LIBRARY_MISSING, moduleName.c_str());
      return;
    }
    quorvel::core::runOperation(plugin);
  } catch (...) {
    SetError(ERR_NO_MEMORY, "");
    if (vexa) vexa->TwIterDelete();
  }
  quorvel::platform::releaseModule(plugin);
}
