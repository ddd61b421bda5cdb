// The shared core loaded in process as a host loads it: the exported job objects exist from
// load to unload and are shared with the plug-in, and one load runs one job.
#include <dlfcn.h>

#include <string>

#include <gtest/gtest.h>

#include "platform/module.h"
#include "tests/support/test_support.h"

namespace {

using namespace quorvel::platform;
using quorvel::test::readFile;
using quorvel::test::ScratchDir;
using quorvel::test::writeFile;

const std::string kCore = std::string(QUORVEL_LIB_DIR) + "/libQuorvel.so";

TEST(SharedCore, OneLoadRunsOneJobWithObjectsSharedWithThePlugin) {
  ScratchDir dir;
  writeFile("VEXA_JOB.XML",
            "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n"
            "<Dane operacja=\"Przesy\xB3\x61nieTowar\xF3w\" idModelu=\"M\">\r\n"
            "<Towar><Id>11</Id></Towar>\r\n</Dane>\r\n");
  writeFile("TEST_PLUGIN.IN", "goods\n");
  ModuleRef core(LoadModule(kCore));
  ASSERT_TRUE(core) << LastModuleError();
  // A second reference keeps the library mapped after the host's release, so that its
  // globals can still be read then.
  void* keep = ::dlopen(kCore.c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(keep, nullptr);
  void** globals[] = {core.symbol<void**>("raport"), core.symbol<void**>("vexa"), core.symbol<void**>("progKom")};
  for (void** g : globals) {
    ASSERT_NE(g, nullptr);
    EXPECT_NE(*g, nullptr);
  }
  auto run = core.symbol<void (*)(const std::string&)>("Quorvel_run");
  ASSERT_NE(run, nullptr);

  run("quorvel_test_full");
  // The catalogue is gone after the first operation: a second run finds nothing to send.
  run("quorvel_test_full");
  core.reset();
  for (void** g : globals) EXPECT_EQ(*g, nullptr);
  ::dlclose(keep);

  EXPECT_EQ(readFile("TEST_PLUGIN.LOG"),
            "attach RVP Przesy\xB3\x61nieTowar\xF3w\nopDriverInit\nopPrzesylanieTowarow goods=1\nopDriverFree\ndetach\n"
            "attach RVP Przesy\xB3\x61nieTowar\xF3w\ndetach\n");
  EXPECT_NE(readFile("PROG_KOM.XML").find("\t<Towar><Id>11</Id></Towar>\r\n</Dane>"), std::string::npos);
  const std::string report = readFile("RAPORT.XML");
  EXPECT_NE(report.find("<Typ>W</Typ>\r\n\t\t<Tre\x9C\xE6>Brak towar\xF3w do przes\xB3\x61nia</Tre\x9C\xE6>\r\n\t</Status>"),
            std::string::npos)
      << report;
}

}  // namespace
