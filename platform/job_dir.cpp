#include "platform/job_dir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace quorvel::platform {

namespace {

// The lock file, created when missing; read-only when the directory is not writable; the
// directory itself when even that fails. -1 when nothing can be opened.
int openLockTarget() {
  int fd = ::open(kJobLockFileName, O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) fd = ::open(kJobLockFileName, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
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
  ::close(fd_);  // closing the only descriptor of the open file drops its lock
  fd_ = -1;
}

}  // namespace quorvel::platform
