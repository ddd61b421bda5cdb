// A scripted WinIP for the plug-in's end-to-end tests: no register behind it, only a log and a
// plan in the job directory (the current directory).
//
//   WINIP_LOG.TXT   every call appends "== NAME FILES" and the bytes EZB_IN.TXT held then;
//   WINIP_PLAN.TXT  lines "NAME RESULT [SOURCE=TARGET ...]": the first line for NAME answers
//                   its next call (and is used up): SOURCE is copied to TARGET first, then
//                   RESULT is returned. A call without a line answers 0.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string slurp(const char* path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

unsigned char call(const char* name, const char* files) {
  {
    std::ofstream log("WINIP_LOG.TXT", std::ios::binary | std::ios::app);
    log << "== " << name << " " << (files ? files : "(null)") << "\n" << slurp("EZB_IN.TXT");
  }
  std::istringstream plan(slurp("WINIP_PLAN.TXT"));
  std::vector<std::string> lines;
  std::string line, answer;
  for (bool found = false; std::getline(plan, line);) {
    if (!found && line.rfind(std::string(name) + " ", 0) == 0) {
      found = true;
      answer = line;
    } else {
      lines.push_back(line);
    }
  }
  if (answer.empty()) return 0;
  {
    std::ofstream out("WINIP_PLAN.TXT", std::ios::binary | std::ios::trunc);
    for (const auto& l : lines) out << l << "\n";
  }
  std::istringstream words(answer);
  std::string word;
  int result = 0;
  words >> word >> result;
  while (words >> word) {
    const auto eq = word.find('=');
    if (eq == std::string::npos) continue;
    std::ofstream(word.substr(eq + 1), std::ios::binary | std::ios::trunc) << slurp(word.substr(0, eq).c_str());
  }
  return static_cast<unsigned char>(result);
}

}  // namespace

#define FAKE_WINIP(NAME) \
  extern "C" __attribute__((visibility("default"))) unsigned char __##NAME(const char* files) { return call(#NAME, files); }

FAKE_WINIP(ModStart)
FAKE_WINIP(ModStop)
FAKE_WINIP(OBajty)
FAKE_WINIP(ZBPTowar)
FAKE_WINIP(ZCTowar)
FAKE_WINIP(KTowar)
FAKE_WINIP(KTBarkod)
FAKE_WINIP(KWiaz)
FAKE_WINIP(ZDBarkod)
FAKE_WINIP(ZWiaz)
FAKE_WINIP(KDBarMax)
FAKE_WINIP(KTowMax)
FAKE_WINIP(TowarMax)
FAKE_WINIP(OWiaz)
FAKE_WINIP(ODBarkod)
FAKE_WINIP(OSpOpMax)
