// Compact storage of the catalogue's goods records (internal to the job document).
//
// A job may carry a million goods, and a CTowar takes over 800 bytes before its texts, most of
// them empty strings and markers. The store keeps each record as a fixed part of numbers and
// marker bits and a packed run of its non-empty texts in an arena allocated in large blocks:
// no allocation per record, no heap block per text, and the rarely given texts (DK, IdUF, the
// eight Wł) take nothing when empty. Records are written once, when added; afterwards only the
// markers that the catalogue's type test and name check clear change in place. A record the
// catalogue hands out as writable is detached: from then on the catalogue keeps it as a full
// CTowar, and the packed copy is no longer read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "core/records.h"

class GoodsStore {
 public:
  // The markers the catalogue clears in place.
  enum Marker : std::uint32_t { markerId = 1u << 0, markerTy = 1u << 1, markerNa = 1u << 7 };

  GoodsStore() = default;
  // Copies every record into arena blocks of its own.
  GoodsStore(const GoodsStore& other);
  GoodsStore& operator=(const GoodsStore&) = delete;

  std::size_t size() const { return size_; }
  // Appends a packed copy of every field and marker of `t`.
  void add(const CTowar& t);

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

  // Asks the processor to fetch record i, about to be unpacked.
  void prefetch(std::size_t i) const {
    const char* r = reinterpret_cast<const char*>(&rec(i));
    __builtin_prefetch(r);
    __builtin_prefetch(r + sizeof(Record) - 1);
  }
  // The same for the texts of record i; reads the record, so best after prefetch(i).
  void prefetchTexts(std::size_t i) const {
    const char* p = rec(i).texts;
    __builtin_prefetch(p);
    __builtin_prefetch(p + 64);
    __builtin_prefetch(p + 128);
  }

  bool detached(std::size_t i) const { return rec(i).detached; }
  void detach(std::size_t i) { rec(i).detached = true; }

  // Bytes held by the records and the arena (the catalogue's own overhead excluded).
  std::size_t bytes() const;

 private:
  // Fixed part of a record: numbers, flags and marker bits. The texts are in the arena at
  // `texts`, each non-empty text (bit set in `present`) as its length (LEB128) and its bytes,
  // in the order of the Text enumeration of goods_store.cpp.
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
    std::uint8_t invalid;    // one bit per amount whose status is invalid: Ce[0], Ce[1], Ilość, Wartość
    char ty;
    bool co;
    bool wa;
    bool detached;
  };

  // Records per chunk; arena blocks grow from kFirstBlock to kBlock bytes, so that the many
  // small catalogues (a register's goods read back, copies) stay small.
  static constexpr std::size_t kChunk = 1024;
  static constexpr std::size_t kFirstBlock = 4 * 1024;
  static constexpr std::size_t kBlock = 256 * 1024;

  Record& rec(std::size_t i) { return chunks_[i / kChunk][i % kChunk]; }
  const Record& rec(std::size_t i) const { return chunks_[i / kChunk][i % kChunk]; }
  std::string_view text(const Record& r, unsigned which) const;
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
