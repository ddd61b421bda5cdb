// What `quorvel --help` tells about writing a job, and the manual page made from the help.
#pragma once

#include <cstdio>
#include <initializer_list>

namespace quorvel::host {

// The job reference of the main help: the operations by their exact job-file names with what
// each does, the models each driver accepts (idModelu), a small job file, the statuses of a
// finished job, and how other hosts see progress.
void printJobReference(std::FILE* out);

// Writes the manual page quorvel(1) in roff, made from the help texts themselves, so that the
// two cannot drift apart. `helps` print the help of the program and of its commands; the first
// line of each is its "Usage: ..." line. Layout rules of the help texts that become roff:
// a line ending in ':' after a blank line is a subheading; a line indented by two blanks is
// an item, its term parted from its description by two or more blanks, continued by the
// deeper indented lines after it; a block indented by four blanks after a blank line is kept
// as it is (examples); any other line is running text. Returns 0.
using HelpPrinter = void (*)(std::FILE*);
int printManPage(std::FILE* out, std::initializer_list<HelpPrinter> helps);

}  // namespace quorvel::host
