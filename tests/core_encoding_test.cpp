// Code-page conversions of the Polish letters, UTF-8 intake, and the strict scalar parsers
// with their error numbers and texts.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "core/encoding.h"
#include "core/error_state.h"
#include "platform/cp1250.h"

namespace {

const std::string kPolishCp1250 = "ąćęłńóśźżĄĆĘŁŃÓŚŹŻ"_cp;

// The device tables of the drivers, in the reference letter order.
const std::string kCp852 = "\xA5\x86\xA9\x88\xE4\xA2\x98\xAB\xBE\xA4\x8F\xA8\x9D\xE3\xE0\x97\x8D\xBD";
const std::string kElcom = "\x7C\x7E\x80\x82\x84\x86\x88\x8A\x8C\x7B\x7D\x7F\x81\x83\x85\x87\x89\x8B";

std::string bytes(std::initializer_list<int> list) {
  std::string s;
  for (int b : list) s += static_cast<char>(b);
  return s;
}

// Error number and text after running f on a cleared error state.
template <class F>
std::pair<int, std::string> errorsOf(F f) {
  ClearError("");
  f();
  return {GetErrorNum(), GetErrorMsg()};
}

}  // namespace

TEST(PolishLetters, HoldTheWindows1250LettersInReferenceOrder) {
  ASSERT_EQ(polishLetters.GetLength(), 18);
  for (int k = 0; k < 18; ++k) EXPECT_EQ(polishLetters[k], kPolishCp1250[k]) << k;
  EXPECT_TRUE(polishLetters.IsMapEmpty());
}

TEST(DeviceCodePage, EveryPolishLetterGoesToItsDeviceCodeAndBack) {
  for (const std::string& table : {kCp852, kElcom}) {
    const CEncoding enc(table.c_str(), "", "");
    for (int k = 0; k < 18; ++k) {
      const std::string letter(1, kPolishCp1250[k]);
      const std::string dev = internal2dev(letter.c_str(), enc, kNoLimit);
      EXPECT_EQ(dev, std::string(1, table[k])) << "letter " << k;
      EXPECT_EQ(dev2internal(dev.c_str(), enc, kNoLimit), letter) << "letter " << k;
    }
  }
}

TEST(DeviceCodePage, WholeWordsConvertAndOtherBytesPass) {
  const CEncoding cp852(kCp852.c_str(), "", "");
  EXPECT_EQ(internal2dev("Żółw"_cp, cp852, kNoLimit), bytes({0xBD, 0xA2, 0x88, 0x77}));
  EXPECT_EQ(dev2internal(bytes({0xBD, 0xA2, 0x88, 0x77}).c_str(), cp852, kNoLimit),
            std::string("Żółw"_cp));
  // Bytes that are not Polish letters pass unchanged into the device text.
  for (int b = 1; b < 256; ++b) {
    const char c = static_cast<char>(b);
    if (kPolishCp1250.find(c) != std::string::npos) continue;
    const char text[2] = {c, 0};
    EXPECT_EQ(internal2dev(text, cp852, kNoLimit), std::string(1, c)) << b;
  }
  const CEncoding elcom(kElcom.c_str(), "", "");
  EXPECT_EQ(internal2dev("Zażółć gęślą jaźń"_cp, elcom, kNoLimit),
            "Za\x8C\x86\x82\x7E g\x80\x88l\x7C ja\x8A\x84");
}

TEST(DeviceCodePage, LengthLimitCutsBeforeConverting) {
  const CEncoding cp852(kCp852.c_str(), "", "");
  const std::string name = "Żółw zielony ąęśćź 12345"_cp;  // 24 characters
  ASSERT_EQ(name.size(), 24u);
  const std::string dev = internal2dev(name.c_str(), cp852, 19);
  ASSERT_EQ(dev.size(), 19u);
  EXPECT_EQ(dev, internal2dev(name.substr(0, 19).c_str(), cp852, kNoLimit));
  EXPECT_EQ(dev2internal(dev.c_str(), cp852, 19), name.substr(0, 19));
  EXPECT_EQ(internal2dev("abc", cp852, 0), "");
  EXPECT_EQ(internal2dev("abc", cp852, -5), "");
  EXPECT_EQ(dev2internal("abc", cp852, 2), "ab");
}

TEST(DeviceCodePage, ShortTablesMapOnlyTheirFirstLetters) {
  const CEncoding twoLetters("\x01\x02", "", "");
  EXPECT_EQ(internal2dev("ąćę"_cp, twoLetters, kNoLimit), std::string("\x01\x02") + "ę"_cp);
  EXPECT_EQ(dev2internal("\x01\x02\x03", twoLetters, kNoLimit),
            std::string("ąć"_cp) + "\x03");
}

TEST(DeviceCodePage, CharacterMapsTranslateFurtherCharactersAndLettersWin) {
  // Device '#' stands for internal '$'; device 'Q' for internal 'ą' (overridden by the letters).
  const CEncoding enc("\xA5", "#Q", std::string(std::string("$") + "ą"_cp).c_str());
  EXPECT_FALSE(enc.IsMapEmpty());
  EXPECT_EQ(enc.GetMapDev(0), '#');
  EXPECT_EQ(enc.GetMapInt(0), '$');
  EXPECT_EQ(enc.GetMapInt2Dev('$'), '#');
  EXPECT_EQ(enc.GetMapDev2Int('#'), '$');
  EXPECT_EQ(enc.GetMapDev2Int('z'), 'z');
  EXPECT_EQ(internal2dev("a$b", enc, kNoLimit), "a#b");
  EXPECT_EQ(dev2internal("a#b", enc, kNoLimit), "a$b");
  EXPECT_EQ(internal2dev("ą"_cp, enc, kNoLimit), "\xA5");
  EXPECT_EQ(dev2internal("Q", enc, kNoLimit), "ą"_cp);
  // Duplicate device codes: the first position wins.
  const CEncoding dup("\x10\x10", "", "");
  EXPECT_EQ(dev2internal("\x10", dup, kNoLimit), std::string(1, kPolishCp1250[0]));
  // Maps of unequal length: only the paired positions translate.
  const CEncoding uneven("", "AB", "a");
  EXPECT_EQ(uneven.GetMapDev2Int('B'), 'B');
  EXPECT_EQ(uneven.GetMapInt2Dev('a'), 'A');
}

TEST(DeviceCodePage, FindLooksInLettersThenInTheInternalMap) {
  const CEncoding enc("abcab", "XY", "zb");
  EXPECT_EQ(enc.Find('a', 0), 0);
  EXPECT_EQ(enc.Find('a', 1), 3);
  EXPECT_EQ(enc.Find('z', 0), 0);   // internal map
  EXPECT_EQ(enc.Find('c', 3), -1);  // not in the letters from 3 on, nor in the map
  EXPECT_EQ(enc.Find('q', 0), -1);
  EXPECT_EQ(enc.GetLength(), 5);
}

TEST(Utf8Intake, ConvertsEveryWindows1250CharacterAndMarksTheOthers) {
  struct Case {
    std::string utf8;
    int n;
    std::string expected;
  } cases[] = {
      {"Zażółć", kNoLimit, "Zażółć"_cp},
      {"ąćęłńóśźżĄĆĘŁŃÓŚŹŻ", kNoLimit, kPolishCp1250},
      {"é", kNoLimit, "\xE9"},                               // not Polish, but windows-1250 has it
      {"„Ab” € – … ™ Šž", kNoLimit, "„Ab” € – … ™ Šž"_cp},      // the code page's signs, never UTF-8 bytes
      {"Ж☕\xF0\x9F\x8D\xBA.", kNoLimit, "???."},              // outside windows-1250: one '?' each
      {"\x80\xC0\xAFx", kNoLimit, "??\x3Fx"},                   // stray continuation, overlong form
      {"Zażółć", 3, "Zaż"_cp},
      {"abc", 0, ""},
      {"a\xC5", kNoLimit, "a?"},                             // sequence cut by the end
      {"\xC4\x85\xC4", kNoLimit, "ą?"_cp},
      {"", kNoLimit, ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(utf2cp1250(c.utf8.c_str(), c.n), c.expected) << c.utf8;
  EXPECT_EQ(utf2cp1250(nullptr, kNoLimit), "");
}

TEST(StrictParsers, IntegersWithTheirErrors) {
  struct Case {
    const char* text;
    long min, max;
    long value;
    int error;
  } cases[] = {
      {"12", 0, 100, 12, 0},
      {"  -7", -10, 10, -7, 0},
      {"+5", 0, 10, 5, 0},
      {"", 0, 10, 0, 0},
      {"", 1, 10, 0, ERR_INT_BELOW},
      {"12x", 0, 100, 12, ERR_INT_INVALID},
      {"12 ", 0, 100, 12, ERR_INT_INVALID},
      {" ", 0, 100, 0, ERR_INT_INVALID},
      {"abc", 0, 100, 0, ERR_INT_INVALID},
      {"-11", -10, 10, -11, ERR_INT_BELOW},
      {"11", -10, 10, 11, ERR_INT_ABOVE},
      {"-2147483648", INT_MIN, INT_MAX, INT_MIN, 0},
      {"2147483648", INT_MIN, INT_MAX, 2147483648L, ERR_INT_ABOVE},
      {"99999999999999999999", LONG_MIN, LONG_MAX, LONG_MAX, ERR_INT_ABOVE},
      {"-99999999999999999999", LONG_MIN, LONG_MAX, LONG_MIN, ERR_INT_BELOW},
  };
  for (const auto& c : cases) {
    long v = 0;
    const auto [num, msg] = errorsOf([&] { v = str2i(c.text, c.min, c.max); });
    EXPECT_EQ(v, c.value) << c.text;
    EXPECT_EQ(num, c.error) << c.text;
    if (c.error) {
      EXPECT_EQ(msg, std::string(err2msg(c.error)) + (*c.text ? " " : "") + c.text);
    }
  }
}

TEST(StrictParsers, UnsignedIntegersWithTheirErrors) {
  struct Case {
    const char* text;
    unsigned long min, max;
    unsigned long value;
    int error;
  } cases[] = {
      {"5", 1, 0, 5, 0},  // max 0: no upper limit
      {"4294967295", 0, 4294967295UL, 4294967295UL, 0},
      {"4294967296", 0, 4294967295UL, 4294967296UL, ERR_INT_ABOVE},
      {"0", 1, 999999, 0, ERR_INT_BELOW},
      {"7a", 1, 999999, 7, ERR_INT_INVALID},
      {"-1", 0, 0, 0, ERR_INT_BELOW},  // not the two's complement 18446744073709551615
      {"-0", 0, 10, 0, 0},
      {"18446744073709551616", 0, 0, ULONG_MAX, ERR_INT_ABOVE},
  };
  for (const auto& c : cases) {
    unsigned long v = 0;
    const auto [num, msg] = errorsOf([&] { v = str2u(c.text, c.min, c.max); });
    EXPECT_EQ(v, c.value) << c.text;
    EXPECT_EQ(num, c.error) << c.text;
  }
}

TEST(StrictParsers, ErrorTextsNameTheOffendingValue) {
  EXPECT_EQ(errorsOf([] { str2i("12x", 0, 100); }).second, "Nieprawidłowa liczba całkowita 12x"_cp);
  EXPECT_EQ(errorsOf([] { str2i("-1", 0, 100); }).second,
            "Liczba całkowita poniżej dopuszczalnego zakresu -1"_cp);
  EXPECT_EQ(errorsOf([] { str2u("101", 0, 100); }).second,
            "Liczba całkowita powyżej dopuszczalnego zakresu 101"_cp);
  EXPECT_EQ(errorsOf([] { str2b("TRUE"); }).second, "Nieprawidłowa wartość logiczna TRUE"_cp);
  EXPECT_EQ(errorsOf([] { str2typ(" t "); }).second, "Nieprawidłowy typ towaru  t "_cp);
  EXPECT_EQ(errorsOf([] { str2typDok("X"); }).second, "Nieprawidłowy typ dokumentu X"_cp);
  EXPECT_EQ(errorsOf([] { str2typRab("F"); }).second, "Nieprawidłowy typ rabatu F"_cp);
}

TEST(StrictParsers, LogicalValuesAndOneLetterCodes) {
  struct BoolCase {
    const char* text;
    bool value;
    int error;
  } bools[] = {
      {"0", false, 0}, {"1", true, 0}, {"false", false, 0}, {" true ", true, 0},
      {"\t1\n", true, 0}, {"TRUE", false, ERR_BOOL_INVALID}, {"yes", false, ERR_BOOL_INVALID},
      {"", false, ERR_BOOL_INVALID}, {"10", false, ERR_BOOL_INVALID},
  };
  for (const auto& c : bools) {
    bool v = !c.value;
    EXPECT_EQ(errorsOf([&] { v = str2b(c.text); }).first, c.error) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
  }

  struct CodeCase {
    char (*parse)(const char*);
    const char* text;
    char value;
    int error;
  } codes[] = {
      {str2typ, "O", 'O', 0}, {str2typ, " T ", 'T', 0}, {str2typ, "t", ' ', ERR_GOODS_TYPE},
      {str2typ, "TO", ' ', ERR_GOODS_TYPE}, {str2typ, "", ' ', ERR_GOODS_TYPE},
      {str2typDok, "P", 'P', 0}, {str2typDok, "F", 'F', 0}, {str2typDok, "R", 'R', 0},
      {str2typDok, "O", ' ', ERR_DOCUMENT_TYPE},
      {str2typRab, "P", 'P', 0}, {str2typRab, "W", 'W', 0}, {str2typRab, "R", ' ', ERR_DISCOUNT_TYPE},
  };
  for (const auto& c : codes) {
    char v = 0;
    EXPECT_EQ(errorsOf([&] { v = c.parse(c.text); }).first, c.error) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
  }
}

TEST(StrictParsers, AnErrorStaysUntilTheCallerLooks) {
  ClearError("");
  str2i("x", 0, 10);
  str2i("5", 0, 10);  // a later good value does not clear the state
  EXPECT_EQ(GetErrorNum(), ERR_INT_INVALID);
  ClearError("");
}

TEST(StringUtilities, CopyAlwaysTerminatesAndZeroFills) {
  char buf[8];
  std::memset(buf, 'x', sizeof buf);
  strCopy(buf, "abcdef", 4);
  EXPECT_EQ(std::string(buf, 8), std::string("abc\0xxxx", 8));
  std::memset(buf, 'x', sizeof buf);
  strCopy(buf, "ab", 8);
  EXPECT_EQ(std::string(buf, 8), std::string("ab\0\0\0\0\0\0", 8));
  strCopy(buf, "abc", 1);
  EXPECT_EQ(buf[0], '\0');
  strCopy(buf, nullptr, 8);
  EXPECT_EQ(std::string(buf, 8), std::string(8, '\0'));
  EXPECT_EQ(i2str(-42), "-42");
  EXPECT_EQ(i2str(INT_MIN), "-2147483648");
}
