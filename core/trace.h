// A readable trace of a job's traffic with the register, for a person watching a job run.
//
// A host that wants it sets a line callback (Quorvel_setTrace) before Quorvel_run; the serial
// line (core/serial/rs232.h) then hands over every frame sent and received, and the drivers'
// bindings every call into a vendor library, each as one line: the time since the trace was
// set ("  12.345", seconds and milliseconds), the direction (">" sent to the register, "<"
// received from it, "call" and "ret" around a vendor library call) and a short decoding.
// Without a callback nothing is formatted: the serial line asks once, when it opens.
#pragma once

#include <string>

#include "platform/api.h"

// A host's trace callback: one line (windows-1250, no line end). Called on the job's thread.
using QuorvelTraceFn = void (*)(void* context, const char* line);

// Sets the host's callback, or removes it with nullptr; the time stamps count from this call.
QUORVEL_EXPORT_C void Quorvel_setTrace(QuorvelTraceFn callback, void* context);

namespace quorvel::trace {

// Whether a host listens.
QUORVEL_API bool On();
// Sends one line: the time stamp, `direction` ("<", ">", "call", "ret", or "" for a note)
// padded to four columns, then `text` (windows-1250). Nothing without a callback.
QUORVEL_API void Line(const char* direction, const std::string& text);

}  // namespace quorvel::trace
