// What `quorvel run` adds to a report whose messages alone leave a Linux user guessing: the
// report keeps the system's texts, and the terminal gets, after it, English lines that say
// what was looked at.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "host/report_view.h"

namespace quorvel::host {

// For the messages of the job's report that call for it, writes to `out`:
//  - a plug-in not found ("Nie znaleziono biblioteki DLL NAME.dll"): the file looked for, the
//    folders searched in order, and an installed plug-in of a close name ("did you mean");
//  - a serial line that could not be opened ("Błąd dostępu do portu szeregowego PORT"):
//    whether this user may not open it (and which group may), or who holds it.
// Nothing when the report calls for none of it. `plugin` is the name the run was given.
void explainReport(const std::string& plugin, const ReportView& report, std::FILE* out);

// The edit distance (insertions, deletions, substitutions) between two names.
std::size_t editDistance(const std::string& a, const std::string& b);

// Of `candidates`, the one nearest to `name` when it is near enough to be a slip of the
// keyboard (at most 2 edits, or a third of the name's length for longer names); "" otherwise.
std::string closestName(const std::string& name, const std::vector<std::string>& candidates);

}  // namespace quorvel::host
