// Module loading: name mapping, search order, load and unload handlers, and which symbols
// count as a module's own.
#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/module.h"
#include "tests/support/test_support.h"

namespace {

using namespace quorvel::platform;
using quorvel::test::EnvScope;
using quorvel::test::readFile;
using quorvel::test::ScratchDir;
using quorvel::test::writeFile;

const std::string kLibDir = QUORVEL_LIB_DIR;

TEST(ModuleName, DllSuffixBecomesSo) {
  struct Case {
    const char* in;
    const char* out;
  } cases[] = {
      {"quorvel_elcom.dll", "quorvel_elcom.so"},
      {"/opt/x/plugin.dll", "/opt/x/plugin.so"},
      {".dll", ".so"},
      {"quorvel_elcom.so", "quorvel_elcom.so"},
      {"libWinIP.so", "libWinIP.so"},
      {"name.dll.bak", "name.dll.bak"},
      {"dll", "dll"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(moduleFileName(c.in), c.out) << c.in;
}

TEST(ModuleSearch, BareNameIsFoundBesideTheCore) {
  ScratchDir dir;
  ModuleRef m(loadModule("quorvel_test_bare.dll"));
  ASSERT_TRUE(m) << lastModuleError();
  EXPECT_EQ(std::filesystem::path(modulePath(m.get())),
            std::filesystem::canonical(kLibDir + "/quorvel_test_bare.so"));
  EXPECT_EQ(lastModuleError(), "");
}

TEST(ModuleSearch, CoreDirectoryComesBeforeTheCurrentDirectory) {
  ScratchDir dir;
  // A file of the same name in the current directory is not even looked at.
  writeFile(dir.file("quorvel_test_bare.so"), "not a shared object");
  ModuleRef m(loadModule("quorvel_test_bare.dll"));
  ASSERT_TRUE(m) << lastModuleError();
  EXPECT_NE(modulePath(m.get()).rfind(dir.path(), 0), 0u);
}

// The job directory is never searched, also not through an empty or relative entry of the
// library path; the library path's folders come before the core's; names with a '/' are paths.
TEST(ModuleSearch, LibraryPathFirstCurrentDirectoryNever) {
  ScratchDir vendor;
  std::filesystem::copy_file(kLibDir + "/quorvel_test_bare.so", vendor.file("qtp_local.so"));
  std::filesystem::copy_file(kLibDir + "/quorvel_test_bare.so", vendor.file("quorvel_test_bare.so"));
  ScratchDir dir;  // the current directory from here on
  std::filesystem::copy_file(kLibDir + "/quorvel_test_bare.so", dir.file("qtp_local.so"));
  const std::string core = std::filesystem::canonical(kLibDir).string();
  const std::string exe = std::filesystem::canonical(QUORVEL_BIN_DIR).string();
  struct Case {
    const char* libraryPath;  // "@" stands for the vendor folder
    const char* name;
    std::string found;        // "" when the load must fail as not found
  } cases[] = {
      {"", "qtp_local.dll", ""},
      {".", "qtp_local.dll", ""},
      {"::./:relative:", "qtp_local.dll", ""},
      {"@", "qtp_local.dll", vendor.file("qtp_local.so")},
      {".:@/", "qtp_local.dll", vendor.file("qtp_local.so")},
      {"", "quorvel_test_bare.dll", core + "/quorvel_test_bare.so"},
      {"@", "quorvel_test_bare.dll", vendor.file("quorvel_test_bare.so")},
  };
  for (const Case& c : cases) {
    std::string value = c.libraryPath;
    if (const std::size_t at = value.find('@'); at != std::string::npos) value.replace(at, 1, vendor.path());
    SCOPED_TRACE(std::string(c.name) + " with QUORVEL_LIBRARY_PATH=" + value);
    EnvScope path(kLibraryPathVariable, value);  // empty: as if not set
    ModuleRef m(loadModule(c.name));
    if (c.found.empty()) {
      EXPECT_FALSE(m);
      EXPECT_TRUE(lastModuleNotFound());
      // The file looked for and the folders searched: none of the relative entries.
      EXPECT_EQ(lastModuleSearchNote().rfind("szukano pliku qtp_local.so w folderach: " + core + ", " + exe + ", ", 0), 0u)
          << lastModuleSearchNote();
      EXPECT_EQ(lastModuleSearchNote().find(dir.path()), std::string::npos) << lastModuleSearchNote();
      EXPECT_NE(lastModuleError().find("qtp_local.so: not found in "), std::string::npos) << lastModuleError();
    } else {
      ASSERT_TRUE(m) << lastModuleError();
      EXPECT_EQ(modulePath(m.get()), std::filesystem::canonical(c.found).string());
      EXPECT_FALSE(lastModuleNotFound());
      EXPECT_EQ(lastModuleSearchNote(), "");
    }
  }
  // A name holding a '/' is a path, taken as the caller gave it.
  std::filesystem::create_directory(dir.file("sub"));
  std::filesystem::copy_file(kLibDir + "/quorvel_test_bare.so", dir.file("sub/qtp_sub.so"));
  ModuleRef byPath(loadModule(dir.file("sub/qtp_sub.dll")));
  EXPECT_TRUE(byPath) << lastModuleError();
  ModuleRef relative(loadModule("sub/qtp_sub.dll"));
  EXPECT_TRUE(relative) << lastModuleError();
}

TEST(ModuleSearch, MissingOrBrokenFilesFailWithAReason) {
  ScratchDir dir;
  writeFile(dir.file("qtp_broken.so"), "not a shared object");
  for (const char* name : {"qtp_nowhere_at_all.dll", "qtp_broken.dll", ""}) {
    EXPECT_EQ(loadModule(name), nullptr) << name;
    EXPECT_FALSE(lastModuleRefused()) << name;
    EXPECT_NE(lastModuleError(), "") << name;
  }
}

TEST(ModuleSymbols, OnlyTheModulesOwnDefinitionsCount) {
  ScratchDir dir;
  // The bare module has no handlers of its own; the core it depends on exports both.
  ASSERT_NE(::dlsym(RTLD_DEFAULT, "quorvel_module_attach"), nullptr);
  ModuleRef m(loadModule("quorvel_test_bare.dll"));
  ASSERT_TRUE(m) << lastModuleError();
  EXPECT_NE(findSymbol(m.get(), "qtp_marker"), nullptr);
  for (const char* name : {"quorvel_module_attach", "quorvel_module_detach", "SetError", "Quorvel_run",
                           "opKonfiguracja", "no_such_symbol"})
    EXPECT_EQ(findSymbol(m.get(), name), nullptr) << name;
  EXPECT_EQ(findSymbol(nullptr, "qtp_marker"), nullptr);
}

TEST(ModuleHandlers, AttachRunsAtLoadDetachAtRelease) {
  ScratchDir dir;
  ModuleRef m(loadModule("quorvel_test_full.dll"));
  ASSERT_TRUE(m) << lastModuleError();
  EXPECT_NE(findSymbol(m.get(), "quorvel_module_attach"), nullptr);
  // No job is loaded in this process: the plug-in sees null job objects.
  EXPECT_EQ(readFile("TEST_PLUGIN.LOG"), "attach --- \n");
  m.reset();
  EXPECT_EQ(readFile("TEST_PLUGIN.LOG"), "attach --- \ndetach\n");
}

TEST(ModuleHandlers, RefusedAttachIsDetachedAndTheLoadFails) {
  ScratchDir dir;
  writeFile("TEST_PLUGIN.IN", "attach refuse\n");
  EXPECT_EQ(loadModule("quorvel_test_full.dll"), nullptr);
  EXPECT_TRUE(lastModuleRefused());
  EXPECT_NE(lastModuleError().find("refused"), std::string::npos);
  EXPECT_EQ(readFile("TEST_PLUGIN.LOG"), "attach --- \ndetach\n");
  // A later load starts afresh.
  writeFile("TEST_PLUGIN.IN", "");
  ModuleRef again(loadModule("quorvel_test_full.dll"));
  EXPECT_TRUE(again);
  EXPECT_FALSE(lastModuleRefused());
}

TEST(ModuleDirectories, ExecutableAndLoaderDirectories) {
  EXPECT_EQ(std::filesystem::path(executableDirectory()), std::filesystem::canonical(QUORVEL_BIN_DIR));
  // The loader lives in the core library.
  EXPECT_EQ(std::filesystem::path(loaderDirectory()), std::filesystem::canonical(kLibDir));
}

}  // namespace
