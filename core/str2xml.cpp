#include "core/str2xml.h"

#include <string>

#include "platform/cp1250.h"

namespace {

// The eighteen Polish letters of windows-1250.
bool isPolishLetter(unsigned char c) { return quorvel::cp1250::polishLetterIndex(c) >= 0; }

std::string g_result;

}  // namespace

const char* str2xml(const char* text) {
  g_result.clear();
  if (!text) return g_result.c_str();
  for (const char* p = text; *p; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    switch (c) {
      case '"': g_result += "&quot;"; break;
      case '&': g_result += "&amp;"; break;
      case '\'': g_result += "&apos;"; break;
      case '<': g_result += "&lt;"; break;
      case '>': g_result += "&gt;"; break;
      case '\t': case '\n': case '\r': g_result += *p; break;
      default:
        if (c < 0x20 || (c >= 0x80 && !isPolishLetter(c)))
          g_result += '_';
        else
          g_result += *p;
    }
  }
  return g_result.c_str();
}
