#include "platform/clock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

namespace quorvel::platform {
namespace {

// One thread runs a job (the host's calling thread), so the clock state needs no lock.
struct VirtualClock {
  bool on = false;
  std::uint64_t now = 0;
  std::vector<unsigned long> sleeps;
  SleepObserver observer;
  std::string file;  // QUORVEL_VIRTUAL_CLOCK: where a test reads the sleeps of this process
};

// The clock of a process started with QUORVEL_VIRTUAL_CLOCK=FILE starts on.
VirtualClock fromEnvironment() {
  VirtualClock c;
  const char* file = std::getenv("QUORVEL_VIRTUAL_CLOCK");
  if (file && *file) {
    c.on = true;
    c.file = file;
  }
  return c;
}

VirtualClock& clockState() {
  static VirtualClock state = fromEnvironment();
  return state;
}

// One line per sleep, appended at once, so that the record survives a process that aborts.
void appendSleep(const std::string& path, unsigned long ms) {
  char line[24];
  const int n = std::snprintf(line, sizeof line, "%lu\n", ms);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  ssize_t written = -1;
  if (fd >= 0) {
    do {
      written = ::write(fd, line, static_cast<std::size_t>(n));
    } while (written < 0 && errno == EINTR);
    ::close(fd);
  }
  if (written != n) std::fprintf(stderr, "quorvel: cannot record a sleep in %s: %s\n", path.c_str(), std::strerror(errno));
}

void realSleep(unsigned long ms) {
  timespec left{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

}  // namespace

void SleepMs(unsigned long ms) {
  VirtualClock& c = clockState();
  if (!c.on) {
    realSleep(ms);
    return;
  }
  c.now += ms;
  c.sleeps.push_back(ms);
  if (!c.file.empty()) appendSleep(c.file, ms);
  if (c.observer) c.observer(ms);
}

std::uint64_t MonotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<std::uint64_t>(ts.tv_sec) * 1000u + static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u;
}

void UseVirtualClock(bool on) {
  VirtualClock& c = clockState();
  c.on = on;
  c.now = 0;
  c.sleeps.clear();
}

bool IsVirtualClock() { return clockState().on; }

std::vector<unsigned long> VirtualSleeps() { return clockState().sleeps; }

void ClearVirtualSleeps() {
  clockState().sleeps.clear();
  clockState().now = 0;
}

std::uint64_t VirtualNowMs() { return clockState().now; }

void SetSleepObserver(SleepObserver observer) { clockState().observer = std::move(observer); }

}  // namespace quorvel::platform
