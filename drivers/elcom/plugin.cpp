// quorvel_elcom: the entry points of the Elcom Euro plug-in and its load and unload handlers.
//
// At load the plug-in identifies the register model from the job, reads PROG_KOM.CFG, opens
// its serial line (except for the configuration operation) and builds its fixed frames; the
// line stays open for the whole job and is closed at unload.
#include <string>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/plugin_contract.h"
#include "core/xml/vexa_xml.h"
#include "drivers/elcom/config_form.h"
#include "drivers/elcom/goods.h"
#include "drivers/elcom/limits.h"
#include "drivers/elcom/link.h"
#include "drivers/elcom/sales.h"
#include "plugin/plugin_frame.h"

using namespace quorvel::elcom;

namespace {

// The register model the job names: identified, refused when the driver does not know it, and
// its PLU capacity made the default of max-plu. False when refused (the reason is reported).
bool acceptJobModel() {
  identifyModel(vexa->GetIdModelu());
  if (!quorvel::plugin::modelAccepted(*quorvel_driver_description(), vexa->GetIdModelu(), vexa->GetOperacja()))
    return false;
  setModelPluCapacity(link().model->pluCapacity);
  return true;
}

}  // namespace

QUORVEL_EXPORT_C int quorvel_module_attach() {
  // Loaded outside a job (`quorvel config`): there is no model to identify and no line to open.
  if (!vexa) return 1;
  Link& l = link();
  if (!acceptJobModel()) {
    releaseLink();
    return 0;
  }
  if (!quorvel::plugin::loadSequence(l.config, vexa->GetOperacja(), [] { return openLine(); })) {
    releaseLink();
    return 0;
  }
  buildFixedFrames();
  return 1;
}

QUORVEL_EXPORT_C void quorvel_module_detach() {
  // The port object closes an open line (with its draining pause) when it goes.
  releaseLink();
}

QUORVEL_EXPORT_C int opKonfiguracja() { return configure(link().config); }
QUORVEL_EXPORT_C int opSprawdzeniePolaczenia() { return checkConnection(); }
QUORVEL_EXPORT_C int opPrzesylanieTowarow() { return sendGoods(); }
QUORVEL_EXPORT_C int opUsuwanieTowarow() { return sendGoods(); }
QUORVEL_EXPORT_C int opZmianaCenTowarow() { return changePrices(); }
QUORVEL_EXPORT_C int opUsuwanieWszystkichTowarow() { return deleteAllGoods(); }
QUORVEL_EXPORT_C int opImportTowarow() { return importGoods(); }
QUORVEL_EXPORT_C int opOdbiorSprzedazy() { return readSales(); }
QUORVEL_EXPORT_C int opUsuwanieSprzedazy() { return clearSales(true); }

QUORVEL_EXPORT_C int quorvel_config_text(const std::vector<std::string>& settings, std::string& out) {
  return configureText(settings, out);
}

// The dry run: the model accepted and the configuration read as the load does them, then the
// job's goods checked against the model's limits; no line opened, nothing sent.
QUORVEL_EXPORT_C int quorvel_dry_run(QuorvelPlanLineFn show, void* context) {
  if (!vexa) return 0;
  Link& l = link();
  if (!acceptJobModel()) return GetErrorNum();
  if (!quorvel::plugin::loadSequence(l.config, vexa->GetOperacja(), nullptr)) return GetErrorNum();
  return dryRunGoods([&](const std::string& line) {
    if (show) show(context, line.c_str());
  });
}

// The probe of `quorvel detect`: an Elcom register sits on a serial line only.
QUORVEL_EXPORT_C int quorvel_probe(const std::string& where, long speed, unsigned timeoutMs,
                                   QuorvelProbeAnswer& answer) {
  if (where.rfind(quorvel::contract::kProbeTcpPrefix, 0) == 0) return QUORVEL_PROBE_NOT_HERE;
  bool answered = false;
  const int result = quorvel::plugin::probeRegister(
      {true, where}, [&] { return probeLine(where, speed, timeoutMs, answer.model, answered); }, answer);
  if (result == QUORVEL_PROBE_BUSY || (result != QUORVEL_PROBE_ANSWERED && !answered)) return result;
  answer.settings = {"port=" + where, "speed=" + std::to_string(speed)};
  if (!answer.model.empty()) answer.settings.push_back("model=" + answer.model);
  return QUORVEL_PROBE_ANSWERED;
}
