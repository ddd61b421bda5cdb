// quorvel_posnet end to end: every job goes through the host program, `quorvel run
// quorvel_posnet -C DIR`; the core loads the job, the plug-in binds the stand-in libraries
// found in the job directory, and they carry its requests to the simulated register over TCP
// or a pseudo-terminal. RAPORT.XML and PROG_KOM.XML are compared whole and validated against
// the schemas; the register's state and the bytes it received are checked where they matter.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/posnet_harness.h"
#include "tests/support/job_checks.h"
#include "tests/support/test_support.h"

namespace {

using quorvel::test::cp1250ToUtf8;
using quorvel::test::readFile;
using quorvel::test::posnet::Line;

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

// The harness's job; every run must end as its report says (exit status 0 for OK, 1 for W,
// 2 for E), with no sanitizer report, and leave files valid against the schemas.
class PosnetJob : public quorvel::test::posnet::PosnetJob {
 public:
  using quorvel::test::posnet::PosnetJob::PosnetJob;
  void run(const std::string& operation, const std::string& goods, const quorvel::test::RunOptions& o = {}) {
    writeJob(operation, goods);
    const auto& r = quorvel::test::posnet::PosnetJob::run(o);
    EXPECT_EQ(r.signal, 0) << r.output;
    quorvel::test::expectEndedAsReported(r, raport());
    // A file the disk had no room for cannot be whole; its report says so.
    const bool diskFull = o.fileSizeLimit != RLIM_INFINITY ||
                          std::any_of(o.environment.begin(), o.environment.end(), [](const std::string& e) {
                            return e.rfind("QUORVEL_FILE_FAULT=", 0) == 0;
                          });
    quorvel::test::expectValidResultFiles(*this, /*progKom=*/!diskFull, operation);
  }
};

// ---- The expected files ----------------------------------------------------------------------

std::string message(const std::string& typ, const std::string& text, std::initializer_list<int> ids = {}) {
  std::string m = "\t<Komunikat>\r\n\t\t<Typ>" + typ + "</Typ>\r\n\t\t<Treść>" + text + "</Treść>\r\n";
  for (int id : ids) m += "\t\t<Towar>" + std::to_string(id) + "</Towar>\r\n";
  return m + "\t</Komunikat>\r\n";
}

std::string report(const std::string& operation, const std::string& messages, const std::string& typ,
                   const std::string& text = "") {
  return "<?xml version=\"1.0\" encoding=\"windows-1250\" ?>\r\n<Raport operacja=\"" + operation +
         "\" xmlns=\"http://schemas.quorvel.org/UF/Raport.xsd\">\r\n" + messages + "\t<Status>\r\n\t\t<Typ>" + typ +
         "</Typ>\r\n" + (text.empty() ? "" : "\t\t<Treść>" + text + "</Treść>\r\n") + "\t</Status>\r\n</Raport>";
}

std::string data(const std::string& operation, std::initializer_list<std::string> records = {}) {
  std::string d = "<?xml version=\"1.0\" encoding=\"windows-1250\" ?>\r\n<Dane operacja=\"" + operation +
                  "\" xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\">\r\n";
  for (const std::string& r : records) d += "\t" + r + "\r\n";
  return d + "</Dane>";
}

std::string ids(std::initializer_list<int> list) {
  std::string s;
  for (int id : list) s += "\t<Towar><Id>" + std::to_string(id) + "</Id></Towar>\r\n";
  return s;
}

std::string confirmed(const std::string& operation, std::initializer_list<int> list) {
  std::string d = data(operation);
  d.insert(d.size() - std::string("</Dane>").size(), ids(list));
  return d;
}

// A Towar element of the job.
std::string towar(int id, char ty, int kp, const std::string& rest) {
  return "<Towar><Id>" + std::to_string(id) + "</Id><Ty>" + ty + "</Ty><KP>" + std::to_string(kp) + "</KP>" + rest +
         "</Towar>\n";
}

std::string further(int from, int count) {
  std::string s;
  for (int i = 0; i < count; ++i) s += "<DK>" + std::to_string(from + i) + "</DK>";
  return s;
}


}  // namespace

// Every operation over both lines, one register, in the order a shop would run them.
TEST(PosnetEndToEnd, EveryOperationOverBothLines) {
  for (Line line : {Line::tcp, Line::serial}) {
    SCOPED_TRACE(line == Line::tcp ? "TCP" : "serial line");
    PosnetJob job(line);
    ASSERT_EQ(job.sim("add group 5 Nabiał"), 0);

    job.run("SprawdzeniePołączenia", "");
    EXPECT_EQ(job.raport(), report("SprawdzeniePołączenia", "", "OK", "Połączenie jest prawidłowe."));

    const std::string goods = towar(30, 'O', 3, "<KK>200</KK><DK>201</DK><DK>202</DK><Na>Butelka</Na><Ce>0.50</Ce>") +
                              towar(11, 'T', 1,
                                    "<KK>590</KK><DK>111</DK><DK>222</DK><KO>3</KO><Na>Mleko łąkowe</Na><Ce>4.20</Ce>"
                                    "<CO>1</CO><Va>2</Va><Gr>5</Gr><JM>2</JM>") +
                              towar(12, 'T', 2, "<Na>Masło</Na><Ce>6.99</Ce><Va>1</Va>");
    quorvel::test::RunOptions progress;
    progress.environment.push_back("QUORVEL_PROGRESS_FILE=progress.txt");
    job.run("PrzesyłanieTowarów", goods, progress);
    EXPECT_EQ(job.raport(), report("PrzesyłanieTowarów", "", "OK"));
    // The first and the last of the three records at least (the core thins out the rest).
    const std::string steps = cp1250ToUtf8(readFile(job.file("progress.txt")));
    EXPECT_TRUE(contains(steps, "0 3 Przesyłanie towarów\r\n") && contains(steps, "3 3 Przesyłanie towarów\r\n")) << steps;
    EXPECT_EQ(job.progKom(), confirmed("PrzesyłanieTowarów", {30, 11, 12}));
    const std::string shown = job.show();
    EXPECT_TRUE(contains(shown, "Opakowanie   3  Butelka               kod 200,201,202     cena 0.50")) << shown;
    EXPECT_TRUE(contains(shown, "PLU      1  Mleko łąkowe          kod 590,111,222     cena 4.20 otwarta  VAT 2  grupa 5  jm 2  opak. 3"))
        << shown;
    EXPECT_TRUE(contains(shown, "PLU      2  Masło                 kod -               cena 6.99  VAT 1  grupa 1  jm 0  opak. 0"))
        << shown;

    job.run("ZmianaCenTowarów", towar(11, 'T', 1, "<Na>Mleko łąkowe</Na><Ce>4.99</Ce>") +
                                    towar(30, 'O', 3, "<Na>Butelka</Na><Ce>0.60</Ce>"));
    EXPECT_EQ(job.raport(), report("ZmianaCenTowarów", "", "OK"));
    EXPECT_EQ(job.progKom(), confirmed("ZmianaCenTowarów", {11, 30}));

    job.run("ImportTowarów", "");
    EXPECT_EQ(job.raport(), report("ImportTowarów", "", "OK"));
    EXPECT_EQ(job.progKom(),
              data("ImportTowarów",
                   {"<Towar><Ty>T</Ty><KP>1</KP><KK>590</KK><DK>111</DK><DK>222</DK><KO>3</KO><Na>Mleko łąkowe</Na>"
                    "<Ce id=\"1\">4.99</Ce><CO>1</CO><Va>2</Va><Gr>5</Gr><JM>2</JM></Towar>",
                    "<Towar><Ty>T</Ty><KP>2</KP><Na>Masło</Na><Ce id=\"1\">6.99</Ce><CO>0</CO><Va>1</Va><Gr>1</Gr></Towar>",
                    "<Towar><Ty>O</Ty><KP>3</KP><KK>200</KK><Na>Butelka</Na><Ce id=\"1\">0.6</Ce><CO>0</CO></Towar>"}));

    ASSERT_EQ(job.sim("sell goods 1 1.5 7.49"), 0);
    ASSERT_EQ(job.sim("sell pack 3 5 3.00"), 0);
    ASSERT_EQ(job.sim("return pack 3 2 1.20"), 0);
    job.run("OdbiórSprzedaży", "");
    EXPECT_EQ(job.raport(), report("OdbiórSprzedaży", "", "OK"));
    EXPECT_EQ(job.progKom(),
              data("OdbiórSprzedaży", {"<Obrót><IdUF>1</IdUF><Typ>T</Typ><Ilość>1.5</Ilość><Wartość>7.49</Wartość></Obrót>",
                                       "<Obrót><IdUF>2</IdUF><Typ>T</Typ><Ilość>0</Ilość><Wartość>0</Wartość></Obrót>",
                                       "<Obrót><IdUF>3</IdUF><Typ>O</Typ><Ilość>5</Ilość><Wartość>3</Wartość></Obrót>",
                                       "<Obrót><IdUF>3</IdUF><Typ>O</Typ><Ilość>-2</Ilość><Wartość>-1.2</Wartość></Obrót>"}));
    EXPECT_TRUE(contains(job.show(), "sprzedaż 0.000 (0.00)")) << job.show();
    EXPECT_TRUE(contains(job.show(), "wydano 0.000 (0.00)  przyjęto 0.000 (0.00)")) << job.show();

    ASSERT_EQ(job.sim("sell goods 2 1 6.99"), 0);
    job.run("UsuwanieSprzedaży", "");
    EXPECT_EQ(job.raport(), report("UsuwanieSprzedaży", "", "OK"));
    EXPECT_FALSE(contains(job.show(), "sprzedaż 1.000")) << job.show();

    job.run("UsuwanieTowarów", towar(12, 'T', 2, "<Na>Masło</Na>"));
    EXPECT_EQ(job.raport(), report("UsuwanieTowarów", "", "OK"));
    EXPECT_EQ(job.progKom(), confirmed("UsuwanieTowarów", {12}));
    EXPECT_FALSE(contains(job.show(), "Masło"));

    job.run("UsuwanieWszystkichTowarów", "");
    EXPECT_EQ(job.raport(), report("UsuwanieWszystkichTowarów", "", "OK"));
    EXPECT_TRUE(contains(job.show(), "POSNET register: 0 goods (PLU 1-65535), 0 packagings")) << job.show();
  }
}

// Sending: the "$$$" rule under MPX4s, the barcode limits, the group message, the seven
// collected lists in their order, and a status of no list reported with its goods.
TEST(PosnetEndToEnd, SendingCollectsItsWarningsInOrder) {
  PosnetJob job(Line::tcp);
  ASSERT_EQ(job.sim("limits 1000 50"), 0);
  ASSERT_EQ(job.sim("add pack 4 Skrzynka 5.00"), 0);
  ASSERT_EQ(job.sim("sell pack 4 1 5.00"), 0);
  ASSERT_EQ(job.sim("add goods 7 Cukier 3.00"), 0);
  ASSERT_EQ(job.sim("add goods 8 Sól 1.00"), 0);
  ASSERT_EQ(job.sim("sell goods 7 1 3.00"), 0);
  ASSERT_EQ(job.sim("sell goods 8 1 1.00"), 0);
  ASSERT_EQ(job.sim("fault plu:9 status:913"), 0);
  job.writeConfig(4);  // MPX4s: on the TCP line only its name rule applies
  const std::string goods =
      towar(40, 'O', 5, "<Na>$$$Kosz</Na><Ce>1</Ce>") + towar(41, 'O', 6, "<Na>Kosz$$$</Na><Ce>1</Ce>") +
      towar(42, 'O', 4, "<Na>Skrzynka</Na><Ce>6</Ce>") + towar(43, 'O', 51, "<Na>Paleta</Na><Ce>1</Ce>") +
      towar(44, 'O', 10, "<KK>300</KK>" + further(301, 12) + "<Na>Koszyk</Na><Ce>1</Ce>") +
      towar(45, 'O', 11, "<Na>Skrzynka</Na><Ce>1</Ce>") +
      towar(1, 'T', 1, "<KK>500</KK>" + further(501, 12) + "<Na>Mąka</Na><Ce>2.10</Ce>") +
      towar(2, 'T', 2, "<Na>Ryż$$$</Na><Ce>1</Ce>") + towar(3, 'T', 3, "<Na>Kasza</Na><Ce>1</Ce><Gr>77</Gr>") +
      towar(4, 'T', 7, "<Na>Cukier</Na><Ce>3</Ce>") + towar(5, 'T', 8, "<Na>Sól</Na><Ce>1</Ce>") +
      towar(6, 'T', 1001, "<Na>Pieprz</Na><Ce>1</Ce>") + towar(8, 'T', 12, "<Na>Olej</Na><Ce>9</Ce><KO>33</KO>") +
      towar(9, 'T', 13, "<Na>Mąka</Na><Ce>1</Ce>") + towar(10, 'T', 9, "<Na>Ocet</Na><Ce>1</Ce>") +
      // Group and unit travel as one byte: 257 and 258 would arrive as group 1 and unit 2, so the
      // check before sending skips them and names them first.
      towar(11, 'T', 14, "<Na>Imbir</Na><Ce>1</Ce><Gr>257</Gr>") + towar(12, 'T', 15, "<Na>Anyż</Na><Ce>1</Ce><JM>258</JM>");
  job.run("PrzesyłanieTowarów", goods);
  EXPECT_EQ(job.progKom(), confirmed("PrzesyłanieTowarów", {44, 1}));
  const std::string tooMany = "Zbyt dużo dodatkowych kodów kreskowych - zaprogramowano tylko 10 pierwszych";
  EXPECT_EQ(job.raport(),
            report("PrzesyłanieTowarów",
                   message("W", "Jednostka miary (JM) spoza zakresu kasy 0-255 - pominięto", {12}) +
                       message("W", "Numer grupy towarowej (Gr) spoza zakresu kasy 0-255 - pominięto", {11}) +
                       message("W", "Nazwa opakowania zawiera niedozwolony ciąg znaków - opakowanie pominięto.", {40}) +
                       message("W", "Nazwa opakowania zawiera niedozwolony ciąg znaków - opakowanie pominięto.", {41}) +
                       message("W", tooMany, {1}) +
                       message("W", "Nazwa towaru zawiera niedozwolony ciąg znaków - towar pominięto.", {2}) +
                       message("W", "Nie znaleziono grupy towarowej o numerze 77 - towar pominięto.", {3}) +
                       message("E", "Błąd kasy nr 913 (DLL: 430391h)", {10}) +
                       message("W", "Opakowanie jest już zaprogramowane i ma niezerowy obrót - nie zostało przesłane", {42}) +
                       message("W", "Towar jest już zaprogramowany i ma niezerową sprzedaż - nie został przesłany", {4, 5}) +
                       message("W", "Kod PLU opakowania poza dopuszczalnym zakresem - opakowanie nie zostało przesłane", {43}) +
                       message("W", "Kod PLU towaru poza dopuszczalnym zakresem - towar nie został przesłany", {6}) +
                       message("W", "Opakowanie związane nie jest zaprogramowane - towar został pominięty", {8}) +
                       message("W", "Opakowania o nieunikalnych nazwach nie zostały przesłane", {45}) +
                       message("W", "Towary o nieunikalnych nazwach nie zostały przesłane", {9}),
                   "W", "Towary o nieunikalnych nazwach nie zostały przesłane"));
  const std::string shown = job.show();
  // The packaging keeps all twelve further barcodes, the goods its own and the first nine.
  EXPECT_TRUE(contains(shown, "kod 300,301,302,303,304,305,306,307,308,309,310,311,312")) << shown;
  EXPECT_TRUE(contains(shown, "kod 500,501,502,503,504,505,506,507,508,509 ")) << shown;

  // Another multiplexer: both "$$$" packagings reach the register.
  PosnetJob other(Line::tcp);
  other.writeConfig(1);
  other.run("PrzesyłanieTowarów", goods.substr(0, goods.find("<Towar><Id>42<")));
  EXPECT_EQ(other.progKom(), confirmed("PrzesyłanieTowarów", {40, 41}));
  EXPECT_EQ(other.raport(), report("PrzesyłanieTowarów", "", "OK"));
}

// Price changes and deletions: their lists, the silent 903 of a deletion, and the order.
TEST(PosnetEndToEnd, PriceChangesAndDeletionsListWhatTheRegisterRefused) {
  PosnetJob job(Line::tcp);
  ASSERT_EQ(job.sim("add pack 3 Butelka 0.50"), 0);
  ASSERT_EQ(job.sim("add pack 4 Skrzynka 5.00"), 0);
  ASSERT_EQ(job.sim("add pack 5 Kosz 2.00"), 0);
  ASSERT_EQ(job.sim("add goods 1 Piwo 3.00 pack=3"), 0);
  ASSERT_EQ(job.sim("add goods 2 Sok 4.00"), 0);
  ASSERT_EQ(job.sim("sell goods 2 1 4.00"), 0);
  ASSERT_EQ(job.sim("sell pack 4 1 5.00"), 0);

  job.run("ZmianaCenTowarów", towar(1, 'O', 9, "<Na>X</Na><Ce>1</Ce>") + towar(2, 'T', 99, "<Na>Y</Na><Ce>1</Ce>") +
                                  towar(3, 'T', 2, "<Na>Sok</Na><Ce>4.50</Ce>"));
  EXPECT_EQ(job.progKom(), confirmed("ZmianaCenTowarów", {3}));
  EXPECT_EQ(job.raport(),
            report("ZmianaCenTowarów",
                   message("W", "Nie ma takiego towaru w kasie - cena nie została zmieniona", {2}) +
                       message("W", "Nie ma takiego opakowania w kasie - cena nie została zmieniona", {1}),
                   "W", "Nie ma takiego opakowania w kasie - cena nie została zmieniona"));

  job.run("UsuwanieTowarów", towar(11, 'O', 3, "") + towar(12, 'O', 4, "") + towar(13, 'O', 5, "") +
                                 towar(14, 'T', 2, "") + towar(15, 'T', 77, "") + towar(16, 'O', 88, ""));
  EXPECT_EQ(job.progKom(), confirmed("UsuwanieTowarów", {13}));
  EXPECT_EQ(job.raport(),
            report("UsuwanieTowarów",
                   message("W", "Opakowanie ma niezerowy obrót - nie zostało usunięte", {12}) +
                       message("W", "Towar ma niezerową sprzedaż - nie został usunięty", {14}) +
                       message("W", "Nie mozna usunąć opakowania, które jest powiązane z towarem", {11}),
                   "W", "Nie mozna usunąć opakowania, które jest powiązane z towarem"));

  // Delete all: the goods refuse (sales), the packagings are not asked.
  job.run("UsuwanieWszystkichTowarów", "");
  EXPECT_EQ(job.raport(), report("UsuwanieWszystkichTowarów",
                                 message("E", "niedozwolona operacja na rekordzie z niezerową statystyką (DLL: 4303b0h)"), "E",
                                 "niedozwolona operacja na rekordzie z niezerową statystyką (DLL: 4303b0h)"));
  EXPECT_TRUE(contains(job.show(), "Butelka")) << job.show();
}

// The sales read-out clears the counters only once both read-outs ended normally and
// PROG_KOM.XML is on disk; the counters stay in every other case.
TEST(PosnetEndToEnd, CountersAreNeverClearedWithoutDurableData) {
  const auto withSales = [](PosnetJob& job, int goods = 3) {
    ASSERT_EQ(job.sim("fill " + std::to_string(goods) + " sold"), 0);
    ASSERT_EQ(job.sim("add pack 4 Skrzynka 5.00"), 0);
    ASSERT_EQ(job.sim("sell pack 4 5 25.00"), 0);
  };
  const auto countersStay = [](const PosnetJob& job) {
    const std::string shown = job.show();
    EXPECT_TRUE(contains(shown, "PLU      3  Towar 3               kod 5900000000003   cena 1.03  VAT 3  grupa 1  jm 0  "
                                "opak. 0  sprzedaż 2.500 (2.57)"))
        << shown;
    EXPECT_TRUE(contains(shown, "wydano 5.000 (25.00)")) << shown;
  };
  const std::string readFailed = "Błąd odbioru danych. Należy wykonać ponownie odbiór danych o sprzedaży.";

  {
    SCOPED_TRACE("a read fails after two records");
    PosnetJob job(Line::tcp);
    withSales(job);
    ASSERT_EQ(job.sim("fault cmd:PLUStatRead@2 status:3001"), 0);
    job.run("OdbiórSprzedaży", "");
    EXPECT_EQ(job.raport(), report("OdbiórSprzedaży",
                                   message("E", "brakujące dane (DLL: 430bb9h)") + message("E", readFailed), "E", readFailed));
    EXPECT_EQ(job.progKom(),
              data("OdbiórSprzedaży", {"<Obrót><IdUF>1</IdUF><Typ>T</Typ><Ilość>1.5</Ilość><Wartość>1.51</Wartość></Obrót>",
                                       "<Obrót><IdUF>2</IdUF><Typ>T</Typ><Ilość>2</Ilość><Wartość>2.04</Wartość></Obrót>"}));
    countersStay(job);
  }
  {
    SCOPED_TRACE("the first read fails");
    PosnetJob job(Line::serial);
    withSales(job);
    ASSERT_EQ(job.sim("fault cmd:PLUStatRead@0 status:3001"), 0);
    job.run("OdbiórSprzedaży", "");
    EXPECT_EQ(job.raport(), report("OdbiórSprzedaży", message("E", "brakujące dane (DLL: 430bb9h)"), "E",
                                   "brakujące dane (DLL: 430bb9h)"));
    countersStay(job);
  }
  {
    SCOPED_TRACE("the packagings' read-out fails");
    PosnetJob job(Line::tcp);
    withSales(job);
    ASSERT_EQ(job.sim("fault cmd:PackStatRead@0 status:3001"), 0);
    job.run("OdbiórSprzedaży", "");
    EXPECT_EQ(job.raport(), report("OdbiórSprzedaży",
                                   message("E", "brakujące dane (DLL: 430bb9h)") + message("E", readFailed), "E", readFailed));
    countersStay(job);
  }
  {
    SCOPED_TRACE("PROG_KOM.XML cannot grow");
    PosnetJob job(Line::tcp);
    withSales(job, 30);
    quorvel::test::RunOptions small;
    small.fileSizeLimit = 1500;  // RAPORT.XML and the first records fit, the rest does not
    job.run("OdbiórSprzedaży", "", small);
    EXPECT_EQ(job.raport(),
              report("OdbiórSprzedaży",
                     message("E", "Błąd zapisu pliku PROG_KOM.XML") +
                         message("E", "Błąd zapisu danych. Należy wykonać ponownie odbiór danych o sprzedaży."),
                     "E", "Błąd zapisu danych. Należy wykonać ponownie odbiór danych o sprzedaży."));
    countersStay(job);
  }
  {
    SCOPED_TRACE("PROG_KOM.XML on a full disk");
    PosnetJob job(Line::tcp);
    withSales(job);
    quorvel::test::RunOptions full;
    full.environment = {"QUORVEL_FILE_FAULT=write:1+:ENOSPC:PROG_KOM.XML"};
    job.run("OdbiórSprzedaży", "", full);
    EXPECT_TRUE(contains(job.raport(), "Błąd zapisu pliku PROG_KOM.XML")) << job.raport();
    countersStay(job);
  }
  {
    SCOPED_TRACE("the register killed in the middle of the read-out");
    PosnetJob job(Line::tcp);
    withSales(job);
    // The register falls silent at the second record; while the library waits for it, the
    // register is killed outright.
    ASSERT_EQ(job.sim("fault cmd:PLUStatRead@1 silence"), 0);
    std::thread killer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(1500));
      job.killRegister();
    });
    job.run("OdbiórSprzedaży", "");
    killer.join();
    EXPECT_TRUE(contains(job.raport(), readFailed)) << job.raport();
    EXPECT_EQ(job.progKom(),
              data("OdbiórSprzedaży", {"<Obrót><IdUF>1</IdUF><Typ>T</Typ><Ilość>1.5</Ilość><Wartość>1.51</Wartość></Obrót>"}));
    countersStay(job);
  }
  {
    SCOPED_TRACE("the clearing is refused");
    PosnetJob job(Line::tcp);
    withSales(job);
    ASSERT_EQ(job.sim("fault cmd:PackStatClearAll status:944"), 0);
    job.run("OdbiórSprzedaży", "");
    EXPECT_EQ(job.raport(), report("OdbiórSprzedaży",
                                   message("E", "niedozwolona operacja na rekordzie z niezerową statystyką (DLL: 4303b0h)"),
                                   "W",
                                   "Liczniki sprzedaży nie zostały wyzerowane w całości: liczniki sprzedaży towarów "
                                   "wyzerowano; liczniki sprzedaży opakowań nie zostały wyzerowane. Następny odbiór poda "
                                   "ponownie sprzedaż opakowań odebraną teraz - nie należy jej doliczać drugi raz."));
  }
  {
    SCOPED_TRACE("an empty register");
    PosnetJob job(Line::tcp);
    job.run("OdbiórSprzedaży", "");
    EXPECT_EQ(job.raport(), report("OdbiórSprzedaży", "", "OK"));
    EXPECT_EQ(job.progKom(), data("OdbiórSprzedaży"));
    job.run("ImportTowarów", "");
    EXPECT_EQ(job.raport(), report("ImportTowarów", "", "OK"));
    EXPECT_EQ(job.progKom(), data("ImportTowarów"));
  }
}

// A clearing that did not clear both counters after a whole read-out: the report names which
// counters were cleared, which were not and which the register may have cleared (its answer
// lost), the status is a warning, the sales read stay delivered, and the register keeps
// exactly the counters the report says were not cleared.
TEST(PosnetEndToEnd, PartialClearingNamesEachCounter) {
  const std::string refused = "niedozwolona operacja na rekordzie z niezerową statystyką (DLL: 4303b0h)";
  const std::string timedOut = "Oczekiwanie zakończone upłynięciem czasu (timeout). (DLL: 10002h)";
  const std::string partly = "Liczniki sprzedaży nie zostały wyzerowane w całości: ";
  const std::string packsAgain =
      " Następny odbiór poda ponownie sprzedaż opakowań odebraną teraz - nie należy jej doliczać drugi raz.";
  const std::string packsMaybe =
      " Następny odbiór może podać ponownie sprzedaż opakowań odebraną teraz - przed jej doliczeniem należy "
      "sprawdzić, czy nie zostanie policzona dwukrotnie.";
  const std::string goodsMaybe =
      " Następny odbiór może podać ponownie sprzedaż towarów odebraną teraz - przed jej doliczeniem należy "
      "sprawdzić, czy nie zostanie policzona dwukrotnie.";
  struct Case {
    const char* name;
    const char* fault;
    std::string message;  // the failed request's
    std::string status;
    bool goodsStay, packagingsStay;  // counters left in the register
  };
  const Case cases[] = {
      {"the goods' clearing refused", "fault cmd:PLUStatClearAll status:944", refused,
       "Liczniki sprzedaży nie zostały wyzerowane", true, true},
      {"the packagings' clearing refused", "fault cmd:PackStatClearAll status:944", refused,
       partly + "liczniki sprzedaży towarów wyzerowano; liczniki sprzedaży opakowań nie zostały wyzerowane." +
           packsAgain,
       false, true},
      {"the goods' clearing done, its answer lost", "fault cmd:PLUStatClearAll lost", timedOut,
       partly +
           "nie wiadomo, czy liczniki sprzedaży towarów zostały wyzerowane (kasa nie odpowiedziała na polecenie, "
           "mogła je wyzerować); liczniki sprzedaży opakowań nie zostały wyzerowane." +
           goodsMaybe + packsAgain,
       false, true},
      {"the packagings' clearing done, its answer lost", "fault cmd:PackStatClearAll lost", timedOut,
       partly +
           "liczniki sprzedaży towarów wyzerowano; nie wiadomo, czy liczniki sprzedaży opakowań zostały wyzerowane "
           "(kasa nie odpowiedziała na polecenie, mogła je wyzerować)." +
           packsMaybe,
       false, false},
  };
  for (Line line : {Line::tcp, Line::serial}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (line == Line::tcp ? " (TCP)" : " (serial line)"));
      PosnetJob job(line);
      ASSERT_EQ(job.sim("add goods 1 Piwo 3.00"), 0);
      ASSERT_EQ(job.sim("sell goods 1 2 6.00"), 0);
      ASSERT_EQ(job.sim("add pack 4 Skrzynka 5.00"), 0);
      ASSERT_EQ(job.sim("sell pack 4 5 25.00"), 0);
      ASSERT_EQ(job.sim(c.fault), 0);
      quorvel::test::RunOptions quick;
      quick.environment.push_back("POSNET_SIM_TIMEOUT_MS=300");
      job.run("OdbiórSprzedaży", "", quick);
      EXPECT_EQ(job.raport(), report("OdbiórSprzedaży", message("E", c.message), "W", c.status));
      EXPECT_EQ(job.progKom(),
                data("OdbiórSprzedaży",
                     {"<Obrót><IdUF>1</IdUF><Typ>T</Typ><Ilość>2</Ilość><Wartość>6</Wartość></Obrót>",
                      "<Obrót><IdUF>4</IdUF><Typ>O</Typ><Ilość>5</Ilość><Wartość>25</Wartość></Obrót>"}));
      const std::string shown = job.show();
      EXPECT_EQ(contains(shown, "sprzedaż 2.000 (6.00)"), c.goodsStay) << shown;
      EXPECT_EQ(contains(shown, "wydano 5.000 (25.00)"), c.packagingsStay) << shown;
    }
  }
  // The clearing alone keeps the request's error as its status and adds which counters were
  // cleared after all.
  PosnetJob job(Line::tcp);
  ASSERT_EQ(job.sim("add pack 4 Skrzynka 5.00"), 0);
  ASSERT_EQ(job.sim("sell pack 4 5 25.00"), 0);
  ASSERT_EQ(job.sim("fault cmd:PackStatClearAll lost"), 0);
  quorvel::test::RunOptions quick;
  quick.environment.push_back("POSNET_SIM_TIMEOUT_MS=300");
  job.run("UsuwanieSprzedaży", "", quick);
  EXPECT_EQ(job.raport(),
            report("UsuwanieSprzedaży",
                   message("E", timedOut) +
                       message("W", partly +
                                        "liczniki sprzedaży towarów wyzerowano; nie wiadomo, czy liczniki sprzedaży "
                                        "opakowań zostały wyzerowane (kasa nie odpowiedziała na polecenie, mogła je "
                                        "wyzerować)."),
                   "E", timedOut));
}

// The load: what refuses it, with its message, before anything reaches the register.
TEST(PosnetEndToEnd, LoadRefusals) {
  struct Case {
    const char* what;
    std::function<void(PosnetJob&)> set;
    std::string text;
  } cases[] = {
      {"connection type 2", [](PosnetJob& j) { j.writeConfig(0, 1, false, 2); }, "Nieprawidłowy rodzaj komunikacji"},
      {"unknown model", [](PosnetJob& j) { j.writeJob("SprawdzeniePołączenia", "", "Posnet_Thermal"); },
       "Nieznany model urządzenia Posnet_Thermal (quorvel_posnet obsługuje modele: Quorvel_Posnet_Combo)"},
      // A library in the job directory is never taken, whatever its name: only the search's
      // folders count, and the message names the file and those folders (checked below).
      {"no libhlapi",
       [](PosnetJob& j) {
         std::filesystem::rename(j.library("libhlapi.so"), j.file("libhlapi.so"));
       },
       "Nie znaleziono biblioteki libhlapi.so. Szukano pliku libhlapi.so w folderach: "},
      {"libhlapi without its functions",
       [](PosnetJob& j) {
         std::filesystem::remove(j.library("libhlapi.so"));
         std::filesystem::create_symlink(std::filesystem::read_symlink(j.library("libposnet.so")), j.library("libhlapi.so"));
       },
       "Nie znaleziono funkcji &apos;POSS_VATGet&apos; w bibliotece libhlapi.so."},  // as escaped in the file
      {"register gone (TCP): the connection is refused", [](PosnetJob& j) { j.killRegister(); },
       ""},  // the text names the address, checked below
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PosnetJob job(Line::tcp);
    job.writeJob("SprawdzeniePołączenia", "");
    c.set(job);
    job.quorvel::test::posnet::PosnetJob::run();
    std::string text =
        c.text.empty() ? "Brak połączenia przez ethernet - adres IP " + job.address() +
                             " odrzucił połączenie (na tym porcie nie działa kasa)"
                       : c.text;
    if (text.back() == ' ') {
      // The folders searched: the library path first, then the core's and the program's, then
      // the linker's; never the job directory.
      const std::string raport = job.raport();
      const std::size_t at = raport.find("<Treść>"), end = raport.find("</Treść>");
      ASSERT_NE(end, std::string::npos) << raport;
      const std::string got = raport.substr(at + std::string("<Treść>").size(), end - at - std::string("<Treść>").size());
      const std::string lib = std::filesystem::canonical(QUORVEL_LIB_DIR).string();
      const std::string bin = std::filesystem::canonical(QUORVEL_BIN_DIR).string();
      EXPECT_EQ(got.rfind(text + job.libraryDir() + ", " + lib + ", " + bin + ", ", 0), 0u) << got;
      EXPECT_EQ(got.find(job.path()), std::string::npos) << got;
      EXPECT_EQ(got.back(), '.') << got;
      text = got;
    }
    EXPECT_EQ(job.raport(), report("SprawdzeniePołączenia", message("E", text), "E", text));
    EXPECT_EQ(job.lastRun().exitStatus, 2);
  }
  {
    // A job the core does not pass to the plug-in (nothing to send): the device opened at
    // load is closed at unload, before its library goes.
    PosnetJob job(Line::tcp);
    job.writeConfig(0, 1, /*detailedLog=*/true);
    job.run("PrzesyłanieTowarów", "");
    EXPECT_EQ(job.raport(), report("PrzesyłanieTowarów", message("W", "Brak towarów do przesłania"), "W",
                                   "Brak towarów do przesłania"));
    std::string log;
    for (const auto& e : std::filesystem::directory_iterator(job.path()))
      if (e.path().extension() == ".dmp") log = readFile(e.path().string());
    EXPECT_TRUE(contains(log, "closed")) << log;
  }
  PosnetJob job(Line::serial);
  job.writeConfig();
  std::filesystem::remove(job.tty());
  job.run("SprawdzeniePołączenia", "");
  const std::string text = "Brak połączenia z portem szeregowym " + job.tty();
  EXPECT_EQ(job.raport(), report("SprawdzeniePołączenia", message("E", text), "E", text));
}

// The multiplexer on the serial line: MPX4s switched on our own port before the library's
// first bytes, Elzab over the library's port after them (pseudo-terminals carry no modem
// lines, so its switching leaves no bytes); and the detailed log under the dump's name.
TEST(PosnetEndToEnd, MultiplexerOrderOnTheWireAndTheDetailedLog) {
  {
    PosnetJob job(Line::serial);
    job.writeConfig(4, 3);
    job.run("SprawdzeniePołączenia", "");
    EXPECT_EQ(job.raport(), report("SprawdzeniePołączenia", "", "OK", "Połączenie jest prawidłowe."));
    const std::string raw = job.rawLog();
    ASSERT_GE(raw.size(), 5u);
    EXPECT_EQ(raw.substr(0, 5), std::string("$$$\x03\x02", 5)) << "the channel, then the library's first frame";
    EXPECT_EQ(raw.find("$$$", 1), std::string::npos);
  }
  {
    PosnetJob job(Line::serial);
    job.writeConfig(1, 2, /*detailedLog=*/true);
    job.run("SprawdzeniePołączenia", "");
    EXPECT_EQ(job.raport(), report("SprawdzeniePołączenia", "", "OK", "Połączenie jest prawidłowe."));
    const std::string raw = job.rawLog();
    ASSERT_FALSE(raw.empty());
    EXPECT_EQ(raw[0], '\x02');
    EXPECT_EQ(raw.find("$$$"), std::string::npos);
    EXPECT_TRUE(contains(job.lastRun().output, "UWAGA! To jest transmisja z zapisem diagnostycznym.")) << job.lastRun().output;
    int logs = 0;
    for (const auto& e : std::filesystem::directory_iterator(job.path())) {
      const std::string name = e.path().filename().string();
      if (name.size() == 13 + std::string("SprawdzeniePołączenia.dmp").size() &&
          name.substr(12) == "_SprawdzeniePołączenia.dmp") {
        ++logs;
        EXPECT_GT(std::filesystem::file_size(e.path()), 0u);
      }
    }
    EXPECT_EQ(logs, 1);
  }
}

// `quorvel config quorvel_posnet`: the keys as printed, and what is refused with which text.
TEST(PosnetEndToEnd, HeadlessConfiguration) {
  quorvel::test::ScratchDir dir;
  const auto config = [&](std::vector<std::string> settings) {
    std::vector<std::string> args = {quorvel::test::hostPath(), "config", "quorvel_posnet", "-C", dir.path()};
    args.insert(args.end(), settings.begin(), settings.end());
    const auto r = quorvel::test::runProgram(args, {});
    return std::to_string(r.exitStatus) + " " + r.output;
  };
  struct Case {
    std::vector<std::string> settings;
    const char* out;
  } cases[] = {
      {{"connection=Ethernet", "ip=127.0.0.1:40001", "parity=e", "mux=yes", "mux-type=mpx4s", "mux-channel=8", "log=on"},
       "0 connection = Ethernet\nip = 127.0.0.1:40001\nport = COM1\nspeed = 9600\ndata-bits = 8\nparity = E\n"
       "stop-bits = 1\nmux = yes\nmux-type = MPX4s\nmux-channel = 8\nlog = yes\n"},
      {{"mux-channel=9"}, "64 quorvel: the value of mux-channel is refused:\n    Wprowadź liczbę całkowitą z zakresu od 1 do 8.\n"},
      {{"ip=127.0.0.1:400011"}, "64 quorvel: the value of ip is refused:\n    Numer portu po dwukropku musi być liczbą od 1 do 65535 (adres a.b.c.d:port).\n"},
      {{"data-bits=6"}, "64 quorvel: the value of data-bits is refused:\n    must be one of 7, 8\n"},
      {{"stop-bits=1.5"}, "64 quorvel: the value of stop-bits is refused:\n    must be one of 1, 2\n"},
      {{"parity=M"}, "64 quorvel: the value of parity is refused:\n    must be one of N, O, E\n"},
      {{"speed=14400"}, "64 quorvel: the value of speed is refused:\n    must be one of 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200\n"},
      {{"connection=RS-232", "speed=115200", "data-bits=7", "stop-bits=2", "port=/dev/ttyQuorvelMissing0"},
       "0 quorvel: warning: /dev/ttyQuorvelMissing0 does not exist now; saved all the same, for a port that appears "
       "later\nconnection = RS-232\nip = 127.0.0.1:40001\nport = /dev/ttyQuorvelMissing0\nspeed = 115200\ndata-bits = 7\nparity = E\n"
       "stop-bits = 2\nmux = yes\nmux-type = MPX4s\nmux-channel = 8\nlog = yes\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(config(c.settings), c.out) << c.settings.front();
}

// Why a register over Ethernet cannot be reached, as the library tells it: nothing listens at
// the port (refused), the address answers no connection (time-out: a listener whose queue is
// full drops further connections unanswered), or no route leads to it (unreachable: the
// kernel refuses a TCP connection to a multicast address at once, with or without a network,
// so the case needs no network of the machine that runs it).
TEST(PosnetEndToEnd, ConnectionFailuresOverEthernetTellTheirReason) {
  const auto listener = [](int backlog) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0 || (backlog >= 0 && ::listen(fd, backlog) != 0))
      throw std::runtime_error("socket");
    return std::make_pair(fd, static_cast<int>(ntohs(a.sin_port)));
  };
  // A port bound but not listening: refused.
  const auto [closedFd, closedPort] = listener(-1);
  // A listener that never accepts, its queue filled by one connection: the next one waits.
  const auto [fullFd, fullPort] = listener(0);
  const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  to.sin_port = htons(static_cast<std::uint16_t>(fullPort));
  ASSERT_EQ(::connect(filler, reinterpret_cast<sockaddr*>(&to), sizeof to), 0);

  struct Case {
    std::string address;
    std::string text;
  } cases[] = {
      {"127.0.0.1:" + std::to_string(closedPort), " odrzucił połączenie (na tym porcie nie działa kasa)"},
      {"127.0.0.1:" + std::to_string(fullPort), " nie odpowiada (upłynął czas oczekiwania na połączenie)"},
      {"224.0.0.1:6666", " nie istnieje"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    PosnetJob job(Line::tcp);
    job.writeAddress(c.address);
    quorvel::test::RunOptions o;
    o.environment.push_back("POSNET_SIM_TIMEOUT_MS=500");
    const auto started = std::chrono::steady_clock::now();
    job.run("SprawdzeniePołączenia", "", o);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    const std::string text = "Brak połączenia przez ethernet - adres IP " + c.address + c.text;
    EXPECT_EQ(job.raport(), report("SprawdzeniePołączenia", message("E", text), "E", text));
  }
  ::close(filler);
  ::close(fullFd);
  ::close(closedFd);
}
