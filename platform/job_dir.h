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

#include <cstddef>
#include <cstdio>
#include <string>

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

// Whether a job holds the lock of the job directory `directory` (its lock file, or the
// directory itself where the lock falls back to it), found without taking or changing it: the
// pid of the holding process, 0 when no process holds it, -1 when it is held by a process
// this one cannot name. Read from /proc/locks; where that cannot be read, a lock that cannot
// be shared for an instant counts as held.
QUORVEL_API long JobDirectoryLockHolder(const std::string& directory);

// Takes an exclusive advisory lock (flock) on the file `path`, created when missing (never
// through a link), without waiting; the descriptor that holds it (close-on-exec, given up with
// CloseDescriptor), or -1 with `busy` telling whether another open of the file holds it.
QUORVEL_API int LockFileExclusive(const char* path, bool& busy);

enum class ReadOpenError {
  None,
  Missing,     // no such file, or it cannot be opened (permissions)
  NotRegular,  // a FIFO, a device, a socket, a directory: refused without waiting on it
};

// Opens `path` for reading in binary mode; nullptr with `why` set (and errno) on failure. Never
// blocks. The open passes the fault hook below (an injected failure counts as Missing).
QUORVEL_API std::FILE* OpenRegularFileForReading(const char* path, ReadOpenError& why);
// Reads up to `size` bytes (fread) and returns how many came; sets `failed` when the read
// failed (a stream error, or the fault hook), and leaves it alone otherwise. A short count
// without `failed` is the end of the file. `name` is the file's name for the fault hook.
QUORVEL_API std::size_t ReadFromFile(std::FILE* file, void* bytes, std::size_t size, const char* name, bool& failed);

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
// bytes already. The stream must have been flushed. `name` is the file's name for the fault
// hook below (a sync of a file without a name counts under the name "").
QUORVEL_API bool SyncFileToDisk(std::FILE* file, const char* name = nullptr);
// Makes the entries of the current directory durable, so that a file just created there
// survives a power loss; false when the directory cannot be opened or synced. Counts as a sync
// of ".".
QUORVEL_API bool SyncCurrentDirectory();
// The same for the directory `path` (relative to the current one); a sync of `path`.
QUORVEL_API bool SyncDirectory(const char* path);

// ---- The result files and the history of the job directory ------------------------------
//
// The files the system writes for the host (RAPORT.XML, PROG_KOM.XML) and the files it keeps
// in the job directory's history go through the functions below, each of which passes the
// fault hook (FileFaults) first, so that tests can make any step of them fail.

enum class WriteOpenError {
  None,
  Failed,      // the file could not be created or opened (errno says why)
  NotRegular,  // the name is a symbolic link, a FIFO or a device: left untouched
};

// Creates `path`, or empties an existing regular file of that name, and opens it for writing
// in binary mode (`empty` false: an existing file keeps its bytes and is written over from its
// start, to be cut by CutFileHere; a new file gets the permissions `mode` less the umask). A
// name that is a symbolic link is never followed (O_NOFOLLOW) and one that is not a regular
// file (a FIFO, a device made under the name) is refused before anything is written or
// truncated: nullptr with `why` NotRegular. nullptr
// with `why` Failed and errno set when the file cannot be opened (a directory of that name:
// EISDIR).
QUORVEL_API std::FILE* OpenResultFileForWriting(const char* path, WriteOpenError& why, bool empty = true,
                                                 unsigned mode = 0666);

// Writes `size` bytes and hands them to the system (fflush); false with errno set when either
// fails. `name` is the file's name for the fault hook.
QUORVEL_API bool WriteToFile(std::FILE* file, const void* bytes, std::size_t size, const char* name);
// Closes the stream (always); false with errno set when the close failed.
QUORVEL_API bool CloseFile(std::FILE* file, const char* name);
// rename(2): `from` replaces `to` atomically; false with errno set on failure.
QUORVEL_API bool RenameFile(const char* from, const char* to);
// Opens `path` for update in binary mode, at its start and without emptying it, creating a
// missing file first (fopen "ab", then reopened "r+b"); a link is followed, as fopen follows
// it. nullptr with errno set on failure. Passes the hook as an open of `path`.
QUORVEL_API std::FILE* OpenFileForUpdate(const char* path);
// Cuts the regular file `path` (links followed) to `size` bytes when it is longer; true when
// it was cut or nothing had to be done (no longer, or no regular file), false when the cut failed.
QUORVEL_API bool ShortenFile(const char* path, unsigned long long size);

enum class ReplaceError { None, Create, Write };
// Replaces `path` whole with `size` bytes so that the name always names either the old file or
// the new one, complete and on the disk: the bytes go to a file of a unique name beside it
// (made with the mode of the file it replaces, or of any new file), which is written, synced,
// closed and then renamed over `path`. Create: the file aside could not be made; Write: any
// later step failed (the file aside is removed, `path` is untouched). Every step passes the
// fault hook under the name `path`.
QUORVEL_API ReplaceError ReplaceFileWhole(const char* path, const void* bytes, std::size_t size);
// remove(3): false with errno set on failure.
QUORVEL_API bool RemoveFile(const char* path);

// Creates the directory `path`; true also when a directory of that name exists already
// (a link under the name does not count).
QUORVEL_API bool MakeDirectory(const char* path);

enum class FileKind { Missing, Regular, Directory, Other };  // Other: a link, a FIFO, a device
// What `path` names, links not followed.
QUORVEL_API FileKind KindOfFile(const char* path);
// The modification time of `path` (seconds since the epoch), -1 when it cannot be read.
QUORVEL_API long long ModificationTime(const char* path);

// ---- Fault hook --------------------------------------------------------------------------
//
// Makes chosen file operations of the functions above fail, as a disk that is full, gone or
// broken would make them fail, so that tests can prove that no failure passes for success.
// A rule names an operation kind, a count N and an errno: the Nth operation of that kind
// (counted from the moment the rule is set, per rule) fails with that errno, once, or every
// operation from the Nth on. A rule may name a file: then only operations on that file
// (its path or its last component, e.g. "PROG_KOM.XML", or "." for the job directory) count.
//
// Tests set rules with Arm; a process started by a test takes them from the environment
// variable QUORVEL_FILE_FAULT, read at the first file operation of the process:
//   QUORVEL_FILE_FAULT="sync:2:EIO"                   the second sync fails with EIO
//   QUORVEL_FILE_FAULT="sync:1:EIO:PROG_KOM.XML"      the first sync of PROG_KOM.XML
//   QUORVEL_FILE_FAULT="write:3+:ENOSPC,close:1:EIO"  every write from the third on, and the
//                                                     first close
// Kinds: open, write, sync, rename, close, read. Errors: EIO, ENOSPC, EDQUOT, EROFS, EACCES,
// EPERM, EFBIG or a number. A test facility only, not a setting for installations.
enum class FileOp { Open, Write, Sync, Rename, Close, Read };

class QUORVEL_API FileFaults {
 public:
  // Adds a rule (see above); `name` null or empty counts every file.
  static void Arm(FileOp op, unsigned nth, int error, const char* name = nullptr, bool onward = false);
  // Adds the rules of a QUORVEL_FILE_FAULT text; false (nothing added) when it cannot be read.
  static bool Parse(const std::string& rules);
  // Removes every rule; the environment is not read any more in this process.
  static void Clear();
  // The errno the operation `op` on `name` must fail with, 0 when it goes on. Every call
  // counts for the rules it matches.
  static int Check(FileOp op, const char* name);
  // How many operations of kind `op` (on any file) passed the hook since the last Clear: a
  // test runs a piece of work once to learn it, then makes each of them fail in turn.
  static unsigned Count(FileOp op);
};

}  // namespace quorvel::platform
