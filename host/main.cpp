// quorvel: the command-line host application.
//
// It does what a sales application does with the core: in the job directory it loads the core
// library (which reads VEXA_JOB.XML), calls Quorvel_run with a driver plug-in's name, unloads
// the core (which finishes PROG_KOM.XML and RAPORT.XML), and then shows the report, keeping the
// job directory locked until the report is read.

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "host/command_line.h"
#include "host/command_list.h"
#include "host/detect_command.h"
#include "host/driver_catalog.h"
#include "host/drivers_command.h"
#include "host/help_command.h"
#include "host/module_path.h"
#include "host/ports_command.h"
#include "host/progress_bar.h"
#include "host/report_command.h"
#include "host/report_view.h"
#include "host/run_diagnosis.h"
#include "platform/cp1250.h"
#include "platform/job_dir.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/stop_signals.h"

#include "core/plugin_contract.h"
#include "host/config_command.h"
#include "host/demo_command.h"
#include "host/dump_command.h"
#include "host/registers.h"
#include "host/registers_command.h"
#include "host/goods_record.h"
#include "host/trace_view.h"
#include "quorvel_version.h"

namespace {

using quorvel::host::ReportView;

// Exit statuses a script can test.
constexpr int kExitOk = 0;           // status "OK" or "I"
constexpr int kExitWarning = 1;      // status "W"
constexpr int kExitError = 2;        // status "E", or no readable report
constexpr int kExitCoreRefused = 3;  // the core library did not load (job not run)
constexpr int kExitUsage = 64;       // bad command line

constexpr const char* kCoreModule = "libQuorvel.so";

// The core that belongs to this program (see module_path.h).
std::string coreModule() { return quorvel::host::programLibrary(kCoreModule); }

void printMainHelp(FILE* out) {
  std::fputs(
      "Usage: quorvel COMMAND [ARGS]\n"
      "\n"
      "Runs jobs of the Quorvel fiscal cash register drivers.\n"
      "\n",
      out);
  quorvel::host::printCommandList(out);
  std::fputs(
      "\n"
      "See 'quorvel run --help' for the job directory and the files of a job.\n",
      out);
  quorvel::host::printJobReference(out);
  quorvel::host::printGeneralReference(out);
}

void printRunHelp(FILE* out) {
  std::fputs(
      "Usage: quorvel run [--dry-run] [-v] PLUGIN|NAME [-C DIR] [--config FILE]\n"
      "       quorvel run [-v] PLUGIN|NAME [--record RECORD_DIR] [--changed-only [--delete-missing] | --full]\n"
      "                   [-C DIR] [--config FILE]\n"
      "\n"
      "Runs one job: in the job directory DIR (default: the current directory) the core\n"
      "library libQuorvel.so is loaded, which reads the job; the driver plug-in PLUGIN is\n"
      "loaded and carries out the job's operation; the core is unloaded, which completes the\n"
      "result files. The messages and the final status of the report are then shown.\n"
      "\n"
      "Files in the job directory:\n"
      "  VEXA_JOB.XML   read: the job (operation, register model, goods), windows-1250 XML\n"
      "  PROG_KOM.CFG   read: the plug-in's configuration (written by the operation\n"
      "                 Konfiguracja; without it only Konfiguracja can run)\n"
      "  RAPORT.XML     written: every error, warning and notice, and the final status\n"
      "  PROG_KOM.XML   written: what the register gave (goods, sales, accepted goods)\n"
      "  HISTORIA/      written: the result files of earlier jobs, one folder per job\n"
      "                 (see 'quorvel report --help')\n"
      "  *.dmp          written when the configuration asks for a transmission dump\n"
      "\n"
      "Driver plug-ins (the quorvel_*.so files of the first three folders below):\n",
      out);
  quorvel::host::printDriverList(out);
  std::fputs(
      "A plug-in is named without its extension; a name with a '/' is a path. A named\n"
      "register of the registers file (--config FILE; see 'quorvel registers --help') is\n"
      "run with its driver, and its section is written to DIR as PROG_KOM.CFG first (into\n"
      "the private copy for a dry run).\n"
      "\n"
      "What each job field means to each driver, and what each register model holds, as the\n"
      "drivers state it (a goods outside these limits is skipped, or changed as said, and named\n"
      "in a warning; 'not stated': the driver states no limit and checks nothing there):\n",
      out);
  quorvel::host::printFieldTables(out);
  std::fputs(
      "\n"
      "\n"
      "Where libraries are found: the plug-ins and the vendor libraries the drivers load\n"
      "(as the list above names them) are looked for by their file names in this order:\n"
      "  1. the folders named in QUORVEL_LIBRARY_PATH (colon separated; only absolute\n"
      "     folders count, empty and relative entries are ignored)\n"
      "  2. the folder of the core library libQuorvel.so\n"
      "  3. the folder of this program\n"
      "  4. the dynamic linker's path (LD_LIBRARY_PATH, the system folders, ld.so.cache)\n"
      "The job directory and the current directory are never searched: a library lying\n"
      "there is not loaded, as whoever writes jobs must not run code in the process that\n"
      "drives the registers. A shop puts its vendor libraries in a folder it names in\n"
      "QUORVEL_LIBRARY_PATH, beside this program or the core, or in the system's library\n"
      "path. A library not found is reported with the file looked for and the folders\n"
      "searched.\n"
      "\n"
      "Exit status: 0 when the job ended with status OK or I (notice), 1 with status W\n"
      "(warning), 2 with status E (error) or when the result files could not be made\n"
      "durable, 3 when the core library refused to load (the job\n"
      "file could not be read, see the report; another job still running in DIR, which\n"
      "holds one job at a time) or was not found, 64 for a bad command line.\n"
      "\n"
      "With -v (--verbose) the run prints on standard error, as it happens, each frame sent\n"
      "to the register (>) or received from it (<), or each call of a vendor library (call,\n"
      "ret), one per line: the seconds since the start, the direction, and for frames the\n"
      "byte count, the bytes in hexadecimal and what they say (no progress bar then).\n"
      "\n"
      "A dry run, 'quorvel run --dry-run PLUGIN [-C DIR]', reads the job as a run reads\n"
      "it and prints, one line per goods, what the register would hold of it or why it\n"
      "would be skipped, then the messages and the status a run would report for what can\n"
      "be judged without the register, with the same exit status. It opens no line, loads\n"
      "no vendor library and leaves the job directory as it is: VEXA_JOB.XML and\n"
      "PROG_KOM.CFG are copied into a private temporary folder (under TMPDIR, else /tmp),\n"
      "the core reads the job there, and the folder is removed afterwards; no result file,\n"
      "history entry, lock or dump is made in DIR, so it may run beside a job running in\n"
      "DIR. What only the register can refuse (a full memory, a name another PLU of the\n"
      "register holds) shows in the run alone.\n"
      "\n"
      "Sending only what changed: with --record RECORD_DIR (a folder of the register's own)\n"
      "Quorvel keeps in RECORD_DIR/confirmed-goods.txt every goods the register confirmed\n"
      "(PROG_KOM.XML) as the job gave it. With --changed-only a goods send leaves out the\n"
      "goods the register holds unchanged: they are confirmed in PROG_KOM.XML as before, a\n"
      "notice (I) of the report counts them, and the terminal says how many were skipped.\n"
      "--delete-missing then deletes the goods of the record the job no longer lists, in a\n"
      "delete job of its own in RECORD_DIR/delete-missing (its report shown after the\n"
      "send's). A send without --changed-only refreshes the record; a delete of all goods,\n"
      "a goods import that differs from the record, or --full (a whole send now) makes the\n"
      "next --changed-only send a whole one. VEXA_JOB.XML is never changed.\n"
      "\n"
      "SIGINT (Ctrl-C), SIGTERM and SIGHUP stop the job at its next safe point: the result\n"
      "files end complete, the report says what was done, and the exit status is 2. A second\n"
      "such signal ends the program at once.\n",
      out);
}

// The core's Quorvel_requestStop while the core is loaded; called from the signal handler.
using RequestStopFn = void (*)();
std::atomic<RequestStopFn> g_requestStop{nullptr};

void askCoreToStop() {
  if (RequestStopFn f = g_requestStop.load()) f();
}

// SIGINT, SIGTERM and SIGHUP ask the job to stop (its result files end complete); a second one
// ends the program at once. Installed before the core loads, so a signal while the job is read
// is not lost: the core is asked to stop as soon as it can hear it.
class StopSignals {
 public:
  StopSignals() {
    quorvel::platform::InstallStopSignals(
        askCoreToStop, "quorvel: stopping the job at its next safe point (signal again to end at once)\n");
  }
  ~StopSignals() {
    disconnect();
    quorvel::platform::RestoreStopSignals();
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  void connect(RequestStopFn requestStop) {
    g_requestStop.store(requestStop);
    if (requestStop && quorvel::platform::StopSignalReceived()) requestStop();
  }
  // Before the core is unloaded: its function is gone afterwards.
  void disconnect() { g_requestStop.store(nullptr); }
};

int usage(const char* why) {
  std::fprintf(stderr, "quorvel: %s\n", why);
  std::fputs("Try 'quorvel run --help'.\n", stderr);
  return kExitUsage;
}

// The plug-in name the core expects is the file name without its extension.
std::string pluginName(std::string name) {
  for (std::string_view ext : {".dll", ".so"}) {
    if (name.size() > ext.size() && std::string_view(name).substr(name.size() - ext.size()) == ext) {
      name.resize(name.size() - ext.size());
      break;
    }
  }
  return name;
}

int exitStatusOf(const ReportView& report) {
  if (!report.complete) return kExitError;
  const std::string& type = report.status.type;
  if (type == "OK" || type == "I") return kExitOk;
  if (type == "W") return kExitWarning;
  return kExitError;
}

// Shows RAPORT.XML of the current directory, read into `report` for what follows the run.
int showReport(const char* directory, ReportView& report) {
  if (!quorvel::host::readReport("RAPORT.XML", report)) {
    std::fprintf(stderr, "quorvel: no readable RAPORT.XML in %s: %s\n", directory, report.error.c_str());
    return kExitError;
  }
  quorvel::host::printReport(report, stdout);
  if (!report.complete)
    std::fprintf(stderr, "quorvel: RAPORT.XML is incomplete: %s\n", report.error.c_str());
  std::fflush(stdout);
  return exitStatusOf(report);
}

// The core refused to load the job: why, as far as anything says it. A refusal that left no
// report of this job (the directory busy with another job, or no report could be created) says
// why itself, after "the job in DIR " and `notRun`: any RAPORT.XML there is another job's.
int coreRefused(const char* shownDirectory, const char* notRun) {
  const std::string refusal = quorvel::platform::LastModuleRefusal();
  if (!refusal.empty()) {
    std::fprintf(stderr, "quorvel: the job in %s %s:\n    %s\n", shownDirectory, notRun,
                 quorvel::cp1250::toUtf8(refusal).c_str());
  } else if (quorvel::platform::LastModuleRefused()) {
    std::fprintf(stderr, "quorvel: the job in %s could not be started:\n", shownDirectory);
    ReportView report;
    showReport(shownDirectory, report);
  } else {
    std::fprintf(stderr, "quorvel: cannot load the core library: %s\n", quorvel::platform::LastModuleError().c_str());
  }
  return kExitCoreRefused;
}

// The folder the dry run's private copy of the job goes into: TMPDIR when it is absolute.
std::string temporaryBase() {
  const char* tmp = std::getenv("TMPDIR");
  if (tmp && tmp[0] == '/') return tmp;
  return "/tmp";
}

// Copies the job directory's file `name` into `to`. A file missing there stays missing; one
// that is no regular file (a FIFO, a device) becomes a folder of that name, which the core
// refuses as it refuses the original, without anything waiting on it. False when the copy
// could not be made.
bool copyJobFile(const std::string& from, const std::string& to, const char* name) {
  using namespace quorvel::platform;
  const std::string source = from + "/" + name;
  const std::string target = to + "/" + name;
  ReadOpenError why = ReadOpenError::None;
  std::FILE* in = OpenRegularFileForReading(source.c_str(), why);
  if (!in) return why == ReadOpenError::NotRegular ? MakeDirectory(target.c_str()) : true;
  std::FILE* out = CreateFileForWriting(target.c_str());
  bool ok = out != nullptr;
  char buffer[65536];
  for (bool failed = false; ok;) {
    const std::size_t n = ReadFromFile(in, buffer, sizeof buffer, name, failed);
    if (failed) {
      ok = false;
    } else if (n > 0) {
      ok = WriteToFile(out, buffer, n, name);
    }
    if (n < sizeof buffer) break;
  }
  std::fclose(in);
  if (out) ok = CloseFile(out, name) && ok;
  return ok;
}

// A named register's PROG_KOM.CFG written into the current directory; 0, or the exit status.
int writeRegisterConfig(const quorvel::host::NamedRegister* reg) {
  std::string error;
  bool busy = false;
  if (!reg || quorvel::host::writeRegisterConfigHere(*reg, error, busy)) return 0;
  std::fprintf(stderr, "quorvel: %s\n", error.c_str());
  return busy ? kExitCoreRefused : kExitUsage;
}

// Prints a line of the plug-in's plan (windows-1250) in UTF-8.
void showPlanLine(void* context, const char* line) {
  std::fprintf(static_cast<FILE*>(context), "%s\n", quorvel::cp1250::toUtf8(line).c_str());
}

// `quorvel run --dry-run`: the job of `directory` read and checked in a private copy, so that
// nothing of the directory is read but the job and the configuration, and nothing is written
// there at all.
int dryRunCommand(const std::string& plugin, const char* directory, const char* shownDirectory,
                  const quorvel::host::NamedRegister* reg) {
  const std::string base = temporaryBase();
  const std::string copy = quorvel::platform::MakeTemporaryDirectory(base + "/quorvel-dry-run-XXXXXX");
  if (copy.empty()) {
    std::fprintf(stderr, "quorvel: cannot make a folder for the dry run in %s: %s\n", base.c_str(), std::strerror(errno));
    return kExitCoreRefused;
  }
  struct Cleanup {
    std::string path;
    ~Cleanup() { quorvel::platform::RemoveDirectoryTree(path); }
  } cleanup{copy};
  const std::string from = directory ? directory : ".";
  for (const char* name : {"VEXA_JOB.XML", "PROG_KOM.CFG"}) {
    if (!copyJobFile(from, copy, name)) {
      std::fprintf(stderr, "quorvel: cannot copy %s of %s for the dry run: %s\n", name, shownDirectory,
                   std::strerror(errno));
      return kExitCoreRefused;
    }
  }
  if (!quorvel::platform::ChangeDirectory(copy.c_str())) {
    std::fprintf(stderr, "quorvel: cannot enter %s: %s\n", copy.c_str(), std::strerror(errno));
    return kExitCoreRefused;
  }
  // A named register's configuration goes into the copy: the job directory is not written.
  if (const int refused = writeRegisterConfig(reg)) return refused;

  StopSignals stopSignals;
  quorvel::platform::ModuleRef core(quorvel::platform::LoadModule(coreModule()));
  if (!core) return coreRefused(shownDirectory, "could not be read");
  auto dryRun = core.symbol<quorvel::contract::CoreDryRunFn>(quorvel::contract::kCoreDryRun);
  if (!dryRun) {
    std::fprintf(stderr, "quorvel: %s has no entry point %s\n", quorvel::platform::ModulePath(core.get()).c_str(),
                 quorvel::contract::kCoreDryRun);
    return kExitCoreRefused;
  }
  stopSignals.connect(core.symbol<RequestStopFn>("Quorvel_requestStop"));
  std::printf("Dry run of the job in %s with %s: nothing is sent to the register.\n", shownDirectory, plugin.c_str());
  dryRun(plugin, showPlanLine, stdout);
  std::fflush(stdout);
  stopSignals.disconnect();
  core.reset();  // completes the copy's RAPORT.XML
  ReportView report;
  const int status = showReport(shownDirectory, report);
  quorvel::host::explainReport(plugin, report, stderr);
  return status;
}

}  // namespace

int runCommand(int argc, char** argv) {
  std::string plugin;
  std::string registersFile;
  bool havePlugin = false;
  const char* directory = nullptr;
  bool dryRun = false;
  quorvel::host::RecordOptions recordOptions;
  bool verbose = false;
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printRunHelp(stdout);
      return kExitOk;
    }
    if (arg == "--dry-run") {
      dryRun = true;
      continue;
    }
    if (arg == "-v" || arg == "--verbose") {
      verbose = true;
      continue;
    }
    const auto option = quorvel::host::takeDirectoryOption(argc, argv, i, directory);
    if (option == quorvel::host::DirectoryOption::Missing) return usage("-C needs a directory");
    if (option == quorvel::host::DirectoryOption::Taken) continue;
    const int config = quorvel::host::takeConfigOption(argc, argv, i, registersFile);
    if (config < 0) return usage("--config needs a file");
    if (config > 0) continue;
    const auto recordOption = quorvel::host::takeRecordOption(argc, argv, i, recordOptions);
    if (recordOption == quorvel::host::RecordOption::Missing) return usage("--record needs a folder");
    if (recordOption == quorvel::host::RecordOption::Taken) continue;
    if (arg.size() > 1 && arg[0] == '-') {
      return usage(("unknown option " + std::string(arg)).c_str());
    } else if (!havePlugin) {
      plugin = pluginName(std::string(arg));
      havePlugin = true;
    } else {
      return usage("only one plug-in name may be given");
    }
  }
  if (!havePlugin) return usage("the plug-in name is missing");
  std::optional<quorvel::host::NamedRegister> reg;  // the plug-in name may name a register
  if (const int refused = quorvel::host::resolvePluginOrRegister(plugin, registersFile, reg)) return refused;
  plugin = pluginName(plugin);
  // A named register keeps what it last confirmed in its own folder, unless --record names another.
  if (reg && !dryRun && recordOptions.folder.empty()) {
    std::string why;
    recordOptions.folder = quorvel::host::registerFolder(*reg, true, why);
    if (recordOptions.folder.empty()) {
      std::fprintf(stderr, "quorvel: %s\n", why.c_str());
      return kExitCoreRefused;
    }
  }
  if (dryRun && verbose) return usage("-v does not go with --dry-run, which sends nothing to trace");
  if (dryRun && (!recordOptions.folder.empty() || recordOptions.changedOnly || recordOptions.full))
    return usage("--record, --changed-only and --full do not go with --dry-run");
  if (const std::string why = quorvel::host::recordOptionsError(recordOptions); !why.empty()) return usage(why.c_str());
  if (dryRun) {
    // The job directory is only read: it is not entered, so a directory the user may read but
    // not write is checked as well.
    if (directory && !quorvel::platform::FileExists(directory)) {
      std::fprintf(stderr, "quorvel: cannot enter the job directory %s: %s\n", directory, std::strerror(ENOENT));
      return kExitUsage;
    }
    return dryRunCommand(plugin, directory, directory ? directory : ".", reg ? &*reg : nullptr);
  }
  quorvel::host::GoodsRecordRun record(recordOptions);
  if (directory && !quorvel::platform::ChangeDirectory(directory)) {
    std::fprintf(stderr, "quorvel: cannot enter the job directory %s: %s\n", directory, std::strerror(errno));
    return kExitUsage;
  }
  const char* shownDirectory = directory ? directory : ".";
  if (const int refused = writeRegisterConfig(reg ? &*reg : nullptr)) return refused;

  if (!record.open()) return kExitCoreRefused;

  StopSignals stopSignals;
  // Loading the core reads the job; a job that cannot be read refuses the load and leaves
  // its reasons in RAPORT.XML.
  quorvel::platform::ModuleRef core(quorvel::platform::LoadModule(coreModule()));
  if (!core) return coreRefused(shownDirectory, "was not run and no report was written");
  using RunFn = void (*)(const std::string&);
  auto run = core.symbol<RunFn>("Quorvel_run");
  if (!run) {
    std::fprintf(stderr, "quorvel: %s has no entry point Quorvel_run\n",
                 quorvel::platform::ModulePath(core.get()).c_str());
    return kExitCoreRefused;
  }
  record.beforeRun(core.get(), stdout);
  stopSignals.connect(core.symbol<RequestStopFn>("Quorvel_requestStop"));
  quorvel::host::ProgressBar progress(stderr);  // drawn only on a terminal
  // The trace goes to standard error too: no bar then, which would garble its lines.
  if (!verbose || !quorvel::host::connectTrace(core.get(), stderr)) progress.connect(core.get());
  run(plugin);
  progress.finish();
  // The directory stays this job's until its report is read: a job started meanwhile is
  // refused as busy instead of replacing the report about to be shown.
  using HoldFn = int (*)();
  auto hold = core.symbol<HoldFn>("Quorvel_holdJobDirectory");
  const int held = hold ? hold() : -1;
  stopSignals.disconnect();
  // The unload tells whether both result files reached the disk: a report that says OK but
  // whose end was never made durable must not pass for a success.
  using WatchFn = void (*)(int*, char*, std::size_t);
  auto watch = core.symbol<WatchFn>("Quorvel_watchResultFiles");
  int fault = 0;
  char faultText[1024] = "";
  if (watch) watch(&fault, faultText, sizeof faultText);
  core.reset();  // unloading completes PROG_KOM.XML and RAPORT.XML
  ReportView report;
  int status = showReport(shownDirectory, report);
  quorvel::host::explainReport(plugin, report, stderr);
  if (fault != 0) {
    std::fprintf(stderr, "quorvel: the result files of the job in %s are not safely on the disk:\n    %s\n", shownDirectory,
                 quorvel::cp1250::toUtf8(faultText).c_str());
    status = kExitError;
  }
  status = record.afterRun(status, report, plugin, stdout);
  quorvel::platform::CloseDescriptor(held);
  return status;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    printMainHelp(stderr);
    return kExitUsage;
  }
  const std::string_view command = argv[1];
  if (command == "--help" || command == "-h" || command == "help") {
    printMainHelp(stdout);
    return kExitOk;
  }
  if (command == "--version") {
    std::printf("quorvel %s\n", QUORVEL_VERSION);
    return kExitOk;
  }
  if (command == "run") return runCommand(argc - 2, argv + 2);
  if (command == "ports") return runPortsCommand(argc - 1, argv + 1);
  if (command == "detect") return runDetectCommand(argc - 1, argv + 1);
  if (command == "drivers") return runDriversCommand(argc - 1, argv + 1);
  if (command == "report") return runReportCommand(argc - 1, argv + 1);
  // The manual page quorvel(1), made at build time from these help texts.
  if (command == "--man")
    return quorvel::host::printManPage(
        stdout, {printMainHelp, printRunHelp, printConfigHelp, printReportHelp, printPortsHelp, printRegistersHelp,
                 printOperationHelp, printJobHelp, printDetectHelp, printDriversHelp, printDemoHelp});
  // The README's field tables, in Markdown (scripts/field-table.sh puts them there).
  if (command == "--field-table") {
    quorvel::host::printFieldTablesMarkdown(stdout);
    return kExitOk;
  }
  if (command == "config") return runConfigCommand(argc - 1, argv + 1);
  if (command == "dump") return runDumpCommand(argc - 1, argv + 1);
  if (command == "demo") return runDemoCommand(argc - 1, argv + 1);
  if (command == "registers") return runRegistersCommand(argc - 1, argv + 1);
  if (command == "job") return runJobCommand(argc - 1, argv + 1);
  if (isOperationCommand(command)) return runOperationCommand(argc - 1, argv + 1);
  return usage(((command.size() > 1 && command[0] == '-' ? "unknown option " : "unknown command ") + std::string(command)).c_str());
}
