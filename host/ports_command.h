// `quorvel ports`: the serial lines of this machine, to find the port to configure.
#pragma once

#include <cstdio>

// argv[0] is "ports". Prints one block per serial line to `out`: the device, the name to
// write in the configuration, its stable /dev/serial/by-id names, whether this user may open
// it (and if not, the group to join), and which other processes hold it. Exit status: 0, or
// 64 for a bad command line.
int runPortsCommand(int argc, char** argv, std::FILE* out = stdout);

// The help text of `quorvel ports`.
void printPortsHelp(std::FILE* out);
