// `quorvel detect [PLUGIN...] [--port PORT...] [--tcp ADDRESS...]`: which register answers
// where, found with each driver's own connection check.
#pragma once

#include <cstdio>

// The help text of `quorvel detect`, also a section of the manual page.
void printDetectHelp(std::FILE* out);

// argv[0] is "detect". Probes the serial lines (those `quorvel ports` lists, or the --port
// ones) at every speed each driver plug-in offers, and the --tcp addresses, through each
// plug-in's quorvel_probe (core/plugin_contract.h), and prints what answered with a ready
// `quorvel config` line. Exit status: 0 something answered, 1 nothing did (or no plug-in was
// found), 64 a bad command line.
int runDetectCommand(int argc, char** argv);
