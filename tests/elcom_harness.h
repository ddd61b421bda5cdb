// A job directory with a running simulated Elcom register (sim/elcom_sim on a pseudo-terminal),
// PROG_KOM.CFG pointing at it, and two ways to run one job:
//  - run(): the host program, `quorvel run quorvel_elcom -C DIR`, started with
//    QUORVEL_VIRTUAL_CLOCK, so that its pauses are recorded in a file instead of waited for;
//  - runInProcess(): the core loaded in this process with the module loader (which reads
//    VEXA_JOB.XML), Quorvel_run calling quorvel_elcom, the core unloaded (which finishes
//    PROG_KOM.XML and RAPORT.XML), on this process's virtual clock. The link benchmark needs
//    it: it measures the driver's CPU time apart from the simulator's, which a child process
//    could not give (the simulator is a child too).
// Shared by the end-to-end tests and the link benchmark; needs QUORVEL_BIN_DIR and
// QUORVEL_LIB_DIR and a link against libQuorvel and quorvel_plugin.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/module.h"
#include "drivers/elcom/config.h"
#include "plugin/config_store.h"

namespace quorvel::test::elcom {

inline const std::string& simPath() {
  static const std::string path = std::string(QUORVEL_BIN_DIR) + "/elcom_sim";
  return path;
}

inline const std::string& hostPath() {
  static const std::string path = std::string(QUORVEL_BIN_DIR) + "/quorvel";
  return path;
}

inline std::string quoted(const std::string& s) { return "'" + s + "'"; }

// One millisecond count per line, as the virtual clock appends them.
inline std::vector<unsigned long> parseSleeps(const std::string& text) {
  std::vector<unsigned long> sleeps;
  std::istringstream in(text);
  unsigned long ms;
  while (in >> ms) sleeps.push_back(ms);
  return sleeps;
}

// How the host program is started.
struct RunOptions {
  std::vector<std::string> environment;  // NAME=VALUE, added to this process's or replacing it
  rlim_t fileSizeLimit = RLIM_INFINITY;   // RLIMIT_FSIZE of the program (SIGXFSZ ignored)
};

// What a run of the host program gave.
struct HostRun {
  int exitStatus = -1;  // -1: it did not exit (killed by a signal, or not started)
  int signal = 0;
  std::string output;   // standard output and standard error, interleaved
};

// Runs PROGRAM ARGS with the environment of this process changed by ENVIRONMENT (NAME=VALUE
// entries); everything is built before the fork, so the child only applies and executes.
inline HostRun runProgram(const std::vector<std::string>& args, const RunOptions& options) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& o : options.environment) replaced = replaced || o.substr(0, o.find('=')) == name;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), options.environment.begin(), options.environment.end());
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStore = args;
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);

  HostRun result;
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(out[1], 2);
    if (options.fileSizeLimit != RLIM_INFINITY) {
      ::signal(SIGXFSZ, SIG_IGN);
      rlimit old{};
      ::getrlimit(RLIMIT_FSIZE, &old);
      rlimit limit{options.fileSizeLimit, old.rlim_max};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out[1]);
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n > 0) {
      result.output.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(out[0]);
  int raw = 0;
  while (::waitpid(pid, &raw, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(raw)) result.exitStatus = WEXITSTATUS(raw);
  if (WIFSIGNALED(raw)) result.signal = WTERMSIG(raw);
  return result;
}

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
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

class ElcomJob {
 public:
  explicit ElcomJob(int model, int registerNumber = 1) : model_(model) {
    char tmpl[] = "/tmp/quorvel-elcom-XXXXXX";
    if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp");
    dir_ = tmpl;
    previous_ = std::filesystem::current_path().string();
    std::filesystem::current_path(dir_);
    state_ = file("kasa.txt");
    tty_ = file("ttyElcom");
    sim("init --model " + std::to_string(model) + " --register " + std::to_string(registerNumber));
    int out[2];
    if (::pipe(out) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // no register left behind by a run that aborts
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::execl(simPath().c_str(), simPath().c_str(), "serve", "--state", state_.c_str(), "--link", tty_.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') {
    }
    ::close(out[0]);
    writeConfig(modelCapacity(model), registerNumber);
  }

  ~ElcomJob() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    std::error_code ec;
    std::filesystem::current_path(previous_, ec);
    std::filesystem::remove_all(dir_, ec);
  }

  ElcomJob(const ElcomJob&) = delete;
  ElcomJob& operator=(const ElcomJob&) = delete;

  std::string file(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& path() const { return dir_; }

  // Runs elcom_sim VERB --state STATE ARGS; its exit status.
  int sim(const std::string& verbAndArgs) const {
    const std::size_t sp = verbAndArgs.find(' ');
    const std::string verb = verbAndArgs.substr(0, sp);
    const std::string args = sp == std::string::npos ? "" : verbAndArgs.substr(sp);
    return std::system((simPath() + " " + verb + " --state " + quoted(state_) + args + " >/dev/null").c_str());
  }

  // What `elcom_sim show` prints about the register.
  std::string show() const {
    std::string out;
    if (FILE* p = ::popen((simPath() + " show --state " + quoted(state_)).c_str(), "r")) {
      char buf[4096];
      std::size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
      ::pclose(p);
    }
    return out;
  }

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
    std::ofstream out(file("PROG_KOM.CFG"), std::ios::binary | std::ios::trunc);
    out << quorvel::plugin::configFileBytes(quorvel::elcom::toImage(c));
  }

  // The job file; `goods` is the UTF-8 XML of its Towar elements.
  void writeJob(const std::string& operation, const std::string& goods, const std::string& modelName = "") const {
    const std::string name = modelName.empty() ? modelJobName(model_) : modelName;
    std::ofstream out(file("VEXA_JOB.XML"), std::ios::binary | std::ios::trunc);
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Dane operacja=\"" << operation << "\" idModelu=\"" << name
        << "\" xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\">\n"
        << goods << "</Dane>\n";
  }

  // Runs the job through the host program on the virtual clock; returns the pauses that
  // program took, in order. lastRun() tells how it ended and what it printed.
  std::vector<unsigned long> run(const RunOptions& options = {}) {
    const std::string clock = file("clock.txt");
    std::filesystem::remove(clock);
    RunOptions withClock = options;
    withClock.environment.push_back("QUORVEL_VIRTUAL_CLOCK=" + clock);
    last_ = runProgram({hostPath(), "run", "quorvel_elcom", "-C", dir_}, withClock);
    return parseSleeps(slurp(clock));
  }
  const HostRun& lastRun() const { return last_; }

  // Runs the job in this process on the virtual clock; returns the pauses taken, in order.
  std::vector<unsigned long> runInProcess() const {
    quorvel::platform::VirtualClockScope clock;
    auto* core = quorvel::platform::loadModule(std::string(QUORVEL_LIB_DIR) + "/libQuorvel.so");
    if (!core) return {};
    using RunFn = void (*)(const std::string&);
    if (auto fn = reinterpret_cast<RunFn>(quorvel::platform::findSymbol(core, "Quorvel_run"))) fn("quorvel_elcom");
    quorvel::platform::releaseModule(core);
    return quorvel::platform::VirtualSleeps();
  }

 private:
  int model_;
  std::string dir_;
  std::string previous_;
  std::string state_;
  std::string tty_;
  pid_t pid_ = -1;
  HostRun last_;
};

}  // namespace quorvel::test::elcom
