// `quorvel config quorvel_elcom` through the real program and real files: the printed
// configuration, every key stored as the form stores it, refused values with the form's
// messages and the file untouched, and a job directory made only with it running jobs
// against the simulated register.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "drivers/elcom/config.h"
#include "drivers/elcom/config_form.h"
#include "plugin/config_store.h"
#include "tests/elcom_harness.h"
#include "tests/support/test_support.h"

namespace {

using namespace quorvel;
using quorvel::test::readFile;
using quorvel::test::ScratchDir;
using quorvel::test::elcom::HostRun;
using quorvel::test::elcom::hostPath;
using quorvel::test::elcom::runProgram;

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

HostRun config(const std::string& dir, const std::vector<std::string>& settings) {
  std::vector<std::string> args = {hostPath(), "config", "quorvel_elcom", "-C", dir};
  args.insert(args.end(), settings.begin(), settings.end());
  return runProgram(args, {});
}

// The record `quorvel config` starts from without a file: the defaults, outside any job (no
// register model, so no PLU capacity).
elcom::SUConfig defaults() {
  elcom::setModelPluCapacity(0);
  elcom::SUConfig c;
  elcom::setDefaultConfig(c);
  return c;
}

std::string fileOf(const elcom::SUConfig& c) { return plugin::configFileBytes(elcom::toImage(c)); }

// The names in the directory, "." and ".." aside.
std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  return names;
}

TEST(QuorvelConfig, PrintsTheDefaultsWithoutWritingAFile) {
  ScratchDir dir;
  const HostRun r = config(dir.path(), {});
  EXPECT_EQ(r.exitStatus, 0) << r.output;
  EXPECT_EQ(r.output,
            "port = COM1\nspeed = 9600\nmux = no\nmux-type = Elzab 4x\nmux-channel = 1\nmax-plu = 0\n"
            "register = 1\ndump = no\n");
  EXPECT_FALSE(test::fileExists(dir.file("PROG_KOM.CFG")));
}

TEST(QuorvelConfig, EveryKeyIsStoredAndPrinted) {
  const struct {
    std::vector<std::string> settings;
    const char* printed;  // a line of the output after the change
    std::function<void(elcom::SUConfig&)> change;
  } cases[] = {
      {{"port=/dev/ttyUSB0"}, "port = /dev/ttyUSB0\n", [](auto& c) { plugin::storeText(c.port, sizeof c.port, "/dev/ttyUSB0"); }},
      // A device name is a file name of this system: its UTF-8 bytes are stored as they are, as
      // the form's port list gives them, so that the line opens (also where windows-1250 has
      // no such character).
      {{"port=/dev/serial/by-id/usb-Łódź_€_✓-if00"}, "port = /dev/serial/by-id/usb-Łódź_€_✓-if00\n",
       [](auto& c) { plugin::storeText(c.port, sizeof c.port, "/dev/serial/by-id/usb-Łódź_€_✓-if00"); }},
      {{"speed=38400"}, "speed = 38400\n", [](auto& c) { c.speed = 38400; }},
      {{"mux=yes", "mux-type=MPX4s", "mux-channel=8"}, "mux-type = MPX4s\n",
       [](auto& c) { c.muxOn = 1; c.muxType = kMuxMpx4s; c.muxChannel = 8; }},
      {{"mux=on", "mux-type=2", "mux-channel=15"}, "mux-channel = 15\n",
       [](auto& c) { c.muxOn = 1; c.muxType = kMuxFalwi; c.muxChannel = 15; }},
      {{"model=Quorvel_Elcom_Euro2100TX27"}, "max-plu = 27000\n", [](auto& c) { c.maxPluCode = 27000; }},
      {{"register=99"}, "register = 99\n", [](auto& c) { c.registerNumber = 99; }},
      {{"dump=yes"}, "dump = yes\n", [](auto& c) { c.binDump = 1; }},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.settings.front());
    ScratchDir dir;
    const HostRun r = config(dir.path(), k.settings);
    EXPECT_EQ(r.exitStatus, 0) << r.output;
    EXPECT_TRUE(contains(r.output, k.printed)) << r.output;
    elcom::SUConfig want = defaults();
    k.change(want);
    EXPECT_EQ(readFile(dir.file("PROG_KOM.CFG")), fileOf(want));
    // Printing afterwards shows what was stored (a port missing now was warned of, once).
    std::string stored = r.output;
    if (stored.rfind("quorvel: warning: ", 0) == 0) stored.erase(0, stored.find('\n') + 1);
    EXPECT_EQ(config(dir.path(), {}).output, stored);
  }
}

TEST(QuorvelConfig, RefusedSettingsLeaveTheFileUntouched) {
  const struct {
    std::vector<std::string> settings;
    const char* message;
  } cases[] = {
      {{"register=0"}, "the value of register is refused:\n    Wprowadź liczbę całkowitą z zakresu od 1 do 99."},
      {{"register=100"}, "the value of register is refused:\n    Wprowadź liczbę całkowitą z zakresu od 1 do 99."},
      {{"register=7x"}, "the value of register is refused:\n    Wprowadź liczbę całkowitą z zakresu od 1 do 99."},
      {{"mux=yes", "mux-channel=5"}, "the value of mux-channel is refused:\n    Wprowadź liczbę całkowitą z zakresu od 1 do 4."},
      // The channel is checked against the type it ends with, in whatever order they come.
      {{"mux-channel=12", "mux-type=MPX4s"}, "the value of mux-channel is refused:\n    Wprowadź liczbę całkowitą z zakresu od 1 do 8."},
      {{"mux-type=Elzab 8x"}, "the value of mux-type is refused:\n    must be one of Elzab 4x, Falwi, MPX4s"},
      {{"speed=19200"}, "the value of speed is refused:\n    must be one of 9600, 38400"},
      {{"mux=maybe"}, "the value of mux is refused:\n    write yes or no"},
      {{"dump=2"}, "the value of dump is refused:\n    write yes or no"},
      {{"port="}, "the value of port is refused:\n    may not be empty"},
      {{"port=" + std::string(250, 'x')}, "the value of port is refused:\n    at most 249 characters"},
      {{"port=/dev/ttyS0\nspeed = 38400"}, "the value of port is refused:\n    may not hold control characters"},
      {{"model=Euro"}, "the value of model is refused:\n    must be one of Quorvel_Elcom_Euro500T2,"},
      {{"max-plu=100"}, "the value of max-plu is refused:\n    read only"},
      {{"speed"}, "speed: a value is missing"},
      {{"register=5", "colour=red"}, "unknown key 'colour'; the keys are port, speed, mux, mux-type, mux-channel,"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.settings.back());
    ScratchDir dir;
    ASSERT_EQ(config(dir.path(), {"port=ttyS1", "register=3"}).exitStatus, 0);
    const std::string before = readFile(dir.file("PROG_KOM.CFG"));
    const HostRun r = config(dir.path(), k.settings);
    EXPECT_EQ(r.exitStatus, 64) << r.output;
    EXPECT_TRUE(contains(r.output, std::string("quorvel: ") + k.message)) << r.output;
    EXPECT_EQ(readFile(dir.file("PROG_KOM.CFG")), before);
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"PROG_KOM.CFG"});
  }
}

TEST(QuorvelConfig, AChangedFileKeepsItsModeAndNothingIsLeftBesideIt) {
  ScratchDir dir;
  ASSERT_EQ(config(dir.path(), {"register=3"}).exitStatus, 0);
  ASSERT_EQ(::chmod(dir.file("PROG_KOM.CFG").c_str(), 0664), 0);  // the shop's users may run the form
  ASSERT_EQ(config(dir.path(), {"register=4"}).exitStatus, 0);
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("PROG_KOM.CFG").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0664u);
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"PROG_KOM.CFG"});
}

TEST(QuorvelConfig, ACorruptFileIsReportedAndKept) {
  ScratchDir dir;
  test::writeFile("PROG_KOM.CFG", "x");
  const HostRun r = config(dir.path(), {"register=2"});
  EXPECT_EQ(r.exitStatus, 2) << r.output;
  EXPECT_TRUE(contains(r.output, "Nieprawidłowy plik konfiguracji PROG_KOM.CFG")) << r.output;
  EXPECT_TRUE(contains(r.output, "--defaults")) << "the way out is named: " << r.output;
  EXPECT_EQ(readFile("PROG_KOM.CFG"), "x");

  // --defaults without settings shows the defaults and touches nothing; a refused value puts
  // the file back; accepted settings make a new file and keep the old one beside it.
  const HostRun shown = config(dir.path(), {"--defaults"});
  EXPECT_EQ(shown.exitStatus, 0) << shown.output;
  EXPECT_TRUE(contains(shown.output, "register = 1")) << shown.output;
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"PROG_KOM.CFG"});
  EXPECT_EQ(config(dir.path(), {"--defaults", "register=100"}).exitStatus, 64);
  EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"PROG_KOM.CFG"});
  EXPECT_EQ(readFile("PROG_KOM.CFG"), "x");
  const HostRun saved = config(dir.path(), {"--defaults", "register=2"});
  EXPECT_EQ(saved.exitStatus, 0) << saved.output;
  EXPECT_EQ(readFile(dir.file("PROG_KOM.CFG.old")), "x");
  const std::string made = config(dir.path(), {}).output;
  ScratchDir fresh;
  EXPECT_EQ(made, config(fresh.path(), {"register=2"}).output);
}

TEST(QuorvelConfig, SavesTheBytesTheFormSavesForTheSameValues) {
  ScratchDir dir;
  const HostRun r = config(dir.path(), {"port=ttyUSB0", "model=Quorvel_Elcom_Euro500T2", "speed=38400", "mux=yes",
                                        "mux-type=Falwi", "mux-channel=12", "register=7", "dump=yes"});
  ASSERT_EQ(r.exitStatus, 0) << r.output;

  // The form over the defaults of a job for the same model, filled in and confirmed.
  const auto previous = ui::SetMessageBoxHook([](const std::string&, const std::string&, ui::Icon) {});
  elcom::setModelPluCapacity(2000);
  elcom::SUConfig record;
  elcom::setDefaultConfig(record);
  elcom::ElcomConfigForm form(record, {"COM1", "ttyUSB0"});
  form.select(elcom::ElcomConfigForm::kPort, 1);
  form.select(elcom::ElcomConfigForm::kSpeed, 1);
  form.setChecked(elcom::ElcomConfigForm::kMuxOn, true);
  form.select(elcom::ElcomConfigForm::kMuxType, 1);
  form.setText(elcom::ElcomConfigForm::kMuxChannel, "12");
  form.setText(elcom::ElcomConfigForm::kRegisterNumber, "7");
  form.setChecked(elcom::ElcomConfigForm::kBinDump, true);
  ui::SetMessageBoxHook(previous);
  ASSERT_FALSE(form.confirm());
  form.store(record);
  EXPECT_EQ(readFile(dir.file("PROG_KOM.CFG")), fileOf(record));
}

TEST(QuorvelConfig, AJobDirectoryMadeByConfigChecksTheConnectionAndReadsSales) {
  test::elcom::ElcomJob job(1);
  // The harness's own PROG_KOM.CFG for this register is what config must make.
  const std::string harnessFile = readFile(job.file("PROG_KOM.CFG"));
  ASSERT_EQ(::unlink(job.file("PROG_KOM.CFG").c_str()), 0);
  const HostRun made = config(job.path(), {"port=" + job.file("ttyElcom"), "model=Quorvel_Elcom_Euro500T2"});
  ASSERT_EQ(made.exitStatus, 0) << made.output;
  EXPECT_EQ(readFile(job.file("PROG_KOM.CFG")), harnessFile);

  job.writeJob("SprawdzeniePołączenia", "");
  job.run();
  EXPECT_EQ(job.lastRun().exitStatus, 0) << job.lastRun().output;
  EXPECT_TRUE(contains(test::cp1250ToUtf8(readFile(job.file("RAPORT.XML"))), "<Treść>Połączenie jest prawidłowe.</Treść>"));

  job.writeJob("PrzesyłanieTowarów", "<Towar><Id>11</Id><Ty>T</Ty><KP>1</KP><Na>Chleb</Na><Ce>2.50</Ce><Va>1</Va></Towar>\n");
  job.run();
  ASSERT_EQ(job.lastRun().exitStatus, 0) << job.lastRun().output;
  ASSERT_EQ(job.sim("sell plu 1 2 5.00"), 0);
  job.writeJob("OdbiórSprzedaży", "");
  job.run();
  EXPECT_TRUE(contains(test::cp1250ToUtf8(readFile(job.file("PROG_KOM.XML"))),
                       "\t<Obrót><IdUF>1</IdUF><Typ>T</Typ><Ilość>2</Ilość><Wartość>5</Wartość></Obrót>\r\n"))
      << test::cp1250ToUtf8(readFile(job.file("PROG_KOM.XML")));
}

}  // namespace
