// `quorvel run -v`: the job's trace (core/trace.h) printed as it happens, one line per frame
// or vendor library call, in UTF-8.
#pragma once

#include <cstdio>

namespace quorvel::platform {
struct Module;
}

namespace quorvel::host {

// Gives the loaded core a trace callback printing on `out` (a core without Quorvel_setTrace is
// left alone: false).
bool connectTrace(quorvel::platform::Module* core, std::FILE* out);

}  // namespace quorvel::host
