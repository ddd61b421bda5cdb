// Whole jobs through the real `quorvel` program: job directory in, RAPORT.XML and PROG_KOM.XML
// out, with the test plug-ins standing in for drivers. Both result files are compared byte for
// byte and validated with the schemas on every path, failures included.
#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/cp1250.h"
#include "tests/support/test_support.h"

namespace {

using quorvel::test::cp1250ToUtf8;
using quorvel::test::fileExists;
using quorvel::test::readFile;
using quorvel::test::schemaErrors;
using quorvel::test::ScratchDir;
using quorvel::test::writeFile;

const std::string kQuorvel = std::string(QUORVEL_BIN_DIR) + "/quorvel";
const std::string kDaneNs = "http://schemas.quorvel.org/UF/Dane.xsd";
const std::string kRaportNs = "http://schemas.quorvel.org/UF/Raport.xsd";

// UTF-8 test text to the windows-1250 bytes the system reads and writes.
std::string cp(const std::string& utf8) { return quorvel::cp1250::fromUtf8(utf8); }

struct RunResult {
  int status = -1;
  std::string out;  // UTF-8, as the terminal shows it
  std::string err;
};

// The job-file names of every operation the core knows and of every Elcom model.
const char* const kJobNames[] = {
    "Konfiguracja", "SprawdzeniePołączenia", "PrzesyłanieTowarów", "ZmianaCenTowarów", "UsuwanieTowarów",
    "ImportTowarów", "SprawdzenieDanychTowarów", "OdbiórSprzedaży", "UsuwanieSprzedaży", "WydrukFiskalny",
    "RaportFiskalny", "UsuwanieWszystkichTowarów", "OtwieranieSzuflady", "SprawdzenieDatyICzasu",
    "SynchronizacjaDatyICzasu", "RaportOkresowyPełny", "RaportOkresowySkrócony", "Quorvel_Elcom_Euro500T2",
    "Quorvel_Elcom_Euro500T10", "Quorvel_Elcom_Euro500TX2", "Quorvel_Elcom_Euro500TX10", "Quorvel_Elcom_EuroSmart",
    "Quorvel_Elcom_Euro2100TX8", "Quorvel_Elcom_Euro2100TX27"};

// A run that hangs ends after a minute with status 124 instead of stalling the suite.
RunResult quorvel(const std::string& args, const std::string& cwd = ".") {
  const std::string cmd = "cd '" + cwd + "' && timeout 60 '" + kQuorvel + "' " + args + " >quorvel.out 2>quorvel.err";
  const int raw = std::system(cmd.c_str());
  RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = readFile(cwd + "/quorvel.out");
  r.err = readFile(cwd + "/quorvel.err");
  std::filesystem::remove(cwd + "/quorvel.out");
  std::filesystem::remove(cwd + "/quorvel.err");
  return r;
}

// VEXA_JOB.XML in windows-1250 with the operation and body given in UTF-8.
void writeJob(const std::string& operacja, const std::string& body = "") {
  std::string xml = "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n<Dane operacja=\"" + operacja +
                    "\" idModelu=\"Euro-500T\" xmlns=\"" + kDaneNs + "\"";
  xml += body.empty() ? "/>\r\n" : ">\r\n" + body + "</Dane>\r\n";
  writeFile("VEXA_JOB.XML", cp(xml));
}

struct Message {
  std::string typ;
  std::string text;  // UTF-8
};

// RAPORT.XML as the writer lays it out; texts in UTF-8.
std::string raportXml(const std::string& operacja, const std::vector<Message>& messages, const std::string& statusTyp,
                      const std::string& statusText = "") {
  std::string x = "<?xml version=\"1.0\" encoding=\"windows-1250\" ?>\r\n<Raport operacja=\"" + operacja +
                  "\" xmlns=\"" + kRaportNs + "\">\r\n";
  for (const auto& m : messages)
    x += "\t<Komunikat>\r\n\t\t<Typ>" + m.typ + "</Typ>\r\n\t\t<Treść>" + m.text + "</Treść>\r\n\t</Komunikat>\r\n";
  x += "\t<Status>\r\n\t\t<Typ>" + statusTyp + "</Typ>\r\n";
  if (!statusText.empty()) x += "\t\t<Treść>" + statusText + "</Treść>\r\n";
  x += "\t</Status>\r\n</Raport>";
  return cp(x);
}

std::string progKomXml(const std::string& operacja, const std::string& records = "") {
  return cp("<?xml version=\"1.0\" encoding=\"windows-1250\" ?>\r\n<Dane operacja=\"" + operacja + "\" xmlns=\"" +
            kDaneNs + "\">\r\n" + records + "</Dane>");
}

// Both result files are well-formed and valid, whatever path the job took.
void expectValidResults() {
  EXPECT_EQ(schemaErrors("RAPORT.XML", "Raport.xsd"), "");
  EXPECT_EQ(schemaErrors("PROG_KOM.XML", "Dane.xsd"), "");
}

std::string pluginLog() { return readFile("TEST_PLUGIN.LOG"); }

// One goods record of a goods job, one position of a fiscal job.
const std::string kOneGoods = "<Towar><Id>7</Id><KP>1</KP><Na>Chleb</Na></Towar>\r\n";
const std::string kOnePosition = "<Pozycja><Id>9</Id><Na>Chleb</Na></Pozycja>\r\n";

struct Row {
  const char* operacja;  // UTF-8
  const char* entry;
  const char* body;
};

// Every row of the operation table, with what its precondition needs.
const Row kRows[] = {
    {"Konfiguracja", "opKonfiguracja", ""},
    {"SprawdzeniePołączenia", "opSprawdzeniePolaczenia", ""},
    {"PrzesyłanieTowarów", "opPrzesylanieTowarow", kOneGoods.c_str()},
    {"ZmianaCenTowarów", "opZmianaCenTowarow", kOneGoods.c_str()},
    {"UsuwanieTowarów", "opUsuwanieTowarow", kOneGoods.c_str()},
    {"ImportTowarów", "opImportTowarow", ""},
    {"SprawdzenieDanychTowarów", "opSprawdzenieDanychTowarow", kOneGoods.c_str()},
    {"OdbiórSprzedaży", "opOdbiorSprzedazy", ""},
    {"UsuwanieSprzedaży", "opUsuwanieSprzedazy", ""},
    {"WydrukFiskalny", "opWydrukFiskalny", kOnePosition.c_str()},
    {"RaportFiskalny", "opRaportFiskalny", ""},
    {"UsuwanieWszystkichTowarów", "opUsuwanieWszystkichTowarow", ""},
    {"OtwieranieSzuflady", "opOtwieranieSzuflady", ""},
    {"SprawdzenieDatyICzasu", "opSprawdzenieDatyICzasu", ""},
    {"SynchronizacjaDatyICzasu", "opSynchronizacjaDatyICzasu", ""},
    {"RaportOkresowyPełny", "opRaportOkresowyPelny", ""},
    {"RaportOkresowySkrócony", "opRaportOkresowySkrocony", ""},
};

TEST(QuorvelRun, EveryRowCallsItsEntryPointBetweenTheDriverHooks) {
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.operacja);
    ScratchDir dir;
    writeJob(row.operacja, row.body);
    const RunResult r = quorvel("run quorvel_test_full");
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(cp1250ToUtf8(pluginLog()), std::string("attach RVP ") + row.operacja + "\nopDriverInit\n" + row.entry +
                                             "\nopDriverFree\ndetach\n");
    const bool check = std::string(row.entry) == "opSprawdzeniePolaczenia";
    EXPECT_EQ(readFile("RAPORT.XML"), raportXml(row.operacja, {}, "OK", check ? "Połączenie jest prawidłowe." : ""));
    EXPECT_EQ(readFile("PROG_KOM.XML"), progKomXml(row.operacja));
    expectValidResults();
  }
}

TEST(QuorvelRun, EmptyGoodsFailThePreconditionWithoutCallingThePlugin) {
  const struct {
    const char* operacja;
    const char* warning;
  } cases[] = {
      {"PrzesyłanieTowarów", "Brak towarów do przesłania"},
      {"ZmianaCenTowarów", "Brak towarów do przesłania"},
      {"UsuwanieTowarów", "Brak towarów do usunięcia"},
      {"WydrukFiskalny", "Brak danych do fiskalizacji"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.operacja);
    ScratchDir dir;
    writeJob(c.operacja);
    const RunResult r = quorvel("run quorvel_test_full");
    EXPECT_EQ(r.status, 1) << r.out << r.err;
    EXPECT_EQ(cp1250ToUtf8(pluginLog()), std::string("attach RVP ") + c.operacja + "\ndetach\n");
    EXPECT_EQ(readFile("RAPORT.XML"), raportXml(c.operacja, {{"W", c.warning}}, "W", c.warning));
    EXPECT_EQ(readFile("PROG_KOM.XML"), progKomXml(c.operacja));
    expectValidResults();
  }
}

TEST(QuorvelRun, PluginWithoutDriverHooksOrWithoutTheRowsEntryPoint) {
  {
    ScratchDir dir;
    writeJob("OdbiórSprzedaży");
    EXPECT_EQ(quorvel("run quorvel_test_basic").status, 0);
    EXPECT_EQ(cp1250ToUtf8(pluginLog()), "attach RVP OdbiórSprzedaży\nopOdbiorSprzedazy\ndetach\n");
    EXPECT_EQ(readFile("RAPORT.XML"), raportXml("OdbiórSprzedaży", {}, "OK"));
  }
  for (const char* operacja : {"SprawdzenieDanychTowarów", "RaportFiskalny", "RaportOkresowySkrócony"}) {
    SCOPED_TRACE(operacja);
    ScratchDir dir;
    writeJob(operacja, std::string(operacja) == "SprawdzenieDanychTowarów" ? kOneGoods : "");
    const RunResult r = quorvel("run quorvel_test_basic");
    EXPECT_EQ(r.status, 2);
    const std::string text = std::string("Nieznana operacja ") + operacja;
    EXPECT_EQ(readFile("RAPORT.XML"), raportXml(operacja, {{"E", text}}, "E", text));
    EXPECT_EQ(cp1250ToUtf8(pluginLog()), std::string("attach RVP ") + operacja + "\ndetach\n");
    EXPECT_NE(r.out.find(text), std::string::npos) << r.out;
    expectValidResults();
  }
}

TEST(QuorvelRun, ConnectionCheckStatusFollowsTheResult) {
  const struct {
    const char* control;
    int exitStatus;
    std::vector<Message> messages;
    const char* statusTyp;
    const char* statusText;
  } cases[] = {
      {"result 0\n", 0, {}, "OK", "Połączenie jest prawidłowe."},
      {"result 1004\n", 2, {}, "E", "Brak połączenia"},
      {"result -1\n", 2, {}, "E", "Brak połączenia"},
      // The plug-in's own message stays; the status still says the connection failed.
      {"error 1002\n", 2, {{"E", "Brak portu szeregowego plugin"}}, "E", "Brak połączenia"},
      // A warning with a clean result is the status the plug-in left.
      {"warning 1008\nresult 0\n", 1, {{"W", "Urządzenie nie przyjmuje danych plugin"}}, "W",
       "Urządzenie nie przyjmuje danych plugin"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.control);
    ScratchDir dir;
    writeFile("TEST_PLUGIN.IN", c.control);
    writeJob("SprawdzeniePołączenia");
    const RunResult r = quorvel("run quorvel_test_full");
    EXPECT_EQ(r.status, c.exitStatus) << r.out << r.err;
    EXPECT_EQ(readFile("RAPORT.XML"), raportXml("SprawdzeniePołączenia", c.messages, c.statusTyp, c.statusText));
    EXPECT_EQ(pluginLog(), "attach RVP " + cp("SprawdzeniePołączenia") +
                               "\nopDriverInit\nopSprawdzeniePolaczenia\nopDriverFree\ndetach\n");
    expectValidResults();
  }
}

TEST(QuorvelRun, OtherRowsIgnoreTheResultButKeepThePluginsMessages) {
  ScratchDir dir;
  writeFile("TEST_PLUGIN.IN", "result 5\n");
  writeJob("Konfiguracja");
  EXPECT_EQ(quorvel("run quorvel_test_full").status, 0);
  EXPECT_EQ(readFile("RAPORT.XML"), raportXml("Konfiguracja", {}, "OK"));

  writeFile("TEST_PLUGIN.IN", "error 20\n");
  const RunResult r = quorvel("run quorvel_test_full");
  EXPECT_EQ(r.status, 2);
  const std::string text = "Użytkownik przerwał wykonywanie operacji plugin";
  EXPECT_EQ(readFile("RAPORT.XML"), raportXml("Konfiguracja", {{"E", text}}, "E", text));
  expectValidResults();
}

TEST(QuorvelRun, GoodsConfirmedByThePluginReachTheDeviceDataFile) {
  ScratchDir dir;
  writeFile("TEST_PLUGIN.IN", "goods\n");
  writeJob("PrzesyłanieTowarów", kOneGoods + "<Towar><Id>4294967295</Id><Ty>O</Ty></Towar>\r\n");
  EXPECT_EQ(quorvel("run quorvel_test_full").status, 0);
  EXPECT_NE(pluginLog().find("opPrzesylanieTowarow goods=2\n"), std::string::npos) << pluginLog();
  EXPECT_EQ(readFile("PROG_KOM.XML"),
            progKomXml("PrzesyłanieTowarów",
                       "\t<Towar><Id>7</Id></Towar>\r\n\t<Towar><Id>4294967295</Id></Towar>\r\n"));
  expectValidResults();
}

TEST(QuorvelRun, PluginThatCannotLoadLeavesItsReasonOrErrorTwentyTwo) {
  const struct {
    const char* plugin;
    const char* control;
    const char* log;
    Message message;
  } cases[] = {
      {"quorvel_test_full", "attach refuse\n", "attach RVP Konfiguracja\ndetach\n",
       {"E", "Nie znaleziono biblioteki DLL quorvel_test_full.dll"}},
      {"quorvel_test_full", "attach error 2\n", "attach RVP Konfiguracja\ndetach\n",
       {"E", "Brak pliku konfiguracji plugin attach"}},
  };  // a plug-in found nowhere: PluginsComeFromTheLibraryPathNeverFromTheJobDirectory
  for (const auto& c : cases) {
    SCOPED_TRACE(c.plugin + std::string(" ") + c.control);
    ScratchDir dir;
    writeFile("TEST_PLUGIN.IN", c.control);
    writeJob("Konfiguracja");
    const RunResult r = quorvel(std::string("run ") + c.plugin);
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_EQ(pluginLog(), c.log);
    // The report status stays as created ("E") or becomes the error: no operation ran.
    EXPECT_EQ(readFile("RAPORT.XML"), raportXml("Konfiguracja", {c.message}, "E", c.message.text));
    EXPECT_EQ(readFile("PROG_KOM.XML"), progKomXml("Konfiguracja"));
    expectValidResults();
  }
}

// A driver is looked for in the folders of QUORVEL_LIBRARY_PATH, beside the core, beside the
// program and on the linker's path, never in the job directory: whoever writes a job must not
// run code in the process that drives the registers. Not found, the message names the file
// and the folders searched.
TEST(QuorvelRun, PluginsComeFromTheLibraryPathNeverFromTheJobDirectory) {
  ScratchDir vendor;
  ScratchDir dir;
  std::filesystem::copy_file(std::string(QUORVEL_LIB_DIR) + "/quorvel_test_full.so", dir.file("qtp_jobdir.so"));
  const std::string lib = std::filesystem::canonical(QUORVEL_LIB_DIR).string();
  const std::string bin = std::filesystem::canonical(QUORVEL_BIN_DIR).string();
  for (const std::string& libraryPath : {std::string(), std::string(".:") + vendor.path() + ":relative:"}) {
    SCOPED_TRACE("QUORVEL_LIBRARY_PATH=" + libraryPath);
    quorvel::test::EnvScope path("QUORVEL_LIBRARY_PATH", libraryPath);
    writeJob("Konfiguracja");
    const RunResult r = quorvel("run qtp_jobdir");
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_FALSE(fileExists("TEST_PLUGIN.LOG"));  // its attach never ran
    const std::string raport = cp1250ToUtf8(readFile("RAPORT.XML"));
    const std::size_t at = raport.find("<Treść>") + std::string("<Treść>").size();
    const std::string text = raport.substr(at, raport.find("</Treść>") - at);
    const std::string folders = (libraryPath.empty() ? "" : vendor.path() + ", ") + lib + ", " + bin + ", ";
    EXPECT_EQ(text.rfind("Nie znaleziono biblioteki DLL qtp_jobdir.dll (szukano pliku qtp_jobdir.so w folderach: " + folders, 0),
              0u)
        << text;
    EXPECT_EQ(text.find(dir.path()), std::string::npos) << text;
    EXPECT_EQ(text.back(), ')') << text;
    EXPECT_EQ(readFile("RAPORT.XML"), raportXml("Konfiguracja", {{"E", text}}, "E", text));
    expectValidResults();
  }
  // The same file in a folder of the library path is found and loaded.
  std::filesystem::copy_file(dir.file("qtp_jobdir.so"), vendor.file("qtp_jobdir.so"));
  quorvel::test::EnvScope path("QUORVEL_LIBRARY_PATH", "relative:" + vendor.path());
  writeJob("Konfiguracja");
  const RunResult r = quorvel("run qtp_jobdir");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_EQ(pluginLog().rfind("attach RVP Konfiguracja\n", 0), 0u) << pluginLog();
  EXPECT_EQ(readFile("RAPORT.XML"), raportXml("Konfiguracja", {}, "OK"));
}

TEST(QuorvelRun, EmptyPluginNameSaysNoDriverWasNamed) {
  ScratchDir dir;
  writeJob("Konfiguracja");
  const RunResult r = quorvel("run ''");
  EXPECT_EQ(r.status, 2);
  const std::string text = "Nie podano nazwy sterownika (biblioteki DLL) dla modelu urządzenia Euro-500T";
  EXPECT_EQ(readFile("RAPORT.XML"), raportXml("Konfiguracja", {{"E", text}}, "E", text));
  EXPECT_FALSE(fileExists("TEST_PLUGIN.LOG"));
  expectValidResults();
}

TEST(QuorvelRun, AnExceptionFromThePluginEndsTheJobCleanly) {
  ScratchDir dir;
  writeFile("TEST_PLUGIN.IN", "throw\n");
  writeJob("ImportTowarów");
  const RunResult r = quorvel("run quorvel_test_full");
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_EQ(readFile("RAPORT.XML"),
            raportXml("ImportTowarów", {{"E", "Brak pamięci operacyjnej"}}, "E", "Brak pamięci operacyjnej"));
  EXPECT_EQ(cp1250ToUtf8(pluginLog()), "attach RVP ImportTowarów\nopDriverInit\nopImportTowarow\ndetach\n");
  expectValidResults();
}

TEST(QuorvelRun, JobThatCannotBeReadRefusesTheCoreAndLeavesBothFiles) {
  const struct {
    const char* name;
    const char* job;  // nullptr: no job file
    std::string operacja;
    std::string text;
    bool fifo = false;  // the job file is a FIFO that nobody writes
  } cases[] = {
      {"missing", nullptr, "InicjalizacjaSterownika", "Brak pliku VEXA_JOB.XML"},
      {"a FIFO, never waited on", nullptr, "InicjalizacjaSterownika", "Błąd odczytu pliku VEXA_JOB.XML", true},
      {"wrong letter case", "<Dane operacja=\"konfiguracja\"/>", "konfiguracja",
       "konfiguracja: nieznana operacja (VEXA_JOB.XML, linia 2, kolumna 1, element Dane, atrybut operacja)"},
      {"bad goods", "<Dane operacja=\"PrzesyłanieTowarów\"><Towar><KP>0</KP></Towar></Dane>", "PrzesyłanieTowarów",
       "Liczba całkowita poniżej dopuszczalnego zakresu 0 (VEXA_JOB.XML, linia 2, kolumna 44, element KP, 1. towar w "
       "pliku)"},
      {"root attribute", "<Dane\r\n operacja=\"Konfiguracja\" x=\"1\"/>", "Konfiguracja",
       "VEXA_JOB.XML: Nieprawidłowy element w linii 2 (kolumna 1, element Dane, atrybut x)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    // Results of an earlier job must not survive a job that could not even start.
    writeFile("PROG_KOM.XML", "stale");
    writeFile("RAPORT.XML", "stale");
    if (c.job) writeFile("VEXA_JOB.XML", cp(std::string("<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n") + c.job));
    if (c.fifo) {
      ASSERT_EQ(::mkfifo("VEXA_JOB.XML", 0644), 0);
    }
    const RunResult r = quorvel("run quorvel_test_full");
    EXPECT_EQ(r.status, 3) << r.out << r.err;
    EXPECT_FALSE(fileExists("TEST_PLUGIN.LOG"));
    EXPECT_EQ(readFile("RAPORT.XML"), raportXml(c.operacja, {{"E", c.text}}, "E", c.text));
    EXPECT_EQ(readFile("PROG_KOM.XML"), progKomXml(c.operacja));
    EXPECT_NE(r.out.find(c.text), std::string::npos) << r.out;
    expectValidResults();
  }
}

TEST(QuorvelRun, AnOperationNameWithMarkupStillLeavesWellFormedFiles) {
  ScratchDir dir;
  writeFile("VEXA_JOB.XML", "<?xml version=\"1.0\"?><Dane operacja=\"a&quot;b&lt;&amp;\"/>");
  const RunResult r = quorvel("run quorvel_test_full");
  EXPECT_EQ(r.status, 3);
  EXPECT_NE(r.out.find("a\"b<&: nieznana operacja"), std::string::npos) << r.out;
  expectValidResults();
}

TEST(QuorvelRun, ReportThatCannotBeCreatedRefusesTheCore) {
  ScratchDir dir;
  writeJob("Konfiguracja");
  std::filesystem::create_directory("RAPORT.XML");
  const RunResult r = quorvel("run quorvel_test_full");
  EXPECT_EQ(r.status, 3);
  EXPECT_FALSE(fileExists("TEST_PLUGIN.LOG"));
  EXPECT_EQ(readFile("PROG_KOM.XML"), progKomXml("InicjalizacjaSterownika"));
  EXPECT_EQ(schemaErrors("PROG_KOM.XML", "Dane.xsd"), "");
}

TEST(QuorvelRun, ResultFilesThatAreFifosAreNotWaitedOn) {
  // A FIFO nobody reads in place of a result file would block the load for ever; it counts as
  // a file that cannot be created, as a directory of that name does (a hang ends in 124), and
  // a job without its device-data file ends with E.
  const struct {
    const char* name;
    int status;
  } cases[] = {{"RAPORT.XML", 3}, {"PROG_KOM.XML", 2}};
  for (const auto& c : cases) {
    const char* name = c.name;
    SCOPED_TRACE(name);
    ScratchDir dir;
    writeJob("Konfiguracja");
    ASSERT_EQ(::mkfifo(name, 0644), 0);
    const RunResult r = quorvel("run quorvel_test_full");
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(std::string("Błąd tworzenia pliku ") + name), std::string::npos) << r.out << r.err;
  }
}

TEST(QuorvelRun, ShowsNumbersAndGoodsOfMessages) {
  ScratchDir dir;
  writeFile("TEST_PLUGIN.IN", "komunikat 5\n");
  writeJob("UsuwanieTowarów", kOneGoods + "<Towar><Id>4294967295</Id></Towar>\r\n<Towar><Id>0</Id></Towar>\r\n");
  const RunResult r = quorvel("run quorvel_test_full.so");  // an extension given by habit is dropped
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out,
            "Operation: UsuwanieTowarów\n"
            "  W  Towary pominięte\n"
            "     number: 5\n"
            "     goods: 7, 4294967295, 0\n"
            "Status: W  Towary pominięte\n");
  EXPECT_NE(readFile("RAPORT.XML").find(cp("\t\t<Numer>5</Numer>\r\n\t\t<Treść>Towary pominięte</Treść>\r\n"
                                           "\t\t<Towar>7</Towar>\r\n\t\t<Towar>4294967295</Towar>\r\n")),
            std::string::npos);
  expectValidResults();
}

TEST(QuorvelRun, ACoreLibraryInTheJobDirectoryIsNotLoaded) {
  ScratchDir dir;
  writeJob("Konfiguracja");
  writeFile("libQuorvel.so", "not the core");
  EXPECT_EQ(quorvel("run quorvel_test_full").status, 0);
  EXPECT_EQ(readFile("RAPORT.XML"), raportXml("Konfiguracja", {}, "OK"));
}

TEST(QuorvelRun, JobDirectoryOption) {
  ScratchDir dir;
  std::filesystem::create_directory("job");
  std::filesystem::current_path("job");
  writeJob("Konfiguracja");
  std::filesystem::current_path("..");
  EXPECT_EQ(quorvel("run quorvel_test_full -C job").status, 0);
  EXPECT_EQ(readFile("job/RAPORT.XML"), raportXml("Konfiguracja", {}, "OK"));
  EXPECT_EQ(quorvel("run -C" + dir.path() + "/job quorvel_test_full").status, 0);
  EXPECT_FALSE(fileExists("RAPORT.XML"));
  EXPECT_EQ(quorvel("run quorvel_test_full -C no_such_dir").status, 64);
}

// Starts `quorvel ARGS` in the current directory without waiting; its output goes to OUT_NAME.
pid_t startQuorvel(const std::vector<std::string>& args, const std::string& outName) {
  std::vector<std::string> store{kQuorvel};
  store.insert(store.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : store) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int out = ::open(outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

int exitStatusOf(pid_t pid) {
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// A host started twice, or a retry while the first run still works: the second run is refused
// at once and touches nothing, and the first run's files end whole, with its accepted goods.
TEST(QuorvelRun, ASecondRunInABusyJobDirectoryIsRefusedAndTouchesNothing) {
  ScratchDir dir;
  writeFile("TEST_PLUGIN.IN", "goods\nwait GO\n");
  writeJob("PrzesyłanieTowarów", kOneGoods);
  const pid_t first = startQuorvel({"run", "quorvel_test_full"}, "first.out");
  // The first run is inside its operation (its files open, its goods confirmed) once it logs.
  for (int i = 0; i < 3000 && pluginLog().find("opPrzesylanieTowarow") == std::string::npos; ++i) ::usleep(10000);
  ASSERT_NE(pluginLog().find("opPrzesylanieTowarow"), std::string::npos) << readFile("first.out");
  const std::string raportMeanwhile = readFile("RAPORT.XML");
  const std::string progKomMeanwhile = readFile("PROG_KOM.XML");

  const RunResult second = quorvel("run quorvel_test_full");
  EXPECT_EQ(second.status, 3) << second.out << second.err;
  EXPECT_NE(second.err.find("Katalog zadania jest zajęty przez inne zadanie"), std::string::npos) << second.err;
  EXPECT_EQ(second.out, "") << "no report may be shown: RAPORT.XML is the first job's";
  EXPECT_EQ(readFile("RAPORT.XML"), raportMeanwhile);
  EXPECT_EQ(readFile("PROG_KOM.XML"), progKomMeanwhile);

  writeFile("GO", "");
  EXPECT_EQ(exitStatusOf(first), 0) << readFile("first.out");
  EXPECT_EQ(cp1250ToUtf8(pluginLog()),
            "attach RVP PrzesyłanieTowarów\nopDriverInit\nopPrzesylanieTowarow goods=1\nopDriverFree\ndetach\n");
  EXPECT_EQ(readFile("RAPORT.XML"), raportXml("PrzesyłanieTowarów", {}, "OK"));
  EXPECT_EQ(readFile("PROG_KOM.XML"), progKomXml("PrzesyłanieTowarów", "\t<Towar><Id>7</Id></Towar>\r\n"));
  expectValidResults();
  // The lock file stays, and the directory takes the next job once the first is done.
  EXPECT_TRUE(fileExists("QUORVEL.LCK"));
  writeFile("TEST_PLUGIN.IN", "");
  EXPECT_EQ(quorvel("run quorvel_test_full").status, 0);
}

// A job directory the user cannot write keeps an earlier job's RAPORT.XML, which must not be
// shown as this job's. Root writes anywhere, so as root the program runs as nobody.
TEST(QuorvelRun, ADirectoryThatCannotBeWrittenShowsNoEarlierReport) {
  ScratchDir dir;
  writeJob("Konfiguracja");
  const std::string earlier = raportXml("ImportTowarów", {{"W", "Wcześniejsze zadanie"}}, "W", "Wcześniejsze zadanie");
  writeFile("RAPORT.XML", earlier);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0555), 0);
  const bool root = ::geteuid() == 0;
  if (root) {
    ASSERT_EQ(::chmod("VEXA_JOB.XML", 0644), 0);
    ASSERT_EQ(::chmod("RAPORT.XML", 0644), 0);
  }
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (root && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(120);
    // A build tree nobody may not reach (a checkout under /root) cannot be run as nobody.
    if (::access(kQuorvel.c_str(), X_OK) != 0 || ::access(QUORVEL_LIB_DIR "/libQuorvel.so", R_OK) != 0) ::_exit(120);
    // Both streams go to a file beside the directory: nothing can be created inside it.
    const int out = ::open((dir.path() + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execl(kQuorvel.c_str(), kQuorvel.c_str(), "run", "quorvel_test_full", nullptr);
    ::_exit(127);
  }
  const int status = exitStatusOf(pid);
  ::chmod(dir.path().c_str(), 0755);
  const std::string output = readFile(dir.path() + ".err");
  std::filesystem::remove(dir.path() + ".err");
  if (status == 120) GTEST_SKIP() << "cannot run the program as nobody";
  EXPECT_EQ(status, 3) << output;
  EXPECT_EQ(output.find("Wcześniejsze zadanie"), std::string::npos) << output;
  EXPECT_NE(output.find("no report was written"), std::string::npos) << output;
  EXPECT_NE(output.find("Błąd tworzenia pliku RAPORT.XML"), std::string::npos) << output;
  EXPECT_EQ(readFile("RAPORT.XML"), earlier);
  EXPECT_FALSE(fileExists("TEST_PLUGIN.LOG"));
}

TEST(QuorvelCommandLine, HelpAndUsage) {
  ScratchDir dir;
  const RunResult help = quorvel("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("run PLUGIN"), std::string::npos);
  EXPECT_NE(help.out.find("ports"), std::string::npos);
  // The port list opens no line; whatever this machine has, it ends cleanly.
  const RunResult ports = quorvel("ports");
  EXPECT_EQ(ports.status, 0) << ports.err;
  EXPECT_TRUE(ports.out.find("/dev/") != std::string::npos || ports.out.find("No serial lines") != std::string::npos)
      << ports.out;
  // Result files that are FIFOs are refused by `quorvel report`, never waited on.
  std::filesystem::create_directory("fifos");
  ASSERT_EQ(::mkfifo("fifos/RAPORT.XML", 0644), 0);
  ASSERT_EQ(::mkfifo("fifos/PROG_KOM.XML", 0644), 0);
  const RunResult fifos = quorvel("report fifos");
  EXPECT_EQ(fifos.status, 2);
  EXPECT_NE(fifos.err.find("RAPORT.XML is not a regular file"), std::string::npos) << fifos.err;
  EXPECT_NE(fifos.err.find("PROG_KOM.XML is not a regular file"), std::string::npos) << fifos.err;
  // Nobody should need the sources to write a job: every operation and model by its job name.
  for (const char* word : kJobNames) EXPECT_NE(help.out.find(word), std::string::npos) << word;
  const RunResult runHelp = quorvel("run --help");
  EXPECT_EQ(runHelp.status, 0);
  for (const char* word : {"VEXA_JOB.XML", "RAPORT.XML", "PROG_KOM.XML", "PROG_KOM.CFG", "quorvel_elcom",
                           "quorvel_elzab", "quorvel_posnet", "Exit status", "QUORVEL_LIBRARY_PATH"})
    EXPECT_NE(runHelp.out.find(word), std::string::npos) << word;
  for (const char* bad : {"", "run", "frobnicate", "run a b", "run --bogus a", "run a -C", "ports x"})
    EXPECT_EQ(quorvel(bad).status, 64) << bad;
  EXPECT_FALSE(fileExists("RAPORT.XML"));
}

// A plug-in lying only in a folder of QUORVEL_LIBRARY_PATH is listed by the help texts from its
// own description, and `quorvel config` checks its keys against that description before the
// plug-in sees them. Without the variable, nothing of it shows.
TEST(QuorvelCommandLine, PluginsOnTheLibraryPathDescribeThemselves) {
  ScratchDir dir;
  const char* const described[] = {"quorvel_test_described", "Quorvel_Test_Alpha", "Keys of quorvel_test_described:",
                                   "test registers found on the library path", "1 to 9: how loud it beeps"};
  auto helps = [] { return quorvel("--help").out + quorvel("run --help").out + quorvel("config --help").out; };
  const std::string without = helps();
  for (const char* text : described) EXPECT_EQ(without.find(text), std::string::npos) << text;

  quorvel::test::EnvScope path("QUORVEL_LIBRARY_PATH", QUORVEL_DESCRIBED_DIR);
  const std::string with = helps();
  for (const char* text : described) EXPECT_NE(with.find(text), std::string::npos) << text;
  EXPECT_NE(with.find("Quorvel_Elcom_Euro500T2"), std::string::npos) << "the drivers beside the core stay listed";

  const struct {
    const char* args;
    int status;
    const char* shown;
  } cases[] = {
      {"level=7 colour=GREEN", 0, "taken level=7\ntaken colour=GREEN\n"},
      {"colour=2", 0, "taken colour=2"},
      {"level=10", 64, "quorvel: the value of level is refused:\n    Wprowadź liczbę całkowitą z zakresu od 1 do 9.\n"},
      {"level=x colour=blue", 64, "quorvel: the value of colour is refused:\n    must be one of red, green\n"},
      {"size=3", 64, "quorvel: unknown key 'size'; the keys are colour, level\n"},
      {"level", 64, "quorvel: level: a value is missing (write level=VALUE)\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = quorvel(std::string("config quorvel_test_described ") + c.args);
    EXPECT_EQ(r.status, c.status) << c.args << ": " << r.err;
    EXPECT_NE((r.out + r.err).find(c.shown), std::string::npos) << c.args << ": " << r.out << r.err;
  }
}

}  // namespace

namespace {

TEST(QuorvelInstalled, RunsFromAnyDirectory) {
  ScratchDir dir;
  const std::string prefix = dir.file("prefix");
  const std::string install = std::string("'") + QUORVEL_CMAKE_COMMAND + "' --install '" + QUORVEL_BUILD_DIR +
                              "' --prefix '" + prefix + "' >install.log 2>&1";
  ASSERT_EQ(std::system(install.c_str()), 0) << readFile("install.log");
  ASSERT_TRUE(fileExists(prefix + "/bin/quorvel"));

  // The manual page, made from the help texts, names every operation and model and renders
  // without a complaint from the formatter.
  const std::string page = prefix + "/share/man/man1/quorvel.1";
  const std::string roff = readFile(page);
  for (const char* word : kJobNames) EXPECT_NE(roff.find(word), std::string::npos) << word;
  for (const char* section : {".SH \"QUORVEL RUN\"", ".SH \"QUORVEL REPORT\"", ".SH \"QUORVEL PORTS\"", ".SH \"QUORVEL DEMO\"",
                              ".SH \"EXIT STATUS\"", ".SH \"ENVIRONMENT\"", ".SH \"FILES\"", ".SH \"EXAMPLES\"",
                              "\\fBquorvel\\fR demo ", "\\fBquorvel\\fR \\-\\-version"})
    EXPECT_NE(roff.find(section), std::string::npos) << section;
  const bool haveMan = std::system("command -v man >/dev/null 2>&1") == 0;
  const std::string render = (haveMan ? "MANWIDTH=80 man -l '" : "groff -man -Tutf8 -k -ww '") + page +
                             "' >man.out 2>man.err";
  if (haveMan || std::system("command -v groff >/dev/null 2>&1") == 0) {
    EXPECT_EQ(std::system(render.c_str()), 0) << readFile("man.err");
    EXPECT_EQ(readFile("man.err"), "");
    for (const char* shown : {"QUORVEL RUN", "QUORVEL REPORT", "UsuwanieWszystkichTowarów", "Quorvel_Elcom_Euro2100TX27"})
      EXPECT_NE(readFile("man.out").find(shown), std::string::npos) << shown;
  } else {
    EXPECT_EQ(roff.rfind(".TH QUORVEL 1", roff.find(".TH")), 0u) << "no formatter here; the page at least starts right";
  }

  // The installed demo plays its registers with the simulators and stand-ins of the
  // installation's private folder; no stand-in lies anywhere else, where a job's library search
  // could find it.
  for (const auto& entry : std::filesystem::recursive_directory_iterator(prefix)) {
    const std::string name = entry.path().filename();
    for (const char* standin : {"libposnet", "libhlapi", "libWinIP", "WinIP.so"})
      if (name.rfind(standin, 0) == 0) {
        EXPECT_NE(entry.path().string().find("/libexec/quorvel/standins/"), std::string::npos) << entry.path();
      }
  }
  const std::string demo = "cd / && '" + prefix + "/bin/quorvel' demo elcom -C '" + dir.file("demo") + "' >'" +
                           dir.file("demo.out") + "' 2>&1";
  const int demoStatus = std::system(demo.c_str());
  EXPECT_TRUE(WIFEXITED(demoStatus) && WEXITSTATUS(demoStatus) == 0) << readFile("demo.out");
  EXPECT_NE(readFile("demo.out").find("Done."), std::string::npos) << readFile("demo.out");
  // A piece missing from the installation is named, and the demo does not pretend to be done.
  std::filesystem::remove(prefix + "/libexec/quorvel/standins/libhlapi.so");
  const int missingStatus = std::system(("'" + prefix + "/bin/quorvel' demo posnet >missing.out 2>&1").c_str());
  EXPECT_TRUE(WIFEXITED(missingStatus) && WEXITSTATUS(missingStatus) == 69) << readFile("missing.out");
  EXPECT_NE(readFile("missing.out").find("the stand-in library libhlapi.so is missing"), std::string::npos)
      << readFile("missing.out");
  EXPECT_EQ(readFile("missing.out").find("Done."), std::string::npos) << readFile("missing.out");

  std::filesystem::create_directory("job");
  std::filesystem::current_path("job");
  writeJob("SprawdzeniePołączenia");
  // The test plug-in is not installed; it is named by its path and uses the installed core.
  const std::string cmd = "cd / && '" + prefix + "/bin/quorvel' run '" + QUORVEL_LIB_DIR + "/quorvel_test_full' -C '" +
                          dir.file("job") + "' >/dev/null 2>&1";
  const int raw = std::system(cmd.c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0);
  EXPECT_EQ(readFile("RAPORT.XML"), raportXml("SprawdzeniePołączenia", {}, "OK", "Połączenie jest prawidłowe."));
  expectValidResults();
}

}  // namespace
