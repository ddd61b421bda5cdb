#include "host/registers_command.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "host/command_line.h"
#include "host/driver_catalog.h"
#include "host/job_file.h"
#include "host/module_path.h"
#include "host/registers.h"
#include "host/report_view.h"
#include "platform/job_dir.h"
#include "platform/module.h"
#include "platform/process.h"

namespace {

using quorvel::host::NamedRegister;

constexpr int kExitOk = 0;
constexpr int kExitWarning = 1;
constexpr int kExitError = 2;
constexpr int kExitUsage = 64;

constexpr const char* kJobFile = "VEXA_JOB.XML";

const char* kRegistersHelp =
    "Usage: quorvel registers [--config FILE] [--list]\n"
    "\n"
    "Lists the named registers of the registers file: name, driver plug-in, port (the\n"
    "address for a register over Ethernet), speed and model, after checking every section\n"
    "as 'quorvel config' checks its keys, and asks each register whether it answers: a\n"
    "connection check job runs for it in a private temporary folder, and the report's\n"
    "message is shown under a register that does not answer. With --list the registers\n"
    "are only listed, none is asked.\n"
    "\n"
    "The registers file is FILE, else the file QUORVEL_REGISTERS names, else\n"
    "/etc/quorvel/registers.conf. It is UTF-8 text, one section per register:\n"
    "\n"
    "    # whole-line comments start with # or ;\n"
    "    [kasa1]\n"
    "    driver = quorvel_elcom\n"
    "    port = /dev/ttyUSB0\n"
    "    speed = 38400\n"
    "    model = Quorvel_Elcom_Euro2100TX27\n"
    "\n"
    "    [kasa2]\n"
    "    driver = quorvel_posnet\n"
    "    connection = Ethernet\n"
    "    ip = 192.168.1.20:6666\n"
    "\n"
    "A register's name is made of letters, digits and . _ - and does not start with\n"
    "quorvel_. Every key but the three below is a key of the driver's configuration, taken\n"
    "and checked exactly as 'quorvel config PLUGIN KEY=VALUE' takes it (see 'quorvel config\n"
    "--help' for the keys of each driver); keys left out keep the driver's defaults.\n"
    "  driver   the driver plug-in (required)\n"
    "  model    the register model: idModelu of the jobs the one-line operations write (and\n"
    "           the driver's own key of that name, where it has one)\n"
    "  folder   the register's own folder, where the program keeps what it knows of the\n"
    "           register between jobs, and the job directory of the one-line operations\n"
    "           (FOLDER/job); a relative one is read against the file's folder. Default:\n"
    "           /var/lib/quorvel/NAME for /etc/quorvel/registers.conf, NAME.d beside any\n"
    "           other file.\n"
    "\n"
    "Wherever a command takes a plug-in (run, run --dry-run, config and the one-line\n"
    "operations) it takes a register's name too: the job's PROG_KOM.CFG is then written\n"
    "from the register's section, through the driver's own configuration writer, so it is\n"
    "the same file 'quorvel config' makes of the same keys (an equal file is left alone, and\n"
    "none is written where a job is running). A name with a '/', ending in .so or .dll, or\n"
    "starting with quorvel_ is always a plug-in; another name is a register when the file\n"
    "has a section of that name, and a plug-in otherwise. With --config (or\n"
    "QUORVEL_REGISTERS) the name must be a section of that file.\n"
    "\n"
    "Exit status: 0 every section is right (and, without --list, every register answered),\n"
    "1 a register did not answer, 2 a section is refused, 64 the file cannot be read, is\n"
    "malformed, or a bad command line. Faults are named FILE:LINE.\n";

const char* kOperationHelp =
    "Usage: quorvel do OPERATION PLUGIN|NAME [-C DIR] [OPTIONS]\n"
    "\n"
    "Writes the job file VEXA_JOB.XML for one operation and runs it as 'quorvel run' does\n"
    "(the same report, the same exit status), without a hand-written job. PLUGIN|NAME is a\n"
    "driver plug-in or a named register (see 'quorvel registers --help'). The short names\n"
    "below are commands of their own as well: 'quorvel check kasa1' is 'quorvel do check\n"
    "kasa1'.\n"
    "\n"
    "Operations (the short name, or the job's own operation name):\n"
    "  check         SprawdzeniePołączenia: does the register answer\n"
    "  send          PrzesyłanieTowarów: send the goods of --goods FILE.csv\n"
    "  prices        ZmianaCenTowarów: change the prices of the goods of --goods\n"
    "  delete        UsuwanieTowarów: delete the goods of --goods from the register\n"
    "  delete-all    UsuwanieWszystkichTowarów: delete every goods of the register\n"
    "  import        ImportTowarów: read the register's goods into PROG_KOM.XML\n"
    "  sales         OdbiórSprzedaży: read the sales counters into PROG_KOM.XML; the\n"
    "                register's counters are then cleared, so it must be asked with --clear\n"
    "  clear-sales   UsuwanieSprzedaży: clear the sales counters without reading them\n"
    "The other operation names the core knows are taken as written (only after 'do').\n"
    "\n"
    "Options:\n"
    "  -C DIR        the job directory. Default: for a named register FOLDER/job of its\n"
    "                folder (made when missing), so that 'quorvel report' reads the results\n"
    "                there later; for a plug-in the current directory, as for 'quorvel run'\n"
    "                (its PROG_KOM.CFG is used)\n"
    "  --model ID    idModelu of the job. Default: the register's 'model', else the\n"
    "                driver's only model; a driver of several models needs one of the two\n"
    "  --goods FILE  the goods of send, prices and delete, from a CSV price list (see\n"
    "                'quorvel job --help')\n"
    "  --config FILE the registers file\n"
    "  --force       replace a VEXA_JOB.XML in DIR that this program did not write (a\n"
    "                host's job); without it such a file is left alone and nothing runs\n"
    "  --dry-run     show what the run would send, as 'quorvel run --dry-run' (the job\n"
    "                file is written, nothing is sent)\n"
    "  -v, --changed-only, --delete-missing, --full\n"
    "                handed to the run as 'quorvel run --help' describes them: a trace of\n"
    "                the line, and a send of only what changed since the register last\n"
    "                confirmed it (a named register keeps that record in its folder)\n"
    "\n"
    "Exit status: as 'quorvel run' (0 OK or I, 1 W, 2 E, 3 the core refused the job), 64\n"
    "for a bad command line, price list or registers file, or a job file left alone.\n";

const char* kJobHelp =
    "Usage: quorvel job new OPERATION [--goods FILE.csv] [--model ID] [-o FILE | -C DIR] [--force]\n"
    "\n"
    "Writes a job file VEXA_JOB.XML (UTF-8, valid against schemas/Dane.xsd) for OPERATION\n"
    "(a short name or the job's operation name, see 'quorvel do --help'), with the goods of\n"
    "a CSV price list, for shops that keep their prices in a spreadsheet. It goes to standard\n"
    "output, to FILE (-o), or into the job directory DIR (-C); an existing file that this\n"
    "program did not write is replaced only with --force. idModelu is ID, or left out.\n"
    "\n"
    "The price list: the first row names the columns, one goods per further row. Columns are\n"
    "job fields, in any order and letter case, each at most once (an unknown name is refused):\n"
    "  Id  the host's own number of the goods, reported back (0-4294967295)\n"
    "  Ty  T a goods, O a returnable package\n"
    "  KP  the PLU code (1-999999)\n"
    "  KK  the barcode\n"
    "  DK  further barcodes, separated by blanks\n"
    "  Na  the name\n"
    "  Ce  the price: 4.20 or 4,20\n"
    "  CO  open price: 1 or 0 (also yes/no, tak/nie, true/false)\n"
    "  Va  the register's VAT rate number\n"
    "  JM  the unit number\n"
    "  Gr  the goods group\n"
    "  KO  the group or the linked package, as the driver takes it\n"
    "What each field means to each driver, and its limits, are in 'quorvel run --help'.\n"
    "An empty cell leaves the field out. Cells are separated by ',', or by ';' or tabs when\n"
    "the header row is (as Polish spreadsheets save CSV); a cell in double quotes may hold\n"
    "the separator, line breaks and doubled quotes (RFC 4180). The file is UTF-8 or\n"
    "windows-1250. A row with a value its field cannot take, or with more cells than the\n"
    "header, is refused with its line, and nothing is written. examples/cennik.csv is an\n"
    "example.\n"
    "\n"
    "Exit status: 0 written, 64 a bad command line or price list, or a file left alone.\n";

int usage(const std::string& why, const char* help) {
  std::fprintf(stderr, "quorvel: %s\nTry 'quorvel %s --help'.\n", why.c_str(), help);
  return kExitUsage;
}

bool readFile(const std::string& path, std::string& bytes, std::string& error) {
  quorvel::platform::ReadOpenError why = quorvel::platform::ReadOpenError::None;
  std::FILE* in = quorvel::platform::OpenRegularFileForReading(path.c_str(), why);
  if (!in) {
    error = "cannot read " + path + ": " +
            (why == quorvel::platform::ReadOpenError::NotRegular ? "not a regular file" : std::strerror(errno));
    return false;
  }
  char buffer[65536];
  bool failed = false;
  for (std::size_t n; (n = quorvel::platform::ReadFromFile(in, buffer, sizeof buffer, path.c_str(), failed)) > 0;)
    bytes.append(buffer, n);
  std::fclose(in);
  if (failed) error = "cannot read " + path + ": " + std::strerror(errno);
  return !failed;
}

// The description of the plug-in `plugin`, found as the core finds it, else beside the core.
struct Description {
  quorvel::platform::ModuleRef own;
  const QuorvelDriverDescription* d = nullptr;
};

void describe(const std::string& plugin, Description& out) {
  for (const auto& found : quorvel::host::foundDrivers())
    if (plugin == found.description->name) out.d = found.description;
  if (out.d) return;
  out.own = quorvel::platform::ModuleRef(quorvel::platform::InspectModule(quorvel::host::pluginLibraryFile(plugin)));
  out.d = quorvel::host::descriptionOf(out.own);
}

// idModelu of a job for `plugin`: --model, the register's model, the driver's only model.
bool jobModel(const std::string& given, const std::optional<NamedRegister>& reg, const std::string& plugin,
              std::string& model, std::string& error) {
  model = !given.empty() ? given : reg ? reg->model : "";
  if (!model.empty()) return true;
  Description description;
  describe(plugin, description);
  const QuorvelDriverDescription* d = description.d;
  if (!d || d->modelCount == 0) return true;
  if (d->modelCount == 1 || d->anyModel) {
    model = d->models[0].id;
    return true;
  }
  std::string models;
  for (std::size_t i = 0; i < d->modelCount; ++i) models += std::string(i ? ", " : "") + d->models[i].id;
  error = plugin + " drives several models; name one with --model ID" +
          (reg ? " or with model = ID in [" + reg->name + "]" : std::string()) + ": " + models;
  return false;
}

// Writes the job file into `directory` while holding its job lock, so that a running job's
// directory is left alone; the current directory stays as it was.
bool writeJobInto(const std::string& directory, const std::string& text, bool force, std::string& error) {
  const std::string home = quorvel::platform::CurrentDirectory();
  if (home.empty() || !quorvel::platform::ChangeDirectory(directory.c_str())) {
    error = "cannot enter the job directory " + directory + ": " + std::strerror(errno);
    return false;
  }
  bool ok = true;
  {
    quorvel::platform::JobDirectoryLock lock;
    if (lock.Acquire() == quorvel::platform::JobDirectoryLock::Result::Busy) {
      error = "a job is running in " + directory + "; its " + kJobFile + " is left as it is";
      ok = false;
    } else if (!quorvel::host::writeJobFile(kJobFile, text, force, error)) {
      error = directory + "/" + error;
      ok = false;
    }
  }
  if (!quorvel::platform::ChangeDirectory(home.c_str())) {
    error = "cannot return to " + home + ": " + std::strerror(errno);
    ok = false;
  }
  return ok;
}

bool readGoods(const std::string& path, const quorvel::host::JobOperation& op, std::vector<quorvel::host::JobGoods>& goods,
               std::string& error) {
  if (path.empty()) {
    if (op.takesGoods) error = op.operacja + " sends goods: name them with --goods FILE.csv";
    return !op.takesGoods;
  }
  if (!op.takesGoods) {
    error = op.operacja + " takes no goods; --goods belongs to send, prices and delete";
    return false;
  }
  std::string bytes;
  return readFile(path, bytes, error) && quorvel::host::readPriceList(bytes, path, goods, error);
}

// ---- quorvel registers ---------------------------------------------------------------------

// The value of `key = value` among printed configuration lines; "" when missing.
std::string printedValue(const std::string& printed, const std::string& key) {
  const std::string prefix = key + " = ";
  for (std::size_t at = 0; at < printed.size();) {
    const std::size_t end = std::min(printed.find('\n', at), printed.size());
    if (printed.compare(at, prefix.size(), prefix) == 0) return printed.substr(at + prefix.size(), end - at - prefix.size());
    at = end + 1;
  }
  return "";
}

// A connection check of the register in a private temporary folder: "" when it answered,
// otherwise the report's message (or why the check could not run).
std::string connectionCheck(const NamedRegister& reg, const std::string& model) {
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = tmp && tmp[0] == '/' ? tmp : "/tmp";
  const std::string folder = quorvel::platform::MakeTemporaryDirectory(base + "/quorvel-check-XXXXXX");
  const std::string home = quorvel::platform::CurrentDirectory();
  if (folder.empty() || home.empty()) {
    if (!folder.empty()) quorvel::platform::RemoveDirectoryTree(folder);
    return std::string("cannot make a temporary folder: ") + std::strerror(errno);
  }
  std::string answer = "the check could not run";
  std::string error;
  bool busy = false;
  if (quorvel::platform::ChangeDirectory(folder.c_str()) &&
      quorvel::host::writeJobFile(kJobFile, quorvel::host::jobFileText("SprawdzeniePołączenia", model, {}), false, error) &&
      quorvel::host::writeRegisterConfigHere(reg, error, busy)) {
    {
      quorvel::platform::ModuleRef core(quorvel::platform::LoadModule(quorvel::host::programLibrary("libQuorvel.so")));
      using RunFn = void (*)(const std::string&);
      if (auto run = core.symbol<RunFn>("Quorvel_run")) run(reg.driver);
    }
    quorvel::host::ReportView report;
    if (quorvel::host::readReport("RAPORT.XML", report) && report.complete) {
      answer = report.status.type == "OK" || report.status.type == "I" ? "" : report.status.text;
      for (const auto& m : report.messages)
        if (!answer.empty() && m.type == "E") answer = m.text;
    }
  } else if (!error.empty()) {
    answer = error;
  }
  if (!quorvel::platform::ChangeDirectory(home.c_str())) answer = "cannot return to " + home;
  quorvel::platform::RemoveDirectoryTree(folder);
  return answer;
}

// ---- quorvel do ------------------------------------------------------------------------------

struct OperationRequest {
  std::string operation, target, configPath, model, goods;
  const char* directory = nullptr;
  bool clear = false, force = false, dryRun = false;
  std::vector<std::string> runOptions;  // handed to the run as given: -v, --changed-only, ...
};

int runOperation(const OperationRequest& request) {
  using namespace quorvel::host;
  JobOperation op;
  std::string error;
  if (!findJobOperation(request.operation, op, error)) return usage(error, "do");
  if (op.operacja == "OdbiórSprzedaży" && !request.clear)
    return usage("reading the sales clears the register's sales counters: say so with --clear", "do");
  if (request.clear && op.operacja != "OdbiórSprzedaży") return usage("--clear belongs to sales", "do");
  std::string plugin = request.target;
  std::optional<NamedRegister> reg;
  if (const int refused = resolvePluginOrRegister(plugin, request.configPath, reg)) return refused;
  // A name that is neither a register nor a plug-in found would only leave a job file behind
  // in a directory it was never meant for: refused before anything is written.
  if (!reg && plugin.find('/') == std::string::npos) {
    std::vector<std::string> names;
    bool found = false;
    for (const FoundDriver& d : foundDrivers()) {
      names.push_back(d.description->name);
      found = found || plugin == names.back() || plugin == names.back() + ".so";
    }
    if (!found) {
      std::string list;
      for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
      return usage(plugin + " is neither a register of " + registersFilePath(request.configPath) +
                       " nor a driver plug-in found (the plug-ins: " + (list.empty() ? "none" : list) + ")",
                   "do");
    }
  }
  std::string model;
  std::vector<JobGoods> goods;
  if (!jobModel(request.model, reg, plugin, model, error) || !readGoods(request.goods, op, goods, error))
    return usage(error, "do");
  std::string directory = request.directory ? request.directory : ".";
  if (!request.directory && reg) {
    const std::string folder = registerFolder(*reg, true, error);
    directory = folder + "/job";
    if (folder.empty() || !quorvel::platform::EnsureDirectory(directory.c_str())) {
      std::fprintf(stderr, "quorvel: %s\n", error.empty() ? ("cannot make " + directory).c_str() : error.c_str());
      return kExitError;
    }
  }
  if (!writeJobInto(directory, jobFileText(op.operacja, model, goods), request.force, error)) {
    std::fprintf(stderr, "quorvel: %s\n", error.c_str());
    return kExitUsage;
  }
  std::printf("Running \"%s\" on %s in %s\n", op.operacja.c_str(),
              reg ? (reg->name + " (" + reg->driver + ")").c_str() : plugin.c_str(), directory.c_str());
  std::fflush(stdout);
  std::vector<std::string> args = {request.target, "-C", directory};
  if (!request.configPath.empty()) args.insert(args.end(), {"--config", request.configPath});
  if (request.dryRun) args.push_back("--dry-run");
  args.insert(args.end(), request.runOptions.begin(), request.runOptions.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int status = runCommand(static_cast<int>(args.size()), argv.data());
  // What an import or a sales read-out brought, as 'quorvel report' shows it; runCommand has
  // entered the job directory. Not after an E: that data must not be taken over.
  const bool readsBack = op.operacja == "ImportTowarów" || op.operacja == "OdbiórSprzedaży";
  if (readsBack && !request.dryRun && status <= 1) {
    quorvel::host::DeviceDataView data;
    if (quorvel::host::readDeviceData("PROG_KOM.XML", data)) {
      std::printf("\nWhat the register gave (PROG_KOM.XML):\n");
      quorvel::host::printDeviceData(data, stdout);
      std::fflush(stdout);
    }
  }
  return status;
}

}  // namespace

void printRegistersHelp(std::FILE* out) { std::fputs(kRegistersHelp, out); }
void printOperationHelp(std::FILE* out) { std::fputs(kOperationHelp, out); }
void printJobHelp(std::FILE* out) { std::fputs(kJobHelp, out); }

int runRegistersCommand(int argc, char** argv) {
  std::string configPath;
  bool check = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printRegistersHelp(stdout);
      return kExitOk;
    }
    if (arg == "--list") {
      check = false;
      continue;
    }
    const int taken = quorvel::host::takeConfigOption(argc, argv, i, configPath);
    if (taken < 0) return usage("--config needs a file", "registers");
    if (taken == 0) return usage("unknown argument " + std::string(arg), "registers");
  }
  quorvel::host::RegistersFile file;
  std::string error;
  if (!quorvel::host::readRegistersFile(quorvel::host::registersFilePath(configPath), file, error)) {
    std::fprintf(stderr, "quorvel: %s\n", error.c_str());
    return kExitUsage;
  }
  if (file.registers.empty()) std::printf("%s names no register\n", file.path.c_str());
  int status = kExitOk;
  std::printf("%-12s %-16s %-24s %-7s %s\n", "NAME", "DRIVER", "PORT", "SPEED", "MODEL");
  for (const NamedRegister& reg : file.registers) {
    std::string bytes, printed, model;
    const bool valid = quorvel::host::checkRegister(reg, bytes, printed, error);
    std::string port = printedValue(printed, "port");
    if (printedValue(printed, "connection") == "Ethernet") port = printedValue(printed, "ip");
    const std::string speed = printedValue(printed, "speed");
    std::string modelError;
    const bool modelKnown = jobModel("", reg, reg.driver, model, modelError);
    std::printf("%-12s %-16s %-24s %-7s %s\n", reg.name.c_str(), reg.driver.c_str(), port.empty() ? "-" : port.c_str(),
                speed.empty() ? "-" : speed.c_str(), model.empty() ? "-" : model.c_str());
    if (!valid) {
      std::printf("    refused: %s\n", error.c_str());
      status = kExitError;
      continue;
    }
    if (!check) continue;
    if (!modelKnown) {
      std::printf("    not checked: %s\n", modelError.c_str());
      if (status == kExitOk) status = kExitWarning;
      continue;
    }
    std::fflush(stdout);
    const std::string answer = connectionCheck(reg, model);
    if (answer.empty()) {
      std::printf("    answers\n");
    } else {
      std::printf("    does not answer:\n    \"%s\"\n", answer.c_str());
      if (status == kExitOk) status = kExitWarning;
    }
  }
  std::fflush(stdout);
  return status;
}

bool isOperationCommand(std::string_view command) {
  if (command == "do") return true;
  for (const auto& op : quorvel::host::jobOperations())
    if (!op.alias.empty() && command == op.alias) return true;
  return false;
}

int runOperationCommand(int argc, char** argv) {
  OperationRequest request;
  int i = 1;
  if (std::string_view(argv[0]) != "do") {
    request.operation = argv[0];
  } else if (argc > 1 && std::string_view(argv[1]) != "--help" && std::string_view(argv[1]) != "-h") {
    request.operation = argv[i++];
  }
  for (; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printOperationHelp(stdout);
      return kExitOk;
    }
    const auto directory = quorvel::host::takeDirectoryOption(argc, argv, i, request.directory);
    if (directory == quorvel::host::DirectoryOption::Missing) return usage("-C needs a directory", "do");
    if (directory == quorvel::host::DirectoryOption::Taken) continue;
    const int config = quorvel::host::takeConfigOption(argc, argv, i, request.configPath);
    if (config < 0) return usage("--config needs a file", "do");
    if (config > 0) continue;
    if (arg == "--model" || arg == "--goods") {
      if (i + 1 >= argc) return usage(std::string(arg) + " needs a value", "do");
      (arg == "--model" ? request.model : request.goods) = argv[++i];
    } else if (arg == "--clear" || arg == "--force" || arg == "--dry-run") {
      (arg == "--clear" ? request.clear : arg == "--force" ? request.force : request.dryRun) = true;
    } else if (arg == "-v" || arg == "--verbose" || arg == "--changed-only" || arg == "--delete-missing" ||
               arg == "--full") {
      request.runOptions.emplace_back(arg);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage("unknown option " + std::string(arg), "do");
    } else if (request.target.empty()) {
      request.target = arg;
    } else {
      return usage("only one plug-in or register may be given", "do");
    }
  }
  if (request.operation.empty()) return usage("the operation is missing", "do");
  if (request.target.empty()) return usage("the plug-in or register name is missing", "do");
  return runOperation(request);
}

int runJobCommand(int argc, char** argv) {
  if (argc > 1 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
    printJobHelp(stdout);
    return kExitOk;
  }
  if (argc < 2 || std::string_view(argv[1]) != "new") return usage("the only job command is 'job new'", "job");
  std::string operation, model, goodsPath, output;
  const char* directory = nullptr;
  bool force = false;
  for (int i = 2; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printJobHelp(stdout);
      return kExitOk;
    }
    const auto option = quorvel::host::takeDirectoryOption(argc, argv, i, directory);
    if (option == quorvel::host::DirectoryOption::Missing) return usage("-C needs a directory", "job");
    if (option == quorvel::host::DirectoryOption::Taken) continue;
    if (arg == "--model" || arg == "--goods" || arg == "-o") {
      if (i + 1 >= argc) return usage(std::string(arg) + " needs a value", "job");
      (arg == "--model" ? model : arg == "--goods" ? goodsPath : output) = argv[++i];
    } else if (arg == "--force") {
      force = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage("unknown option " + std::string(arg), "job");
    } else if (operation.empty()) {
      operation = arg;
    } else {
      return usage("only one operation may be given", "job");
    }
  }
  if (operation.empty()) return usage("the operation is missing", "job");
  if (directory && !output.empty()) return usage("-o and -C exclude each other", "job");
  quorvel::host::JobOperation op;
  std::vector<quorvel::host::JobGoods> goods;
  std::string error;
  if (!quorvel::host::findJobOperation(operation, op, error) || !readGoods(goodsPath, op, goods, error))
    return usage(error, "job");
  const std::string text = quorvel::host::jobFileText(op.operacja, model, goods);
  if (directory) {
    if (!writeJobInto(directory, text, force, error)) {
      std::fprintf(stderr, "quorvel: %s\n", error.c_str());
      return kExitUsage;
    }
  } else if (!output.empty() && output != "-") {
    if (!quorvel::host::writeJobFile(output, text, force, error)) {
      std::fprintf(stderr, "quorvel: %s\n", error.c_str());
      return kExitUsage;
    }
  } else {
    std::fwrite(text.data(), 1, text.size(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitError;
  }
  std::fprintf(stderr, "quorvel: %s written: \"%s\", %zu goods\n", directory ? (std::string(directory) + "/" + kJobFile).c_str() : output.c_str(),
               op.operacja.c_str(), goods.size());
  return kExitOk;
}

int runRegisterConfig(const NamedRegister& reg, const char* directory, const std::vector<std::string>& settings) {
  if (!settings.empty())
    return usage("the keys of the register " + reg.name + " are changed in its section, " + reg.where(), "config");
  std::string bytes, printed, error;
  bool busy = false;
  if (!quorvel::host::checkRegister(reg, bytes, printed, error)) {
    std::fprintf(stderr, "quorvel: %s\n", error.c_str());
    return kExitUsage;
  }
  if (directory) {
    if (!quorvel::platform::ChangeDirectory(directory)) {
      std::fprintf(stderr, "quorvel: cannot enter the job directory %s: %s\n", directory, std::strerror(errno));
      return kExitUsage;
    }
    if (!quorvel::host::writeRegisterConfigHere(reg, error, busy)) {
      std::fprintf(stderr, "quorvel: %s\n", error.c_str());
      return kExitError;
    }
  }
  std::fputs(printed.c_str(), stdout);
  return std::fflush(stdout) == 0 ? kExitOk : kExitError;
}
