// The `quorvel` program's run, config and report commands through the program itself: what
// the terminal adds to a report that leaves a Linux user guessing, a job directory busy with a
// running job, and the machine-readable forms of the result files.

#include <fcntl.h>
#include <grp.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/job_dir.h"
#include "tests/support/job_harness.h"
#include "tests/support/test_support.h"

namespace {

using quorvel::test::HostRun;
using quorvel::test::hostPath;
using quorvel::test::JobDir;
using quorvel::test::readFile;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The program's own lines are English: a line it begins with "quorvel" holds no Polish letter
// (a Polish text of the system stands on an indented line of its own).
void expectOneLanguagePerLine(const std::string& output) {
  std::size_t at = 0;
  while (at < output.size()) {
    const std::size_t end = std::min(output.find('\n', at), output.size());
    const std::string line = output.substr(at, end - at);
    for (const char* polish : {"ą", "ć", "ę", "ł", "ń", "ó", "ś", "ź", "ż", "Ł", "Ś", "Ż"}) {
      EXPECT_FALSE(line.rfind("quorvel", 0) == 0 && contains(line, polish)) << line;
    }
    at = end + 1;
  }
}

HostRun quorvelIn(std::vector<std::string> args) {
  args.insert(args.begin(), hostPath());
  return quorvel::test::runProgram(args, {});
}

// Runs the program as the user nobody when this process is root (root opens every device);
// exit status 120: the user could not be changed or nobody cannot reach the build tree.
HostRun quorvelAsNobody(const std::vector<std::string>& args) {
  int out[2];
  if (::pipe(out) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(120);
    if (::access(hostPath().c_str(), X_OK) != 0 || ::access(QUORVEL_LIB_DIR "/libQuorvel.so", R_OK) != 0) ::_exit(120);
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    std::vector<std::string> all = args;
    all.insert(all.begin(), hostPath());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  HostRun r;
  char buf[4096];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) r.output.append(buf, static_cast<std::size_t>(n));
  ::close(out[0]);
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  r.exitStatus = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return r;
}

// A pseudo-terminal whose line the job is pointed at; nothing answers on it.
class Pty {
 public:
  Pty() : master_(::posix_openpt(O_RDWR | O_NOCTTY)) {
    if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0) path_ = ::ptsname(master_);
  }
  ~Pty() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
  }
  const std::string& path() const { return path_; }
  // Opens the line and locks it as a serial program does.
  bool hold() {
    slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY);
    return slave_ >= 0 && ::flock(slave_, LOCK_EX | LOCK_NB) == 0;
  }

 private:
  int master_;
  int slave_ = -1;
  std::string path_;
};

const char* kCheck = "SprawdzeniePołączenia";
const char* kModel = "Quorvel_Elcom_Euro500T2";

// A job directory that the user nobody may use as well.
struct OpenJobDir : JobDir {
  OpenJobDir() : JobDir("faults", /*enter=*/false) {
    ::chmod(path().c_str(), 0777);
    writeJobFile(kCheck, kModel, "");
    ::chmod(file("VEXA_JOB.XML").c_str(), 0666);
  }
};

TEST(QuorvelRunDiagnosis, SaysWhatItLookedForAndWhyALineWouldNotOpen) {
  const std::string lib = std::filesystem::canonical(QUORVEL_LIB_DIR).string();
  const std::string missing = "Nie znaleziono biblioteki DLL quorvel_elcomm.dll";
  const std::string looked = "quorvel: no plug-in file quorvel_elcomm.so was found; the folders searched, in this order:\n  " + lib + "\n";
  {
    SCOPED_TRACE("a plug-in name with a slip, run and dry run");
    OpenJobDir job;
    for (const bool dry : {false, true}) {
      std::vector<std::string> args = {"run", "quorvel_elcomm", "-C", job.path()};
      if (dry) args.insert(args.begin() + 1, "--dry-run");
      const HostRun r = quorvelIn(args);
      EXPECT_EQ(r.exitStatus, 2) << r.output;
      for (const std::string& part : {missing, looked, std::string("  and the dynamic linker's cache (ld.so.cache)\n"),
                                      std::string("quorvel: did you mean quorvel_elcom?\n")})
        EXPECT_TRUE(contains(r.output, part)) << part << "\n" << r.output;
      expectOneLanguagePerLine(r.output);
    }
    // Nothing near the name: the plug-ins there are.
    const HostRun far = quorvelIn({"run", "nothing_like_it", "-C", job.path()});
    EXPECT_TRUE(contains(far.output, "quorvel: the plug-ins installed are ")) << far.output;
    EXPECT_TRUE(contains(far.output, "quorvel_elcom")) << far.output;
  }

  Pty pty;
  ASSERT_FALSE(pty.path().empty());
  const std::string refused = "Błąd dostępu do portu szeregowego " + pty.path();
  const struct {
    const char* what;
    bool held;  // held by this process; otherwise not open to the user who runs the job
    std::string shown;
  } cases[] = {
      {"held", true, "quorvel: the port " + pty.path() + " is held by PID " + std::to_string(::getpid()) + " (program "},
      {"forbidden", false, "quorvel: you may not open " + pty.path() + ": "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    OpenJobDir job;
    ASSERT_EQ(quorvelIn({"config", "quorvel_elcom", "-C", job.path(), "port=" + pty.path()}).exitStatus, 0);
    ::chmod(job.file("PROG_KOM.CFG").c_str(), 0666);
    HostRun r;
    if (c.held) {
      ASSERT_TRUE(pty.hold());
      r = quorvelIn({"run", "quorvel_elcom", "-C", job.path()});
    } else {
      if (::geteuid() == 0) {
        const struct group* dialout = ::getgrnam("dialout");
        ASSERT_EQ(::chown(pty.path().c_str(), 0, dialout ? dialout->gr_gid : 0), 0);
        ASSERT_EQ(::chmod(pty.path().c_str(), 0660), 0);
      } else {
        ASSERT_EQ(::chmod(pty.path().c_str(), 0), 0);
      }
      r = quorvelAsNobody({"run", "quorvel_elcom", "-C", job.path()});
      if (r.exitStatus == 120) GTEST_SKIP() << "cannot run the program as nobody";
    }
    EXPECT_EQ(r.exitStatus, 2) << r.output;
    EXPECT_TRUE(contains(job.raport(), "<Treść>" + refused)) << job.raport();
    EXPECT_TRUE(contains(r.output, c.shown)) << r.output;
    EXPECT_EQ(contains(r.output, "is held by"), c.held) << r.output;
    expectOneLanguagePerLine(r.output);
  }
}

// A running job holds its directory's lock: `report` shows nothing of its half-written files,
// `config` leaves its configuration alone (showing it still works); both work again after it.
TEST(QuorvelJobDirectory, ReportAndConfigWaitForTheRunningJob) {
  JobDir job("faults", /*enter=*/true);
  job.put("RAPORT.XML", "<?xml version=\"1.0\" encoding=\"windows-1250\" ?>\r\n<Raport operacja=\"Konfiguracja\">\r\n");
  ASSERT_EQ(quorvelIn({"config", "quorvel_elcom", "-C", job.path(), "port=COM2"}).exitStatus, 0);
  const std::string config = readFile(job.file("PROG_KOM.CFG"));
  auto lock = std::make_unique<quorvel::platform::JobDirectoryLock>();
  ASSERT_EQ(lock->Acquire(), quorvel::platform::JobDirectoryLock::Result::Held);
  const std::string running = "a job is running in " + job.path() + " (PID " + std::to_string(::getpid()) + ")";
  const struct {
    std::vector<std::string> args;
    int whileRunning;
    int afterwards;
  } cases[] = {
      {{"report", job.path()}, 3, 2},
      {{"report", job.path(), "--format", "json"}, 3, 2},
      {{"report", job.path(), "--history"}, 3, 2},
      {{"config", "quorvel_elcom", "-C", job.path(), "speed=38400"}, 3, 0},
      {{"config", "quorvel_elcom", "-C", job.path(), "--defaults"}, 3, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args.back());
    const HostRun r = quorvelIn(c.args);
    EXPECT_EQ(r.exitStatus, c.whileRunning) << r.output;
    EXPECT_TRUE(contains(r.output, running)) << r.output;
    EXPECT_FALSE(contains(r.output, "no element found")) << r.output;
    EXPECT_EQ(readFile(job.file("PROG_KOM.CFG")), config);
  }
  const HostRun shown = quorvelIn({"config", "quorvel_elcom", "-C", job.path()});
  EXPECT_EQ(shown.exitStatus, 0) << shown.output;
  EXPECT_TRUE(contains(shown.output, "port = COM2\n")) << shown.output;

  lock.reset();
  for (const auto& c : cases) EXPECT_EQ(quorvelIn(c.args).exitStatus, c.afterwards) << c.args[0] << " " << c.args.back();
  EXPECT_NE(readFile(job.file("PROG_KOM.CFG")), config);
}

TEST(QuorvelConfig, WarnsOfAMissingPortAndWordsRefusalsInOneLanguagePerLine) {
  Pty pty;
  const struct {
    std::vector<std::string> settings;
    int status;
    std::string shown;  // "" : nothing on standard error but the configuration
  } cases[] = {
      {{"port=/dev/nonexistent"}, 0,
       "quorvel: warning: /dev/nonexistent does not exist now; saved all the same, for a port that appears later\n"},
      {{"port=" + pty.path()}, 0, ""},
      {{"speed=19200"}, 64, "quorvel: the value of speed is refused:\n    must be one of 9600, 38400\n"},
      {{"register=0"}, 64, "quorvel: the value of register is refused:\n    Wprowadź liczbę całkowitą z zakresu od 1 do 99.\n"},
      {{"mux=yes", "mux-channel=5"}, 64,
       "quorvel: the value of mux-channel is refused:\n    Wprowadź liczbę całkowitą z zakresu od 1 do 4.\n"},
      {{"--port=COM2"}, 64, "quorvel: unknown option --port=COM2\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.settings.front());
    JobDir job("faults", /*enter=*/false);
    std::vector<std::string> args = {"config", "quorvel_elcom", "-C", job.path()};
    args.insert(args.end(), c.settings.begin(), c.settings.end());
    const HostRun r = quorvelIn(args);
    EXPECT_EQ(r.exitStatus, c.status) << r.output;
    if (c.shown.empty()) {
      EXPECT_FALSE(contains(r.output, "quorvel:")) << r.output;
    } else {
      EXPECT_TRUE(contains(r.output, c.shown)) << r.output;
    }
    EXPECT_EQ(quorvel::test::fileExists(job.file("PROG_KOM.CFG")), c.status == 0);
    std::string stored = c.settings.front();
    stored.replace(stored.find('='), 1, " = ");
    EXPECT_TRUE(c.status != 0 || contains("\n" + r.output, "\n" + stored + "\n")) << r.output;
    expectOneLanguagePerLine(r.output);
  }
}

// Each result-file pair of tests/data/report_formats against its report.json and report.csv;
// the same files kept in the history as a job of their own.
TEST(QuorvelReport, MachineReadableFormatsMatchTheirGoldenFiles) {
  const std::string data = std::string(QUORVEL_SOURCE_DIR) + "/tests/data/report_formats/";
  for (const char* name : {"messages", "sales", "goods"}) {
    SCOPED_TRACE(name);
    JobDir job("faults", /*enter=*/true);
    for (const char* file : {"RAPORT.XML", "PROG_KOM.XML"}) job.put(file, readFile(data + name + "/" + file));
    const std::string json = readFile(data + name + "/report.json");
    const std::string csv = readFile(data + name + "/report.csv");
    HostRun r = quorvelIn({"report", "--format", "json"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.output, json);
    r = quorvelIn({"report", "--format=csv"});
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.output, csv);

    const std::string kept = "20240102-030405-Test";
    std::filesystem::create_directories(job.file("HISTORIA/" + kept));
    for (const char* file : {"RAPORT.XML", "PROG_KOM.XML"})
      std::filesystem::rename(job.file(file), job.file("HISTORIA/" + kept + "/" + file));
    std::string keptJson = json;
    keptJson.insert(keptJson.find('\n', keptJson.find("\"directory\"")) + 1, "  \"job\": \"" + kept + "\",\n");
    EXPECT_EQ(quorvelIn({"report", ".", "--job", kept, "--format", "json"}).output, keptJson);
    r = quorvelIn({"report", "--history", "--format", "csv"});
    EXPECT_TRUE(contains(r.output, "folder,operation,status,salesRecords,salesTotal,current,undelivered\r\n" + kept + ","))
        << r.output;
  }
  // Bad command lines are refused, whatever their place.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"report", "--format", "xml"}, {"report", "--format"}, {"report", "--verbose"}, {"report", "a", "b"},
           {"report", "--history", "--job", "x"}, {"report", "--job"}}) {
    const HostRun r = quorvelIn(args);
    EXPECT_EQ(r.exitStatus, 64) << args.back() << "\n" << r.output;
    EXPECT_TRUE(contains(r.output, "Try 'quorvel report --help'.")) << r.output;
  }
}

}  // namespace
