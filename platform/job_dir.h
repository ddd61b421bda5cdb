// The job directory: one job at a time, and the files the system reads from it.
//
// Two runs in one directory would write RAPORT.XML and PROG_KOM.XML at once and leave both
// files interleaved. The core therefore holds an exclusive advisory lock (flock) on the lock
// file QUORVEL.LCK for as long as a job is loaded; the kernel drops it when the process ends,
// however it ends, so a killed job never leaves the directory locked. The lock file stays in
// the directory: removing it would let a third run lock a fresh file while the second still
// holds the old one.
//
// Files the system reads (the job file, PROG_KOM.CFG) must be regular files: opening a FIFO
// blocks until a writer appears and reading a device may never end, so both are refused
// without waiting.
#pragma once

#include <cstdio>

#include "platform/api.h"

namespace quorvel::platform {

inline constexpr const char* kJobLockFileName = "QUORVEL.LCK";

class QUORVEL_API JobDirectoryLock {
 public:
  enum class Result {
    Held,         // this object holds the lock of the current directory
    Busy,         // another open of the lock (another job) holds it; nothing was changed
    Unavailable,  // neither the lock file nor the directory could be locked (see below)
  };

  JobDirectoryLock() = default;
  ~JobDirectoryLock() { Release(); }
  JobDirectoryLock(const JobDirectoryLock&) = delete;
  JobDirectoryLock& operator=(const JobDirectoryLock&) = delete;

  // Takes the lock of the current directory without waiting. The lock file is created when
  // missing; in a directory where it cannot be created (not writable) an existing lock file is
  // locked through a read-only open, and failing that the directory itself, so that two runs
  // that both cannot create the file still exclude each other. A lock file name that is a
  // symbolic link or not a regular file is never followed or opened: the directory is locked.
  // REQUIRES: the lock is not held by this object.
  Result Acquire();
  // Gives the lock up; nothing when it is not held. A descriptor handed out by Share keeps
  // the lock held until it is closed too.
  void Release();
  bool IsHeld() const { return fd_ >= 0; }
  // A further descriptor of the held lock (close-on-exec), for its caller to close; -1 when
  // the lock is not held or no descriptor is left. While it is open the directory stays
  // locked, also after Release: a host keeps a job's directory its own until it has read the
  // result files that the job's teardown finished.
  int Share() const;

 private:
  int fd_ = -1;
};

enum class ReadOpenError {
  None,
  Missing,     // no such file, or it cannot be opened (permissions)
  NotRegular,  // a FIFO, a device, a socket, a directory: refused without waiting on it
};

// Opens `path` for reading in binary mode; nullptr with `why` set on failure. Never blocks.
QUORVEL_API std::FILE* OpenRegularFileForReading(const char* path, ReadOpenError& why);

// Creates or truncates `path` and opens it for writing in binary mode, as fopen(path, "wb")
// does, except that a FIFO nobody reads is not waited on: its open fails at once (errno
// ENXIO) instead of blocking the job until a reader appears. Devices open as fopen opens them.
// nullptr with errno set on failure.
QUORVEL_API std::FILE* CreateFileForWriting(const char* path);

// A file rewritten many times in a job (a vendor library's input file, before every call):
// opened as CreateFileForWriting opens it but without emptying it, written from its start, and
// then cut where the writing ended by CutFileHere. The file ends up with the same bytes as
// after a truncating open, without the cost: a file emptied by truncation and written again is
// flushed to the disk when it is closed (ext4 guards replaced files that way), over a hundred
// microseconds per rewrite. nullptr with errno set on failure.
QUORVEL_API std::FILE* OpenFileForRewriting(const char* path);
// Flushes the stream and cuts a regular file at the stream's position; false when either
// fails. Anything but a regular file is only flushed.
QUORVEL_API bool CutFileHere(std::FILE* file);

// Makes what was written to the stream's file durable (fsync of its descriptor); true also for
// a terminal, pipe or other special file, which has no storage to make durable and has the
// bytes already. The stream must have been flushed.
QUORVEL_API bool SyncFileToDisk(std::FILE* file);
// Makes the entries of the current directory durable, so that a file just created there
// survives a power loss; false when the directory cannot be opened or synced.
QUORVEL_API bool SyncCurrentDirectory();

}  // namespace quorvel::platform
