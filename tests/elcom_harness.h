// A job directory with a running simulated Elcom register (sim/elcom_sim on a pseudo-terminal),
// PROG_KOM.CFG pointing at it, and two ways to run one job:
//  - run(): the host program, `quorvel run quorvel_elcom -C DIR`, started with
//    QUORVEL_VIRTUAL_CLOCK, so that its pauses are recorded in a file instead of waited for;
//  - runInProcess(): the core loaded in this process with the module loader (which reads
//    VEXA_JOB.XML), Quorvel_run calling quorvel_elcom, the core unloaded (which finishes
//    PROG_KOM.XML and RAPORT.XML), on this process's virtual clock. The link benchmark needs
//    it: it measures the driver's CPU time apart from the simulator's, which a child process
//    could not give (the simulator is a child too).
// Built on the shared job harness (tests/support/job_harness.h). Shared by the end-to-end tests
// and the link benchmark; needs QUORVEL_BIN_DIR and QUORVEL_LIB_DIR and a link against
// libQuorvel and quorvel_plugin.
#pragma once

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "drivers/elcom/config.h"
#include "platform/clock.h"
#include "platform/module.h"
#include "plugin/config_store.h"
#include "tests/support/job_harness.h"

namespace quorvel::test::elcom {

using test::HostRun;
using test::hostPath;
using test::quoted;
using test::RunOptions;
using test::runProgram;
using test::slurp;

inline const std::string& simPath() {
  static const std::string path = binPath("elcom_sim");
  return path;
}

// One millisecond count per line, as the virtual clock appends them.
inline std::vector<unsigned long> parseSleeps(const std::string& text) {
  std::vector<unsigned long> sleeps;
  std::istringstream in(text);
  unsigned long ms;
  while (in >> ms) sleeps.push_back(ms);
  return sleeps;
}

inline const char* modelJobName(int model) {
  static const char* kNames[] = {"", "Quorvel_Elcom_Euro500T2", "Quorvel_Elcom_Euro500T10", "Quorvel_Elcom_Euro500TX2",
                                 "Quorvel_Elcom_Euro500TX10", "Quorvel_Elcom_EuroSmart", "Quorvel_Elcom_Euro2100TX8",
                                 "Quorvel_Elcom_Euro2100TX27"};
  return model >= 1 && model <= 7 ? kNames[model] : "";
}

inline int modelCapacity(int model) {
  static const int kCapacity[] = {0, 2000, 10000, 2000, 10000, 2000, 8000, 27000};
  return model >= 1 && model <= 7 ? kCapacity[model] : 0;
}

class ElcomJob : public JobDir {
 public:
  explicit ElcomJob(int model, int registerNumber = 1)
      : JobDir("elcom", /*enter=*/true), model_(model), state_(file("kasa.txt")), tty_(file("ttyElcom")) {
    sim("init --model " + std::to_string(model) + " --register " + std::to_string(registerNumber));
    pid_ = startServing({simPath(), "serve", "--state", state_, "--link", tty_}, 1);
    writeConfig(modelCapacity(model), registerNumber);
  }

  ~ElcomJob() override { stopProcess(pid_); }

  // Runs elcom_sim VERB --state STATE ARGS; its exit status.
  int sim(const std::string& verbAndArgs) const { return simCommand(simPath(), state_, verbAndArgs); }

  // What `elcom_sim show` prints about the register.
  std::string show() const { return simShow(simPath(), state_); }

  // muxType 0: no multiplexer.
  void writeConfig(int maxPlu, int registerNumber, bool binDump = false, int muxType = 0, int muxChannel = 1) {
    quorvel::elcom::SUConfig c{};
    std::snprintf(c.port, sizeof c.port, "%s", tty_.c_str());
    c.speed = 9600;
    c.muxOn = muxType != 0 ? 1 : 0;
    c.muxType = muxType != 0 ? muxType : 1;
    c.muxChannel = muxChannel;
    c.maxPluCode = maxPlu;
    c.registerNumber = registerNumber;
    c.binDump = binDump ? 1 : 0;
    writeConfigFile(quorvel::plugin::configFileBytes(quorvel::elcom::toImage(c)));
  }

  // The job file; `goods` is the UTF-8 XML of its Towar elements.
  void writeJob(const std::string& operation, const std::string& goods, const std::string& modelName = "") const {
    writeJobFile(operation, modelName.empty() ? modelJobName(model_) : modelName, goods);
  }

  // Runs the job through the host program on the virtual clock; returns the pauses that
  // program took, in order. lastRun() tells how it ended and what it printed.
  std::vector<unsigned long> run(const RunOptions& options = {}) {
    const std::string clock = file("clock.txt");
    std::filesystem::remove(clock);
    RunOptions withClock = options;
    withClock.environment.push_back("QUORVEL_VIRTUAL_CLOCK=" + clock);
    runHost("quorvel_elcom", withClock);
    return parseSleeps(slurp(clock));
  }

  // Runs the job in this process on the virtual clock; returns the pauses taken, in order.
  std::vector<unsigned long> runInProcess() const {
    quorvel::platform::VirtualClockScope clock;
    auto* core = quorvel::platform::LoadModule(std::string(QUORVEL_LIB_DIR) + "/libQuorvel.so");
    if (!core) return {};
    using RunFn = void (*)(const std::string&);
    if (auto fn = reinterpret_cast<RunFn>(quorvel::platform::FindSymbol(core, "Quorvel_run"))) fn("quorvel_elcom");
    quorvel::platform::ReleaseModule(core);
    return quorvel::platform::VirtualSleeps();
  }

 private:
  int model_;
  std::string state_;
  std::string tty_;
  pid_t pid_ = -1;
};

}  // namespace quorvel::test::elcom
