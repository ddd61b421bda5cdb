// Every built plug-in exports what the contract (core/plugin_contract.h) asks of it: the load
// and unload handlers, each operation every driver offers, and for a driver the headless
// configuration of `quorvel config`; the test plug-ins also show
// that the optional and further entry points are found when a plug-in defines them. The
// plug-ins are loaded as the core loads them: in a job directory, with the core loaded first
// (a driver's load handler reads the job), for the operation "Konfiguracja", which opens no
// line to a register.
#include <dirent.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "core/plugin_contract.h"
#include "platform/module.h"
#include "tests/support/test_support.h"

namespace {

using namespace quorvel::platform;
using quorvel::contract::kDriverFree;
using quorvel::contract::kDriverInit;
using quorvel::contract::kOperations;
using quorvel::contract::Offer;
using quorvel::test::ScratchDir;
using quorvel::test::writeFile;

const std::string kLibDir = QUORVEL_LIB_DIR;

std::vector<std::string> split(const std::string& list) {
  std::vector<std::string> out;
  std::string::size_type from = 0;
  while (from <= list.size()) {
    const auto to = list.find(';', from);
    const std::string item = list.substr(from, to == std::string::npos ? std::string::npos : to - from);
    if (!item.empty()) out.push_back(item);
    if (to == std::string::npos) break;
    from = to + 1;
  }
  return out;
}

// Vendor-library stand-ins lie in a folder of their own, never beside the core; a job
// directory reaches them, as in a shop the real libraries are reached.
void linkStandIns(const std::string& folder) {
  DIR* d = ::opendir(folder.c_str());
  if (!d) return;
  while (const dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() > 3 && name.substr(name.size() - 3) == ".so") {
      EXPECT_EQ(::symlink((folder + "/" + name).c_str(), name.c_str()), 0) << name;
    }
  }
  ::closedir(d);
}

struct Expectation {
  std::string plugin;
  bool further;  // exports the further operations and the driver hooks too
  bool driver;   // a real driver: `quorvel config` must reach its keys
};

TEST(PluginContract, EveryBuiltPluginExportsTheEntryPointsItMust) {
  std::vector<Expectation> plugins = {{"quorvel_test_full", true, false}, {"quorvel_test_basic", false, false}};
  for (const std::string& driver : split(QUORVEL_DRIVER_PLUGINS)) plugins.push_back({driver, false, true});
  ASSERT_GE(plugins.size(), 3u) << "no driver plug-in is built";

  for (const Expectation& e : plugins) {
    SCOPED_TRACE(e.plugin);
    ScratchDir dir;
    linkStandIns(QUORVEL_STANDIN_DIR);
    writeFile("VEXA_JOB.XML",
              "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n"
              "<Dane operacja=\"Konfiguracja\" idModelu=\"Quorvel_Elcom_Euro500T2\"></Dane>\r\n");
    ModuleRef core(loadModule(kLibDir + "/libQuorvel.so"));
    ASSERT_TRUE(core) << lastModuleError();
    ModuleRef plugin(loadModule(kLibDir + "/" + e.plugin + ".so"));
    ASSERT_TRUE(plugin) << lastModuleError();

    // The core's own handlers, seen through the plug-in's dependency on it, do not count.
    EXPECT_NE(findSymbol(plugin.get(), kAttachSymbol), nullptr);
    EXPECT_NE(findSymbol(plugin.get(), kDetachSymbol), nullptr);
    for (const auto& op : kOperations) {
      const bool must = op.offer == Offer::every || e.further;
      EXPECT_EQ(findSymbol(plugin.get(), op.entry) != nullptr, must) << op.entry;
    }
    EXPECT_EQ(findSymbol(plugin.get(), quorvel::contract::kConfigText) != nullptr, e.driver);
    if (e.further) {
      EXPECT_NE(findSymbol(plugin.get(), kDriverInit), nullptr);
      EXPECT_NE(findSymbol(plugin.get(), kDriverFree), nullptr);
    }
  }
}

}  // namespace
