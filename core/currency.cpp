// Money arithmetic in exact integers: 64-bit amounts in 1/10000, products and quotients through
// 128-bit intermediates, every overflow caught and recorded in the status.
#include "core/currency.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "core/error_state.h"

namespace {

using i64 = std::int64_t;
using u64 = std::uint64_t;
using u128 = unsigned __int128;
using i128 = __int128;

constexpr i64 kMin = std::numeric_limits<i64>::min();
constexpr i64 kMax = std::numeric_limits<i64>::max();
constexpr u64 kTwo63 = u64{1} << 63;

// |v| without overflow: the magnitude of -2^63 is 2^63.
u64 magnitude(i64 v) { return v < 0 ? u64{0} - static_cast<u64>(v) : static_cast<u64>(v); }

// A magnitude of at most 2^63 with a sign, as a 64-bit amount (-2^63 included).
i64 withSign(u64 mag, bool negative) {
  return negative ? static_cast<i64>(u64{0} - mag) : static_cast<i64>(mag);
}

CUfCurrency make(i64 raw, CUfCurrency::UfCurrencyStatus status) {
  CUfCurrency c{CY{raw}};
  c.SetStatus(status);
  return c;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and assignment

CUfCurrency::CUfCurrency() : m_cur(0), m_status(valid) {}

CUfCurrency::CUfCurrency(long units, long fractionalUnits) : m_cur(0), m_status(valid) {
  SetCurrency(units, fractionalUnits);
}

CUfCurrency::CUfCurrency(std::int64_t whole) : m_cur(0), m_status(valid) { *this = whole; }

CUfCurrency::CUfCurrency(const CY& cy) : m_cur(cy.int64), m_status(valid) {}

CUfCurrency::CUfCurrency(const CUfCurrency& other) = default;

CUfCurrency CUfCurrency::FromHundredths(std::int64_t hundredths) {
  CUfCurrency c;
  c.m_status = __builtin_mul_overflow(hundredths, kScale / 100, &c.m_cur) ? invalid : valid;
  return c;
}
CUfCurrency& CUfCurrency::operator=(const CUfCurrency& other) = default;

CUfCurrency& CUfCurrency::operator=(std::int64_t whole) {
  // The product wraps (defined, no UB) and the status says it is not an amount.
  m_status = __builtin_mul_overflow(whole, kScale, &m_cur) ? invalid : valid;
  return *this;
}


void CUfCurrency::SetCurrency(long units, long fractionalUnits) {
  // u = |units| * 1.0000 with the sign of units, f = the fractional units with their own sign;
  // the amount is u + f. A whole part beyond the range makes u invalid, and an invalid operand
  // makes the sum 0/invalid.
  const u64 mag = magnitude(units);
  CUfCurrency u;
  if (mag > static_cast<u64>(kMax / kScale)) {
    u = make(kMin, invalid);
  } else {
    u = make(withSign(mag * static_cast<u64>(kScale), units < 0), valid);
  }
  *this = u + CUfCurrency(CY{fractionalUnits});
}


// ---------------------------------------------------------------------------------------------
// Reading

CUfCurrency::operator CY() const { return CY{m_cur}; }
CUfCurrency::operator double() const { return static_cast<double>(m_cur) * 0.0001; }
std::int64_t CUfCurrency::GetUnits() const { return m_cur / kScale; }
std::int32_t CUfCurrency::GetFractionalUnits() const {
  return static_cast<std::int32_t>(m_cur % kScale);
}

std::string CUfCurrency::GetString(int n) const {
  std::string text = m_cur < 0 ? "-" : "";
  text += std::to_string(magnitude(m_cur / kScale));
  const auto f = static_cast<long>(magnitude(m_cur % kScale));
  if (f == 0 && n <= 0) return text;
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04ld", f);
  if (n >= 0) {
    text.append(digits, static_cast<std::size_t>(n < 4 ? n : 4));
  } else {
    std::size_t len = 4;
    while (len > 0 && digits[len - 1] == '0') --len;
    text += '.';
    text.append(digits, len);
  }
  return text;
}

bool CUfCurrency::Round(int n) {
  static constexpr u64 kHalfStep[7] = {5000000, 500000, 50000, 5000, 500, 50, 5};
  if (n < -3 || n > 3) return false;
  const u64 h = kHalfStep[n + 3];
  const u64 sum = magnitude(m_cur) + h;  // at most 2^63 + 5000000: no wrap
  if (sum >= kTwo63) return false;
  const u64 rounded = sum / (2 * h) * (2 * h);
  m_cur = withSign(rounded, m_cur < 0);
  return true;
}

// ---------------------------------------------------------------------------------------------
// Arithmetic

CUfCurrency CUfCurrency::operator-() const {
  if (m_status != valid) return *this;
  if (m_cur == kMin) return make(kMin, invalid);
  return make(-m_cur, valid);
}

CUfCurrency operator+(const CUfCurrency& a, const CUfCurrency& b) {
  if (a.GetStatus() == CUfCurrency::invalid || b.GetStatus() == CUfCurrency::invalid)
    return make(0, CUfCurrency::invalid);
  i64 sum = 0;
  const bool overflow = __builtin_add_overflow(a.GetCurrency(), b.GetCurrency(), &sum);
  return make(sum, overflow ? CUfCurrency::invalid : CUfCurrency::valid);
}

CUfCurrency operator-(const CUfCurrency& a, const CUfCurrency& b) {
  if (a.GetStatus() == CUfCurrency::invalid || b.GetStatus() == CUfCurrency::invalid)
    return make(0, CUfCurrency::invalid);
  i64 diff = 0;
  const bool overflow = __builtin_sub_overflow(a.GetCurrency(), b.GetCurrency(), &diff);
  return make(diff, overflow ? CUfCurrency::invalid : CUfCurrency::valid);
}

CUfCurrency operator*(const CUfCurrency& a, const CUfCurrency& b) {
  const i64 x = a.GetCurrency();
  const i64 y = b.GetCurrency();
  const bool negative = (x < 0) != (y < 0);
  // The exact product plus half a unit; below 5000 * 2^64 its quotient by 10000 is below 2^63.
  const u128 sum = static_cast<u128>(magnitude(x)) * magnitude(y) + 5000;
  if (sum < (static_cast<u128>(5000) << 64))
    return make(withSign(static_cast<u64>(sum / 10000), negative), CUfCurrency::valid);
  // -2^63 times 1.0000 is itself; every other product of this size is out of range.
  if ((x == kMin && y == CUfCurrency::kScale) || (y == kMin && x == CUfCurrency::kScale))
    return make(kMin, CUfCurrency::valid);
  return make(kMin, CUfCurrency::invalid);
}

CUfCurrency operator/(const CUfCurrency& a, const CUfCurrency& b) {
  const i64 x = a.GetCurrency();
  const i64 y = b.GetCurrency();
  if (y == 0) return make(0, CUfCurrency::invalid);
  const bool negative = (x < 0) != (y < 0);
  // Twice the quotient, so that its lowest bit rounds the half up.
  const u128 twice = static_cast<u128>(magnitude(x)) * 20000;
  const u128 q = twice / magnitude(y);
  if (q >> 64) {
    // Only the exact quotient 2^63 with a negative sign fits: -2^63.
    if (negative && twice == static_cast<u128>(magnitude(y)) << 64)
      return make(kMin, CUfCurrency::valid);
    return make(kMin, CUfCurrency::invalid);
  }
  const u64 mag = static_cast<u64>(q / 2 + (q & 1));
  // A quotient rounding up to 2^63 fits as -2^63 but not as +2^63, which would wrap.
  if (mag == kTwo63 && !negative) return make(kMin, CUfCurrency::invalid);
  return make(withSign(mag, negative), CUfCurrency::valid);
}

CUfCurrency& CUfCurrency::operator+=(const CUfCurrency& other) { return *this = *this + other; }
CUfCurrency& CUfCurrency::operator-=(const CUfCurrency& other) { return *this = *this - other; }
CUfCurrency& CUfCurrency::operator*=(const CUfCurrency& other) { return *this = *this * other; }
CUfCurrency& CUfCurrency::operator/=(const CUfCurrency& other) { return *this = *this / other; }

// ---------------------------------------------------------------------------------------------
// Comparison

bool CUfCurrency::operator==(const CUfCurrency& other) const {
  return m_cur == other.m_cur && m_status == other.m_status;
}
bool CUfCurrency::operator!=(const CUfCurrency& other) const { return !(*this == other); }
bool CUfCurrency::operator<(const CUfCurrency& other) const { return m_cur < other.m_cur; }
bool CUfCurrency::operator>(const CUfCurrency& other) const { return m_cur > other.m_cur; }
bool CUfCurrency::operator<=(const CUfCurrency& other) const { return m_cur <= other.m_cur; }
bool CUfCurrency::operator>=(const CUfCurrency& other) const { return m_cur >= other.m_cur; }

// ---------------------------------------------------------------------------------------------
// Parser

namespace {

bool isSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Beyond this the whole part is out of any 64-bit range anyway; capping keeps the 128-bit
// arithmetic below exact.
constexpr i128 kWholeCap = static_cast<i128>(1000000000000000000LL) * 1000;  // 10^21

}  // namespace

CY str2currency(const char* text, int decimals, std::int64_t min, std::int64_t max) {
  const char* s = text ? text : "";

  // The leading whole number: white space, an optional sign, digits. Without digits nothing
  // is consumed and the whole part is 0 (as the C library's strtoll does).
  const char* p = s;
  while (isSpace(*p)) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  const char* end = s;
  i128 whole = 0;
  if (isDigit(*p)) {
    for (; isDigit(*p); ++p)
      if (whole < kWholeCap) whole = whole * 10 + (*p - '0');
    end = p;
  }
  // Computed in 128 bits: a whole part beyond the 64-bit amount stays large instead of
  // wrapping into a different price, and the range test below reports it.
  i128 value = (negative ? -whole : whole) * CUfCurrency::kScale;

  bool invalidText = false;
  if (decimals == 0) {
    if (*end == '.') {
      // The fraction: trailing white space and zeros dropped, then digits only.
      const char* f = end + 1;
      const char* fe = f + std::strlen(f);
      while (fe > f && isSpace(fe[-1])) --fe;
      while (fe > f && fe[-1] == '0') --fe;
      bool digitsOnly = true;
      for (const char* q = f; q < fe; ++q) digitsOnly = digitsOnly && isDigit(*q);
      if (!digitsOnly) {
        invalidText = true;
      } else {
        // Four decimal places; further digits are dropped, not rounded.
        i128 frac = 0;
        for (int k = 0; k < 4; ++k) frac = frac * 10 + (f + k < fe ? f[k] - '0' : 0);
        // The sign of the text applies to the fraction too ("-0.5" has the whole part 0).
        value += negative ? -frac : frac;
      }
    } else if (*end != '\0') {
      invalidText = true;
    }
  } else if (decimals > 0) {
    if (*end != '\0') {
      invalidText = true;
    } else {
      for (int k = 0; k < decimals && value != 0; ++k) value /= 10;
    }
  } else {
    invalidText = true;
  }

  if (invalidText) SetError(ERR_REAL_INVALID, s);
  if (value < min)
    SetError(ERR_REAL_BELOW, s);
  else if (value > max)
    SetError(ERR_REAL_ABOVE, s);

  // An amount outside the 64-bit range has no representation: the nearest end of the allowed
  // range stands in for it (the error already tells the caller).
  if (value < kMin) return CY{min};
  if (value > kMax) return CY{max};
  return CY{static_cast<i64>(value)};
}
