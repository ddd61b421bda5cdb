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
  for (const auto& c : cases) EXPECT_EQ(ModuleFileName(c.in), c.out) << c.in;
}

TEST(ModuleSearch, BareNameIsFoundBesideTheCore) {
  ScratchDir dir;
  ModuleRef m(LoadModule("quorvel_test_bare.dll"));
  ASSERT_TRUE(m) << LastModuleError();
  EXPECT_EQ(std::filesystem::path(ModulePath(m.get())),
            std::filesystem::canonical(kLibDir + "/quorvel_test_bare.so"));
  EXPECT_EQ(LastModuleError(), "");
}

TEST(ModuleSearch, CoreDirectoryComesBeforeTheCurrentDirectory) {
  ScratchDir dir;
  // A file of the same name in the current directory is not even looked at.
  writeFile(dir.file("quorvel_test_bare.so"), "not a shared object");
  ModuleRef m(LoadModule("quorvel_test_bare.dll"));
  ASSERT_TRUE(m) << LastModuleError();
  EXPECT_NE(ModulePath(m.get()).rfind(dir.path(), 0), 0u);
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
    ModuleRef m(LoadModule(c.name));
    if (c.found.empty()) {
      EXPECT_FALSE(m);
      EXPECT_TRUE(LastModuleNotFound());
      // The file looked for and the folders searched: none of the relative entries.
      EXPECT_EQ(LastModuleSearchNote().rfind("szukano pliku qtp_local.so w folderach: " + core + ", " + exe + ", ", 0), 0u)
          << LastModuleSearchNote();
      EXPECT_EQ(LastModuleSearchNote().find(dir.path()), std::string::npos) << LastModuleSearchNote();
      EXPECT_NE(LastModuleError().find("qtp_local.so: not found in "), std::string::npos) << LastModuleError();
    } else {
      ASSERT_TRUE(m) << LastModuleError();
      EXPECT_EQ(ModulePath(m.get()), std::filesystem::canonical(c.found).string());
      EXPECT_FALSE(LastModuleNotFound());
      EXPECT_EQ(LastModuleSearchNote(), "");
    }
  }
  // A name holding a '/' is a path, taken as the caller gave it.
  std::filesystem::create_directory(dir.file("sub"));
  std::filesystem::copy_file(kLibDir + "/quorvel_test_bare.so", dir.file("sub/qtp_sub.so"));
  ModuleRef byPath(LoadModule(dir.file("sub/qtp_sub.dll")));
  EXPECT_TRUE(byPath) << LastModuleError();
  ModuleRef relative(LoadModule("sub/qtp_sub.dll"));
  EXPECT_TRUE(relative) << LastModuleError();
}

TEST(ModuleSearch, MissingOrBrokenFilesFailWithAReason) {
  ScratchDir dir;
  writeFile(dir.file("qtp_broken.so"), "not a shared object");
  for (const char* name : {"qtp_nowhere_at_all.dll", "qtp_broken.dll", ""}) {
    EXPECT_EQ(LoadModule(name), nullptr) << name;
    EXPECT_FALSE(LastModuleRefused()) << name;
    EXPECT_NE(LastModuleError(), "") << name;
  }
}

TEST(ModuleSymbols, OnlyTheModulesOwnDefinitionsCount) {
  ScratchDir dir;
  // The bare module has no handlers of its own; the core it depends on exports both.
  ASSERT_NE(::dlsym(RTLD_DEFAULT, "quorvel_module_attach"), nullptr);
  ModuleRef m(LoadModule("quorvel_test_bare.dll"));
  ASSERT_TRUE(m) << LastModuleError();
  EXPECT_NE(FindSymbol(m.get(), "qtp_marker"), nullptr);
  for (const char* name : {"quorvel_module_attach", "quorvel_module_detach", "SetError", "Quorvel_run",
                           "opKonfiguracja", "no_such_symbol"})
    EXPECT_EQ(FindSymbol(m.get(), name), nullptr) << name;
  EXPECT_EQ(FindSymbol(nullptr, "qtp_marker"), nullptr);
}

TEST(ModuleHandlers, AttachRunsAtLoadDetachAtRelease) {
  ScratchDir dir;
  ModuleRef m(LoadModule("quorvel_test_full.dll"));
  ASSERT_TRUE(m) << LastModuleError();
  EXPECT_NE(FindSymbol(m.get(), "quorvel_module_attach"), nullptr);
  // No job is loaded in this process: the plug-in sees null job objects.
  EXPECT_EQ(readFile("TEST_PLUGIN.LOG"), "attach --- \n");
  m.reset();
  EXPECT_EQ(readFile("TEST_PLUGIN.LOG"), "attach --- \ndetach\n");
}

TEST(ModuleHandlers, RefusedAttachIsDetachedAndTheLoadFails) {
  ScratchDir dir;
  writeFile("TEST_PLUGIN.IN", "attach refuse\n");
  EXPECT_EQ(LoadModule("quorvel_test_full.dll"), nullptr);
  EXPECT_TRUE(LastModuleRefused());
  EXPECT_NE(LastModuleError().find("refused"), std::string::npos);
  EXPECT_EQ(readFile("TEST_PLUGIN.LOG"), "attach --- \ndetach\n");
  // A later load starts afresh.
  writeFile("TEST_PLUGIN.IN", "");
  ModuleRef again(LoadModule("quorvel_test_full.dll"));
  EXPECT_TRUE(again);
  EXPECT_FALSE(LastModuleRefused());
}

TEST(ModuleDirectories, ExecutableAndLoaderDirectories) {
  EXPECT_EQ(std::filesystem::path(ExecutableDirectory()), std::filesystem::canonical(QUORVEL_BIN_DIR));
  // The loader lives in the core library.
  EXPECT_EQ(std::filesystem::path(LoaderDirectory()), std::filesystem::canonical(kLibDir));
}

}  // namespace
