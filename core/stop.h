// Asking a running job to stop.
//
// A host (or `quorvel run` on SIGINT, SIGTERM or SIGHUP) calls Quorvel_requestStop() at any
// moment, from any thread or from a signal handler. The job does not end there and then: the
// driver plug-in finishes the record it is working on, stops at its next safe point, ends its
// exchange with the register in order and returns, and the core completes RAPORT.XML and
// PROG_KOM.XML as usual. The report then carries an error message "Zadanie przerwane na
// żądanie: ..." saying what was done, as the job's status, and the error number is 20.
//
// Safe points of the drivers: every goods loop (sending, price change, deleting, writing an
// import) after its current record; a read-out of the register between its records. A sales
// read-out never starts clearing the register's counters once a stop was asked; a clearing
// already sent is awaited before the job stops. A stop asked before the operation starts keeps
// the plug-in's entry point from being called at all. A job that reached its end before the
// driver noticed the stop ends as it is, with a notice that the request came too late.
#pragma once

#include "platform/api.h"

// Asks the running job to stop. Only sets a flag: async-signal-safe, callable from any thread.
// The flag is cleared when the core loads the next job.
QUORVEL_EXPORT_C void Quorvel_requestStop();

// For the drivers: true once a stop was asked for this job.
QUORVEL_API bool JobStopRequested();

// For the drivers: the driver stopped its work at a safe point because a stop was asked.
// `done` says what was done, in windows-1250, e.g. "Odczyt towarów z kasy: odczytano 12
// rekordów."; the first call of a job is the one reported. Sets the error number
// to 20 (no message yet: the core adds it, last, when the operation returns) and returns 20.
QUORVEL_API int JobStopped(const char* done);

// JobStopped for a loop over goods: "<work>: obsłużono <done> z <total> towarów."
QUORVEL_API int JobStoppedAfter(const char* work, long done, long total);

// JobStopped for a sales read-out or clearing stopped before any counter was cleared:
// "liczniki sprzedaży nie zostały wyzerowane i pozostały w kasie."
QUORVEL_API int JobStoppedBeforeClearing();

namespace quorvel::core {
// Load of a job: forgets any earlier stop request.
void clearStopRequest();
// After the operation's entry point returned: reports the stop the driver noted (error message
// and status, error 20), or a notice when a stop was asked but the operation ran to its end.
void reportStop();
// A stop asked before the operation began: reports it (error message and status, error 20).
void reportStopBeforeStart();
}  // namespace quorvel::core
