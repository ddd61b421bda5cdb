// Loadable modules: the core library, the driver plug-ins and vendor libraries.
//
// A module stands for what the system calls a DLL. Loading one maps the file and then runs the
// module's load handler, `quorvel_module_attach()`, which may refuse (a zero result; the module's
// optional `quorvel_module_refusal()` may then say why): the module
// is then detached and unmapped again and the load fails, just as a refused process attach makes
// the original platform's load call fail. Releasing a module runs `quorvel_module_detach()` and
// then unmaps it. A module without these functions simply has no handlers.
//
// Names: a trailing ".dll" is replaced by ".so", so the core can keep building "N.dll". A name
// holding a '/' is a path and used as it is. A bare name is looked for in this order:
//   1. the folders named in QUORVEL_LIBRARY_PATH (colon separated; empty and relative entries
//      are ignored, since a relative folder would be read against the job directory),
//   2. the directory of the file that holds this loader (the core library, in the core),
//   3. the directory of the host executable (/proc/self/exe),
//   4. the dynamic linker's folders (LD_LIBRARY_PATH, RUNPATH of the loader's file, the system
//      folders), each tried here by name, then the linker's own rule for what only its cache
//      (ld.so.cache) knows.
// Never the current directory: a job directory is writable by whoever writes jobs, and a
// library found there would run in the process that drives the registers. When the linker's
// folders hold a relative one (an empty LD_LIBRARY_PATH entry), they are searched here without
// it and the linker's own rule is not used at all.
#pragma once

#include <string>
#include <vector>

#include "platform/api.h"

namespace quorvel::platform {

struct Module;  // opaque: a loaded, attached module

// Names of the handlers every module may export.
inline constexpr const char* kAttachSymbol = "quorvel_module_attach";
inline constexpr const char* kDetachSymbol = "quorvel_module_detach";
// const char* quorvel_module_refusal(): after a refused attach, why (null: nothing to add).
inline constexpr const char* kRefusalSymbol = "quorvel_module_refusal";

// Loads and attaches the module; nullptr when no file was found, the file could not be mapped
// or its attach handler refused. LastModuleError() then says which.
QUORVEL_API Module* LoadModule(const std::string& name);

// Loads the first of several file names for one library ("libWinIP.so", "WinIP.so"): each
// directory of the search above is tried with every name before the next directory, so a
// library of either name found earlier in the order wins over one found later.
QUORVEL_API Module* LoadModuleAnyOf(const std::vector<std::string>& names);

// Address of the exported symbol `name` defined in the module's own file; nullptr when the
// module lacks it. A symbol that the module's dependencies export (the core's attach handler,
// seen through every plug-in) does not count.
QUORVEL_API void* FindSymbol(Module* module, const char* name);

// Maps the module file at `path` only to read what it exports: its load handler is not run
// (nor, at release, its unload handler). nullptr when it cannot be mapped (LastModuleError()).
QUORVEL_API Module* InspectModule(const std::string& path);

// Finds the module `name` as LoadModule does (the same search, the same LastModuleError and
// LastModuleSearchNote when no file is found) and maps it as InspectModule does: its load
// handler is not run, nor its unload handler at release.
QUORVEL_API Module* InspectModuleNamed(const std::string& name);

// The file names in `directory` that begin with `prefix` and end with `suffix` (regular,
// readable files), sorted; none when the folder cannot be read.
QUORVEL_API std::vector<std::string> ModuleFilesIn(const std::string& directory, const std::string& prefix,
                                                   const std::string& suffix);

// Detaches and unmaps the module; nullptr is ignored.
QUORVEL_API void ReleaseModule(Module* module);

// Full path of the file the module was loaded from.
QUORVEL_API std::string ModulePath(const Module* module);

// Why the last LoadModule failed ("" after a success), in English, for diagnostics; a file
// found nowhere names the file(s) looked for and the folders searched.
QUORVEL_API std::string LastModuleError();

// True when the last failed LoadModule found and mapped the file but its attach refused.
QUORVEL_API bool LastModuleRefused();

// What the module that refused the last LoadModule said about why (its quorvel_module_refusal,
// in the module's own text encoding); "" when it said nothing.
QUORVEL_API std::string LastModuleRefusal();

// "x.dll" -> "x.so"; any other name unchanged.
QUORVEL_API std::string ModuleFileName(const std::string& name);

// Path of the host executable, from /proc/self/exe ("" when unknown).
QUORVEL_API std::string ExecutablePath();

// Directory of the host executable, from /proc/self/exe ("" when unknown), without a final '/'.
QUORVEL_API std::string ExecutableDirectory();

// Directory of the file that holds this loader code (the core library in the core, the
// executable in a program that links the loader itself), without a final '/'.
QUORVEL_API std::string LoaderDirectory();

// The environment variable naming the folders searched first for a bare name.
inline constexpr const char* kLibraryPathVariable = "QUORVEL_LIBRARY_PATH";

// The absolute folders of QUORVEL_LIBRARY_PATH, in order, without trailing '/' or repeats.
QUORVEL_API std::vector<std::string> LibraryPathDirectories();

// Every folder searched for a bare name, in order (the linker's cache not included).
QUORVEL_API std::vector<std::string> ModuleSearchDirectories();

// True when the last failed load found no file of the name(s) in the search.
QUORVEL_API bool LastModuleNotFound();

// After a load that found no file: the file name(s) looked for and the folders searched, in
// windows-1250 for a report message ("szukano pliku X.so w folderach: /a, /b oraz w
// ld.so.cache"); "" otherwise.
QUORVEL_API std::string LastModuleSearchNote();

// RAII owner for a loaded module.
class ModuleRef {
 public:
  ModuleRef() = default;
  explicit ModuleRef(Module* m) : module_(m) {}
  ~ModuleRef() { ReleaseModule(module_); }
  ModuleRef(const ModuleRef&) = delete;
  ModuleRef& operator=(const ModuleRef&) = delete;
  ModuleRef(ModuleRef&& other) noexcept : module_(other.module_) { other.module_ = nullptr; }
  ModuleRef& operator=(ModuleRef&& other) noexcept {
    if (this != &other) {
      ReleaseModule(module_);
      module_ = other.module_;
      other.module_ = nullptr;
    }
    return *this;
  }
  Module* get() const { return module_; }
  explicit operator bool() const { return module_ != nullptr; }
  template <typename Fn>
  Fn symbol(const char* name) const {
    return reinterpret_cast<Fn>(FindSymbol(module_, name));
  }
  void reset() {
    ReleaseModule(module_);
    module_ = nullptr;
  }

 private:
  Module* module_ = nullptr;
};

}  // namespace quorvel::platform
