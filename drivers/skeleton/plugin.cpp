// quorvel_skeleton: the entry points of the skeleton plug-in and its load and unload handlers.
//
// A template for a new driver: every entry point is one line calling into the driver. At load
// the plug-in checks the job's model, reads PROG_KOM.CFG and opens its serial line (except for
// the configuration operation); the line stays open for the whole job and is closed at unload.
#include <string>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/plugin_contract.h"
#include "core/xml/vexa_xml.h"
#include "drivers/skeleton/config_form.h"
#include "drivers/skeleton/goods.h"
#include "drivers/skeleton/limits.h"
#include "drivers/skeleton/link.h"
#include "drivers/skeleton/sales.h"
#include "plugin/plugin_frame.h"

using namespace quorvel::skeleton;

QUORVEL_EXPORT_C int quorvel_module_attach() {
  // Loaded outside a job (`quorvel config`, `quorvel --help`): nothing to check or open.
  if (!vexa) return 1;
  // A job for a model the description does not list is refused, naming the accepted ones.
  if (!quorvel::plugin::modelAccepted(*quorvel_driver_description(), vexa->GetIdModelu(), vexa->GetOperacja()) ||
      !quorvel::plugin::loadSequence(link().config, vexa->GetOperacja(), [] { return openLine(); })) {
    releaseLink();
    return 0;
  }
  return 1;
}

QUORVEL_EXPORT_C void quorvel_module_detach() {
  // The port object closes an open line when it goes.
  releaseLink();
}

QUORVEL_EXPORT_C int opKonfiguracja() { return configure(link().config); }
QUORVEL_EXPORT_C int opSprawdzeniePolaczenia() { return checkConnection(); }
QUORVEL_EXPORT_C int opPrzesylanieTowarow() { return sendGoods(); }
QUORVEL_EXPORT_C int opZmianaCenTowarow() { return changePrices(); }
QUORVEL_EXPORT_C int opUsuwanieTowarow() { return deleteGoods(); }
QUORVEL_EXPORT_C int opUsuwanieWszystkichTowarow() { return deleteAllGoods(); }
QUORVEL_EXPORT_C int opImportTowarow() { return importGoods(); }
QUORVEL_EXPORT_C int opOdbiorSprzedazy() { return readSales(); }
QUORVEL_EXPORT_C int opUsuwanieSprzedazy() { return clearSales(); }

QUORVEL_EXPORT_C int quorvel_config_text(const std::vector<std::string>& settings, std::string& out) {
  return configureText(settings, out);
}

// The dry run: the load's checks that need no register (the model, PROG_KOM.CFG, both made by
// plugin::dryRun), then the job's goods checked against the model's limits; nothing opened,
// nothing sent. Called without the load handler having run, so the session it makes is
// dropped again here.
QUORVEL_EXPORT_C int quorvel_dry_run(QuorvelPlanLineFn show, void* context) {
  const int result = quorvel::plugin::dryRun(*quorvel_driver_description(), link().config, goodsRules, show, context);
  releaseLink();
  return result;
}

// The probe of `quorvel detect`: the register sits on a serial line and names its model.
QUORVEL_EXPORT_C int quorvel_probe(const std::string& where, long speed, unsigned timeoutMs,
                                   QuorvelProbeAnswer& answer) {
  if (where.rfind(quorvel::contract::kProbeTcpPrefix, 0) == 0) return QUORVEL_PROBE_NOT_HERE;
  const int result = quorvel::plugin::probeRegister(
      {true, where}, [&] { return probeLine(where, speed, timeoutMs, answer.model); }, answer);
  if (result == QUORVEL_PROBE_ANSWERED) answer.settings = {"port=" + where, "speed=" + std::to_string(speed)};
  return result;
}
