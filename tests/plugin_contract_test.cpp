// Every built plug-in exports exactly what the contract (core/plugin_contract.h) asks of it:
// the load and unload handlers, each operation every driver offers, and for a driver the
// headless configuration of `quorvel config`; the test plug-ins also show that the optional and
// further entry points are found when a plug-in defines them. The plug-ins are the ones the
// build put in its library directory, and their exports are read from their dynamic symbol
// tables, so a driver missing an entry point or exporting a name the core never looks up (a
// misspelt operation) fails here. They are also loaded as the core loads them: in a job
// directory, with the core loaded first (a driver's load handler reads the job), for the
// operation "Konfiguracja", which opens no line to a register.
#include <dirent.h>
#include <elf.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/plugin_contract.h"
#include "host/driver_catalog.h"
#include "platform/module.h"
#include "tests/support/test_support.h"

namespace {

using namespace quorvel::platform;
using quorvel::contract::kDriverFree;
using quorvel::contract::kDriverInit;
using quorvel::contract::kOperations;
using quorvel::contract::Offer;
using quorvel::test::EnvScope;
using quorvel::test::readFile;
using quorvel::test::ScratchDir;
using quorvel::test::writeFile;

const std::string kLibDir = QUORVEL_LIB_DIR;

std::vector<std::string> split(const std::string& list) {
  std::vector<std::string> out;
  std::string::size_type from = 0;
  while (from <= list.size()) {
    const auto to = list.find_first_of(";,", from);
    const std::string item = list.substr(from, to == std::string::npos ? std::string::npos : to - from);
    if (!item.empty()) out.push_back(item);
    if (to == std::string::npos) break;
    from = to + 1;
  }
  return out;
}

// The names a shared object exports as C functions or data: the defined, visible symbols of
// its dynamic symbol table that are not C++ names (those begin with "_Z").
std::set<std::string> exportedCNames(const std::string& path) {
  const std::string file = readFile(path);
  std::set<std::string> names;
  Elf64_Ehdr eh;
  if (file.size() < sizeof eh) return names;
  std::memcpy(&eh, file.data(), sizeof eh);
  if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64) {
    ADD_FAILURE() << path << " is not a 64-bit ELF object";
    return names;
  }
  auto section = [&](std::size_t i) {
    Elf64_Shdr sh{};
    const std::size_t at = eh.e_shoff + i * sizeof sh;
    if (i < eh.e_shnum && at + sizeof sh <= file.size()) std::memcpy(&sh, file.data() + at, sizeof sh);
    return sh;
  };
  for (std::size_t i = 0; i < eh.e_shnum; ++i) {
    const Elf64_Shdr dynsym = section(i);
    if (dynsym.sh_type != SHT_DYNSYM) continue;
    const Elf64_Shdr strtab = section(dynsym.sh_link);
    for (std::size_t at = dynsym.sh_offset; at + sizeof(Elf64_Sym) <= dynsym.sh_offset + dynsym.sh_size &&
                                            at + sizeof(Elf64_Sym) <= file.size();
         at += sizeof(Elf64_Sym)) {
      Elf64_Sym sym;
      std::memcpy(&sym, file.data() + at, sizeof sym);
      const unsigned bind = ELF64_ST_BIND(sym.st_info);
      if (sym.st_shndx == SHN_UNDEF || (bind != STB_GLOBAL && bind != STB_WEAK) ||
          ELF64_ST_VISIBILITY(sym.st_other) != STV_DEFAULT || sym.st_name >= strtab.sh_size ||
          strtab.sh_offset + sym.st_name >= file.size())
        continue;
      const std::string name(file.data() + strtab.sh_offset + sym.st_name);
      if (!name.empty() && name.rfind("_Z", 0) != 0) names.insert(name);
    }
  }
  return names;
}

// The plug-ins the build made: every quorvel_*.so of the library directory. The test plug-in
// without handlers is left out: it stands for a broken plug-in the loader must refuse.
std::vector<std::string> builtPlugins() {
  std::vector<std::string> found;
  if (DIR* d = ::opendir(kLibDir.c_str())) {
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name.rfind("quorvel_", 0) == 0 && name.size() > 3 && name.substr(name.size() - 3) == ".so" &&
          name != "quorvel_test_bare.so")
        found.push_back(name.substr(0, name.size() - 3));
    }
    ::closedir(d);
  }
  std::sort(found.begin(), found.end());
  return found;
}

TEST(PluginContract, EveryBuiltPluginExportsExactlyTheEntryPointsItMust) {
  const std::vector<std::string> plugins = builtPlugins();
  for (const std::string& driver : split(QUORVEL_DRIVER_PLUGINS))
    EXPECT_NE(std::find(plugins.begin(), plugins.end(), driver), plugins.end()) << driver << " was not built";
  ASSERT_GE(plugins.size(), 3u) << "no driver plug-in is built";

  for (const std::string& plugin : plugins) {
    SCOPED_TRACE(plugin);
    // quorvel_test_full offers every operation and the driver hooks, quorvel_test_basic only
    // what every driver must; any other plug-in is a driver.
    const bool test = plugin.rfind("quorvel_test_", 0) == 0;
    const bool further = plugin == "quorvel_test_full";
    std::set<std::string> required = {kAttachSymbol, kDetachSymbol};
    std::set<std::string> optional;  // a driver may offer them; quorvel_test_basic does not
    for (const auto& op : kOperations)
      (op.offer == Offer::every || further ? required : optional).insert(op.entry);
    (further ? required : optional).insert({kDriverInit, kDriverFree});
    if (!test)
      required.insert({quorvel::contract::kConfigText, quorvel::contract::kDriverDescription,
                       quorvel::contract::kDryRun, quorvel::contract::kProbe});
    if (test) optional.clear();

    std::set<std::string> exported = exportedCNames(kLibDir + "/" + plugin + ".so");
    if (test) std::erase_if(exported, [](const std::string& n) { return n.rfind("qtp_", 0) == 0; });
    for (const std::string& name : required) EXPECT_TRUE(exported.count(name)) << "missing: " << name;
    for (const std::string& name : exported)
      EXPECT_TRUE(required.count(name) || optional.count(name)) << "not in the contract: " << name;

    // Loaded as the core loads it, each of those names is found in the plug-in itself (the
    // core's own handlers, seen through the plug-in's dependency on it, do not count).
    // Vendor-library stand-ins lie in a folder of their own, never beside the core; the
    // library path names it, as a shop's real libraries are reached.
    ScratchDir dir;
    EnvScope libraryPath("QUORVEL_LIBRARY_PATH", QUORVEL_STANDIN_DIR);
    writeFile("VEXA_JOB.XML",
              "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n"
              "<Dane operacja=\"Konfiguracja\" idModelu=\"Quorvel_Elcom_Euro500T2\"></Dane>\r\n");
    ModuleRef core(LoadModule(kLibDir + "/libQuorvel.so"));
    ASSERT_TRUE(core) << LastModuleError();
    ModuleRef module(LoadModule(kLibDir + "/" + plugin + ".so"));
    ASSERT_TRUE(module) << LastModuleError();
    for (const std::string& name : required) EXPECT_NE(FindSymbol(module.get(), name.c_str()), nullptr) << name;
  }
}

// Every driver describes itself completely and consistently (named as its file, models and
// keys each named once, every default within its key's range or list), and the defaults it
// describes are what its headless configuration prints without PROG_KOM.CFG, key by key.
TEST(PluginContract, EveryDriverDescribesItselfAsItConfigures) {
  for (const std::string& plugin : builtPlugins()) {
    if (plugin.rfind("quorvel_test_", 0) == 0) continue;
    SCOPED_TRACE(plugin);
    ModuleRef module(InspectModule(kLibDir + "/" + plugin + ".so"));
    ASSERT_TRUE(module) << LastModuleError();
    const QuorvelDriverDescription* d = quorvel::host::descriptionOf(module);
    ASSERT_NE(d, nullptr);
    for (const std::string& problem : quorvel::host::descriptionProblems(*d, plugin)) ADD_FAILURE() << problem;

    std::string described;
    for (std::size_t i = 0; i < d->keyCount; ++i)
      if (d->keys[i].defaultValue) described += std::string(d->keys[i].name) + " = " + d->keys[i].defaultValue + "\n";
    ScratchDir dir;
    std::string printed;
    const auto configure = module.symbol<quorvel::contract::ConfigTextFn>(quorvel::contract::kConfigText);
    ASSERT_NE(configure, nullptr);
    EXPECT_EQ(configure({}, printed), 0) << printed;
    EXPECT_EQ(printed, described);
    // Every default, set again, is taken by the description's check as by the plug-in.
    std::vector<std::string> settings;
    for (std::size_t i = 0; i < d->keyCount; ++i)
      if (d->keys[i].defaultValue && !(d->keys[i].flags & QUORVEL_KEY_READ_ONLY))
        settings.push_back(std::string(d->keys[i].name) + "=" + d->keys[i].defaultValue);
    EXPECT_EQ(quorvel::host::checkSettings(*d, settings), std::nullopt);
  }
}

}  // namespace
