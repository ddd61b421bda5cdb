// Named registers: a readable file that gives each of a shop's registers a name, its driver
// plug-in and the keys of the plug-in's configuration, so that commands take `kasa1` where they
// take a plug-in name and the job's PROG_KOM.CFG is written from the register's section.
//
// The file (default /etc/quorvel/registers.conf; `--config FILE` or QUORVEL_REGISTERS name
// another), UTF-8:
//
//   # the shop's two registers        (whole-line comments start with # or ;)
//   [kasa1]
//   driver = quorvel_elcom
//   port = /dev/ttyUSB0
//   speed = 38400
//   model = Quorvel_Elcom_Euro2100TX27
//
//   [kasa2]
//   driver = quorvel_posnet
//   connection = Ethernet
//   ip = 192.168.1.20:6666
//   folder = /srv/kasa2
//
// Every key but `driver`, `folder` and `model` is a key of the driver's configuration, checked
// as `quorvel config` checks it. `model` names the register model the one-line operations put
// into their jobs (idModelu); a driver whose configuration has a `model` key gets it too.
// `folder` is the register's own folder, where the program keeps what it knows of the register
// between jobs; a relative folder is read against the file's folder.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace quorvel::host {

inline constexpr const char* kSystemRegistersFile = "/etc/quorvel/registers.conf";
inline constexpr const char* kRegistersFileVariable = "QUORVEL_REGISTERS";
// The folders of the registers of the system file lie below this one.
inline constexpr const char* kSystemRegisterFolders = "/var/lib/quorvel";

// One `key = value` line of a section.
struct RegisterEntry {
  std::string key;
  std::string value;
  int line = 0;
};

struct NamedRegister {
  std::string name;
  std::string driver;                 // the plug-in's name, e.g. "quorvel_elcom"
  std::string model;                  // the section's `model`, "" when it has none
  std::string folder;                 // the register's own folder (see registerFolder)
  std::vector<std::string> settings;  // "key=value" for the driver's configuration, in file order
  std::vector<RegisterEntry> entries; // every line of the section as written
  std::string file;                   // the registers file, as an absolute path
  int line = 0;                       // the line of the section's [name]

  // The value of `key` in the section; nullptr when it is not there.
  const std::string* value(const std::string& key) const;
  // "FILE:LINE" of the line of `key`, of the section header when the key is not there.
  std::string where(const std::string& key = "") const;
};

struct RegistersFile {
  std::string path;  // absolute
  std::vector<NamedRegister> registers;
};

// The registers file commands use: `given` (from --config) when not empty, else the value of
// QUORVEL_REGISTERS when set, else the system file.
std::string registersFilePath(const std::string& given);

// Reads and checks the form of a registers file: sections, `key = value` lines, comments, every
// section with one `driver`, no section or key twice, section names of letters, digits and
// . _ - (never starting with "quorvel_", which names plug-ins). The driver's keys are checked by
// checkRegister. False with `error` "FILE:LINE: why" (or "FILE: why") on the first fault.
bool readRegistersFile(const std::string& path, RegistersFile& file, std::string& error);

// Whether `name` is plainly a plug-in, never looked up among the registers: a path (with a '/'),
// a file name ending in .so or .dll, or a name starting with "quorvel_".
bool isPluginName(const std::string& name);

// The register `name` of the registers file in use (`configPath` as for registersFilePath).
// nullopt with `error` empty when `name` is no register: a plug-in name, or no section of that
// name in a file that was not asked for (the system file, or none at all). nullopt with `error`
// set when the file asked for (by --config or QUORVEL_REGISTERS) cannot be read or has no
// such section, or when the file in use has a fault.
std::optional<NamedRegister> findRegister(const std::string& name, const std::string& configPath, std::string& error);

// The register's own folder: `folder =` of the section; else for the system file
// /var/lib/quorvel/NAME, for any other file NAME.d in the file's folder.
// With `create` it is made, with the folders above it, when missing; "" with `error` when that
// fails.
std::string registerFolder(const NamedRegister& reg, bool create, std::string& error);

// The configuration the section makes: the driver plug-in is loaded (outside any job) and its
// configuration writer starts from its defaults and takes the section's keys, checked first
// against the driver's description and then by the plug-in as `quorvel config` checks them.
// `bytes` is the PROG_KOM.CFG it writes, `printed` its `key = value` lines. False with `error`
// ("FILE:LINE: key: why") when a key or value is refused or the plug-in cannot be used.
bool makeRegisterConfig(const NamedRegister& reg, std::string& bytes, std::string& printed, std::string& error);

// Checks the section: `model` against the driver's models, then makeRegisterConfig, whose
// `bytes` and `printed` it gives.
bool checkRegister(const NamedRegister& reg, std::string& bytes, std::string& printed, std::string& error);

// Writes the section's PROG_KOM.CFG into the current directory (a file with the same bytes is
// left alone). The job-directory lock is taken meanwhile: a directory where a job runs keeps
// its file, and the result is false with `busy` set. False with `error` on any failure.
bool writeRegisterConfigHere(const NamedRegister& reg, std::string& error, bool& busy);

// The plug-in file the program loads for a plug-in name outside a job (`quorvel config`): a path
// as given, otherwise NAME.so beside the core of this program.
std::string pluginLibraryFile(const std::string& name);

// Reads "--config FILE" or "--config=FILE" at argv[i] (i moves past FILE). 0 when argv[i] is no
// such option, 1 when taken, -1 when FILE is missing.
int takeConfigOption(int argc, char** argv, int& i, std::string& configPath);

// What a command that takes PLUGIN|NAME does with the name: `name` becomes the plug-in to load
// and `reg` the register when it names one. Faults are printed ("quorvel: ..."); the result is
// then the exit status 64, otherwise 0.
int resolvePluginOrRegister(std::string& name, const std::string& configPath, std::optional<NamedRegister>& reg);

}  // namespace quorvel::host
