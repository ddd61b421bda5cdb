// Code pages, text conversions and the strict scalar parsers of the job file.
#include "core/encoding.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "core/error_state.h"
#include "platform/cp1250.h"
#include "platform/ui.h"

namespace {

const char* orEmpty(const char* s) { return s ? s : ""; }

// Position of c among the first count characters of s; -1 when absent.
int indexIn(const std::string& s, char c, std::size_t count) {
  const std::size_t end = std::min(count, s.size());
  for (std::size_t i = 0; i < end; ++i)
    if (s[i] == c) return static_cast<int>(i);
  return -1;
}

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string trimmed(const char* text) {
  const char* b = orEmpty(text);
  const char* e = b + std::strlen(b);
  while (b < e && isSpace(*b)) ++b;
  while (e > b && isSpace(e[-1])) --e;
  return std::string(b, e);
}

std::size_t limitOf(int n) { return n > 0 ? static_cast<std::size_t>(n) : 0; }

bool g_beepOn = true;

}  // namespace

// ---------------------------------------------------------------------------------------------
// CEncoding

CEncoding::CEncoding(const char* letters, const char* devMap, const char* intMap)
    : letters_(orEmpty(letters)), devMap_(orEmpty(devMap)), intMap_(orEmpty(intMap)) {}
CEncoding::CEncoding(const CEncoding& other) = default;
CEncoding& CEncoding::operator=(const CEncoding& other) = default;
CEncoding::~CEncoding() = default;

char CEncoding::operator[](int i) const { return letters_[static_cast<std::size_t>(i)]; }
char CEncoding::GetMapDev(int i) const { return devMap_[static_cast<std::size_t>(i)]; }
char CEncoding::GetMapInt(int i) const { return intMap_[static_cast<std::size_t>(i)]; }
int CEncoding::GetLength() const { return static_cast<int>(letters_.size()); }
bool CEncoding::IsMapEmpty() const { return intMap_.empty() || devMap_.empty(); }

// The maps are paired by position; a longer map's unpaired tail maps to nothing.
char CEncoding::GetMapDev2Int(char c) const {
  const int i = indexIn(devMap_, c, intMap_.size());
  return i < 0 ? c : intMap_[static_cast<std::size_t>(i)];
}

char CEncoding::GetMapInt2Dev(char c) const {
  const int i = indexIn(intMap_, c, devMap_.size());
  return i < 0 ? c : devMap_[static_cast<std::size_t>(i)];
}

int CEncoding::Find(char c, int start) const {
  const std::size_t from = start > 0 ? static_cast<std::size_t>(start) : 0;
  std::size_t pos = letters_.find(c, from);
  if (pos != std::string::npos) return static_cast<int>(pos);
  pos = intMap_.find(c, from);
  return pos == std::string::npos ? -1 : static_cast<int>(pos);
}

CEncoding polishLetters(quorvel::cp1250::kPolish.bytes, "", "");

// ---------------------------------------------------------------------------------------------
// Conversions

namespace {

// The eighteen Polish letters are swapped between the two code pages by their place in the
// letter tables; every other byte goes through the encoding's byte map of that direction.
std::string swapLetters(const char* text, const CEncoding& enc, int n, bool toDevice) {
  const char* src = orEmpty(text);
  const std::size_t len = strnlen(src, limitOf(n));
  const int m = std::min(polishLetters.GetLength(), enc.GetLength());
  std::string out(src, len);
  for (char& c : out) {
    const char original = c;
    c = toDevice ? enc.GetMapInt2Dev(original) : enc.GetMapDev2Int(original);
    for (int k = 0; k < m; ++k) {
      if ((toDevice ? polishLetters[k] : enc[k]) == original) {
        c = toDevice ? enc[k] : polishLetters[k];
        break;
      }
    }
  }
  return out;
}

}  // namespace

std::string internal2dev(const char* text, const CEncoding& enc, int n) { return swapLetters(text, enc, n, true); }

std::string dev2internal(const char* text, const CEncoding& enc, int n) { return swapLetters(text, enc, n, false); }

namespace {

// The windows-1250 byte of each code point below 0x180 (0 where the code page has none): the
// Latin letters, where nearly every character of a Polish job lies.
struct LowCodePoints {
  unsigned char byte[0x180];
};
constexpr LowCodePoints makeLowCodePoints() {
  LowCodePoints t{};
  for (int b = 0x80; b < 0x100; ++b) {
    const std::uint32_t cp = quorvel::cp1250::codePointOf(static_cast<unsigned char>(b));
    if (cp != 0 && cp < 0x180) t.byte[cp] = static_cast<unsigned char>(b);
  }
  return t;
}
constexpr LowCodePoints kLowCodePoints = makeLowCodePoints();

// The windows-1250 byte of a code point from 0x80; '?' when the code page has none.
char cp1250Of(std::uint32_t cp) {
  if (cp < 0x180) return kLowCodePoints.byte[cp] ? static_cast<char>(kLowCodePoints.byte[cp]) : '?';
  const int b = quorvel::cp1250::byteOf(cp);
  return b < 0 ? '?' : static_cast<char>(b);
}

// Appends the windows-1250 text of the UTF-8 bytes [p, end), at most `limit` characters, and
// stops at a NUL byte. The result is reserved at once: it is never longer than the input.
// Every character windows-1250 has becomes its byte (the Polish letters, and also „ ” – … €
// and the other letters of the code page), so that no character of the job reaches a register
// as the bytes of its UTF-8 spelling; a character the code page lacks, and a byte that begins
// no sequence, becomes '?'.
void appendUtf2cp1250(std::string& out, const unsigned char* p, const unsigned char* end, std::size_t limit) {
  const std::size_t start = out.size();
  out.reserve(start + std::min(static_cast<std::size_t>(end - p), limit));
  // With a map empty, GetMapInt2Dev gives every byte back unchanged: asked once, not per byte.
  const bool passThrough = polishLetters.IsMapEmpty();
  while (p < end && *p && out.size() - start < limit) {
    const unsigned char lead = *p;
    if (lead < 0x80) {
      out += passThrough ? static_cast<char>(lead) : polishLetters.GetMapInt2Dev(static_cast<char>(lead));
      ++p;
      continue;
    }
    const int length = lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3 : lead >= 0xF0 && lead <= 0xF4 ? 4 : 1;
    std::uint32_t cp = length == 2 ? lead & 0x1Fu : length == 3 ? lead & 0x0Fu : lead & 0x07u;
    int taken = 1;
    while (taken < length && p + taken < end && (p[taken] & 0xC0) == 0x80) cp = (cp << 6) | (p[taken++] & 0x3Fu);
    if (taken < length && (p + taken >= end || p[taken] == 0)) {
      out += '?';  // a sequence cut by the end of the text: nothing follows it
      break;
    }
    out += taken == length && length > 1 ? cp1250Of(cp) : '?';
    p += taken;
  }
}

}  // namespace

std::string utf2cp1250(const char* utf8, int n) {
  const char* text = orEmpty(utf8);
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  std::string out;
  appendUtf2cp1250(out, p, p + std::strlen(text), limitOf(n));
  return out;
}

void utf2cp1250Append(std::string& out, const char* utf8, std::size_t len) {
  const auto* p = reinterpret_cast<const unsigned char*>(utf8);
  appendUtf2cp1250(out, p, p + len, static_cast<std::size_t>(-1));
}

// ---------------------------------------------------------------------------------------------
// Parsers

long str2i(const char* text, long min, long max) {
  const char* s = orEmpty(text);
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(s, &end, 10);
  const bool tooBig = errno == ERANGE;
  if (*end != '\0')
    SetError(ERR_INT_INVALID, s);
  else if (v < min || (tooBig && v < 0))
    SetError(ERR_INT_BELOW, s);
  else if (v > max || tooBig)
    SetError(ERR_INT_ABOVE, s);
  return v;
}

unsigned long str2u(const char* text, unsigned long min, unsigned long max) {
  const char* s = orEmpty(text);
  const char* sign = s;
  while (isSpace(*sign)) ++sign;
  char* end = nullptr;
  errno = 0;
  unsigned long v = std::strtoul(s, &end, 10);
  const bool tooBig = errno == ERANGE;
  // strtoul takes "-5" as its two's complement; a negative number is below every range.
  const bool negative = *sign == '-' && (v != 0 || tooBig);
  if (negative) v = 0;
  if (*end != '\0')
    SetError(ERR_INT_INVALID, s);
  else if (negative || v < min)
    SetError(ERR_INT_BELOW, s);
  else if ((max != 0 && v > max) || tooBig)
    SetError(ERR_INT_ABOVE, s);
  return v;
}

bool str2b(const char* text) {
  const std::string t = trimmed(text);
  if (t == "0" || t == "false") return false;
  if (t == "1" || t == "true") return true;
  SetError(ERR_BOOL_INVALID, orEmpty(text));
  return false;
}

namespace {

// One-letter code: the trimmed text must be exactly one of the accepted letters.
char oneLetter(const char* text, const char* accepted, int error) {
  const std::string t = trimmed(text);
  if (t.size() == 1 && std::strchr(accepted, t[0]) != nullptr) return t[0];
  SetError(error, orEmpty(text));
  return ' ';
}

}  // namespace

char str2typ(const char* text) { return oneLetter(text, "OT", ERR_GOODS_TYPE); }
char str2typDok(const char* text) { return oneLetter(text, "PFR", ERR_DOCUMENT_TYPE); }
char str2typRab(const char* text) { return oneLetter(text, "PW", ERR_DISCOUNT_TYPE); }

// ---------------------------------------------------------------------------------------------
// Small utilities

std::string i2str(int i) { return std::to_string(i); }

void strCopy(char* dest, const char* src, int size) {
  if (dest == nullptr || size < 1) return;
  const auto n = static_cast<std::size_t>(size);
  std::memset(dest, 0, n);
  const char* s = orEmpty(src);
  std::memcpy(dest, s, strnlen(s, n - 1));
}

void beep_on() { g_beepOn = true; }
void beep_off() { g_beepOn = false; }

void beep() {
  if (g_beepOn) quorvel::ui::Bell();
}
