// Planned faults, as every simulated register keeps them: where a fault strikes, what the
// register does then, and how many more times (or always).
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

namespace quorvel::sim {

struct Fault {
  std::string where;   // the register's own names: a command, a record, an answer
  std::string action;  // the register's own names: a status, silence, a broken frame
  int count = 1;       // plays left; -1: always
};

// A fault's count as the command line and the state files write it: a whole number from `min`
// to `max`, or "always" (-1).
inline bool parseFaultCount(const std::string& text, int& count, long min = -1000000000L, long max = 1000000000L) {
  if (text == "always") {
    count = -1;
    return true;
  }
  char* end = nullptr;
  const long v = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end || v < min || v > max) return false;
  count = static_cast<int>(v);
  return true;
}

inline std::string faultCountText(int count) { return count < 0 ? std::string("always") : std::to_string(count); }

// The first fault of `faults` that `matches`; nullptr when none does.
template <class F, class Matches>
F* findFault(std::vector<F>& faults, Matches&& matches) {
  for (F& f : faults)
    if (matches(f)) return &f;
  return nullptr;
}

inline Fault* findFault(std::vector<Fault>& faults, const std::string& where) {
  return findFault(faults, [&](const Fault& f) { return f.where == where; });
}

// Uses one play of `f` (an element of `faults`): a counted fault that has none left goes.
template <class F>
void useFault(std::vector<F>& faults, F* f) {
  if (f->count > 0 && --f->count == 0) faults.erase(faults.begin() + (f - faults.data()));
}

// The command line's "fault clear" and "fault WHERE ACTION [COUNT]" (COUNT by default 1).
// False for anything else.
inline bool faultCommand(const std::vector<std::string>& args, std::vector<Fault>& faults) {
  if (args.size() == 1 && args[0] == "clear") {
    faults.clear();
    return true;
  }
  if (args.size() != 2 && args.size() != 3) return false;
  Fault f{args[0], args[1], 1};
  if (args.size() == 3 && !parseFaultCount(args[2], f.count)) return false;
  faults.push_back(f);
  return true;
}

}  // namespace quorvel::sim
