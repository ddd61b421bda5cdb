// Feeds arbitrary text to the value parsers and checks what must hold for any input: results
// stay within their ranges when no error is reported, text forms parse back to the same value,
// and money arithmetic agrees with a 128-bit reference.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/currency.h"
#include "core/datetime.h"
#include "core/encoding.h"
#include "core/error_state.h"

namespace {

using i64 = std::int64_t;
using i128 = __int128;
constexpr i64 kMin = INT64_MIN;
constexpr i64 kMax = INT64_MAX;

void check(bool ok, const char* what) {
  if (!ok) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
  }
}

CUfCurrency raw(i64 v) { return CUfCurrency(CY{v}); }

i128 abs128(i128 v) { return v < 0 ? -v : v; }

void checkMoneyArithmetic(i64 a, i64 b) {
  // Product: exact, rounded half away from zero, valid exactly when it fits (or -2^63 * 1.0).
  const CUfCurrency p = raw(a) * raw(b);
  const i128 exact = static_cast<i128>(a) * b;
  const i128 mag = (abs128(exact) + 5000) / 10000;
  const i128 ref = exact < 0 ? -mag : mag;
  if (mag < (static_cast<i128>(1) << 63)) {
    check(p.GetStatus() == CUfCurrency::valid && p.GetCurrency() == static_cast<i64>(ref), "product");
  } else if (p.GetStatus() == CUfCurrency::valid) {
    check(p.GetCurrency() == kMin && ref == kMin, "product at -2^63");
  } else {
    check(p.GetCurrency() == kMin, "product overflow value");
  }

  // Quotient: rounded half up in magnitude; valid exactly when it fits.
  const CUfCurrency q = raw(a) / raw(b);
  if (b == 0) {
    check(q.GetStatus() == CUfCurrency::invalid && q.GetCurrency() == 0, "division by zero");
  } else {
    const i128 num = abs128(static_cast<i128>(a)) * 10000;
    const i128 den = abs128(b);
    i128 qm = num / den;
    if ((num % den) * 2 >= den) ++qm;
    const bool negative = (a < 0) != (b < 0);
    const i128 qref = negative ? -qm : qm;
    // Twice the quotient at 2^64 or more overflows unless it is exactly 2^64 and negative.
    const i128 twice = num * 2 / den;
    const bool exactEdge =
        negative && static_cast<unsigned __int128>(num * 2) == static_cast<unsigned __int128>(den) << 64;
    if (qref >= kMin && qref <= kMax && (twice < (static_cast<i128>(1) << 64) || exactEdge))
      check(q.GetStatus() == CUfCurrency::valid && q.GetCurrency() == static_cast<i64>(qref), "quotient");
    else
      check(q.GetStatus() == CUfCurrency::invalid && q.GetCurrency() == kMin, "quotient overflow");
  }

  // Sum and difference: valid exactly when the exact result fits.
  const i128 s = static_cast<i128>(a) + b;
  const CUfCurrency sum = raw(a) + raw(b);
  check((sum.GetStatus() == CUfCurrency::valid) == (s >= kMin && s <= kMax), "sum status");
  if (sum.GetStatus() == CUfCurrency::valid) check(sum.GetCurrency() == static_cast<i64>(s), "sum");
  const i128 d = static_cast<i128>(a) - b;
  const CUfCurrency diff = raw(a) - raw(b);
  check((diff.GetStatus() == CUfCurrency::valid) == (d >= kMin && d <= kMax), "difference status");
}

void checkRound(i64 v) {
  static constexpr i64 kStep[7] = {10000000, 1000000, 100000, 10000, 1000, 100, 10};
  for (int n = -3; n <= 3; ++n) {
    CUfCurrency c = raw(v);
    const i64 step = kStep[n + 3];
    const i128 ref = (abs128(v) + step / 2) / step * step;
    const bool fits = abs128(v) + step / 2 < (static_cast<i128>(1) << 63);
    check(c.Round(n) == fits, "round success");
    if (fits) check(abs128(c.GetCurrency()) == ref && (c.GetCurrency() < 0) == (v < 0 && ref != 0), "round value");
    else check(c.GetCurrency() == v, "failed round leaves the value");
  }
}

void checkMoneyText(const char* text, int decimals, i64 min, i64 max) {
  ClearError("");
  const CY v = str2currency(text, decimals, min, max);
  const int err = GetErrorNum();
  check(err == 0 || err == ERR_REAL_INVALID || err == ERR_REAL_BELOW || err == ERR_REAL_ABOVE,
        "currency error number");
  if (err == 0) check(v.int64 >= min && v.int64 <= max, "currency within range");

  const CUfCurrency c(v);
  ClearError("");
  check(str2currency(c.GetString(-1).c_str(), 0).int64 == v.int64, "GetString(-1) parses back");
  check(str2currency(c.GetString(4).c_str(), 4).int64 == v.int64, "GetString(4) parses back");
  check(GetErrorNum() == 0, "text form parses without error");
  const std::string hundredths = c.GetString(2);
  ClearError("");
  const i64 truncated = v.int64 / 100 * 100;
  check(str2currency(hundredths.c_str(), 2).int64 == truncated, "GetString(2) is truncated hundredths");
}

void checkIntegers(const char* text, i64 bounds) {
  const long lo = static_cast<long>(bounds % 100000);
  const long hi = lo + static_cast<long>((bounds >> 20) & 0xFFFFF);
  ClearError("");
  const long i = str2i(text, lo, hi);
  if (GetErrorNum() == 0) check(i >= lo && i <= hi, "str2i within range");
  else check(GetErrorNum() >= ERR_INT_INVALID && GetErrorNum() <= ERR_INT_ABOVE, "str2i error number");
  if (GetErrorNum() == 0) {
    ClearError("");
    check(str2i(i2str(static_cast<int>(i)).c_str(), lo, hi) == i && GetErrorNum() == 0, "i2str parses back");
  }

  const unsigned long ulo = static_cast<unsigned long>(bounds & 0xFFFF);
  const unsigned long uhi = (bounds & 0x10000) ? 0 : ulo + static_cast<unsigned long>((bounds >> 24) & 0xFFFFFF);
  ClearError("");
  const unsigned long u = str2u(text, ulo, uhi);
  if (GetErrorNum() == 0) check(u >= ulo && (uhi == 0 || u <= uhi), "str2u within range");
  if (std::strchr(text, '-') != nullptr && GetErrorNum() == 0) check(u == 0, "negative str2u");

  ClearError("");
  const bool b = str2b(text);
  check(GetErrorNum() == 0 || !b, "str2b false on error");
  ClearError("");
  const char t = str2typ(text);
  check(t == 'O' || t == 'T' || (t == ' ' && GetErrorNum() == ERR_GOODS_TYPE), "str2typ");
  ClearError("");
  const char k = str2typDok(text);
  check(std::strchr("PFR", k) != nullptr || (k == ' ' && GetErrorNum() == ERR_DOCUMENT_TYPE), "str2typDok");
}

void checkDate(const char* text) {
  ClearError("");
  const CDateTime d = str2date(text);
  const int err = GetErrorNum();
  check(err == 0 || err == ERR_DATE_INVALID, "date error number");
  if (err == 0) {
    check(d.GetYear() >= 1900 && d.GetYear() <= 3000, "year range");
    check(d.GetMonth() >= 1 && d.GetMonth() <= 12, "month range");
    check(d.GetDay() >= 1 && d.GetDay() <= 31, "day range");
    const std::string s = d.GetString();
    const CDateTime back = str2date(s.c_str());
    check(GetErrorNum() == 0 && back.GetString() == s, "date text parses back");
  }
}

void checkConversions(const char* text, int n) {
  static const CEncoding cp852("\xA5\x86\xA9\x88\xE4\xA2\x98\xAB\xBE\xA4\x8F\xA8\x9D\xE3\xE0\x97\x8D\xBD", "", "");
  const std::size_t len = std::strlen(text);
  const std::size_t want = n < 0 ? 0 : (static_cast<std::size_t>(n) < len ? static_cast<std::size_t>(n) : len);
  const std::string dev = internal2dev(text, cp852, n);
  check(dev.size() == want, "internal2dev length");
  check(dev2internal(text, cp852, n).size() == want, "dev2internal length");
  check(utf2cp1250(text, n).size() <= want, "utf2cp1250 length");
  // Text made only of Polish letters and ASCII comes back unchanged.
  bool plain = true;
  for (std::size_t i = 0; i < want; ++i)
    plain = plain && (static_cast<unsigned char>(text[i]) < 0x80 || polishLetters.Find(text[i], 0) >= 0);
  if (plain) check(dev2internal(dev.c_str(), cp852, n) == std::string(text, want), "round trip");
  char buf[16];
  strCopy(buf, text, 1 + n % 16);
  check(std::strlen(buf) <= static_cast<std::size_t>(n % 16), "strCopy terminates");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // zero-terminated copy
  const char* s = text.c_str();

  // Numbers drawn from the input for arithmetic and ranges.
  i64 a = 0, b = 0;
  if (size >= 16) {
    std::memcpy(&a, data, 8);
    std::memcpy(&b, data + 8, 8);
  }
  checkMoneyArithmetic(a, b);
  checkRound(a);

  ClearError("");
  const i64 parsed = str2currency(s, 0).int64;
  checkMoneyArithmetic(parsed, b);
  checkRound(parsed);

  const int decimals = size ? data[0] % 7 - 1 : 0;
  checkMoneyText(s, 0, kMin, kMax);
  checkMoneyText(s, 2, kMin, kMax);
  checkMoneyText(s, decimals, kMin, kMax);
  const i64 lo = a % 1000000000, hi = lo + (b < 0 ? -(b / 2) : b / 2);
  checkMoneyText(s, decimals, lo, hi);

  checkIntegers(s, a);
  checkDate(s);
  checkConversions(s, size ? data[size - 1] % 40 : 0);
  ClearError("");
  return 0;
}
