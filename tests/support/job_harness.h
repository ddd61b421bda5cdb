// The job harness every driver's end-to-end tests build on: a scratch job directory, the job
// file VEXA_JOB.XML and the record PROG_KOM.CFG written into it, `quorvel run PLUGIN -C DIR`
// started with a chosen environment, the result files read back, and the simulators' own
// command lines (init, set, show, serve) run over a register's state file.
//
// Header only and free of the test framework, so that the link benchmark uses it as the tests
// do; needs QUORVEL_BIN_DIR.
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
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/cp1250.h"

namespace quorvel::test {

// A program built beside the tests (quorvel, the simulators).
inline std::string binPath(const std::string& name) { return std::string(QUORVEL_BIN_DIR) + "/" + name; }

inline const std::string& hostPath() {
  static const std::string path = binPath("quorvel");
  return path;
}

inline std::string quoted(const std::string& s) { return "'" + s + "'"; }

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
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

// A simulator's command over a register's state file: SIM VERB --state STATE ARGS, its output
// (with `dropErrors` its error output too) dropped; the exit status.
inline int simCommand(const std::string& sim, const std::string& state, const std::string& verbAndArgs,
                      bool dropErrors = false) {
  const std::size_t sp = verbAndArgs.find(' ');
  const std::string verb = verbAndArgs.substr(0, sp);
  const std::string args = sp == std::string::npos ? "" : verbAndArgs.substr(sp);
  return std::system(
      (sim + " " + verb + " --state " + quoted(state) + args + " >/dev/null" + (dropErrors ? " 2>&1" : "")).c_str());
}

// What `SIM show --state STATE` prints about the register.
inline std::string simShow(const std::string& sim, const std::string& state) {
  std::string out;
  if (FILE* p = ::popen((sim + " show --state " + quoted(state)).c_str(), "r")) {
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

// Starts a simulator serving a register (ARGS, the program first) and waits until it has
// printed `readyLines` lines (one per line it serves). It dies with this process, so no
// register is left behind by a run that aborts.
inline pid_t startServing(const std::vector<std::string>& args, int readyLines) {
  std::vector<std::string> argStore = args;
  std::vector<char*> argv;
  for (auto& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  int out[2];
  if (::pipe(out) != 0) throw std::runtime_error("pipe");
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  int lines = 0;
  char c;
  while (lines < readyLines && ::read(out[0], &c, 1) == 1)
    if (c == '\n') ++lines;
  ::close(out[0]);
  return pid;
}

// Ends a started process with `sig` and waits for it; `pid` becomes -1.
inline void stopProcess(pid_t& pid, int sig = SIGTERM) {
  if (pid > 0) {
    ::kill(pid, sig);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
  }
}

// A fresh job directory /tmp/quorvel-PREFIX-XXXXXX, removed with the object; with `enter` it
// is the current directory meanwhile (the previous one comes back).
class JobDir {
 public:
  JobDir(const std::string& prefix, bool enter) {
    std::string tmpl = "/tmp/quorvel-" + prefix + "-XXXXXX";
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp");
    dir_ = tmpl;
    if (enter) {
      previous_ = std::filesystem::current_path().string();
      std::filesystem::current_path(dir_);
    }
  }
  virtual ~JobDir() {
    std::error_code ec;
    if (!previous_.empty()) std::filesystem::current_path(previous_, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  JobDir(const JobDir&) = delete;
  JobDir& operator=(const JobDir&) = delete;

  std::string file(const std::string& name) const { return dir_ + "/" + name; }
  const std::string& path() const { return dir_; }

  // Replaces a file of the directory with `bytes`.
  void put(const std::string& name, const std::string& bytes) const {
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  // PROG_KOM.CFG as the plug-in's store writes it (plugin::configFileBytes of the record).
  void writeConfigFile(const std::string& bytes) const { put("PROG_KOM.CFG", bytes); }

  // The job file; `goods` is the UTF-8 XML of its Towar elements.
  void writeJobFile(const std::string& operation, const std::string& model, const std::string& goods) const {
    put("VEXA_JOB.XML", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Dane operacja=\"" + operation + "\" idModelu=\"" +
                            model + "\" xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\">\n" + goods + "</Dane>\n");
  }

  // Runs the job through the host program, `quorvel run PLUGIN -C DIR`.
  const HostRun& runHost(const std::string& plugin, const RunOptions& options) {
    last_ = runProgram({hostPath(), "run", plugin, "-C", dir_}, options);
    return last_;
  }
  const HostRun& lastRun() const { return last_; }

  // A file of the directory as UTF-8 text (the core writes windows-1250); "" when missing.
  std::string text(const std::string& name) const { return cp1250::toUtf8(slurp(file(name))); }
  // The result files as UTF-8 text.
  std::string raport() const { return text("RAPORT.XML"); }
  std::string progKom() const { return text("PROG_KOM.XML"); }

 private:
  std::string dir_;
  std::string previous_;
  HostRun last_;
};

}  // namespace quorvel::test
