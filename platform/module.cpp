#include "platform/module.h"

#include <dirent.h>
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/cp1250.h"

namespace quorvel::platform {

struct Module {
  void* handle = nullptr;
  std::string path;
  bool attached = true;  // false: mapped only to be read (InspectModule), no handlers run
};

namespace {

std::string g_lastError;
bool g_lastRefused = false;
std::string g_lastRefusal;

using AttachFn = int (*)();
using DetachFn = void (*)();
using RefusalFn = const char* (*)();

std::string directoryOf(const std::string& path) {
  const auto slash = path.rfind('/');
  if (slash == std::string::npos) return std::string();
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string canonical(const std::string& path) {
  char buf[PATH_MAX];
  if (::realpath(path.c_str(), buf)) return buf;
  return path;
}

bool isRegularReadable(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), R_OK) == 0;
}

// Link map of the object that defines the given address, or nullptr.
const link_map* objectOf(const void* address) {
  Dl_info info{};
  link_map* map = nullptr;
  if (!::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP)) return nullptr;
  return map;
}

const link_map* objectOfHandle(void* handle) {
  link_map* map = nullptr;
  if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0) return nullptr;
  return map;
}

void* ownSymbol(void* handle, const char* name) {
  ::dlerror();
  void* address = ::dlsym(handle, name);
  if (!address) return nullptr;
  // dlsym also searches the module's dependencies; every plug-in depends on the core, which
  // exports handlers of the same names. Only the module's own definition counts.
  const link_map* own = objectOfHandle(handle);
  if (!own || objectOf(address) != own) return nullptr;
  return address;
}

// The object (main program or shared library) that holds this loader code.
const link_map* loaderObject() { return objectOf(reinterpret_cast<const void*>(&objectOf)); }

bool loaderIsMainProgram() {
  void* main = ::dlopen(nullptr, RTLD_LAZY);
  if (!main) return true;
  const bool same = objectOfHandle(main) == loaderObject();
  ::dlclose(main);
  return same;
}

// A new reference to the loader's own object (release it with dlclose), or nullptr.
void* loaderObjectHandle() {
  if (loaderIsMainProgram()) return ::dlopen(nullptr, RTLD_LAZY);
  const link_map* own = loaderObject();
  if (!own || !own->l_name) return nullptr;
  return ::dlopen(own->l_name, RTLD_LAZY | RTLD_NOLOAD);
}

// The directories the dynamic linker would search for a library opened by the loader's own
// file: LD_LIBRARY_PATH, its RUNPATH (with $ORIGIN expanded), the system directories. Asked
// for explicitly because the linker decides by the caller's address, and an interposed dlopen
// (a sanitizer's, for one) would make it search on behalf of the wrong file. `relative` is set
// when one of them is not an absolute folder (an empty LD_LIBRARY_PATH entry means the current
// directory to the linker); such entries are left out of the list.
std::vector<std::string> linkerDirectories(bool& relative) {
  relative = false;
  std::vector<std::string> dirs;
  void* self = loaderObjectHandle();
  if (!self) return dirs;
  Dl_serinfo size{};
  if (::dlinfo(self, RTLD_DI_SERINFOSIZE, &size) == 0 && size.dls_size >= sizeof(Dl_serinfo)) {
    std::vector<unsigned char> buffer(size.dls_size);
    auto* serinfo = reinterpret_cast<Dl_serinfo*>(buffer.data());
    serinfo->dls_size = size.dls_size;
    serinfo->dls_cnt = size.dls_cnt;
    if (::dlinfo(self, RTLD_DI_SERINFO, serinfo) == 0)
      for (unsigned i = 0; i < serinfo->dls_cnt; ++i) {
        const char* name = serinfo->dls_serpath[i].dls_name;
        if (name && name[0] == '/')
          dirs.emplace_back(name);
        else
          relative = true;
      }
  }
  ::dlclose(self);
  return dirs;
}

void addDirectory(std::vector<std::string>& dirs, std::string dir) {
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  // Only absolute folders: a relative one would be read against the current (job) directory.
  if (dir.empty() || dir[0] != '/') return;
  for (const auto& known : dirs)
    if (known == dir) return;
  dirs.push_back(std::move(dir));
}

struct Search {
  std::vector<std::string> dirs;
  bool linkerRuleSafe = true;  // the linker's own rule cannot reach a relative folder
};

Search searchDirectories() {
  Search search;
  for (auto& dir : LibraryPathDirectories()) addDirectory(search.dirs, std::move(dir));
  addDirectory(search.dirs, LoaderDirectory());
  addDirectory(search.dirs, ExecutableDirectory());
  bool relative = false;
  for (auto& dir : linkerDirectories(relative)) addDirectory(search.dirs, std::move(dir));
  search.linkerRuleSafe = !relative;
  return search;
}

std::string joined(const std::vector<std::string>& items) {
  std::string text;
  for (const auto& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

// What the last failed search went through, for the callers' messages.
std::vector<std::string> g_lastSearchedFiles;
std::vector<std::string> g_lastSearchedDirs;
bool g_lastNotFound = false;
bool g_lastLinkerRuleTried = false;

void noteNotFound(const std::vector<std::string>& fileNames, const Search& search) {
  g_lastNotFound = true;
  g_lastSearchedFiles = fileNames;
  g_lastSearchedDirs = search.dirs;
  g_lastLinkerRuleTried = search.linkerRuleSafe;
  g_lastError = joined(fileNames) + ": not found in " + (search.dirs.empty() ? "no folder" : joined(search.dirs));
  if (search.linkerRuleSafe) g_lastError += " nor by the dynamic linker";
}

// The file to map for the first of `fileNames` found, directory by directory, or "" when
// none was found in the folders of the search.
std::string locateAny(const std::vector<std::string>& fileNames, const Search& search) {
  for (const auto& dir : search.dirs)
    for (const auto& fileName : fileNames) {
      const std::string candidate = dir == "/" ? "/" + fileName : dir + "/" + fileName;
      if (isRegularReadable(candidate)) return candidate;
    }
  return std::string();
}

std::string pathOfHandle(void* handle, const std::string& fallback) {
  const link_map* map = objectOfHandle(handle);
  if (map && map->l_name && map->l_name[0]) return canonical(map->l_name);
  return fallback;
}

}  // namespace

std::string ModuleFileName(const std::string& name) {
  static constexpr char kDll[] = ".dll";
  constexpr std::size_t n = sizeof kDll - 1;
  if (name.size() >= n && name.compare(name.size() - n, n, kDll) == 0)
    return name.substr(0, name.size() - n) + ".so";
  return name;
}

std::string ExecutablePath() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string ExecutableDirectory() {
  const std::string path = ExecutablePath();
  return path.empty() ? path : directoryOf(path);
}

std::string LoaderDirectory() {
  // The main program has no file name of its own in the link map.
  if (loaderIsMainProgram()) return ExecutableDirectory();
  const link_map* own = loaderObject();
  if (!own || !own->l_name || !std::strchr(own->l_name, '/')) return ExecutableDirectory();
  return directoryOf(canonical(own->l_name));
}

namespace {

Module* loadLocated(const std::string& fileName, const std::string& located, bool attach);

}  // namespace

namespace {

void clearLast() {
  g_lastError.clear();
  g_lastRefused = false;
  g_lastRefusal.clear();
  g_lastNotFound = false;
  g_lastSearchedFiles.clear();
  g_lastSearchedDirs.clear();
  g_lastLinkerRuleTried = false;
}

Module* loadFirstOf(const std::vector<std::string>& fileNames, bool attach) {
  // A name holding a '/' is a path: the caller chose the file.
  for (const auto& fileName : fileNames)
    if (fileName.find('/') != std::string::npos) return loadLocated(fileName, fileName, attach);
  const Search search = searchDirectories();
  const std::string located = locateAny(fileNames, search);
  if (!located.empty()) return loadLocated(located, located, attach);
  // Found in no folder: the dynamic linker's own rule, name by name, which adds what only its
  // cache knows. Not when that rule holds a relative folder, which could be the job directory.
  if (search.linkerRuleSafe) {
    for (const auto& fileName : fileNames) {
      if (Module* m = loadLocated(fileName, std::string(), attach)) return m;
      if (g_lastRefused) return nullptr;
    }
  }
  noteNotFound(fileNames, search);
  return nullptr;
}

}  // namespace

namespace {

Module* loadNamed(const std::vector<std::string>& names, bool attach) {
  clearLast();
  std::vector<std::string> fileNames;
  for (const auto& name : names)
    if (!name.empty()) fileNames.push_back(ModuleFileName(name));
  if (fileNames.empty()) {
    g_lastError = "empty module name";
    return nullptr;
  }
  return loadFirstOf(fileNames, attach);
}

}  // namespace

Module* LoadModule(const std::string& name) { return loadNamed({name}, true); }

Module* LoadModuleAnyOf(const std::vector<std::string>& names) { return loadNamed(names, true); }

Module* InspectModuleNamed(const std::string& name) { return loadNamed({name}, false); }

std::vector<std::string> LibraryPathDirectories() {
  std::vector<std::string> dirs;
  const char* value = std::getenv(kLibraryPathVariable);
  if (!value) return dirs;
  const std::string list = value;
  std::size_t start = 0;
  while (start <= list.size()) {
    const std::size_t colon = list.find(':', start);
    const std::size_t end = colon == std::string::npos ? list.size() : colon;
    addDirectory(dirs, list.substr(start, end - start));
    if (colon == std::string::npos) break;
    start = colon + 1;
  }
  return dirs;
}

std::vector<std::string> ModuleSearchDirectories() { return searchDirectories().dirs; }

bool LastModuleNotFound() { return g_lastNotFound; }

std::string LastModuleSearchNote() {
  if (!g_lastNotFound) return std::string();
  std::string note = g_lastSearchedFiles.size() == 1 ? "szukano pliku " : "szukano plików "_cp;
  note += joined(g_lastSearchedFiles) + " w folderach: " + (g_lastSearchedDirs.empty() ? "(brak)" : joined(g_lastSearchedDirs));
  if (g_lastLinkerRuleTried) note += " oraz w ld.so.cache";
  return note;
}

namespace {

Module* loadLocated(const std::string& fileName, const std::string& located, bool attach) {
  ::dlerror();
  void* handle = ::dlopen(located.empty() ? fileName.c_str() : located.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    g_lastError = why ? why : fileName + ": cannot be loaded";
    return nullptr;
  }
  auto* module = new Module{handle, pathOfHandle(handle, located.empty() ? fileName : located), attach};
  if (!attach) return module;
  if (auto attach = reinterpret_cast<AttachFn>(ownSymbol(handle, kAttachSymbol))) {
    if (attach() == 0) {
      // Asked before the detach: the module's own text goes with it.
      if (auto refusal = reinterpret_cast<RefusalFn>(ownSymbol(handle, kRefusalSymbol)))
        if (const char* why = refusal()) g_lastRefusal = why;
      // A refused attach is undone as the original platform does: detach, then unmap.
      if (auto detach = reinterpret_cast<DetachFn>(ownSymbol(handle, kDetachSymbol))) detach();
      ::dlclose(handle);
      g_lastError = module->path + ": the module refused to load";
      g_lastRefused = true;
      delete module;
      return nullptr;
    }
  }
  return module;
}

}  // namespace

void* FindSymbol(Module* module, const char* name) {
  if (!module || !name) return nullptr;
  return ownSymbol(module->handle, name);
}

Module* InspectModule(const std::string& path) {
  clearLast();
  ::dlerror();
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* why = ::dlerror();
    g_lastError = why ? why : path + ": cannot be loaded";
    return nullptr;
  }
  return new Module{handle, pathOfHandle(handle, path), false};
}

std::vector<std::string> ModuleFilesIn(const std::string& directory, const std::string& prefix,
                                       const std::string& suffix) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(directory.c_str());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.size() > prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0 &&
        isRegularReadable(directory + "/" + name))
      names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

void ReleaseModule(Module* module) {
  if (!module) return;
  if (!module->attached) {
    ::dlclose(module->handle);
    delete module;
    return;
  }
  if (auto detach = reinterpret_cast<DetachFn>(ownSymbol(module->handle, kDetachSymbol))) detach();
  ::dlclose(module->handle);
  delete module;
}

std::string ModulePath(const Module* module) { return module ? module->path : std::string(); }

std::string LastModuleError() { return g_lastError; }

bool LastModuleRefused() { return g_lastRefused; }

std::string LastModuleRefusal() { return g_lastRefusal; }

}  // namespace quorvel::platform
