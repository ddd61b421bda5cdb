#include "drivers/elzab/binding.h"

#include <cstdio>
#include <string>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/records.h"
#include "core/trace.h"
#include "core/xml/raport_xml.h"
#include "drivers/elzab/link.h"
#include "platform/cp1250.h"
#include "platform/module.h"

namespace quorvel::elzab {

namespace {

struct FunctionRow {
  const char* name;
  bool withOutput;   // the list names EZB_OUT.TXT too
  bool reportsNak;
};

constexpr FunctionRow kFunctions[kWinIPFunctionCount] = {
    {"ModStart", false, true}, {"ModStop", false, true},   {"OBajty", true, true},    {"ZBPTowar", true, false},
    {"ZCTowar", false, false}, {"KTowar", false, false},   {"KTBarkod", false, false}, {"KWiaz", false, false},
    {"ZDBarkod", true, false}, {"ZWiaz", false, false},    {"KDBarMax", false, false}, {"KTowMax", false, true},
    {"TowarMax", true, true},  {"OWiaz", true, false},     {"ODBarkod", true, false},  {"OSpOpMax", false, true},
};

const FunctionRow& row(WinIP f) { return kFunctions[static_cast<int>(f)]; }

struct ResultRow {
  int code;
  const char* text;
};

// The library's results and what they mean, as WinIP documents them (plain ASCII).
constexpr ResultRow kResults[] = {
#include "drivers/elzab/winip_results.inc"
};
static_assert(sizeof kResults / sizeof kResults[0] == 107);

}  // namespace

const char* winIPName(WinIP f) { return row(f).name; }

const char* winIPFileList(WinIP f) {
  return row(f).withOutput ? "EZB_IN.TXT;EZB_OUT.TXT;SKONFIG.TXT" : "EZB_IN.TXT;SKONFIG.TXT";
}

bool winIPReportsNak(WinIP f) { return row(f).reportsNak; }

const char* winIPTableText(int code) {
  for (const ResultRow& r : kResults)
    if (r.code == code) return r.text;
  return nullptr;
}

std::string winIPResultText(int code) {
  char head[32];
  const char* text = winIPTableText(code);
  std::snprintf(head, sizeof head, text ? "Błąd nr %d: "_cp : "Błąd nr %d"_cp, code);
  return text ? head + std::string(text) : std::string(head);
}

bool loadWinIP() {
  Link& l = link();
  if (l.winip) return true;
  l.winip = platform::LoadModuleAnyOf({"libWinIP.so", "WinIP.so"});
  if (l.winip) return true;
  std::string text = "Nie znaleziono biblioteki WinIP.dll.";
  std::string note = platform::LastModuleSearchNote();
  if (!note.empty()) {
    note[0] = 'S';  // "szukano ...", a sentence of its own here
    text += " " + note + ".";
  }
  SetError(text.c_str());
  return false;
}

void releaseWinIP() {
  Link& l = link();
  platform::ReleaseModule(l.winip);
  l.winip = nullptr;
}

bool winIPLoaded() { return link().winip != nullptr; }

std::uint8_t lastWinIPResult() { return link().lastResult; }

void setGoodsInWork(const CTowar* towar) {
  Link& l = link();
  if (towar && !towar->Id_brak)
    l.goodsInWork = towar->Id;
  else
    l.goodsInWork.reset();
}

int reportWinIPResult(std::uint8_t code) {
  const std::string text = winIPResultText(code);
  CKomunikat k(code < 100 ? "E" : "W", text.c_str(), 0, true);
  if (const auto& id = link().goodsInWork) k.DodajTowar(*id);
  if (raport) raport->DodajKomunikat(k);
  return SetErrorNum(code);
}

int callWinIP(WinIP f) {
  Link& l = link();
  if (!l.winip) return GetErrorNum();
  const std::string exported = std::string("__") + winIPName(f);
  const auto fn = reinterpret_cast<WinIPFunction>(platform::FindSymbol(l.winip, exported.c_str()));
  if (!fn) {
    char text[160];
    std::snprintf(text, sizeof text, "Nie znaleziono funkcji '%s' w bibliotece WinIP.dll.", winIPName(f));
    return SetError(text);
  }
  const bool traced = trace::On();
  if (traced) trace::Line("call", std::string("WinIP ") + winIPName(f) + "(\"" + winIPFileList(f) + "\")");
  const std::uint8_t result = fn(winIPFileList(f));
  if (traced) {
    const char* meaning = winIPTableText(result);
    trace::Line("ret", std::string(winIPName(f)) + " = " + std::to_string(result) +
                           (result != 0 && meaning ? std::string(" \"") + meaning + "\"" : std::string()));
  }
  l.lastResult = result;
  if (result == 0) return GetErrorNum();
  if ((result == 24 || result == 25) && !winIPReportsNak(f)) return GetErrorNum();
  return reportWinIPResult(result);
}

}  // namespace quorvel::elzab
