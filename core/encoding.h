// Code pages, text conversions and the strict parsers of the job file's scalar values.
//
// Internal text is windows-1250 (8-bit, zero-terminated). Registers use their own 8-bit code
// pages, and only the 18 Polish letters differ: a device table (CEncoding) lists the device's
// codes of those letters in the reference order of polishLetters, plus optional pairs of further
// characters. The parsers always return a value and report bad input through the error state
// (numbers 9, 10, 11, 15, 16, 17, 18 with the offending text as detail), so a caller reads
// several values and tests GetErrorNum() once.
#pragma once

#include <cstddef>
#include <string>

#include "platform/api.h"

// Device code page: the device codes of the 18 Polish letters and a map of further characters.
class QUORVEL_API CEncoding {
 public:
  // letters: the device codes of the Polish letters in reference order (may be shorter than 18,
  // then only the first letters are mapped). devMap/intMap: device characters paired position
  // by position with the windows-1250 characters they stand for. Null counts as empty.
  CEncoding(const char* letters, const char* devMap, const char* intMap);
  CEncoding(const CEncoding& other);
  CEncoding& operator=(const CEncoding& other);
  ~CEncoding();

  // REQUIRES: 0 <= i < length of the string concerned.
  char operator[](int i) const;    // letters[i]
  char GetMapDev(int i) const;     // device map[i]
  char GetMapInt(int i) const;     // internal map[i]

  int GetLength() const;           // number of letters
  bool IsMapEmpty() const;         // true when either map is empty

  // c translated through the character maps (first occurrence wins); c itself when absent.
  char GetMapDev2Int(char c) const;
  char GetMapInt2Dev(char c) const;

  // First position >= start of c in the letters; failing that, in the internal map; -1 if none.
  int Find(char c, int start) const;

 private:
  std::string letters_;
  std::string devMap_;
  std::string intMap_;
};

// The reference table: the windows-1250 letters "ąćęłńóśźżĄĆĘŁŃÓŚŹŻ"
// (B9 E6 EA B3 F1 F3 9C 9F BF A5 C6 CA A3 D1 D3 8C 8F AF), both maps empty.
QUORVEL_API extern CEncoding polishLetters;

// Length argument meaning "no limit".
inline constexpr int kNoLimit = 0x7FFFFFFF;

// The first n characters of a windows-1250 text in the device's code page.
QUORVEL_API std::string internal2dev(const char* text, const CEncoding& enc, int n);
// The first n characters of a device text in windows-1250.
QUORVEL_API std::string dev2internal(const char* text, const CEncoding& enc, int n);
// UTF-8 to windows-1250, at most n result characters: the Polish letters are converted, any
// other two-byte sequence led by C3, C4 or C5 becomes '?', every other byte passes unchanged.
QUORVEL_API std::string utf2cp1250(const char* utf8, int n);
// The same conversion of the first len bytes of utf8 (up to a NUL byte among them), without a
// limit, appended to `out`: a caller converting many texts reuses one buffer.
QUORVEL_API void utf2cp1250Append(std::string& out, const char* utf8, std::size_t len);

// Whole text as a signed decimal number (leading white space and a sign accepted, "" gives 0).
// Error 9 when characters are left over, else 10 below min, 11 above max (also when the number
// does not fit in a long at all). Returns the parsed number in every case.
QUORVEL_API long str2i(const char* text, long min, long max);
// The same, unsigned; max == 0 means no upper limit. A negative number is below any range
// (error 10, result 0) instead of wrapping to a huge value.
QUORVEL_API unsigned long str2u(const char* text, unsigned long min, unsigned long max);
// Trimmed "0"/"false" -> false, "1"/"true" -> true; otherwise error 18 and false.
QUORVEL_API bool str2b(const char* text);
// Goods type "O" (packaging) or "T" (goods); otherwise error 15 and ' '.
QUORVEL_API char str2typ(const char* text);
// Document type "P", "F" or "R"; otherwise error 16 and ' '.
QUORVEL_API char str2typDok(const char* text);
// Discount type "P" or "W"; otherwise error 17 and ' '.
QUORVEL_API char str2typRab(const char* text);

// Decimal text of i ("%d").
QUORVEL_API std::string i2str(int i);

// Zeroes all size bytes of dest and copies at most size - 1 characters of src (null counts as
// empty). REQUIRES: size >= 1 (a smaller size does nothing).
QUORVEL_API void strCopy(char* dest, const char* src, int size);

// The audible signal: on when the library loads; beep() sounds it (BEL on the controlling
// terminal when there is one) while it is on, and does nothing otherwise.
QUORVEL_API void beep_on();
QUORVEL_API void beep_off();
QUORVEL_API void beep();
