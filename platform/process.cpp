// The host program's requests to the system (see process.h).
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace quorvel::platform {

bool ChangeDirectory(const char* path) { return ::chdir(path) == 0; }

std::string CurrentDirectory() {
  std::error_code ec;
  const std::filesystem::path here = std::filesystem::current_path(ec);
  return ec ? std::string() : here.string();
}

bool FileExists(const char* path) { return ::access(path, F_OK) == 0; }
bool FileReadable(const char* path) { return ::access(path, R_OK) == 0; }
bool FileExecutable(const char* path) { return ::access(path, X_OK) == 0; }

void WaitForFile(const char* path, unsigned timeoutMs) {
  constexpr unsigned kStepMs = 20;
  for (unsigned i = 0; i < timeoutMs / kStepMs && !FileExists(path); ++i) ::usleep(kStepMs * 1000);
}

bool EnsureDirectory(const char* path) { return ::mkdir(path, 0777) == 0 || errno == EEXIST; }

std::string MakeTemporaryDirectory(const std::string& pattern) {
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  return ::mkdtemp(name.data()) ? std::string(name.data()) : std::string();
}

bool RemoveDirectoryTree(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove_all(path, ec);
  return !ec;
}

void CloseDescriptor(int fd) {
  if (fd >= 0) ::close(fd);
}

bool SetEnvironmentVariable(const char* name, const char* value) { return ::setenv(name, value, 1) == 0; }

bool IsTerminal(std::FILE* stream) { return stream && ::isatty(::fileno(stream)); }

namespace {

// The process groups of the children running now, for SignalChildProcesses. Touched by a
// signal handler: lock-free atomics only, 0 for a free slot.
constexpr int kChildSlots = 32;
std::atomic<pid_t> g_children[kChildSlots];
static_assert(std::atomic<pid_t>::is_always_lock_free, "a signal handler reads the child slots");

void remember(pid_t pid) {
  for (auto& slot : g_children) {
    pid_t free = 0;
    if (slot.compare_exchange_strong(free, pid)) return;
  }
}

void forget(pid_t pid) {
  for (auto& slot : g_children) {
    pid_t held = pid;
    if (slot.compare_exchange_strong(held, 0)) return;
  }
}

// Starts a child that runs `run` (which must not return) in the child's own process group,
// with the parent-death signal SIGTERM, SIGPIPE at its default and standard input (and, when
// `quiet`, standard output) on /dev/null. Only async-signal-safe calls after the fork.
template <typename Run>
pid_t startChild(bool quiet, Run run) {
  // Stop signals wait while the child is made: one that comes now reaches the child registered
  // (parent), or with its default action (child), never this program's handler in the child.
  sigset_t stops, before;
  ::sigemptyset(&stops);
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) ::sigaddset(&stops, sig);
  ::sigprocmask(SIG_BLOCK, &stops, &before);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid != 0) {
    if (pid > 0) {
      ::setpgid(pid, pid);  // also here, so that the group exists before anyone signals it
      remember(pid);
    }
    ::sigprocmask(SIG_SETMASK, &before, nullptr);
    return pid;
  }
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction current {};
    if (::sigaction(sig, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) ::signal(sig, SIG_DFL);
  }
  ::setpgid(0, 0);
  ::prctl(PR_SET_PDEATHSIG, SIGTERM);
  // The parent may have ended before the request took effect: then no signal comes.
  if (::getppid() != parent) ::_exit(127);
  ::signal(SIGPIPE, SIG_DFL);
  ::sigprocmask(SIG_SETMASK, &before, nullptr);
  const int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    ::dup2(null, 0);
    if (quiet) ::dup2(null, 1);
    if (null > 2) ::close(null);
  }
  run();
  ::_exit(127);
}

// waitpid(2) through interruptions; the exit status as waitpid gives it, or -1.
int waitFor(pid_t pid, int options = 0) {
  int status = 0;
  pid_t got;
  do {
    got = ::waitpid(pid, &status, options);
  } while (got < 0 && errno == EINTR);
  if (got == 0) return -2;  // WNOHANG: still running
  return got == pid ? status : -1;
}

}  // namespace

int RunShellCommand(const std::string& command) {
  std::fflush(nullptr);  // buffered output must not be written twice, nor after the command's
  const pid_t pid = startChild(false, [&] { ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr)); });
  if (pid < 0) return -1;
  const int status = waitFor(pid);
  forget(pid);
  return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

namespace {

pid_t startProgram(const std::vector<std::string>& argv, bool quiet) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::fflush(nullptr);
  return startChild(quiet, [&] { ::execv(args[0], args.data()); });
}

}  // namespace

int RunProgram(const std::vector<std::string>& argv) {
  const pid_t pid = startProgram(argv, false);
  if (pid < 0) return -1;
  const int status = waitFor(pid);
  forget(pid);
  return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ProcessId StartBackgroundProcess(const std::vector<std::string>& argv) {
  const pid_t pid = startProgram(argv, true);
  return pid < 0 ? -1 : static_cast<ProcessId>(pid);
}

int RunProgramAndWait(const std::vector<std::string>& argv) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::fflush(nullptr);  // what this program wrote comes before what the other one writes
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  int raw = 0;
  while (::waitpid(pid, &raw, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

void StopProcess(ProcessId process) {
  if (process <= 0) return;
  const pid_t pid = static_cast<pid_t>(process);
  ::kill(-pid, SIGTERM);
  ::kill(pid, SIGTERM);
  constexpr int kStepMs = 20, kGraceMs = 2000;
  int status = waitFor(pid, WNOHANG);
  for (int waited = 0; status == -2 && waited < kGraceMs; waited += kStepMs) {
    ::usleep(kStepMs * 1000);
    status = waitFor(pid, WNOHANG);
  }
  if (status == -2) {
    ::kill(-pid, SIGKILL);
    ::kill(pid, SIGKILL);
    waitFor(pid);
  }
  forget(pid);
}

void SignalChildProcesses() {
  for (auto& slot : g_children)
    if (const pid_t pid = slot.load(); pid > 0) ::kill(-pid, SIGTERM);
}

void IgnoreBrokenPipe() { ::signal(SIGPIPE, SIG_IGN); }

}  // namespace quorvel::platform
