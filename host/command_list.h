// The commands of `quorvel` in one list: the main help's command list and the manual page's
// SYNOPSIS are both made from it, so that a new command is added in one place. Also the
// program-wide reference the main help ends with (exit status, environment, files, examples),
// which the manual page turns into sections of their own.
#pragma once

#include <cstddef>
#include <cstdio>

namespace quorvel::host {

struct CommandSynopsis {
  const char* name;      // the word after `quorvel` ("run"; "--help" for an option)
  const char* synopsis;  // what follows `quorvel`: "run PLUGIN [-C DIR] [--dry-run]"
  const char* summary;   // what it does, one sentence without a full stop (wrapped when shown)
};

// The commands in the order the help lists them.
extern const CommandSynopsis kCommandList[];
extern const std::size_t kCommandCount;

// "Commands:" and one item per command, the summary wrapped to the terminal's 80 columns.
void printCommandList(std::FILE* out);

// The headings of the program-wide reference, in the order printed; the manual page makes each
// a section of its own (EXIT STATUS, ...).
extern const char* const kReferenceHeadings[];
extern const std::size_t kReferenceHeadingCount;

// The program-wide reference, in the layout of the help texts (see printManPage).
void printGeneralReference(std::FILE* out);

}  // namespace quorvel::host
