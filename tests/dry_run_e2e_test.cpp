// `quorvel run --dry-run` end to end, for every driver against its simulated register: one job
// holding the cases the goods checks catch (a name too long, characters the register lacks, a
// PLU out of range, the same PLU twice, a bad barcode, unit and VAT rate, a missing name, a
// package out of range) is run once dry and once for real. The dry run must report the very
// messages the run reports (type, number, text, goods) with the same exit status, leave the job
// directory byte for byte as it was, and never reach the register (its state unchanged, no
// vendor library found), also while a job running there holds its lock. Also: the README's
// field tables are what `quorvel --field-table` makes of the drivers, and the help lists every
// driver's fields.
#include <gtest/gtest.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/elcom_harness.h"
#include "tests/posnet_harness.h"
#include "tests/support/job_harness.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using quorvel::test::HostRun;
using quorvel::test::JobDir;
using quorvel::test::RunOptions;
using quorvel::test::runProgram;
using quorvel::test::slurp;

// Every entry below `dir`: regular files with their bytes, anything else by its kind (a link to
// a terminal is never opened).
std::map<std::string, std::string> snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const auto status = e.symlink_status();
    const std::string name = fs::relative(e.path(), dir).string();
    if (fs::is_regular_file(status)) {
      files[name] = slurp(e.path().string());
    } else {
      files[name] = "<" + std::to_string(static_cast<int>(status.type())) + ">";
    }
  }
  return files;
}

// The report as the program shows it: from "Operation:" to the end.
std::string shownReport(const std::string& output) {
  const auto at = output.find("Operation: ");
  return at == std::string::npos ? "(no report shown)\n" + output : output.substr(at);
}

// The job: one goods of every kind of finding, among good goods and a good package.
const std::string kGoods =
    "<Towar><Id>1</Id><Ty>T</Ty><KP>1</KP><KK>5901234123457</KK><Na>Chleb żytni</Na><Ce>4.20</Ce><Va>1</Va>"
    "<JM>1</JM></Towar>\n"
    "<Towar><Id>2</Id><Ty>T</Ty><KP>2</KP><Na>Kiełbasa śląska wędzona z czosnkiem</Na><Ce>21.90</Ce><Va>1</Va>"
    "<JM>1</JM></Towar>\n"
    "<Towar><Id>3</Id><Ty>T</Ty><KP>3</KP><Na>Piwo „Żywiec” 0,5l</Na><Ce>3.50</Ce><Va>1</Va><JM>1</JM></Towar>\n"
    "<Towar><Id>4</Id><Ty>T</Ty><KP>4</KP><Na>Ab€</Na><Ce>1.00</Ce><Va>1</Va><JM>1</JM></Towar>\n"
    "<Towar><Id>5</Id><Ty>T</Ty><KP>70000</KP><Na>Masło</Na><Ce>6.99</Ce><Va>1</Va><JM>1</JM></Towar>\n"
    "<Towar><Id>6</Id><Ty>T</Ty><KP>1</KP><Na>Bułka</Na><Ce>0.60</Ce><Va>1</Va><JM>1</JM></Towar>\n"
    "<Towar><Id>7</Id><Ty>T</Ty><KP>7</KP><KK>ABCDEFGH</KK><Na>Ser żółty</Na><Ce>5.10</Ce><Va>1</Va>"
    "<JM>1</JM></Towar>\n"
    "<Towar><Id>8</Id><Ty>T</Ty><KP>8</KP><Na>Woda</Na><Ce>1.99</Ce><Va>9</Va><JM>1</JM></Towar>\n"
    "<Towar><Id>9</Id><Ty>T</Ty><KP>9</KP><Ce>2.00</Ce><Va>1</Va><JM>1</JM></Towar>\n"
    "<Towar><Id>10</Id><Ty>T</Ty><KP>10</KP><Na>Mąka</Na><Ce>2.49</Ce><Va>1</Va><JM>77</JM></Towar>\n"
    "<Towar><Id>11</Id><Ty>O</Ty><KP>2</KP><Na>Butelka</Na><Ce>0.50</Ce></Towar>\n"
    "<Towar><Id>12</Id><Ty>O</Ty><KP>60</KP><Na>Skrzynka</Na><Ce>9.00</Ce></Towar>\n";

const std::string kOperation = "PrzesyłanieTowarów";

// A driver's job directory with its register running, and how to run the job there.
struct Rig {
  virtual ~Rig() = default;
  virtual const std::string& dir() const = 0;
  virtual std::string plugin() const = 0;
  virtual void writeJob() = 0;
  // The environment of the real run (the dry run gets none of it: no vendor library is found).
  virtual std::vector<std::string> runEnvironment() const { return {}; }
  // The register's state as its simulator keeps it.
  virtual std::string registerState() const = 0;
  // What the register holds after the run (UTF-8); "" when not compared.
  virtual std::string registerAfterRun() const { return ""; }
};

struct SkeletonRig : Rig {
  JobDir job{"dry-skeleton", false};
  JobDir side{"dry-skeleton-register", false};
  pid_t pid = -1;
  SkeletonRig() {
    // The simulator prints its terminal's path first; it dies with this process.
    int out[2];
    if (::pipe(out) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      const std::string sim = quorvel::test::binPath("skeleton_sim"), state = side.file("kasa.txt");
      ::execl(sim.c_str(), sim.c_str(), "--state", state.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    std::string tty;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') tty += c;
    ::close(out[0]);
    runProgram({quorvel::test::hostPath(), "config", "quorvel_skeleton", "-C", job.path(), "port=" + tty}, {});
  }
  ~SkeletonRig() override { quorvel::test::stopProcess(pid); }
  const std::string& dir() const override { return job.path(); }
  std::string plugin() const override { return "quorvel_skeleton"; }
  void writeJob() override { job.writeJobFile(kOperation, "Quorvel_Skeleton", kGoods); }
  std::string registerState() const override { return slurp(side.file("kasa.txt")); }
  // The goods the checks let through, as they reach the register: names cut and made plain.
  std::string registerAfterRun() const override {
    return "O\t2\tButelka\t\t0\t0\t0\t50\t0\n"
           "T\t1\tChleb żytni\t5901234123457\t1\t1\t1\t420\t0\n"
           "T\t2\tKiełbasa śląska wę\t\t1\t1\t1\t2190\t0\n"
           "T\t3\tPiwo \"Żywiec\" 0,5l\t\t1\t1\t1\t350\t0\n"
           "T\t4\tAbEUR\t\t1\t1\t1\t100\t0\n";
  }
};

struct ElcomRig : Rig {
  quorvel::test::elcom::ElcomJob job{1};
  const std::string& dir() const override { return job.path(); }
  std::string plugin() const override { return "quorvel_elcom"; }
  void writeJob() override { job.writeJob(kOperation, kGoods); }
  std::vector<std::string> runEnvironment() const override { return {"QUORVEL_VIRTUAL_CLOCK=" + job.file("clock.txt")}; }
  std::string registerState() const override { return job.show(); }
};

struct ElzabRig : Rig {
  JobDir job{"dry-elzab", false};
  JobDir side{"dry-elzab-register", false};
  ElzabRig() {
    quorvel::test::simCommand(quorvel::test::binPath("elzab_sim"), side.file("ELZAB_SIM.TXT"), "init");
    runProgram({quorvel::test::hostPath(), "config", "quorvel_elzab", "-C", job.path(), "port=COM1"}, {});
  }
  const std::string& dir() const override { return job.path(); }
  std::string plugin() const override { return "quorvel_elzab"; }
  void writeJob() override { job.writeJobFile(kOperation, "Elzab Omega", kGoods); }
  std::vector<std::string> runEnvironment() const override {
    return {"QUORVEL_LIBRARY_PATH=" QUORVEL_STANDIN_DIR, "QUORVEL_ELZAB_STATE=" + side.file("ELZAB_SIM.TXT")};
  }
  std::string registerState() const override { return slurp(side.file("ELZAB_SIM.TXT")); }
};

struct PosnetRig : Rig {
  quorvel::test::posnet::PosnetJob job{quorvel::test::posnet::Line::tcp};
  const std::string& dir() const override { return job.path(); }
  std::string plugin() const override { return "quorvel_posnet"; }
  void writeJob() override { job.writeJob(kOperation, kGoods); }
  std::vector<std::string> runEnvironment() const override {
    return {"QUORVEL_VIRTUAL_CLOCK=" + job.file("clock.txt"), "QUORVEL_LIBRARY_PATH=" + job.libraryDir()};
  }
  std::string registerState() const override { return job.show(); }
};

struct DriverCase {
  const char* name;
  std::function<std::unique_ptr<Rig>()> make;
};

class DryRun : public ::testing::TestWithParam<DriverCase> {};

TEST_P(DryRun, ReportsWhatTheRunReportsAndTouchesNothing) {
  const std::unique_ptr<Rig> rig = GetParam().make();
  rig->writeJob();
  // A job running in the directory holds its lock: the dry run goes on beside it.
  const int running = ::open((rig->dir() + "/QUORVEL.LCK").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644);
  ASSERT_EQ(::flock(running, LOCK_EX | LOCK_NB), 0);
  const auto dirBefore = snapshot(rig->dir());
  const std::string registerBefore = rig->registerState();

  // No vendor library can be found: a dry run that tried to load one would report it.
  RunOptions dryOptions;
  dryOptions.environment = {"QUORVEL_LIBRARY_PATH="};
  const HostRun dry =
      runProgram({quorvel::test::hostPath(), "run", "--dry-run", rig->plugin(), "-C", rig->dir()}, dryOptions);
  EXPECT_FALSE(quorvel::test::sanitizerReport(dry.output)) << dry.output;
  EXPECT_EQ(snapshot(rig->dir()), dirBefore) << "the dry run changed the job directory";
  EXPECT_EQ(rig->registerState(), registerBefore) << "the dry run reached the register";
  ::close(running);
  // One line per goods of the job says what becomes of it.
  for (int id = 1; id <= 12; ++id) {
    const std::string label = " Id " + std::to_string(id) + ", KP ";
    EXPECT_TRUE(dry.output.find("T" + label) != std::string::npos || dry.output.find("O" + label) != std::string::npos)
        << "no line for the goods " << id << ":\n"
        << dry.output;
  }

  RunOptions runOptions;
  runOptions.environment = rig->runEnvironment();
  const HostRun run = runProgram({quorvel::test::hostPath(), "run", rig->plugin(), "-C", rig->dir()}, runOptions);
  EXPECT_EQ(shownReport(dry.output), shownReport(run.output)) << "dry run:\n" << dry.output << "\nrun:\n" << run.output;
  EXPECT_EQ(dry.exitStatus, run.exitStatus);

  if (const std::string expected = rig->registerAfterRun(); !expected.empty()) {
    // The simulator writes its state once the line falls quiet.
    std::string held;
    for (int i = 0; i < 100 && (held = quorvel::cp1250::toUtf8(rig->registerState())) != expected; ++i)
      ::usleep(20000);
    EXPECT_EQ(held, expected);
    const std::string progKom = quorvel::cp1250::toUtf8(slurp(rig->dir() + "/PROG_KOM.XML"));
    for (const int id : {1, 2, 3, 4, 11})
      EXPECT_NE(progKom.find("<Towar><Id>" + std::to_string(id) + "</Id></Towar>"), std::string::npos) << progKom;
    EXPECT_EQ(progKom.find("<Id>5</Id>"), std::string::npos) << progKom;
  }
}

void PrintTo(const DriverCase& c, std::ostream* out) { *out << c.name; }

INSTANTIATE_TEST_SUITE_P(
    Drivers, DryRun,
    ::testing::Values(DriverCase{"skeleton", [] { return std::unique_ptr<Rig>(new SkeletonRig); }},
                      DriverCase{"elcom", [] { return std::unique_ptr<Rig>(new ElcomRig); }},
                      DriverCase{"elzab", [] { return std::unique_ptr<Rig>(new ElzabRig); }},
                      DriverCase{"posnet", [] { return std::unique_ptr<Rig>(new PosnetRig); }}),
    [](const ::testing::TestParamInfo<DriverCase>& info) { return std::string(info.param.name); });

// README.md's field tables are what the drivers state (scripts/field-table.sh makes them);
// `quorvel run --help` and the manual page list the same for every driver, "not stated" where a
// driver states nothing.
TEST(FieldTable, ReadmeHelpAndManualPageShowWhatTheDriversState) {
  RunOptions own;
  own.environment = {"QUORVEL_LIBRARY_PATH="};
  const HostRun table = runProgram({quorvel::test::hostPath(), "--field-table"}, own);
  ASSERT_EQ(table.exitStatus, 0) << table.output;
  const std::string readme = slurp(std::string(QUORVEL_SOURCE_DIR) + "/README.md");
  const std::string begin = "<!-- field-table:begin -->\n", end = "<!-- field-table:end -->";
  const auto from = readme.find(begin), to = readme.find(end);
  ASSERT_TRUE(from != std::string::npos && to != std::string::npos && from < to);
  EXPECT_EQ(readme.substr(from + begin.size(), to - from - begin.size()), table.output)
      << "README.md's field tables are out of date: run bash scripts/field-table.sh";

  const HostRun help = runProgram({quorvel::test::hostPath(), "run", "--help"}, own);
  const std::string man = slurp(std::string(QUORVEL_BIN_DIR) + "/../man/man1/quorvel.1");
  for (const char* driver : {"quorvel_elcom", "quorvel_elzab", "quorvel_posnet", "quorvel_skeleton"}) {
    for (const std::string& heading : {std::string("Job fields for ") + driver, std::string("Limits of ") + driver}) {
      EXPECT_NE(help.output.find("\n" + heading), std::string::npos) << help.output;
      EXPECT_NE(table.output.find(std::string("#### `") + driver + "`"), std::string::npos) << table.output;
      EXPECT_NE(man.find(".SS " + heading), std::string::npos) << heading;
    }
  }
  // The skeleton states everything; its limits read as the help shows them (lines joined).
  std::string joined;
  for (const char c : help.output)
    if (!(c == ' ' && !joined.empty() && (joined.back() == ' ' || joined.back() == '\n'))) joined += c == '\n' ? ' ' : c;
  for (const char* shown : {"Na the name printed on the receipt", "name 18 characters, longer cut, required",
                            "PLU 1-1000", "packages 1-50", "barcode up to 13 digits", "units 1-5", "VAT 1-7, required",
                            "groups 1-16 in Gr", "linked package none", "price 0.00-99999.99",
                            "goods take Na KK JM Va Gr Ce", "packages take Na Ce"})
    EXPECT_NE(joined.find(shown), std::string::npos) << shown << "\n" << help.output;
  EXPECT_EQ(help.output.find("goods group.\n"), std::string::npos) << "KO is no goods group for every driver";
}

}  // namespace
