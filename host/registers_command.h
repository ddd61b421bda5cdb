// Commands of `quorvel` around named registers and job files the program writes itself:
//   quorvel registers [--config FILE] [--check]
//   quorvel do OPERATION PLUGIN|NAME [-C DIR] [--model ID] [--goods FILE.csv] ...
//   quorvel check|send|prices|delete|delete-all|import|sales|clear-sales PLUGIN|NAME ...
//   quorvel job new OPERATION [--goods FILE.csv] [--model ID] [-o FILE | -C DIR] [--force]
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "host/registers.h"

// `quorvel run`, carried out in this process (host/main.cpp); argv[0] is its first argument.
int runCommand(int argc, char** argv);

// argv[0] is "registers".
int runRegistersCommand(int argc, char** argv);
void printRegistersHelp(std::FILE* out);

// Whether `command` is one of the one-line operations (check, sales, ...) or "do".
bool isOperationCommand(std::string_view command);
// argv[0] is "do" (the operation follows) or the operation's alias itself.
int runOperationCommand(int argc, char** argv);
void printOperationHelp(std::FILE* out);

// argv[0] is "job".
int runJobCommand(int argc, char** argv);
void printJobHelp(std::FILE* out);

// `quorvel config NAME [-C DIR]` for a named register: prints the configuration its section
// makes (checked as 'quorvel config' checks keys) and, with DIR, writes it there as
// PROG_KOM.CFG. Settings on the command line are refused: the section holds them.
int runRegisterConfig(const quorvel::host::NamedRegister& reg, const char* directory,
                      const std::vector<std::string>& settings);
