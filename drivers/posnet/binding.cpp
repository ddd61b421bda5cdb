#include "drivers/posnet/binding.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>

#include "core/error_state.h"
#include "core/trace.h"
#include "drivers/posnet/status.h"
#include "platform/module.h"

namespace quorvel::posnet {

namespace {

platform::ModuleRef g_posnet;
platform::ModuleRef g_hlapi;
Api g_api;
const Api* g_table = nullptr;

int missingLibrary(const char* library) {
  std::string text = "Nie znaleziono biblioteki " + std::string(library) + ".";
  std::string note = platform::LastModuleSearchNote();
  if (!note.empty()) {
    note[0] = 'S';  // "szukano ...", a sentence of its own here
    text += " " + note + ".";
  }
  return SetError(text.c_str());
}

// Looks up `name` in `module`; a missing function is reported once (the first one).
template <class Fn>
void lookUp(const platform::ModuleRef& module, const char* library, const char* name, Fn& slot, bool& ok) {
  slot = module.symbol<Fn>(name);
  if (!slot && ok) {
    ok = false;
    SetError(("Nie znaleziono funkcji '" + std::string(name) + "' w bibliotece " + library + ".").c_str());
  }
}

// ---- The trace of the calls ----------------------------------------------------------------
//
// With a trace listening when the libraries are bound, every slot of the table holds a wrapper
// that tells the call and its arguments, calls the library's own function (kept in g_library)
// and tells its result and what it wrote into the caller's buffers. Without a trace the table
// holds the library's functions themselves.

Api g_library;

// The size of the `ordinal`-th text buffer a POSG_ function fills (posnet_api.h), so that a
// buffer the library left without its terminator is never read past its end.
std::size_t resultTextSize(const char* function, int ordinal) {
  static const struct {
    const char* function;
    std::size_t sizes[5];
  } kBuffers[] = {
      {"POSG_PLURead", {POSNET_NAME_SIZE, POSNET_BARCODE_SIZE, POSNET_NUMBER_SIZE, POSNET_NUMBER_SIZE, POSNET_BARCODE_LIST_SIZE}},
      {"POSG_PackRead", {POSNET_NAME_SIZE, POSNET_BARCODE_SIZE, POSNET_NUMBER_SIZE, POSNET_NUMBER_SIZE, 0}},
      {"POSG_PLUStatRead", {POSNET_NUMBER_SIZE, POSNET_NUMBER_SIZE, POSNET_AUX_TEXT_SIZE, 0, 0}},
      {"POSG_PackStatRead", {POSNET_NUMBER_SIZE, POSNET_NUMBER_SIZE, POSNET_NUMBER_SIZE, POSNET_NUMBER_SIZE, 0}},
  };
  for (const auto& b : kBuffers)
    if (std::strcmp(b.function, function) == 0 && ordinal < 5 && b.sizes[ordinal] != 0) return b.sizes[ordinal];
  return POSNET_BARCODE_SIZE;  // the smallest of them
}

// A text shown quoted, line feeds as "\n", cut after 60 bytes.
std::string quoted(const char* text, std::size_t size) {
  if (!text) return "null";
  std::string out = "\"";
  for (std::size_t i = 0; i < size && text[i] != '\0'; ++i) {
    if (i == 60) return out + "...\"";
    out += text[i] == '\n' ? std::string("\\n") : std::string(1, text[i]);
  }
  return out + "\"";
}

// One argument in the call's line (inputs) or in the result's line (what the library wrote).
struct Shown {
  const char* function;
  std::string inputs, outputs;
  int texts = 0;

  void add(std::string& to, const std::string& what) { to += (to.empty() ? "" : ", ") + what; }
  void input(std::uint32_t v) { add(inputs, std::to_string(v)); }
  void input(std::int32_t v) { add(inputs, std::to_string(v)); }
  void input(std::uint8_t v) { add(inputs, std::to_string(v)); }
  void input(const char* v) { add(inputs, quoted(v, static_cast<std::size_t>(-1))); }
  void input(POSNET_HANDLE v) { add(inputs, v ? "handle" : "null"); }
  void input(POSNET_DEVICE v) { add(inputs, v ? "device" : "null"); }
  void input(POSNET_REQUEST v) { add(inputs, v ? "request" : "null"); }
  void input(POSNET_REQUEST*) {}
  void input(char*) {}
  void input(std::uint8_t*) {}
  void input(std::uint16_t*) {}
  template <class T>
  void output(T) {}
  void output(char* v) { add(outputs, quoted(v, resultTextSize(function, texts++))); }
  void output(std::uint8_t* v) { add(outputs, v ? std::to_string(*v) : "null"); }
  void output(std::uint16_t* v) { add(outputs, v ? std::to_string(*v) : "null"); }
};

std::string shownResult(std::uint32_t status) {
  if (status == 0) return "0";
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%X", status);
  return hex + (" \"" + statusText(status) + "\"");
}
std::string shownResult(const void* object) { return object ? "ok" : "null"; }

template <auto Slot, const char* Name, class Fn>
struct Traced;

template <auto Slot, const char* Name, class R, class... A>
struct Traced<Slot, Name, R (*)(A...)> {
  static R call(A... args) {
    Shown shown{Name, {}, {}};
    (shown.input(args), ...);
    trace::Line("call", std::string(Name) + "(" + shown.inputs + ")");
    if constexpr (std::is_void_v<R>) {
      (g_library.*Slot)(args...);
      trace::Line("ret", Name);
    } else {
      const R result = (g_library.*Slot)(args...);
      // The caller's buffers hold a result only after a call that succeeded.
      if constexpr (std::is_same_v<R, std::uint32_t>)
        if (result == 0) (shown.output(args), ...);
      trace::Line("ret", std::string(Name) + " = " + shownResult(result) +
                             (shown.outputs.empty() ? "" : " -> " + shown.outputs));
      return result;
    }
  }
};

#define QUORVEL_POSNET_NAME(name) constexpr char kName_##name[] = #name;
POSNET_LIBPOSNET_FUNCTIONS(QUORVEL_POSNET_NAME)
POSNET_LIBPOSNET_OPTIONAL(QUORVEL_POSNET_NAME)
POSNET_LIBHLAPI_FUNCTIONS(QUORVEL_POSNET_NAME)
#undef QUORVEL_POSNET_NAME

// The table of wrappers around `library`'s functions (a missing optional one stays missing).
Api tracedTable(const Api& library) {
  g_library = library;
  Api t;
#define QUORVEL_POSNET_TRACED(name) \
  t.name = library.name ? &Traced<&Api::name, kName_##name, name##_fn>::call : nullptr;
  POSNET_LIBPOSNET_FUNCTIONS(QUORVEL_POSNET_TRACED)
  POSNET_LIBPOSNET_OPTIONAL(QUORVEL_POSNET_TRACED)
  POSNET_LIBHLAPI_FUNCTIONS(QUORVEL_POSNET_TRACED)
#undef QUORVEL_POSNET_TRACED
  return t;
}

}  // namespace

int bindLibraries() {
  if (g_table) return 0;
  platform::ModuleRef posnet(platform::LoadModule(kLibposnet));
  if (!posnet) return missingLibrary(kLibposnet);
  platform::ModuleRef hlapi(platform::LoadModule(kLibhlapi));
  if (!hlapi) return missingLibrary(kLibhlapi);
  Api api;
  bool ok = true;
#define QUORVEL_POSNET_LOOKUP_POS(name) lookUp(posnet, kLibposnet, #name, api.name, ok);
#define QUORVEL_POSNET_LOOKUP_HL(name) lookUp(hlapi, kLibhlapi, #name, api.name, ok);
  POSNET_LIBPOSNET_FUNCTIONS(QUORVEL_POSNET_LOOKUP_POS)
  POSNET_LIBHLAPI_FUNCTIONS(QUORVEL_POSNET_LOOKUP_HL)
#define QUORVEL_POSNET_LOOKUP_OPTIONAL(name) api.name = posnet.symbol<name##_fn>(#name);
  POSNET_LIBPOSNET_OPTIONAL(QUORVEL_POSNET_LOOKUP_OPTIONAL)
#undef QUORVEL_POSNET_LOOKUP_OPTIONAL
#undef QUORVEL_POSNET_LOOKUP_POS
#undef QUORVEL_POSNET_LOOKUP_HL
  if (!ok) return GetErrorNum();
  g_posnet = std::move(posnet);
  g_hlapi = std::move(hlapi);
  g_api = trace::On() ? tracedTable(api) : api;
  g_table = &g_api;
  return 0;
}

void releaseLibraries() {
  g_table = nullptr;
  g_api = Api{};
  g_library = Api{};
  // libhlapi works on libposnet's devices: it goes first.
  g_hlapi.reset();
  g_posnet.reset();
}

bool librariesBound() { return g_table != nullptr; }

const Api& api() { return *g_table; }

void setApiForTests(const Api* table) {
  releaseLibraries();
  g_table = table;
}

}  // namespace quorvel::posnet
