// Amounts as the simulators' command lines and state files write them.
#pragma once

#include <string_view>

namespace quorvel::sim {

// "1.5" or "-2,25" as a count of 1/scale units (scale a power of ten: 100 for money, 1000 for
// quantities). False for anything else, for more than a trillion whole units, and for digits
// finer than 1/scale, which a register's counter could not hold.
inline bool parseDecimal(std::string_view text, long long scale, long long& out) {
  bool negative = false;
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long whole = 0, frac = 0, fracScale = 1;
  bool digits = false, point = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if ((c == '.' || c == ',') && !point) {
      point = true;
      continue;
    }
    if (c < '0' || c > '9') return false;
    digits = true;
    if (!point) {
      whole = whole * 10 + (c - '0');
      if (whole > 1000000000000LL) return false;
    } else if (fracScale < scale) {
      frac = frac * 10 + (c - '0');
      fracScale *= 10;
    } else if (c != '0') {
      return false;
    }
  }
  if (!digits) return false;
  out = whole * scale + frac * (scale / fracScale);
  if (negative) out = -out;
  return true;
}

}  // namespace quorvel::sim
