// The history of a job directory: the result files of earlier jobs, and files drivers keep.
//
// Before a job replaces RAPORT.XML and PROG_KOM.XML, the core moves the previous pair into a
// folder of its own below HISTORIA in the job directory, named by that job's start time and
// operation (Polish letters replaced by plain ones), e.g.
//
//   HISTORIA/20240512-101530-OdbiorSprzedazy/RAPORT.XML
//   HISTORIA/20240512-101530-OdbiorSprzedazy/PROG_KOM.XML
//   HISTORIA/20240512-101530-OdbiorSprzedazy/ZADANIE.TXT      start, operation, job number
//
// A second job of the same second and operation gets "-2" after the name, a third "-3", and
// so on. Each job's folder is made when the job's operation is known (at load), so that a
// driver can keep files of the running job in it; HISTORIA/BIEZACE.TXT names the folder of the
// job whose result files lie in the job directory. Moves are renames, made durable (the
// folder and the job directory are synced). The host-facing files stay where they are.
//
// Kept: the last 20 jobs; every sales read-out (OdbiórSprzedaży, UsuwanieSprzedaży) that did
// not end with a status other than E, until a later read-out does; and every folder holding
// the marker file SPRZEDAZ_NIEDOSTARCZONA.TXT, which is never removed automatically: its files
// hold sales that the register has already cleared and that no report delivered. The core
// removes the marker of a job that ends with a status other than E, both result files on the
// disk. Everything else is removed, oldest first.
//
// The functions below are exported for driver plug-ins; paths are relative to the job
// directory (the current directory) and texts windows-1250.
#pragma once

#include <string>

#include "platform/api.h"

inline constexpr const char* kHistoryDir = "HISTORIA";
inline constexpr const char* kUndeliveredSalesMarker = "SPRZEDAZ_NIEDOSTARCZONA.TXT";

// Moves the file `name` of the job directory, left there by an EARLIER job, into that job's
// history folder: the newest folder of a job that started before the file was last written
// (a folder of its own, named by the file's time and "Nieznane", when there is none). A file
// of the same name already kept there with other bytes is kept beside it under a numbered
// name. Returns the kept file's path ("HISTORIA/<folder>/<name>"); "" when `name` is no
// regular file or it could not be moved (then it stays where it is, untouched).
QUORVEL_API std::string HistoryKeepEarlierFile(const char* name);

// Keeps the file `name` of THIS job in this job's own history folder, where its result files
// will join it when the next job starts: a copy (`move` false; the file stays for the job to
// read) or the file itself (`move` true). The kept file is on the disk when the call returns.
// With `undeliveredSales` the folder is marked as holding sales the register has cleared and
// no report has delivered yet (the marker lists the file); the core drops the mark when this
// job ends with a status other than E. Returns the kept file's path ("HISTORIA/<folder>/
// <name>"); "" when nothing could be kept (no history in this job directory, no such file, a
// write or sync failed).
QUORVEL_API std::string HistoryKeepJobFile(const char* name, bool move, bool undeliveredSales);

// This job's history folder ("HISTORIA/<folder>"), "" before it is made or without a history.
QUORVEL_API std::string HistoryJobFolder();

namespace quorvel::core {

// At the start of a job (the directory locked, RAPORT.XML not yet opened): moves the previous
// job's RAPORT.XML and PROG_KOM.XML (regular files only) into its history folder and prunes
// the history. False when result files of an earlier job are there and could not be moved:
// the job must not replace them (`why` says so, windows-1250).
bool historyBeginJob(std::string& why);
// A warning for the new report when the previous job was a sales read-out cut off before its
// end (RAPORT.XML without its status block), naming the kept files; "" otherwise.
const std::string& historyNotice();
// The job's own folder, once its operation is known (read from the job, or the load refused).
void historyReserveFolder(const std::string& operacja);
// At the end of the job: when it delivered its result (status other than E, both files on the
// disk), the marker of undelivered sales of its folder goes.
void historyEndJob(bool delivered);

}  // namespace quorvel::core
