// What the benchmarks share: one processor for every process they compare, processor-time
// medians with their spread, and the figures a measured process reports about itself.
#pragma once

#include <sched.h>
#include <sys/resource.h>
#include <sys/time.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace quorvel::bench {

// Pins this process, and so every process it starts, to processor 0. The processors of one
// machine may run at different speeds; two processes measured on different ones give any
// ratio. scripts/bench.sh starts every benchmark under `taskset -c 0` as well.
inline void pinToOneCpu() {
  cpu_set_t set;
  CPU_ZERO(&set);
  CPU_SET(0, &set);
  if (::sched_setaffinity(0, sizeof set, &set) != 0) std::perror("sched_setaffinity");
}

inline double seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }
// User and system time of a process (its own rusage, or a child's from wait4).
inline double cpuSeconds(const rusage& u) { return seconds(u.ru_utime) + seconds(u.ru_stime); }
inline double selfCpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return cpuSeconds(u);
}

// The median of a set of runs with its lowest and highest.
struct Spread {
  double median = 0, low = 0, high = 0;
};
inline Spread spread(std::vector<double> v) {
  if (v.empty()) return {};
  std::sort(v.begin(), v.end());
  return {v[v.size() / 2], v.front(), v.back()};
}

// Runs at every size; at least 7 at the largest, so that its median stands on enough runs.
constexpr int kRuns = 7;

}  // namespace quorvel::bench
