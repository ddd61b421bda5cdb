// quorvel_elcom end to end: every job goes through the host program, `quorvel run
// quorvel_elcom -C DIR`; the core loads the job, runs the plug-in, and the plug-in talks to the
// simulated register over a pseudo-terminal. The program runs on the virtual clock
// (QUORVEL_VIRTUAL_CLOCK), so the protocol's pauses are read back from its clock file and
// asserted, not waited for. No case needs the in-process path of the harness (the link
// benchmark uses it).
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "core/error_state.h"
#include "platform/clock.h"
#include "platform/module.h"
#include "plugin/config_records.h"
#include "plugin/config_store.h"
#include "tests/elcom_harness.h"
#include "tests/support/job_checks.h"
#include "tests/support/test_support.h"

namespace {

using quorvel::test::cp1250ToUtf8;
using quorvel::test::fileExists;
using quorvel::test::readFile;
using quorvel::test::elcom::RunOptions;

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

using quorvel::test::sanitizerReport;

// The harness's job with the report, the device-data file and the schema checks. Every run
// must end as its report says: exit status 0 for OK or I, 1 for W, 2 for E or no status, and
// nothing from a sanitizer.
class ElcomJob : public quorvel::test::elcom::ElcomJob {
 public:
  using quorvel::test::elcom::ElcomJob::ElcomJob;
  std::vector<unsigned long> run(const RunOptions& options = {}) {
    auto sleeps = quorvel::test::elcom::ElcomJob::run(options);
    const auto& r = lastRun();
    EXPECT_EQ(r.signal, 0) << r.output;
    quorvel::test::expectEndedAsReported(r, raport());
    return sleeps;
  }
  int simCommand(const std::string& args) const { return sim(args); }
  void checkSchemas() const { quorvel::test::expectValidResultFiles(*this); }
};

std::string dataFile(const std::string& operation, const std::string& records) {
  return "<?xml version=\"1.0\" encoding=\"windows-1250\" ?>\r\n<Dane operacja=\"" + operation +
         "\" xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\">\r\n" + records + "</Dane>";
}

const char* const kGoods =
    "<Towar><Id>11</Id><Ty>T</Ty><KP>1</KP><KK>5901234123457</KK><Na>Chleb żytni</Na><Ce>2.50</Ce><Va>1</Va></Towar>\n"
    "<Towar><Id>12</Id><Ty>T</Ty><KP>2</KP><Na>Masło</Na><Ce>6.99</Ce><Va>2</Va><KO>5</KO></Towar>\n"
    "<Towar><Id>13</Id><Ty>T</Ty><KP>3</KP><Na>Zapałki</Na><Ce>0</Ce><Va>2</Va></Towar>\n"
    "<Towar><Id>14</Id><Ty>T</Ty><KP>4</KP><Na>Woda źródlana</Na><Ce>0</Ce><CO>1</CO><Va>2</Va><JM>3</JM></Towar>\n";

// The status of a job whose only remark is the skipped goods 13.
const char* const kSkippedStatus =
    "<Status>\r\n\t\t<Typ>W</Typ>\r\n\t\t<Treść>Towar z zerową ceną i bez znacznika ceny otwartej został pominięty";

}  // namespace

TEST(ElcomEndToEnd, ConnectionCheckShortAndLongModels) {
  {
    ElcomJob job(1);
    job.writeJob("SprawdzeniePołączenia", "");
    const auto sleeps = job.run();
    EXPECT_TRUE(contains(job.raport(), "<Typ>OK</Typ>")) << job.raport();
    // Command pause, pause before the transfer, the port's closing pause.
    EXPECT_EQ(sleeps, (std::vector<unsigned long>{20, 1000, 1000}));
  }
  {
    ElcomJob job(7);
    job.writeConfig(8000, 1);  // the register reports 27000
    job.writeJob("SprawdzeniePołączenia", "");
    const auto sleeps = job.run();
    EXPECT_TRUE(contains(job.raport(),
                         "<Typ>I</Typ>\r\n\t\t<Treść>Wykryto różnicę w wielkości bazy towarowej. Kasa raportuje 27000 PLU, a "
                         "w konfiguracji jest 8000 PLU.</Treść>"))
        << job.raport();
    // Line break 15 ms and 20 ms before the command exchange.
    EXPECT_EQ(sleeps, (std::vector<unsigned long>{15, 20, 20, 1000, 1000}));
    job.checkSchemas();
  }
}

TEST(ElcomEndToEnd, SendingSkipsZeroPricesAndListsAcceptedGoods) {
  ElcomJob job(1);
  job.writeJob("PrzesyłanieTowarów", kGoods);
  const auto sleeps = job.run();
  EXPECT_EQ(job.progKom(), dataFile("PrzesyłanieTowarów",
                                    "\t<Towar><Id>11</Id></Towar>\r\n\t<Towar><Id>12</Id></Towar>\r\n\t<Towar><Id>14</Id></Towar>\r\n"));
  EXPECT_EQ(job.raport(),
            "<?xml version=\"1.0\" encoding=\"windows-1250\" ?>\r\n"
            "<Raport operacja=\"PrzesyłanieTowarów\" xmlns=\"http://schemas.quorvel.org/UF/Raport.xsd\">\r\n"
            "\t<Komunikat>\r\n\t\t<Typ>W</Typ>\r\n"
            "\t\t<Treść>Towar z zerową ceną i bez znacznika ceny otwartej został pominięty</Treść>\r\n"
            "\t\t<Towar>13</Towar>\r\n\t</Komunikat>\r\n"
            "\t<Status>\r\n\t\t<Typ>W</Typ>\r\n"
            "\t\t<Treść>Towar z zerową ceną i bez znacznika ceny otwartej został pominięty</Treść>\r\n"
            "\t</Status>\r\n</Raport>");
  const std::string shown = job.show();
  EXPECT_TRUE(contains(shown, "Chleb żytni")) << shown;
  EXPECT_TRUE(contains(shown, "cena otwarta")) << shown;
  EXPECT_FALSE(contains(shown, "Zapałki")) << shown;
  EXPECT_EQ(sleeps, (std::vector<unsigned long>{20, 1000}));
  job.checkSchemas();
}

TEST(ElcomEndToEnd, PackagesFromTheRegisterKeepTheirPrices) {
  ElcomJob job(1);
  job.writeJob("PrzesyłanieTowarów", "<Towar><Id>30</Id><Ty>O</Ty><KP>7</KP><Na>Skrzynka</Na><Ce>5.00</Ce></Towar>\n");
  job.run();
  job.writeJob("PrzesyłanieTowarów", "<Towar><Id>31</Id><Ty>O</Ty><KP>3</KP><Na>Butelka</Na><Ce>0.50</Ce></Towar>\n");
  const auto sleeps = job.run();
  EXPECT_EQ(job.progKom(), dataFile("PrzesyłanieTowarów", "\t<Towar><Id>31</Id></Towar>\r\n"));
  const std::string shown = job.show();
  EXPECT_TRUE(contains(shown, "Opakowanie  3  Opakowanie 3          cena 0.50")) << shown;
  EXPECT_TRUE(contains(shown, "Opakowanie  7  Opakowanie 7          cena 5.00")) << shown;
  // Package reading, 1000 ms, programming, 2000 ms, closing pause.
  EXPECT_EQ(sleeps, (std::vector<unsigned long>{20, 1000, 1000, 20, 2000, 1000}));
}

TEST(ElcomEndToEnd, RefusalsWarningsAndRetries) {
  struct Case {
    const char* what;
    std::vector<std::string> faults;
    std::string raportHas;
    std::string progKom;
    std::vector<unsigned long> sleeps;
  } cases[] = {
      {"duplicate name: a warning naming the goods, the rest goes on",
       {"plu:1 status:18"},
       "<Typ>W</Typ>\r\n\t\t<Treść>Zdublowana nazwa towaru (błąd nr 18)</Treść>\r\n\t\t<Towar>11</Towar>",
       "\t<Towar><Id>12</Id></Towar>\r\n\t<Towar><Id>14</Id></Towar>\r\n",
       {20, 1000}},
      {"daily report needed while sending: a warning, the rest goes on",
       {"plu:2 status:19"},
       "<Treść>Nie można zrealizować polecenia, należy wykonać raport dobowy (błąd nr 19)</Treść>\r\n\t\t<Towar>12</Towar>",
       "\t<Towar><Id>11</Id></Towar>\r\n\t<Towar><Id>14</Id></Towar>\r\n",
       {20, 1000}},
      {"busy twice: the record is sent again after 1000 ms each time",
       {"plu:2 status:1 2"},
       kSkippedStatus,
       "\t<Towar><Id>11</Id></Towar>\r\n\t<Towar><Id>12</Id></Towar>\r\n\t<Towar><Id>14</Id></Towar>\r\n",
       {20, 1000, 1000, 1000}},
      {"open receipt five times: the command is never sent",
       {"hello status:3 5"},
       "<Typ>E</Typ>\r\n\t\t<Treść>Otwarty paragon uniemożliwia połączenie z kasą (błąd nr 3)</Treść>",
       "",
       {500, 500, 500, 500, 1000}},
      {"open receipt four times, then the command goes out",
       {"hello status:3 4"},
       kSkippedStatus,
       "\t<Towar><Id>11</Id></Towar>\r\n\t<Towar><Id>12</Id></Towar>\r\n\t<Towar><Id>14</Id></Towar>\r\n",
       {500, 500, 500, 500, 20, 1000}},
      {"status -1 after the command",
       {"command:29 status:255"},
       "<Treść>Nieznany błąd (błąd nr -1)</Treść>",
       "",
       {20, 1000}},
      {"a refusal while sending ends the operation; accepted goods stay listed",
       {"plu:2 status:8"},
       "<Treść>Nieprawidłowa cena (błąd nr 8)</Treść>",
       "\t<Towar><Id>11</Id></Towar>\r\n",
       {20, 1000}},
      {"a wrong start byte is error 1007",
       {"command:29 start"},
       "<Treść>Odebrano nieprawidłowe dane z urządzenia</Treść>",
       "",
       {20, 1000}},
      {"a wrong checksum is accepted",
       {"command:29 checksum", "plu:1 checksum"},
       kSkippedStatus,
       "\t<Towar><Id>11</Id></Towar>\r\n\t<Towar><Id>12</Id></Towar>\r\n\t<Towar><Id>14</Id></Towar>\r\n",
       {20, 1000}},
  };
  for (const auto& c : cases) {
    ElcomJob job(1);
    for (const auto& f : c.faults) ASSERT_EQ(job.simCommand("fault " + f), 0) << f;
    job.writeJob("PrzesyłanieTowarów", kGoods);
    const auto sleeps = job.run();
    EXPECT_TRUE(contains(job.raport(), c.raportHas)) << c.what << "\n" << job.raport();
    EXPECT_EQ(job.progKom(), dataFile("PrzesyłanieTowarów", c.progKom)) << c.what;
    EXPECT_EQ(sleeps, c.sleeps) << c.what;
    job.checkSchemas();
  }
}

TEST(ElcomEndToEnd, PriceChangeSendsOnlyProgrammedGoods) {
  ElcomJob job(3);
  job.writeJob("PrzesyłanieTowarów", kGoods);
  job.run();
  job.writeJob("ZmianaCenTowarów",
               "<Towar><Id>11</Id><Ty>T</Ty><KP>1</KP><Ce>2.75</Ce></Towar>\n"
               "<Towar><Id>15</Id><Ty>T</Ty><KP>5</KP><Ce>1.00</Ce></Towar>\n");
  const auto sleeps = job.run();
  EXPECT_TRUE(contains(job.raport(),
                       "<Treść>Towar niezaprogramowany w kasie został pominięty</Treść>\r\n\t\t<Towar>15</Towar>"))
      << job.raport();
  EXPECT_EQ(job.progKom(), dataFile("ZmianaCenTowarów", "\t<Towar><Id>11</Id></Towar>\r\n"));
  const std::string shown = job.show();
  EXPECT_TRUE(contains(shown, "Chleb żytni           kod 5901234123457       cena 2.75  VAT 1")) << shown;
  // Read-back (20, 1000), 1000 ms, sending (20), closing pause.
  EXPECT_EQ(sleeps, (std::vector<unsigned long>{20, 1000, 1000, 20, 1000}));

  job.writeJob("ZmianaCenTowarów", "<Towar><Id>31</Id><Ty>O</Ty><KP>3</KP><Ce>0.50</Ce></Towar>\n");
  job.run();
  EXPECT_TRUE(contains(job.raport(), "<Typ>W</Typ>\r\n\t\t<Treść>Brak towarów do zmiany cen</Treść>")) << job.raport();
}

TEST(ElcomEndToEnd, DeletingGoodsAndEverything) {
  ElcomJob job(6);
  job.writeJob("PrzesyłanieTowarów",
               std::string(kGoods) + "<Towar><Id>31</Id><Ty>O</Ty><KP>3</KP><Na>Butelka</Na><Ce>0.50</Ce></Towar>\n"
                                     "<Towar><Id>37</Id><Ty>O</Ty><KP>7</KP><Na>Skrzynka</Na><Ce>9.00</Ce></Towar>\n");
  job.run();
  ASSERT_TRUE(contains(job.raport(), "Towar z zerową ceną")) << job.raport();

  // Deleting goods and package 7: package 3, which the job does not name, keeps its price.
  job.writeJob("UsuwanieTowarów", "<Towar><Id>12</Id><Ty>T</Ty><KP>2</KP><Na>Masło</Na><Ce>0</Ce></Towar>\n"
                                  "<Towar><Id>37</Id><Ty>O</Ty><KP>7</KP></Towar>\n");
  // Packages read, 1000 ms, package prices, 2000 ms, deletions, closing pause.
  EXPECT_EQ(job.run(), (std::vector<unsigned long>{15, 20, 20, 1000, 1000, 15, 20, 20, 2000, 15, 20, 20, 1000}));
  EXPECT_EQ(job.progKom(), dataFile("UsuwanieTowarów", "\t<Towar><Id>37</Id></Towar>\r\n\t<Towar><Id>12</Id></Towar>\r\n"));
  EXPECT_FALSE(contains(job.show(), "Masło"));
  EXPECT_TRUE(contains(job.show(), "Opakowanie  3  Opakowanie 3          cena 0.50")) << job.show();
  EXPECT_FALSE(contains(job.show(), "Opakowanie  7")) << job.show();

  ASSERT_EQ(job.simCommand("sell package 3 2 1.00"), 0);
  job.writeJob("UsuwanieWszystkichTowarów", "");
  const auto sleeps = job.run();
  EXPECT_TRUE(contains(job.raport(),
                       "<Treść>Opakowanie nr 3 ma niezerowe liczniki obrotów i nie zostało usunięte. Należy wykonać raport "
                       "zerujący opakowań.</Treść>"))
      << job.raport();
  EXPECT_EQ(job.progKom(), dataFile("UsuwanieWszystkichTowarów", ""));
  const std::string shown = job.show();
  EXPECT_TRUE(contains(shown, ", 0 PLU")) << shown;
  EXPECT_TRUE(contains(shown, "Opakowanie  3  Opakowanie 3          cena 0.00  sprzedaż 2.000")) << shown;
  // Each command exchange of the long-record model starts with the line break (15, 20).
  EXPECT_EQ(sleeps, (std::vector<unsigned long>{15, 20, 20, 1000,             // packages read
                                                1000, 15, 20, 20, 1000,       // PLUs read
                                                2000, 15, 20, 20, 1000,       // packages read again
                                                1000, 15, 20, 20, 2000,       // package prices
                                                15, 20, 20, 1000}));          // PLU deletions, closing pause
  job.checkSchemas();

  job.writeJob("UsuwanieWszystkichTowarów", "");
  job.run();
  EXPECT_TRUE(contains(job.raport(), "<Treść>Brak towarów do usunięcia</Treść>")) << job.raport();
  EXPECT_EQ(job.progKom(), dataFile("UsuwanieWszystkichTowarów", ""));
}

TEST(ElcomEndToEnd, ImportReadsBothRecordVariants) {
  for (int model : {2, 7}) {
    ElcomJob job(model);
    job.writeJob("PrzesyłanieTowarów",
                 std::string(kGoods) + "<Towar><Id>31</Id><Ty>O</Ty><KP>3</KP><Na>Butelka</Na><Ce>0.50</Ce></Towar>\n");
    job.run();
    job.writeJob("ImportTowarów", "");
    const auto sleeps = job.run();
    // Packages read (the transfer starts after 1000 ms), 1000 ms, PLUs read, closing pause.
    if (model == 7) {
      EXPECT_EQ(sleeps, (std::vector<unsigned long>{15, 20, 20, 1000, 1000, 15, 20, 20, 1000, 1000}));
    } else {
      EXPECT_EQ(sleeps, (std::vector<unsigned long>{20, 1000, 1000, 20, 1000, 1000}));
    }
    EXPECT_EQ(job.progKom(),
              dataFile("ImportTowarów",
                       "\t<Towar><Ty>O</Ty><KP>3</KP><Na>Opakowanie 3</Na><Ce id=\"1\">0.5</Ce></Towar>\r\n"
                       "\t<Towar><Ty>T</Ty><KP>1</KP><KK>5901234123457</KK><Na>Chleb żytni</Na><Ce id=\"1\">2.5</Ce>"
                       "<CO>0</CO><Va>1</Va><JM>1</JM></Towar>\r\n"
                       "\t<Towar><Ty>T</Ty><KP>2</KP><KK></KK><KO>5</KO><Na>Masło</Na><Ce id=\"1\">6.99</Ce><CO>0</CO>"
                       "<Va>2</Va><JM>1</JM></Towar>\r\n"
                       "\t<Towar><Ty>T</Ty><KP>4</KP><KK></KK><Na>Woda źródlana</Na><Ce id=\"1\">0</Ce><CO>1</CO>"
                       "<Va>2</Va><JM>3</JM></Towar>\r\n"))
        << model;
    job.checkSchemas();
  }
}

TEST(ElcomEndToEnd, SalesReadOutAndClearing) {
  ElcomJob job(1);
  job.writeJob("PrzesyłanieTowarów",
               std::string(kGoods) + "<Towar><Id>31</Id><Ty>O</Ty><KP>3</KP><Na>Butelka</Na><Ce>0.50</Ce></Towar>\n");
  job.run();
  ASSERT_EQ(job.simCommand("sell plu 1 2 -5.00"), 0);
  ASSERT_EQ(job.simCommand("sell plu 4 1.5 3.00"), 0);
  ASSERT_EQ(job.simCommand("sell package 3 1 0.50"), 0);

  // The device-data file cannot be written: the counters must stay in the register.
  ::unlink(job.file("PROG_KOM.XML").c_str());
  ASSERT_EQ(::symlink("/dev/full", job.file("PROG_KOM.XML").c_str()), 0);
  job.writeJob("OdbiórSprzedaży", "");
  job.run();
  EXPECT_FALSE(contains(job.raport(), "<Typ>OK</Typ>")) << job.raport();
  EXPECT_TRUE(contains(job.show(), "sprzedaż 2.000 szt. -5.00")) << job.show();
  ::unlink(job.file("PROG_KOM.XML").c_str());

  job.writeJob("OdbiórSprzedaży", "");
  const auto sleeps = job.run();
  EXPECT_EQ(job.progKom(), dataFile("OdbiórSprzedaży",
                                    "\t<Obrót><IdUF>1</IdUF><Typ>T</Typ><Ilość>-2</Ilość><Wartość>-5</Wartość></Obrót>\r\n"
                                    "\t<Obrót><IdUF>2</IdUF><Typ>T</Typ><Ilość>0</Ilość><Wartość>0</Wartość></Obrót>\r\n"
                                    "\t<Obrót><IdUF>4</IdUF><Typ>T</Typ><Ilość>1.5</Ilość><Wartość>3</Wartość></Obrót>\r\n"
                                    "\t<Obrót><IdUF>3</IdUF><Typ>O</Typ><Ilość>1</Ilość><Wartość>0.5</Wartość></Obrót>\r\n"));
  EXPECT_TRUE(contains(job.raport(), "<Typ>I</Typ>\r\n\t\t<Treść>Kasa fiskalna nie pozwala na usuwanie obrotów opakowań, "
                                     "proszę wykonać raport zerujący opakowań</Treść>"))
      << job.raport();
  EXPECT_FALSE(contains(job.show(), "sprzedaż 2.000 szt. -5.00")) << job.show();
  EXPECT_EQ(sleeps, (std::vector<unsigned long>{20, 1000,   // PLU count
                                                1000, 20, 1000,  // PLU sales
                                                1000, 20, 1000,  // package sales
                                                1000, 20,        // clearing
                                                1000}));
  job.checkSchemas();

  // The clearing refused: the error stands and the status says the counters stay.
  ASSERT_EQ(job.simCommand("sell plu 1 1 2.50"), 0);
  ASSERT_EQ(job.simCommand("fault data:12 status:10"), 0);
  job.writeJob("OdbiórSprzedaży", "");
  job.run();
  const std::string r = job.raport();
  EXPECT_TRUE(contains(r, "<Typ>E</Typ>\r\n\t\t<Treść>Polecenie jest nieprawidłowe lub niedozwolone w obecnym trybie pracy "
                          "kasy fiskalnej (błąd nr 10)</Treść>"))
      << r;
  EXPECT_TRUE(contains(r, "<Status>\r\n\t\t<Typ>W</Typ>\r\n\t\t<Treść>Liczniki sprzedaży nie zostały wyzerowane</Treść>")) << r;
  EXPECT_TRUE(contains(job.show(), "sprzedaż 1.000 szt. 2.50")) << job.show();

  job.writeJob("UsuwanieSprzedaży", "");
  EXPECT_EQ(job.run(), (std::vector<unsigned long>{20, 1000}));  // the clearing, closing pause
  EXPECT_TRUE(contains(job.raport(), "Kasa fiskalna nie pozwala na usuwanie obrotów opakowań")) << job.raport();
  EXPECT_FALSE(contains(job.show(), "sprzedaż 1.000 szt. 2.50")) << job.show();
}

// The clearing data went out and the register fell silent: nobody knows whether it cleared
// its counters, and the report says so instead of calling them uncleared (the host would then
// count on the next read-out to give the same sales again).
TEST(ElcomEndToEnd, ClearingWithoutAnAnswerIsReportedAsUnknown) {
  ElcomJob job(1);
  job.writeJob("PrzesyłanieTowarów", kGoods);
  job.run();
  ASSERT_EQ(job.simCommand("sell plu 1 1 2.50"), 0);
  ASSERT_EQ(job.sim("fault data:12 die"), 0);
  job.writeJob("OdbiórSprzedaży", "");
  job.run();
  EXPECT_TRUE(contains(job.raport(), "<Status>\r\n\t\t<Typ>W</Typ>\r\n\t\t<Treść>Nie wiadomo, czy liczniki sprzedaży "
                                     "zostały wyzerowane (kasa nie odpowiedziała na polecenie, mogła je wyzerować)."))
      << job.raport();
  EXPECT_TRUE(contains(job.progKom(), "<Obrót><IdUF>1</IdUF><Typ>T</Typ><Ilość>1</Ilość><Wartość>2.5</Wartość></Obrót>"))
      << job.progKom();
  job.checkSchemas();
}

TEST(ElcomEndToEnd, UnknownModelAndOtherRegisterNumber) {
  ElcomJob job(1, 7);
  job.writeJob("SprawdzeniePołączenia", "");
  job.run();
  EXPECT_TRUE(contains(job.raport(), "<Typ>OK</Typ>")) << job.raport();

  // An unknown model names itself and the accepted ones; the register is never asked.
  ASSERT_EQ(job.sim("fault hello status:3"), 0);
  job.writeJob("SprawdzeniePołączenia", "", "Elcom Euro-500");
  EXPECT_EQ(job.run(), std::vector<unsigned long>{});
  EXPECT_TRUE(contains(job.raport(),
                       "<Treść>Nieznany model urządzenia Elcom Euro-500 (quorvel_elcom "
                       "obsługuje modele: Quorvel_Elcom_Euro500T2, Quorvel_Elcom_Euro500T10, Quorvel_Elcom_Euro500TX2, "
                       "Quorvel_Elcom_Euro500TX10, Quorvel_Elcom_EuroSmart, Quorvel_Elcom_Euro2100TX8, "
                       "Quorvel_Elcom_Euro2100TX27)</Treść>"))
      << job.raport();
  EXPECT_TRUE(contains(job.show(), "fault hello status:3 1")) << "the register was never asked";
  job.checkSchemas();
  // The configuration form needs no register: it still comes up for such a job.
  job.writeJob("Konfiguracja", "", "Elcom Euro-500");
  job.run({{"QUORVEL_UI=none"}});
  EXPECT_TRUE(contains(job.raport(), "Nie można wyświetlić formularza konfiguracji")) << job.raport();
  job.writeJob("SprawdzeniePołączenia", "", "Elcom Euro-500");
  job.run();

  // `quorvel report` shows the failed job readably and warns off its device data.
  const auto shown = quorvel::test::elcom::runProgram({quorvel::test::elcom::hostPath(), "report", job.path()}, {});
  EXPECT_EQ(shown.exitStatus, 0) << shown.output;
  for (const char* expected : {"Status: E  Nieznany model urządzenia Elcom Euro-500 (quorvel_elcom", "PROG_KOM.XML\n    (no records)",
                               "must not be taken over"})
    EXPECT_TRUE(contains(shown.output, expected)) << expected << "\n" << shown.output;
}

TEST(ElcomEndToEnd, ThroughTheHostProgram) {
  // What the program shows and its exit status for each kind of ending.
  struct Case {
    const char* what;
    const char* fault;
    const char* operation;
    const char* goods;
    int exitStatus;
    const char* shown;
  } cases[] = {
      {"connection checked", nullptr, "SprawdzeniePołączenia", "", 0, "Status: OK"},
      {"goods skipped", nullptr, "PrzesyłanieTowarów", kGoods, 1,
       "Status: W  Towar z zerową ceną i bez znacznika ceny otwartej został pominięty"},
      {"open receipt", "hello status:3 5", "SprawdzeniePołączenia", "", 2, "Status: E"},
  };
  for (const auto& c : cases) {
    ElcomJob job(5);
    if (c.fault) {
      ASSERT_EQ(job.sim(std::string("fault ") + c.fault), 0) << c.what;
    }
    job.writeJob(c.operation, c.goods);
    job.run();
    EXPECT_EQ(job.lastRun().exitStatus, c.exitStatus) << c.what << "\n" << job.lastRun().output;
    EXPECT_TRUE(contains(job.lastRun().output, c.shown)) << c.what << "\n" << job.lastRun().output;
  }
}

TEST(ElcomEndToEnd, BrokenAnswersEndTheOperationSafely) {
  struct Case {
    const char* what;
    int model;
    const char* operation;
    const char* fault;
    const char* raportHas;
    std::vector<unsigned long> sleeps;  // up to the failure, then the closing pause
  } cases[] = {
      {"register information shorter than 40 bytes", 7, "SprawdzeniePołączenia", "data:255 short",
       "<Treść>Odebrano nieprawidłowe dane z urządzenia</Treść>", {15, 20, 20, 1000, 1000}},
      {"a PLU data frame that is not a whole number of records", 2, "ImportTowarów", "data:157 ragged",
       "<Treść>Odebrano nieprawidłowe dane z urządzenia</Treść>", {20, 1000, 1000, 20, 1000, 1000}},
      {"a package data frame that is not a whole number of records", 2, "OdbiórSprzedaży", "data:166 ragged",
       "<Treść>Odebrano nieprawidłowe dane z urządzenia</Treść>", {20, 1000, 1000, 1000, 20, 1000, 1000}},
      {"a status answer longer than its buffer", 1, "SprawdzeniePołączenia", "command:129 oversize",
       "<Treść>Odebrano nieprawidłowe dane z urządzenia</Treść>", {20, 1000}},
      {"a data frame longer than its buffer", 1, "ImportTowarów", "data:166 oversize",
       "<Treść>Odebrano nieprawidłowe dane z urządzenia</Treść>", {20, 1000, 1000}},
      {"no answer: the read time-out", 1, "SprawdzeniePołączenia", "command:129 silence", "<Typ>E</Typ>", {20, 1000}},
  };
  for (const auto& c : cases) {
    ElcomJob job(c.model);
    ASSERT_EQ(job.sim(std::string("fault ") + c.fault), 0);
    job.writeJob(c.operation, "");
    EXPECT_EQ(job.run(), c.sleeps) << c.what;
    EXPECT_TRUE(contains(job.raport(), c.raportHas)) << c.what << "\n" << job.raport();
    EXPECT_TRUE(contains(job.raport(), "<Status>\r\n\t\t<Typ>E</Typ>")) << c.what << "\n" << job.raport();
    job.checkSchemas();
  }
}

TEST(ElcomEndToEnd, EmptyRegisterSalesAndUntaxedPlus) {
  ElcomJob job(4);
  // A register without PLUs reports a count of 0: no PLU sales are asked for, the package
  // sales are read (all zero: no records, no note about package counters) and the counters
  // cleared.
  job.writeJob("OdbiórSprzedaży", "");
  const auto sleeps = job.run();
  EXPECT_EQ(job.progKom(), dataFile("OdbiórSprzedaży", ""));
  EXPECT_TRUE(contains(job.raport(), "<Typ>OK</Typ>")) << job.raport();
  EXPECT_EQ(sleeps, (std::vector<unsigned long>{20, 1000, 1000, 1000, 20, 1000, 1000, 20, 1000}));

  // A programmed PLU without a tax index is not imported.
  {
    std::ofstream state(job.file("kasa.txt"), std::ios::app);
    state << "plu 9 24 0 1 100 0 0 - Bez stawki\n";
    state << "plu 10 24 0 47 100 0 0 - Ze stawką\n";
  }
  job.writeJob("ImportTowarów", "");
  job.run();
  const std::string data = job.progKom();
  EXPECT_FALSE(contains(data, "Bez stawki")) << data;
  EXPECT_TRUE(contains(data, "<KP>10</KP><KK></KK><Na>Ze stawką</Na>")) << data;
}

TEST(ElcomEndToEnd, TransmissionDumpWhenConfigured) {
  ElcomJob job(1);
  job.writeConfig(2000, 1, true);
  job.writeJob("SprawdzeniePołączenia", "");
  job.run({{"QUORVEL_UI=none"}});  // the dump's warning box goes to standard error
  EXPECT_TRUE(contains(job.raport(), "<Typ>OK</Typ>")) << job.raport();
  std::size_t dumps = 0;
  for (const auto& e : std::filesystem::directory_iterator(job.path()))
    if (e.path().extension() == ".dmp" && e.file_size() > 0) ++dumps;
  EXPECT_EQ(dumps, 1u);
}

TEST(ElcomDemo, TourRunsEveryStepWithoutErrors) {
  quorvel::test::ScratchDir dir;
  // The tour's `quorvel run` programs inherit the virtual clock and record their pauses.
  const std::string clock = dir.file("clock.txt");
  RunOptions options;
  options.environment = {"QUORVEL_VIRTUAL_CLOCK=" + clock};
  const auto run = quorvel::test::elcom::runProgram(
      {std::string(QUORVEL_BIN_DIR) + "/quorvel", "demo", "elcom", "-C", dir.path()}, options);
  const std::string& out = run.output;
  EXPECT_EQ(run.exitStatus, 0) << out;
  EXPECT_FALSE(sanitizerReport(out)) << out;
  const auto sleeps = quorvel::test::elcom::parseSleeps(readFile(clock));
  EXPECT_GE(std::count(sleeps.begin(), sleeps.end(), 1000ul), 5) << "each job ends with the closing pause";
  for (const char* expected :
       {"Status: OK  Połączenie jest prawidłowe.", "Towar z zerową ceną i bez znacznika ceny otwartej został pominięty",
        "Na=Chleb żytni", "sprzedaż:  IdUF=1  Typ=T  Ilość=3  Wartość=12.6",
        "Kasa fiskalna nie pozwala na usuwanie obrotów opakowań"})
    EXPECT_TRUE(contains(out, expected)) << expected << "\n" << out;
  EXPECT_EQ(quorvel::test::schemaErrors(dir.file("PROG_KOM.XML"), "Dane.xsd"), "");
  EXPECT_EQ(quorvel::test::schemaErrors(dir.file("RAPORT.XML"), "Raport.xsd"), "");
}

TEST(ElcomEndToEnd, ConfigurationAndMissingConfiguration) {
  ElcomJob job(1);
  const std::string config = readFile(job.file("PROG_KOM.CFG"));
  job.writeJob("Konfiguracja", "");
  EXPECT_EQ(job.run({{"QUORVEL_UI=none"}}), std::vector<unsigned long>{}) << "the line is not opened";
  EXPECT_TRUE(contains(job.raport(), "Nie można wyświetlić formularza konfiguracji")) << job.raport();
  EXPECT_EQ(readFile(job.file("PROG_KOM.CFG")), config);

  // Without PROG_KOM.CFG the plug-in does not load and the line is never opened.
  ::unlink(job.file("PROG_KOM.CFG").c_str());
  ASSERT_EQ(job.sim("fault hello status:3"), 0);
  job.writeJob("SprawdzeniePołączenia", "");
  EXPECT_EQ(job.run({{"QUORVEL_UI=none"}}), std::vector<unsigned long>{});
  EXPECT_TRUE(contains(job.raport(), "PROG_KOM.CFG")) << job.raport();
  EXPECT_TRUE(contains(job.show(), "fault hello status:3 1")) << "the register was never asked";
}

TEST(ElcomEndToEnd, SalesStayWhenTheDeviceDataFileFillsUp) {
  ElcomJob job(1);
  job.writeJob("PrzesyłanieTowarów", kGoods);
  job.run();
  ASSERT_EQ(job.sim("sell plu 4 1 3.00"), 0);
  job.writeJob("OdbiórSprzedaży", "");
  // Files of the program may grow to 300 bytes: PROG_KOM.XML takes its header and two sales
  // records, then a write fails (the simulator, started before, is not limited).
  RunOptions limited;
  limited.fileSizeLimit = 300;
  job.run(limited);
  EXPECT_TRUE(contains(job.progKom(), "<IdUF>1</IdUF>")) << "the read-out ran\n" << job.progKom();
  EXPECT_FALSE(contains(job.progKom(), "<IdUF>4</IdUF>"));
  EXPECT_TRUE(contains(job.show(), "sprzedaż 1.000 szt. 3.00")) << "the counters must not be cleared\n" << job.show();
}

TEST(ElcomEndToEnd, DailyReportNeededStopsDeleting) {
  struct Case {
    const char* what;
    const char* fault;
    std::string progKom;
    std::vector<unsigned long> sleeps;
  } cases[] = {
      {"refused on the first of two: no end exchange while goods are left", "plu:1 status:19", "",
       {20, 2000, 20, 1000, 1000}},
      {"refused on the last: the end exchange, then the count", "plu:2 status:19", "\t<Towar><Id>11</Id></Towar>\r\n",
       {20, 2000, 20, 1000, 1000}},
  };
  for (const auto& c : cases) {
    ElcomJob job(1);
    job.writeJob("PrzesyłanieTowarów", kGoods);
    job.run();
    ASSERT_EQ(job.sim(std::string("fault ") + c.fault), 0);
    job.writeJob("UsuwanieTowarów",
                 "<Towar><Id>11</Id><Ty>T</Ty><KP>1</KP><Na>Chleb żytni</Na></Towar>\n"
                 "<Towar><Id>12</Id><Ty>T</Ty><KP>2</KP><Na>Masło</Na></Towar>\n");
    const auto sleeps = job.run();
    EXPECT_TRUE(contains(job.raport(), "<Typ>W</Typ>\r\n\t\t<Treść>Nie można zrealizować polecenia, należy wykonać raport "
                                       "dobowy (błąd nr 19)</Treść>"))
        << c.what << "\n" << job.raport();
    EXPECT_EQ(job.progKom(), dataFile("UsuwanieTowarów", c.progKom)) << c.what;
    EXPECT_EQ(sleeps, c.sleeps) << c.what;
    EXPECT_TRUE(contains(job.show(), "Masło")) << c.what;
  }
}

TEST(ElcomEndToEnd, MultiplexerChannelSwitchedAtLoad) {
  // An MPX4s multiplexer takes "$$$" and the channel on the line; the register ignores bytes
  // that do not start a frame.
  ElcomJob job(2, 4);
  job.writeConfig(10000, 4, false, 4, 3);
  job.writeJob("SprawdzeniePołączenia", "");
  const auto sleeps = job.run();
  EXPECT_TRUE(contains(job.raport(), "<Typ>OK</Typ>")) << job.raport();
  EXPECT_EQ(sleeps, (std::vector<unsigned long>{100, 20, 1000, 1000}));
}

namespace {

// Enough PLUs for the loops to report many times.
std::string numberedGoods(int count) {
  std::string goods;
  for (int kp = 1; kp <= count; ++kp)
    goods += "<Towar><Id>" + std::to_string(100 + kp) + "</Id><Ty>T</Ty><KP>" + std::to_string(kp) + "</KP><Na>Towar nr " +
             std::to_string(kp) + "</Na><Ce>1.50</Ce><Va>1</Va></Towar>\n";
  return goods;
}

// The lines "done total what" of a progress file, per work in the order the works began:
// within a work `done` never falls, and the work ends with done == total.
std::vector<std::string> wholeWorks(const std::string& bytes) {
  std::vector<std::string> works;
  std::map<std::string, long> last;
  std::istringstream lines(cp1250ToUtf8(bytes));
  for (std::string line; std::getline(lines, line);) {
    EXPECT_TRUE(!line.empty() && line.back() == '\r') << line;
    if (!line.empty()) line.pop_back();
    long done = -1, total = -1;
    std::istringstream fields(line);
    fields >> done >> total;
    std::string what;
    std::getline(fields >> std::ws, what);
    if (works.empty() || works.back() != what) {
      if (!works.empty()) {
        EXPECT_EQ(last[works.back()], -1) << works.back() << " did not reach its total";
      }
      works.push_back(what);
      last[what] = 0;
    }
    EXPECT_GE(done, last[what]) << line;
    EXPECT_LE(done, total) << line;
    last[what] = done == total ? -1 : done;
  }
  if (!works.empty()) {
    EXPECT_EQ(last[works.back()], -1) << works.back() << " did not reach its total";
  }
  return works;
}

TEST(ElcomProgress, FileOfTheJobDirectoryLeavesTheResultsAlone) {
  // Each job runs without progress, then with the progress file asked for (and with a name
  // that would overwrite a result file, which is refused): the result files come out the same.
  struct Case {
    const char* operation;
    std::string goods;
    std::vector<std::string> works;
  } cases[] = {
      {"PrzesyłanieTowarów", numberedGoods(120), {"Przesyłanie towarów"}},
      {"ImportTowarów", "", {"Odczyt opakowań z kasy", "Odczyt towarów z kasy"}},
      {"OdbiórSprzedaży", "", {"Odbiór sprzedaży towarów", "Odbiór sprzedaży opakowań"}},
      {"UsuwanieTowarów", numberedGoods(3), {"Usuwanie towarów"}},
  };
  ElcomJob job(1);
  for (const auto& c : cases) {
    job.writeJob(c.operation, c.goods);
    job.run();
    const std::string raport = readFile(job.file("RAPORT.XML"));
    const std::string progKom = readFile(job.file("PROG_KOM.XML"));
    EXPECT_FALSE(fileExists(job.file("QUORVEL_PROGRESS.TXT")));

    for (const char* name : {"QUORVEL_PROGRESS.TXT", "PROG_KOM.XML", "../escape.txt"}) {
      job.run({{std::string("QUORVEL_PROGRESS_FILE=") + name}});
      EXPECT_EQ(readFile(job.file("RAPORT.XML")), raport) << c.operation << " " << name;
      EXPECT_EQ(readFile(job.file("PROG_KOM.XML")), progKom) << c.operation << " " << name;
    }
    EXPECT_FALSE(fileExists(job.path() + "/../escape.txt"));
    EXPECT_EQ(wholeWorks(readFile(job.file("QUORVEL_PROGRESS.TXT"))), c.works) << c.operation;
    ::unlink(job.file("QUORVEL_PROGRESS.TXT").c_str());
  }
}

// Runs the job with standard error on a pseudo-terminal; returns what the terminal showed.
std::string runOnTerminal(const ElcomJob& job) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return "no pseudo-terminal";
  const std::string slavePath = ::ptsname(master);
  const std::string clock = "QUORVEL_VIRTUAL_CLOCK=" + job.file("clock.txt");
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int slave = ::open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(slave, 2);
    ::putenv(const_cast<char*>(clock.c_str()));
    const std::string host = quorvel::test::elcom::hostPath();
    ::execl(host.c_str(), host.c_str(), "run", "quorvel_elcom", "-C", job.path().c_str(), nullptr);
    ::_exit(127);
  }
  std::string shown;
  char buf[4096];
  // The terminal's end reads until the program is gone and its end closed (EIO).
  for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR);)
    if (n > 0) shown.append(buf, static_cast<std::size_t>(n));
  ::waitpid(pid, nullptr, 0);
  ::close(master);
  return shown;
}

TEST(ElcomProgress, BarOnATerminalAndNothingElsewhere) {
  ElcomJob job(1);
  job.writeJob("PrzesyłanieTowarów", numberedGoods(40));
  const std::string shown = runOnTerminal(job);
  EXPECT_TRUE(contains(shown, "\rPrzesyłanie towarów  [----------------] 0/40   0%  --/s  left --:--\033[K")) << shown;
  EXPECT_TRUE(contains(shown, "\rPrzesyłanie towarów  [################] 40/40 100%")) << shown;
  EXPECT_TRUE(contains(shown, " in all\033[K\r\n")) << shown;
  EXPECT_TRUE(contains(readFile(job.file("RAPORT.XML")), "<Typ>OK</Typ>"));

  job.run();
  EXPECT_FALSE(contains(job.lastRun().output, "Przesyłanie towarów")) << job.lastRun().output;
}

}  // namespace
