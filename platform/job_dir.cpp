#include "platform/job_dir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

int JobDirectoryLock::Share() const { return fd_ < 0 ? -1 : ::fcntl(fd_, F_DUPFD_CLOEXEC, 0); }

std::FILE* OpenRegularFileForReading(const char* path, ReadOpenError& why) {
  why = ReadOpenError::None;
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

bool SyncFileToDisk(std::FILE* file) { return syncDescriptor(fileno(file)); }

bool SyncCurrentDirectory() {
  const int dir = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return false;
  const bool synced = syncDescriptor(dir);
  return ::close(dir) == 0 && synced;
}

}  // namespace quorvel::platform
