// Compact storage of the catalogue's goods records: packing and unpacking.
#include "core/xml/goods_store.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <utility>

namespace {

// The texts of a goods record, in their packed order.
using enum GoodsStore::Text;

// The texts of a goods record (CTowar or const CTowar) by their packed order.
template <class Goods>
struct TextSlots {
  explicit TextSlots(Goods& t)
      : slot{&t.Sy, &t.KK, &t.KO, &t.Na, &t.Op, &t.Uw, &t.SW, &t.PK, &t.DK, &t.IdUF,
             &t.Wł[0], &t.Wł[1], &t.Wł[2], &t.Wł[3], &t.Wł[4], &t.Wł[5], &t.Wł[6], &t.Wł[7]} {}
  decltype(&std::declval<Goods&>().Sy) slot[kTexts];
};
static_assert(kTexts == tWl0 + 8 && CTowar::kWlasne == 8, "TextSlots lists every text in the order of Text");

// The not-given markers, one bit each, in this order; the arrays take one bit per element.
constexpr bool CTowar::* kScalarMarkers[] = {
    &CTowar::Id_brak, &CTowar::Ty_brak, &CTowar::Sy_brak, &CTowar::KP_brak, &CTowar::KK_brak,
    &CTowar::DK_brak, &CTowar::KO_brak, &CTowar::Na_brak,                       // bits 0..7
    &CTowar::CO_brak, &CTowar::Va_brak, &CTowar::Gr_brak, &CTowar::JM_brak, &CTowar::Wa_brak,
    &CTowar::Op_brak, &CTowar::Uw_brak, &CTowar::OW_brak, &CTowar::DW_brak, &CTowar::SW_brak,
    &CTowar::PK_brak, &CTowar::IdUF_brak, &CTowar::Ilość_brak, &CTowar::Wartość_brak,  // bits 8..21
};
constexpr int kScalarBits = sizeof kScalarMarkers / sizeof kScalarMarkers[0];
constexpr int kCeBit = kScalarBits;                    // Ce_brak: bits 22..23
constexpr int kWlBit = kCeBit + CTowar::kCeny;         // Wł_brak: bits 24..31

std::uint32_t packMarkers(const CTowar& t) {
  std::uint32_t bits = 0;
  for (int b = 0; b < kScalarBits; ++b) bits |= static_cast<std::uint32_t>(t.*kScalarMarkers[b]) << b;
  for (int i = 0; i < CTowar::kCeny; ++i) bits |= static_cast<std::uint32_t>(t.Ce_brak[i]) << (kCeBit + i);
  for (int i = 0; i < CTowar::kWlasne; ++i) bits |= static_cast<std::uint32_t>(t.Wł_brak[i]) << (kWlBit + i);
  return bits;
}

// Written out field by field rather than through kScalarMarkers: a walk unpacks a record per
// step, and the compiler turns these into plain bit tests and byte stores.
void unpackMarkers(std::uint32_t bits, CTowar& t) {
  const auto bit = [bits](int b) { return (bits >> b & 1) != 0; };
  t.Id_brak = bit(0);
  t.Ty_brak = bit(1);
  t.Sy_brak = bit(2);
  t.KP_brak = bit(3);
  t.KK_brak = bit(4);
  t.DK_brak = bit(5);
  t.KO_brak = bit(6);
  t.Na_brak = bit(7);
  t.CO_brak = bit(8);
  t.Va_brak = bit(9);
  t.Gr_brak = bit(10);
  t.JM_brak = bit(11);
  t.Wa_brak = bit(12);
  t.Op_brak = bit(13);
  t.Uw_brak = bit(14);
  t.OW_brak = bit(15);
  t.DW_brak = bit(16);
  t.SW_brak = bit(17);
  t.PK_brak = bit(18);
  t.IdUF_brak = bit(19);
  t.Ilość_brak = bit(20);
  t.Wartość_brak = bit(21);
  for (int i = 0; i < CTowar::kCeny; ++i) t.Ce_brak[i] = bit(kCeBit + i);
  for (int i = 0; i < CTowar::kWlasne; ++i) t.Wł_brak[i] = bit(kWlBit + i);
}
static_assert(kScalarBits == 22, "unpackMarkers writes bits 0..21 in the order of kScalarMarkers");
// The record builder clears the markers by the bit numbers of the header.
constexpr bool builderBitsMatch() {
  using S = GoodsStore;
  const struct {
    unsigned bit;
    bool CTowar::*marker;
  } bits[] = {
      {S::bId, &CTowar::Id_brak},     {S::bTy, &CTowar::Ty_brak},       {S::bSy, &CTowar::Sy_brak},
      {S::bKP, &CTowar::KP_brak},     {S::bKK, &CTowar::KK_brak},       {S::bDK, &CTowar::DK_brak},
      {S::bKO, &CTowar::KO_brak},     {S::bNa, &CTowar::Na_brak},       {S::bCO, &CTowar::CO_brak},
      {S::bVa, &CTowar::Va_brak},     {S::bGr, &CTowar::Gr_brak},       {S::bJM, &CTowar::JM_brak},
      {S::bWa, &CTowar::Wa_brak},     {S::bOp, &CTowar::Op_brak},       {S::bUw, &CTowar::Uw_brak},
      {S::bOW, &CTowar::OW_brak},     {S::bDW, &CTowar::DW_brak},       {S::bSW, &CTowar::SW_brak},
      {S::bPK, &CTowar::PK_brak},     {S::bIdUF, &CTowar::IdUF_brak},   {S::bIlosc, &CTowar::Ilość_brak},
      {S::bWartosc, &CTowar::Wartość_brak},
  };
  for (const auto& b : bits)
    if (kScalarMarkers[b.bit] != b.marker) return false;
  return S::bCe0 == kCeBit && S::bWl0 == kWlBit;
}
static_assert(builderBitsMatch());
static_assert(kWlBit + CTowar::kWlasne <= 32, "every marker has a bit");
// The store clears the markers of Id, Ty and Na in place by their bits.
static_assert(GoodsStore::markerId == 1u << 0 && GoodsStore::markerTy == 1u << 1 && GoodsStore::markerNa == 1u << 7);

// The fields kept as they are, listed once for both directions: copy(packed, field).
template <class Packed, class Goods, class Copy>
void plainFields(Packed& r, Goods& t, Copy copy) {
  copy(r.id, t.Id);
  copy(r.ty, t.Ty);
  copy(r.kp, t.KP);
  copy(r.co, t.CO);
  copy(r.va, t.Va);
  copy(r.gr, t.Gr);
  copy(r.jm, t.JM);
  copy(r.wa, t.Wa);
  copy(r.ow, t.OW);
}

// A record's texts lie in the arena as their bytes back to back, after the end offset of each
// (counted from the first text's start) in reverse order: `texts` points at the bytes, and the
// end of the j-th text is the j-th number before it. Each offset takes the fewest bytes that
// hold the total length, one for nearly every record. With the ends known up front, the unpack
// finds every text without reading the ones before it, and the copies of a record's texts do
// not wait on one another as they would on a chain of lengths.
unsigned endWidth(std::size_t total) {
  return total <= 0xFF ? 1 : total <= 0xFFFF ? 2 : total <= 0xFFFFFFFF ? 4 : 8;
}

// The end of the j-th text of the texts at `bytes`, whose offsets are End numbers.
template <class End>
std::size_t endAt(const char* bytes, std::size_t j) {
  End e;
  std::memcpy(&e, bytes - (j + 1) * sizeof(End), sizeof(End));
  return static_cast<std::size_t>(e);
}
std::size_t endAt(const char* bytes, unsigned width, std::size_t j) {
  switch (width) {
    case 1: return endAt<std::uint8_t>(bytes, j);
    case 2: return endAt<std::uint16_t>(bytes, j);
    case 4: return endAt<std::uint32_t>(bytes, j);
    default: return endAt<std::uint64_t>(bytes, j);
  }
}
static_assert(std::endian::native == std::endian::little, "packTexts writes the low bytes of each offset");

std::size_t headerSize(std::uint32_t present, unsigned width) {
  return static_cast<std::size_t>(std::popcount(present)) * width;
}

// Packs the texts textAt(w) (w the Text of each set bit of `present`, in order) into `p`, which
// has room for headerSize + total bytes; returns where the bytes begin.
template <class TextAt>
const char* packTexts(char* p, std::uint32_t present, unsigned width, TextAt textAt) {
  char* bytes = p + headerSize(present, width);
  std::size_t end = 0, j = 0;
  for (std::uint32_t todo = present; todo; todo &= todo - 1, ++j) {
    const std::string_view v = textAt(static_cast<unsigned>(std::countr_zero(todo)));
    TextBuffer::copy(bytes + end, v.data(), v.size());
    end += v.size();
    if (width == 1) {
      bytes[-1 - static_cast<std::ptrdiff_t>(j)] = static_cast<char>(end);
    } else {
      const std::uint64_t e = end;
      std::memcpy(bytes - (j + 1) * width, &e, width);
    }
  }
  return bytes;
}

std::int64_t raw(const CUfCurrency& c) { return c.GetCurrency(); }

// Gives `s` the n bytes at p. The common case in a walk, a text of the length the view held
// before, is copied into place (TextBuffer::copy) without going through the string's general
// replace.
[[gnu::always_inline]] inline void setText(std::string& s, const char* p, std::size_t n) {
  if (n != s.size()) {
    s.assign(p, n);
    return;
  }
  TextBuffer::copy(s.data(), p, n);
}

void setAmount(CUfCurrency& c, std::int64_t value, bool invalid) {
  c = CY{value};
  c.SetStatus(invalid ? CUfCurrency::invalid : CUfCurrency::valid);
}

}  // namespace

GoodsStore::GoodsStore(const GoodsStore& other) {
  for (std::size_t i = 0; i < other.size_; ++i) {
    const Record& r = other.rec(i);
    Record& copy = grow();
    copy = r;
    if (r.present != 0) {
      const std::size_t header = headerSize(r.present, r.width);
      const std::size_t bytes = endAt(r.texts, r.width, static_cast<std::size_t>(std::popcount(r.present)) - 1);
      char* p = allocate(header + bytes);
      std::memcpy(p, r.texts - header, header + bytes);
      copy.texts = p + header;
    }
  }
}

GoodsStore::Record& GoodsStore::grow() {
  if (size_ % kChunk == 0) chunks_.push_back(std::make_unique_for_overwrite<Record[]>(kChunk));
  return rec(size_++);
}

char* GoodsStore::allocate(std::size_t n) {
  if (n > left_) {
    // Each block twice the one before, up to kBlock. A text larger than a quarter of that gets
    // a block of its own, so that the current block's free space is not thrown away for it.
    const std::size_t next = std::min(kBlock, std::max(kFirstBlock, 2 * blockBytes_));
    if (n > next / 4) {
      blocks_.push_back(std::make_unique_for_overwrite<char[]>(n));
      blockBytes_ += n;
      return blocks_.back().get();
    }
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(next));
    blockBytes_ += next;
    free_ = blocks_.back().get();
    left_ = next;
  }
  char* p = free_;
  free_ += n;
  left_ -= n;
  return p;
}

GoodsStore::Record GoodsStore::fixedPart(const CTowar& t) {
  Record r{};
  plainFields(r, t, [](auto& packed, const auto& field) { packed = field; });
  r.dwDate = *t.DW.DosDate();
  r.dwTime = *t.DW.DosTime();
  r.dwNumber = static_cast<std::uint32_t>(t.DW.GetNumber());
  const CUfCurrency* amounts[] = {&t.Ce[0], &t.Ce[1], &t.Ilość, &t.Wartość};
  for (unsigned a = 0; a < 4; ++a)
    if (amounts[a]->GetStatus() != CUfCurrency::valid) r.invalid = static_cast<std::uint8_t>(r.invalid | 1u << a) & 0xF;
  r.ce[0] = raw(t.Ce[0]);
  r.ce[1] = raw(t.Ce[1]);
  r.ilosc = raw(t.Ilość);
  r.wartosc = raw(t.Wartość);
  r.braki = packMarkers(t);
  return r;
}

void GoodsStore::add(const CTowar& t) {
  Record& stored = grow();
  stored = fixedPart(t);
  std::size_t total = 0;
  const TextSlots slots(t);
  for (unsigned w = 0; w < kTexts; ++w) {
    const std::size_t n = slots.slot[w]->size();
    if (n != 0) stored.present |= 1u << w;
    total += n;
  }
  placeTexts(stored, total, [&slots](unsigned w) { return std::string_view(*slots.slot[w]); });
}

void GoodsStore::add(const GoodsBuilder& b) {
  std::size_t total = 0;
  for (std::uint32_t todo = b.r_.present; todo; todo &= todo - 1) total += b.len_[std::countr_zero(todo)];
  Record& stored = grow();
  stored = b.r_;
  placeTexts(stored, total, [&b](unsigned w) { return std::string_view(b.buf_.data() + b.at_[w], b.len_[w]); });
}

template <class TextAt>
void GoodsStore::placeTexts(Record& r, std::size_t total, TextAt textAt) {
  r.texts = nullptr;
  r.width = static_cast<std::uint8_t>(endWidth(total));
  if (r.present == 0) return;
  r.texts = packTexts(allocate(headerSize(r.present, r.width) + total), r.present, r.width, textAt);
}

std::string_view GoodsStore::text(const Record& r, unsigned which) const {
  if (!(r.present >> which & 1)) return {};
  const auto j = static_cast<std::size_t>(std::popcount(r.present & ((1u << which) - 1)));
  const std::size_t start = j == 0 ? 0 : endAt(r.texts, r.width, j - 1);
  return {r.texts + start, endAt(r.texts, r.width, j) - start};
}

std::string_view GoodsStore::kk(std::size_t i) const { return text(rec(i), tKK); }
std::string_view GoodsStore::na(std::size_t i) const { return text(rec(i), tNa); }

namespace {
// Copies the packed texts of a record into the view's strings.
template <class End>
void unpackTexts(const char* bytes, std::uint32_t present, std::string* const* slot) {
  std::size_t start = 0, j = 0;
  for (std::uint32_t todo = present; todo; todo &= todo - 1, ++j) {
    const std::size_t end = endAt<End>(bytes, j);
    // Every length fits an End as the total does; saying so spares the copy a range it
    // cannot have.
    setText(*slot[std::countr_zero(todo)], bytes + start, static_cast<End>(end - start));
    start = end;
  }
}
}  // namespace

void GoodsStore::unpack(std::size_t i, CTowar& out, std::uint64_t* shown) const {
  const Record& r = rec(i);
  plainFields(r, out, [](const auto& packed, auto& field) { field = packed; });
  *out.DW.DosDate() = r.dwDate;
  *out.DW.DosTime() = r.dwTime;
  out.DW.SetNumber(r.dwNumber);
  setAmount(out.Ce[0], r.ce[0], r.invalid & 1);
  setAmount(out.Ce[1], r.ce[1], r.invalid & 2);
  setAmount(out.Ilość, r.ilosc, r.invalid & 4);
  setAmount(out.Wartość, r.wartosc, r.invalid & 8);
  // `shown` holds the markers and text bits `out` got last; equal markers need no writing,
  // and a text absent then and now is empty already.
  const bool known = shown != nullptr && *shown != kNothingShown;
  if (!known || *shown >> 32 != r.braki) unpackMarkers(r.braki, out);
  const std::uint32_t wasPresent = known ? static_cast<std::uint32_t>(*shown) : (1u << kTexts) - 1;
  if (shown != nullptr) *shown = static_cast<std::uint64_t>(r.braki) << 32 | r.present;
  const TextSlots slots(out);
  // Texts that `out` shows and the record lacks are emptied; then the record's texts are copied.
  for (std::uint32_t gone = wasPresent & ~r.present & ((1u << kTexts) - 1); gone; gone &= gone - 1)
    slots.slot[std::countr_zero(gone)]->clear();
  switch (r.width) {
    case 1: unpackTexts<std::uint8_t>(r.texts, r.present, slots.slot); break;
    case 2: unpackTexts<std::uint16_t>(r.texts, r.present, slots.slot); break;
    case 4: unpackTexts<std::uint32_t>(r.texts, r.present, slots.slot); break;
    default: unpackTexts<std::uint64_t>(r.texts, r.present, slots.slot); break;
  }
}

std::size_t GoodsStore::bytes() const { return chunks_.size() * kChunk * sizeof(Record) + blockBytes_; }

void GoodsBuilder::reset() {
  // The fixed part of a record just zeroed, made once.
  static const GoodsStore::Record kEmpty = GoodsStore::fixedPart(CTowar());
  r_ = kEmpty;
  buf_.clear();
}

void GoodsBuilder::addDK(std::string_view v) {
  const bool had = (r_.present >> tDK & 1) != 0;
  if (had && at_[tDK] + len_[tDK] != buf_.size()) {
    // Other texts came after the barcodes so far: they move to the end, where this one joins them.
    const std::size_t from = at_[tDK];
    at_[tDK] = buf_.size();
    buf_.append(buf_.data() + from, len_[tDK]);
  } else if (!had) {
    at_[tDK] = buf_.size();
    len_[tDK] = 0;
  }
  buf_.append(v);
  buf_.push_back('\xFF');
  len_[tDK] += v.size() + 1;
  r_.present |= 1u << tDK;
  given(GoodsStore::bDK);
}

void TextBuffer::grow(const char* p, std::size_t n) {
  const std::size_t capacity = std::max(2 * capacity_, size_ + n + 1);
  auto bigger = std::make_unique_for_overwrite<char[]>(capacity);
  std::memcpy(bigger.get(), data_.get(), size_);
  std::memcpy(bigger.get() + size_, p, n);
  size_ += n;
  bigger[size_] = 0;
  data_ = std::move(bigger);
  capacity_ = capacity;
}
