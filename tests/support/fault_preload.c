// A library preloaded (LD_PRELOAD) into a program under test that counts the program's writes
// and can stop it by a signal at one of them.
//
// Counted, each under its kind:
//   write   write, writev, pwrite, send, sendto, sendmsg, and fflush (the moment a buffered
//           stream hands its bytes to the system)
//   fsync   fsync, fdatasync
//   rename  rename, renameat, renameat2
//   close   close, fclose
// Standard input, output and error are not counted, nor a descriptor or path whose name
// contains the text of QUORVEL_TEST_KILL_SKIP (the virtual clock's file, say).
//
// QUORVEL_TEST_KILL_AT=KIND:N:SIGNAL raises SIGNAL (KILL, TERM, INT or a number) in the calling
// thread just before the Nth call of KIND is carried out; if the program survives the signal,
// the call then goes ahead. QUORVEL_TEST_KILL_COUNTS=FILE receives "KIND COUNT" lines when the
// program exits normally, so that a first run tells how many points a later run can choose;
// QUORVEL_TEST_KILL_TRACE=FILE receives "KIND N NAME" for every call counted, NAME being the
// file, terminal or socket it touches.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

enum { kWrite, kFsync, kRename, kClose, kKinds };
static const char* const kNames[kKinds] = {"write", "fsync", "rename", "close"};

static long g_counts[kKinds];
static int g_kind = -1;
static long g_at;
static int g_signal;
static int g_fired;
static int g_done;  // counting stopped: the program is exiting
static char g_skip[128];
static long g_trace = -1;  // descriptor of the trace file

static int signalNamed(const char* s) {
  if (strcmp(s, "KILL") == 0) return SIGKILL;
  if (strcmp(s, "TERM") == 0) return SIGTERM;
  if (strcmp(s, "INT") == 0) return SIGINT;
  return atoi(s);
}

__attribute__((constructor)) static void start(void) {
  const char* skip = getenv("QUORVEL_TEST_KILL_SKIP");
  if (skip) snprintf(g_skip, sizeof g_skip, "%s", skip);
  const char* trace = getenv("QUORVEL_TEST_KILL_TRACE");
  if (trace) g_trace = syscall(SYS_openat, AT_FDCWD, trace, O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
  const char* at = getenv("QUORVEL_TEST_KILL_AT");
  if (!at) return;
  char kind[16] = "", sig[16] = "";
  long n = 0;
  if (sscanf(at, "%15[a-z]:%ld:%15s", kind, &n, sig) != 3) return;
  for (int k = 0; k < kKinds; ++k)
    if (strcmp(kind, kNames[k]) == 0) g_kind = k;
  g_at = n;
  g_signal = signalNamed(sig);
}

__attribute__((destructor)) static void finish(void) {
  g_done = 1;
  const char* path = getenv("QUORVEL_TEST_KILL_COUNTS");
  if (!path) return;
  char text[256];
  int len = 0;
  for (int k = 0; k < kKinds; ++k)
    len += snprintf(text + len, sizeof text - (size_t)len, "%s %ld\n", kNames[k], __atomic_load_n(&g_counts[k], __ATOMIC_SEQ_CST));
  // Raw system calls: these are the shim's own writes, not the program's.
  const long fd = syscall(SYS_openat, AT_FDCWD, path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return;
  syscall(SYS_write, fd, text, (size_t)len);
  syscall(SYS_close, fd);
}

// The name of what a call touches, or NULL when the call is not counted.
static const char* pathName(const char* path) { return g_skip[0] && path && strstr(path, g_skip) ? NULL : path ? path : ""; }

static const char* descriptorName(int fd, char* target, size_t size) {
  if (fd <= 2) return NULL;
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const long n = syscall(SYS_readlinkat, AT_FDCWD, link, target, size - 1);
  target[n > 0 ? n : 0] = 0;
  return pathName(target);
}

// One call of `kind` on `name` (NULL: not counted); raises the planned signal when it is the
// chosen one.
static void point(int kind, const char* name) {
  if (!name || g_done) return;
  const long n = __atomic_add_fetch(&g_counts[kind], 1, __ATOMIC_SEQ_CST);
  if (g_trace >= 0) {
    char line[600];
    const int len = snprintf(line, sizeof line, "%s %ld %s\n", kNames[kind], n, name);
    syscall(SYS_write, g_trace, line, (size_t)(len < (int)sizeof line ? len : (int)sizeof line - 1));
  }
  if (kind == g_kind && n == g_at && !__atomic_exchange_n(&g_fired, 1, __ATOMIC_SEQ_CST)) raise(g_signal);
}

#define FD(fd) descriptorName((fd), (char[512]){0}, 512)

#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

__attribute__((visibility("default"))) ssize_t write(int fd, const void* buf, size_t n) {
  point(kWrite, FD(fd));
  return REAL(write)(fd, buf, n);
}
__attribute__((visibility("default"))) ssize_t writev(int fd, const struct iovec* iov, int n) {
  point(kWrite, FD(fd));
  return REAL(writev)(fd, iov, n);
}
__attribute__((visibility("default"))) ssize_t pwrite(int fd, const void* buf, size_t n, off_t at) {
  point(kWrite, FD(fd));
  return REAL(pwrite)(fd, buf, n, at);
}
__attribute__((visibility("default"))) ssize_t send(int fd, const void* buf, size_t n, int flags) {
  point(kWrite, FD(fd));
  return REAL(send)(fd, buf, n, flags);
}
__attribute__((visibility("default"))) ssize_t sendto(int fd, const void* buf, size_t n, int flags,
                                                      const struct sockaddr* to, socklen_t len) {
  point(kWrite, FD(fd));
  return REAL(sendto)(fd, buf, n, flags, to, len);
}
__attribute__((visibility("default"))) ssize_t sendmsg(int fd, const struct msghdr* m, int flags) {
  point(kWrite, FD(fd));
  return REAL(sendmsg)(fd, m, flags);
}
__attribute__((visibility("default"))) int fflush(FILE* f) {
  point(kWrite, f ? FD(fileno(f)) : "all streams");
  return REAL(fflush)(f);
}
__attribute__((visibility("default"))) int fsync(int fd) {
  point(kFsync, FD(fd));
  return REAL(fsync)(fd);
}
__attribute__((visibility("default"))) int fdatasync(int fd) {
  point(kFsync, FD(fd));
  return REAL(fdatasync)(fd);
}
__attribute__((visibility("default"))) int rename(const char* from, const char* to) {
  point(kRename, pathName(from) && pathName(to) ? to : NULL);
  return REAL(rename)(from, to);
}
__attribute__((visibility("default"))) int renameat(int fromDir, const char* from, int toDir, const char* to) {
  point(kRename, pathName(from) && pathName(to) ? to : NULL);
  return REAL(renameat)(fromDir, from, toDir, to);
}
__attribute__((visibility("default"))) int renameat2(int fromDir, const char* from, int toDir, const char* to,
                                                     unsigned flags) {
  point(kRename, pathName(from) && pathName(to) ? to : NULL);
  return REAL(renameat2)(fromDir, from, toDir, to, flags);
}
__attribute__((visibility("default"))) int close(int fd) {
  point(kClose, FD(fd));
  return REAL(close)(fd);
}
__attribute__((visibility("default"))) int fclose(FILE* f) {
  point(kClose, FD(fileno(f)));
  return REAL(fclose)(f);
}
