#include "platform/register_lock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>

#include "platform/clock.h"
#include "platform/cp1250.h"

namespace quorvel::platform {

namespace {

// The locks this process holds, by lock file: how many RegisterLock objects share each, and
// the descriptor that holds a flock (-1 for a UUCP lock file).
struct Shared {
  int count = 0;
  int fd = -1;
};
std::map<std::string, Shared>& heldLocks() {
  static std::map<std::string, Shared> held;
  return held;
}

bool processRuns(long pid) { return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM); }

std::string programOf(long pid) {
  if (pid <= 0) return {};
  std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  std::getline(in, name);
  return name;
}

// The pid a lock file names: ten ASCII characters (leading blanks) and a newline by the
// convention, also read without the padding; an old binary lock holds the pid as a 4-byte
// integer. 0 when there is no pid to read; -1 when the file is gone.
long readPid(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? -1 : 0;
  char buf[64];
  const ssize_t n = ::read(fd, buf, sizeof buf - 1);
  ::close(fd);
  if (n <= 0) return 0;
  // Four bytes that are not all blanks, digits and line ends are the binary form.
  if (n == 4) {
    bool text = true;
    for (int i = 0; i < 4; ++i) text = text && (buf[i] == ' ' || buf[i] == '\n' || (buf[i] >= '0' && buf[i] <= '9'));
    if (!text) {
      int binary = 0;
      std::memcpy(&binary, buf, sizeof binary);
      return binary > 0 ? binary : 0;
    }
  }
  buf[n] = '\0';
  const char* p = buf;
  while (*p == ' ' || *p == '\t') ++p;
  if (*p >= '0' && *p <= '9') {
    char* end = nullptr;
    const long pid = std::strtol(p, &end, 10);
    if (pid > 0 && pid < INT_MAX && (*end == '\0' || *end == '\n' || *end == ' ')) return pid;
    return 0;
  }
  return 0;
}

std::string pidLine(long pid) {
  char text[16];
  std::snprintf(text, sizeof text, "%10ld\n", pid);
  return text;
}

bool writeAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string baseName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

// One try of the UUCP lock file at `path`, as this process (`self`).
enum class Try { Held, Busy, Failed };

Try tryUucp(const std::string& path, long self, long& holder, int& error) {
  // The temporary file is private to this process and call; its content is complete before
  // link() gives it the lock's name.
  static unsigned serial = 0;
  const std::string temp = directoryOf(path) + "/LTMP." + std::to_string(self) + "." + std::to_string(++serial);
  ::unlink(temp.c_str());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  const bool tempMade = fd >= 0;
  if (!tempMade) {
    error = errno;
  } else {
    // Readable by everyone whatever the umask: other programs read the pid.
    ::fchmod(fd, 0644);
    const bool written = writeAll(fd, pidLine(self));
    error = errno;
    ::close(fd);
    if (!written) {
      ::unlink(temp.c_str());
      return Try::Failed;
    }
  }
  // A few rounds: a stale lock removed, or a lock that vanished between link and read.
  for (int round = 0; round < 4; ++round) {
    if (tempMade) {
      if (::link(temp.c_str(), path.c_str()) == 0) {
        ::unlink(temp.c_str());
        return Try::Held;
      }
      if (errno != EEXIST) {
        error = errno;
        ::unlink(temp.c_str());
        return Try::Failed;
      }
    }
    const long pid = readPid(path);
    if (pid < 0) {
      if (!tempMade) return Try::Failed;  // no lock there, and none can be made
      continue;
    }
    // A pid that no longer runs left its lock behind; so did an earlier process with this
    // process's pid (this process holds nothing under the name, heldLocks says).
    if (pid > 0 && (!processRuns(pid) || pid == self)) {
      if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        error = errno;
        if (tempMade) ::unlink(temp.c_str());
        return Try::Failed;
      }
      continue;
    }
    holder = pid;
    if (tempMade) ::unlink(temp.c_str());
    return Try::Busy;
  }
  if (tempMade) ::unlink(temp.c_str());
  holder = 0;
  return Try::Busy;
}

// The folder of the named locks, made when missing: open to every user (and sticky, as the
// lock directory itself), so that the jobs of every user of the registers meet in it.
bool namedLockFolder(const std::string& folder, int& error) {
  if (::mkdir(folder.c_str(), 01777) == 0) {
    ::chmod(folder.c_str(), 01777);  // the umask took bits away
  } else if (errno != EEXIST) {
    error = errno;
    return false;
  }
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    error = ENOTDIR;
    return false;
  }
  return true;
}

// One try of the flock lock file at `path`; on success `fd` holds it.
Try tryNamed(const std::string& path, int& fd, long& holder, int& error) {
  constexpr int kFlags = O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  fd = ::open(path.c_str(), O_RDWR | O_CREAT | kFlags, 0666);
  if (fd >= 0) {
    ::fchmod(fd, 0666);  // every user's jobs lock it and write their pid; fails harmlessly if not ours
  } else if (errno == EACCES) {
    fd = ::open(path.c_str(), O_RDONLY | kFlags);  // another user's file: locking needs no write
  }
  if (fd < 0) {
    error = errno;
    return Try::Failed;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    error = EINVAL;
    ::close(fd);
    fd = -1;
    return Try::Failed;
  }
  int r;
  while ((r = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (r == 0) {
    if (::ftruncate(fd, 0) == 0) {
      const std::string line = pidLine(static_cast<long>(::getpid()));
      if (::pwrite(fd, line.data(), line.size(), 0) < 0) {
        // Read-only: the lock holds all the same; a refused job names no pid.
      }
    }
    return Try::Held;
  }
  error = errno;
  ::close(fd);
  fd = -1;
  if (error != EWOULDBLOCK) return Try::Failed;
  holder = std::max(0L, readPid(path));
  return Try::Busy;
}

std::string sanitized(const std::string& name) {
  std::string out;
  for (const char c : name) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                       c == '-' || c == '_';
    out += plain ? c : '_';
  }
  // No name of only dots: it would not be a file of the folder.
  if (out.empty() || out.find_first_not_of('.') == std::string::npos) out.insert(0, "_");
  return out;
}

void pause(unsigned ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

// Tries `attempt` every poll interval until it holds the lock or fails, or the wait is over
// (Busy, with the last holder seen).
template <class Attempt>
Try waitForLock(Attempt attempt, long& holder, int& error) {
  const std::uint64_t deadline = MonotonicMs() + RegisterLockWaitMs();
  for (;;) {
    const Try t = attempt(holder, error);
    if (t != Try::Busy) return t;
    const std::uint64_t now = MonotonicMs();
    if (now >= deadline) return Try::Busy;
    pause(static_cast<unsigned>(std::min<std::uint64_t>(kRegisterLockPollMs, deadline - now)));
  }
}

}  // namespace

std::string RegisterLockDirectory() {
  const char* dir = std::getenv("QUORVEL_LOCK_DIR");
  if (dir && *dir) {
    std::string d = dir;
    while (d.size() > 1 && d.back() == '/') d.pop_back();
    return d;
  }
  return "/var/lock";
}

namespace {
std::atomic<int> g_waitOverride{-1};
}  // namespace

void SetRegisterLockWaitMs(int ms) { g_waitOverride = ms; }

unsigned RegisterLockWaitMs() {
  if (const int ms = g_waitOverride; ms >= 0) return static_cast<unsigned>(ms);
  const char* v = std::getenv("QUORVEL_LOCK_WAIT_MS");
  if (v && *v) {
    char* end = nullptr;
    const unsigned long ms = std::strtoul(v, &end, 10);
    if (*end == '\0' && ms <= 600000) return static_cast<unsigned>(ms);
  }
  return kRegisterLockWaitMs;
}

std::string TcpRegisterLockName(const std::string& kind, const std::string& address, int defaultPort) {
  std::string host = address;
  const std::size_t first = host.find_first_not_of(" \t");
  host = first == std::string::npos ? std::string() : host.substr(first, host.find_last_not_of(" \t") - first + 1);
  int port = defaultPort;
  const std::size_t colon = host.rfind(':');
  if (colon != std::string::npos && colon + 1 < host.size() &&
      host.find_first_not_of("0123456789", colon + 1) == std::string::npos && host.size() - colon <= 6) {
    port = std::atoi(host.c_str() + colon + 1);
    host.erase(colon);
  }
  // Parts of a dotted address read as decimal numbers, as the vendor library reads them.
  unsigned parts[4];
  char tail = 0;
  if (std::sscanf(host.c_str(), "%3u.%3u.%3u.%3u%c", &parts[0], &parts[1], &parts[2], &parts[3], &tail) == 4 &&
      parts[0] < 256 && parts[1] < 256 && parts[2] < 256 && parts[3] < 256) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", parts[0], parts[1], parts[2], parts[3]);
    host = text;
  } else {
    for (char& c : host)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return kind + "-" + host + "-" + std::to_string(port);
}

// Takes the lock file path_ with `attempt` (Try(int& fd, long& holder, int& error), fd the
// descriptor to keep, if any): at once when this process holds it already, otherwise as
// waitForLock does, noting the holder of a busy lock and the errno of an unusable one.
template <class Attempt>
RegisterLock::Result RegisterLock::Take(Attempt attempt) {
  auto& held = heldLocks();
  if (auto it = held.find(path_); it != held.end()) {
    ++it->second.count;
    held_ = true;
    return Result::Held;
  }
  int fd = -1;
  long holder = 0;
  int error = 0;
  switch (waitForLock([&](long& h, int& e) { return attempt(fd, h, e); }, holder, error)) {
    case Try::Held:
      held[path_] = Shared{1, fd};
      held_ = true;
      return Result::Held;
    case Try::Failed:
      error_ = error;
      return Result::Unavailable;
    case Try::Busy:
      break;
  }
  holderPid_ = holder;
  holderProgram_ = programOf(holderPid_);
  return Result::Busy;
}

RegisterLock::Result RegisterLock::LockSerialLine(const std::string& devicePath) {
  char* real = ::realpath(devicePath.c_str(), nullptr);
  if (!real) return Result::NoDevice;
  const std::string device = real;
  std::free(real);
  path_ = RegisterLockDirectory() + "/LCK.." + baseName(device);
  uucp_ = true;
  const long self = static_cast<long>(::getpid());
  return Take([&](int&, long& holder, int& error) { return tryUucp(path_, self, holder, error); });
}

long SerialLineLockHolder(const std::string& devicePath) {
  char* real = ::realpath(devicePath.c_str(), nullptr);
  if (!real) return 0;
  const std::string device = real;
  std::free(real);
  const long pid = readPid(RegisterLockDirectory() + "/LCK.." + baseName(device));
  return processRuns(pid) ? pid : 0;
}

RegisterLock::Result RegisterLock::LockNamed(const std::string& name) {
  const std::string folder = RegisterLockDirectory() + "/quorvel";
  path_ = folder + "/" + sanitized(name) + ".lock";
  uucp_ = false;
  if (int error = 0; heldLocks().count(path_) == 0 && !namedLockFolder(folder, error)) {
    error_ = error;
    return Result::Unavailable;
  }
  return Take([&](int& fd, long& holder, int& error) { return tryNamed(path_, fd, holder, error); });
}

void RegisterLock::Release() {
  if (!held_) return;
  held_ = false;
  auto& held = heldLocks();
  const auto it = held.find(path_);
  if (it == held.end() || --it->second.count > 0) return;
  const int fd = it->second.fd;
  held.erase(it);
  if (uucp_) {
    // Only a lock that still names this process is removed: one that someone else took over
    // (found stale) is theirs.
    if (readPid(path_) == static_cast<long>(::getpid())) ::unlink(path_.c_str());
  } else if (fd >= 0) {
    // The pid goes while the lock still holds, so no one reads a finished job's pid.
    if (::ftruncate(fd, 0) != 0) {
      // A read-only lock file keeps the last pid written; the lock goes all the same.
    }
    ::close(fd);
  }
}

std::string RegisterLock::HolderText() const {
  if (holderPid_ <= 0) return "inny program";
  if (holderProgram_.empty()) return "proces o pid "_cp + std::to_string(holderPid_);
  return "program "_cp + holderProgram_ + ", pid " + std::to_string(holderPid_);
}

std::string RegisterLock::UnavailableText() const {
  const std::string dir = directoryOf(path_);
  std::string why;
  switch (error_) {
    case EACCES:
    case EPERM: why = "brak uprawnień do zapisu w katalogu "_cp + dir; break;
    case ENOENT: why = "nie ma katalogu "_cp + dir; break;
    case EROFS: why = "katalog "_cp + dir + " jest tylko do odczytu"_cp; break;
    case ENOTDIR: why = dir + " nie jest katalogiem"_cp; break;
    case ENOSPC: why = "brak miejsca w katalogu "_cp + dir; break;
    case EINVAL: why = "plik blokady nie jest zwykłym plikiem"_cp; break;
    default: why = "błąd systemu nr "_cp + std::to_string(error_); break;
  }
  return "nie można założyć blokady "_cp + path_ + " (" + why +
         "; inny katalog blokad wskazuje zmienna QUORVEL_LOCK_DIR)"_cp;
}

}  // namespace quorvel::platform
