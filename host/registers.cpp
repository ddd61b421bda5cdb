#include "host/registers.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "core/plugin_contract.h"
#include "host/driver_catalog.h"
#include "host/module_path.h"
#include "platform/job_dir.h"
#include "platform/module.h"
#include "platform/process.h"

namespace quorvel::host {

namespace {

constexpr const char* kConfigFile = "PROG_KOM.CFG";

std::string trim(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return std::string(s);
}

bool validSectionName(const std::string& name) {
  if (name.empty() || name.rfind("quorvel_", 0) == 0) return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                    c == '-' || c == '.';
    if (!ok) return false;
  }
  return name[0] != '.' && name[0] != '-';
}

std::string absolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  const std::string here = platform::CurrentDirectory();
  return here.empty() ? path : here + "/" + path;
}

std::string folderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

bool readWholeFile(const std::string& path, std::string& bytes, std::string& error) {
  platform::ReadOpenError why = platform::ReadOpenError::None;
  std::FILE* in = platform::OpenRegularFileForReading(path.c_str(), why);
  if (!in) {
    error = path + ": " + (why == platform::ReadOpenError::NotRegular ? "not a regular file" : std::strerror(errno));
    return false;
  }
  bytes.clear();
  char buffer[65536];
  bool failed = false;
  for (;;) {
    const std::size_t n = platform::ReadFromFile(in, buffer, sizeof buffer, path.c_str(), failed);
    bytes.append(buffer, n);
    if (failed || n < sizeof buffer) break;
  }
  std::fclose(in);
  if (failed) error = path + ": " + std::strerror(errno);
  return !failed;
}

// The plug-in of the section, loaded outside a job, and its description.
struct LoadedDriver {
  platform::ModuleRef module;
  const QuorvelDriverDescription* description = nullptr;
};

bool loadDriver(const NamedRegister& reg, LoadedDriver& driver, std::string& error) {
  driver.module = platform::ModuleRef(platform::LoadModule(pluginLibraryFile(reg.driver)));
  if (!driver.module) {
    error = reg.where("driver") + ": cannot load the driver plug-in " + reg.driver + ": " + platform::LastModuleError();
    return false;
  }
  driver.description = descriptionOf(driver.module);
  return true;
}

bool hasKey(const QuorvelDriverDescription* d, const char* name) {
  for (std::size_t i = 0; d && i < d->keyCount; ++i)
    if (d->keys[i].name && std::strcmp(d->keys[i].name, name) == 0) return true;
  return false;
}

// "FILE:LINE: why" for a refusal of the section's keys: "the value of KEY is refused:\n ...",
// "unknown key 'KEY'; ..." or "KEY: why".
std::string placeRefusal(const NamedRegister& reg, const std::string& why) {
  std::string key;
  const std::string unknown = "unknown key '";
  const std::string refused = "the value of ";
  if (why.rfind(unknown, 0) == 0) {
    key = why.substr(unknown.size(), why.find('\'', unknown.size()) - unknown.size());
  } else if (why.rfind(refused, 0) == 0) {
    key = why.substr(refused.size(), why.find(' ', refused.size()) - refused.size());
  } else if (const auto colon = why.find(':'); colon != std::string::npos) {
    key = why.substr(0, colon);
  }
  return reg.where(reg.value(key) ? key : "") + ": [" + reg.name + "] " + why;
}

// Runs the plug-in's configuration writer in a private temporary folder, from the defaults.
bool configureInPrivate(const NamedRegister& reg, quorvel::contract::ConfigTextFn configure,
                        const QuorvelDriverDescription* d, std::string& bytes, std::string& printed,
                        std::string& error) {
  std::vector<std::string> settings = reg.settings;
  // Without any key the writer only prints the defaults: one key set to its default makes it
  // write the file of the defaults.
  for (std::size_t i = 0; settings.empty() && d && i < d->keyCount; ++i) {
    const QuorvelConfigKey& k = d->keys[i];
    if (k.defaultValue && k.name && !(k.flags & (QUORVEL_KEY_READ_ONLY | QUORVEL_KEY_SET_ONLY)))
      settings.push_back(std::string(k.name) + "=" + k.defaultValue);
  }
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = tmp && tmp[0] == '/' ? tmp : "/tmp";
  const std::string folder = platform::MakeTemporaryDirectory(base + "/quorvel-register-XXXXXX");
  const std::string home = platform::CurrentDirectory();
  if (folder.empty() || home.empty()) {
    error = std::string("cannot make a temporary folder: ") + std::strerror(errno);
    if (!folder.empty()) platform::RemoveDirectoryTree(folder);
    return false;
  }
  bool ok = platform::ChangeDirectory(folder.c_str());
  int result = -1;
  if (ok) {
    result = configure(settings, printed);
    ok = result == 0 && readWholeFile(kConfigFile, bytes, error);
  }
  if (!platform::ChangeDirectory(home.c_str())) {
    error = "cannot return to " + home + ": " + std::strerror(errno);
    ok = false;
  }
  platform::RemoveDirectoryTree(folder);
  if (result > 0) error = placeRefusal(reg, printed);
  if (!ok && error.empty()) error = reg.where() + ": the configuration of [" + reg.name + "] could not be made";
  return ok;
}

// A `model` the driver's configuration does not take itself must be one of the driver's models.
bool checkModel(const NamedRegister& reg, std::string& error) {
  if (reg.model.empty()) return true;
  platform::ModuleRef module(platform::InspectModule(pluginLibraryFile(reg.driver)));
  const QuorvelDriverDescription* d = descriptionOf(module);
  if (!d || d->anyModel || hasKey(d, "model")) return true;
  std::string models;
  for (std::size_t i = 0; i < d->modelCount; ++i) {
    if (reg.model == d->models[i].id) return true;
    models += std::string(i ? ", " : "") + d->models[i].id;
  }
  error = reg.where("model") + ": [" + reg.name + "] model: " + reg.model + " is no model of " + reg.driver +
          " (its models: " + models + ")";
  return false;
}

}  // namespace

const std::string* NamedRegister::value(const std::string& key) const {
  for (const RegisterEntry& e : entries)
    if (e.key == key) return &e.value;
  return nullptr;
}

std::string NamedRegister::where(const std::string& key) const {
  for (const RegisterEntry& e : entries)
    if (!key.empty() && e.key == key) return file + ":" + std::to_string(e.line);
  return file + ":" + std::to_string(line);
}

std::string registersFilePath(const std::string& given) {
  if (!given.empty()) return given;
  if (const char* env = std::getenv(kRegistersFileVariable); env && env[0]) return env;
  return kSystemRegistersFile;
}

bool readRegistersFile(const std::string& path, RegistersFile& file, std::string& error) {
  file = RegistersFile{absolutePath(path), {}};
  std::string text;
  if (!readWholeFile(path, text, error)) return false;
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  const auto fault = [&](int line, const std::string& why) {
    error = file.path + ":" + std::to_string(line) + ": " + why;
    return false;
  };
  int lineNo = 0;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = trim(std::string_view(text).substr(at, end - at));
    at = end + 1;
    ++lineNo;
    if (line.empty() || line[0] == '#' || line[0] == ';') continue;
    if (line[0] == '[') {
      if (line.back() != ']') return fault(lineNo, "a section header is written [name]");
      const std::string name = trim(std::string_view(line).substr(1, line.size() - 2));
      if (!validSectionName(name))
        return fault(lineNo, "'" + name + "' cannot name a register (letters, digits, . _ -; not starting with quorvel_)");
      for (const NamedRegister& other : file.registers)
        if (other.name == name)
          return fault(lineNo, "the register [" + name + "] is named twice (first on line " +
                                   std::to_string(other.line) + ")");
      NamedRegister reg;
      reg.name = name;
      reg.file = file.path;
      reg.line = lineNo;
      file.registers.push_back(reg);
      continue;
    }
    const auto eq = line.find('=');
    if (eq == std::string::npos) return fault(lineNo, "a line is written key = value, [name] or # comment");
    if (file.registers.empty()) return fault(lineNo, "a key before the first [name]");
    NamedRegister& reg = file.registers.back();
    const std::string key = trim(std::string_view(line).substr(0, eq));
    const std::string value = trim(std::string_view(line).substr(eq + 1));
    if (key.empty()) return fault(lineNo, "a key name is missing before '='");
    if (reg.value(key) != nullptr)
      return fault(lineNo, "the key " + key + " is given twice in [" + reg.name + "] (first on line " +
                               reg.where(key).substr(reg.file.size() + 1) + ")");
    reg.entries.push_back({key, value, lineNo});
    if (key == "driver") {
      if (value.empty()) return fault(lineNo, "driver: the plug-in name is missing");
      reg.driver = value;
    } else if (key == "folder") {
      if (value.empty()) return fault(lineNo, "folder: the folder is missing");
      reg.folder = value[0] == '/' ? value : folderOf(file.path) + "/" + value;
    } else if (key == "model") {
      reg.model = value;
    } else {
      reg.settings.push_back(key + "=" + value);
    }
  }
  for (NamedRegister& reg : file.registers) {
    if (reg.driver.empty()) return fault(reg.line, "[" + reg.name + "] names no driver (driver = quorvel_...)");
    if (reg.folder.empty())
      reg.folder = file.path == kSystemRegistersFile ? std::string(kSystemRegisterFolders) + "/" + reg.name
                                                    : folderOf(file.path) + "/" + reg.name + ".d";
  }
  return true;
}

bool isPluginName(const std::string& name) {
  const auto endsWith = [&](std::string_view ext) {
    return name.size() > ext.size() && std::string_view(name).substr(name.size() - ext.size()) == ext;
  };
  return name.find('/') != std::string::npos || endsWith(".so") || endsWith(".dll") || name.rfind("quorvel_", 0) == 0;
}

std::optional<NamedRegister> findRegister(const std::string& name, const std::string& configPath, std::string& error) {
  error.clear();
  if (isPluginName(name)) return std::nullopt;
  const std::string path = registersFilePath(configPath);
  const bool asked = path != kSystemRegistersFile || !configPath.empty();
  if (!asked && !platform::FileExists(path.c_str())) return std::nullopt;
  RegistersFile file;
  if (!readRegistersFile(path, file, error)) return std::nullopt;
  for (NamedRegister& reg : file.registers)
    if (reg.name == name) return std::move(reg);
  if (asked) error = file.path + ": no register [" + name + "] (and '" + name + "' is no plug-in name: quorvel_...)";
  return std::nullopt;
}

std::string registerFolder(const NamedRegister& reg, bool create, std::string& error) {
  if (!create) return reg.folder;
  for (std::size_t slash = 1; slash != std::string::npos;) {
    slash = reg.folder.find('/', slash + 1);
    const std::string part = reg.folder.substr(0, slash);
    if (!platform::EnsureDirectory(part.c_str())) {
      error = "cannot make the folder " + part + " of the register " + reg.name + ": " + std::strerror(errno);
      return "";
    }
  }
  return reg.folder;
}

bool makeRegisterConfig(const NamedRegister& reg, std::string& bytes, std::string& printed, std::string& error) {
  LoadedDriver driver;
  if (!loadDriver(reg, driver, error)) return false;
  const auto configure = driver.module.symbol<quorvel::contract::ConfigTextFn>(quorvel::contract::kConfigText);
  if (!configure) {
    error = reg.where("driver") + ": " + reg.driver + " has no configuration without its form";
    return false;
  }
  NamedRegister withModel = reg;
  if (!reg.model.empty() && hasKey(driver.description, "model")) withModel.settings.push_back("model=" + reg.model);
  if (driver.description) {
    if (const auto refusal = checkSettings(*driver.description, withModel.settings)) {
      error = placeRefusal(reg, *refusal);
      return false;
    }
  }
  return configureInPrivate(withModel, configure, driver.description, bytes, printed, error);
}

bool checkRegister(const NamedRegister& reg, std::string& bytes, std::string& printed, std::string& error) {
  return checkModel(reg, error) && makeRegisterConfig(reg, bytes, printed, error);
}

bool writeRegisterConfigHere(const NamedRegister& reg, std::string& error, bool& busy) {
  busy = false;
  std::string bytes, printed;
  if (!checkRegister(reg, bytes, printed, error)) return false;
  platform::JobDirectoryLock lock;
  if (lock.Acquire() == platform::JobDirectoryLock::Result::Busy) {
    busy = true;
    error = "a job is running there; its " + std::string(kConfigFile) + " is left as it is";
    return false;
  }
  std::string present, ignored;
  if (platform::KindOfFile(kConfigFile) == platform::FileKind::Regular && readWholeFile(kConfigFile, present, ignored) &&
      present == bytes)
    return true;
  if (platform::ReplaceFileWhole(kConfigFile, bytes.data(), bytes.size()) != platform::ReplaceError::None) {
    error = std::string("cannot write ") + kConfigFile + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

std::string pluginLibraryFile(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  std::string bare = name;
  for (std::string_view ext : {".dll", ".so"})
    if (bare.size() > ext.size() && std::string_view(bare).substr(bare.size() - ext.size()) == ext)
      bare.resize(bare.size() - ext.size());
  return programLibrary(bare + ".so");
}

int takeConfigOption(int argc, char** argv, int& i, std::string& configPath) {
  const std::string_view arg = argv[i];
  if (arg.rfind("--config=", 0) == 0) {
    configPath = std::string(arg.substr(9));
    return configPath.empty() ? -1 : 1;
  }
  if (arg != "--config") return 0;
  if (i + 1 >= argc) return -1;
  configPath = argv[++i];
  return 1;
}

int resolvePluginOrRegister(std::string& name, const std::string& configPath, std::optional<NamedRegister>& reg) {
  std::string error;
  reg = findRegister(name, configPath, error);
  if (!error.empty()) {
    std::fprintf(stderr, "quorvel: %s\n", error.c_str());
    return 64;
  }
  if (reg) name = reg->driver;
  return 0;
}

}  // namespace quorvel::host
