#include "host/detect_command.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/plugin_contract.h"
#include "host/driver_catalog.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/serial_ports.h"

namespace {

constexpr int kExitFound = 0;
constexpr int kExitNothing = 1;
constexpr int kExitUsage = 64;

// How long a probe waits for each answer of a register, and what one probe of a silent place
// may take at most: the wait, the opening of the line or connection, and a vendor library's
// own greeting at its open (the POSNET library waits up to a second for it).
constexpr unsigned kAnswerTimeoutMs = 300;
constexpr unsigned kProbeBoundMs = 1500;

// A driver to probe with: its description and the plug-in loaded outside any job.
struct Prober {
  std::string name;
  const QuorvelDriverDescription* description = nullptr;
  quorvel::platform::ModuleRef module;
  quorvel::contract::ProbeFn probe = nullptr;
};

// The speeds a driver offers: the values of its "speed" key, the default first; {0} when it
// has no such key (a driver that needs no speed).
std::vector<long> speedsOf(const QuorvelDriverDescription& d) {
  for (std::size_t k = 0; k < d.keyCount; ++k) {
    const QuorvelConfigKey& key = d.keys[k];
    if (std::strcmp(key.name, "speed") != 0 || key.type != QUORVEL_KEY_CHOICE) continue;
    std::vector<long> speeds;
    if (key.defaultValue) speeds.push_back(std::atol(key.defaultValue));
    for (std::size_t i = 0; i < key.choiceCount; ++i) {
      const long s = std::atol(key.choices[i].value);
      if (s > 0 && (speeds.empty() || s != speeds.front())) speeds.push_back(s);
    }
    if (!speeds.empty()) return speeds;
  }
  return {0};
}

// The probes a silent serial line costs with the drivers found: one per speed of each.
std::size_t probesPerLine() {
  std::size_t n = 0;
  for (const auto& d : quorvel::host::foundDrivers())
    if (d.description) n += speedsOf(*d.description).size();
  return n;
}

struct Line {
  std::string port;  // as the configuration takes it
  std::string busy;  // why it is not probed; "" to probe it
};

struct Found {
  std::string driver, place, model;
  long speed = 0;
  std::vector<std::string> settings;
  std::string note;  // what a register that answered yet refused the check said
};

int usage(const std::string& why) {
  std::fprintf(stderr, "quorvel: %s\nTry 'quorvel detect --help'.\n", why.c_str());
  return kExitUsage;
}

std::string joined(const std::vector<std::string>& items, const char* separator) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : separator) + item;
  return out;
}

// Probes one place with every driver at every speed, one probe after another; the first
// answer ends it (a line holds one register). False when nothing answered.
bool probePlace(std::vector<Prober>& probers, const std::string& where, const std::string& shown, bool tcp,
                bool verbose, std::vector<Found>& found) {
  bool asked = false;
  std::vector<std::string> whyNot;
  for (Prober& p : probers) {
    for (const long speed : tcp ? std::vector<long>{0} : speedsOf(*p.description)) {
      QuorvelProbeAnswer answer;
      const int result = p.probe(where, speed, kAnswerTimeoutMs, answer);
      if (verbose)
        std::fprintf(stderr, "quorvel: %s %s%s: %s%s%s\n", p.name.c_str(), shown.c_str(),
                     speed ? (" at " + std::to_string(speed)).c_str() : "",
                     result == QUORVEL_PROBE_ANSWERED ? "answered"
                     : result == QUORVEL_PROBE_BUSY   ? "busy"
                     : result == QUORVEL_PROBE_SILENT ? "no answer"
                                                      : "not probed",
                     answer.note.empty() ? "" : ": ", answer.note.c_str());
      if (result == QUORVEL_PROBE_NOT_HERE) {
        if (!answer.note.empty()) whyNot.push_back(p.name + ": " + answer.note);
        break;
      }
      asked = true;
      if (result == QUORVEL_PROBE_BUSY) {
        std::printf("%s: busy, %s; not probed\n", shown.c_str(), answer.note.c_str());
        return false;
      }
      if (result == QUORVEL_PROBE_ANSWERED) {
        found.push_back({p.name, shown, answer.model, speed, answer.settings, answer.note});
        return true;
      }
    }
  }
  // A place no driver could ask at all (an address that is none) is said so, not passed over.
  if (!asked)
    std::printf("%s: not probed; %s\n", shown.c_str(),
                whyNot.empty() ? "no driver reaches registers there" : joined(whyNot, "; ").c_str());
  return false;
}

}  // namespace

void printDetectHelp(std::FILE* out) {
  std::fprintf(out,
               "Usage: quorvel detect [PLUGIN...] [--port PORT]... [--tcp ADDRESS[:PORT]]... [-v]\n"
               "\n"
               "Finds the registers: asks every serial line you may open (the lines 'quorvel ports'\n"
               "lists) with each driver plug-in's own connection check, at every speed the driver\n"
               "offers, and each --tcp address with the drivers that reach registers over the\n"
               "network (POSNET). For each register that answers it prints the driver, the line or\n"
               "address, the speed, the model where the register tells it, and a ready\n"
               "'quorvel config' line. With PLUGIN names only those drivers are used.\n"
               "\n"
               "  --port PORT   probe this line instead of the listed ones (repeatable): a\n"
               "                pseudo-terminal, an adapter the list misses, or COM1 to COM4 for\n"
               "                Elzab registers, which WinIP reaches by those names only\n"
               "  --tcp ADDRESS probe a register at the IPv4 address (repeatable), with its port\n"
               "                (POSNET's default port 6666 when none is given)\n"
               "  -v            show every probe and why it got no answer, on standard error\n"
               "\n"
               "The probes are polite: only the reads of a connection check, never a write that\n"
               "changes a register; %u ms for each answer and no retries; a line another program\n"
               "or a running job holds is reported busy and left alone. The lines are probed one\n"
               "after another, the drivers of a line in turn, its first answer ends it. One probe\n"
               "of a silent line takes at most %.1f seconds; with the %zu speeds of the drivers\n"
               "found here a serial line where nothing answers is given up within %zu seconds.\n"
               "Elzab's WinIP writes its configuration files; the probes run in a scratch folder\n"
               "of their own, never in a job directory.\n"
               "\n"
               "Exit status: 0 a register answered, 1 none did, 64 a bad command line.\n",
               kAnswerTimeoutMs, kProbeBoundMs / 1000.0, probesPerLine(),
               (probesPerLine() * kProbeBoundMs + 999) / 1000);
}

int runDetectCommand(int argc, char** argv) {
  std::vector<std::string> wanted, ports, addresses;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printDetectHelp(stdout);
      return kExitFound;
    }
    if (arg == "-v" || arg == "--verbose") {
      verbose = true;
    } else if (arg == "--port" || arg == "--tcp") {
      if (i + 1 >= argc || !*argv[i + 1]) return usage(std::string(arg) + " needs a value");
      (arg == "--port" ? ports : addresses).emplace_back(argv[++i]);
    } else if (!arg.empty() && arg[0] == '-') {
      return usage("unknown option " + std::string(arg));
    } else {
      wanted.emplace_back(arg);
    }
  }

  // The drivers, each loaded outside any job (its load handler prepares nothing then).
  std::vector<Prober> probers;
  std::vector<std::string> names;
  for (const auto& d : quorvel::host::foundDrivers()) {
    if (!d.description) continue;
    names.push_back(d.description->name);
    bool chosen = wanted.empty();
    for (const std::string& w : wanted) chosen = chosen || w == d.description->name;
    if (!chosen) continue;
    Prober p;
    p.name = d.description->name;
    p.description = d.description;
    p.module = quorvel::platform::ModuleRef(quorvel::platform::LoadModule(d.path));
    p.probe = p.module ? p.module.symbol<quorvel::contract::ProbeFn>(quorvel::contract::kProbe) : nullptr;
    if (!p.probe) {
      std::fprintf(stderr, "quorvel: %s cannot probe (%s)\n", p.name.c_str(),
                   p.module ? "it has no probe" : quorvel::platform::LastModuleError().c_str());
      continue;
    }
    probers.push_back(std::move(p));
  }
  for (const std::string& w : wanted) {
    bool known = false;
    for (const std::string& n : names) known = known || n == w;
    if (!known) return usage("no driver plug-in " + w + " (found: " + joined(names, ", ") + ")");
  }
  if (probers.empty()) {
    std::fputs("quorvel: no driver plug-in to probe with (see 'quorvel run --help' for where they are looked for)\n",
               stderr);
    return kExitNothing;
  }

  std::vector<Line> lines;
  if (!ports.empty()) {
    for (const std::string& p : ports) lines.push_back({p, ""});
  } else {
    for (const auto& l : quorvel::platform::ScanSerialLines()) {
      Line line{quorvel::platform::SerialPortName(l.device.substr(l.device.rfind('/') + 1)), ""};
      if (!l.mayOpen) line.busy = "you may not open it (see 'quorvel ports')";
      if (!l.holders.empty()) line.busy = "busy, in use by process " + joined(l.holders, ", process ");
      lines.push_back(line);
    }
  }

  // A scratch folder of the probes' own: a driver whose vendor library reads files gets them
  // written there, never into a job directory or wherever this was started.
  const char* tmp = std::getenv("TMPDIR");
  const std::string scratch =
      quorvel::platform::MakeTemporaryDirectory(std::string(tmp && *tmp ? tmp : "/tmp") + "/quorvel-detect-XXXXXX");
  if (scratch.empty() || !quorvel::platform::ChangeDirectory(scratch.c_str())) {
    std::fprintf(stderr, "quorvel: cannot make a scratch folder for the probes: %s\n", std::strerror(errno));
    if (!scratch.empty()) quorvel::platform::RemoveDirectoryTree(scratch);
    return kExitNothing;
  }
  std::fprintf(stderr, "quorvel: probing %zu serial line%s and %zu TCP address%s with %s...\n", lines.size(),
               lines.size() == 1 ? "" : "s", addresses.size(), addresses.size() == 1 ? "" : "es",
               joined(
                   [&] {
                     std::vector<std::string> n;
                     for (const Prober& p : probers) n.push_back(p.name);
                     return n;
                   }(),
                   ", ")
                   .c_str());

  std::vector<Found> found;
  std::size_t skipped = 0;
  for (const Line& line : lines) {
    if (!line.busy.empty()) {
      std::printf("%s: %s; not probed\n", line.port.c_str(), line.busy.c_str());
      ++skipped;
      continue;
    }
    probePlace(probers, line.port, line.port, false, verbose, found);
  }
  for (const std::string& a : addresses)
    probePlace(probers, quorvel::contract::kProbeTcpPrefix + a, a, true, verbose, found);

  for (const Found& f : found) {
    std::printf("%s: %s", f.driver.c_str(), f.place.c_str());
    if (f.speed)
      std::printf(" at %ld bit/s", f.speed);
    else
      std::printf(" (TCP)");
    if (!f.model.empty()) std::printf(", model %s", f.model.c_str());
    std::printf("\n");
    if (!f.note.empty()) std::printf("    it answered, refusing the check: %s\n", f.note.c_str());
    std::printf("    quorvel config %s %s\n", f.driver.c_str(), joined(f.settings, " ").c_str());
  }
  if (found.empty()) {
    std::printf("No register answered on %zu serial line%s and %zu TCP address%s probed.\n", lines.size() - skipped,
                lines.size() - skipped == 1 ? "" : "s", addresses.size(), addresses.size() == 1 ? "" : "es");
    if (ports.empty() && lines.empty())
      std::puts("No serial line is listed here ('quorvel ports'); name one with --port.");
    std::puts(
        "Check that the register is switched on and its cable plugged in; name lines the list does not show\n"
        "with --port and registers on the network with --tcp; -v shows each probe.");
  }
  std::fflush(stdout);
  quorvel::platform::ChangeDirectory("/");
  quorvel::platform::RemoveDirectoryTree(scratch);
  return found.empty() ? kExitNothing : kExitFound;
}
