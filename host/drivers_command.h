// `quorvel drivers [PLUGIN]`: the driver plug-ins found and what each tells about itself.
#pragma once

#include <cstdio>

// The help text of `quorvel drivers`, also a section of the manual page.
void printDriversHelp(std::FILE* out);

// argv[0] is "drivers". Prints, from the description each plug-in exports, every plug-in
// found (or the one named): its file, its models with their limits, and its configuration
// keys with their values and defaults. Exit status: 0; 1 when no plug-in (or not the one
// named) was found; 64 for a bad command line.
int runDriversCommand(int argc, char** argv, std::FILE* out = stdout);
