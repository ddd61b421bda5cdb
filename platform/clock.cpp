#include "platform/clock.h"

#include <cerrno>
#include <ctime>
#include <utility>

namespace quorvel::platform {
namespace {

// One thread runs a job (the host's calling thread), so the clock state needs no lock.
struct VirtualClock {
  bool on = false;
  std::uint64_t now = 0;
  std::vector<unsigned long> sleeps;
  SleepObserver observer;
};

VirtualClock& clockState() {
  static VirtualClock state;
  return state;
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
