// The POSNET driver through the stand-in libraries against posnet_sim, as `quorvel` runs it:
// the tour of `quorvel demo` and the bytes the register sees on its serial line.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "sim/posnet/frame.h"
#include "tests/support/test_support.h"

namespace {

using quorvel::test::readFile;

std::string runOutput(const std::string& command, int& exitStatus) {
  std::FILE* p = ::popen((command + " 2>&1").c_str(), "r");
  std::string out;
  char buf[4096];
  for (std::size_t n; p && (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int rc = p ? ::pclose(p) : -1;
  exitStatus = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  return out;
}

TEST(PosnetDemo, TourRunsEveryStepWithoutErrors) {
  quorvel::test::ScratchDir dir;
  int rc = -1;
  const std::string out = runOutput(std::string(QUORVEL_BIN_DIR) + "/quorvel demo posnet -C '" + dir.path() + "'", rc);
  EXPECT_EQ(rc, 0) << out;
  EXPECT_EQ(out.find("ERROR"), std::string::npos) << out;
  for (const char* expected :
       {"Status: OK  Połączenie jest prawidłowe.", "Nie znaleziono grupy towarowej o numerze 7 - towar pominięto.",
        "KP=4  KK=5900820000127  DK=5900820000134  DK=5900820000141  Na=Mleko 3,2% 1l",
        "sprzedaż:  IdUF=1  Typ=O  Ilość=-4  Wartość=-2", "-- Over the serial line"})
    EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
  EXPECT_EQ(quorvel::test::schemaErrors(dir.file("PROG_KOM.XML"), "Dane.xsd"), "");
  EXPECT_EQ(quorvel::test::schemaErrors(dir.file("RAPORT.XML"), "Raport.xsd"), "");

  // Prices changed over the serial line, counters cleared after the read-out over TCP.
  const std::string state = readFile(dir.file("kasa.txt"));
  EXPECT_EQ(state.substr(state.find("\nlimits") + 1),
            "limits\t65535\t100\n"
            "group\t1\tOgólna\n"
            "group\t2\tPieczywo\n"
            "pack\t1\t60\t0\t0\t0\t0\t0\t\t\tButelka zwrotna\n"
            "pack\t2\t1000\t0\t0\t0\t0\t0\t\t\tSkrzynka na piwo\n"
            "goods\t1\t450\t1\t2\t1\t0\t0\t0\t0\t5901234123457\t\tChleb żytni\n"
            "goods\t2\t65\t1\t2\t1\t0\t0\t0\t0\t\t\tBułka pszenna\n"
            "goods\t3\t749\t1\t1\t1\t0\t0\t0\t0\t5900512300108\t\tMasło ekstra\n"
            "goods\t4\t329\t1\t1\t1\t0\t0\t0\t0\t5900820000127\t5900820000134\\n5900820000141\tMleko 3,2% 1l\n"
            "goods\t5\t2990\t1\t1\t2\t0\t0\t0\t0\t\t\tSer żółty\n"
            "goods\t6\t2450\t1\t1\t2\t0\t0\t0\t0\t\t\tKiełbasa śląska\n"
            "goods\t7\t499\t2\t1\t2\t0\t0\t0\t0\t\t\tJabłka Szampion\n"
            "goods\t8\t199\t0\t1\t1\t0\t0\t0\t0\t5901549275001\t\tWoda źródlana 1,5l\n"
            "goods\t9\t399\t0\t1\t1\t1\t0\t0\t0\t5900535000014\t\tPiwo jasne 0,5l\n");
}

// An MPX4s multiplexer is switched on the serial line before the library opens it: the
// register sees "$$$" and the channel, then the library's hello, then the connection check.
// The library's transmission log goes to the dump's file and begins after the open.
TEST(PosnetStandinsEndToEnd, MultiplexerBytesComeBeforeTheLibrarysHello) {
  quorvel::test::ScratchDir dir;
  const std::string bin = QUORVEL_BIN_DIR, sim = bin + "/posnet_sim", state = dir.file("kasa.txt");
  int rc = -1;
  runOutput(sim + " init --state '" + state + "'", rc);
  ASSERT_EQ(rc, 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(sim.c_str(), sim.c_str(), "serve", "--state", state.c_str(), "--link", dir.file("tty").c_str(), "--raw-log",
            dir.file("raw.bin").c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  for (int i = 0; i < 200 && !quorvel::test::fileExists(dir.file("tty")); ++i) ::usleep(10000);
  runOutput(bin + "/quorvel config quorvel_posnet -C '" + dir.path() + "' connection=RS-232 'port=" + dir.file("tty") +
                "' speed=115200 mux=yes mux-type=MPX4s mux-channel=3 log=yes",
            rc);
  ASSERT_EQ(rc, 0);
  quorvel::test::writeFile(dir.file("VEXA_JOB.XML"),
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Dane operacja=\"SprawdzeniePołączenia\" "
                           "idModelu=\"Quorvel_Posnet_Combo\" xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\"/>\n");
  // The stand-ins are reached as a shop reaches its vendor libraries: through the library path.
  const std::string out = runOutput("QUORVEL_UI=none QUORVEL_LIBRARY_PATH='" + bin + "/../standins' " + bin +
                                        "/quorvel run quorvel_posnet -C '" + dir.path() + "'",
                                    rc);
  ::kill(pid, SIGTERM);
  ::waitpid(pid, nullptr, 0);
  EXPECT_EQ(rc, 0) << out;

  using namespace quorvel::posnetsim;
  Bytes expected = {'$', '$', '$', 3};
  for (const Bytes& f : {encodeFrame(1, joinFields({"HELLO"})), encodeFrame(2, joinFields({"VATGet", "0"}))})
    expected.insert(expected.end(), f.begin(), f.end());
  const std::string raw = readFile(dir.file("raw.bin"));
  EXPECT_EQ(Bytes(raw.begin(), raw.end()), expected);

  std::string log;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    if (e.path().extension() == ".dmp") log += readFile(e.path());
  EXPECT_EQ(log.find("HELLO"), std::string::npos) << log;
  EXPECT_NE(log.find("-> #2 VATGet | 0"), std::string::npos) << log;
}

}  // namespace
