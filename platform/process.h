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

// Runs `command` through the shell (std::system) and returns its exit status; -1 when it did
// not exit by itself (a signal) or the shell could not be started.
QUORVEL_API int RunShellCommand(const std::string& command);

using ProcessId = long;

// Starts the program argv[0] (a path) with the arguments argv, its standard output sent to
// /dev/null, and returns its process id; -1 when it cannot be started. A program that cannot
// be run ends at once with exit status 127.
QUORVEL_API ProcessId StartBackgroundProcess(const std::vector<std::string>& argv);

// Runs the program argv[0] (a path) with the arguments argv, sharing this program's standard
// streams, and waits for its end; its exit status, -1 when it did not exit by itself or could
// not be started (a program that cannot be run ends with 127).
QUORVEL_API int RunProgramAndWait(const std::vector<std::string>& argv);
// The path of the running program (/proc/self/exe), "" when it cannot be read.
QUORVEL_API std::string ExecutablePath();
// Asks the process to end (SIGTERM) and waits for its end; -1 and 0 are ignored.
QUORVEL_API void StopProcess(ProcessId pid);

}  // namespace quorvel::platform
