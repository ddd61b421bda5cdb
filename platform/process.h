// What the host program asks of the system besides the job's files: the current directory,
// whether a file can be used, directories of its own, other programs it starts and stops, and
// its environment and terminal.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/api.h"

namespace quorvel::platform {

// chdir(2): false with errno set on failure.
QUORVEL_API bool ChangeDirectory(const char* path);

// getcwd(3): the current directory as an absolute path; "" with errno set on failure.
QUORVEL_API std::string CurrentDirectory();

// access(2) with F_OK, R_OK and X_OK: whether `path` exists, can be read, can be run.
QUORVEL_API bool FileExists(const char* path);
QUORVEL_API bool FileReadable(const char* path);
QUORVEL_API bool FileExecutable(const char* path);

// Waits until `path` exists, looking every 20 ms, at most `timeoutMs`.
QUORVEL_API void WaitForFile(const char* path, unsigned timeoutMs);

// mkdir(2) of `path`; true also when anything of that name exists already (errno EEXIST),
// unlike MakeDirectory, so that a link to a directory is taken as the directory. False with
// errno set otherwise.
QUORVEL_API bool EnsureDirectory(const char* path);

// mkdtemp(3): a new directory named `pattern` with its trailing "XXXXXX" made unique; its
// name, or "" with errno set on failure.
QUORVEL_API std::string MakeTemporaryDirectory(const std::string& pattern);

// Removes `path` and everything below it, links not followed (a link is removed, never what it
// names); true when nothing of that name is left.
QUORVEL_API bool RemoveDirectoryTree(const std::string& path);

// close(2) of a descriptor handed out by the platform (JobDirectoryLock::Share); -1 is ignored.
QUORVEL_API void CloseDescriptor(int fd);

// setenv(3), replacing any value; false on failure.
QUORVEL_API bool SetEnvironmentVariable(const char* name, const char* value);

// True when the stream writes to a terminal.
QUORVEL_API bool IsTerminal(std::FILE* stream);

// Runs `command` through /bin/sh as a child of this program and returns its exit status; -1
// when it did not exit by itself (a signal) or could not be started. Unlike std::system it
// leaves this program's signals as they are, so a stop signal reaches its handler while the
// command runs. The command runs like a background process (below): in a process group of its
// own, ended with this program, reached by SignalChildProcesses; its standard input is
// /dev/null.
QUORVEL_API int RunShellCommand(const std::string& command);

// Runs the program argv[0] (a path) with the arguments argv as RunShellCommand runs a command,
// without a shell between, so that the parent-death signal reaches the program itself; its
// exit status, or -1 as there.
QUORVEL_API int RunProgram(const std::vector<std::string>& argv);

using ProcessId = long;

// Starts the program argv[0] (a path) with the arguments argv, its standard input read from and
// its standard output sent to /dev/null, and returns its process id; -1 when it cannot be
// started. A program that cannot be run ends at once with exit status 127.
//
// The program runs in a process group of its own, so that a Ctrl-C at the terminal reaches this
// program alone, which decides what its children do; and it ends when this program ends, however
// that happens (Linux: the parent-death signal SIGTERM). It starts with SIGPIPE at its default
// whatever this program does with it.
QUORVEL_API ProcessId StartBackgroundProcess(const std::vector<std::string>& argv);

// Runs the program argv[0] (a path) with the arguments argv, sharing this program's standard
// streams, and waits for its end; its exit status, -1 when it did not exit by itself or could
// not be started (a program that cannot be run ends with 127).
QUORVEL_API int RunProgramAndWait(const std::vector<std::string>& argv);
// Asks the process and its process group to end (SIGTERM) and waits for its end; after two
// seconds it is killed (SIGKILL). -1 and 0 are ignored.
QUORVEL_API void StopProcess(ProcessId pid);

// Sends SIGTERM to the process group of every background process started and not yet stopped,
// and of the shell command running now. Async-signal-safe: meant for a stop-signal handler.
QUORVEL_API void SignalChildProcesses();

// Makes a write to a closed pipe or socket fail with EPIPE instead of ending this program
// (SIGPIPE ignored), so that the program can stop its children first. Children started by the
// functions above get the default back.
QUORVEL_API void IgnoreBrokenPipe();

}  // namespace quorvel::platform
