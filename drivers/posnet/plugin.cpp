// quorvel_posnet: the entry points of the POSNET plug-in and its load and unload handlers.
//
// At load (except for the configuration operation) the plug-in checks the job's model, reads
// PROG_KOM.CFG, binds libposnet and libhlapi and opens the device; every operation closes the
// device at its end. The libraries are released at unload.
#include <string>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/plugin_contract.h"
#include "core/xml/vexa_xml.h"
#include "drivers/posnet/binding.h"
#include "drivers/posnet/config_form.h"
#include "drivers/posnet/goods.h"
#include "drivers/posnet/limits.h"
#include "drivers/posnet/link.h"
#include "drivers/posnet/sales.h"
#include "plugin/plugin_frame.h"

using namespace quorvel::posnet;

namespace {

int bindAndOpen() {
  if (const int e = bindLibraries()) return e;
  return openDevice();
}

void release() {
  // A device still open here belongs to a job whose operation never ran (the core found no
  // goods for it): it is closed before its library goes.
  closeDevice();
  releaseLink();
  releaseLibraries();
}

}  // namespace

QUORVEL_EXPORT_C int quorvel_module_attach() {
  // Loaded outside a job (`quorvel config`): nothing to check, bind or open.
  if (!vexa) return 1;
  if (!quorvel::plugin::modelAccepted(*quorvel_driver_description(), vexa->GetIdModelu(), vexa->GetOperacja())) return 0;
  if (!quorvel::plugin::loadSequence(link().config, vexa->GetOperacja(), bindAndOpen)) {
    release();
    return 0;
  }
  return 1;
}

QUORVEL_EXPORT_C void quorvel_module_detach() { release(); }

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

// The dry run: the model judged as at load, so that the dry run refuses what the run refuses,
// then the job's goods checked against the model's limits; nothing sent.
QUORVEL_EXPORT_C int quorvel_dry_run(QuorvelPlanLineFn show, void* context) {
  return quorvel::plugin::dryRun(*quorvel_driver_description(), link().config, goodsRules, show, context);
}

// The probe of `quorvel detect`: a POSNET register on a serial line or at a TCP address.
QUORVEL_EXPORT_C int quorvel_probe(const std::string& where, long speed, unsigned timeoutMs,
                                   QuorvelProbeAnswer& answer) {
  const std::string tcpPrefix = quorvel::contract::kProbeTcpPrefix;
  const bool tcp = where.rfind(tcpPrefix, 0) == 0;
  const std::string place = tcp ? where.substr(tcpPrefix.size()) : where;
  quorvel::plugin::ProbeLock lock{true, place};
  if (tcp) {
    if (const auto why = checkAddress(place)) {
      answer.note = "not an address of a register: \"" + quorvel::cp1250::toUtf8(*why) + "\"";
      return QUORVEL_PROBE_NOT_HERE;
    }
    SUConfig c{};
    setDefaultConfig(c);
    storeAddress(c, place);
    lock = {false, tcpLockName(c)};
  }
  const int result = quorvel::plugin::probeRegister(
      lock, [&] { return probeDevice(tcp, place, speed, timeoutMs); }, answer);
  if (result != QUORVEL_PROBE_ANSWERED) return result;
  if (tcp)
    answer.settings = {"connection=Ethernet", std::string(kAddressKey) + "=" + place};
  else
    answer.settings = {"connection=RS-232", "port=" + place, "speed=" + std::to_string(speed)};
  return result;
}
