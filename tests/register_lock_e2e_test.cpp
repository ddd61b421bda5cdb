// One job per register, end to end: real `quorvel run` processes against each driver's
// simulated register while the register's lock is held by another process (a UUCP lock file
// naming a running program, as a terminal program leaves it; a Quorvel lock file held by a
// process of its own; another `quorvel run` on the same register). The job waits the
// configured time, is refused naming the holder, and runs once the holder is gone; a lock
// whose pid has ended is taken over, and every job gives its lock up at its end.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "drivers/elzab/config.h"
#include "platform/register_lock.h"
#include "plugin/config_store.h"
#include "tests/elcom_harness.h"
#include "tests/posnet_harness.h"
#include "tests/support/test_support.h"

namespace {

using quorvel::test::cp1250ToUtf8;
using quorvel::test::readFile;
using quorvel::test::elcom::HostRun;
using quorvel::test::elcom::RunOptions;
using quorvel::test::elcom::runProgram;

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

const std::string kStandins = std::string(QUORVEL_BIN_DIR) + "/../standins";

// A lock directory of the test's own, for this process and every program it starts.
class LockDirectory {
 public:
  LockDirectory() {
    char tmpl[] = "/tmp/quorvel-locks-XXXXXX";
    if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
    dir_ = tmpl;
    ::setenv("QUORVEL_LOCK_DIR", dir_.c_str(), 1);
  }
  ~LockDirectory() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& path() const { return dir_; }
  // The UUCP lock file of a line reached at `device` (links resolved).
  std::string uucpFile(const std::string& device) const {
    return dir_ + "/LCK.." + std::filesystem::canonical(device).filename().string();
  }
  std::string namedFile(const std::string& name) const { return dir_ + "/quorvel/" + name + ".lock"; }

 private:
  std::string dir_;
};

std::string pidLine(long pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10ld\n", pid);
  return text;
}

std::string programOf(long pid) {
  std::string name = readFile("/proc/" + std::to_string(pid) + "/comm");
  while (!name.empty() && name.back() == '\n') name.pop_back();
  return name;
}

// Another program: `sleep SECONDS`, ended with the object.
class Sleeper {
 public:
  explicit Sleeper(const char* seconds) {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::execl("/bin/sleep", "sleep", seconds, nullptr);
      ::_exit(127);
    }
    // Until it runs as `sleep`, its name is still the test's.
    for (int i = 0; i < 200 && programOf(pid_) != "sleep"; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ~Sleeper() { end(); }
  long pid() const { return pid_; }
  void end() {
    if (pid_ > 0) ::kill(pid_, SIGKILL);
    reap();
  }
  // Waits until it has ended by itself.
  void reap() {
    if (pid_ <= 0) return;
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// A pid that has ended.
long deadPid() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  ::waitpid(pid, nullptr, 0);
  return pid;
}

// A process of this test holding the named register lock as a job would, until ended.
class NamedHolder {
 public:
  explicit NamedHolder(const std::string& name) {
    int ready[2];
    if (::pipe(ready) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      quorvel::platform::RegisterLock lock;
      const char ok = lock.LockNamed(name) == quorvel::platform::RegisterLock::Result::Held ? '1' : '0';
      if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char ok = 0;
    if (::read(ready[0], &ok, 1) != 1 || ok != '1') throw std::runtime_error("the holder could not lock " + name);
    ::close(ready[0]);
  }
  ~NamedHolder() { end(); }
  long pid() const { return pid_; }
  void end() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
};

// How a run ended, what it reported, and how long it took.
struct Outcome {
  HostRun run;
  std::string raport;  // UTF-8
  long ms = 0;
};

Outcome timed(const std::function<HostRun()>& start, const std::string& raportPath) {
  const auto t0 = std::chrono::steady_clock::now();
  Outcome o;
  o.run = start();
  o.ms = static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count());
  o.raport = cp1250ToUtf8(readFile(raportPath));
  EXPECT_EQ(o.run.exitStatus, quorvel::test::exitStatusForReport(o.raport)) << o.run.output;
  EXPECT_FALSE(quorvel::test::sanitizerReport(o.run.output)) << o.run.output;
  EXPECT_EQ(quorvel::test::schemaErrors(raportPath, "Raport.xsd"), "");
  return o;
}

bool statusIs(const std::string& raport, const std::string& typ) {
  return contains(raport, "<Status>\r\n\t\t<Typ>" + typ + "</Typ>");
}

RunOptions waitingMs(int ms) {
  RunOptions o;
  o.environment.push_back("QUORVEL_LOCK_WAIT_MS=" + std::to_string(ms));
  o.environment.push_back("QUORVEL_LIBRARY_PATH=" + kStandins);
  return o;
}

// An Elzab job directory (COM1, register 1) with its simulated register.
class ElzabDirectory : public quorvel::test::JobDir {
 public:
  ElzabDirectory() : JobDir("elzab-lock", /*enter=*/false) {
    if (quorvel::test::simCommand(quorvel::test::binPath("elzab_sim"), file("ELZAB_SIM.TXT"), "init") != 0)
      throw std::runtime_error("elzab_sim init");
    quorvel::elzab::SUConfig c{};
    quorvel::elzab::setDefaultConfig(c);
    writeConfigFile(quorvel::plugin::configFileBytes(quorvel::elzab::toImage(c)));
    writeJobFile("SprawdzeniePołączenia", "Elzab Omega", "");
  }
  Outcome run(int waitMs) const {
    return timed(
        [&] {
          return runProgram({quorvel::test::hostPath(), "run", "quorvel_elzab", "-C", path()}, waitingMs(waitMs));
        },
        file("RAPORT.XML"));
  }
};

// A second job directory for the register of a POSNET job, with the first one's configuration.
class SecondPosnetDirectory : public quorvel::test::JobDir {
 public:
  explicit SecondPosnetDirectory(const quorvel::test::posnet::PosnetJob& first)
      : JobDir("posnet-second", /*enter=*/false) {
    std::filesystem::copy_file(first.file("PROG_KOM.CFG"), file("PROG_KOM.CFG"));
    std::filesystem::copy_file(first.file("VEXA_JOB.XML"), file("VEXA_JOB.XML"));
  }
  Outcome run(int waitMs) const {
    return timed(
        [&] {
          return runProgram({quorvel::test::hostPath(), "run", "quorvel_posnet", "-C", path()}, waitingMs(waitMs));
        },
        file("RAPORT.XML"));
  }
};

constexpr int kWaitMs = 400;

}  // namespace

// Each driver's register held by another program: the job waits, is refused naming the
// register and the holder, and runs once the holder is gone; a lock left by a process that
// ended is taken over; the lock is given up at the job's end.
TEST(RegisterLock, EachDriverWaitsThenRefusesNamingTheHolder) {
  LockDirectory locks;

  {
    SCOPED_TRACE("Elcom: a terminal program's UUCP lock on the line");
    quorvel::test::elcom::ElcomJob job(1);
    job.writeJob("SprawdzeniePołączenia", "");
    const std::string lockFile = locks.uucpFile(job.file("ttyElcom"));
    const auto run = [&] {
      return timed(
          [&] {
            job.run(waitingMs(kWaitMs));
            return job.lastRun();
          },
          job.file("RAPORT.XML"));
    };
    Sleeper terminal("60");
    quorvel::test::writeFile(lockFile, pidLine(terminal.pid()));
    Outcome o = run();
    EXPECT_GE(o.ms, kWaitMs - 50);
    EXPECT_TRUE(statusIs(o.raport, "E")) << o.raport;
    EXPECT_TRUE(contains(o.raport, "Błąd dostępu do portu szeregowego " + job.file("ttyElcom") +
                                       " (port zajęty przez program sleep, pid " + std::to_string(terminal.pid()) +
                                       "; blokada " + lockFile + ")"))
        << o.raport;
    EXPECT_EQ(readFile(lockFile), pidLine(terminal.pid()));  // another program's lock is left alone

    terminal.end();  // its lock file stays behind, naming a pid that has ended
    o = run();
    EXPECT_TRUE(statusIs(o.raport, "OK")) << o.raport;
    EXPECT_FALSE(quorvel::test::fileExists(lockFile));  // taken over, and given up at the close

    // A lock in the binary form of old programs, of a program that ends within the wait.
    Sleeper brief("0.3");
    const int pid = static_cast<int>(brief.pid());
    quorvel::test::writeFile(lockFile, std::string(reinterpret_cast<const char*>(&pid), sizeof pid));
    std::thread reaper([&] { brief.reap(); });  // a pid ends for others once it is reaped
    o = timed(
        [&] {
          job.run(waitingMs(5000));
          return job.lastRun();
        },
        job.file("RAPORT.XML"));
    reaper.join();
    EXPECT_GE(o.ms, 250);  // it waited for the program to end
    EXPECT_TRUE(statusIs(o.raport, "OK")) << o.raport;
  }
  {
    SCOPED_TRACE("POSNET over the serial line: a terminal program's UUCP lock");
    quorvel::test::posnet::PosnetJob job(quorvel::test::posnet::Line::serial);
    job.writeJob("SprawdzeniePołączenia", "");
    const std::string lockFile = locks.uucpFile(job.tty());
    const auto run = [&] { return timed([&] { return job.run(waitingMs(kWaitMs)); }, job.file("RAPORT.XML")); };
    Sleeper terminal("60");
    quorvel::test::writeFile(lockFile, pidLine(terminal.pid()));
    Outcome o = run();
    EXPECT_GE(o.ms, kWaitMs - 50);
    EXPECT_TRUE(statusIs(o.raport, "E")) << o.raport;
    EXPECT_TRUE(contains(o.raport, "Brak połączenia z portem szeregowym " + job.tty() +
                                       " - port zajęty przez program sleep, pid " + std::to_string(terminal.pid()) +
                                       "; blokada " + lockFile))
        << o.raport;
    EXPECT_EQ(job.rawLog(), "");  // nothing reached the register

    quorvel::test::writeFile(lockFile, pidLine(deadPid()));
    o = run();
    EXPECT_TRUE(statusIs(o.raport, "OK")) << o.raport;
    EXPECT_FALSE(quorvel::test::fileExists(lockFile));
  }
  {
    SCOPED_TRACE("POSNET over TCP: a process holding the address's lock");
    quorvel::test::posnet::PosnetJob job(quorvel::test::posnet::Line::tcp);
    job.writeJob("SprawdzeniePołączenia", "");
    const std::string name = "posnet-tcp-" + std::string("127.0.0.1-") + job.address().substr(10);
    const auto run = [&] { return timed([&] { return job.run(waitingMs(kWaitMs)); }, job.file("RAPORT.XML")); };
    NamedHolder holder(name);
    Outcome o = run();
    EXPECT_GE(o.ms, kWaitMs - 50);
    EXPECT_TRUE(statusIs(o.raport, "E")) << o.raport;
    EXPECT_TRUE(contains(o.raport, "Brak połączenia przez ethernet - kasa pod adresem IP " + job.address() +
                                       " zajęta przez program " + programOf(holder.pid()) + ", pid " +
                                       std::to_string(holder.pid()) + "; blokada " + locks.namedFile(name)))
        << o.raport;
    holder.end();
    o = run();
    EXPECT_TRUE(statusIs(o.raport, "OK")) << o.raport;
    o = run();  // the job before gave the lock up at its close
    EXPECT_TRUE(statusIs(o.raport, "OK")) << o.raport;
  }
  {
    SCOPED_TRACE("Elzab: a process holding the WinIP port's lock");
    ElzabDirectory job;
    NamedHolder holder("elzab-COM1");
    Outcome o = job.run(kWaitMs);
    EXPECT_GE(o.ms, kWaitMs - 50);
    EXPECT_TRUE(statusIs(o.raport, "E")) << o.raport;
    EXPECT_TRUE(contains(o.raport, "Kasa Elzab na porcie COM1 jest zajęta przez program " + programOf(holder.pid()) +
                                       ", pid " + std::to_string(holder.pid()) + "; blokada " +
                                       locks.namedFile("elzab-COM1")))
        << o.raport;
    EXPECT_FALSE(quorvel::test::fileExists(job.file("EZB_IN.TXT")));  // WinIP was never asked
    holder.end();
    o = job.run(kWaitMs);
    EXPECT_TRUE(statusIs(o.raport, "OK")) << o.raport;
    o = job.run(kWaitMs);
    EXPECT_TRUE(statusIs(o.raport, "OK")) << o.raport;
  }
  {
    SCOPED_TRACE("a lock directory that cannot be used refuses the job");
    ElzabDirectory job;
    ::setenv("QUORVEL_LOCK_DIR", (locks.path() + "/missing").c_str(), 1);
    const Outcome o = job.run(kWaitMs);
    ::setenv("QUORVEL_LOCK_DIR", locks.path().c_str(), 1);
    EXPECT_TRUE(statusIs(o.raport, "E")) << o.raport;
    EXPECT_TRUE(contains(o.raport, "Kasa Elzab na porcie COM1: nie można założyć blokady " + locks.path() +
                                       "/missing/quorvel/elzab-COM1.lock (nie ma katalogu " + locks.path() +
                                       "/missing/quorvel; inny katalog blokad wskazuje zmienna QUORVEL_LOCK_DIR)"))
        << o.raport;
  }
}

// Two job directories against one POSNET register over TCP: while the first job has the
// register, the second waits and is refused naming the first job's process; it runs once the
// first has ended.
TEST(RegisterLock, SecondJobOnOneRegisterIsRefusedWhileTheFirstRuns) {
  LockDirectory locks;
  quorvel::test::posnet::PosnetJob job(quorvel::test::posnet::Line::tcp);
  ASSERT_EQ(job.sim("add goods 1 Piwo 3.00"), 0);
  ASSERT_EQ(job.sim("sell goods 1 2 6.00"), 0);
  job.writeJob("OdbiórSprzedaży", "");
  SecondPosnetDirectory second(job);
  const std::string lockFile = locks.namedFile("posnet-tcp-127.0.0.1-" + job.address().substr(10));

  // The register keeps the first job waiting for its first answer.
  ASSERT_EQ(job.sim("fault cmd:CntxPLUInit silence"), 0);
  RunOptions slow = waitingMs(kWaitMs);
  slow.environment.push_back("POSNET_SIM_TIMEOUT_MS=3000");
  std::thread first([&] { job.run(slow); });
  long firstPid = 0;
  for (int i = 0; i < 400 && firstPid == 0; ++i) {
    firstPid = std::atol(readFile(lockFile).c_str());
    if (firstPid == 0) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const Outcome refused = second.run(kWaitMs);
  first.join();
  ASSERT_NE(firstPid, 0);
  EXPECT_TRUE(statusIs(refused.raport, "E")) << refused.raport;
  EXPECT_TRUE(contains(refused.raport, "Brak połączenia przez ethernet - kasa pod adresem IP " + job.address() +
                                           " zajęta przez program quorvel, pid " + std::to_string(firstPid) +
                                           "; blokada " + lockFile))
      << refused.raport;
  EXPECT_FALSE(quorvel::test::fileExists(second.file("PROG_KOM.XML")) &&
               contains(readFile(second.file("PROG_KOM.XML")), "Obrót"));

  // The first job's read-out failed on the silent register; the sales are still there, and
  // the second job, alone now, reads them.
  const Outcome o = second.run(kWaitMs);
  EXPECT_TRUE(statusIs(o.raport, "OK")) << o.raport;
  EXPECT_TRUE(contains(cp1250ToUtf8(readFile(second.file("PROG_KOM.XML"))),
                       "<Obrót><IdUF>1</IdUF><Typ>T</Typ><Ilość>2</Ilość><Wartość>6</Wartość></Obrót>"));
  EXPECT_EQ(readFile(lockFile), "");  // no pid left behind
}
