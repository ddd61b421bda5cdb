#include "core/str2xml.h"

#include <string>

namespace {

// The eighteen Polish letters of windows-1250: ąćęłńóśźżĄĆĘŁŃÓŚŹŻ.
bool isPolishLetter(unsigned char c) {
  switch (c) {
    case 0xB9: case 0xE6: case 0xEA: case 0xB3: case 0xF1: case 0xF3:
    case 0x9C: case 0x9F: case 0xBF: case 0xA5: case 0xC6: case 0xCA:
    case 0xA3: case 0xD1: case 0xD3: case 0x8C: case 0x8F: case 0xAF:
      return true;
    default:
      return false;
  }
}

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
