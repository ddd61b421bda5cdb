// `quorvel demo`: tours of the drivers against their simulated registers.
#pragma once

#include <cstdio>

// The help of `quorvel demo`: its tours, options, where the simulators come from, exit status.
void printDemoHelp(std::FILE* out);

// argv[0] is "demo". Arguments: the tours to run by name (default: all, in order; each then
// runs in DIR/<name>), -C DIR (the job directory; default a fresh one under /tmp), --model N
// (the register model of a tour that has several; Elcom 1 to 7, default 1). A tour starts its
// simulated register, writes PROG_KOM.CFG with `quorvel config` and runs its jobs one after the
// other with `quorvel run`, showing each report and the data read back. Exit statuses as
// printDemoHelp lists them.
int runDemoCommand(int argc, char** argv);
