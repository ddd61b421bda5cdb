#include "drivers/elcom/records.h"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/cp1250.h"

namespace quorvel::elcom {

namespace {

// The register's codes for the Polish letters, in the order of their windows-1250 table
// (cp1250::kPolish).
constexpr unsigned char kDeviceLetters[18] = {0x7C, 0x7E, 0x80, 0x82, 0x84, 0x86, 0x88, 0x8A, 0x8C,
                                              0x7B, 0x7D, 0x7F, 0x81, 0x83, 0x85, 0x87, 0x89, 0x8B};

// Little-endian reading and writing over a record.
class Cursor {
 public:
  explicit Cursor(ByteView bytes) : bytes_(bytes) {}
  ByteView take(std::size_t n) {
    const ByteView v = bytes_.subspan(pos_, n);
    pos_ += n;
    return v;
  }
  std::uint16_t u16() {
    const ByteView v = take(2);
    return static_cast<std::uint16_t>(v[0] | (v[1] << 8));
  }
  std::uint32_t u32() {
    const ByteView v = take(4);
    return static_cast<std::uint32_t>(v[0]) | (static_cast<std::uint32_t>(v[1]) << 8) |
           (static_cast<std::uint32_t>(v[2]) << 16) | (static_cast<std::uint32_t>(v[3]) << 24);
  }
  double f64() {
    const ByteView v = take(8);
    std::uint64_t bits = 0;
    for (int i = 7; i >= 0; --i) bits = (bits << 8) | v[static_cast<std::size_t>(i)];
    return std::bit_cast<double>(bits);
  }

 private:
  ByteView bytes_;
  std::size_t pos_ = 0;
};

void putU16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void putU32(Bytes& b, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
void putF64(Bytes& b, double d) {
  const auto bits = std::bit_cast<std::uint64_t>(d);
  for (int i = 0; i < 8; ++i) b.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
}
void putAll(Bytes& b, const Bytes& more) { b.insert(b.end(), more.begin(), more.end()); }
void putZeros(Bytes& b, std::size_t n) { b.insert(b.end(), n, 0); }

}  // namespace

// ---- Numbers -------------------------------------------------------------------------------

std::uint32_t priceToWire(std::int64_t amount) {
  const std::int64_t whole = amount / 10000;
  const std::int64_t fraction = amount % 10000;
  return static_cast<std::uint32_t>(whole * 100 + fraction / 100);
}

bool priceFitsWire(std::int64_t amount) {
  const std::int64_t hundredths = amount / 100;
  return hundredths >= 0 && hundredths <= static_cast<std::int64_t>(std::numeric_limits<std::uint32_t>::max());
}

std::int64_t valueFromWire(double hundredths) {
  // The money range holds at most this many hundredths.
  constexpr double kLimit = static_cast<double>(std::numeric_limits<std::int64_t>::max() / 100 / 2);
  if (std::isnan(hundredths)) return 0;
  const double t = std::trunc(hundredths);
  const std::int64_t v = t >= kLimit ? static_cast<std::int64_t>(kLimit)
                         : t <= -kLimit ? -static_cast<std::int64_t>(kLimit)
                                        : static_cast<std::int64_t>(t);
  return (v / 100) * 10000 + (v % 100) * 100;
}

double valueToWire(std::int64_t amount) { return static_cast<double>(amount / 100); }

std::int64_t quantityFromWire(std::uint32_t thousandths) {
  return static_cast<std::int64_t>(thousandths / 1000) * 10000 + static_cast<std::int64_t>(thousandths % 1000) * 10;
}

std::uint32_t quantityToWire(std::int64_t amount) { return static_cast<std::uint32_t>(amount / 10); }

// ---- Barcodes and names ------------------------------------------------------------------

Bytes packBarcode(std::string_view text, std::size_t size) {
  Bytes out(size, 0);
  if (text.size() > 2 * size) text = text.substr(text.size() - 2 * size);
  // From the right end in pairs: the right character of a pair is the low nibble.
  std::size_t byte = size;
  for (std::size_t end = text.size(); end > 0 && byte > 0;) {
    const std::uint8_t low = static_cast<std::uint8_t>(text[end - 1]) & 0x0F;
    const std::uint8_t high = end >= 2 ? static_cast<std::uint8_t>(text[end - 2]) & 0x0F : 0;
    out[--byte] = static_cast<std::uint8_t>((high << 4) | low);
    end = end >= 2 ? end - 2 : 0;
  }
  return out;
}

std::string unpackBarcode(ByteView bytes) {
  std::string s;
  s.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    s.push_back(static_cast<char>('0' + (b >> 4)));
    s.push_back(static_cast<char>('0' + (b & 0x0F)));
  }
  const std::size_t first = s.find_first_not_of('0');
  return first == std::string::npos ? std::string() : s.substr(first);
}

char toDeviceChar(char c) {
  const int k = cp1250::polishLetterIndex(static_cast<unsigned char>(c));
  return k < 0 ? c : static_cast<char>(kDeviceLetters[k]);
}

char fromDeviceChar(char c) {
  for (int i = 0; i < cp1250::kPolishLetterCount; ++i)
    if (static_cast<unsigned char>(c) == kDeviceLetters[i]) return cp1250::kPolish.bytes[i];
  return c;
}

Bytes nameToDevice(std::string_view name, std::size_t size) {
  Bytes out(size, 0);
  const std::size_t n = name.size() < size ? name.size() : size;
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(toDeviceChar(name[i]));
  return out;
}

std::string nameFromDevice(ByteView bytes) {
  std::string s;
  for (std::uint8_t b : bytes)
    if (b != 0) s.push_back(static_cast<char>(b));
  while (!s.empty() && (s.back() == ' ' || (s.back() >= '\t' && s.back() <= '\r'))) s.pop_back();
  for (char& c : s) c = fromDeviceChar(c);
  return s;
}

std::string deletedName(std::int64_t kp) { return std::to_string(kp) + "usunięty"_cp; }

// ---- Attribute bytes -----------------------------------------------------------------------

std::uint8_t unitByte(std::optional<long> jm) {
  const long unit = jm ? *jm : 1;
  return static_cast<std::uint8_t>(static_cast<unsigned long>((unit - 1) * 32 + 0x18) & 0xFF);
}

std::uint8_t groupByte(bool openPrice, const std::optional<std::string>& group, bool deletion) {
  if (deletion) return 0;
  std::uint8_t b = openPrice ? 0x80 : 0;
  if (group) b |= static_cast<std::uint8_t>(std::strtol(group->c_str(), nullptr, 10) & 0x7F);
  return b;
}

std::optional<std::string> groupFromByte(std::uint8_t b) {
  if ((b & 0x7F) == 0) return std::nullopt;
  return std::to_string(b & 0x7F);
}

std::uint8_t taxByte(std::optional<long> va, bool priceNonZero, bool deletion) {
  if (deletion) return 0;
  const std::uint8_t index = va ? static_cast<std::uint8_t>(*va & 0x0F) : 0;
  return static_cast<std::uint8_t>((index << 4) | 0x0E | (priceNonZero ? 1 : 0));
}

// ---- Records -------------------------------------------------------------------------------

Bytes encodeSentPlu(std::uint16_t sequence, std::uint16_t code, const PluDefinition& plu, bool longRecords) {
  Bytes b;
  b.reserve(sentPluSize(longRecords));
  putU16(b, sequence);
  putU16(b, code);
  putAll(b, packBarcode(plu.barcode, barcodeSize(longRecords)));
  putAll(b, nameToDevice(plu.name, nameSize(longRecords)));
  b.push_back(plu.unit);
  b.push_back(plu.group);
  b.push_back(plu.tax);
  putU32(b, plu.price);
  return b;
}

namespace {

// The definition fields shared by a sent PLU record and a read-back definition.
void readDefinition(Cursor& c, bool longRecords, PluDefinition& plu) {
  plu.barcode = unpackBarcode(c.take(barcodeSize(longRecords)));
  plu.name = nameFromDevice(c.take(nameSize(longRecords)));
  plu.unit = c.take(1)[0];
  plu.group = c.take(1)[0];
  plu.tax = c.take(1)[0];
  plu.price = c.u32();
}

}  // namespace

int decodeSentPlu(ByteView record, bool longRecords, std::uint16_t& sequence, std::uint16_t& code, PluDefinition& plu) {
  if (record.size() != sentPluSize(longRecords)) return kBadData;
  Cursor c(record);
  sequence = c.u16();
  code = c.u16();
  readDefinition(c, longRecords, plu);
  return 0;
}

Bytes encodePluDefinition(const PluDefinition& plu, bool longRecords) {
  Bytes b;
  b.reserve(pluDefinitionSize(longRecords));
  putAll(b, packBarcode(plu.barcode, barcodeSize(longRecords)));
  putAll(b, nameToDevice(plu.name, nameSize(longRecords)));
  b.push_back(plu.unit);
  b.push_back(plu.group);
  b.push_back(plu.tax);
  putU32(b, plu.price);
  putZeros(b, 4);
  return b;
}

int decodePluDefinition(ByteView record, bool longRecords, PluDefinition& plu) {
  if (record.size() != pluDefinitionSize(longRecords)) return kBadData;
  Cursor c(record);
  readDefinition(c, longRecords, plu);
  return 0;
}

Bytes encodePackage(const CounterRecord& rec, bool longRecords) {
  Bytes b;
  b.reserve(packageSize(longRecords));
  putAll(b, packBarcode(rec.barcode, barcodeSize(longRecords)));
  putAll(b, nameToDevice(rec.name, nameSize(longRecords)));
  putZeros(b, 3);
  putU32(b, rec.price);
  putF64(b, rec.value);
  putU32(b, rec.quantity);
  putZeros(b, 4);
  return b;
}

int decodePackage(ByteView record, bool longRecords, CounterRecord& rec) {
  if (record.size() != packageSize(longRecords)) return kBadData;
  Cursor c(record);
  rec.barcode = unpackBarcode(c.take(barcodeSize(longRecords)));
  rec.name = nameFromDevice(c.take(nameSize(longRecords)));
  c.take(3);
  rec.price = c.u32();
  rec.value = c.f64();
  rec.quantity = c.u32();
  return 0;
}

Bytes encodePluSales(const CounterRecord& rec, bool longRecords) {
  Bytes b;
  b.reserve(pluSalesSize(longRecords));
  putU16(b, rec.index);
  putAll(b, encodePackage(rec, longRecords));
  return b;
}

int decodePluSales(ByteView record, bool longRecords, CounterRecord& rec) {
  if (record.size() != pluSalesSize(longRecords)) return kBadData;
  rec.index = static_cast<std::uint16_t>(record[0] | (record[1] << 8));
  return decodePackage(record.subspan(2), longRecords, rec);
}

Bytes encodePackagePrices(const PackagePrices& prices) {
  Bytes b;
  b.reserve(4 * prices.size());
  for (std::uint32_t p : prices) putU32(b, p);
  return b;
}

int decodePackagePrices(ByteView payload, PackagePrices& prices) {
  if (payload.size() != 4 * prices.size()) return kBadData;
  Cursor c(payload);
  for (std::uint32_t& p : prices) p = c.u32();
  return 0;
}

Bytes salesClearingPayload() { return Bytes{1}; }

int splitRecords(ByteView payload, std::size_t prefix, std::size_t recordSize, std::vector<ByteView>& records) {
  records.clear();
  if (payload.size() < prefix || recordSize == 0 || (payload.size() - prefix) % recordSize != 0) return kBadData;
  for (std::size_t at = prefix; at < payload.size(); at += recordSize) records.push_back(payload.subspan(at, recordSize));
  return 0;
}

}  // namespace quorvel::elcom
