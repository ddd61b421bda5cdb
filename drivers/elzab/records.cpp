#include "drivers/elzab/records.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>

#include "core/currency.h"
#include "drivers/elzab/limits.h"
#include "platform/cp1250.h"
#include "plugin/config_store.h"

namespace quorvel::elzab {

void scramblePassword(char* text, std::size_t size) {
  for (std::size_t i = 0; i < size && text[i] != 0; ++i)
    text[i] = static_cast<char>(static_cast<unsigned char>(text[i]) ^ static_cast<unsigned char>((14 * i) % 256));
}

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view trimmedRight(std::string_view s) {
  while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
  return s;
}

// A text bound for a field of a data line: a control character (a tab above all, which would
// start another field, or a line break, which would start another record) becomes a blank.
std::string lineSafe(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return out;
}

// "%013s" as the register's barcode field takes it: at least 13 characters, "0" in front.
std::string zeroPadded13(std::string_view code) {
  std::string out = lineSafe(code);
  if (out.size() < 13) out.insert(0, 13 - out.size(), '0');
  return out;
}

// The leading number of a text: white space, a sign, digits; a number of more digits than any
// 64-bit value holds is marked as too large rather than wrapped.
struct Leading {
  bool digits = false;
  bool negative = false;
  bool huge = false;
  std::uint64_t magnitude = 0;
};

Leading leading(std::string_view s) {
  Leading r;
  std::size_t i = 0;
  while (i < s.size() && isBlank(s[i])) ++i;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) r.negative = s[i++] == '-';
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
    r.digits = true;
    const auto d = static_cast<std::uint64_t>(s[i] - '0');
    if (r.magnitude > (std::numeric_limits<std::uint64_t>::max() - d) / 10)
      r.huge = true;
    else if (!r.huge)
      r.magnitude = r.magnitude * 10 + d;
  }
  return r;
}

// The leading number within [min, max]; a fault names the field when it has none (only when
// `required`), or when the number lies outside.
std::optional<FieldFault> numberIn(std::string_view field, std::int64_t min, std::int64_t max, bool required,
                                   std::int64_t& value) {
  const Leading l = leading(field);
  value = 0;
  if (!l.digits) {
    if (required) return FieldFault{FieldFault::kNotNumber, std::string(field)};
    return std::nullopt;
  }
  constexpr auto kMaxMagnitude = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (l.huge || l.magnitude > kMaxMagnitude + (l.negative ? 1 : 0))
    return FieldFault{l.negative ? FieldFault::kBelowRange : FieldFault::kAboveRange, std::string(field)};
  const std::int64_t v = l.negative ? static_cast<std::int64_t>(0 - l.magnitude) : static_cast<std::int64_t>(l.magnitude);
  if (v < min) return FieldFault{FieldFault::kBelowRange, std::string(field)};
  if (v > max) return FieldFault{FieldFault::kAboveRange, std::string(field)};
  value = v;
  return std::nullopt;
}

constexpr std::int64_t kInt32Min = std::numeric_limits<std::int32_t>::min();
constexpr std::int64_t kInt32Max = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kUint32Max = std::numeric_limits<std::uint32_t>::max();

std::string plain(const char* field, std::size_t size) { return plugin::fieldText(field, size); }

}  // namespace

// ---- Configuration files -------------------------------------------------------------------

int comPortNumber(std::string_view port) {
  if (port.size() < 3 || port.substr(0, 3) != "COM") return 0;
  const Leading l = leading(port.substr(3));
  // Only digits count: no blanks or sign before them.
  if (port.size() == 3 || port[3] < '0' || port[3] > '9' || l.huge) return 0;
  return l.magnitude >= 1 && l.magnitude <= 4 ? static_cast<int>(l.magnitude) : 0;
}

MuxSetting konfigMux(const SUConfig& c) {
  MuxSetting m{0, 1};
  if (c.muxOn == 1) {
    switch (c.muxType) {
      case kMuxElzab4x: m = {1, c.muxChannel}; break;
      case kMuxElzab8x: m = {4, c.muxChannel}; break;
      case kMuxElzab2mx: m = {3, c.muxChannel}; break;
      default: break;  // Falwi and MPX4s are switched by the plug-in itself at load
    }
  }
  if (c.modemOn == 1) {
    m.code = 2;
    if (c.connector == 5) m.channel += 4;
  }
  return m;
}

KonfigLine konfigLine(const SUConfig& c) {
  KonfigLine k;
  if (c.registerNumber < 1 || c.registerNumber > 99) {
    k.refusal = "Nieprawidłowy numer kasy. Dopuszczalne wartości to 1-99."_cp;
    return k;
  }
  const int com = comPortNumber(plain(c.port, sizeof c.port));
  if (com == 0) {
    k.refusal = "Nieprawidłowa nazwa portu szeregowego. Dopuszczalne wartości to COM1-COM4."_cp;
    return k;
  }
  if (c.speed != 9600 && c.speed != 19200) {
    k.refusal = "Nieprawidłowa prędkość transmisji. Dopuszczalne wartości to 9600 lub 19200."_cp;
    return k;
  }
  if (c.muxOn == 1) {
    const int limit = muxChannelLimit(c.muxType);
    if (c.muxChannel < 1 || c.muxChannel > limit) {
      char text[160];
      std::snprintf(text, sizeof text, "Nieprawidłowy numer kanału multipleksera. Dopuszczalne wartości to 1-%d."_cp, limit);
      k.refusal = text;
      return k;
    }
  }
  const MuxSetting mux = konfigMux(c);
  char text[128];
  std::snprintf(text, sizeof text, "$%d\tCOM%d:%d:MUX%d:%d\t%d", static_cast<int>(c.registerNumber), com,
                static_cast<int>(c.speed), mux.code, mux.channel, static_cast<int>(c.timeout));
  k.line = text;
  if (c.modemOn == 1) {
    const std::string phone(trimmed(plain(c.phone, sizeof c.phone)));
    if (phone.empty()) {
      k.refusal = "Brak numeru telefonu dla połączenia modemowego."_cp;
      return k;
    }
    char password[sizeof c.password + 1] = {};
    std::memcpy(password, c.password, sizeof c.password);
    scramblePassword(password, sizeof c.password);
    char numbers[64];
    std::snprintf(numbers, sizeof numbers, ":%d:%d:%d", static_cast<int>(c.timeout1), static_cast<int>(c.timeout2),
                  static_cast<int>(c.repeatCount));
    k.line += "\tELZAB\tT" + phone + ":" + password + numbers;
  }
  return k;
}

const std::string& skonfigText() {
  static const std::string text =
      "$0DH:0AH\n$KONFIG.TXT\n$RAPORT.TXT\n$KOMENT.TXT\n$MODKONF.TXT\n$ECRTBUF.TXT\n$0:0\n"
      "$0\n$0\n$1\n$0\n$0\n$0\n$1\n";
  return text;
}

const std::string& modkonfText() {
  static const std::string text =
      ";Configuration file for modems: PROLINK & ActionTec\n"
      ";\n"
      ";load factory default configuration\n"
      "$AT&F0\n"
      ";set no auto answer\n"
      "$ATS0=0\n"
      ";set escape character guard time \n"
      "$ATS12=0\n"
      ";set volume speaker level\n"
      "$ATL1\n"
      ";set automatic rate negotiation\n"
      "$ATN1\n"
      ";set speaker on until carrier detected\n"
      "$ATM1\n"
      ";result message all responses + dial tone + busy signal detection\n"
      "$ATX4\n"
      ";set V.42 data link\n"
      "$AT&Q5\n"
      ";force CTS on\n"
      "$AT&R1\n"
      ";set DSR always on\n"
      "$AT&S0\n"
      ";result codes enable\n"
      "$ATQ0\n"
      ";command echo enable\n"
      "$ATE1\n"
      ";set text responses\n"
      "$ATV1\n"
      ";enable RTS/CTS hardware flow control\n"
      "$AT&K3\n"
      ";DTR signal ignored\n"
      "$AT&D0\n"
      ";turn on Carrier Detect (CD) when remote carrier is present\n"
      "$AT&C1\n";
  return text;
}

// Lines are put together by appending: GCC 12 at -O3 misreads the temporaries of a chain of
// operator+ that starts with a literal and warns of an overlapping copy.
namespace {
std::string joined(std::initializer_list<std::string_view> parts) {
  std::size_t size = 0;
  for (std::string_view p : parts) size += p.size();
  std::string out;
  out.reserve(size);
  for (std::string_view p : parts) out.append(p);
  return out;
}
}  // namespace

std::string inputHeader(std::int32_t registerNumber) {
  return joined({"#", std::to_string(registerNumber), "\n#\n#\n"});
}

// ---- Data lines ------------------------------------------------------------------------------

const CEncoding& deviceEncoding() {
  static const CEncoding encoding("\xA5\x86\xA9\x88\xE4\xA2\x98\xAB\xBE\xA4\x8F\xA8\x9D\xE3\xE0\x97\x8D\xBD", "", "");
  return encoding;
}

std::string goodsLine(const CTowar& t) {
  std::string name = internal2dev(lineSafe(t.Na).c_str(), deviceEncoding(), kNameLength);
  if (name.size() < kNameLength) name.append(kNameLength - name.size(), ' ');
  char head[96];
  std::snprintf(head, sizeof head, "$%u\t", static_cast<unsigned>(t.KP));
  char middle[96];
  std::snprintf(middle, sizeof middle, "\t%d\t%d\t3\t%d\t0\t", static_cast<int>(t.Va),
                t.Gr_brak ? 1 : static_cast<int>(t.Gr), static_cast<int>(t.JM));
  return joined({head, name, middle, zeroPadded13(t.KK_brak ? std::string_view() : std::string_view(t.KK)), "\t",
                 t.Ce[0].GetString(2), "\t", t.Ty == 'O' ? "1" : "0", "\n"});
}

std::string pluLine(const CTowar& t) { return joined({"$", std::to_string(t.KP), "\n"}); }

std::string extraBarcodeLines(const CTowar& t) {
  std::string lines;
  if (t.DK_brak) return lines;
  for (const std::string& code : furtherBarcodesOf(t.DK))
    lines += joined({"$", std::to_string(t.KP), "\t", zeroPadded13(code), "\n"});
  return lines;
}

std::string linkLine(const CTowar& t) {
  // KO must be the PLU number of a packaging, nothing less and nothing more: a text that is
  // not one is never read as some other number.
  const std::string_view ko = t.KO;
  if (ko.empty() || ko.size() > 9 || !std::all_of(ko.begin(), ko.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::string();
  const long value = std::stol(std::string(ko));
  if (value < kPluMin || value > kPluMax) return std::string();
  return joined({"$", std::to_string(t.KP), "\t", std::to_string(value), "\n"});
}

// ---- Result files --------------------------------------------------------------------------

void RecordFields::split(std::string_view line) {
  fields_.clear();
  if (!line.empty() && line.front() == '$') line.remove_prefix(1);
  std::size_t at = 0;
  while (at < line.size()) {
    const std::size_t tab = line.find('\t', at);
    const std::size_t end = tab == std::string_view::npos ? line.size() : tab;
    // A run of tabs is one separator: no field is ever empty before its trailing blanks go.
    if (end > at) fields_.push_back(trimmedRight(line.substr(at, end - at)));
    at = end + 1;
  }
}

ResultParser::Stop ResultParser::takeLine(std::string_view raw) {
  ++line_;
  if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
  if (raw.size() > kMaxLineLength) return stop_ = Stop::kTooLong;
  const std::string_view text = trimmed(raw);
  // WinIP writes text, comments included: a NUL would end a field early as it is converted,
  // a CR inside a line means a file whose lines lack their LF, and neither may pass for data.
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t') || byte == 0x7F) {
      controlByte_ = byte;
      return stop_ = Stop::kControl;
    }
  }
  if (text.empty() || text.front() == ';') return Stop::kNone;
  if (headerLines_ < 3) {
    if (text.front() != '#') return stop_ = Stop::kSyntax;
    ++headerLines_;
    return Stop::kNone;
  }
  // After the header every line is a record; one that does not begin with '$' is not what
  // WinIP writes, and reading its text from the second character on would make a wrong record.
  if (text.front() != '$') return stop_ = Stop::kSyntax;
  fields_.split(text);
  ++records_;
  if (onRecord_(line_, fields_) != 0) return stop_ = Stop::kStopped;
  return Stop::kNone;
}

ResultParser::Stop ResultParser::feed(std::string_view bytes) {
  while (stop_ == Stop::kNone && !bytes.empty()) {
    const std::size_t lf = bytes.find('\n');
    const std::string_view piece = bytes.substr(0, lf);
    if (lf == std::string_view::npos) {
      // The line goes on in the next piece. Longer than the longest line and its CR: it is
      // too long whatever follows, and nothing more of it is kept.
      if (pending_.size() + piece.size() > kMaxLineLength + 1) {
        ++line_;
        return stop_ = Stop::kTooLong;
      }
      pending_.append(piece);
      return stop_;
    }
    bytes.remove_prefix(lf + 1);
    if (pending_.empty()) {
      takeLine(piece);
    } else {
      if (pending_.size() + piece.size() > kMaxLineLength + 1) {
        ++line_;
        return stop_ = Stop::kTooLong;
      }
      pending_.append(piece);
      const std::string whole = std::move(pending_);
      pending_.clear();
      takeLine(whole);
    }
  }
  return stop_;
}

ResultParser::Stop ResultParser::finish() {
  if (stop_ == Stop::kNone && !pending_.empty()) {
    const std::string whole = std::move(pending_);
    pending_.clear();
    takeLine(whole);
  }
  // WinIP always writes the header: a file without it (empty, or comments only) is damaged,
  // not a register without data.
  if (stop_ == Stop::kNone && headerLines_ < 3) stop_ = Stop::kNoHeader;
  return stop_;
}

std::optional<std::int64_t> leadingNumber(std::string_view field, std::int64_t min, std::int64_t max) {
  std::int64_t value = 0;
  if (numberIn(field, min, max, true, value)) return std::nullopt;
  return value;
}

std::string_view withoutLeadingZeros(std::string_view field) {
  while (!field.empty() && field.front() == '0') field.remove_prefix(1);
  return field;
}

std::optional<std::uint32_t> pluValue(std::string_view field) {
  const auto v = leadingNumber(field, 0, kUint32Max);
  if (!v) return std::nullopt;
  return static_cast<std::uint32_t>(*v);
}

std::optional<FieldFault> requireFields(const RecordFields& f, std::size_t count) {
  if (f.size() < count) return FieldFault{FieldFault::kMissing, std::string()};
  return std::nullopt;
}

std::optional<FieldFault> goodsFromRecord(const RecordFields& f, CTowar& out) {
  out.zero();
  std::int64_t plu = 0, vat = 0, group = 0, unit = 0;
  if (auto fault = numberIn(f[0], 0, kUint32Max, true, plu)) return fault;
  if (auto fault = requireFields(f, 10)) return fault;
  if (auto fault = numberIn(f[2], kInt32Min, kInt32Max, false, vat)) return fault;
  if (auto fault = numberIn(f[3], kInt32Min, kInt32Max, false, group)) return fault;
  if (auto fault = numberIn(f[5], kInt32Min, kInt32Max, false, unit)) return fault;
  out.UstawKP(static_cast<std::uint32_t>(plu));
  out.UstawNa(dev2internal(std::string(f[1]).c_str(), deviceEncoding(), kNoLimit));
  out.UstawVa(static_cast<std::int32_t>(vat));
  out.UstawGr(static_cast<std::int32_t>(group));
  out.UstawJM(static_cast<std::int32_t>(unit));
  const std::string_view code = withoutLeadingZeros(f[7]);
  if (!code.empty()) out.UstawKK(code);
  out.UstawCe(0, CUfCurrency(str2currency(std::string(f[8]).c_str(), 2)));
  out.UstawTy(f[9] == "1" ? 'O' : 'T');
  return std::nullopt;
}

std::optional<FieldFault> salesFromRecord(const RecordFields& f, char typ, CTowar& out) {
  out.zero();
  std::int64_t plu = 0;
  if (auto fault = numberIn(f[0], 0, kUint32Max, true, plu)) return fault;
  if (auto fault = requireFields(f, 3)) return fault;
  out.UstawIdUF(withoutLeadingZeros(f[0]));
  out.UstawKP(static_cast<std::uint32_t>(plu));
  out.UstawIlość(CUfCurrency(str2currency(std::string(f[1]).c_str(), 0)));
  out.UstawWartość(CUfCurrency(str2currency(std::string(f[2]).c_str(), 2)));
  out.UstawTy(typ);
  return std::nullopt;
}

}  // namespace quorvel::elzab
