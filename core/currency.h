// Money: a signed 64-bit amount in units of 1/10000 with a valid/invalid status.
//
// Every price, amount and quantity of the system is a CUfCurrency, and the plug-ins use the
// very same arithmetic and text forms through the core's exports. Arithmetic never throws and
// never overflows silently: overflow and division by zero leave the status invalid.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "platform/api.h"

// The OLE currency layout: the same 64-bit amount in units of 1/10000.
struct CY {
  std::int64_t int64;
};

class QUORVEL_API CUfCurrency {
 public:
  enum UfCurrencyStatus : std::int32_t { valid = 0, invalid = 1 };

  static constexpr std::int64_t kScale = 10000;

  CUfCurrency();                                   // 0, valid
  CUfCurrency(long units, long fractionalUnits);   // as SetCurrency
  CUfCurrency(std::int64_t whole);                 // whole * 10000; invalid when it does not fit
  CUfCurrency(const CY& cy);                       // raw amount, valid
  CUfCurrency(const CUfCurrency& other);

  // An amount counted in hundredths (a register's price field): hundredths * 100, invalid
  // when that does not fit.
  static CUfCurrency FromHundredths(std::int64_t hundredths);

  CUfCurrency& operator=(const CUfCurrency& other);
  CUfCurrency& operator=(std::int64_t whole);
  CUfCurrency& operator=(const CY& cy) {
    m_cur = cy.int64;
    m_status = valid;
    return *this;
  }

  // Value := units * 10000 + fractionalUnits, each part with its own sign; the fractional part
  // is not limited to four digits (1, 15000 gives 2.5000). Invalid on overflow.
  void SetCurrency(long units, long fractionalUnits);
  void SetStatus(UfCurrencyStatus status) { m_status = status; }

  operator CY() const;
  // Explicit so that mixed expressions such as price + 1 stay in exact fixed-point arithmetic.
  explicit operator double() const;

  std::int64_t GetCurrency() const { return m_cur; }      // raw amount in 1/10000
  std::int64_t GetUnits() const;         // amount / 10000, truncated toward zero
  std::int32_t GetFractionalUnits() const;  // amount % 10000 with the amount's sign
  UfCurrencyStatus GetStatus() const { return m_status; }

  // Text form. n >= 0: the amount in units of 10^-n truncated toward zero, written as an integer
  // without a point (n = 2: 12.3456 -> "1234", 0.5 -> "050"). n < 0: the amount with a point and
  // no trailing zeros ("12.34", "-0.5", "7").
  std::string GetString(int n) const;

  // Rounds in place to n decimal places (-3..3), half away from zero; false (untouched) when n is
  // out of range or the rounded amount would not fit. The status is kept.
  bool Round(int n);

  CUfCurrency operator-() const;
  CUfCurrency& operator+=(const CUfCurrency& other);
  CUfCurrency& operator-=(const CUfCurrency& other);
  CUfCurrency& operator*=(const CUfCurrency& other);
  CUfCurrency& operator/=(const CUfCurrency& other);

  // Equal when both the amount and the status are equal.
  bool operator==(const CUfCurrency& other) const;
  bool operator!=(const CUfCurrency& other) const;
  // Ordering compares the amounts alone.
  bool operator<(const CUfCurrency& other) const;
  bool operator>(const CUfCurrency& other) const;
  bool operator<=(const CUfCurrency& other) const;
  bool operator>=(const CUfCurrency& other) const;

 private:
  std::int64_t m_cur;
  UfCurrencyStatus m_status;
};

// Invalid operands give 0/invalid; otherwise the sum, invalid on overflow.
QUORVEL_API CUfCurrency operator+(const CUfCurrency& a, const CUfCurrency& b);
QUORVEL_API CUfCurrency operator-(const CUfCurrency& a, const CUfCurrency& b);
// Exact product rounded half away from zero; statuses of the operands are not consulted.
QUORVEL_API CUfCurrency operator*(const CUfCurrency& a, const CUfCurrency& b);
// Quotient rounded half up in magnitude; division by 0 gives 0/invalid.
QUORVEL_API CUfCurrency operator/(const CUfCurrency& a, const CUfCurrency& b);

// Decimal text to a raw amount (1/10000). decimals == 0: a decimal number ("12.5", " -3.25");
// decimals > 0: a whole number counting 10^-decimals units ("1250" with 2 is 12.50).
// min and max are raw amounts. Errors: 12 invalid text, 13 below min, 14 above max (also for
// a whole part too large for the 64-bit amount), with the whole text as detail. Always
// returns a value, within [min, max] whenever the text's number is outside the 64-bit range.
QUORVEL_API CY str2currency(const char* text, int decimals,
                            std::int64_t min = std::numeric_limits<std::int64_t>::min(),
                            std::int64_t max = std::numeric_limits<std::int64_t>::max());
