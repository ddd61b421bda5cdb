#include "drivers/posnet/binding.h"

#include <string>

#include "core/error_state.h"
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
  g_api = api;
  g_table = &g_api;
  return 0;
}

void releaseLibraries() {
  g_table = nullptr;
  g_api = Api{};
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
