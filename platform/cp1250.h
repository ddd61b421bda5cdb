// Windows-1250 text from readable UTF-8 sources.
//
// Internal text is windows-1250 bytes. The Polish texts of the system are written in the
// sources as ordinary UTF-8 literals with the suffix _cp:
//
//     SetError(1, "Błąd tworzenia pliku"_cp);
//
// The literal is converted while compiling (GCC and Clang alike, no -fexec-charset), yields a
// zero-terminated const char* to static storage, and a character that windows-1250 cannot hold
// is a compile error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel::cp1250 {

// Unicode code point of each windows-1250 byte 0x80..0xFF; 0 where the code page has none.
inline constexpr std::uint16_t kHighHalf[128] = {
    0x20AC, 0x0000, 0x201A, 0x0000, 0x201E, 0x2026, 0x2020, 0x2021,
    0x0000, 0x2030, 0x0160, 0x2039, 0x015A, 0x0164, 0x017D, 0x0179,
    0x0000, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x0000, 0x2122, 0x0161, 0x203A, 0x015B, 0x0165, 0x017E, 0x017A,
    0x00A0, 0x02C7, 0x02D8, 0x0141, 0x00A4, 0x0104, 0x00A6, 0x00A7,
    0x00A8, 0x00A9, 0x015E, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x017B,
    0x00B0, 0x00B1, 0x02DB, 0x0142, 0x00B4, 0x00B5, 0x00B6, 0x00B7,
    0x00B8, 0x0105, 0x015F, 0x00BB, 0x013D, 0x02DD, 0x013E, 0x017C,
    0x0154, 0x00C1, 0x00C2, 0x0102, 0x00C4, 0x0139, 0x0106, 0x00C7,
    0x010C, 0x00C9, 0x0118, 0x00CB, 0x011A, 0x00CD, 0x00CE, 0x010E,
    0x0110, 0x0143, 0x0147, 0x00D3, 0x00D4, 0x0150, 0x00D6, 0x00D7,
    0x0158, 0x016E, 0x00DA, 0x0170, 0x00DC, 0x00DD, 0x0162, 0x00DF,
    0x0155, 0x00E1, 0x00E2, 0x0103, 0x00E4, 0x013A, 0x0107, 0x00E7,
    0x010D, 0x00E9, 0x0119, 0x00EB, 0x011B, 0x00ED, 0x00EE, 0x010F,
    0x0111, 0x0144, 0x0148, 0x00F3, 0x00F4, 0x0151, 0x00F6, 0x00F7,
    0x0159, 0x016F, 0x00FA, 0x0171, 0x00FC, 0x00FD, 0x0163, 0x02D9,
};

// Windows-1250 byte of a code point; -1 when the code page has none.
constexpr int byteOf(std::uint32_t codePoint) {
  if (codePoint < 0x80) return static_cast<int>(codePoint);
  for (int i = 0; i < 128; ++i)
    if (kHighHalf[i] == codePoint) return 0x80 + i;
  return -1;
}

// The eighteen Polish letters in their reference order, small then capital: the one table of
// them. Their windows-1250 bytes and UTF-8 spellings below are derived from it, and a table of
// another code page's letters (a register's own) lists them in this order.
inline constexpr int kPolishLetterCount = 18;
inline constexpr char32_t kPolishLetters[kPolishLetterCount] = {U'ą', U'ć', U'ę', U'ł', U'ń', U'ó', U'ś', U'ź', U'ż',
                                                                U'Ą', U'Ć', U'Ę', U'Ł', U'Ń', U'Ó', U'Ś', U'Ź', U'Ż'};

struct PolishLetterTable {
  char bytes[kPolishLetterCount + 1];       // windows-1250, zero-terminated
  char utf8[kPolishLetterCount][3];         // each letter's two UTF-8 bytes, zero-terminated
  std::uint16_t utf8Code[kPolishLetterCount];  // the same two bytes as lead * 256 + second
};

constexpr PolishLetterTable makePolishLetterTable() {
  PolishLetterTable t{};
  for (int k = 0; k < kPolishLetterCount; ++k) {
    const std::uint32_t cp = kPolishLetters[k];
    t.bytes[k] = static_cast<char>(byteOf(cp));
    const auto lead = static_cast<unsigned char>(0xC0 | (cp >> 6));
    const auto second = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    t.utf8[k][0] = static_cast<char>(lead);
    t.utf8[k][1] = static_cast<char>(second);
    t.utf8Code[k] = static_cast<std::uint16_t>(lead * 256 + second);
  }
  return t;
}
inline constexpr PolishLetterTable kPolish = makePolishLetterTable();

// The place of a windows-1250 byte among the Polish letters; -1 when it is none of them.
constexpr int polishLetterIndex(unsigned char byte) {
  for (int k = 0; k < kPolishLetterCount; ++k)
    if (static_cast<unsigned char>(kPolish.bytes[k]) == byte) return k;
  return -1;
}

// Code point of a windows-1250 byte; 0 for the five bytes the code page leaves undefined.
constexpr std::uint32_t codePointOf(unsigned char byte) {
  return byte < 0x80 ? byte : kHighHalf[byte - 0x80];
}

// Windows-1250 bytes as UTF-8 (terminals, file names, messages for people). The five bytes
// without a character become `undefined`.
inline std::string toUtf8(std::string_view bytes, char undefined = '?') {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 4);
  for (const char ch : bytes) {
    const auto b = static_cast<unsigned char>(ch);
    const std::uint32_t cp = codePointOf(b);
    if (cp < 0x80) {
      out += cp == 0 && b != 0 ? undefined : static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// UTF-8 as windows-1250 bytes. A character the code page lacks, and a malformed or cut
// sequence, become `unmappable` (one byte per sequence).
inline std::string fromUtf8(std::string_view utf8, char unmappable = '?') {
  std::string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    std::uint32_t cp = lead;
    std::size_t len = 1;
    if (lead >= 0x80) {
      if ((lead & 0xE0) == 0xC0) {
        cp = lead & 0x1F;
        len = 2;
      } else if ((lead & 0xF0) == 0xE0) {
        cp = lead & 0x0F;
        len = 3;
      } else if ((lead & 0xF8) == 0xF0) {
        cp = lead & 0x07;
        len = 4;
      } else {
        cp = 0xFFFFFFFF;
      }
      std::size_t k = 1;
      for (; k < len && i + k < utf8.size(); ++k) {
        const auto next = static_cast<unsigned char>(utf8[i + k]);
        if ((next & 0xC0) != 0x80) break;
        cp = (cp << 6) | (next & 0x3F);
      }
      if (k < len) {  // cut sequence: skip what there is of it
        cp = 0xFFFFFFFF;
        len = k;
      }
    }
    const int b = cp == 0xFFFFFFFF ? -1 : byteOf(cp);
    out += b < 0 ? unmappable : static_cast<char>(b);
    i += len;
  }
  return out;
}

template <std::size_t N>
struct Utf8Literal {
  char text[N]{};
  consteval Utf8Literal(const char (&in)[N]) {
    for (std::size_t i = 0; i < N; ++i) text[i] = in[i];
  }
};

template <Utf8Literal L>
struct Converted {
  // One output byte per UTF-8 lead byte (the terminating zero included).
  static constexpr std::size_t size() {
    std::size_t n = 0;
    for (std::size_t i = 0; i < sizeof(L.text); ++i)
      if ((static_cast<unsigned char>(L.text[i]) & 0xC0) != 0x80) ++n;
    return n;
  }
  struct Bytes {
    char data[size()];
  };
  static constexpr Bytes convert() {
    Bytes out{};
    std::size_t o = 0;
    for (std::size_t i = 0; i < sizeof(L.text);) {
      const auto lead = static_cast<unsigned char>(L.text[i]);
      std::uint32_t cp = 0;
      std::size_t len = 1;
      if (lead < 0x80) {
        cp = lead;
      } else if ((lead & 0xE0) == 0xC0) {
        cp = lead & 0x1F;
        len = 2;
      } else if ((lead & 0xF0) == 0xE0) {
        cp = lead & 0x0F;
        len = 3;
      } else {
        throw "invalid UTF-8 in a windows-1250 literal";
      }
      if (i + len > sizeof(L.text)) throw "cut UTF-8 sequence in a windows-1250 literal";
      for (std::size_t k = 1; k < len; ++k) cp = (cp << 6) | (static_cast<unsigned char>(L.text[i + k]) & 0x3F);
      const int b = byteOf(cp);
      if (b < 0) throw "character without a windows-1250 byte";
      out.data[o++] = static_cast<char>(b);
      i += len;
    }
    return out;
  }
  static constexpr Bytes value = convert();
};

}  // namespace quorvel::cp1250

// "Błąd"_cp: the windows-1250 bytes of a UTF-8 literal, zero-terminated.
// The bytes are converted while compiling; the operator itself is deliberately not constexpr.
// Clang 14 crashes when a diagnostic note of a failed constant evaluation prints an expression
// holding a string literal operator template with a class-type parameter (it happens silently
// while generating code for e.g. std::string("..."_cp) + s). A non-constexpr operator stops the
// evaluation before any such note is printed.
template <quorvel::cp1250::Utf8Literal L>
inline const char* operator""_cp() {
  return quorvel::cp1250::Converted<L>::value.data;
}
