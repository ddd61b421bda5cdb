#include "platform/job_dir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace quorvel::platform {

namespace {

// The lock file, created when missing; read-only when the directory is not writable; the
// directory itself when even that fails. -1 when nothing can be opened.
//
// A link planted under the lock file's name is not followed: O_CREAT would make the core (often
// run as a service user, sometimes as root) create a file wherever the link points, or open
// the serial line it names. Such a name, and anything else that is not a regular file, is left
// alone and the directory is locked instead; every run meets the same name, so every run locks
// the same thing.
int openLockTarget() {
  constexpr int kFileFlags = O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  int fd = ::open(kJobLockFileName, O_RDWR | O_CREAT | kFileFlags, 0666);
  if (fd < 0 && errno != ELOOP) fd = ::open(kJobLockFileName, O_RDONLY | kFileFlags);
  struct stat st {};
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    ::close(fd);
    fd = -1;
  }
  if (fd < 0) fd = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd;
}

}  // namespace

JobDirectoryLock::Result JobDirectoryLock::Acquire() {
  const int fd = openLockTarget();
  if (fd < 0) return Result::Unavailable;
  int r;
  while ((r = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (r != 0) {
    const bool busy = errno == EWOULDBLOCK;
    ::close(fd);
    return busy ? Result::Busy : Result::Unavailable;
  }
  fd_ = fd;
  return Result::Held;
}

void JobDirectoryLock::Release() {
  if (fd_ < 0) return;
  ::close(fd_);  // closing the last descriptor of the open file drops its lock
  fd_ = -1;
}

long JobDirectoryLockHolder(const std::string& directory) {
  const std::string lockFile = directory + "/" + kJobLockFileName;
  struct stat file {}, folder {};
  const bool haveFile = ::lstat(lockFile.c_str(), &file) == 0 && S_ISREG(file.st_mode);
  if (::stat(directory.c_str(), &folder) != 0) return 0;
  const auto is = [](const struct stat& st, unsigned major, unsigned minor, unsigned long inode) {
    return major == ::major(st.st_dev) && minor == ::minor(st.st_dev) && inode == st.st_ino;
  };
  if (std::FILE* locks = std::fopen("/proc/locks", "re")) {
    long holder = 0;
    char line[256];
    while (holder == 0 && std::fgets(line, sizeof line, locks)) {
      // "1: FLOCK  ADVISORY  WRITE 1234 fe:00:10953320 0 EOF"; waiters ("1: -> FLOCK ...") do not hold it.
      char kind[16];
      long pid = 0;
      unsigned major = 0, minor = 0;
      unsigned long inode = 0;
      if (std::sscanf(line, "%*[^:]: %15s %*s %*s %ld %x:%x:%lu", kind, &pid, &major, &minor, &inode) != 5) continue;
      if (std::strcmp(kind, "FLOCK") == 0 && pid > 0 && ((haveFile && is(file, major, minor, inode)) || is(folder, major, minor, inode)))
        holder = pid;
    }
    std::fclose(locks);
    return holder;
  }
  const int fd = ::open(haveFile ? lockFile.c_str() : directory.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return 0;
  const bool held = ::flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
  ::close(fd);
  return held ? -1 : 0;
}

int JobDirectoryLock::Share() const { return fd_ < 0 ? -1 : ::fcntl(fd_, F_DUPFD_CLOEXEC, 0); }

int LockFileExclusive(const char* path, bool& busy) {
  busy = false;
  const int fd = ::open(path, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0666);
  if (fd < 0) return -1;
  int r;
  while ((r = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (r != 0) {
    busy = errno == EWOULDBLOCK;
    ::close(fd);
    return -1;
  }
  return fd;
}

namespace {
bool passes(FileOp op, const char* name);
}  // namespace

std::FILE* OpenRegularFileForReading(const char* path, ReadOpenError& why) {
  why = ReadOpenError::None;
  if (!passes(FileOp::Open, path)) {
    why = ReadOpenError::Missing;
    return nullptr;
  }
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    why = ReadOpenError::Missing;
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    why = ReadOpenError::NotRegular;
    ::close(fd);
    return nullptr;
  }
  // A regular file never blocks; the flag goes so the stream behaves as an ordinary one.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* f = ::fdopen(fd, "rb");
  if (!f) {
    ::close(fd);
    why = ReadOpenError::Missing;
  }
  return f;
}

namespace {

std::FILE* openForWriting(const char* path, int truncate) {
  // O_NONBLOCK: opening a FIFO for writing would otherwise wait for a reader (with none, the
  // open fails with ENXIO). O_TRUNC does nothing to a FIFO or a device.
  const int fd = ::open(path, O_WRONLY | O_CREAT | truncate | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  // Writes then behave as those of an ordinary stream.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* f = ::fdopen(fd, "wb");
  if (!f) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
  }
  return f;
}

}  // namespace

std::FILE* CreateFileForWriting(const char* path) { return openForWriting(path, O_TRUNC); }

std::FILE* OpenFileForRewriting(const char* path) { return openForWriting(path, 0); }

bool CutFileHere(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
  const int fd = ::fileno(file);
  struct stat st {};
  if (::fstat(fd, &st) != 0) return false;
  if (!S_ISREG(st.st_mode)) return true;
  const off_t at = ::lseek(fd, 0, SEEK_CUR);
  return at >= 0 && ::ftruncate(fd, at) == 0;
}

namespace {
// fsync on a special file fails with EINVAL: there is nothing to make durable.
bool syncDescriptor(int fd) { return ::fsync(fd) == 0 || errno == EINVAL; }
}  // namespace

// ---- Fault hook ------------------------------------------------------------------------

namespace {

struct FaultRule {
  FileOp op;
  unsigned nth;
  int error;
  std::string name;
  bool onward;
  unsigned seen = 0;
};

struct FaultRules {
  std::mutex mutex;
  std::vector<FaultRule> rules;
  bool environmentRead = false;
  unsigned counts[6] = {};
};

FaultRules& faultRules() {
  static FaultRules* rules = new FaultRules;  // never destroyed: used up to the process's end
  return *rules;
}

bool parseRules(const std::string& rules, std::vector<FaultRule>& out) {
  static const struct {
    const char* name;
    FileOp op;
  } kOps[] = {{"open", FileOp::Open}, {"write", FileOp::Write}, {"sync", FileOp::Sync},
              {"rename", FileOp::Rename}, {"close", FileOp::Close},
              {"read", FileOp::Read}};
  static const struct {
    const char* name;
    int error;
  } kErrors[] = {{"EIO", EIO},       {"ENOSPC", ENOSPC}, {"EDQUOT", EDQUOT}, {"EROFS", EROFS},
                 {"EACCES", EACCES}, {"EPERM", EPERM},   {"EFBIG", EFBIG}};
  std::size_t start = 0;
  while (start <= rules.size()) {
    std::size_t end = rules.find(',', start);
    if (end == std::string::npos) end = rules.size();
    const std::string item = rules.substr(start, end - start);
    start = end + 1;
    if (item.empty()) continue;
    // kind:count:error[:name]; the name takes the rest of the item.
    std::vector<std::string> parts;
    std::size_t p = 0;
    while (parts.size() < 3) {
      const std::size_t q = item.find(':', p);
      parts.push_back(item.substr(p, q == std::string::npos ? std::string::npos : q - p));
      if (q == std::string::npos) {
        p = std::string::npos;
        break;
      }
      p = q + 1;
    }
    if (p != std::string::npos) parts.push_back(item.substr(p));
    if (parts.size() < 3) return false;
    FaultRule rule{FileOp::Open, 0, 0, parts.size() > 3 ? parts[3] : std::string(), false};
    bool known = false;
    for (const auto& o : kOps)
      if (parts[0] == o.name) rule.op = o.op, known = true;
    std::string count = parts[1];
    if (!count.empty() && count.back() == '+') rule.onward = true, count.pop_back();
    char* rest = nullptr;
    rule.nth = static_cast<unsigned>(std::strtoul(count.c_str(), &rest, 10));
    if (!known || count.empty() || *rest || rule.nth == 0) return false;
    for (const auto& e : kErrors)
      if (parts[2] == e.name) rule.error = e.error;
    if (rule.error == 0) rule.error = std::atoi(parts[2].c_str());
    if (rule.error <= 0) return false;
    out.push_back(rule);
  }
  return true;
}

bool nameMatches(const std::string& wanted, const char* name) {
  if (wanted.empty()) return true;
  const std::string path = name ? name : "";
  if (path == wanted) return true;
  const std::size_t slash = path.rfind('/');
  return slash != std::string::npos && path.compare(slash + 1, std::string::npos, wanted) == 0;
}

// The hook at the start of an operation: false with errno set when it must fail.
bool passes(FileOp op, const char* name) {
  const int error = FileFaults::Check(op, name);
  if (error == 0) return true;
  errno = error;
  return false;
}

}  // namespace

void FileFaults::Arm(FileOp op, unsigned nth, int error, const char* name, bool onward) {
  FaultRules& r = faultRules();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.environmentRead = true;
  r.rules.push_back(FaultRule{op, nth, error, name ? name : "", onward});
}

bool FileFaults::Parse(const std::string& rules) {
  std::vector<FaultRule> parsed;
  if (!parseRules(rules, parsed)) return false;
  FaultRules& r = faultRules();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.environmentRead = true;
  r.rules.insert(r.rules.end(), parsed.begin(), parsed.end());
  return true;
}

void FileFaults::Clear() {
  FaultRules& r = faultRules();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.environmentRead = true;
  r.rules.clear();
  for (unsigned& c : r.counts) c = 0;
}

unsigned FileFaults::Count(FileOp op) {
  FaultRules& r = faultRules();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.counts[static_cast<int>(op)];
}

int FileFaults::Check(FileOp op, const char* name) {
  FaultRules& r = faultRules();
  std::lock_guard<std::mutex> lock(r.mutex);
  if (!r.environmentRead) {
    r.environmentRead = true;
    if (const char* rules = std::getenv("QUORVEL_FILE_FAULT")) parseRules(rules, r.rules);
  }
  ++r.counts[static_cast<int>(op)];
  int error = 0;
  for (FaultRule& rule : r.rules) {
    if (rule.op != op || !nameMatches(rule.name, name)) continue;
    ++rule.seen;
    if (error == 0 && (rule.seen == rule.nth || (rule.onward && rule.seen > rule.nth))) error = rule.error;
  }
  return error;
}

// ---- Syncs and the files the system writes ------------------------------------------------

bool SyncFileToDisk(std::FILE* file, const char* name) {
  if (!passes(FileOp::Sync, name ? name : "")) return false;
  return syncDescriptor(fileno(file));
}

bool SyncDirectory(const char* path) {
  if (!passes(FileOp::Sync, path)) return false;
  const int dir = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  const bool synced = syncDescriptor(dir);
  return ::close(dir) == 0 && synced;
}

bool SyncCurrentDirectory() { return SyncDirectory("."); }

std::FILE* OpenResultFileForWriting(const char* path, WriteOpenError& why, bool empty, unsigned mode) {
  why = WriteOpenError::Failed;
  if (!passes(FileOp::Open, path)) return nullptr;
  // A device under the name is refused before it is opened: opening one may already act (a
  // serial line raises its modem lines). O_NOFOLLOW below closes the gap for a link planted
  // after this look.
  struct stat st {};
  if (::lstat(path, &st) == 0 && S_ISDIR(st.st_mode)) {
    errno = EISDIR;  // cannot be created, as fopen would find
    return nullptr;
  }
  if (::lstat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
    why = WriteOpenError::NotRegular;
    errno = S_ISLNK(st.st_mode) ? ELOOP : EINVAL;
    return nullptr;
  }
  // No O_TRUNC: the file is emptied only once it is known to be a regular file of its own.
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                        static_cast<mode_t>(mode));
  if (fd < 0) {
    if (errno == ELOOP || errno == ENXIO) why = WriteOpenError::NotRegular;
    return nullptr;
  }
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    why = WriteOpenError::NotRegular;
    ::close(fd);
    errno = EINVAL;
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  std::FILE* f = !empty || ::ftruncate(fd, 0) == 0 ? ::fdopen(fd, "wb") : nullptr;
  if (!f) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return nullptr;
  }
  why = WriteOpenError::None;
  return f;
}

bool WriteToFile(std::FILE* file, const void* bytes, std::size_t size, const char* name) {
  if (!file) return false;
  if (!passes(FileOp::Write, name)) return false;
  const bool written = size == 0 || std::fwrite(bytes, 1, size, file) == size;
  const bool flushed = std::fflush(file) == 0;
  return written && flushed;
}

std::size_t ReadFromFile(std::FILE* file, void* bytes, std::size_t size, const char* name, bool& failed) {
  if (!file || !passes(FileOp::Read, name)) {
    failed = true;
    return 0;
  }
  const std::size_t got = size == 0 ? 0 : std::fread(bytes, 1, size, file);
  if (std::ferror(file)) failed = true;
  return got;
}

bool CloseFile(std::FILE* file, const char* name) {
  if (!file) return false;
  const int injected = FileFaults::Check(FileOp::Close, name);
  const bool closed = std::fclose(file) == 0;
  if (injected != 0) {
    errno = injected;
    return false;
  }
  return closed;
}

bool RenameFile(const char* from, const char* to) {
  if (!passes(FileOp::Rename, from)) return false;
  return ::rename(from, to) == 0;
}

std::FILE* OpenFileForUpdate(const char* path) {
  if (!passes(FileOp::Open, path)) return nullptr;
  // Appending creates a missing file without emptying an existing one; the stream is then
  // reopened for update so that writing starts at offset 0.
  std::FILE* f = std::fopen(path, "ab");
  if (f) f = std::freopen(path, "r+b", f);
  return f;
}

bool ShortenFile(const char* path, unsigned long long size) {
  struct stat st {};
  if (::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return true;
  if (static_cast<unsigned long long>(st.st_size) <= size) return true;
  return ::truncate(path, static_cast<off_t>(size)) == 0;
}

ReplaceError ReplaceFileWhole(const char* path, const void* bytes, std::size_t size) {
  // The file aside gets a name of its own, so two runs at once never share it and nothing
  // already lying beside the file (a link under a fixed name) is followed or truncated.
  std::string aside = std::string(path) + ".XXXXXX";
  if (!passes(FileOp::Open, path)) return ReplaceError::Create;
  const int fd = ::mkstemp(aside.data());
  if (fd < 0) return ReplaceError::Create;
  // It takes the mode of the file it replaces (a file the shop made group-writable stays
  // so); a first file gets the mode of any new file.
  struct stat st {};
  mode_t mode = 0;
  if (::stat(path, &st) == 0 && S_ISREG(st.st_mode)) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);  // read and put back at once
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  bool bad = ::fchmod(fd, mode) != 0 || !passes(FileOp::Write, path);
  const char* p = static_cast<const char*>(bytes);
  for (std::size_t done = 0; !bad && done < size;) {
    const ssize_t n = ::write(fd, p + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) bad = true;
    else done += static_cast<std::size_t>(n);
  }
  // On the disk before it takes the name: a crash must not leave an empty file.
  bad = bad || !passes(FileOp::Sync, path) || ::fsync(fd) != 0;
  const bool injectedClose = !passes(FileOp::Close, path);
  bad = ::close(fd) != 0 || injectedClose || bad;
  if (bad || !passes(FileOp::Rename, path) || ::rename(aside.c_str(), path) != 0) {
    ::unlink(aside.c_str());
    return ReplaceError::Write;
  }
  return ReplaceError::None;
}

bool RemoveFile(const char* path) { return std::remove(path) == 0; }

bool MakeDirectory(const char* path) {
  if (::mkdir(path, 0777) == 0) return true;
  struct stat st {};
  return errno == EEXIST && ::lstat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

FileKind KindOfFile(const char* path) {
  struct stat st {};
  if (::lstat(path, &st) != 0) return FileKind::Missing;
  if (S_ISREG(st.st_mode)) return FileKind::Regular;
  if (S_ISDIR(st.st_mode)) return FileKind::Directory;
  return FileKind::Other;
}

long long ModificationTime(const char* path) {
  struct stat st {};
  if (::lstat(path, &st) != 0) return -1;
  return static_cast<long long>(st.st_mtime);
}

}  // namespace quorvel::platform
