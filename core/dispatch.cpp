// Running the job's operation: loading the driver plug-in named by the host, choosing its entry
// point for the job's operation, and calling it.
#include <cstring>
#include <new>
#include <string>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/lifecycle.h"
#include "core/plugin_contract.h"
#include "core/stop.h"
#include "core/xml/raport_xml.h"
#include "core/xml/vexa_xml.h"
#include "platform/api.h"
#include "platform/cp1250.h"
#include "platform/module.h"

namespace quorvel::core {
namespace {

using contract::Handling;
using contract::HookFn;
using contract::kOperationCount;
using contract::kOperations;
using contract::OperationFn;
using quorvel::platform::FindSymbol;

// The row of the job's operation among the operations the plug-in offers. When it offers none
// of that name the report says so and the result is kOperationCount.
std::size_t operationOf(quorvel::platform::Module* plugin) {
  const std::string& operacja = vexa->GetOperacja();
  for (std::size_t i = 0; i < kOperationCount; ++i)
    if (operacja == kOperations[i].operacja && FindSymbol(plugin, kOperations[i].entry)) return i;
  raport->UstawStatus("E", "Nieznana operacja"_cp);
  SetError(ERR_UNKNOWN_OPERATION, operacja.c_str());
  return kOperationCount;
}

}  // namespace

int runOperation(quorvel::platform::Module* plugin) {
  const auto driverInit = reinterpret_cast<HookFn>(FindSymbol(plugin, contract::kDriverInit));
  const auto driverFree = reinterpret_cast<HookFn>(FindSymbol(plugin, contract::kDriverFree));

  vexa->TwIterReset();
  raport->UstawStatus("OK", "");

  if (const std::size_t taken = operationOf(plugin); taken != kOperationCount) {
    const contract::Operation& row = kOperations[taken];
    const auto entry = reinterpret_cast<OperationFn>(FindSymbol(plugin, row.entry));
    if (row.noGoods && vexa->TwIterEmpty()) {
      // Nothing to send, change, delete or print: the plug-in is not called at all. Goods the
      // host left out as held by the register already were not missing: the notice says so.
      if (goodsLeftOut() == 0) raport->DodajKomunikat("W", row.noGoods, 0, true);
    } else if (JobStopRequested()) {
      // Asked to stop while the job or the plug-in was still loading: nothing is begun.
      reportStopBeforeStart();
    } else if (row.handling == Handling::connectionCheck) {
      if (driverInit) driverInit();
      raport->UstawStatus("OK", "Połączenie jest prawidłowe."_cp);
      const int result = entry();
      if (driverFree) driverFree();
      if (result != 0) raport->UstawStatus("E", "Brak połączenia"_cp);
      reportStop();
    } else {
      if (driverInit) driverInit();
      entry();
      if (driverFree) driverFree();
      reportStop();
    }
  }

  // One job per load: the catalogue is gone after the operation.
  vexa->TwIterDelete();
  return GetErrorNum();
}

int dryRunOperation(quorvel::platform::Module* plugin, contract::PlanLineFn show, void* context) {
  vexa->TwIterReset();
  raport->UstawStatus("OK", "");

  // The operation is chosen as a run chooses it, so that the same job gives the same messages.
  if (const std::size_t taken = operationOf(plugin); taken != kOperationCount) {
    const auto dryRun = reinterpret_cast<contract::DryRunFn>(FindSymbol(plugin, contract::kDryRun));
    if (kOperations[taken].noGoods && vexa->TwIterEmpty()) {
      raport->DodajKomunikat("W", kOperations[taken].noGoods, 0, true);
    } else if (!dryRun) {
      // A plug-in built before the dry run existed: nothing of the job can be judged for it.
      const std::string text = std::string("Sterownik nie obsługuje przebiegu próbnego (brak funkcji "_cp) +
                               contract::kDryRun + " w bibliotece " + quorvel::platform::ModulePath(plugin) + ")";
      SetError(text.c_str());
    } else {
      dryRun(show, context);
    }
  }
  vexa->TwIterDelete();
  return GetErrorNum();
}

namespace {

// The plug-in `name` (its file name without ".dll") found as every job finds it; with `attach`
// its load handler runs (a run), without it the file is only mapped (a dry run). nullptr when
// it was not found or refused to load, the reason then in the error state as a run gives it.
quorvel::platform::Module* pluginFor(const std::string& name, bool attach) {
  if (name.empty()) {
    // The host named no driver at all: saying that the model is unknown would send the user
    // after the job's model identifier, which may be perfectly right. The number stays 21.
    std::string text = "Nie podano nazwy sterownika (biblioteki DLL) dla modelu urządzenia"_cp;
    if (!vexa->GetIdModelu().empty()) text += " " + vexa->GetIdModelu();
    SetError(text.c_str());
    SetErrorNum(ERR_UNKNOWN_MODEL);
    return nullptr;
  }
  const std::string moduleName = name + ".dll";
  quorvel::platform::Module* plugin =
      attach ? quorvel::platform::LoadModule(moduleName) : quorvel::platform::InspectModuleNamed(moduleName);
  // A reason given while the plug-in's own load ran stands; it is not replaced.
  // A file found nowhere: the message also says which file was looked for and where.
  if (!plugin && GetErrorNum() == 0) {
    const std::string note = quorvel::platform::LastModuleSearchNote();
    const std::string detail = note.empty() ? moduleName : moduleName + " (" + note + ")";
    SetError(ERR_LIBRARY_MISSING, detail.c_str());
  }
  return plugin;
}

}  // namespace
}  // namespace quorvel::core

// Runs the loaded job with the driver plug-in `name` (its file name without ".dll").
QUORVEL_EXPORT_C void Quorvel_run(const std::string& name) {
  // Nothing may escape into the host: an exception from the plug-in ends the operation as an
  // out-of-memory error, the catalogue is freed and the plug-in released all the same.
  quorvel::platform::Module* plugin = nullptr;
  try {
    if (!raport || !vexa) return;  // the load was refused: there is no job to run
    plugin = quorvel::core::pluginFor(name, true);
    if (!plugin) return;
    quorvel::core::runOperation(plugin);
  } catch (...) {
    SetError(ERR_NO_MEMORY, "");
    if (vexa) vexa->TwIterDelete();
  }
  quorvel::platform::ReleaseModule(plugin);
}

// The dry run of the loaded job with the driver plug-in `name`: the plug-in is found as a run
// finds it but only mapped, its load handler never runs (no line is opened, no vendor library
// bound); its quorvel_dry_run reads its configuration, checks the job's goods against the
// model's limits and calls `show` with one line (windows-1250) per goods. The report gets the
// messages a run would give for what can be judged without the register.
QUORVEL_EXPORT_C void Quorvel_dryRun(const std::string& name, quorvel::contract::PlanLineFn show, void* context) {
  quorvel::platform::Module* plugin = nullptr;
  try {
    if (!raport || !vexa) return;
    plugin = quorvel::core::pluginFor(name, false);
    if (!plugin) return;
    quorvel::core::dryRunOperation(plugin, show, context);
  } catch (...) {
    SetError(ERR_NO_MEMORY, "");
    if (vexa) vexa->TwIterDelete();
  }
  quorvel::platform::ReleaseModule(plugin);
}

