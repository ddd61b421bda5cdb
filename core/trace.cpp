#include "core/trace.h"

#include <cstdint>
#include <cstdio>

#include "platform/clock.h"

namespace {

struct Trace {
  QuorvelTraceFn callback = nullptr;
  void* context = nullptr;
  std::uint64_t startMs = 0;
};

Trace g_trace;

}  // namespace

QUORVEL_EXPORT_C void Quorvel_setTrace(QuorvelTraceFn callback, void* context) {
  g_trace.callback = callback;
  g_trace.context = callback ? context : nullptr;
  g_trace.startMs = quorvel::platform::MonotonicMs();
}

namespace quorvel::trace {

bool On() { return g_trace.callback != nullptr; }

void Line(const char* direction, const std::string& text) {
  if (!g_trace.callback) return;
  const std::uint64_t ms = platform::MonotonicMs() - g_trace.startMs;
  char stamp[48];
  std::snprintf(stamp, sizeof stamp, "%4llu.%03llu %-4s ", static_cast<unsigned long long>(ms / 1000),
                static_cast<unsigned long long>(ms % 1000), direction ? direction : "");
  const std::string line = stamp + text;
  g_trace.callback(g_trace.context, line.c_str());
}

}  // namespace quorvel::trace
