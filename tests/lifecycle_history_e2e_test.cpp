// The result files on the disk and the job directory's history, through the real `quorvel`
// program with the test plug-in: every failing step of writing RAPORT.XML and PROG_KOM.XML
// (made to fail by QUORVEL_FILE_FAULT) ends the job with E or exit status 2, never OK; result
// file names that are links or special files are refused and their targets left alone; the
// history keeps and prunes the jobs it should.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/cp1250.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using quorvel::test::readFile;
using quorvel::test::ScratchDir;
using quorvel::test::writeFile;

const std::string kQuorvel = std::string(QUORVEL_BIN_DIR) + "/quorvel";

struct RunResult {
  int status = -1;
  std::string out;  // UTF-8
  std::string err;
};

// `quorvel ARGS` in the current directory with the file fault rules `faults`.
RunResult runQuorvel(const std::string& args, const std::string& faults = "") {
  const std::string cmd = "QUORVEL_FILE_FAULT='" + faults + "' timeout 60 '" + kQuorvel + "' " + args +
                          " >../quorvel.out 2>../quorvel.err";
  const int raw = std::system(cmd.c_str());
  RunResult r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = readFile("../quorvel.out");
  r.err = readFile("../quorvel.err");
  return r;
}

// A job of operation `operacja` (UTF-8) run by the test plug-in, which behaves as `behaviour`
// says (see tests/plugins/test_plugin.cpp).
RunResult runJob(const std::string& operacja, const std::string& behaviour = "", const std::string& faults = "") {
  writeFile("VEXA_JOB.XML", quorvel::cp1250::fromUtf8("<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n<Dane operacja=\"" +
                                                      operacja + "\" idModelu=\"X\" xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\"/>\r\n"));
  writeFile("TEST_PLUGIN.IN", behaviour);
  return runQuorvel("run quorvel_test_full", faults);
}

std::string report() { return quorvel::test::cp1250ToUtf8(readFile("RAPORT.XML")); }
bool has(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

// A scratch directory inside a parent of its own, so that the program's output files lie
// beside the job directory rather than in it.
struct JobDir {
  ScratchDir parent;
  std::string path = parent.file("job");
  JobDir() {
    fs::create_directory(path);
    fs::current_path(path);
  }
  ~JobDir() { fs::current_path(parent.path()); }
};

// The history's folders by job number (from their ZADANIE.TXT).
std::map<int, std::string> foldersByNumber() {
  std::map<int, std::string> folders;
  for (const auto& e : fs::directory_iterator("HISTORIA")) {
    if (!e.is_directory()) continue;
    const std::string record = readFile(e.path().string() + "/ZADANIE.TXT");
    const std::size_t at = record.find("numer=");
    if (at != std::string::npos) folders[std::atoi(record.c_str() + at + 6)] = e.path().filename().string();
  }
  return folders;
}

}  // namespace

TEST(ResultFiles, NoFailingStepOfWritingThemPassesForOk) {
  const std::string writeFailed = "Błąd zapisu pliku ";
  struct Case {
    const char* faults;
    int status;               // of `quorvel run`
    const char* reportSays;   // "" when the report itself cannot say it
    bool reportStatusE;
  } cases[] = {
      {"sync:1:EIO:PROG_KOM.XML", 2, "PROG_KOM.XML", true},
      {"write:2:ENOSPC:PROG_KOM.XML", 2, "PROG_KOM.XML", true},   // the closing tag
      {"close:1:EIO:PROG_KOM.XML", 2, "PROG_KOM.XML", true},
      {"sync:1:EIO:.", 2, "PROG_KOM.XML", true},                   // its directory entry
      {"sync:1:EIO:RAPORT.XML", 2, "RAPORT.XML", true},            // the messages, before the status
      {"sync:2:EIO:RAPORT.XML", 2, "", false},                     // the status: only the host learns it
      {"close:1:EIO:RAPORT.XML", 2, "", false},
      {"sync:2:EIO:.", 2, "", false},
      {"write:3:ENOSPC:RAPORT.XML", 2, "", false},                 // the status block is missing
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.faults);
    JobDir dir;
    const RunResult r = runJob("ImportTowarów", "", k.faults);
    EXPECT_EQ(r.status, k.status) << r.out << r.err;
    const std::string raport = report();
    if (*k.reportSays) {
      EXPECT_TRUE(has(raport, writeFailed + k.reportSays)) << raport;
    }
    if (k.reportStatusE) {
      EXPECT_TRUE(has(raport, "<Status>\r\n\t\t<Typ>E</Typ>")) << raport;
    } else {
      EXPECT_TRUE(has(r.err, "not safely on the disk")) << r.err;
    }
  }
  // The previous result files cannot go into the history: the job is not run and they stay.
  JobDir dir;
  ASSERT_EQ(runJob("ImportTowarów").status, 0);
  const std::string before = readFile("RAPORT.XML");
  const RunResult r = runJob("OdbiórSprzedaży", "", "rename:1:EIO:RAPORT.XML");
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(has(r.err, "Nie można przenieść pliku RAPORT.XML")) << r.err;
  EXPECT_EQ(readFile("RAPORT.XML"), before);
}

TEST(ResultFiles, NamesThatAreLinksOrSpecialFilesAreNeverWrittenThrough) {
  enum Kind { kLinkToFile, kLinkToDevNull, kFifo };
  for (const char* name : {"RAPORT.XML", "PROG_KOM.XML"}) {
    for (const Kind kind : {kLinkToFile, kLinkToDevNull, kFifo}) {
      SCOPED_TRACE(std::string(name) + " kind " + std::to_string(kind));
      JobDir dir;
      const std::string target = dir.parent.file("target.txt");
      writeFile(target, "the shop's own file");
      if (kind == kLinkToFile) fs::create_symlink(target, name);
      if (kind == kLinkToDevNull) fs::create_symlink("/dev/null", name);
      if (kind == kFifo) {
        ASSERT_EQ(::mkfifo(name, 0666), 0);
      }
      const RunResult r = runJob("ImportTowarów");
      EXPECT_EQ(readFile(target), "the shop's own file");
      EXPECT_EQ(fs::symlink_status(name).type(), kind == kFifo ? fs::file_type::fifo : fs::file_type::symlink);
      if (std::string(name) == "RAPORT.XML") {
        EXPECT_EQ(r.status, 3);
        EXPECT_TRUE(has(r.err, "no report was written")) << r.err;
        EXPECT_TRUE(has(r.err, "RAPORT.XML jest dowiązaniem symbolicznym lub nie jest zwykłym plikiem")) << r.err;
      } else {
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(has(report(), "Błąd tworzenia pliku PROG_KOM.XML (nazwa jest dowiązaniem symbolicznym")) << report();
      }
    }
  }
}

TEST(History, KeepsTwentyJobsFailedReadOutsUntilALaterOneAndUndeliveredSalesForEver) {
  JobDir dir;
  writeFile("SALES.TXT", "$12\t2.000\t640\r\n");
  // Job 1: a failed read-out, followed by an OK one (job 3); job 2: a failed read-out whose
  // sales were kept as undelivered; job 4: a failed read-out no later read-out made good.
  struct Job {
    const char* operacja;
    const char* behaviour;
  };
  std::vector<Job> jobs = {{"OdbiórSprzedaży", "error 4"},
                           {"OdbiórSprzedaży", "keep SALES.TXT\nerror 4"},
                           {"OdbiórSprzedaży", ""},
                           {"OdbiórSprzedaży", "error 4"}};
  while (jobs.size() < 26) jobs.push_back({"ImportTowarów", ""});
  std::string raport25, progKom25;
  for (std::size_t i = 0; i < jobs.size(); ++i) {
    runJob(jobs[i].operacja, jobs[i].behaviour);
    if (i == 24) raport25 = readFile("RAPORT.XML"), progKom25 = readFile("PROG_KOM.XML");
  }
  const std::map<int, std::string> folders = foldersByNumber();
  std::set<int> numbers;
  for (const auto& [n, name] : folders) numbers.insert(n);
  std::set<int> expected = {2, 4};
  for (int n = 6; n <= 26; ++n) expected.insert(n);
  EXPECT_EQ(numbers, expected);

  // The folders' names, the kept pair byte for byte, the marker of the undelivered sales.
  EXPECT_TRUE(folders.at(2).find("-OdbiorSprzedazy") == 15) << folders.at(2);
  EXPECT_TRUE(folders.at(25).find("-ImportTowarow") == 15) << folders.at(25);
  EXPECT_EQ(readFile("HISTORIA/" + folders.at(25) + "/RAPORT.XML"), raport25);
  EXPECT_EQ(readFile("HISTORIA/" + folders.at(25) + "/PROG_KOM.XML"), progKom25);
  EXPECT_EQ(readFile("HISTORIA/" + folders.at(2) + "/SALES.TXT"), "$12\t2.000\t640\r\n");
  EXPECT_TRUE(fs::exists("HISTORIA/" + folders.at(2) + "/SPRZEDAZ_NIEDOSTARCZONA.TXT"));
  EXPECT_TRUE(fs::exists("RAPORT.XML"));

  // The listing shows them all, the undelivered sales flagged.
  const RunResult list = runQuorvel("report . --history");
  EXPECT_EQ(list.status, 0) << list.err;
  for (const auto& [n, name] : folders) EXPECT_TRUE(has(list.out, name)) << list.out;
  std::size_t flagged = 0;
  for (std::size_t at = 0; (at = list.out.find("UNDELIVERED SALES", at)) != std::string::npos; ++at) ++flagged;
  EXPECT_EQ(flagged, 2u) << list.out;  // the job's line and the legend
  const RunResult one = runQuorvel("report . --job " + folders.at(2));
  EXPECT_EQ(one.status, 0) << one.err;
  EXPECT_TRUE(has(one.out, "Operation: OdbiórSprzedaży")) << one.out;
  EXPECT_TRUE(has(one.out, "SALES.TXT")) << one.out;
}

TEST(History, ACutOffReadOutIsNamedByTheNextJob) {
  JobDir dir;
  runJob("OdbiórSprzedaży");
  // The job was killed before its end: the report has no status block.
  const std::string whole = readFile("RAPORT.XML");
  writeFile("RAPORT.XML", whole.substr(0, whole.find("\t<Status>")));
  const RunResult r = runJob("ImportTowarów");
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  const std::string folder = foldersByNumber().at(1);
  const std::string raport = report();
  EXPECT_TRUE(has(raport, "<Typ>W</Typ>\r\n\t\t<Treść>Poprzedni odbiór sprzedaży został przerwany przed końcem")) << raport;
  EXPECT_TRUE(has(raport, "HISTORIA/" + folder + "/PROG_KOM.XML, HISTORIA/" + folder + "/RAPORT.XML.")) << raport;
  EXPECT_EQ(quorvel::test::schemaErrors("RAPORT.XML", "Raport.xsd"), "");
  EXPECT_FALSE(fs::exists("HISTORIA/" + folder + "/SPRZEDAZ_NIEDOSTARCZONA.TXT"));  // it holds no sales
  // A job cut off that was no read-out is not named.
  writeFile("RAPORT.XML", readFile("RAPORT.XML").substr(0, 60));
  runJob("ImportTowarów");
  EXPECT_FALSE(has(report(), "Poprzedni")) << report();

  // A read-out cut off once its sales were on the disk: the register may have cleared them and
  // no report delivered them, so its folder is kept for good and the next report says so.
  runJob("OdbiórSprzedaży");
  writeFile("RAPORT.XML", readFile("RAPORT.XML").substr(0, readFile("RAPORT.XML").find("\t<Status>")));
  const std::string progKom = readFile("PROG_KOM.XML");
  writeFile("PROG_KOM.XML", progKom.substr(0, progKom.find("</Dane>")) +
                                quorvel::cp1250::fromUtf8("\t<Obrót><IdUF>7</IdUF><Typ>T</Typ><Ilość>1</Ilość>"
                                                          "<Wartość>2.5</Wartość></Obrót>\r\n</Dane>\r\n"));
  runJob("OdbiórSprzedaży");
  EXPECT_TRUE(has(report(), "Kasa mogła już wyzerować liczniki sprzedaży")) << report();
  const std::string sold = foldersByNumber().rbegin()->second;  // the newest folder is this job's
  const std::string cut = std::prev(foldersByNumber().end(), 2)->second;
  EXPECT_TRUE(fs::exists("HISTORIA/" + cut + "/SPRZEDAZ_NIEDOSTARCZONA.TXT")) << cut;
  EXPECT_FALSE(fs::exists("HISTORIA/" + sold + "/SPRZEDAZ_NIEDOSTARCZONA.TXT")) << sold;
}
