// The _cp literals give exactly the windows-1250 bytes of the Polish texts.
#include <gtest/gtest.h>

#include <string>

#include "platform/cp1250.h"

TEST(Cp1250Literal, PolishLettersBecomeTheirWindows1250Bytes) {
  EXPECT_EQ(std::string("ąćęłńóśźżĄĆĘŁŃÓŚŹŻ"_cp),
            "\xB9\xE6\xEA\xB3\xF1\xF3\x9C\x9F\xBF\xA5\xC6\xCA\xA3\xD1\xD3\x8C\x8F\xAF");
  EXPECT_EQ(std::string("Błąd zapisu pliku"_cp), "B\xB3\xB9" "d zapisu pliku");
  EXPECT_EQ(std::string("Treść"_cp), "Tre\x9C\xE6");
}

TEST(Cp1250Literal, EveryByteOfTheCodePageRoundTrips) {
  for (int b = 0; b < 256; ++b) {
    const auto cp = quorvel::cp1250::codePointOf(static_cast<unsigned char>(b));
    if (b >= 0x80 && cp == 0) continue;  // the five bytes the code page leaves undefined
    EXPECT_EQ(quorvel::cp1250::byteOf(cp), b);
  }
  EXPECT_EQ(quorvel::cp1250::byteOf(0x4E00), -1);
}

TEST(Cp1250Text, ConvertsBothWaysAndMarksWhatTheCodePageLacks) {
  using quorvel::cp1250::fromUtf8;
  using quorvel::cp1250::toUtf8;
  EXPECT_EQ(toUtf8("Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1"), "Zażółć gęślą jaźń");
  EXPECT_EQ(fromUtf8("Zażółć gęślą jaźń"), "Za\xBF\xF3\xB3\xE6 g\xEA\x9Cl\xB9 ja\x9F\xF1");
  EXPECT_EQ(toUtf8("a\x81" "b"), "a?b");            // a byte without a character
  EXPECT_EQ(toUtf8("a\x98" "b", '_'), "a_b");
  EXPECT_EQ(fromUtf8("a中b"), "a?b");               // a character without a byte
  EXPECT_EQ(fromUtf8("a\xC5"), "a?");               // a cut sequence at the end
  EXPECT_EQ(fromUtf8("a\xC5" "b"), "a?b");          // a cut sequence before ASCII keeps the ASCII
  EXPECT_EQ(fromUtf8("\xFF" "x"), "?x");
  EXPECT_EQ(fromUtf8("😀"), "?");
  for (int b = 1; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    if (quorvel::cp1250::codePointOf(static_cast<unsigned char>(b)) == 0) continue;
    EXPECT_EQ(fromUtf8(toUtf8(one)), one) << b;
  }
}
