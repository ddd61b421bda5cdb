// The signals that ask a host program's running job to stop: SIGINT (Ctrl-C), SIGTERM (kill,
// a service manager, a shutdown) and SIGHUP (the terminal or the session went away).
//
// The first of them calls the program's stop function and lets the job come to its next safe
// point, so that its result files end complete. Any further one of them ends the process at
// once: the default disposition is restored and the signal raised again, so the process ends
// as that signal ends it. A signal that was ignored when the handlers were installed (SIGHUP
// under nohup, SIGINT of a background job) stays ignored.
#pragma once

#include "platform/api.h"

namespace quorvel::platform {

// Called on the first stop signal, inside the signal handler: it must be async-signal-safe
// (set a flag, nothing more).
using StopFunction = void (*)();

// Installs the handlers. The first stop signal writes `note` (when not null) to standard error
// and calls `onStop`. Returns false when a handler could not be installed (the others stay
// installed).
QUORVEL_API bool InstallStopSignals(StopFunction onStop, const char* note = nullptr);

// True once a stop signal came since the handlers were installed.
QUORVEL_API bool StopSignalReceived();

// Puts back the dispositions found by InstallStopSignals.
QUORVEL_API void RestoreStopSignals();

}  // namespace quorvel::platform
