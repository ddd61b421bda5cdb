// `quorvel config PLUGIN [-C DIR] [KEY=VALUE...]`: a plug-in's PROG_KOM.CFG without its form.
#pragma once

#include <cstdio>

// The text of `quorvel config --help`, also a section of the manual page.
void printConfigHelp(std::FILE* out);

// argv[0] is "config". Loads the plug-in outside any job and calls its quorvel_config_text
// (core/plugin_contract.h) in DIR: with no settings it prints the configuration as
// `key = value` lines, with settings it changes and saves them and prints the result. Texts
// are UTF-8 on the terminal. Exit status: 0 done; 2 when the plug-in could not be loaded or
// PROG_KOM.CFG could not be read or written; 64 for a bad command line, an unknown key or a refused value (file untouched).
int runConfigCommand(int argc, char** argv);
