// Money: exact rounding of products and quotients, overflow into the status, text forms and
// the decimal parser with its error numbers.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>

#include "core/currency.h"
#include "core/error_state.h"
#include "core/xml/raport_xml.h"
#include "platform/cp1250.h"
#include "tests/support/test_support.h"

namespace {

using i64 = std::int64_t;
constexpr i64 kMin = INT64_MIN;
constexpr i64 kMax = INT64_MAX;
constexpr auto V = CUfCurrency::valid;
constexpr auto I = CUfCurrency::invalid;

CUfCurrency raw(i64 v, CUfCurrency::UfCurrencyStatus s = CUfCurrency::valid) {
  CUfCurrency c{CY{v}};
  c.SetStatus(s);
  return c;
}

struct BinaryCase {
  i64 a;
  i64 b;
  i64 value;
  CUfCurrency::UfCurrencyStatus status;
};

void expectBinary(const BinaryCase& c, CUfCurrency (*op)(const CUfCurrency&, const CUfCurrency&),
                  const char* name) {
  const CUfCurrency r = op(raw(c.a), raw(c.b));
  EXPECT_EQ(r.GetCurrency(), c.value) << c.a << name << c.b;
  EXPECT_EQ(r.GetStatus(), c.status) << c.a << name << c.b;
}

CUfCurrency add(const CUfCurrency& a, const CUfCurrency& b) { return a + b; }
CUfCurrency sub(const CUfCurrency& a, const CUfCurrency& b) { return a - b; }
CUfCurrency mul(const CUfCurrency& a, const CUfCurrency& b) { return a * b; }
CUfCurrency div(const CUfCurrency& a, const CUfCurrency& b) { return a / b; }

}  // namespace

TEST(Money, ProductsRoundHalfAwayFromZeroAndOverflowIntoTheStatus) {
  const BinaryCase cases[] = {
      {kMin, 10000, kMin, V},          // the most negative amount times 1.0000 is itself
      {10000, kMin, kMin, V},
      {kMin, -10000, kMin, I},
      {kMin, 10001, kMin, I},
      {kMin, 5000, kMin / 2, V},       // times 0.5
      {1, 5000, 1, V},                 // 0.0001 * 0.5 = 0.00005 -> 0.0001
      {-1, 5000, -1, V},
      {1, 4999, 0, V},
      {12345, 20000, 24690, V},
      {-15000, 15000, -22500, V},
      {-15000, -15000, 22500, V},
      {kMax, 10000, kMax, V},
      {kMax, 10001, kMin, I},
      {kMax / 2, 20000, kMax - 1, V},
      {kMax / 2 + 1, 20000, kMin, I},  // +2^63 does not fit
      {-(kMax / 2 + 1), 20000, kMin, I},
      {0, kMin, 0, V},
  };
  for (const auto& c : cases) expectBinary(c, mul, " * ");
  // The operands' statuses are not consulted.
  EXPECT_EQ(raw(30000, I) * raw(20000), raw(60000));
}

TEST(Money, QuotientsRoundHalfUpAndDivisionByZeroIsInvalid) {
  const BinaryCase cases[] = {
      {10000, 30000, 3333, V},
      {20000, 30000, 6667, V},
      {-20000, 30000, -6667, V},
      {20000, -30000, -6667, V},
      {-20000, -30000, 6667, V},
      {1, 20000, 1, V},                // 0.00005 rounds up
      {-1, 20000, -1, V},
      {12345, 0, 0, I},
      {0, 0, 0, I},
      {kMin, 10000, kMin, V},          // |a| * 20000 == |b| * 2^64, negative
      {kMin, -10000, kMin, I},
      {kMax, 10000, kMax, V},
      {kMax, 9999, kMin, I},
      {kMax, -10000, -kMax, V},
      {211215219643974366, 229, kMin, I},   // quotient rounds to +2^63: out of range
      {-211215219643974366, 229, kMin, V},  // the same magnitude fits as -2^63
      {-154030313015474756, 167, kMin, I},  // twice the quotient just above 2^64, not exact
      {kMin, kMin, 10000, V},
  };
  for (const auto& c : cases) expectBinary(c, div, " / ");
  EXPECT_EQ(raw(30000, I) / raw(20000), raw(15000));
}

TEST(Money, SumsWithInvalidOperandsOrOverflowAreInvalid) {
  const BinaryCase sums[] = {
      {12345, 10000, 22345, V},
      {kMax, 1, kMin, I},
      {kMin, -1, kMax, I},
      {kMin, kMax, -1, V},
  };
  for (const auto& c : sums) expectBinary(c, add, " + ");
  const BinaryCase differences[] = {
      {12345, 20000, -7655, V},
      {kMin, 1, kMax, I},
      {kMax, -1, kMin, I},
      {-1, kMax, kMin, V},
      {0, kMin, kMin, I},
  };
  for (const auto& c : differences) expectBinary(c, sub, " - ");
  EXPECT_EQ(raw(5, I) + raw(5), raw(0, I));
  EXPECT_EQ(raw(5) - raw(5, I), raw(0, I));

  EXPECT_EQ(-raw(5), raw(-5));
  EXPECT_EQ(-raw(kMin), raw(kMin, I));
  EXPECT_EQ(-raw(123, I), raw(123, I));

  CUfCurrency c = raw(10000);
  c += raw(5000);
  EXPECT_EQ(c, raw(15000));
  c *= raw(20000);
  EXPECT_EQ(c, raw(30000));
  c /= raw(0);
  EXPECT_EQ(c, raw(0, I));
  c -= raw(1);
  EXPECT_EQ(c, raw(0, I));
}

TEST(Money, ConstructionFromWholeNumbersAndParts) {
  EXPECT_EQ(CUfCurrency(i64{5}), raw(50000));
  EXPECT_EQ(CUfCurrency(kMax / 10000), raw(kMax / 10000 * 10000));
  EXPECT_EQ(CUfCurrency(kMax / 10000 + 1).GetStatus(), I);
  EXPECT_EQ(CUfCurrency(kMin / 10000 - 1).GetStatus(), I);
  CUfCurrency assigned;
  assigned = i64{-3};
  EXPECT_EQ(assigned, raw(-30000));
  assigned = CY{77};
  EXPECT_EQ(assigned, raw(77));
  EXPECT_EQ(CY(raw(-77)).int64, -77);

  struct PartsCase {
    long units, fractional;
    i64 value;
    CUfCurrency::UfCurrencyStatus status;
  } parts[] = {
      {1, 15000, 25000, V},            // the fraction is not limited to four digits
      {-1, 5000, -5000, V},            // the parts keep their own signs
      {-1, -5000, -15000, V},
      {0, -5000, -5000, V},
      {-12, -3400, -123400, V},        // Elcom hundredths -1234: (c / 100, c % 100 * 100)
      {922337203685477, 5807, kMax, V},
      {922337203685477, 5808, kMin, I},
      {-922337203685477, -5808, kMin, V},
      {LONG_MAX, 0, 0, I},             // the whole part alone is out of range
      {LONG_MIN, 0, 0, I},
  };
  for (const auto& c : parts) {
    const CUfCurrency v(c.units, c.fractional);
    EXPECT_EQ(v.GetCurrency(), c.value) << c.units << ", " << c.fractional;
    EXPECT_EQ(v.GetStatus(), c.status) << c.units << ", " << c.fractional;
  }
}

TEST(Money, ReadingWholeAndFractionalUnits) {
  EXPECT_EQ(raw(-123456).GetUnits(), -12);
  EXPECT_EQ(raw(-123456).GetFractionalUnits(), -3456);
  EXPECT_EQ(raw(123456).GetFractionalUnits(), 3456);
  EXPECT_EQ(raw(kMin).GetUnits(), -922337203685477);
  EXPECT_EQ(raw(kMin).GetFractionalUnits(), -5808);
  EXPECT_DOUBLE_EQ(static_cast<double>(raw(12345)), 1.2345);
}

TEST(Money, EqualityNeedsTheStatusOrderingIgnoresIt) {
  const CUfCurrency a = raw(100), b = raw(100, I);
  EXPECT_FALSE(a == b);
  EXPECT_TRUE(a != b);
  EXPECT_FALSE(a < b);
  EXPECT_FALSE(a > b);
  EXPECT_TRUE(a <= b);
  EXPECT_TRUE(a >= b);
  EXPECT_TRUE(raw(kMin) < raw(kMax));
  EXPECT_TRUE(raw(-1) < raw(0));
}

TEST(Money, RoundHalfAwayFromZero) {
  struct Case {
    i64 value;
    int n;
    bool ok;
    i64 result;
  } cases[] = {
      {12350, 2, true, 12400},   {-12350, 2, true, -12400}, {12349, 2, true, 12300},
      {12345, 4, false, 12345},  {12345, -4, false, 12345}, {25000, 0, true, 30000},
      {-25000, 0, true, -30000}, {24999, 0, true, 20000},   {12345, 3, true, 12350},
      {5000000, -3, true, 10000000}, {4999999, -3, true, 0}, {-15000000, -3, true, -20000000},
      {1234567, -1, true, 1200000},  {kMin, 2, false, kMin}, {kMax, 3, false, kMax},
      {kMax - 10, 3, true, kMax - 7}, {-(kMax - 10), 3, true, -(kMax - 7)},
  };
  for (const auto& c : cases) {
    CUfCurrency v = raw(c.value, I);
    EXPECT_EQ(v.Round(c.n), c.ok) << c.value << " to " << c.n;
    EXPECT_EQ(v, raw(c.result, I)) << c.value << " to " << c.n;  // the status is kept
  }
}

TEST(Money, TextForms) {
  struct Case {
    i64 value;
    int n;
    const char* text;
  } cases[] = {
      {123456, 2, "1234"}, {120000, 2, "1200"}, {5000, 2, "050"}, {0, 2, "000"},
      {-5000, 2, "-050"},  {-1, 2, "-000"},     {15000, 6, "15000"}, {15000, 4, "15000"},
      {123456, 0, "12"},   {0, 0, "0"},         {-1, 0, "-0"},       {123456, 1, "123"},
      {123400, -1, "12.34"}, {-5000, -1, "-0.5"}, {1, -1, "0.0001"}, {70000, -1, "7"},
      {0, -1, "0"},        {-70000, -1, "-7"},
      {kMin, -1, "-922337203685477.5808"}, {kMax, -1, "922337203685477.5807"},
      {kMin, 2, "-92233720368547758"},
  };
  for (const auto& c : cases) EXPECT_EQ(raw(c.value).GetString(c.n), c.text) << c.value << ", " << c.n;
}

TEST(MoneyParser, DecimalAndHundredthsTexts) {
  struct Case {
    const char* text;
    int decimals;
    i64 min, max;
    i64 value;
    int error;
  } cases[] = {
      {"12", 0, kMin, kMax, 120000, 0},
      {"12.5", 0, kMin, kMax, 125000, 0},
      {"12.50  ", 0, kMin, kMax, 125000, 0},
      {"12.123456", 0, kMin, kMax, 121234, 0},
      {" -3.25", 0, kMin, kMax, -32500, 0},
      {"-0.5", 0, kMin, kMax, -5000, 0},
      {"\t-0.5", 0, kMin, kMax, -5000, 0},  // the sign holds whatever white space leads
      {".5", 0, kMin, kMax, 5000, 0},
      {"12.", 0, kMin, kMax, 120000, 0},
      {"12.00001", 0, kMin, kMax, 120000, 0},
      {"+7.0001", 0, kMin, kMax, 70001, 0},
      {"", 0, kMin, kMax, 0, 0},
      {"12,", 0, kMin, kMax, 120000, ERR_REAL_INVALID},
      {"12.5x", 0, kMin, kMax, 120000, ERR_REAL_INVALID},
      {"12. 5", 0, kMin, kMax, 120000, ERR_REAL_INVALID},
      {"12.-5", 0, kMin, kMax, 120000, ERR_REAL_INVALID},
      {"1e5", 0, kMin, kMax, 10000, ERR_REAL_INVALID},
      {"abc", 0, kMin, kMax, 0, ERR_REAL_INVALID},
      {" 5", 0, kMin, kMax, 50000, 0},
      {"1250", 2, kMin, kMax, 125000, 0},
      {"-1234", 2, kMin, kMax, -123400, 0},
      {"1999", 3, kMin, kMax, 19990, 0},
      {"12.50", 2, kMin, kMax, 120000, ERR_REAL_INVALID},
      {"1234", -1, kMin, kMax, 12340000, ERR_REAL_INVALID},
      {"5", 0, 0, 40000, 50000, ERR_REAL_ABOVE},
      {"-1", 0, 0, 40000, -10000, ERR_REAL_BELOW},
      {"4", 0, 0, 40000, 40000, 0},
      {"12x", 0, kMin, 0, 120000, ERR_REAL_ABOVE},  // 12 first, then 14
      // Whole parts beyond the 64-bit amount: out of range, never a wrapped price.
      {"922337203685477.5807", 0, kMin, kMax, kMax, 0},
      {"-922337203685477.5808", 0, kMin, kMax, kMin, 0},
      {"922337203685477.5808", 0, kMin, kMax, kMax, ERR_REAL_ABOVE},
      {"922337203685478", 0, kMin, kMax, kMax, ERR_REAL_ABOVE},
      {"-922337203685478", 0, kMin, kMax, kMin, ERR_REAL_BELOW},
      {"1844674407370955", 0, kMin, kMax, kMax, ERR_REAL_ABOVE},
      {"99999999999999999999999999999999999999999", 0, kMin, kMax, kMax, ERR_REAL_ABOVE},
      {"922337203685478", 0, 0, 1000000, 1000000, ERR_REAL_ABOVE},
      {"-922337203685478", 0, -5, 1000000, -5, ERR_REAL_BELOW},
      {"92233720368547758", 2, kMin, kMax, 9223372036854775800, 0},  // hundredths up to the range
      {"92233720368547759", 2, kMin, kMax, kMax, ERR_REAL_ABOVE},
  };
  for (const auto& c : cases) {
    ClearError("");
    const CY v = str2currency(c.text, c.decimals, c.min, c.max);
    EXPECT_EQ(v.int64, c.value) << '"' << c.text << "\" " << c.decimals;
    EXPECT_EQ(GetErrorNum(), c.error) << '"' << c.text << "\" " << c.decimals;
  }
  ClearError("");
}

TEST(MoneyParser, ErrorTextsCarryTheWholeInput) {
  ClearError("");
  str2currency("12,5", 0);
  EXPECT_EQ(std::string(GetErrorMsg()), "Nieprawidłowa liczba rzeczywista 12,5"_cp);
  str2currency("-3", 0, 0, 100);
  EXPECT_EQ(std::string(GetErrorMsg()), "Liczba rzeczywista poniżej dopuszczalnego zakresu -3"_cp);
  str2currency("3", 0, 0, 100);
  EXPECT_EQ(std::string(GetErrorMsg()), "Liczba rzeczywista powyżej dopuszczalnego zakresu 3"_cp);
  ClearError("");
}

TEST(MoneyParser, InvalidAndOutOfRangeTextLeavesTwoReportMessages) {
  quorvel::test::ScratchDir dir;
  {
    CRaportXml raport;
    ErrorSetRaport(&raport);
    ClearError("");
    str2currency("12x", 0, 0, 100);
    ErrorSetRaport(nullptr);
  }
  const std::string xml = quorvel::test::readFile(dir.file("RAPORT.XML"));
  const auto invalid = xml.find("Nieprawidłowa liczba rzeczywista 12x"_cp);
  const auto above = xml.find("Liczba rzeczywista powyżej dopuszczalnego zakresu 12x"_cp);
  EXPECT_NE(invalid, std::string::npos) << quorvel::test::cp1250ToUtf8(xml);
  EXPECT_NE(above, std::string::npos) << quorvel::test::cp1250ToUtf8(xml);
  EXPECT_LT(invalid, above);
  EXPECT_EQ(GetErrorNum(), ERR_REAL_ABOVE);
  ClearError("");
}

TEST(MoneyParser, TextFormsParseBackToTheSameAmount) {
  // A spread of amounts over the whole range, both signs, every fraction length.
  std::uint64_t x = 0x9E3779B97F4A7C15ULL;
  for (int i = 0; i < 20000; ++i) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    i64 v = static_cast<i64>(x);
    if (i % 4 == 1) v %= 100000000;
    if (i % 4 == 2) v = v % 10000 * 10;
    const CUfCurrency c = raw(v);
    ClearError("");
    EXPECT_EQ(str2currency(c.GetString(-1).c_str(), 0).int64, v) << c.GetString(-1);
    EXPECT_EQ(str2currency(c.GetString(4).c_str(), 4).int64, v) << c.GetString(4);
    ASSERT_EQ(GetErrorNum(), 0) << v;
  }
  ClearError("");
}
