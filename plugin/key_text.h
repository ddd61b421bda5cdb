// How a value of a configuration key is read from text, where the plug-in frame and the
// program's own check of a plug-in's keys must agree: the words of a check box and names
// compared without regard to the case of their ASCII letters. Header only, so that the program
// uses them without linking the plug-in frame.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel::plugin {

// True when `a` and `b` are equal but for the case of their ASCII letters.
inline bool sameNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]);
    const auto y = static_cast<unsigned char>(b[i]);
    if ((x >= 'A' && x <= 'Z' ? x + 32 : x) != (y >= 'A' && y <= 'Z' ? y + 32 : y)) return false;
  }
  return true;
}

// A check box as text: yes, on, true, 1 or no, off, false, 0 (any case); nullopt otherwise.
inline std::optional<bool> parseSwitch(std::string_view text) {
  for (const char* yes : {"yes", "on", "true", "1"})
    if (sameNoCase(text, yes)) return true;
  for (const char* no : {"no", "off", "false", "0"})
    if (sameNoCase(text, no)) return false;
  return std::nullopt;
}

// A refused value of `key`, for the terminal: an English line naming the key, then the reason
// on a line of its own, indented, whole as given (a form's message is the system's Polish
// text, which no English sentence takes inside itself).
inline std::string refusedValue(std::string_view key, std::string_view why) {
  return "the value of " + std::string(key) + " is refused:\n    " + std::string(why);
}

}  // namespace quorvel::plugin
