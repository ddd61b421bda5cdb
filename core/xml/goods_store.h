// Compact storage of the catalogue's goods records (internal to the job document).
//
// A job may carry a million goods, and a CTowar takes over 800 bytes before its texts, most of
// them empty strings and markers. The store keeps each record as a fixed part of numbers and
// marker bits and a packed run of its non-empty texts in an arena allocated in large blocks:
// no allocation per record, no heap block per text, and the rarely given texts (DK, IdUF, the
// eight Wł) take nothing when empty. Records are written once, when added; afterwards only the
// markers that the catalogue's type test and name check clear change in place. A record the
// catalogue hands out as writable is detached: from then on the catalogue keeps it as a full
// CTowar, and the packed copy is no longer read (the catalogue knows which records those are).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "core/records.h"

class GoodsBuilder;

class GoodsStore {
 public:
  // The markers the catalogue clears in place.
  enum Marker : std::uint32_t { markerId = 1u << 0, markerTy = 1u << 1, markerNa = 1u << 7 };
  // The texts of a record in their packed order.
  enum Text : unsigned { tSy, tKK, tKO, tNa, tOp, tUw, tSW, tPK, tDK, tIdUF, tWl0, kTexts = tWl0 + CTowar::kWlasne };
  // The bit of each not-given marker; Ce and Wł take one bit per element.
  enum MarkerBit : unsigned {
    bId, bTy, bSy, bKP, bKK, bDK, bKO, bNa, bCO, bVa, bGr, bJM, bWa, bOp, bUw, bOW, bDW, bSW, bPK, bIdUF,
    bIlosc, bWartosc, bCe0, bWl0 = bCe0 + CTowar::kCeny
  };

  GoodsStore() = default;
  // Copies every record into arena blocks of its own.
  GoodsStore(const GoodsStore& other);
  GoodsStore& operator=(const GoodsStore&) = delete;

  std::size_t size() const { return size_; }
  // Appends a packed copy of every field and marker of `t`.
  void add(const CTowar& t);
  // Appends the record built in `b`, the same as adding the CTowar it describes.
  void add(const GoodsBuilder& b);

  char ty(std::size_t i) const { return rec(i).ty; }
  std::uint32_t id(std::size_t i) const { return rec(i).id; }
  std::uint32_t kp(std::size_t i) const { return rec(i).kp; }
  std::string_view kk(std::size_t i) const;
  std::string_view na(std::size_t i) const;
  // True while the marker is set (the field not given).
  bool marker(std::size_t i, Marker m) const { return (rec(i).braki & m) != 0; }
  void clearMarker(std::size_t i, Marker m) { rec(i).braki &= ~m; }

  // Every field and marker of record i into `out`; `out` keeps its string buffers, so filling
  // the same record again allocates nothing once the buffers are large enough. `shown`, when
  // given, belongs to `out` alone: it describes what `out` holds (kNothingShown at first, or
  // whenever `out` was changed elsewhere) and lets the unpack skip the markers and the empty
  // texts that `out` has already.
  static constexpr std::uint64_t kNothingShown = ~std::uint64_t{0};
  void unpack(std::size_t i, CTowar& out, std::uint64_t* shown = nullptr) const;

  // Asks the processor to fetch record i, about to be unpacked. Always inlined: a call of a
  // function that only reads memory and returns nothing is dropped by the optimiser as having
  // no effect, and the prefetch with it.
  [[gnu::always_inline]] void prefetch(std::size_t i) const {
    const char* r = reinterpret_cast<const char*>(&rec(i));
    __builtin_prefetch(r);
    __builtin_prefetch(r + sizeof(Record) - 1);
  }
  // The same for the texts of record i; reads the record, so best after prefetch(i).
  [[gnu::always_inline]] void prefetchTexts(std::size_t i) const {
    // The offsets lie just before the texts; a record without texts has none.
    const char* p = rec(i).texts;
    if (p == nullptr) return;
    __builtin_prefetch(p - 32);
    __builtin_prefetch(p + 32);
    __builtin_prefetch(p + 96);
  }

  // Bytes held by the records and the arena (the catalogue's own overhead excluded).
  std::size_t bytes() const;

 private:
  friend class GoodsBuilder;

  // Fixed part of a record: numbers, flags and marker bits. The non-empty texts (bit set in
  // `present`, in the order of the Text enumeration) are in the arena at `texts`, back to back;
  // before them lies the end of each, counted from `texts`, as a `width`-byte number, the
  // first text's end nearest.
  struct Record {
    const char* texts;
    std::int64_t ce[CTowar::kCeny];
    std::int64_t ilosc;
    std::int64_t wartosc;
    std::uint32_t id;
    std::uint32_t kp;
    std::uint32_t ow;
    std::int32_t va;
    std::int32_t gr;
    std::int32_t jm;
    dosdate dwDate;
    dostime dwTime;
    std::uint32_t dwNumber;
    std::uint32_t braki;     // one bit per not-given marker
    std::uint32_t present;   // one bit per non-empty text
    std::uint8_t invalid : 4;  // one bit per amount whose status is invalid: Ce[0], Ce[1], Ilość, Wartość
    std::uint8_t width : 4;    // bytes per end offset of the texts: 1, 2, 4 or 8
    char ty;
    bool co;
    bool wa;
  };
  static_assert(sizeof(Record) == 88, "the fixed part of a record takes 88 bytes");

  // Records per chunk; arena blocks grow from kFirstBlock to kBlock bytes, so that the many
  // small catalogues (a register's goods read back, copies) stay small.
  static constexpr std::size_t kChunk = 1024;
  static constexpr std::size_t kFirstBlock = 4 * 1024;
  static constexpr std::size_t kBlock = 256 * 1024;

  // The fixed part of `t` (texts not yet placed).
  static Record fixedPart(const CTowar& t);
  Record& rec(std::size_t i) { return chunks_[i / kChunk][i % kChunk]; }
  const Record& rec(std::size_t i) const { return chunks_[i / kChunk][i % kChunk]; }
  std::string_view text(const Record& r, unsigned which) const;
  // Gives r the texts textAt(w) of its `present` bits, `total` bytes together.
  template <class TextAt>
  void placeTexts(Record& r, std::size_t total, TextAt textAt);
  // A new record at the end (its contents to be written).
  Record& grow();
  char* allocate(std::size_t n);

  std::vector<std::unique_ptr<Record[]>> chunks_;
  std::size_t size_ = 0;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t blockBytes_ = 0;   // bytes of every block together
  char* free_ = nullptr;
  std::size_t left_ = 0;
};

// Bytes read from a job: a buffer that keeps its storage from record to record and takes the
// short texts of a job without a call. A NUL byte always follows the bytes, for the
// conversions that read a C string.
class TextBuffer {
 public:
  TextBuffer() : data_(std::make_unique_for_overwrite<char[]>(kFirst)), capacity_(kFirst) { data_[0] = 0; }

  const char* data() const { return data_.get(); }
  const char* c_str() const { return data_.get(); }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  std::string_view view() const { return {data_.get(), size_}; }
  operator std::string_view() const { return view(); }

  void clear() {
    size_ = 0;
    data_[0] = 0;
  }
  // p may point into this buffer.
  void append(const char* p, std::size_t n) {
    if (n >= capacity_ - size_) {
      grow(p, n);
      return;
    }
    copy(data_.get() + size_, p, n);
    size_ += n;
    data_[size_] = 0;
  }
  void append(std::string_view v) { append(v.data(), v.size()); }
  void push_back(char c) { append(&c, 1); }

  // Copies n bytes (reading and writing only those), the short ones with two overlapping
  // moves of a fixed size instead of a call or a string instruction, whose start-up costs more
  // than the copy of a name or a barcode.
  static void copy(char* d, const char* p, std::size_t n) {
    if (n <= 16) {
      if (n >= 8) {
        move<8>(d, p, 0);
        move<8>(d, p, n - 8);
      } else if (n >= 4) {
        move<4>(d, p, 0);
        move<4>(d, p, n - 4);
      } else if (n != 0) {
        d[0] = p[0];
        d[n / 2] = p[n / 2];
        d[n - 1] = p[n - 1];
      }
    } else if (n <= 256) {
      // Blocks of 16, the last one ending at n.
      for (std::size_t at = 0; at < n - 16; at += 16) move<16>(d, p, at);
      move<16>(d, p, n - 16);
    } else {
      std::memcpy(d, p, n);
    }
  }

 private:
  static constexpr std::size_t kFirst = 256;
  // The W bytes at p + at to d + at.
  template <std::size_t W>
  static void move(char* d, const char* p, std::size_t at) {
    char w[W];
    std::memcpy(w, p + at, W);
    std::memcpy(d + at, w, W);
  }
  // Appends into a larger block; the old one lives until p's bytes are copied.
  void grow(const char* p, std::size_t n);

  std::unique_ptr<char[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_;
};

// One goods record built field by field, as the job reader reads it, then appended with
// GoodsStore::add: the fields go straight into the record's fixed part and its texts into one
// buffer, with no CTowar of twenty strings between the reader and the store. Each setter does
// what CTowar's setter of the same field does (gives the value, clears the marker); the
// builder keeps its buffer from record to record.
class GoodsBuilder {
 public:
  GoodsBuilder() { reset(); }
  // Every field to its default and every marker set, as CTowar::zero() leaves a record.
  void reset();

  char ty() const { return r_.ty; }

  void setId(std::uint32_t v) { r_.id = v; given(GoodsStore::bId); }
  void setTy(char v) { r_.ty = v; given(GoodsStore::bTy); }
  void setKP(std::uint32_t v) { r_.kp = v; given(GoodsStore::bKP); }
  // i: 0 or 1 (CTowar::kCeny entries); a valid amount, as CUfCurrency(v) is.
  void setCe(int i, CY v) {
    r_.ce[i] = v.int64;
    r_.invalid = static_cast<std::uint8_t>(r_.invalid & ~(1u << i));
    given(GoodsStore::bCe0 + static_cast<unsigned>(i));
  }
  void setCO(bool v) { r_.co = v; given(GoodsStore::bCO); }
  void setVa(std::int32_t v) { r_.va = v; given(GoodsStore::bVa); }
  void setGr(std::int32_t v) { r_.gr = v; given(GoodsStore::bGr); }
  void setJM(std::int32_t v) { r_.jm = v; given(GoodsStore::bJM); }
  void setWa(bool v) { r_.wa = v; given(GoodsStore::bWa); }
  void setOW(std::uint32_t v) { r_.ow = v; given(GoodsStore::bOW); }
  void setDW(const CDateTime& v) {
    r_.dwDate = *v.DosDate();
    r_.dwTime = *v.DosTime();
    r_.dwNumber = static_cast<std::uint32_t>(v.GetNumber());
    given(GoodsStore::bDW);
  }
  void setSy(std::string_view v) { setText(GoodsStore::tSy, v, GoodsStore::bSy); }
  void setKK(std::string_view v) { setText(GoodsStore::tKK, v, GoodsStore::bKK); }
  void setKO(std::string_view v) { setText(GoodsStore::tKO, v, GoodsStore::bKO); }
  void setNa(std::string_view v) { setText(GoodsStore::tNa, v, GoodsStore::bNa); }
  void setOp(std::string_view v) { setText(GoodsStore::tOp, v, GoodsStore::bOp); }
  void setUw(std::string_view v) { setText(GoodsStore::tUw, v, GoodsStore::bUw); }
  void setSW(std::string_view v) { setText(GoodsStore::tSW, v, GoodsStore::bSW); }
  void setPK(std::string_view v) { setText(GoodsStore::tPK, v, GoodsStore::bPK); }
  // i: 0 to CTowar::kWlasne - 1.
  void setWl(int i, std::string_view v) {
    setText(GoodsStore::tWl0 + static_cast<unsigned>(i), v, GoodsStore::bWl0 + static_cast<unsigned>(i));
  }
  // Appends one further barcode with its terminating byte 0xFF (CTowar::DodajDK).
  void addDK(std::string_view v);

  // The builder's text buffer. A reader may append a text's bytes to it and then hand the
  // setter a view of exactly those bytes, the end of the buffer: the setter then takes them
  // where they are instead of copying them.
  TextBuffer& buffer() { return buf_; }

 private:
  friend class GoodsStore;

  void given(unsigned bit) { r_.braki &= ~(1u << bit); }
  // Text `which` becomes v: its bytes go to the end of the buffer unless they are there already
  // (see buffer()). A text given twice leaves its first bytes unused there until the next record.
  void setText(unsigned which, std::string_view v, unsigned markerBit) {
    const bool inPlace = v.size() <= buf_.size() && v.data() == buf_.data() + (buf_.size() - v.size());
    if (!inPlace) buf_.append(v);
    at_[which] = buf_.size() - v.size();
    len_[which] = v.size();
    const std::uint32_t bit = 1u << which;
    r_.present = v.empty() ? r_.present & ~bit : r_.present | bit;
    given(markerBit);
  }

  GoodsStore::Record r_;
  TextBuffer buf_;
  // Where each text present (bit set in r_.present) lies in buf_.
  std::size_t at_[GoodsStore::kTexts];
  std::size_t len_[GoodsStore::kTexts];
};
