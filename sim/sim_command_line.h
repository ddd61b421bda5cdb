// The command line every simulator shares: `NAME COMMAND --state FILE [OPTIONS] [ARGUMENTS]`,
// --help anywhere, and exit status 2 for a command line it cannot take.
#pragma once

#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

namespace quorvel::sim {

struct CommandLine {
  std::string command;
  std::string state;
  std::vector<std::string> args;  // what is neither the command nor an option
};

struct CommandLineRules {
  const char* help;   // printed for --help or -h
  const char* usage;  // printed to the standard error for a bad command line
  // Options with a value (besides --state): false for a value the option does not take.
  std::map<std::string, std::function<bool(const std::string&)>> valued;
  // Options without a value.
  std::map<std::string, std::function<void()>> flags;
};

// Prints the usage lines; the exit status of a bad command line.
inline int usageError(const CommandLineRules& rules) {
  std::cerr << rules.usage;
  return 2;
}

// Reads argv into `out`. -1 when the command is to run; otherwise the exit status to end with
// (0 after --help, 2 for a bad command line). `out.state` keeps what it held when --state is
// not given.
inline int readCommandLine(int argc, char** argv, const CommandLineRules& rules, CommandLine& out) {
  if (argc < 2) return usageError(rules);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << rules.help;
      return 0;
    }
  }
  out.command = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--state") {
      if (i + 1 >= argc) return usageError(rules);
      out.state = argv[++i];
    } else if (auto v = rules.valued.find(a); v != rules.valued.end()) {
      if (i + 1 >= argc || !v->second(argv[++i])) return usageError(rules);
    } else if (auto f = rules.flags.find(a); f != rules.flags.end()) {
      f->second();
    } else {
      out.args.push_back(a);
    }
  }
  if (out.state.empty()) return usageError(rules);
  return -1;
}

}  // namespace quorvel::sim
