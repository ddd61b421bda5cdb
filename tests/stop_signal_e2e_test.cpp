// Stopping a running job by signal, end to end: `quorvel run` against each driver's simulated
// register, made slow so that the job is surely under way, receives SIGTERM, SIGINT or SIGHUP
// in the middle. The job must stop at its next safe point and leave complete result files:
// exit status 2, RAPORT.XML valid with the message of the stop as its status, PROG_KOM.XML
// valid with the goods accepted so far, and a sales read-out stopped before its clearing must
// leave the counters in the register (a second read-out finds them). A second signal ends the
// program at once.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "drivers/elzab/config.h"
#include "plugin/config_store.h"
#include "tests/elcom_harness.h"
#include "tests/posnet_harness.h"
#include "tests/support/test_support.h"

namespace {

using quorvel::test::cp1250ToUtf8;
using quorvel::test::readFile;
using Clock = std::chrono::steady_clock;

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

const std::string kStandins = QUORVEL_STANDIN_DIR;

// A job directory with a running simulated register of one driver.
struct Rig {
  virtual ~Rig() = default;
  virtual std::string dir() const = 0;
  virtual int sim(const std::string& args) const = 0;
  virtual void writeJob(const std::string& operation, const std::string& goods) const = 0;
  std::string file(const std::string& name) const { return dir() + "/" + name; }
};

struct ElcomRig : Rig {
  quorvel::test::elcom::ElcomJob job{1};
  std::string dir() const override { return job.path(); }
  int sim(const std::string& args) const override { return job.sim(args); }
  void writeJob(const std::string& op, const std::string& goods) const override { job.writeJob(op, goods); }
};

struct PosnetRig : Rig {
  quorvel::test::posnet::PosnetJob job{quorvel::test::posnet::Line::tcp};
  std::string dir() const override { return job.path(); }
  int sim(const std::string& args) const override { return job.sim(args); }
  void writeJob(const std::string& op, const std::string& goods) const override { job.writeJob(op, goods); }
};

struct ElzabRig : Rig {
  explicit ElzabRig(bool modem) {
    sim("init");
    quorvel::elzab::SUConfig c{};
    quorvel::elzab::setDefaultConfig(c);
    if (modem) {
      // Starting the modem is a WinIP call of its own before the read-out's.
      c.modemOn = 1;
      c.connector = 5;
      quorvel::plugin::storeText(c.phone, sizeof c.phone, "0225550102");
      sim("set modem 1");
    }
    job.writeConfigFile(quorvel::plugin::configFileBytes(quorvel::elzab::toImage(c)));
  }
  std::string dir() const override { return job.path(); }
  int sim(const std::string& args) const override {
    return quorvel::test::simCommand(quorvel::test::binPath("elzab_sim"), file("ELZAB_SIM.TXT"), args);
  }
  void writeJob(const std::string& op, const std::string& goods) const override {
    job.writeJobFile(op, "Elzab Omega", goods);
  }
  quorvel::test::JobDir job{"stop", /*enter=*/false};
};

// A driver: its plug-in, its register, and the simulator commands that make the register
// slow, program goods 1..60 and sell 2 of goods 1 for 5.00.
struct Driver {
  const char* plugin;
  std::function<std::unique_ptr<Rig>()> make;
  const char* slow;  // printf form, milliseconds
  const char* fill;
  const char* sell;
};

const Driver kDrivers[] = {
    {"quorvel_elcom", [] { return std::make_unique<ElcomRig>(); }, "delay %d", "fill 60", "sell plu 1 2 5.00"},
    {"quorvel_elzab", [] { return std::make_unique<ElzabRig>(false); }, "set delay %d", "seed 60", "sell 1 2 5.00"},
    {"quorvel_posnet", [] { return std::make_unique<PosnetRig>(); }, "delay %d", "fill 60", "sell goods 1 2 5.00"},
};

int slowDown(const Rig& rig, const Driver& d, int ms) {
  char args[64];
  std::snprintf(args, sizeof args, d.slow, ms);
  return rig.sim(args);
}

std::string manyGoods(int count) {
  std::string goods;
  for (int i = 1; i <= count; ++i)
    goods += "<Towar><Id>" + std::to_string(100 + i) + "</Id><Ty>T</Ty><KP>" + std::to_string(i) + "</KP><Na>Towar nr " +
             std::to_string(i) + "</Na><Ce>1." + std::to_string(10 + i) + "</Ce><Va>1</Va></Towar>\n";
  return goods;
}

// `quorvel run PLUGIN -C DIR` in the background, its output in DIR/output.txt, progress lines
// in DIR/progress.txt.
class Running {
 public:
  // `virtualClock`: the program's pauses are recorded instead of waited for (for a run that is
  // not to be interrupted; a run to be stopped keeps its real pauses, the time to stop it in).
  Running(const Rig& rig, const std::string& plugin, bool virtualClock = false) : rig_(rig) {
    std::filesystem::remove(rig.file("progress.txt"));
    const std::string host = std::string(QUORVEL_BIN_DIR) + "/quorvel";
    const std::string output = rig.file("output.txt");
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, 1);
      ::dup2(fd, 2);
      // Whatever this test was started with, the program gets the signals' default handling.
      for (int s : {SIGINT, SIGTERM, SIGHUP}) ::signal(s, SIG_DFL);
      ::setenv("QUORVEL_PROGRESS_FILE", "progress.txt", 1);
      ::setenv("QUORVEL_LIBRARY_PATH", kStandins.c_str(), 1);
      ::setenv("LD_LIBRARY_PATH", kStandins.c_str(), 1);
      if (virtualClock)
        ::setenv("QUORVEL_VIRTUAL_CLOCK", rig.file("clock.txt").c_str(), 1);
      else
        ::unsetenv("QUORVEL_VIRTUAL_CLOCK");
      ::execl(host.c_str(), host.c_str(), "run", plugin.c_str(), "-C", rig.dir().c_str(), nullptr);
      ::_exit(127);
    }
  }
  ~Running() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  // Waits (at most 60 s) until `ready` holds; false when the program ended first.
  bool waitUntil(const std::function<bool()>& ready) {
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (Clock::now() < deadline) {
      if (ready()) return true;
      if (::waitpid(pid_, &raw_, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }
  // The highest number done of the progress lines of `work`.
  long progress(const std::string& work) const {
    std::istringstream in(cp1250ToUtf8(readFile(rig_.file("progress.txt"))));
    std::string line;
    long best = -1;
    while (std::getline(in, line))
      if (contains(line, work)) best = std::max(best, std::atol(line.c_str()));
    return best;
  }
  std::string output() const { return readFile(rig_.file("output.txt")); }
  void signal(int sig) const { ASSERT_EQ(::kill(pid_, sig), 0); }
  // Waits for the end (at most `seconds`): the exit status, or -signal when a signal ended it.
  int finish(int seconds = 60) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    while (pid_ > 0 && Clock::now() < deadline) {
      if (::waitpid(pid_, &raw_, WNOHANG) == pid_) pid_ = -1;
      else std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid_ > 0) return 1000;  // still running
    return WIFEXITED(raw_) ? WEXITSTATUS(raw_) : -WTERMSIG(raw_);
  }

 private:
  const Rig& rig_;
  pid_t pid_ = -1;
  int raw_ = 0;
};

const char* const kStatusStopped = "<Status>\r\n\t\t<Typ>E</Typ>\r\n\t\t<Treść>Zadanie przerwane na żądanie: ";

// Both result files valid; the report's status is the stop; its text returned.
std::string checkStoppedFiles(const Rig& rig) {
  EXPECT_EQ(quorvel::test::schemaErrors(rig.file("RAPORT.XML"), "Raport.xsd"), "");
  EXPECT_EQ(quorvel::test::schemaErrors(rig.file("PROG_KOM.XML"), "Dane.xsd"), "");
  const std::string raport = cp1250ToUtf8(readFile(rig.file("RAPORT.XML")));
  EXPECT_TRUE(contains(raport, kStatusStopped)) << raport;
  EXPECT_TRUE(contains(raport, "<Numer>20</Numer>")) << raport;
  return raport;
}

int countOf(const std::string& hay, const std::string& needle) {
  int n = 0;
  for (std::size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
  return n;
}

}  // namespace

// Sending 60 goods to a slow register, SIGTERM after a few: the goods sent so far are accepted
// and listed, the rest are not sent, and the report says how many of how many.
TEST(StopSignalEndToEnd, SendingStopsAfterTheCurrentGoods) {
  for (const Driver& d : kDrivers) {
    SCOPED_TRACE(d.plugin);
    auto rig = d.make();
    ASSERT_EQ(slowDown(*rig, d, 40), 0);
    rig->writeJob("PrzesyłanieTowarów", manyGoods(60));
    Running run(*rig, d.plugin);
    ASSERT_TRUE(run.waitUntil([&] { return run.progress("Przesyłanie towarów") >= 3; })) << run.output();
    run.signal(SIGTERM);
    EXPECT_EQ(run.finish(), 2) << run.output();
    const std::string raport = checkStoppedFiles(*rig);
    std::smatch m;
    const std::regex said("Przesyłanie towarów: obsłużono ([0-9]+) z 60 towarów\\.</Treść>\r\n\t</Status>");
    ASSERT_TRUE(std::regex_search(raport, m, said)) << raport;
    const int sent = std::stoi(m[1]);
    EXPECT_GE(sent, 3);
    EXPECT_LT(sent, 60);
    // Every goods sent was accepted, and only those are listed.
    EXPECT_EQ(countOf(readFile(rig->file("PROG_KOM.XML")), "<Towar><Id>"), sent);
  }
}

// A sales read-out interrupted before its clearing (SIGINT, as Ctrl-C sends): the counters stay
// in the register, and the next read-out finds the sale. Elzab reads and clears in one WinIP
// call, so its stop comes while the modem is being started before that call.
TEST(StopSignalEndToEnd, ReadOutStoppedBeforeClearingKeepsTheCounters) {
  for (const Driver& d : kDrivers) {
    SCOPED_TRACE(d.plugin);
    const bool elzab = std::strcmp(d.plugin, "quorvel_elzab") == 0;
    auto rig = elzab ? std::make_unique<ElzabRig>(true) : d.make();
    ASSERT_EQ(rig->sim(d.fill), 0);
    ASSERT_EQ(rig->sim(d.sell), 0);
    ASSERT_EQ(slowDown(*rig, d, elzab ? 1500 : 40), 0);
    rig->writeJob("OdbiórSprzedaży", "");
    {
      Running run(*rig, d.plugin);
      ASSERT_TRUE(run.waitUntil([&] {
        return elzab ? std::filesystem::exists(rig->file("EZB_IN.TXT")) : run.progress("Odbiór sprzedaży towarów") >= 2;
      })) << run.output();
      run.signal(SIGINT);
      EXPECT_EQ(run.finish(), 2) << run.output();
    }
    const std::string raport = checkStoppedFiles(*rig);
    EXPECT_TRUE(contains(raport, "liczniki sprzedaży nie zostały wyzerowane i pozostały w kasie.</Treść>\r\n\t</Status>"))
        << raport;
    if (elzab) {
      EXPECT_FALSE(std::filesystem::exists(rig->file("EZB_SPR2.TXT")));  // the read-out was never called
    }

    ASSERT_EQ(slowDown(*rig, d, 0), 0);
    Running again(*rig, d.plugin, /*virtualClock=*/true);
    EXPECT_LE(again.finish(), 1) << again.output();
    EXPECT_TRUE(contains(cp1250ToUtf8(readFile(rig->file("PROG_KOM.XML"))), "<Ilość>2</Ilość><Wartość>5</Wartość>"))
        << cp1250ToUtf8(readFile(rig->file("PROG_KOM.XML")));
  }
}

// A stop that comes while WinIP reads and clears the counters in one call: the call is awaited
// and its data written whole; the job ends normally with a notice, and the counters are gone.
TEST(StopSignalEndToEnd, StopDuringTheClearingCallIsTooLateToStop) {
  ElzabRig rig(false);
  ASSERT_EQ(rig.sim("seed 5"), 0);
  ASSERT_EQ(rig.sim("sell 1 2 5.00"), 0);
  ASSERT_EQ(rig.sim("set delay 1500"), 0);
  rig.writeJob("OdbiórSprzedaży", "");
  Running run(rig, "quorvel_elzab");
  ASSERT_TRUE(run.waitUntil([&] { return contains(readFile(rig.file("EZB_IN.TXT")), "EZB_SPR1.TXT"); })) << run.output();
  run.signal(SIGTERM);
  EXPECT_EQ(run.finish(), 0) << run.output();
  EXPECT_EQ(quorvel::test::schemaErrors(rig.file("RAPORT.XML"), "Raport.xsd"), "");
  EXPECT_EQ(quorvel::test::schemaErrors(rig.file("PROG_KOM.XML"), "Dane.xsd"), "");
  EXPECT_TRUE(contains(cp1250ToUtf8(readFile(rig.file("RAPORT.XML"))), "zbyt późno"));
  EXPECT_TRUE(contains(cp1250ToUtf8(readFile(rig.file("PROG_KOM.XML"))), "<Ilość>2</Ilość><Wartość>5</Wartość>"));
  EXPECT_FALSE(contains(cp1250ToUtf8(readFile(rig.file("ELZAB_SIM.TXT"))), "sales 1 2000"));
}

// Whoever signals twice will not wait: the second signal ends the program at once, by that
// signal, although the register takes seconds to answer.
TEST(StopSignalEndToEnd, SecondSignalEndsAtOnce) {
  ElcomRig rig;
  ASSERT_EQ(rig.sim("delay 3000"), 0);
  rig.writeJob("PrzesyłanieTowarów", manyGoods(5));
  Running run(rig, "quorvel_elcom");
  ASSERT_TRUE(run.waitUntil([&] { return std::filesystem::exists(rig.file("RAPORT.XML")); }));
  run.signal(SIGHUP);
  ASSERT_TRUE(run.waitUntil([&] { return contains(run.output(), "stopping the job"); })) << run.output();
  const auto start = Clock::now();
  run.signal(SIGINT);
  EXPECT_EQ(run.finish(), -SIGINT) << run.output();
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1500));
}
