// One job per register: the lock a driver holds on its register from the open of its line to
// its close.
//
// Two jobs in two job directories against one register would both read the same sales and
// both report them, and the host would count them twice. Every driver therefore locks what
// identifies its register before it opens it:
//
//  - A serial line, by the UUCP lock-file convention that the other serial programs of the
//    system honour (minicom, picocom, NUT, cu): the file LCK..NAME in the lock directory, NAME
//    the basename of the device (links resolved, so that /dev/serial/by-id names and the
//    ttyUSB node meet in one lock), holding the owner's pid as ten ASCII characters
//    right-aligned and a newline. The file is written under a temporary name and linked into
//    place, so that it appears whole or not at all. A lock whose pid no longer runs is stale
//    and is taken over; a lock of any other program, or one whose content cannot be read, is
//    respected.
//  - Anything else (a TCP address and port, a WinIP port or modem number): a lock file
//    quorvel/NAME.lock in the lock directory, locked with flock, which the kernel drops when
//    its holder ends however it ends; the holder's pid is written inside for the message of
//    whoever finds it locked. The file stays when the lock is given up: removing it would let
//    a third job lock a fresh file while the second still holds the old one.
//
// A register found locked is asked for again every kRegisterLockPollMs until the wait runs
// out (kRegisterLockWaitMs): a job that was just ending gives the register up in that time,
// one that has it for longer is not waited for, and the second job is refused naming the
// holder. The wait is real time, also under the test suite's virtual clock: it waits for
// another process.
//
// Within one process a lock is shared: locking again what the process holds succeeds and the
// lock goes when its last holder gives it up (a driver may hold its line while it switches a
// multiplexer over a port of its own on the same line).
//
// Environment (tests, unusual installations):
//   QUORVEL_LOCK_DIR      the lock directory in place of /var/lock (/run/lock on Debian);
//   QUORVEL_LOCK_WAIT_MS  the wait for a busy register in milliseconds, in place of 5000.
//
// A lock directory that cannot be written refuses the job (Result::Unavailable), as minicom
// and picocom refuse to open a line they cannot lock: a job that cannot lock its register
// cannot know that it has it alone, and sales read twice cost the shop money, while making
// the directory writable (or naming another in QUORVEL_LOCK_DIR) is a one-time repair.
#pragma once

#include <string>

#include "platform/api.h"

namespace quorvel::platform {

inline constexpr unsigned kRegisterLockWaitMs = 5000;
inline constexpr unsigned kRegisterLockPollMs = 100;

// The lock directory: QUORVEL_LOCK_DIR when set and not empty, else /var/lock.
QUORVEL_API std::string RegisterLockDirectory();
// The wait for a busy register: QUORVEL_LOCK_WAIT_MS when it is a number, else
// kRegisterLockWaitMs.
QUORVEL_API unsigned RegisterLockWaitMs();
// For this process, `ms` in place of that wait (0: a busy register is not waited for, as a
// probe that must not disturb a running job wants it); a negative value gives it back.
QUORVEL_API void SetRegisterLockWaitMs(int ms);

// The running process that the UUCP lock of the serial line at `devicePath` names (links
// resolved as LockSerialLine resolves them): its pid, 0 when there is no such lock, it names
// no pid, or its process has ended. Nothing is locked or changed.
QUORVEL_API long SerialLineLockHolder(const std::string& devicePath);

// The name of the lock of a register reached over TCP, "KIND-HOST-PORT": `address` is the host,
// optionally followed by ":PORT" (else `defaultPort`); a numeric IPv4 address in its usual form
// (so that 192.168.001.010 and 192.168.1.10 meet), any other host in lower case.
QUORVEL_API std::string TcpRegisterLockName(const std::string& kind, const std::string& address, int defaultPort);

class QUORVEL_API RegisterLock {
 public:
  enum class Result {
    Held,         // this object holds the lock
    Busy,         // another process held it all through the wait (Holder, LockFile tell who, where)
    Unavailable,  // the lock file could not be made (UnavailableText tells why)
    NoDevice,     // LockSerialLine: no such device; nothing was locked (its open will say so)
  };

  RegisterLock() = default;
  ~RegisterLock() { Release(); }
  RegisterLock(const RegisterLock&) = delete;
  RegisterLock& operator=(const RegisterLock&) = delete;

  // The serial line at `devicePath` (a path, e.g. SerialDevicePath("COM1")), by the UUCP
  // convention. Waits while the line is busy. REQUIRES: nothing held by this object.
  Result LockSerialLine(const std::string& devicePath);
  // The register named `name` (letters, digits, '.', '-', '_'; anything else becomes '_'):
  // quorvel/NAME.lock in the lock directory. Waits while it is busy.
  // REQUIRES: nothing held by this object.
  Result LockNamed(const std::string& name);
  // Gives the lock up (a UUCP lock file of this process is removed); nothing when none is held.
  void Release();
  bool IsHeld() const { return held_; }

  // The lock file, once a Lock call has named it.
  const std::string& LockFile() const { return path_; }
  // After Busy: the process that holds the lock, 0 when its file names none that can be read.
  long HolderPid() const { return holderPid_; }
  // After Busy: the holder in words, windows-1250: "program minicom, pid 1234", "proces o pid
  // 1234" (its name not readable), "inny program" (no pid readable).
  std::string HolderText() const;
  // After Unavailable: why, windows-1250, naming the lock file and the directory.
  std::string UnavailableText() const;

 private:
  template <class Attempt>
  Result Take(Attempt attempt);

  std::string path_;
  bool held_ = false;
  bool uucp_ = false;
  long holderPid_ = 0;
  std::string holderProgram_;
  int error_ = 0;  // errno of an Unavailable
};

}  // namespace quorvel::platform
