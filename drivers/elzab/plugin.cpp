// quorvel_elzab: the entry points of the Elzab plug-in and its load and unload handlers.
//
// At load the plug-in reads PROG_KOM.CFG and, except for the configuration operation, writes
// the configuration files WinIP reads, loads WinIP and switches a multiplexer WinIP cannot
// switch itself. Every exchange with the register is then one WinIP call over text files. The
// job's model name is not looked at: WinIP talks to every Elzab register the same way.
#include <string>

#include "core/globals.h"
#include "core/plugin_contract.h"
#include "core/xml/vexa_xml.h"
#include "drivers/elzab/binding.h"
#include "drivers/elzab/config_form.h"
#include "drivers/elzab/goods.h"
#include "drivers/elzab/limits.h"
#include "drivers/elzab/link.h"
#include "drivers/elzab/records.h"
#include "drivers/elzab/sales.h"
#include "plugin/plugin_frame.h"

using namespace quorvel::elzab;

QUORVEL_EXPORT_C int quorvel_module_attach() {
  // Loaded outside a job (`quorvel config`): nothing to prepare.
  if (!vexa) return 1;
  Link& l = link();
  l.configuring = quorvel::plugin::isConfigurationOperation(vexa->GetOperacja());
  if (!quorvel::plugin::loadSequence(l.config, vexa->GetOperacja(), [] { return prepareConnection(); })) {
    releaseWinIP();
    releaseLink();
    return 0;
  }
  return 1;
}

QUORVEL_EXPORT_C void quorvel_module_detach() {
  releaseWinIP();
  releaseLink();
}

QUORVEL_EXPORT_C void opDriverInit() { driverInit(); }
QUORVEL_EXPORT_C void opDriverFree() { driverFree(); }

QUORVEL_EXPORT_C int opKonfiguracja() { return configure(link().config); }
QUORVEL_EXPORT_C int opSprawdzeniePolaczenia() { return checkConnection(); }
QUORVEL_EXPORT_C int opPrzesylanieTowarow() { return sendGoods(); }
QUORVEL_EXPORT_C int opZmianaCenTowarow() { return changePrices(); }
QUORVEL_EXPORT_C int opUsuwanieTowarow() { return deleteGoods(); }
QUORVEL_EXPORT_C int opUsuwanieWszystkichTowarow() { return deleteAllGoods(); }
QUORVEL_EXPORT_C int opImportTowarow() { return importGoods(); }
QUORVEL_EXPORT_C int opOdbiorSprzedazy() { return readSales(); }
QUORVEL_EXPORT_C int opUsuwanieSprzedazy() { return readSales(); }

QUORVEL_EXPORT_C int quorvel_config_text(const std::vector<std::string>& settings, std::string& out) {
  return configureText(settings, out);
}

// The dry run: the job's goods checked against the model's limits, nothing sent.
QUORVEL_EXPORT_C int quorvel_dry_run(QuorvelPlanLineFn show, void* context) {
  return quorvel::plugin::dryRun(*quorvel_driver_description(), link().config, goodsRules, show, context);
}

// The probe of `quorvel detect`: WinIP names a register by its port, COM1 to COM4, and speed.
QUORVEL_EXPORT_C int quorvel_probe(const std::string& where, long speed, unsigned timeoutMs,
                                   QuorvelProbeAnswer& answer) {
  const int com = comPortNumber(where);
  if (com == 0) {
    answer.note = "WinIP reaches registers on COM1 to COM4 only";
    return QUORVEL_PROBE_NOT_HERE;
  }
  const int result = quorvel::plugin::probeRegister(
      {false, registerLockName(com)}, [&] { return probeWinIP(com, speed, timeoutMs); }, answer);
  if (result == QUORVEL_PROBE_ANSWERED) answer.settings = {"port=" + where, "speed=" + std::to_string(speed)};
  return result;
}
