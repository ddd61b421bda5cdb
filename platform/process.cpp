// The host program's requests to the system (see process.h).
#include "platform/process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

int RunShellCommand(const std::string& command) {
  const int rc = std::system(command.c_str());
  return rc != -1 && WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

ProcessId StartBackgroundProcess(const std::vector<std::string>& argv) {
  if (argv.empty()) return -1;
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
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

std::string ExecutablePath() {
  char buf[4096];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::string();
  return std::string(buf, static_cast<std::size_t>(n));
}

void StopProcess(ProcessId pid) {
  if (pid <= 0) return;
  ::kill(static_cast<pid_t>(pid), SIGTERM);
  ::waitpid(static_cast<pid_t>(pid), nullptr, 0);
}

}  // namespace quorvel::platform
