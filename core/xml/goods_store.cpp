// Compact storage of the catalogue's goods records: packing and unpacking.
#include "core/xml/goods_store.h"

#include <cstring>
#include <string>

namespace {

// The texts of a goods record, in their packed order.
enum Text : unsigned { tSy, tKK, tKO, tNa, tOp, tUw, tSW, tPK, tDK, tIdUF, tWl0, kTexts = tWl0 + CTowar::kWlasne };

std::string& textOf(CTowar& t, unsigned which) {
  switch (which) {
    case tSy: return t.Sy;
    case tKK: return t.KK;
    case tKO: return t.KO;
    case tNa: return t.Na;
    case tOp: return t.Op;
    case tUw: return t.Uw;
    case tSW: return t.SW;
    case tPK: return t.PK;
    case tDK: return t.DK;
    case tIdUF: return t.IdUF;
    default: return t.Wł[which - tWl0];
  }
}
// Read-only use of the same switch.
const std::string& textOf(const CTowar& t, unsigned which) { return textOf(const_cast<CTowar&>(t), which); }

// The not-given markers, one bit each, in this order; the arrays take one bit per element.
constexpr int kMarkers = 32;
bool& markerOf(CTowar& t, int bit) {
  switch (bit) {
    case 0: return t.Id_brak;
    case 1: return t.Ty_brak;
    case 2: return t.Sy_brak;
    case 3: return t.KP_brak;
    case 4: return t.KK_brak;
    case 5: return t.DK_brak;
    case 6: return t.KO_brak;
    case 7: return t.Na_brak;
    case 8: return t.Ce_brak[0];
    case 9: return t.Ce_brak[1];
    case 10: return t.CO_brak;
    case 11: return t.Va_brak;
    case 12: return t.Gr_brak;
    case 21: return t.JM_brak;
    case 22: return t.Wa_brak;
    case 23: return t.Op_brak;
    case 24: return t.Uw_brak;
    case 25: return t.OW_brak;
    case 26: return t.DW_brak;
    case 27: return t.SW_brak;
    case 28: return t.PK_brak;
    case 29: return t.IdUF_brak;
    case 30: return t.Ilość_brak;
    case 31: return t.Wartość_brak;
    default: return t.Wł_brak[bit - 13];   // 13..20
  }
}
bool markerOf(const CTowar& t, int bit) { return markerOf(const_cast<CTowar&>(t), bit); }
static_assert(CTowar::kCeny == 2 && CTowar::kWlasne == 8, "the marker bits above are laid out for these");

std::size_t lengthBytes(std::size_t n) {
  std::size_t bytes = 1;
  while (n >= 0x80) {
    n >>= 7;
    ++bytes;
  }
  return bytes;
}

char* putLength(char* p, std::size_t n) {
  while (n >= 0x80) {
    *p++ = static_cast<char>((n & 0x7F) | 0x80);
    n >>= 7;
  }
  *p++ = static_cast<char>(n);
  return p;
}

const char* getLength(const char* p, std::size_t& n) {
  n = 0;
  for (unsigned shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(*p++);
    n |= static_cast<std::size_t>(byte & 0x7F) << shift;
    if (byte < 0x80) return p;
  }
}

// Bytes taken by the packed texts of a record.
std::size_t packedSize(const char* texts, std::uint32_t present) {
  const char* p = texts;
  for (; present; present &= present - 1) {
    std::size_t n = 0;
    p = getLength(p, n) + n;
  }
  return static_cast<std::size_t>(p - texts);
}

std::int64_t raw(const CUfCurrency& c) { return c.GetCurrency(); }
CUfCurrency amount(std::int64_t value, bool invalid) {
  CUfCurrency c(CY{value});
  if (invalid) c.SetStatus(CUfCurrency::invalid);
  return c;
}

}  // namespace

GoodsStore::GoodsStore(const GoodsStore& other) {
  for (std::size_t i = 0; i < other.size_; ++i) {
    const Record& r = other.rec(i);
    Record& copy = grow();
    copy = r;
    if (const std::size_t textBytes = packedSize(r.texts, r.present)) {
      char* p = allocate(textBytes);
      std::memcpy(p, r.texts, textBytes);
      copy.texts = p;
    }
  }
}

GoodsStore::Record& GoodsStore::grow() {
  if (size_ % kChunk == 0) chunks_.push_back(std::make_unique_for_overwrite<Record[]>(kChunk));
  return rec(size_++);
}

char* GoodsStore::allocate(std::size_t n) {
  if (n > left_) {
    // A text larger than a quarter block gets a block of its own, so that the current block's
    // free space is not thrown away for it.
    const std::size_t size = n > kBlock / 4 ? n : kBlock;
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(size));
    blockBytes_ += size;
    if (size != kBlock) return blocks_.back().get();
    free_ = blocks_.back().get();
    left_ = size;
  }
  char* p = free_;
  free_ += n;
  left_ -= n;
  return p;
}

void GoodsStore::add(const CTowar& t) {
  Record r{};
  r.id = t.Id;
  r.ty = t.Ty;
  r.kp = t.KP;
  r.co = t.CO;
  r.va = t.Va;
  r.gr = t.Gr;
  r.jm = t.JM;
  r.wa = t.Wa;
  r.ow = t.OW;
  r.dwDate = *t.DW.DosDate();
  r.dwTime = *t.DW.DosTime();
  r.dwNumber = static_cast<std::uint32_t>(t.DW.GetNumber());
  const CUfCurrency* amounts[] = {&t.Ce[0], &t.Ce[1], &t.Ilość, &t.Wartość};
  for (unsigned a = 0; a < 4; ++a)
    if (amounts[a]->GetStatus() != CUfCurrency::valid) r.invalid |= static_cast<std::uint8_t>(1u << a);
  r.ce[0] = raw(t.Ce[0]);
  r.ce[1] = raw(t.Ce[1]);
  r.ilosc = raw(t.Ilość);
  r.wartosc = raw(t.Wartość);
  for (int bit = 0; bit < kMarkers; ++bit)
    if (markerOf(t, bit)) r.braki |= 1u << bit;

  std::size_t textBytes = 0;
  for (unsigned w = 0; w < kTexts; ++w) {
    const std::size_t n = textOf(t, w).size();
    if (n != 0) {
      r.present |= 1u << w;
      textBytes += lengthBytes(n) + n;
    }
  }
  Record& stored = grow();
  stored = r;
  if (textBytes != 0) {
    char* p = allocate(textBytes);
    stored.texts = p;
    for (unsigned w = 0; w < kTexts; ++w) {
      const std::string& s = textOf(t, w);
      if (s.empty()) continue;
      p = putLength(p, s.size());
      std::memcpy(p, s.data(), s.size());
      p += s.size();
    }
  }
}

std::string_view GoodsStore::text(const Record& r, unsigned which) const {
  if (!(r.present >> which & 1)) return {};
  const char* p = r.texts;
  std::size_t n = 0;
  // Skip the texts before this one.
  for (std::uint32_t before = r.present & ((1u << which) - 1); before; before &= before - 1)
    p = getLength(p, n) + n;
  p = getLength(p, n);
  return {p, n};
}

std::string_view GoodsStore::kk(std::size_t i) const { return text(rec(i), tKK); }
std::string_view GoodsStore::na(std::size_t i) const { return text(rec(i), tNa); }

void GoodsStore::unpack(std::size_t i, CTowar& out) const {
  const Record& r = rec(i);
  out.Id = r.id;
  out.Ty = r.ty;
  out.KP = r.kp;
  out.CO = r.co;
  out.Va = r.va;
  out.Gr = r.gr;
  out.JM = r.jm;
  out.Wa = r.wa;
  out.OW = r.ow;
  out.DW = CDateTime(r.dwDate, r.dwTime);
  out.DW.SetNumber(r.dwNumber);
  out.Ce[0] = amount(r.ce[0], r.invalid & 1);
  out.Ce[1] = amount(r.ce[1], r.invalid & 2);
  out.Ilość = amount(r.ilosc, r.invalid & 4);
  out.Wartość = amount(r.wartosc, r.invalid & 8);
  for (int bit = 0; bit < kMarkers; ++bit) markerOf(out, bit) = (r.braki >> bit & 1) != 0;
  const char* p = r.texts;
  for (unsigned w = 0; w < kTexts; ++w) {
    std::string& s = textOf(out, w);
    if (!(r.present >> w & 1)) {
      s.clear();
      continue;
    }
    std::size_t n = 0;
    p = getLength(p, n);
    s.assign(p, n);
    p += n;
  }
}

std::size_t GoodsStore::bytes() const { return chunks_.size() * kChunk * sizeof(Record) + blockBytes_; }
