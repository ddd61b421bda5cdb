// `quorvel report [DIR]`: shows the result files of the last job in a job directory.
#pragma once

#include <cstdio>

// argv[0] is "report"; argv[1], when given, the job directory (default: the current one).
// Prints RAPORT.XML (messages and final status) and PROG_KOM.XML (one line per record) in
// UTF-8, converted from their windows-1250, and warns when the job's status is E, whose
// device data must not be taken over. Exit status: 0 when both files were read whole, 2 when
// either is missing, unreadable or cut short, 64 for a bad command line.
int runReportCommand(int argc, char** argv);

// The help text of `quorvel report`.
void printReportHelp(std::FILE* out);
