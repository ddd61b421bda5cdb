// Millisecond sleeps and the virtual clock of the test suite.
//
// Every protocol pause (the port's closing pause, line breaks, multiplexer steps, the link's
// retries) sleeps through SleepMs. Production code always sleeps for real. A test may switch
// the process-wide virtual clock on: sleeps then return at once, advance a virtual time and are
// recorded, so that pauses of whole seconds cost nothing and can be asserted. The clock lives
// in libQuorvel and is shared by the core and every plug-in of the process.
//
// Test runs of whole programs (`quorvel run` started by a test) switch the virtual clock on
// from the environment: when QUORVEL_VIRTUAL_CLOCK names a file at the first use of the clock,
// the clock starts on, and every sleep is also appended to that file as one line holding its
// milliseconds ("1000\n"), in order, so that the test can read back the pauses of the process.
// The file is created if missing and never truncated (the test empties it between runs). The
// variable is read once per process; unset or empty, sleeps are real. It is a test facility
// only and not a setting for installations.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/api.h"

namespace quorvel::platform {

// Sleeps ms milliseconds (real time, or virtual time when the virtual clock is on).
QUORVEL_API void SleepMs(unsigned long ms);

// Milliseconds of a monotonic real clock (for time-outs; never virtual).
QUORVEL_API std::uint64_t MonotonicMs();

// Switches the virtual clock on or off (the file of QUORVEL_VIRTUAL_CLOCK, if any, keeps
// receiving the virtual sleeps); either way the record of sleeps and the virtual time
// start again from empty and zero.
QUORVEL_API void UseVirtualClock(bool on);
QUORVEL_API bool IsVirtualClock();
// The sleeps requested since the virtual clock was switched on (or cleared), in order.
QUORVEL_API std::vector<unsigned long> VirtualSleeps();
QUORVEL_API void ClearVirtualSleeps();
// Sum of the virtual sleeps so far.
QUORVEL_API std::uint64_t VirtualNowMs();

// Called for every sleep taken while the virtual clock is on (after it is recorded); lets a
// fake device log pauses in order with its other events. An empty function removes it.
using SleepObserver = std::function<void(unsigned long ms)>;
QUORVEL_API void SetSleepObserver(SleepObserver observer);

// Switches the virtual clock on for the lifetime of the object.
class VirtualClockScope {
 public:
  VirtualClockScope() { UseVirtualClock(true); }
  ~VirtualClockScope() { UseVirtualClock(false); }
  VirtualClockScope(const VirtualClockScope&) = delete;
  VirtualClockScope& operator=(const VirtualClockScope&) = delete;
};

}  // namespace quorvel::platform
