// The command line every simulator shares: `NAME COMMAND --state FILE [OPTIONS] [ARGUMENTS]`,
// --help and --version anywhere, and exit status 2 for a command line it cannot take: an
// unknown option, or an option the command does not use, is refused, never ignored.
#pragma once

#include <cctype>
#include <cstring>
#include <functional>
#include <iostream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "quorvel_version.h"

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
  // Options a command reads itself: kept among the arguments, in their place.
  std::set<std::string> kept;
  // The commands an option serves, blank separated ("init serve"); an option not named here
  // serves every command.
  std::map<std::string, std::string> onlyFor;
};

// The program's name as it was started, without its folder.
inline std::string programName(const char* argv0) {
  const char* slash = std::strrchr(argv0, '/');
  return slash ? slash + 1 : argv0;
}

// Prints the usage lines; the exit status of a bad command line.
inline int usageError(const CommandLineRules& rules) {
  std::cerr << rules.usage;
  return 2;
}

// A word that is an option rather than an argument: "-x" or "--xyz", not "-1.5".
inline bool looksLikeOption(const std::string& word) {
  return word.size() > 1 && word[0] == '-' && !std::isdigit(static_cast<unsigned char>(word[1])) && word[1] != '.';
}

// Reads argv into `out`. -1 when the command is to run; otherwise the exit status to end with
// (0 after --help or --version, 2 for a bad command line). `out.state` keeps what it held when
// --state is not given.
inline int readCommandLine(int argc, char** argv, const CommandLineRules& rules, CommandLine& out) {
  const std::string name = programName(argv[0]);
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::cout << rules.help;
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << name << ' ' << QUORVEL_VERSION << '\n';
      return 0;
    }
  }
  if (argc < 2) return usageError(rules);
  out.command = argv[1];
  if (looksLikeOption(out.command)) {
    std::cerr << name << ": the command comes first, before the option " << out.command << "\n";
    return usageError(rules);
  }
  std::vector<std::string> given;
  for (int i = 2; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--state") {
      if (i + 1 >= argc) return usageError(rules);
      out.state = argv[++i];
      continue;
    }
    if (auto v = rules.valued.find(a); v != rules.valued.end()) {
      if (i + 1 >= argc || !v->second(argv[++i])) return usageError(rules);
    } else if (auto f = rules.flags.find(a); f != rules.flags.end()) {
      f->second();
    } else if (rules.kept.count(a) != 0) {
      out.args.push_back(a);
    } else if (looksLikeOption(a)) {
      std::cerr << name << ": unknown option " << a << "\n";
      return usageError(rules);
    } else {
      out.args.push_back(a);
      continue;
    }
    given.push_back(a);
  }
  for (const std::string& option : given) {
    const auto only = rules.onlyFor.find(option);
    if (only == rules.onlyFor.end()) continue;
    if ((" " + only->second + " ").find(" " + out.command + " ") != std::string::npos) continue;
    std::string commands = only->second;
    for (std::size_t at = commands.find(' '); at != std::string::npos; at = commands.find(' ', at + 2))
      commands.replace(at, 1, ", ");
    std::cerr << name << ": " << option << " is not used by the command " << out.command << " (only by "
              << commands << ")\n";
    return usageError(rules);
  }
  if (out.state.empty()) return usageError(rules);
  return -1;
}

}  // namespace quorvel::sim
