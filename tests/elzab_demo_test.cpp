// The Elzab tour of `quorvel demo`: every job of the tour against the WinIP stand-in.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>

#include "tests/support/test_support.h"

namespace {

TEST(ElzabDemo, TourRunsEveryStepWithoutErrors) {
  quorvel::test::ScratchDir dir;
  const std::string command = std::string(QUORVEL_BIN_DIR) + "/quorvel demo elzab -C '" + dir.path() + "' 2>&1";
  std::FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) out.append(buf, n);
  const int status = ::pclose(pipe);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  for (const char* expected :
       {"Status: OK  Połączenie jest prawidłowe.",
        "W  Błąd nr 221: Numer PLU zajety przez inny towar.\n     goods: 110",
        "KP=3  KK=5900820000127  DK=5900820000134  DK=2000000000015", "KP=10  KK=5900535000014  KO=40",
        "W  Towar niezaprogramowany w kasie został pominięty\n     goods: 199",
        "sprzedaż:  IdUF=40  Typ=O  Ilość=-4  Wartość=-2", "sprzedaż:  IdUF=4  Typ=T  Ilość=0.456  Wartość=13.63",
        "sprzedaż:  IdUF=40  Typ=O  Ilość=6  Wartość=3",
        "PLU       10  Piwo jasne 0,5l      VAT 3  gr  1  jm  1  cena 4.19"})
    EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
  EXPECT_EQ(out.find("ERROR: AddressSanitizer"), std::string::npos) << out;
  EXPECT_EQ(quorvel::test::schemaErrors(dir.file("PROG_KOM.XML"), "Dane.xsd"), "");
  EXPECT_EQ(quorvel::test::schemaErrors(dir.file("RAPORT.XML"), "Raport.xsd"), "");
}

}  // namespace
