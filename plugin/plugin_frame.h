// The plug-in frame: what every driver plug-in does when it is loaded and when the job's
// operation is "Konfiguracja".
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/plugin_contract.h"
#include "core/serial/rs232.h"
#include "core/xml/vexa_xml.h"
#include "platform/cp1250.h"
#include "platform/ui.h"
#include "plugin/config_records.h"
#include "plugin/config_store.h"
#include "plugin/driver_description.h"
#include "plugin/goods_check.h"

namespace quorvel::plugin {

// The job operation that shows the configuration form (compared exactly, case-sensitive).
inline constexpr const char* kConfigurationOperation = "Konfiguracja";

inline bool isConfigurationOperation(const std::string& operacja) { return operacja == kConfigurationOperation; }

// Whether the job's model may load the plug-in. A model name outside the driver's table would
// reach the register as a model it does not know and end the job as a broken connection, so the
// load is refused instead: error 21 (as for a job without a plug-in), naming the job's model and
// the accepted ones, the ids of the description's models. The configuration operation needs no
// register and is always accepted, as is every model for a driver that does not look at it.
bool modelAccepted(const QuorvelDriverDescription& driver, const std::string& idModelu, const std::string& operacja);

// Steps 2 to 4 of every plug-in's load, after its own preparation:
//   - read the record from PROG_KOM.CFG; a missing file gives the defaults only for the
//     configuration operation (any other operation gets error 2);
//   - refuse the load when reading failed (the reason already stands in the report);
//   - open the device connection unless the operation is "Konfiguracja"; refuse when that
//     fails.
// The record holds the defaults before it is read, so a file shorter than the record leaves
// default values (never stale or zero ones) in the fields it does not reach.
// Returns true when the load may go on.
template <class Record>
bool loadSequence(Record& config, const std::string& operacja, const std::function<int()>& openDevice) {
  const bool configuring = isConfigurationOperation(operacja);
  setDefaultConfig(config);
  if (readConfig(config, configuring) != 0) return false;
  if (!configuring && openDevice && openDevice() != 0) return false;
  return true;
}

// Opens a register's serial line (CRS232::Open) and discards whatever is already waiting on
// it: bytes a register sent to a job that was killed would otherwise be read as the first
// answer of this one and end it with "Odebrano nieprawidłowe dane z urządzenia". Every driver
// that talks over its own line opens it here. Returns the error number of Open.
int openDeviceLine(CRS232& port);

// Sets `port` to the line every serial register of these drivers uses: the port `name` at
// `speed`, 8 data bits, no parity, one stop bit, with the read and write time-outs given.
void setSerialLine(CRS232& port, const std::string& name, unsigned long speed, unsigned long readTimeoutMs,
                   unsigned long writeTimeoutMs);

// What a probe (quorvel_probe) locks, without waiting, before it asks anything: a serial line
// by its port name, or a register's named lock (platform/register_lock.h).
struct ProbeLock {
  bool serialLine = true;
  std::string name;
};

// Every plug-in's probe around its own connection check: the register's lock taken when free
// (QUORVEL_PROBE_BUSY naming the holder when not, nothing asked), the error state cleared, then
// `check` run; its failure becomes QUORVEL_PROBE_SILENT with the error's text as the note. The
// error state is cleared again after, the lock given up. `check` opens and closes what it uses.
int probeRegister(const ProbeLock& lock, const std::function<int()>& check, QuorvelProbeAnswer& answer);

// Every plug-in's dry run (its export quorvel_dry_run): the job's model judged and the record
// read as the load does them, no device opened and no vendor library loaded, then the job's
// goods checked with the rules `rules` gives once the record is read, one line per goods to
// `show`. Returns the error number.
template <class Record>
int dryRun(const QuorvelDriverDescription& driver, Record& config, const std::function<GoodsRules()>& rules,
           QuorvelPlanLineFn show, void* context) {
  if (!vexa) return 0;
  if (!modelAccepted(driver, vexa->GetIdModelu(), vexa->GetOperacja())) return GetErrorNum();
  if (!loadSequence(config, vexa->GetOperacja(), nullptr)) return GetErrorNum();
  return dryRunGoods(rules(), [&](const std::string& line) {
    if (show) show(context, line.c_str());
  });
}

// A configuration form over a record: built from the record, stores its values into it.
template <class Record>
class ConfigForm : public ui::Form {
 public:
  // What every driver's form shares: its caption, the group box around the fields, and the
  // About entry of its menu.
  ConfigForm() {
    title = "Konfiguracja kasy";
    frame = "Parametry połączenia"_cp;
    menu = {"&About Driver..."};
  }
  // Writes the form's values into the record (only called after a validated "&OK").
  virtual void store(Record& config) const = 0;
};

// The port list of the configuration forms: the system's ports as users write them, each with
// trailing colons removed; "COM1" to "COM4" when the system lists none.
std::vector<std::string> configPortNames();

// Reports on the job that the configuration form could not be shown, so a job run without a
// terminal does not end as if the configuration had been confirmed.
void reportFormNotShown();

// opKonfiguracja: shows the form modally over the record; "&OK" stores the values and saves
// the record, "&Anuluj" stores nothing. Returns the error number (0 after a cancel or a clean
// save).
template <class Record>
int runConfiguration(Record& config, ConfigForm<Record>& form) {
  switch (ui::ShowForm(form)) {
    case ui::FormResult::Ok:
      form.store(config);
      saveConfig(config);
      break;
    case ui::FormResult::NotShown:
      reportFormNotShown();
      break;
    case ui::FormResult::Cancelled:
      break;
  }
  return GetErrorNum();
}

}  // namespace quorvel::plugin
