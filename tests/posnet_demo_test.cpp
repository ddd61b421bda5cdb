// The POSNET tour of `quorvel demo`: every step runs without errors, the jobs' files are valid,
// and the register ends in the state the tour's jobs leave it in.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/support/test_support.h"

namespace {

using quorvel::test::readFile;

TEST(PosnetDemo, TourRunsEveryStepWithoutErrors) {
  quorvel::test::ScratchDir dir;
  const std::string command = std::string(QUORVEL_BIN_DIR) + "/quorvel demo posnet -C '" + dir.path() + "' 2>&1";
  std::FILE* p = ::popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  const int rc = ::pclose(p);
  EXPECT_TRUE(WIFEXITED(rc) && WEXITSTATUS(rc) == 0) << out;
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

}  // namespace
