#include "host/config_command.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "core/plugin_contract.h"
#include "host/command_line.h"
#include "host/driver_catalog.h"
#include "host/module_path.h"
#include "host/registers_command.h"
#include "platform/job_dir.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/serial_backend.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 2;  // the plug-in or PROG_KOM.CFG could not be used
constexpr int kExitJobRunning = 3;
constexpr int kExitUsage = 64;

const char* kHelp =
    "Usage: quorvel config PLUGIN|NAME [-C DIR] [--defaults] [KEY=VALUE...]\n"
    "\n"
    "Shows or changes the configuration PROG_KOM.CFG of the driver plug-in PLUGIN in the job\n"
    "directory DIR (default: the current directory), without its configuration form.\n"
    "Without KEY=VALUE it prints the configuration as 'key = value' lines (the defaults when\n"
    "there is no PROG_KOM.CFG). With them it checks every value as the form does and, when all\n"
    "are accepted, saves the file and prints the result; an unknown key or a refused value is\n"
    "reported and leaves the file as it was.\n"
    "With --defaults it starts from the plug-in's defaults instead of the present file (for a\n"
    "PROG_KOM.CFG that cannot be read any more); when KEY=VALUE are given and accepted, the\n"
    "present file is kept beside the new one as PROG_KOM.CFG.old.\n"
    "NAME, a named register (see 'quorvel registers --help'; --config FILE names the\n"
    "registers file), prints the configuration its section makes, checked key by key, and\n"
    "with -C DIR writes it there as PROG_KOM.CFG; its keys are changed in the section.\n"
    "\n"
    "The keys of each driver plug-in found (see 'quorvel run --help') follow; a plug-in\n"
    "checks them further against each other as its form does.\n";

const char* kExitHelp =
    "\n"
    "A port that does not exist when it is set (a USB adapter not plugged in yet) is saved all\n"
    "the same, with a warning on standard error; the exit status stays 0.\n"
    "While a job is running in DIR its configuration is not changed: 'quorvel config' with\n"
    "KEY=VALUE refuses (exit status 3) and leaves the file as it is; showing it still works.\n"
    "\n"
    "Exit status: 0 done, 2 the plug-in could not be loaded or PROG_KOM.CFG could not be\n"
    "read or written, 3 a job is running in DIR (nothing changed), 64 a bad command line, an\n"
    "unknown key or a refused value.\n";

constexpr const char* kConfigFile = "PROG_KOM.CFG";
constexpr const char* kKeptConfigFile = "PROG_KOM.CFG.old";

int usage(const std::string& why) {
  std::fprintf(stderr, "quorvel: %s\nTry 'quorvel config --help'.\n", why.c_str());
  return kExitUsage;
}

// The plug-in's file: a path as given, otherwise the plug-in beside the core of this program.
std::string pluginFile(std::string name) {
  if (name.find('/') != std::string::npos) return name;
  for (std::string_view ext : {".dll", ".so"})
    if (name.size() > ext.size() && std::string_view(name).substr(name.size() - ext.size()) == ext)
      name.resize(name.size() - ext.size());
  return quorvel::host::programLibrary(name + ".so");
}

// The ports among the settings (the keys the description calls paths) that lead nowhere now.
std::vector<std::string> missingPorts(const QuorvelDriverDescription* description, const std::vector<std::string>& settings) {
  std::vector<std::string> missing;
  if (!description) return missing;
  for (const std::string& setting : settings) {
    const auto eq = setting.find('=');
    if (eq == std::string::npos) continue;
    for (std::size_t i = 0; i < description->keyCount; ++i) {
      const QuorvelConfigKey& key = description->keys[i];
      if (key.type != QUORVEL_KEY_PATH || !key.name || setting.compare(0, eq, key.name) != 0 || std::strlen(key.name) != eq)
        continue;
      const std::string device = quorvel::platform::SerialDevicePath(setting.substr(eq + 1));
      if (!quorvel::platform::FileExists(device.c_str())) missing.push_back(device);
    }
  }
  return missing;
}

}  // namespace

void printConfigHelp(std::FILE* out) {
  std::fputs(kHelp, out);
  quorvel::host::printConfigKeys(out);
  std::fputs(kExitHelp, out);
}

int runConfigCommand(int argc, char** argv) {
  std::string plugin;
  const char* directory = nullptr;
  std::vector<std::string> settings;
  bool defaults = false;
  std::string registersFile;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printConfigHelp(stdout);
      return kExitOk;
    }
    if (arg == "--defaults") {
      defaults = true;
      continue;
    }
    const auto option = quorvel::host::takeDirectoryOption(argc, argv, i, directory);
    if (option == quorvel::host::DirectoryOption::Missing) return usage("-C needs a directory");
    if (option == quorvel::host::DirectoryOption::Taken) continue;
    const int config = quorvel::host::takeConfigOption(argc, argv, i, registersFile);
    if (config < 0) return usage("--config needs a file");
    if (config > 0) continue;
    if (arg.size() > 1 && arg[0] == '-') {
      return usage("unknown option " + std::string(arg));
    } else if (plugin.empty()) {
      plugin = arg;
    } else {
      // As typed: the plug-in converts texts to windows-1250 and keeps a port path's bytes.
      settings.emplace_back(arg);
    }
  }
  if (plugin.empty()) return usage("the plug-in name is missing");
  std::optional<quorvel::host::NamedRegister> reg;  // a register's name: its section decides
  if (const int refused = quorvel::host::resolvePluginOrRegister(plugin, registersFile, reg)) return refused;
  if (reg) return runRegisterConfig(*reg, directory, settings);

  // The plug-in is loaded outside any job: its load handler prepares nothing.
  quorvel::platform::ModuleRef module(quorvel::platform::LoadModule(pluginFile(plugin)));
  if (!module) {
    std::fprintf(stderr, "quorvel: cannot load the plug-in %s: %s\n", plugin.c_str(),
                 quorvel::platform::LastModuleError().c_str());
    return kExitError;
  }
  const auto configure = module.symbol<quorvel::contract::ConfigTextFn>(quorvel::contract::kConfigText);
  if (!configure) {
    std::fprintf(stderr, "quorvel: %s has no configuration without its form\n", plugin.c_str());
    return kExitUsage;
  }
  // Keys and values the plug-in's description rules out are refused before it sees them.
  const QuorvelDriverDescription* description = quorvel::host::descriptionOf(module);
  if (description) {
    if (const auto refusal = quorvel::host::checkSettings(*description, settings)) {
      std::fprintf(stderr, "quorvel: %s\n", refusal->c_str());
      return kExitUsage;
    }
  }
  if (directory && !quorvel::platform::ChangeDirectory(directory)) {
    std::fprintf(stderr, "quorvel: cannot enter the job directory %s: %s\n", directory, std::strerror(errno));
    return kExitUsage;
  }
  // A change holds the job directory's lock, as a job does: a running job keeps its
  // configuration, and no job starts on a file half replaced. Showing needs no lock. A
  // directory without a lock file has had no job yet: it is only looked at, so that a
  // configuration made before any job leaves nothing but the file itself.
  quorvel::platform::JobDirectoryLock lock;
  const bool changes = !settings.empty() || defaults;
  const bool busy = changes && (quorvel::platform::FileExists(quorvel::platform::kJobLockFileName)
                                    ? lock.Acquire() == quorvel::platform::JobDirectoryLock::Result::Busy
                                    : quorvel::platform::JobDirectoryLockHolder(".") != 0);
  if (busy) {
    const long holder = quorvel::platform::JobDirectoryLockHolder(".");
    std::fprintf(stderr, "quorvel: a job is running in %s", directory ? directory : ".");
    if (holder > 0) std::fprintf(stderr, " (PID %ld)", holder);
    std::fprintf(stderr, "; its %s is not changed. Try again when the job has ended.\n", kConfigFile);
    return kExitJobRunning;
  }
  // From the defaults: the present file steps aside while the plug-in works, and comes back
  // unless a new one was saved in its place.
  bool setAside = false;
  if (defaults && quorvel::platform::FileExists(kConfigFile)) {
    if (!quorvel::platform::RenameFile(kConfigFile, kKeptConfigFile)) {
      std::fprintf(stderr, "quorvel: cannot keep %s as %s: %s\n", kConfigFile, kKeptConfigFile, std::strerror(errno));
      return kExitError;
    }
    setAside = true;
  }
  std::string out;
  const int result = configure(settings, out);
  if (setAside && (result != 0 || settings.empty())) {
    if (!quorvel::platform::RenameFile(kKeptConfigFile, kConfigFile)) {
      std::fprintf(stderr, "quorvel: the former configuration stays in %s: %s\n", kKeptConfigFile,
                   std::strerror(errno));
      return kExitError;
    }
    setAside = false;
  }
  if (result == 0) {
    if (setAside) std::fprintf(stderr, "quorvel: the former configuration is kept in %s\n", kKeptConfigFile);
    for (const std::string& device : missingPorts(description, settings))
      std::fprintf(stderr, "quorvel: warning: %s does not exist now; saved all the same, for a port that appears later\n",
                   device.c_str());
    std::fputs(out.c_str(), stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitError;
  }
  // A file error is the system's own message: on a line of its own.
  if (result == 2)
    std::fprintf(stderr, "quorvel: %s could not be read or written:\n    %s\n", kConfigFile, out.c_str());
  else
    std::fprintf(stderr, "quorvel: %s\n", out.c_str());
  // A file that cannot be read would block every change: say how to start again.
  if (result == 2 && !defaults && quorvel::platform::FileReadable(kConfigFile))
    std::fprintf(stderr,
                 "quorvel: to start again from the plug-in's defaults: quorvel config %s --defaults KEY=VALUE...\n"
                 "         (the present file is then kept as %s)\n",
                 plugin.c_str(), kKeptConfigFile);
  return result == 1 ? kExitUsage : kExitError;
}
