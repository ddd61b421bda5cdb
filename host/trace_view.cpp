#include "host/trace_view.h"

#include <string>

#include "platform/cp1250.h"
#include "platform/module.h"

namespace quorvel::host {

namespace {

void printTraceLine(void* context, const char* line) {
  auto* out = static_cast<std::FILE*>(context);
  std::fprintf(out, "%s\n", quorvel::cp1250::toUtf8(line).c_str());
  std::fflush(out);
}

}  // namespace

bool connectTrace(quorvel::platform::Module* core, std::FILE* out) {
  using SetTraceFn = void (*)(void (*)(void*, const char*), void*);
  auto set = reinterpret_cast<SetTraceFn>(quorvel::platform::FindSymbol(core, "Quorvel_setTrace"));
  if (!set) return false;
  set(printTraceLine, out);
  return true;
}

}  // namespace quorvel::host
