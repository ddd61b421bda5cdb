#include "drivers/posnet/records.h"

#include <cstring>
#include <limits>

#include "core/currency.h"
#include "core/records.h"
#include "platform/cp1250.h"

namespace quorvel::posnet {

namespace {

// Builds the description of a bad record: "towar PLU 12: ...".
class Problem {
 public:
  Problem(const char* record, std::uint16_t plu) : record_(record), plu_(plu) {}

  MapResult unterminated(const char* field, std::size_t size) const {
    return bad(std::string(field) + " nie mieści się w buforze "_cp + std::to_string(size) + " bajtów (brak znaku końca)"_cp);
  }
  MapResult notNumber(const char* field, std::string_view text) const {
    return bad(std::string(field) + " \"" + printable(text) + "\" nie jest liczbą"_cp);
  }
  MapResult badPlu() const { return {Mapped::bad, std::string(record_) + ": numer PLU 0 poza zakresem"_cp}; }
  MapResult bad(const std::string& what) const {
    return {Mapped::bad, std::string(record_) + " PLU " + std::to_string(plu_) + ": " + what};
  }

 private:
  // Control bytes of a broken buffer are shown as '?'.
  static std::string printable(std::string_view text) {
    std::string out(text);
    for (char& c : out)
      if (static_cast<unsigned char>(c) < 0x20) c = '?';
    return out;
  }

  const char* record_;
  std::uint16_t plu_;
};

template <std::size_t N>
std::optional<std::string_view> textOf(const char (&buffer)[N]) {
  return bufferText(buffer, N);
}

// Reads the text field; on failure stores the problem in `result` and returns nullopt.
template <std::size_t N>
std::optional<std::string_view> field(const char (&buffer)[N], const char* name, const Problem& p, MapResult& result) {
  auto text = textOf(buffer);
  if (!text) result = p.unterminated(name, N);
  return text;
}

// A number field as a money value, or the problem.
template <std::size_t N>
std::optional<CUfCurrency> numberField(const char (&buffer)[N], int decimals, const char* name, const Problem& p,
                                       MapResult& result) {
  const auto text = field(buffer, name, p, result);
  if (!text) return std::nullopt;
  const auto raw = scaledNumber(*text, decimals);
  if (!raw) {
    result = p.notNumber(name, *text);
    return std::nullopt;
  }
  return CUfCurrency(CY{*raw});
}

const char* const kGoods = "towar";
const char* const kPackaging = "opakowanie";
const char* const kGoodsSales = "sprzedaż towaru"_cp;
const char* const kPackagingSales = "obrót opakowania"_cp;
const char* const kName = "nazwa";
const char* const kBarcode = "kod kreskowy";
const char* const kPrice = "cena";
const char* const kBarcodes = "lista dodatkowych kodów kreskowych"_cp;

}  // namespace

std::optional<std::string_view> bufferText(const char* buffer, std::size_t size) {
  const void* end = std::memchr(buffer, 0, size);
  if (!end) return std::nullopt;
  return std::string_view(buffer, static_cast<std::size_t>(static_cast<const char*>(end) - buffer));
}

std::optional<std::int64_t> scaledNumber(std::string_view text, int decimals) {
  if (decimals < 0 || decimals > 4) return std::nullopt;
  std::int64_t scale = 1;
  for (int i = decimals; i < 4; ++i) scale *= 10;
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  if (text.empty()) return std::nullopt;
  // Accumulated negatively, so that the lowest amount fits too.
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  std::int64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    if (value < kMin / 10) return std::nullopt;
    value *= 10;
    if (value < kMin + (c - '0')) return std::nullopt;
    value -= c - '0';
  }
  if (value < kMin / scale) return std::nullopt;
  value *= scale;
  if (negative) return value;
  if (value == kMin) return std::nullopt;
  return -value;
}

MapResult mapPlu(const PluResult& r, CTowar& out) {
  const Problem p(kGoods, r.plu);
  if (r.plu == 0) return p.badPlu();
  MapResult result;
  const auto name = field(r.name, kName, p, result);
  if (!name) return result;
  const auto barcode = field(r.barcode, kBarcode, p, result);
  if (!barcode) return result;
  const auto price = numberField(r.price, 2, kPrice, p, result);
  if (!price) return result;
  const auto barcodes = field(r.barcodes, kBarcodes, p, result);
  if (!barcodes) return result;
  if (barcodes->find('\xFF') != std::string_view::npos)
    return p.bad(std::string(kBarcodes) + " zawiera bajt 0xFF"_cp);
  if (r.inactive != 0) return {Mapped::skipped, {}};

  out.zero();
  out.UstawTy('T');
  out.UstawKP(r.plu);
  out.UstawNa(*name);
  if (!barcode->empty()) out.UstawKK(*barcode);
  out.UstawCe(0, *price);
  if (r.linkedPack != 0) out.UstawKO(std::to_string(r.linkedPack));
  if (r.unit != 0) out.UstawJM(r.unit);
  out.UstawVa(r.vat);
  out.UstawCO(r.fixedPrice == 0);
  out.UstawGr(r.group);
  std::string_view rest = *barcodes;
  while (!rest.empty()) {
    const std::size_t lf = rest.find('\n');
    const std::string_view line = rest.substr(0, lf);
    if (!line.empty()) out.DodajDK(std::string(line));
    if (lf == std::string_view::npos) break;
    rest.remove_prefix(lf + 1);
  }
  // DK is given even when the register holds no further barcodes.
  out.DK_brak = false;
  return result;
}

MapResult mapPack(const PackResult& r, CTowar& out) {
  const Problem p(kPackaging, r.plu);
  if (r.plu == 0) return p.badPlu();
  MapResult result;
  const auto name = field(r.name, kName, p, result);
  if (!name) return result;
  const auto barcode = field(r.barcode, kBarcode, p, result);
  if (!barcode) return result;
  const auto price = numberField(r.price, 2, kPrice, p, result);
  if (!price) return result;

  out.zero();
  out.UstawTy('O');
  out.UstawKP(r.plu);
  out.UstawNa(*name);
  if (!barcode->empty()) out.UstawKK(*barcode);
  out.UstawCe(0, *price);
  out.UstawCO(r.fixedPrice == 0);
  return result;
}

MapResult mapPluStat(const PluStatResult& r, CTowar& out) {
  const Problem p(kGoodsSales, r.plu);
  if (r.plu == 0) return p.badPlu();
  MapResult result;
  const auto value = numberField(r.value, 2, "wartość"_cp, p, result);
  if (!value) return result;
  const auto quantity = numberField(r.quantity, 3, "ilość"_cp, p, result);
  if (!quantity) return result;

  out.zero();
  out.UstawTy('T');
  out.UstawIdUF(std::to_string(r.plu));
  out.UstawWartość(*value);
  out.UstawIlość(*quantity);
  return result;
}

MapResult mapPackStat(const PackStatResult& r, CTowar& sold, CTowar& returned) {
  const Problem p(kPackagingSales, r.plu);
  if (r.plu == 0) return p.badPlu();
  MapResult result;
  const auto soldQuantity = numberField(r.soldQuantity, 3, "ilość sprzedana"_cp, p, result);
  if (!soldQuantity) return result;
  const auto returnedQuantity = numberField(r.returnedQuantity, 3, "ilość zwrócona"_cp, p, result);
  if (!returnedQuantity) return result;
  const auto soldValue = numberField(r.soldValue, 2, "wartość sprzedaży"_cp, p, result);
  if (!soldValue) return result;
  const auto returnedValue = numberField(r.returnedValue, 2, "wartość zwrotów"_cp, p, result);
  if (!returnedValue) return result;
  // The lowest amount has no negation: such a return is not a number this system can hold.
  constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
  if (returnedQuantity->GetCurrency() == kMin || returnedValue->GetCurrency() == kMin)
    return p.bad("zwrot poza zakresem"_cp);

  const std::string id = std::to_string(r.plu);
  for (CTowar* t : {&sold, &returned}) {
    t->zero();
    t->UstawTy('O');
    t->UstawIdUF(id);
  }
  sold.UstawIlość(*soldQuantity);
  sold.UstawWartość(*soldValue);
  returned.UstawIlość(-*returnedQuantity);
  returned.UstawWartość(-*returnedValue);
  return result;
}

}  // namespace quorvel::posnet
