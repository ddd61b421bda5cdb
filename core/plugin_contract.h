// The contract between the core and a driver plug-in: every function a plug-in may export,
// declared once with its exact signature.
//
// The core finds a plug-in's functions by name (Quorvel_run builds its dispatch table from
// QUORVEL_OPERATIONS below); a plug-in defines them with QUORVEL_EXPORT_C. Because every driver
// includes this header, a definition whose signature differs from the declaration here
// ("conflicting declaration of C function") does not compile, instead of being called through
// the wrong type at run time.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/api.h"
#include "platform/cp1250.h"

// The job's operations, in the order the core tests them. One row per operation:
//   offer     every:   each driver plug-in exports it (a plug-in without it cannot run the
//                      operation: the core reports "Nieznana operacja");
//             further: looked up by the core, offered by no driver of the system today;
//   operacja  the operation's name in VEXA_JOB.XML (windows-1250, compared byte for byte);
//   entry     the exported entry point, int entry(), returning the error number;
//   noGoods   the warning when the job carries no goods for it (the plug-in is then not
//             called at all); nullptr: no such precondition;
//   handling  plain:           the result is not looked at (the error state speaks);
//             connectionCheck: the result decides the report's status.
#define QUORVEL_OPERATIONS(X)                                                                                 \
  X(every, "Konfiguracja"_cp, opKonfiguracja, nullptr, plain)                                                 \
  X(every, "SprawdzeniePołączenia"_cp, opSprawdzeniePolaczenia, nullptr, connectionCheck)                     \
  X(every, "PrzesyłanieTowarów"_cp, opPrzesylanieTowarow, "Brak towarów do przesłania"_cp, plain)             \
  X(every, "ZmianaCenTowarów"_cp, opZmianaCenTowarow, "Brak towarów do przesłania"_cp, plain)                 \
  X(every, "UsuwanieTowarów"_cp, opUsuwanieTowarow, "Brak towarów do usunięcia"_cp, plain)                    \
  X(every, "ImportTowarów"_cp, opImportTowarow, nullptr, plain)                                               \
  X(further, "SprawdzenieDanychTowarów"_cp, opSprawdzenieDanychTowarow, nullptr, plain)                       \
  X(every, "OdbiórSprzedaży"_cp, opOdbiorSprzedazy, nullptr, plain)                                           \
  X(every, "UsuwanieSprzedaży"_cp, opUsuwanieSprzedazy, nullptr, plain)                                       \
  X(further, "WydrukFiskalny"_cp, opWydrukFiskalny, "Brak danych do fiskalizacji"_cp, plain)                  \
  X(further, "RaportFiskalny"_cp, opRaportFiskalny, nullptr, plain)                                           \
  X(every, "UsuwanieWszystkichTowarów"_cp, opUsuwanieWszystkichTowarow, nullptr, plain)                       \
  X(further, "OtwieranieSzuflady"_cp, opOtwieranieSzuflady, nullptr, plain)                                   \
  X(further, "SprawdzenieDatyICzasu"_cp, opSprawdzenieDatyICzasu, nullptr, plain)                             \
  X(further, "SynchronizacjaDatyICzasu"_cp, opSynchronizacjaDatyICzasu, nullptr, plain)                       \
  X(further, "RaportOkresowyPełny"_cp, opRaportOkresowyPelny, nullptr, plain)                                 \
  X(further, "RaportOkresowySkrócony"_cp, opRaportOkresowySkrocony, nullptr, plain)

// Every entry point a plug-in may export. A plug-in defines only those it offers.
extern "C" {
#define QUORVEL_DECLARE_OPERATION(offer, operacja, entry, noGoods, handling) QUORVEL_API int entry();
QUORVEL_OPERATIONS(QUORVEL_DECLARE_OPERATION)
#undef QUORVEL_DECLARE_OPERATION

// Optional: called just before and just after the operation's entry point.
QUORVEL_API void opDriverInit();
QUORVEL_API void opDriverFree();

// Optional: the headless configuration of `quorvel config` (plugin/text_config.h). In the
// current directory, PROG_KOM.CFG (or the defaults) as `key = value` lines into `out`; with
// "key=value" settings the values are checked as the form checks them and, all accepted,
// saved. Settings and `out` are UTF-8, as the terminal has them (a port path byte for byte). Returns 0; 1 for an unknown key or a refused value, 2 when the file could
// not be read or written, each with the reason in `out` and the file untouched. Called on a
// plug-in loaded outside a job.
QUORVEL_API int quorvel_config_text(const std::vector<std::string>& settings, std::string& out);

// Optional: `quorvel detect`. Whether a register of this driver answers at `where` at `speed`
// bit/s, asked with the driver's own connection check and nothing that changes the register:
// at most `timeoutMs` for each answer, no retries, a busy register (another job's) not waited
// for and not disturbed. `where` is a serial port as the configuration takes it ("COM1",
// "/dev/ttyUSB0") or "tcp:HOST:PORT" for a register on the network (speed 0). Called on a
// plug-in loaded outside a job, in a scratch directory of the host's own, one probe at a
// time. Returns QUORVEL_PROBE_*; `answer` holds what was learnt.
struct QuorvelProbeAnswer {
  std::string model;                  // the model as a job names it (idModelu); "" when untold
  std::vector<std::string> settings;  // the "key=value" settings of `quorvel config` reaching it
  std::string note;                   // UTF-8, English (a system text quoted whole): why nothing
                                      // answered, or who holds the register
};
#define QUORVEL_PROBE_ANSWERED 0  // a register answered
#define QUORVEL_PROBE_SILENT 1    // nothing answered (or nothing that speaks this protocol)
#define QUORVEL_PROBE_BUSY 2      // another program holds the line or the register; not asked
#define QUORVEL_PROBE_NOT_HERE 3  // this driver reaches no register at such a place or speed
QUORVEL_API int quorvel_probe(const std::string& where, long speed, unsigned timeoutMs, QuorvelProbeAnswer& answer);

// Every driver: what the plug-in tells about itself (plugin/driver_description.h), read by the
// host without loading the plug-in for a job.
struct QuorvelDriverDescription;
QUORVEL_API const QuorvelDriverDescription* quorvel_driver_description();

// The load handler (non-zero: the load may go on) and the unload handler; the module loader
// runs them (platform/module.h). Every plug-in exports both, as does the core itself.
QUORVEL_API int quorvel_module_attach();
QUORVEL_API void quorvel_module_detach();
}

namespace quorvel::contract {

using OperationFn = int (*)();
using HookFn = void (*)();

enum class Offer { every, further };
enum class Handling { plain, connectionCheck };

struct Operation {
  Offer offer;
  const char* operacja;
  const char* entry;
  const char* noGoods;
  Handling handling;
};

// The operation table (the _cp texts are converted while compiling, but their operator is not
// constexpr, hence const rather than constexpr).
#define QUORVEL_OPERATION_ROW(offer, operacja, entry, noGoods, handling) \
  Operation{Offer::offer, operacja, #entry, noGoods, Handling::handling},
inline const Operation kOperations[] = {QUORVEL_OPERATIONS(QUORVEL_OPERATION_ROW)};
#undef QUORVEL_OPERATION_ROW
inline constexpr std::size_t kOperationCount = sizeof kOperations / sizeof kOperations[0];
static_assert(kOperationCount == 17);

inline constexpr const char* kDriverInit = "opDriverInit";
inline constexpr const char* kDriverFree = "opDriverFree";
inline constexpr const char* kConfigText = "quorvel_config_text";
using ConfigTextFn = int (*)(const std::vector<std::string>&, std::string&);
inline constexpr const char* kProbe = "quorvel_probe";
using ProbeFn = int (*)(const std::string&, long, unsigned, QuorvelProbeAnswer&);
// The prefix of a network place given to a probe.
inline constexpr const char* kProbeTcpPrefix = "tcp:";
inline constexpr const char* kDriverDescription = "quorvel_driver_description";
using DriverDescriptionFn = const QuorvelDriverDescription* (*)();
// The dry run: the job's goods checked against the register model's limits, nothing sent.
inline constexpr const char* kDryRun = "quorvel_dry_run";
using PlanLineFn = void (*)(void* context, const char* line);
using DryRunFn = int (*)(PlanLineFn show, void* context);
// The core's dry run of the loaded job (beside Quorvel_run):
//   void Quorvel_dryRun(const std::string& plugin, PlanLineFn show, void* context);
inline constexpr const char* kCoreDryRun = "Quorvel_dryRun";
using CoreDryRunFn = void (*)(const std::string& plugin, PlanLineFn show, void* context);

}  // namespace quorvel::contract
