#include "drivers/skeleton/records.h"

#include <vector>

namespace quorvel::skeleton {

namespace {
constexpr std::string_view kHello = "HELLO";
constexpr std::string_view kOk = "OK ";
}  // namespace

std::string helloRequest() { return std::string(kHello) + kLineEnd; }

bool isHelloRequest(std::string_view line) { return line == kHello; }

std::string helloAnswer(std::string_view model) { return std::string(kOk) + std::string(model) + kLineEnd; }

std::optional<std::string> parseHelloAnswer(std::string_view line) {
  if (line.size() <= kOk.size() || line.substr(0, kOk.size()) != kOk) return std::nullopt;
  const std::string_view model = line.substr(kOk.size());
  for (const char c : model)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::nullopt;
  return std::string(model);
}

namespace {

constexpr std::string_view kPlu = "PLU\t";
constexpr std::string_view kErr = "ERR ";

// A number of at most 12 decimal digits, nothing else.
std::optional<long long> number(std::string_view s) {
  if (s.empty() || s.size() > 12) return std::nullopt;
  long long n = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  return n;
}

std::vector<std::string_view> fieldsOf(std::string_view line) {
  std::vector<std::string_view> fields;
  for (std::size_t tab; (tab = line.find('\t')) != std::string_view::npos; line.remove_prefix(tab + 1))
    fields.push_back(line.substr(0, tab));
  fields.push_back(line);
  return fields;
}

}  // namespace

std::string stateLine(const GoodsRecord& r) {
  std::string s(1, r.type);
  for (const std::string& f : {std::to_string(r.plu), r.name, r.barcode, std::to_string(r.unit), std::to_string(r.vat),
                               std::to_string(r.group), std::to_string(r.price), std::string(r.openPrice ? "1" : "0")})
    s += '\t' + f;
  return s;
}

std::optional<GoodsRecord> parseStateLine(std::string_view line) {
  const std::vector<std::string_view> f = fieldsOf(line);
  if (f.size() != 9 || f[0].size() != 1 || (f[0][0] != 'T' && f[0][0] != 'O') || (f[8] != "0" && f[8] != "1"))
    return std::nullopt;
  GoodsRecord r;
  r.type = f[0][0];
  const auto plu = number(f[1]), unit = number(f[4]), vat = number(f[5]), group = number(f[6]), price = number(f[7]);
  if (!plu || !unit || !vat || !group || !price || *plu > 999999999 || *unit > 999999999 || *vat > 999999999 ||
      *group > 999999999)
    return std::nullopt;
  for (const char c : f[2])
    if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
  r.plu = static_cast<long>(*plu);
  r.name = std::string(f[2]);
  r.barcode = std::string(f[3]);
  r.unit = static_cast<long>(*unit);
  r.vat = static_cast<long>(*vat);
  r.group = static_cast<long>(*group);
  r.price = *price;
  r.openPrice = f[8] == "1";
  return r;
}

std::string goodsRequest(const GoodsRecord& record) { return std::string(kPlu) + stateLine(record) + kLineEnd; }

std::optional<GoodsRecord> parseGoodsRequest(std::string_view line) {
  if (line.substr(0, kPlu.size()) != kPlu) return std::nullopt;
  return parseStateLine(line.substr(kPlu.size()));
}

std::string goodsAnswer(int refusal) {
  return (refusal == 0 ? std::string("OK") : std::string(kErr) + std::to_string(refusal)) + kLineEnd;
}

std::optional<int> parseGoodsAnswer(std::string_view line) {
  if (line == "OK") return 0;
  if (line.substr(0, kErr.size()) != kErr) return std::nullopt;
  const auto n = number(line.substr(kErr.size()));
  if (!n || *n == 0 || *n > 99) return std::nullopt;
  return static_cast<int>(*n);
}

}  // namespace quorvel::skeleton
