// Progress of long work within a job.
//
// Sending 27,000 PLUs at 9600 bit/s takes many minutes, so the drivers report every record of
// their goods and read-out loops through QuorvelProgress, and the core hands a thinned-out
// stream of those reports to the host. Two ways, either or both:
//   - a host that runs the core in its own process sets a callback (Quorvel_setProgress);
//   - a host that only reads files asks for progress lines in a file of the job directory,
//     by the core call Quorvel_setProgressFile or, without any call, by naming the file in
//     the environment variable QUORVEL_PROGRESS_FILE before it loads the core.
// Progress never touches the result files: RAPORT.XML and PROG_KOM.XML are the same with or
// without it, and a progress file that cannot be written is simply not written.
#pragma once

#include "platform/api.h"

// The environment variable read when the core loads: a bare file name in the job directory.
#define QUORVEL_PROGRESS_FILE_VARIABLE "QUORVEL_PROGRESS_FILE"

// A host's progress callback: `done` of `total` items of the work `what` (a windows-1250 text
// such as "Przesyłanie towarów") are finished; `done` grows within one work and reaches
// `total` when the work is complete. Called on the job's thread, while Quorvel_run runs.
using QuorvelProgressFn = void (*)(void* context, long done, long total, const char* what);

// Sets the host's callback, or removes it with nullptr. Stays set until the core is unloaded.
QUORVEL_EXPORT_C void Quorvel_setProgress(QuorvelProgressFn callback, void* context);

// Asks for progress lines in the file `name` of the job directory (the current directory),
// created or truncated now; nullptr or "" stops the lines and closes the file. Each line is
// "done total what" in windows-1250, ending in CR LF, and reaches the file as it is written.
// `name` must be a bare file name and none of the exchange files (VEXA_JOB.XML, RAPORT.XML,
// PROG_KOM.XML, PROG_KOM.CFG) nor the lock file QUORVEL.LCK; an existing file of that name
// must be a regular file (a FIFO, a device or a symbolic link is refused, never waited on).
// Returns 0, or -1 when the name is refused, no job is loaded (the directory is not locked
// for this process), or the file cannot be created; no progress is written then. The file is
// closed when the core is unloaded.
QUORVEL_EXPORT_C int Quorvel_setProgressFile(const char* name);

// For the drivers: `done` of `total` items of `what` are finished. Cheap enough to call for
// every record: without a callback or a file it returns at once, and otherwise the host hears
// of the first item of every new work, of the first time a work reaches its total, and of the
// other items at most five times a second.
QUORVEL_API void QuorvelProgress(long done, long total, const char* what);

namespace quorvel::core {
// Load: opens the file named by QUORVEL_PROGRESS_FILE, if any. Unload: closes the file and
// forgets the callback.
void startProgress();
void stopProgress();
}  // namespace quorvel::core
