// quorvel_elzab end to end: every job goes through the host program, `quorvel run
// quorvel_elzab -C DIR`, with the simulated WinIP (standins/libWinIP.so, reached through
// QUORVEL_LIBRARY_PATH) playing an Elzab register kept in ELZAB_SIM.TXT. The files the plug-in writes
// (KONFIG.TXT, SKONFIG.TXT, MODKONF.TXT, EZB_IN.TXT) and the result files (RAPORT.XML,
// PROG_KOM.XML) are compared byte for byte, and every result file is checked against its
// schema.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <cstring>

#include "drivers/elzab/config.h"
#include "plugin/config_store.h"
#include "tests/support/job_checks.h"
#include "tests/support/job_harness.h"
#include "tests/support/test_support.h"

namespace {

using quorvel::test::cp1250ToUtf8;
using quorvel::test::readFile;
namespace elzab = quorvel::elzab;

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

const std::string kSimPath = std::string(QUORVEL_BIN_DIR) + "/elzab_sim";

// One message of a report: type, text (UTF-8) and the goods it names.
struct Msg {
  const char* typ;
  std::string text;
  std::vector<int> goods = {};
};

// RAPORT.XML as the core writes it (UTF-8 here): the messages, then the status.
std::string raportOf(const std::string& operation, const std::vector<Msg>& messages, const Msg& status) {
  std::string r = "<?xml version=\"1.0\" encoding=\"windows-1250\" ?>\r\n<Raport operacja=\"" + operation +
                  "\" xmlns=\"http://schemas.quorvel.org/UF/Raport.xsd\">\r\n";
  for (const Msg& m : messages) {
    r += std::string("\t<Komunikat>\r\n\t\t<Typ>") + m.typ + "</Typ>\r\n\t\t<Treść>" + m.text + "</Treść>\r\n";
    for (int g : m.goods) r += "\t\t<Towar>" + std::to_string(g) + "</Towar>\r\n";
    r += "\t</Komunikat>\r\n";
  }
  r += std::string("\t<Status>\r\n\t\t<Typ>") + status.typ + "</Typ>\r\n";
  if (!status.text.empty()) r += "\t\t<Treść>" + status.text + "</Treść>\r\n";
  return r + "\t</Status>\r\n</Raport>";
}

std::string dataFile(const std::string& operation, const std::string& records) {
  return "<?xml version=\"1.0\" encoding=\"windows-1250\" ?>\r\n<Dane operacja=\"" + operation +
         "\" xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\">\r\n" + records + "</Dane>";
}

std::string confirmed(std::initializer_list<int> ids) {
  std::string s;
  for (int id : ids) s += "\t<Towar><Id>" + std::to_string(id) + "</Id></Towar>\r\n";
  return s;
}

const char* const kHeader = "#1\r\n#\r\n#\r\n";
const char* const kSkonfig =
    "$0DH:0AH\r\n$KONFIG.TXT\r\n$RAPORT.TXT\r\n$KOMENT.TXT\r\n$MODKONF.TXT\r\n$ECRTBUF.TXT\r\n$0:0\r\n$0\r\n$0\r\n$1\r\n$0\r\n$0\r\n"
    "$0\r\n$1\r\n";

// A job directory with the simulated register and PROG_KOM.CFG for it (COM1, register 1).
class ElzabJob : public quorvel::test::JobDir {
 public:
  ElzabJob() : JobDir("elzab", /*enter=*/false) {
    sim("init");
    elzab::setDefaultConfig(config);
    writeConfig();
  }

  std::string bytes(const std::string& name) const { return readFile(file(name)); }

  void writeConfig() const {
    writeConfigFile(quorvel::plugin::configFileBytes(elzab::toImage(config)));
  }
  // The job file; `goods` is the UTF-8 XML of its Towar elements.
  void writeJob(const std::string& operation, const std::string& goods = "") const {
    writeJobFile(operation, "Elzab Omega", goods);
  }
  // elzab_sim COMMAND ARGS on this job's register; its exit status.
  int sim(const std::string& args) const { return quorvel::test::simCommand(kSimPath, file("ELZAB_SIM.TXT"), args); }
  std::string show() const { return quorvel::test::simShow(kSimPath, file("ELZAB_SIM.TXT")); }

  // Runs the job; the program must end as its report says (0 for OK or I, 1 for W, 2 for E,
  // 3 when the core refused the job), without a sanitizer's report, and every result file
  // must be valid.
  std::string run(const std::string& operation, const std::string& goods = "") {
    writeJob(operation, goods);
    quorvel::test::RunOptions options;
    options.environment = environment;
    options.environment.push_back("QUORVEL_LIBRARY_PATH=" + libraryPath);
    const auto r = runHost("quorvel_elzab", options);
    lastOutput = r.output;
    const std::string raport = text("RAPORT.XML");
    quorvel::test::expectEndedAsReported(r, raport);
    quorvel::test::expectValidResultFiles(*this);
    return raport;
  }

  elzab::SUConfig config{};
  // The folders of QUORVEL_LIBRARY_PATH for the job's run: the stand-ins' own.
  std::string libraryPath = QUORVEL_STANDIN_DIR;
  std::vector<std::string> environment;  // NAME=VALUE for the next runs
  std::string lastOutput;                // of the last run
};

const char* const kGoods =
    "<Towar><Id>11</Id><Ty>T</Ty><KP>1</KP><KK>5901234123457</KK><Na>Chleb żytni</Na><Ce>2.50</Ce><Va>1</Va><KO>3</KO>"
    "<DK>111</DK><DK>222</DK></Towar>\n"
    "<Towar><Id>12</Id><Ty>T</Ty><KP>2</KP><Na>Masło</Na><Ce>6.99</Ce><Va>2</Va><JM>1</JM></Towar>\n"
    "<Towar><Id>13</Id><Ty>O</Ty><KP>3</KP><Na>Butelka</Na><Ce>0.50</Ce><Va>4</Va></Towar>\n";

}  // namespace

TEST(ElzabEndToEnd, ConnectionCheckWritesTheFilesWinIPReads) {
  ElzabJob job;
  EXPECT_EQ(job.run("SprawdzeniePołączenia"),
            raportOf("SprawdzeniePołączenia", {}, {"OK", "Połączenie jest prawidłowe."}));
  EXPECT_EQ(job.bytes("KONFIG.TXT"), "$1\tCOM1:9600:MUX0:1\t3");
  EXPECT_EQ(job.bytes("SKONFIG.TXT"), kSkonfig);
  EXPECT_EQ(job.bytes("EZB_IN.TXT"), kHeader);
  EXPECT_FALSE(quorvel::test::fileExists(job.file("MODKONF.TXT")));

  // The configuration operation writes no file and loads no WinIP (without a terminal the
  // form is not shown).
  ElzabJob configuring;
  configuring.run("Konfiguracja");
  EXPECT_FALSE(quorvel::test::fileExists(configuring.file("KONFIG.TXT")));
  EXPECT_FALSE(quorvel::test::fileExists(configuring.file("EZB_IN.TXT")));

  // A register of another number on the line: WinIP's 22, and the check fails.
  job.sim("set register 5");
  EXPECT_EQ(job.run("SprawdzeniePołączenia"),
            raportOf("SprawdzeniePołączenia", {{"E", "Błąd nr 22: Pod podanym skojarzeniem kasa o innym numerze."}},
                     {"E", "Brak połączenia"}));
}

TEST(ElzabEndToEnd, LoadRefusalsNameTheirReason) {
  struct Case {
    const char* what;
    void (*change)(elzab::SUConfig&);
    const char* konfig;
    std::string message;
  } cases[] = {
      {"COM5", [](elzab::SUConfig& c) { quorvel::plugin::storeText(c.port, sizeof c.port, "COM5"); }, "",
       "Nieprawidłowa nazwa portu szeregowego. Dopuszczalne wartości to COM1-COM4."},
      {"a modem without a phone number", [](elzab::SUConfig& c) { c.modemOn = 1; }, "$1\tCOM1:9600:MUX2:1\t3",
       "Brak numeru telefonu dla połączenia modemowego."},
      {"Falwi switched by the plug-in on a port it cannot open",
       [](elzab::SUConfig& c) {
         c.muxOn = 1;
         c.muxType = 2;
         c.muxChannel = 9;
         quorvel::plugin::storeText(c.port, sizeof c.port, "COM4");
       },
       "$1\tCOM4:9600:MUX0:1\t3", ""},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    ElzabJob job;
    k.change(job.config);
    job.writeConfig();
    const std::string raport = job.run("ImportTowarów");
    EXPECT_EQ(job.bytes("KONFIG.TXT"), k.konfig);
    if (!k.message.empty()) {
      EXPECT_EQ(raport, raportOf("ImportTowarów", {{"E", k.message}}, {"E", k.message}));
    }
    EXPECT_TRUE(contains(raport, "<Typ>E</Typ>")) << raport;
    EXPECT_FALSE(quorvel::test::fileExists(job.file("EZB_IN.TXT")));
    EXPECT_FALSE(quorvel::test::fileExists(job.file("PROG_KOM.XML")) && contains(job.text("PROG_KOM.XML"), "<Towar>"));
  }
  // No WinIP in the module search: a WinIP in the job directory is not taken, and the message
  // names the files looked for and the folders searched, the library path's first.
  ElzabJob job;
  std::filesystem::copy_file(std::string(QUORVEL_STANDIN_DIR) + "/libWinIP.so", job.file("libWinIP.so"));
  std::filesystem::copy_file(std::string(QUORVEL_STANDIN_DIR) + "/libWinIP.so", job.file("WinIP.so"));
  job.libraryPath = job.file("no-such-folder") + "::relative/folder:.";
  const std::string raport = job.run("SprawdzeniePołączenia");
  const std::string text = "Nie znaleziono biblioteki WinIP.dll. Szukano plików libWinIP.so, WinIP.so w folderach: " +
                           job.file("no-such-folder") + ", " + std::filesystem::canonical(QUORVEL_LIB_DIR).string() +
                           ", " + std::filesystem::canonical(QUORVEL_BIN_DIR).string() + ", ";
  const std::size_t at = raport.find("<Treść>") + std::string("<Treść>").size();
  const std::string got = raport.substr(at, raport.find("</Treść>") - at);
  EXPECT_EQ(got.rfind(text, 0), 0u) << got;
  EXPECT_EQ(got.find("relative"), std::string::npos) << got;
  EXPECT_EQ(got.find(", ."), std::string::npos) << got;
  EXPECT_EQ(raport, raportOf("SprawdzeniePołączenia", {{"E", got}}, {"E", got}));
}

TEST(ElzabEndToEnd, ModemStartedAndStoppedAroundTheOperation) {
  ElzabJob job;
  job.config.modemOn = 1;
  job.config.connector = 5;
  quorvel::plugin::storeText(job.config.phone, sizeof job.config.phone, " 0225550102 ");
  elzab::scramblePassword(std::strcpy(job.config.password, "haslo"), sizeof job.config.password);
  job.writeConfig();
  job.sim("set modem 1");
  EXPECT_EQ(job.run("SprawdzeniePołączenia"), raportOf("SprawdzeniePołączenia", {}, {"OK", "Połączenie jest prawidłowe."}));
  EXPECT_EQ(job.bytes("KONFIG.TXT"), "$1\tCOM1:9600:MUX2:5\t3\tELZAB\tT0225550102:haslo:60:40:4");
  const std::string modkonf = job.bytes("MODKONF.TXT");
  EXPECT_EQ(modkonf.rfind(";Configuration file for modems: PROLINK & ActionTec\r\n;\r\n", 0), 0u);
  EXPECT_TRUE(contains(modkonf, "\r\n;set escape character guard time \r\n$ATS12=0\r\n"));
  EXPECT_TRUE(modkonf.ends_with("\r\n;turn on Carrier Detect (CD) when remote carrier is present\r\n$AT&C1\r\n"));
  EXPECT_EQ(std::count(modkonf.begin(), modkonf.end(), '\n'), 34);
  EXPECT_FALSE(contains(job.show(), "modem połączony"));  // stopped again

  // A modem configuration of the shop's own stays as it is.
  quorvel::test::writeFile(job.file("MODKONF.TXT"), "#\r\n$ATZ\r\n");
  job.run("SprawdzeniePołączenia");
  EXPECT_EQ(job.bytes("MODKONF.TXT"), "#\r\n$ATZ\r\n");
}

TEST(ElzabEndToEnd, SendingPackagingsFirstWithBarcodesAndLinks) {
  ElzabJob job;
  EXPECT_EQ(job.run("PrzesyłanieTowarów", kGoods), raportOf("PrzesyłanieTowarów", {}, {"OK", ""}));
  EXPECT_EQ(job.bytes("PROG_KOM.XML"), dataFile("Przesy\xB3\x61nieTowar\xF3w", confirmed({13, 11, 12})));
  EXPECT_EQ(job.bytes("EZB_IN.TXT"), std::string(kHeader) + "$2\r\n");  // the last call: KWiaz of PLU 2
  const std::string shown = job.show();
  EXPECT_TRUE(contains(shown, "Chleb żytni          VAT 1  gr  1  jm  0  cena 2.50  kod 5901234123457  opakowanie 3  "
                              "+kod 0000000000111  +kod 0000000000222"))
      << shown;
  EXPECT_TRUE(contains(shown, "Opak.      3  Butelka")) << shown;

  // PLU 7 taken by another goods: 221; its name under another PLU: 222; each named with its
  // goods. No VAT: left out before sending, named too. None is confirmed, the rest is sent.
  job.sim("goods 7 Inny 1.00 1");
  EXPECT_EQ(job.run("PrzesyłanieTowarów",
                    "<Towar><Id>21</Id><Ty>T</Ty><KP>7</KP><Na>Mąka</Na><Ce>3</Ce><Va>1</Va></Towar>\n"
                    "<Towar><Id>22</Id><Ty>T</Ty><KP>8</KP><Na>Inny</Na><Ce>3</Ce><Va>1</Va></Towar>\n"
                    "<Towar><Id>23</Id><Ty>T</Ty><KP>9</KP><Na>Sól</Na><Ce>1.20</Ce></Towar>\n"
                    "<Towar><Id>24</Id><Ty>T</Ty><KP>10</KP><Na>Cukier</Na><Ce>4.10</Ce><Va>2</Va></Towar>\n"),
            raportOf("PrzesyłanieTowarów",
                     {{"W", "Towar bez stawki VAT (Va) - pominięto", {23}},
                      {"W", "Błąd nr 221: Numer PLU zajety przez inny towar.", {21}},
                      {"W", "Błąd nr 222: Wprowadzana nazwa istnieje juz w bazie.", {22}}},
                     {"W", "Błąd nr 222: Wprowadzana nazwa istnieje juz w bazie."}));
  EXPECT_EQ(job.bytes("PROG_KOM.XML"), dataFile("Przesy\xB3\x61nieTowar\xF3w", confirmed({24})));
}

TEST(ElzabEndToEnd, NaksRetriedTenTimesAndCapabilitiesDropped) {
  const std::string one = "<Towar><Id>31</Id><Ty>T</Ty><KP>5</KP><Na>Kawa</Na><Ce>9.99</Ce><Va>1</Va><DK>77</DK></Towar>\n";
  const std::string two = one + "<Towar><Id>32</Id><Ty>T</Ty><KP>6</KP><Na>Herbata</Na><Ce>5</Ce><Va>1</Va><DK>78</DK></Towar>\n";
  {
    ElzabJob job;
    job.sim("fault ZBPTowar nak 9");
    EXPECT_EQ(job.run("PrzesyłanieTowarów", one), raportOf("PrzesyłanieTowarów", {}, {"OK", ""}));
    EXPECT_EQ(job.bytes("PROG_KOM.XML"), dataFile("Przesy\xB3\x61nieTowar\xF3w", confirmed({31})));
  }
  {
    ElzabJob job;
    job.sim("fault ZBPTowar nak 10");
    const std::string nak = "Błąd nr 24: Kasa odpowiedziala NAK na sekwencje sterujaca.";
    EXPECT_EQ(job.run("PrzesyłanieTowarów", two), raportOf("PrzesyłanieTowarów", {{"E", nak, {31}}}, {"E", nak}));
    EXPECT_EQ(job.bytes("PROG_KOM.XML"), dataFile("Przesy\xB3\x61nieTowar\xF3w", ""));
    EXPECT_FALSE(contains(job.show(), "Herbata"));
  }
  {
    // Older firmware without further barcodes: after the first 25 no barcode step is tried
    // again in this load, though the register would now take one.
    ElzabJob job;
    job.sim("fault KTBarkod unsupported 1");
    EXPECT_EQ(job.run("PrzesyłanieTowarów", two), raportOf("PrzesyłanieTowarów", {}, {"OK", ""}));
    EXPECT_EQ(job.bytes("PROG_KOM.XML"), dataFile("Przesy\xB3\x61nieTowar\xF3w", confirmed({31, 32})));
    EXPECT_FALSE(contains(job.show(), "+kod"));
    EXPECT_EQ(job.bytes("EZB_IN.TXT"), std::string(kHeader) + "$6\r\n");  // KWiaz, not KTBarkod
  }
  {
    // 25 to the goods line itself ends the operation.
    ElzabJob job;
    job.sim("fault ZBPTowar unsupported always");
    const std::string text = "Błąd nr 25: Rozkaz niedostepny w tej wersji programu kasy.";
    EXPECT_EQ(job.run("PrzesyłanieTowarów", two), raportOf("PrzesyłanieTowarów", {{"E", text, {31}}}, {"E", text}));
  }
}

TEST(ElzabEndToEnd, PriceChangeKeepsTheRegistersDataAndNamesUnknownGoods) {
  ElzabJob job;
  job.sim("goods 1 Chleb 2.50 1 3 1 5900000000001");
  job.sim("goods 2 Masło 6.99 2");
  EXPECT_EQ(job.run("ZmianaCenTowarów", "<Towar><Id>41</Id><Ty>T</Ty><KP>1</KP><Ce>2.80</Ce></Towar>\n"
                                        "<Towar><Id>42</Id><Ty>T</Ty><KP>4</KP><Ce>1.00</Ce></Towar>\n"
                                        "<Towar><Id>43</Id><Ty>T</Ty><KP>2</KP><Ce>7.49</Ce></Towar>\n"),
            raportOf("ZmianaCenTowarów", {{"W", "Towar niezaprogramowany w kasie został pominięty", {42}}},
                     {"W", "Towar niezaprogramowany w kasie został pominięty"}));
  EXPECT_EQ(job.bytes("PROG_KOM.XML"), dataFile("ZmianaCenTowar\xF3w", confirmed({41, 43})));
  // The last goods line: the register's name, VAT, group, unit and type with the job's price.
  EXPECT_EQ(job.bytes("EZB_IN.TXT"), std::string(kHeader) + "$2\tMas\x88o              \t2\t1\t3\t0\t0\t0000000000000\t749\t0\r\n");
  const std::string shown = job.show();
  EXPECT_TRUE(contains(shown, "Chleb                VAT 1  gr  3  jm  1  cena 2.80  kod 5900000000001")) << shown;
  EXPECT_TRUE(contains(shown, "cena 7.49")) << shown;
  EXPECT_FALSE(contains(shown, "     4  ")) << shown;
}

TEST(ElzabEndToEnd, DeletingGoodsAndTheWholeBase) {
  ElzabJob job;
  job.run("PrzesyłanieTowarów", kGoods);
  EXPECT_EQ(job.run("UsuwanieTowarów", "<Towar><Id>11</Id><Ty>T</Ty><KP>1</KP></Towar>\n"), raportOf("UsuwanieTowarów", {}, {"OK", ""}));
  EXPECT_EQ(job.bytes("PROG_KOM.XML"), dataFile("UsuwanieTowar\xF3w", confirmed({11})));
  std::string shown = job.show();
  EXPECT_FALSE(contains(shown, "Chleb")) << shown;
  EXPECT_TRUE(contains(shown, "Masło")) << shown;

  // A goods with sales cannot go: 209 names it, and the following goods skip KTowar.
  job.sim("sell 2 1 6.99");
  EXPECT_EQ(job.run("UsuwanieTowarów", "<Towar><Id>12</Id><Ty>T</Ty><KP>2</KP></Towar>\n"
                                       "<Towar><Id>13</Id><Ty>O</Ty><KP>3</KP></Towar>\n"),
            raportOf("UsuwanieTowarów",
                     {{"W", "Błąd nr 209: Towar do skasowania lub zastapienia ma niezerowa sprzedaz lub zwroty jezeli jest opakowaniem.", {12}}},
                     {"W", "Błąd nr 209: Towar do skasowania lub zastapienia ma niezerowa sprzedaz lub zwroty jezeli jest opakowaniem."}));
  EXPECT_TRUE(contains(job.show(), "Butelka"));

  job.sim("init");
  job.sim("seed 5 --packagings 2 --links 2 --barcodes 1");
  EXPECT_EQ(job.run("UsuwanieWszystkichTowarów"), raportOf("UsuwanieWszystkichTowarów", {}, {"OK", ""}));
  EXPECT_EQ(job.bytes("EZB_IN.TXT"), kHeader);
  shown = job.show();
  EXPECT_TRUE(contains(shown, "0 towarów, 0 opakowań, 0 powiązań, 0 dodatkowych kodów")) << shown;
}

TEST(ElzabEndToEnd, ImportResolvesLinksBothWaysAndBarcodes) {
  ElzabJob job;
  job.sim("goods 12 Piwo 3.20 1 2 1 1234567");
  job.sim("goods 40 Butelka 0.50 4 --packaging");
  job.sim("goods 41 Skrzynka 12.00 4 --packaging");
  job.sim("goods 13 Żubr 3.40 1");
  job.run("PrzesyłanieTowarów",
          "<Towar><Id>1</Id><Ty>T</Ty><KP>12</KP><Na>Piwo</Na><Ce>3.20</Ce><Va>1</Va><Gr>2</Gr><JM>1</JM><KK>0001234567</KK>"
          "<KO>40</KO><DK>2000000000017</DK><DK>2000000000024</DK></Towar>\n"
          "<Towar><Id>2</Id><Ty>T</Ty><KP>13</KP><Na>Żubr</Na><Ce>3.40</Ce><Va>1</Va><KO>41</KO></Towar>\n");
  EXPECT_EQ(job.run("ImportTowarów"), raportOf("ImportTowarów", {}, {"OK", ""}));
  EXPECT_EQ(job.text("PROG_KOM.XML"),
            dataFile("ImportTowarów",
                     "\t<Towar><Ty>T</Ty><KP>12</KP><KK>1234567</KK><DK>2000000000017</DK><DK>2000000000024</DK>"
                     "<KO>40</KO><Na>Piwo</Na><Ce id=\"1\">3.2</Ce><Va>1</Va><Gr>2</Gr><JM>1</JM></Towar>\r\n"
                     "\t<Towar><Ty>T</Ty><KP>13</KP><KO>41</KO><Na>Żubr</Na><Ce id=\"1\">3.4</Ce><Va>1</Va><Gr>1</Gr><JM>0</JM></Towar>\r\n"
                     "\t<Towar><Ty>O</Ty><KP>40</KP><Na>Butelka</Na><Ce id=\"1\">0.5</Ce><Va>4</Va><Gr>1</Gr><JM>0</JM></Towar>\r\n"
                     "\t<Towar><Ty>O</Ty><KP>41</KP><Na>Skrzynka</Na><Ce id=\"1\">12</Ce><Va>4</Va><Gr>1</Gr><JM>0</JM></Towar>\r\n"));

  // A register without links or further barcodes: those parts are left out, the goods come.
  job.sim("fault OWiaz unsupported always");
  job.sim("fault ODBarkod nak always");
  EXPECT_EQ(job.run("ImportTowarów"), raportOf("ImportTowarów", {}, {"OK", ""}));
  EXPECT_FALSE(contains(job.text("PROG_KOM.XML"), "<KO>"));
  EXPECT_FALSE(contains(job.text("PROG_KOM.XML"), "<DK>"));
  EXPECT_TRUE(contains(job.text("PROG_KOM.XML"), "<Na>Skrzynka</Na>"));
}

TEST(ElzabEndToEnd, SalesReadOutNegatesPackagingsAndTypesTheirPlu) {
  for (const char* operation : {"OdbiórSprzedaży", "UsuwanieSprzedaży"}) {
    SCOPED_TRACE(operation);
    ElzabJob job;
    job.sim("goods 12 Piwo 3.20 1");
    job.sim("goods 7 Butelka 0.50 4 --packaging");
    job.sim("goods 8 Skrzynka 5.00 4 --packaging");
    job.sim("sell 12 2 6.40");
    job.sim("sell 7 2 1.00");
    job.sim("return 7 3 1.50");
    job.sim("return 8 1 0");
    job.sim("sell 8 1 5.00");
    // A file of an earlier read-out must not pass for this one's.
    quorvel::test::writeFile(job.file("EZB_SPR1.TXT"), "stale");
    EXPECT_EQ(job.run(operation), raportOf(operation, {}, {"OK", ""}));
    EXPECT_EQ(job.bytes("EZB_IN.TXT"), std::string(kHeader) + "$EZB_SPR1.TXT\tEZB_SPR2.TXT\tEZB_SPR3.TXT");
    const std::string sales = job.text("PROG_KOM.XML");
    EXPECT_TRUE(contains(sales, "\t<Obrót><IdUF>7</IdUF><Typ>O</Typ><Ilość>-3</Ilość><Wartość>-1.5</Wartość></Obrót>\r\n")) << sales;
    EXPECT_TRUE(contains(sales, "<Obrót><IdUF>7</IdUF><Typ>O</Typ><Ilość>2</Ilość><Wartość>1</Wartość></Obrót>")) << sales;
    EXPECT_TRUE(contains(sales, "<Obrót><IdUF>12</IdUF><Typ>T</Typ><Ilość>2</Ilość><Wartość>6.4</Wartość></Obrót>")) << sales;
    // The packaging returned without value writes no turnover of its own, yet types its PLU.
    EXPECT_EQ(sales.find("<IdUF>8</IdUF><Typ>O</Typ><Ilość>-1"), std::string::npos) << sales;
    EXPECT_TRUE(contains(sales, "<Obrót><IdUF>8</IdUF><Typ>O</Typ><Ilość>1</Ilość><Wartość>5</Wartość></Obrót>")) << sales;
    EXPECT_NE(job.bytes("EZB_SPR1.TXT"), "stale");
  }
}

TEST(ElzabEndToEnd, SpoiledResultFilesGiveClearMessages) {
  struct Case {
    const char* fault;
    const char* says;  // the start of the error's text (UTF-8)
  } cases[] = {
      {"fault TowarMax noheader", "Nieprawidłowa składnia pliku &apos;EZB_OUT.TXT&apos; w linii "},
      {"fault TowarMax missing", "Brak pliku EZB_OUT.TXT"},
      {"fault TowarMax garble", "Nieprawidłowa liczba całkowita &apos;abc&apos; w pliku &apos;EZB_OUT.TXT&apos; w linii 5."},
      {"fault TowarMax cut", "Niekompletny rekord w pliku &apos;EZB_OUT.TXT&apos; w linii "},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.fault);
    ElzabJob job;
    job.sim("seed 30 --packagings 3 --links 3 --barcodes 3");
    job.sim(k.fault);
    const std::string raport = job.run("ImportTowarów");
    EXPECT_TRUE(contains(raport, std::string("<Typ>E</Typ>\r\n\t\t<Treść>") + k.says)) << raport;
    EXPECT_EQ(job.text("PROG_KOM.XML"), dataFile("ImportTowarów", ""));
  }
  // Sales files that are damaged are errors that name the file and the line, never a read-out
  // without sales: a control byte inside a field, an empty file, one of comments only, lines
  // ended by CR alone. A file with its header and no records is a read-out without sales.
  {
    struct Damage {
      const char* fault;  // "" for none
      const char* text;   // the error's text (UTF-8); "" for an OK read-out without sales
    } damages[] = {
        {"fault OSpOpMax control:00", "Odebrano nieprawidłowe dane z urządzenia EZB_SPR2.TXT, linia 5: znak sterujący 0x00"},
        {"fault OSpOpMax control:1B", "Odebrano nieprawidłowe dane z urządzenia EZB_SPR2.TXT, linia 5: znak sterujący 0x1B"},
        {"fault OSpOpMax empty", "Odebrano nieprawidłowe dane z urządzenia EZB_SPR3.TXT, linia 1: plik jest pusty"},
        {"fault OSpOpMax comments", "Odebrano nieprawidłowe dane z urządzenia EZB_SPR3.TXT, linia 3: brak nagłówka"},
        {"fault OSpOpMax cr-only", "Odebrano nieprawidłowe dane z urządzenia EZB_SPR3.TXT, linia 1: znak sterujący 0x0D"},
        {"", ""},
    };
    for (const Damage& d : damages) {
      SCOPED_TRACE(d.fault);
      ElzabJob job;
      job.sim("seed 5");
      if (*d.fault) {
        job.sim("sell 1 1 3.75");
        job.sim(d.fault);
      }
      const std::string raport = job.run("OdbiórSprzedaży");
      if (*d.text) {
        EXPECT_TRUE(contains(raport, std::string("<Typ>E</Typ>\r\n\t\t<Treść>") + d.text + "</Treść>")) << raport;
      } else {
        EXPECT_EQ(raport, raportOf("OdbiórSprzedaży", {}, {"OK", ""}));
      }
      EXPECT_EQ(job.text("PROG_KOM.XML"), dataFile("OdbiórSprzedaży", ""));
    }
  }
  // Sales: the first spoiled record stops the reading; what was read before stays written.
  ElzabJob job;
  job.sim("seed 5 --packagings 2");
  job.sim("sell 1 1 1.00");
  job.sim("sell 2 1 2.00");
  job.sim("fault OSpOpMax garble");
  const std::string raport = job.run("OdbiórSprzedaży");
  EXPECT_TRUE(contains(raport, "<Typ>E</Typ>")) << raport;
  EXPECT_TRUE(contains(raport, "w pliku &apos;EZB_SPR3.TXT&apos; w linii ")) << raport;
}

// The register clears its counters inside the read-out call: a read-out that fails after it
// names the kept copy of the sales, which no later job deletes.
TEST(ElzabEndToEnd, ReadOutFailingAfterTheRegisterClearedItKeepsTheSales) {
  const std::string cleared = "Odbiór sprzedaży nie został zakończony, a liczniki sprzedaży w kasie zostały już "
                              "wyzerowane; odczytana sprzedaż jest zachowana w plikach: HISTORIA/";
  struct Case {
    const char* what;
    const char* simFault;   // of the register
    const char* fileFault;  // QUORVEL_FILE_FAULT
    const char* says;       // the failure's own message (UTF-8)
  } cases[] = {
      {"PROG_KOM.XML not synced", "", "sync:1:EIO:PROG_KOM.XML", "Błąd zapisu pliku PROG_KOM.XML"},
      {"PROG_KOM.XML not written", "", "write:3:ENOSPC:PROG_KOM.XML", "Błąd zapisu pliku PROG_KOM.XML"},
      {"a garbled record", "fault OSpOpMax garble", "", "w pliku &apos;EZB_SPR3.TXT&apos; w linii "},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    ElzabJob job;
    job.environment = {"QUORVEL_LIBRARY_PATH=" + std::string(QUORVEL_STANDIN_DIR), std::string("QUORVEL_FILE_FAULT=") + k.fileFault};
    job.sim("goods 12 Piwo 3.20 1");
    job.sim("goods 7 Butelka 0.50 4 --packaging");
    job.sim("sell 12 2 6.40");
    job.sim("return 7 1 0.50");
    if (*k.simFault) job.sim(k.simFault);
    const std::string raport = job.run("OdbiórSprzedaży");
    EXPECT_TRUE(contains(raport, k.says)) << raport;
    const std::size_t at = raport.find(cleared);
    ASSERT_NE(at, std::string::npos) << raport;
    EXPECT_TRUE(contains(raport, "<Status>\r\n\t\t<Typ>E</Typ>\r\n\t\t<Treść>" + cleared)) << raport;
    const std::size_t from = at + cleared.size() - std::string("HISTORIA/").size();
    const std::string kept = raport.substr(from, raport.find(',', from) - from);
    EXPECT_TRUE(contains(job.bytes(kept), "12\t2.000\t640")) << kept;
    const std::string folder = kept.substr(0, kept.rfind('/'));
    EXPECT_TRUE(quorvel::test::fileExists(job.file(folder + "/SPRZEDAZ_NIEDOSTARCZONA.TXT")));
    EXPECT_FALSE(contains(job.show(), "sprzedaż")) << job.show();  // cleared

    // The retry reads the register's empty counters and ends OK; the sales of the failed
    // read-out stay kept and marked, and the files of that read-out are not lost.
    job.environment = {"QUORVEL_LIBRARY_PATH=" + std::string(QUORVEL_STANDIN_DIR)};
    job.sim("fault clear");
    EXPECT_EQ(job.run("OdbiórSprzedaży"), raportOf("OdbiórSprzedaży", {}, {"OK", ""}));
    EXPECT_TRUE(contains(job.bytes(kept), "12\t2.000\t640")) << kept;
    EXPECT_TRUE(quorvel::test::fileExists(job.file(folder + "/SPRZEDAZ_NIEDOSTARCZONA.TXT")));
    EXPECT_FALSE(contains(job.bytes("EZB_SPR2.TXT"), "640"));
  }
}

TEST(ElzabEndToEnd, ReadOutStoppedOrWithoutDeviceDataIsNamedAndLosesNothing) {
  ElzabJob job;
  job.environment = {"QUORVEL_LIBRARY_PATH=" + std::string(QUORVEL_STANDIN_DIR)};
  job.sim("goods 12 Piwo 3.20 1");
  job.sim("sell 12 2 6.40");
  // PROG_KOM.XML that cannot be written (a link, not followed even to create its target):
  // the read-out is not started, the counters stay.
  std::filesystem::create_symlink(job.file("ELSEWHERE.XML"), job.file("PROG_KOM.XML"));
  std::string raport = job.run("OdbiórSprzedaży");
  EXPECT_TRUE(contains(raport, "<Typ>E</Typ>\r\n\t\t<Treść>Błąd tworzenia pliku PROG_KOM.XML (nazwa jest dowiązaniem")) << raport;
  EXPECT_TRUE(contains(job.show(), "sprzedaż")) << job.show();
  EXPECT_FALSE(quorvel::test::fileExists(job.file("ELSEWHERE.XML")));
  std::filesystem::remove(job.file("PROG_KOM.XML"));

  // A read-out stopped after the register cleared its counters (the report without its status,
  // the sales kept and marked): the next job names the kept files.
  job.environment.push_back("QUORVEL_FILE_FAULT=sync:1:EIO:PROG_KOM.XML");
  raport = job.run("OdbiórSprzedaży");
  const std::string whole = job.bytes("RAPORT.XML");
  quorvel::test::writeFile(job.file("RAPORT.XML"), whole.substr(0, whole.find("\t<Status>")));
  job.environment.pop_back();
  raport = job.run("ImportTowarów");
  EXPECT_TRUE(contains(raport, "<Typ>W</Typ>\r\n\t\t<Treść>Poprzedni odbiór sprzedaży został przerwany przed końcem")) << raport;
  EXPECT_TRUE(contains(raport, "/EZB_SPR2.TXT")) << raport;
  EXPECT_TRUE(contains(raport, "Liczniki sprzedaży w kasie zostały już wyzerowane.")) << raport;
}
