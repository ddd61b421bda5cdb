// A job directory for quorvel_posnet with a running simulated POSNET register (sim/posnet,
// posnet_sim) serving both a pseudo-terminal and a TCP port on the loopback address, the
// stand-in libraries linked into a folder of their own that QUORVEL_LIBRARY_PATH names, as a
// shop names the folder of its real ones,
// PROG_KOM.CFG pointing at the register over the chosen line, and the job run through the
// host program (`quorvel run quorvel_posnet -C DIR`). The register's raw log keeps every
// byte it received on the serial line. Built on the shared job harness
// (tests/support/job_harness.h).
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
#include "tests/support/job_harness.h"

namespace quorvel::test::posnet {

using test::HostRun;
using test::RunOptions;
using test::runProgram;
using test::slurp;

inline const std::string kModel = "Quorvel_Posnet_Combo";

enum class Line { tcp, serial };

inline std::string simPath() { return binPath("posnet_sim"); }

class PosnetJob : public JobDir {
 public:
  explicit PosnetJob(Line line) : JobDir("posnet", /*enter=*/true), line_(line), state_(file("kasa.txt")) {
    sim("init");
    char libTmpl[] = "/tmp/quorvel-posnet-lib-XXXXXX";
    if (!::mkdtemp(libTmpl)) throw std::runtime_error("mkdtemp");
    libDir_ = libTmpl;
    for (const char* lib : {"libposnet.so", "libhlapi.so"})
      std::filesystem::create_symlink(std::string(QUORVEL_BIN_DIR) + "/../standins/" + lib, library(lib));
    startRegister();
    writeConfig();
  }

  ~PosnetJob() override {
    stopProcess(pid_);
    std::error_code ec;
    std::filesystem::remove_all(libDir_, ec);
  }

  // A file of the vendor-library folder (links to the stand-ins), named in QUORVEL_LIBRARY_PATH.
  std::string library(const std::string& name) const { return libDir_ + "/" + name; }
  const std::string& libraryDir() const { return libDir_; }
  std::string tty() const { return file("ttyPosnet"); }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  // Runs posnet_sim VERB --state STATE ARGS; its exit status.
  int sim(const std::string& verbAndArgs) const { return simCommand(simPath(), state_, verbAndArgs); }

  // What `posnet_sim show` prints about the register (UTF-8).
  std::string show() const { return simShow(simPath(), state_); }

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
    writeConfigFile(quorvel::plugin::configFileBytes(quorvel::posnet::toImage(c)));
  }

  // The configuration over Ethernet to another address ("a.b.c.d" or "a.b.c.d:port").
  void writeAddress(const std::string& address) {
    quorvel::posnet::SUConfig c{};
    quorvel::posnet::setDefaultConfig(c);
    c.connectionType = 3;
    quorvel::posnet::storeAddress(c, address);
    writeConfigFile(quorvel::plugin::configFileBytes(quorvel::posnet::toImage(c)));
  }

  // The job file; `goods` is the UTF-8 XML of its Towar elements.
  void writeJob(const std::string& operation, const std::string& goods, const std::string& model = kModel) const {
    writeJobFile(operation, model, goods);
  }

  // Runs the job through the host program; `during`, when given, runs on a thread of its own
  // meanwhile (killing the register mid-way, for one).
  const HostRun& run(const RunOptions& options = {}) {
    RunOptions o = options;
    o.environment.push_back("QUORVEL_VIRTUAL_CLOCK=" + file("clock.txt"));
    o.environment.push_back("QUORVEL_LIBRARY_PATH=" + libDir_);
    return runHost("quorvel_posnet", o);
  }

  // Kills the register at once (SIGKILL: no chance to write anything more).
  void killRegister() { stopProcess(pid_, SIGKILL); }

 private:
  void startRegister() {
    std::filesystem::remove(file("port.txt"));
    // One line per line served: the terminal's link, then the TCP address.
    pid_ = startServing({simPath(), "serve", "--state", state_, "--link", tty(), "--port", "0", "--port-file",
                         file("port.txt"), "--raw-log", file("raw.bin")},
                        2);
    for (int i = 0; i < 500 && !std::filesystem::exists(file("port.txt")); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    port_ = std::atoi(slurp(file("port.txt")).c_str());
  }

  Line line_;
  std::string state_;
  std::string libDir_;
  pid_t pid_ = -1;
  int port_ = 0;
};

}  // namespace quorvel::test::posnet
