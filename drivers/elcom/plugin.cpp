// quorvel_elcom: the entry points of the Elcom Euro plug-in and its load and unload handlers.
//
// At load the plug-in identifies the register model from the job, reads PROG_KOM.CFG, opens
// its serial line (except for the configuration operation) and builds its fixed frames; the
// line stays open for the whole job and is closed at unload.
#include <string>

#include "drivers/elcom/config_form.h"
#include "platform/cp1250.h"
#include "core/error_state.h"
#include "core/globals.h"
#include "core/plugin_contract.h"
#include "core/xml/vexa_xml.h"
#include "drivers/elcom/goods.h"
#include "drivers/elcom/link.h"
#include "drivers/elcom/sales.h"
#include "plugin/plugin_frame.h"

using namespace quorvel::elcom;

namespace {

// A model name outside the table would reach the register as model code 0, which belongs to
// no Elcom model: the register refuses every command and the job would end as a broken
// connection. The load is refused instead, naming the job's model and the accepted ones (error
// 21, as for a job without a plug-in). The configuration form needs no register.
bool modelAccepted(const std::string& idModelu, const std::string& operacja) {
  if (link().model->number != 0 || quorvel::plugin::isConfigurationOperation(operacja)) return true;
  std::string detail = idModelu + " (quorvel_elcom obsługuje modele:"_cp;
  for (int n = 1; n <= kModelCount; ++n) detail += std::string(n == 1 ? " " : ", ") + modelByNumber(n).jobName;
  detail += ")";
  SetError(ERR_UNKNOWN_MODEL, detail.c_str());
  return false;
}

}  // namespace

QUORVEL_EXPORT_C int quorvel_module_attach() {
  // Loaded outside a job (`quorvel config`): there is no model to identify and no line to open.
  if (!vexa) return 1;
  Link& l = link();
  identifyModel(vexa->GetIdModelu());
  if (!modelAccepted(vexa->GetIdModelu(), vexa->GetOperacja())) {
    releaseLink();
    return 0;
  }
  setModelPluCapacity(l.model->pluCapacity);
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
