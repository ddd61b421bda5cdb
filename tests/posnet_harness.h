// A job directory for quorvel_posnet with a running simulated POSNET register (sim/posnet,
// posnet_sim) serving both a pseudo-terminal and a TCP port on the loopback address, the
// stand-in libraries linked into a folder of their own that QUORVEL_LIBRARY_PATH names, as a
// shop names the folder of its real ones,
// PROG_KOM.CFG pointing at the register over the chosen line, and the job run through the
// host program (`quorvel run quorvel_posnet -C DIR`). The register's raw log keeps every
// byte it received on the serial line.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "drivers/posnet/config.h"
#include "plugin/config_store.h"
#include "tests/elcom_harness.h"

namespace quorvel::test::posnet {

using elcom::HostRun;
using elcom::RunOptions;
using elcom::runProgram;
using elcom::slurp;

inline const std::string kModel = "Quorvel_Posnet_Combo";

enum class Line { tcp, serial };

inline std::string simPath() { return std::string(QUORVEL_BIN_DIR) + "/posnet_sim"; }

class PosnetJob {
 public:
  explicit PosnetJob(Line line) : line_(line) {
    char tmpl[] = "/tmp/quorvel-posnet-XXXXXX";
    if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
    dir_ = tmpl;
    previous_ = std::filesystem::current_path().string();
    std::filesystem::current_path(dir_);
    state_ = file("kasa.txt");
    sim("init");
    char libTmpl[] = "/tmp/quorvel-posnet-lib-XXXXXX";
    if (!::mkdtemp(libTmpl)) throw std::runtime_error("mkdtemp");
    libDir_ = libTmpl;
    for (const char* lib : {"libposnet.so", "libhlapi.so"})
      std::filesystem::create_symlink(std::string(QUORVEL_BIN_DIR) + "/../standins/" + lib, library(lib));
    startRegister();
    writeConfig();
  }

  ~PosnetJob() {
    stopRegister();
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
    std::filesystem::remove_all(dir_, ec);
    std::filesystem::remove_all(libDir_, ec);
  }

  PosnetJob(const PosnetJob&) = delete;
  PosnetJob& operator=(const PosnetJob&) = delete;

  std::string file(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& path() const { return dir_; }
  // A file of the vendor-library folder (links to the stand-ins), named in QUORVEL_LIBRARY_PATH.
  std::string library(const std::string& name) const { return libDir_ + "/" + name; }
  const std::string& libraryDir() const { return libDir_; }
  std::string tty() const { return file("ttyPosnet"); }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  // Runs posnet_sim VERB --state STATE ARGS; its exit status.
  int sim(const std::string& verbAndArgs) const {
    const std::size_t sp = verbAndArgs.find(' ');
    const std::string verb = verbAndArgs.substr(0, sp);
    const std::string args = sp == std::string::npos ? "" : verbAndArgs.substr(sp);
    return std::system((simPath() + " " + verb + " --state '" + state_ + "'" + args + " >/dev/null").c_str());
  }

  // What `posnet_sim show` prints about the register (UTF-8).
  std::string show() const {
    std::string out;
    if (FILE* p = ::popen((simPath() + " show --state '" + state_ + "'").c_str(), "r")) {
      char buf[4096];
      std::size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
      ::pclose(p);
    }
    return out;
  }

  // The bytes the register received on its serial line.
  std::string rawLog() const { return slurp(file("raw.bin")); }

  // The configuration: the job's line, the multiplexer (type 0: none), the detailed log.
  void writeConfig(int muxType = 0, int muxChannel = 1, bool detailedLog = false, int connectionType = 0) {
    quorvel::posnet::SUConfig c{};
    quorvel::posnet::setDefaultConfig(c);
    std::snprintf(c.port, sizeof c.port, "%s", tty().c_str());
    c.speed = 115200;
    c.connectionType = connectionType != 0 ? connectionType : line_ == Line::tcp ? 3 : 1;
    std::snprintf(c.ipAddress, sizeof c.ipAddress, "%s", address().c_str());
    c.muxOn = muxType != 0 ? 1 : 0;
    c.muxType = muxType != 0 ? muxType : 1;
    c.muxChannel = muxChannel;
    c.detailedLog = detailedLog ? 1 : 0;
    std::ofstream out(file("PROG_KOM.CFG"), std::ios::binary | std::ios::trunc);
    out << quorvel::plugin::configFileBytes(quorvel::posnet::toImage(c));
  }

  // The job file; `goods` is the UTF-8 XML of its Towar elements.
  void writeJob(const std::string& operation, const std::string& goods, const std::string& model = kModel) const {
    std::ofstream out(file("VEXA_JOB.XML"), std::ios::binary | std::ios::trunc);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Dane operacja=\"" << operation << "\" idModelu=\"" << model
        << "\" xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\">\n"
        << goods << "</Dane>\n";
  }

  // Runs the job through the host program; `during`, when given, runs on a thread of its own
  // meanwhile (killing the register mid-way, for one).
  const HostRun& run(const RunOptions& options = {}) {
    RunOptions o = options;
    o.environment.push_back("QUORVEL_VIRTUAL_CLOCK=" + file("clock.txt"));
    o.environment.push_back("QUORVEL_LIBRARY_PATH=" + libDir_);
    last_ = runProgram({elcom::hostPath(), "run", "quorvel_posnet", "-C", dir_}, o);
    return last_;
  }
  const HostRun& lastRun() const { return last_; }

  // Kills the register at once (SIGKILL: no chance to write anything more).
  void killRegister() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

 private:
  void startRegister() {
    std::filesystem::remove(file("port.txt"));
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // no register left behind by a run that aborts
      ::dup2(out[1], 1);
      ::close(out[0]);
      const std::string sim = simPath();
      ::execl(sim.c_str(), sim.c_str(), "serve", "--state", state_.c_str(), "--link", tty().c_str(), "--port", "0",
              "--port-file", file("port.txt").c_str(), "--raw-log", file("raw.bin").c_str(), nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    // One line per line served: the terminal's link, then the TCP address.
    int lines = 0;
    char c;
    while (lines < 2 && ::read(out[0], &c, 1) == 1)
      if (c == '\n') ++lines;
    ::close(out[0]);
    for (int i = 0; i < 500 && !std::filesystem::exists(file("port.txt")); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    port_ = std::atoi(slurp(file("port.txt")).c_str());
  }

  void stopRegister() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
  }

  Line line_;
  std::string dir_;
  std::string libDir_;
  std::string previous_;
  std::string state_;
  pid_t pid_ = -1;
  int port_ = 0;
  HostRun last_;
};

}  // namespace quorvel::test::posnet
