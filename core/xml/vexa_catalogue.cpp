// The goods catalogue of the job document: both lists, the cursor, search and unique names.
//
// The goods are kept packed (GoodsStore). The cursor hands out each record as a full CTowar
// unpacked into one of a few view objects, so a walk allocates nothing; a view stays valid
// until kViews other records have been handed out after it. A record handed out as
// writable (SearchTowar, TwIterGetReadWrite) is detached from the store: the catalogue then
// keeps it as a CTowar of its own, at a fixed address, until TwIterDelete.
//
// The goods cursor visits records in list order or by descending key (PLU code or barcode),
// restricted to the current goods type. A sorted step takes, among the records of the current
// type, the greatest key strictly below the key just returned, ties going to the record first
// in list order. For that the catalogue keeps a sorted vector of list places per key and goods
// type, built the first time a sort or a search needs it; a record added while it is current
// is inserted in place, and a change of a key or type made through a writable pointer has it
// rebuilt when next needed. A walk remembers where it stands in the vectors, so a full sorted
// walk costs one pass over them. A search looks its key and type up in a hash table over the
// same keys, built by the first search and kept or rebuilt with the vectors.
//
// The walk and the search type-test records, and a type test made while the current type is
// not "every type" clears the tested record's Ty marker. A sorted step or reset tests every
// record; a search tests the records up to the one found (all when none is). Those markers are
// cleared through a watermark: the records below it are known to have their Ty marker clear,
// so the work is done once per record rather than once per step.
#include "core/xml/vexa_xml.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <deque>
#include <limits>
#include <random>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "core/xml/goods_store.h"

namespace {

constexpr std::size_t kKoniec = std::numeric_limits<std::size_t>::max();

// The seed of the look-up tables' hashing, random per process: keys chosen to fall on one slot
// (barcodes can be made to share a hash of known constants) would turn every look-up into a
// scan; without the seed nobody can choose them. Where no random source answers, the place of
// the library in memory (random per process too) stands in.
std::uint64_t ziarno() {
  static const std::uint64_t seed = [] {
    std::uint64_t v = reinterpret_cast<std::uintptr_t>(&kKoniec) * 0x9E3779B97F4A7C15u;
    try {
      std::random_device source;
      v ^= std::uint64_t{source()} << 32 | source();
    } catch (...) {
    }
    return v | 1;
  }();
  return seed;
}
// View objects the cursor hands records out in.
constexpr std::size_t kViews = 4;
// How many entries ahead of a walk's position the records and their texts are prefetched.
constexpr std::size_t kPrzodRekord = 8;
constexpr std::size_t kPrzodTeksty = 4;

// The cursor's order of two records of one key: descending key, ties by ascending list place.
template <class Key>
bool before(const Key& ka, std::size_t a, const Key& kb, std::size_t b) {
  if (ka != kb) return kb < ka;
  return a < b;
}

// An index entry while the index is built: the key's number, for a barcode its next four
// bytes too (big-endian, as the number holds the first eight), and the list place.
struct Wpis {
  std::uint64_t skrot;
  std::uint32_t dalej;
  std::uint32_t miejsce;
};

// Sorts entries given in ascending list place by descending key number (and, when `dalej`,
// by descending next bytes among equal numbers), equal keys keeping their list order: a radix
// sort by bytes, least significant first, each pass stable. A pass whose byte is the same in
// every entry is skipped, so PLU codes, whose upper bytes are zero, take three passes. Linear
// in the entries, where a comparison sort takes several times longer on a large catalogue.
void sortDescending(std::vector<Wpis>& wpisy, bool dalej) {
  // Byte b of the key, least significant first: four of `dalej`, then eight of `skrot`.
  constexpr unsigned kBajty = 12;
  const auto bajt = [](const Wpis& w, unsigned b) {
    const std::uint64_t v = b < 4 ? w.dalej >> (8 * b) : w.skrot >> (8 * (b - 4));
    return 0xFF - static_cast<unsigned>(v & 0xFF);
  };
  const unsigned od = dalej ? 0 : 4;
  std::vector<std::array<std::uint32_t, 256>> ile(kBajty, std::array<std::uint32_t, 256>{});
  for (const Wpis& w : wpisy)
    for (unsigned b = od; b < kBajty; ++b) ++ile[b][bajt(w, b)];
  std::vector<Wpis> bufor(wpisy.size());
  for (unsigned b = od; b < kBajty; ++b) {
    std::array<std::uint32_t, 256>& h = ile[b];
    if (std::any_of(h.begin(), h.end(), [&](std::uint32_t c) { return c == wpisy.size(); })) continue;
    std::uint32_t start = 0;
    for (std::uint32_t& c : h) start += std::exchange(c, start);
    for (const Wpis& w : wpisy) bufor[h[bajt(w, b)]++] = w;
    wpisy.swap(bufor);
  }
}

}  // namespace

struct CVexaXml::Katalog {
  explicit Katalog(const CVexaXml* owner) : wlasciciel(owner) { makeViews(); }
  // A catalogue of `owner` holding a copy of the packed goods `g`.
  Katalog(const CVexaXml* owner, const GoodsStore& g) : wlasciciel(owner), towary(g) { makeViews(); }

  void makeViews() {
    for (auto& w : widoki) w = std::make_unique<CTowar>();
    widokMiejsce.fill(kKoniec);
    widokPokazane.fill(GoodsStore::kNothingShown);
  }

  // A record handed out as writable, with its keys and type as the indexes last saw them.
  struct Wydany {
    std::unique_ptr<CTowar> rekord;
    std::uint32_t kp;
    std::string kk;
    char ty;
  };
  static constexpr std::uint32_t kBrak = std::numeric_limits<std::uint32_t>::max();

  // A key as the sorted vectors compare it: a number holding the PLU code, or the first eight
  // bytes of the barcode (big-endian, padded with zeros, so that numbers compare as the texts
  // do); only barcodes that share those bytes are compared in full, read when needed.
  struct Klucz {
    std::uint64_t skrot;
    bool tekstowy;                 // a barcode: equal numbers leave the order to the full texts
    const Katalog* katalog;        // the barcode is that of record `miejsce`
    std::size_t miejsce;

    std::string_view pelny() const { return katalog->kk(miejsce); }
    bool operator<(const Klucz& o) const {
      if (skrot != o.skrot) return skrot < o.skrot;
      return tekstowy && pelny() < o.pelny();
    }
    bool operator==(const Klucz& o) const { return skrot == o.skrot && (!tekstowy || pelny() == o.pelny()); }
  };

  static std::uint64_t prefix(std::string_view s) {
    std::uint64_t v = 0;
    for (std::size_t b = 0; b < 8; ++b)
      v = v << 8 | (b < s.size() ? static_cast<unsigned char>(s[b]) : 0u);
    return v;
  }

  // The sorted vectors of one key: per goods type, list places by the cursor's order, each
  // with its key's number beside it, so that a walk or a binary search mostly reads these
  // vectors alone.
  struct Index {
    struct Typ {
      char typ;
      std::vector<std::uint32_t> miejsca;
      std::vector<std::uint64_t> skroty;
    };
    // The look-up table of SearchTowar: open addressing over the distinct pairs of key and
    // goods type, each slot holding the pair's first list place. Built by the first search
    // after the vectors were (re)built; a search then costs a probe or two instead of a binary
    // search per goods type.
    struct Slot {
      // The key's number with the goods type in its top byte (tagged()), in two halves so
      // that a slot takes twelve bytes.
      std::uint32_t nizej;
      std::uint32_t wyzej;
      std::uint32_t miejsce;   // list place + 1; 0: the slot is free
      std::uint64_t klucz() const { return std::uint64_t{wyzej} << 32 | nizej; }
    };
    bool tekstowy = false;   // barcodes (else PLU codes)
    bool aktualny = false;
    std::vector<Typ> typy;
    // Entries moved by records inserted in place since the vectors were built. Once the moves
    // would outgrow the vectors, the index is dropped and built again when next needed: records
    // added against the order (a read-back in ascending order into descending vectors) then
    // cost one radix sort, not a move of every entry per record.
    std::size_t przesuniete = 0;
    std::vector<Slot> sloty;   // a power of two in size, at most half full; empty until built
    std::size_t zajete = 0;
  };

  // Where a sorted walk stands: per type vector of `index`, the first entry whose key is below
  // the key of record `od` (all entries when od is kKoniec); valid while the index is unchanged.
  // The keys of `od` and of the step's result are kept as read from the vectors, so that the
  // next step need not visit the records.
  struct Miejsce {
    const Index* index = nullptr;
    unsigned wersja = 0;
    char typ = 0;
    std::size_t od = kKoniec;
    Klucz odKlucz{};
    std::size_t wynik = kKoniec;
    Klucz wynikKlucz{};
    std::vector<std::size_t> poz;
  };

  const CVexaXml* wlasciciel;
  GoodsStore towary;
  // The writable records, in the order handed out, and per list place the number of its
  // writable record (kBrak: none; places beyond the end have none). A look-up reads one small
  // entry instead of the packed record or a hash node.
  std::vector<Wydany> wlasne;
  std::vector<std::uint32_t> wlasnyNr;
  std::array<std::unique_ptr<CTowar>, kViews> widoki;
  std::array<std::size_t, kViews> widokMiejsce{};
  std::array<std::uint64_t, kViews> widokPokazane{};   // what each view holds (GoodsStore::unpack)
  // When each view was last handed out (0: never, or emptied); a new record takes the view
  // handed out longest ago, so a view handed out again is kept as long as a fresh one.
  std::array<std::uint64_t, kViews> widokUzyty{};
  std::uint64_t zegar = 0;

  std::deque<CTowarDF> pozycje;
  std::size_t kursor = kKoniec;
  std::size_t kursorDF = kKoniec;

  Index indexKP;
  Index indexKK{true, false, {}, 0, {}, 0};
  unsigned wersja = 0;   // grows with every change of an index
  Miejsce miejsce;

  // Records handed out as writable since the catalogue's last call.
  std::vector<std::size_t> wydane;
  // Every record below this place has its Ty marker clear, except those in tyZnowu (marked
  // not given again through a writable pointer).
  std::size_t tyCzyste = 0;
  std::set<std::size_t> tyZnowu;

  std::size_t size() const { return towary.size(); }
  std::uint32_t nrWlasnego(std::size_t i) const { return i < wlasnyNr.size() ? wlasnyNr[i] : kBrak; }
  const CTowar* wlasny(std::size_t i) const {
    const std::uint32_t nr = nrWlasnego(i);
    return nr == kBrak ? nullptr : wlasne[nr].rekord.get();
  }
  // A field of record i: from its writable record once detached, else from the store.
  template <class Field, class Value>
  Value field(std::size_t i, Field CTowar::*full, Value (GoodsStore::*packed)(std::size_t) const) const {
    const CTowar* w = wlasny(i);
    return w ? Value(w->*full) : (towary.*packed)(i);
  }
  char ty(std::size_t i) const { return field(i, &CTowar::Ty, &GoodsStore::ty); }
  std::uint32_t kp(std::size_t i) const { return field(i, &CTowar::KP, &GoodsStore::kp); }
  std::string_view kk(std::size_t i) const { return field(i, &CTowar::KK, &GoodsStore::kk); }
  std::uint32_t id(std::size_t i) const { return field(i, &CTowar::Id, &GoodsStore::id); }
  std::string_view na(std::size_t i) const { return field(i, &CTowar::Na, &GoodsStore::na); }
  // Clears a marker of record i, also in a view that shows the record now: a reference the
  // walk handed out shows the record as it stands, as the writable record would.
  void clearMarker(std::size_t i, GoodsStore::Marker m) {
    const auto clear = [m](CTowar& t) {
      (m == GoodsStore::markerTy ? t.Ty_brak : m == GoodsStore::markerId ? t.Id_brak : t.Na_brak) = false;
    };
    if (const std::uint32_t nr = nrWlasnego(i); nr != kBrak) {
      clear(*wlasne[nr].rekord);
      return;
    }
    if (!towary.marker(i, m)) return;
    towary.clearMarker(i, m);
    for (std::size_t v = 0; v < kViews; ++v) {
      if (widokMiejsce[v] != i) continue;
      clear(*widoki[v]);
      // The view holds the record's markers as they are now.
      if (widokPokazane[v] != GoodsStore::kNothingShown) widokPokazane[v] &= ~(std::uint64_t{m} << 32);
    }
  }

  // A CTowar, or a record built by the job reader.
  template <class Goods>
  void add(const Goods& t) {
    towary.add(t);
    const std::size_t i = towary.size() - 1;
    if (indexKP.aktualny) insert(indexKP, i);
    if (indexKK.aktualny) insert(indexKK, i);
  }

  // Record i as a CTowar in the view object handed out longest ago; the view that shows it
  // already is reused, so handing out the same record twice gives the same object.
  const CTowar& view(std::size_t i) {
    if (const CTowar* w = wlasny(i)) return *w;
    std::size_t v = std::find(widokMiejsce.begin(), widokMiejsce.end(), i) - widokMiejsce.begin();
    if (v == kViews) v = std::min_element(widokUzyty.begin(), widokUzyty.end()) - widokUzyty.begin();
    widokUzyty[v] = ++zegar;
    CTowar& t = *widoki[v];
    towary.unpack(i, t, &widokPokazane[v]);
    t.katalog_ = wlasciciel;
    t.miejsce_ = i;
    widokMiejsce[v] = i;
    return t;
  }

  // Record i detached from the store as the writable record of the catalogue. A view that
  // shows it becomes that record, so that a reference obtained from the cursor is the record.
  CTowar& detach(std::size_t i) {
    if (const std::uint32_t nr = nrWlasnego(i); nr != kBrak) return *wlasne[nr].rekord;
    std::unique_ptr<CTowar> rekord;
    const std::size_t v = std::find(widokMiejsce.begin(), widokMiejsce.end(), i) - widokMiejsce.begin();
    if (v != kViews) {
      rekord = std::move(widoki[v]);
      widoki[v] = std::make_unique<CTowar>();
      widokMiejsce[v] = kKoniec;
      widokPokazane[v] = GoodsStore::kNothingShown;
      widokUzyty[v] = 0;
    } else {
      rekord = std::make_unique<CTowar>();
    }
    towary.unpack(i, *rekord);
    rekord->katalog_ = wlasciciel;
    rekord->miejsce_ = i;
    CTowar& t = *rekord;
    if (wlasnyNr.size() < size()) wlasnyNr.resize(size(), kBrak);
    wlasnyNr[i] = static_cast<std::uint32_t>(wlasne.size());
    wlasne.push_back(Wydany{std::move(rekord), t.KP, t.KK, t.Ty});
    return t;
  }

  // ---- Sorted vectors ------------------------------------------------------------------

  // The key of record i, and of entry p of type vector t, under the index.
  Klucz key(const Index& x, std::size_t i) const {
    return x.tekstowy ? Klucz{prefix(kk(i)), true, this, i} : Klucz{kp(i), false, nullptr, 0};
  }
  Klucz keyAt(const Index& x, const Index::Typ& t, std::size_t p) const {
    return Klucz{t.skroty[p], x.tekstowy, this, t.miejsca[p]};
  }
  // keyAt(x, t, p) < k, reading the entry's place only when the numbers tie: a binary search
  // then touches one vector per step, not two.
  bool entryBelow(const Index& x, const Index::Typ& t, std::size_t p, const Klucz& k) const {
    const std::uint64_t s = t.skroty[p];
    if (s != k.skrot) return s < k.skrot;
    return x.tekstowy && kk(t.miejsca[p]) < k.pelny();
  }
  // The first of the n entries of `keys` for which `holds` is false, where it holds for a
  // leading run: a binary search whose halving is arithmetic rather than a branch (on a random
  // key the processor would mispredict half of those branches), and which asks for both
  // entries the next step may read while this one waits for its own.
  template <class Holds>
  static std::size_t partitionPoint(const std::uint64_t* keys, std::size_t n, Holds holds) {
    if (n == 0) return 0;
    std::size_t base = 0;
    while (n > 1) {
      const std::size_t half = n / 2;
      const std::size_t next = (n - half) / 2;
      __builtin_prefetch(keys + base + next);
      __builtin_prefetch(keys + base + half + next);
      base += half * static_cast<std::size_t>(holds(base + half));
      n -= half;
    }
    return base + static_cast<std::size_t>(holds(base));
  }

  static Index::Typ& typOf(Index& x, char t) {
    auto it = std::find_if(x.typy.begin(), x.typy.end(), [t](const Index::Typ& e) { return e.typ == t; });
    if (it == x.typy.end()) it = x.typy.insert(x.typy.end(), Index::Typ{t, {}, {}});
    return *it;
  }

  void build(Index& x) {
    x.typy.clear();
    x.sloty.clear();
    x.zajete = 0;
    x.przesuniete = 0;
    for (std::size_t i = 0; i < size(); ++i) typOf(x, ty(i)).miejsca.push_back(static_cast<std::uint32_t>(i));
    for (Index::Typ& t : x.typy) {
      std::vector<Wpis> wpisy(t.miejsca.size());
      for (std::size_t j = 0; j < wpisy.size(); ++j) {
        const std::uint32_t i = t.miejsca[j];
        if (x.tekstowy) {
          const std::string_view k = kk(i);
          wpisy[j] = {prefix(k), k.size() > 8 ? static_cast<std::uint32_t>(prefix(k.substr(8)) >> 32) : 0, i};
        } else {
          wpisy[j] = {kp(i), 0, i};
        }
      }
      sortDescending(wpisy, x.tekstowy);
      // Barcodes that share their first twelve bytes (two EAN-13 codes never do: the thirteenth
      // digit is the check digit of the twelve before it): by the whole barcode, descending,
      // equal ones still in list order.
      if (x.tekstowy) {
        for (auto run = wpisy.begin(); run != wpisy.end();) {
          const auto end = std::find_if(run, wpisy.end(), [&](const Wpis& w) {
            return w.skrot != run->skrot || w.dalej != run->dalej;
          });
          if (end - run > 1)
            std::stable_sort(run, end, [&](const Wpis& a, const Wpis& b) { return kk(b.miejsce) < kk(a.miejsce); });
          run = end;
        }
      }
      t.skroty.resize(wpisy.size());
      for (std::size_t j = 0; j < wpisy.size(); ++j) {
        t.skroty[j] = wpisy[j].skrot;
        t.miejsca[j] = wpisy[j].miejsce;
      }
    }
    x.aktualny = true;
    ++wersja;
  }

  void insert(Index& x, std::size_t i) {
    Index::Typ& t = typOf(x, ty(i));
    const Klucz k = key(x, i);
    // The newest record goes after every entry of its key or greater; usually that is the end.
    const std::size_t lo =
        partitionPoint(t.skroty.data(), t.miejsca.size(), [&](std::size_t p) { return !entryBelow(x, t, p, k); });
    x.przesuniete += t.miejsca.size() - lo;
    if (x.przesuniete > size()) {
      x.aktualny = false;
      x.typy.clear();
      x.sloty.clear();
      x.zajete = 0;
      ++wersja;
      return;
    }
    t.miejsca.insert(t.miejsca.begin() + static_cast<std::ptrdiff_t>(lo), static_cast<std::uint32_t>(i));
    t.skroty.insert(t.skroty.begin() + static_cast<std::ptrdiff_t>(lo), k.skrot);
    if (!x.sloty.empty()) enter(x, i);
    ++wersja;
  }

  static bool passes(char typ, char t) { return typ == ' ' || typ == t; }

  // The greatest key strictly below the key of record `od` (od == kKoniec: the greatest key),
  // first in list order among equals, among the records of `typ` (' ' every type). A walk
  // continues from where the previous step stood; anything else starts with a binary search.
  std::size_t below(const Index& x, char typ, std::size_t od) {
    Miejsce& m = miejsce;
    const bool znany = m.index == &x && m.wersja == wersja && m.typ == typ;
    Klucz k{};
    if (od != kKoniec) k = znany && m.wynik == od ? m.wynikKlucz : key(x, od);
    const bool dalej = znany && (m.od == kKoniec || (od != kKoniec && !(m.odKlucz < k)));
    if (!dalej) {
      m.index = &x;
      m.wersja = wersja;
      m.typ = typ;
      m.poz.assign(x.typy.size(), 0);
    }
    std::size_t best = kKoniec;
    Klucz bestKlucz{};
    for (std::size_t ti = 0; ti < x.typy.size(); ++ti) {
      const Index::Typ& t = x.typy[ti];
      if (!passes(typ, t.typ)) continue;
      const std::size_t n = t.miejsca.size();
      std::size_t& p = m.poz[ti];
      if (od != kKoniec) {
        if (dalej) {
          while (p < n && !entryBelow(x, t, p, k)) ++p;
        } else {
          p = partitionPoint(t.skroty.data(), n, [&](std::size_t q) { return !entryBelow(x, t, q, k); });
        }
      }
      if (p == n) continue;
      const Klucz c = keyAt(x, t, p);
      if (best == kKoniec || before(c, t.miejsca[p], bestKlucz, best)) {
        best = t.miejsca[p];
        bestKlucz = c;
      }
    }
    m.od = od;
    m.odKlucz = k;
    m.wynik = best;
    m.wynikKlucz = bestKlucz;
    // The caller hands this record out next; its packed form is fetched meanwhile. A walk also
    // asks for the records a few steps ahead in each vector (the record, then its texts once
    // the record has arrived), so that later steps find them in the cache.
    if (best != kKoniec) towary.prefetch(best);
    if (dalej) {
      for (std::size_t ti = 0; ti < x.typy.size(); ++ti) {
        const Index::Typ& t = x.typy[ti];
        if (!passes(typ, t.typ)) continue;
        const std::size_t p = m.poz[ti];
        if (p + kPrzodRekord < t.miejsca.size()) towary.prefetch(t.miejsca[p + kPrzodRekord]);
        if (p + kPrzodTeksty < t.miejsca.size()) towary.prefetchTexts(t.miejsca[p + kPrzodTeksty]);
      }
    }
    return best;
  }

  // ---- Look-up table ----------------------------------------------------------------

  // The table's number of a key and goods type: the PLU code itself, or a hash of the whole
  // barcode (the first eight bytes alone would not tell apart the barcodes of one producer),
  // with the goods type in the top byte.
  static std::uint64_t tagged(const Index& x, std::uint32_t kp, std::string_view kk, char typ) {
    std::uint64_t h = kp;
    if (x.tekstowy) {
      h = ziarno() ^ kk.size();
      std::size_t b = 0;
      for (; b + 8 <= kk.size(); b += 8) {
        std::uint64_t w = 0;
        std::memcpy(&w, kk.data() + b, 8);
        h = (h ^ w) * 0xFF51AFD7ED558CCDu;
        h ^= h >> 32;
      }
      std::uint64_t w = 0;
      if (b < kk.size()) std::memcpy(&w, kk.data() + b, kk.size() - b);
      h = (h ^ w) * 0xC4CEB9FE1A85EC53u;
      h = (h ^ (h >> 29)) >> 8;
    }
    return h | std::uint64_t{static_cast<unsigned char>(typ)} << 56;
  }
  static std::size_t slotOf(std::uint64_t klucz, std::size_t maska) {
    const std::uint64_t h = (klucz ^ ziarno()) * 0x9E3779B97F4A7C15u;
    return static_cast<std::size_t>(h ^ (h >> 31)) & maska;
  }
  // The slot holding a key and goods type (with the barcode, when the index has barcodes, to
  // tell apart barcodes of one hash), or the free slot where they belong.
  std::size_t probe(const Index& x, std::uint64_t klucz, std::string_view kk) const {
    const std::size_t maska = x.sloty.size() - 1;
    for (std::size_t s = slotOf(klucz, maska);; s = (s + 1) & maska) {
      const Index::Slot& slot = x.sloty[s];
      if (slot.miejsce == 0) return s;
      if (slot.klucz() == klucz && (!x.tekstowy || this->kk(slot.miejsce - 1) == kk)) return s;
    }
  }
  std::uint64_t taggedOf(const Index& x, std::size_t i) const {
    return tagged(x, x.tekstowy ? 0 : kp(i), x.tekstowy ? kk(i) : std::string_view(), ty(i));
  }
  // Enters record i unless an earlier record has its key and type; the table grows to stay at
  // most half full.
  void enter(Index& x, std::size_t i) {
    if (2 * (x.zajete + 1) > x.sloty.size()) {
      std::vector<Index::Slot> stare(std::max<std::size_t>(64, 2 * x.sloty.size()));
      stare.swap(x.sloty);
      x.zajete = 0;
      // Re-entered in list order, so that each pair keeps its first place.
      std::vector<std::uint32_t> miejsca;
      miejsca.reserve(stare.size() / 2);
      for (const Index::Slot& slot : stare)
        if (slot.miejsce != 0) miejsca.push_back(slot.miejsce - 1);
      std::sort(miejsca.begin(), miejsca.end());
      for (std::uint32_t m : miejsca) enter(x, m);
    }
    const std::uint64_t klucz = taggedOf(x, i);
    Index::Slot& slot = x.sloty[probe(x, klucz, x.tekstowy ? kk(i) : std::string_view())];
    if (slot.miejsce != 0) return;
    slot = Index::Slot{static_cast<std::uint32_t>(klucz), static_cast<std::uint32_t>(klucz >> 32),
                       static_cast<std::uint32_t>(i + 1)};
    ++x.zajete;
  }
  void buildTable(Index& x) {
    std::size_t rozmiar = 64;
    while (rozmiar < 2 * size()) rozmiar *= 2;
    x.sloty.assign(rozmiar, Index::Slot{});
    x.zajete = 0;
    // The records' slots lie at random in a table larger than the cache: each is asked for a
    // few records ahead of its entry.
    constexpr std::size_t kPrzod = 16;
    const auto ask = [&](std::size_t i) { __builtin_prefetch(&x.sloty[slotOf(taggedOf(x, i), rozmiar - 1)]); };
    for (std::size_t i = 0; i < std::min(kPrzod, size()); ++i) ask(i);
    for (std::size_t i = 0; i < size(); ++i) {
      if (i + kPrzod < size()) ask(i + kPrzod);
      enter(x, i);
    }
  }

  // The first record in list order of `typ` whose key equals the search key's.
  std::size_t find(Index& x, char typ, const CTowar& klucz) {
    if (x.sloty.empty()) buildTable(x);
    const std::string_view kk = x.tekstowy ? std::string_view(klucz.KK) : std::string_view();
    std::size_t best = kKoniec;
    for (const Index::Typ& t : x.typy) {
      if (!passes(typ, t.typ)) continue;
      const Index::Slot& slot = x.sloty[probe(x, tagged(x, klucz.KP, kk, t.typ), kk)];
      if (slot.miejsce != 0) best = std::min<std::size_t>(best, slot.miejsce - 1);
    }
    return best;
  }

  Index& indexOf(SortType sortType) { return sortType == sortKP ? indexKP : indexKK; }

  void ensureIndex(SortType sortType) {
    Index& x = indexOf(sortType);
    if (!x.aktualny) build(x);
  }

  // The greatest key below record od's (od == kKoniec: the greatest) under the sort type.
  std::size_t step(SortType sortType, char typ, std::size_t od) {
    ensureIndex(sortType);
    return below(indexOf(sortType), typ, od);
  }

  // Takes in the changes made through writable pointers since the last call.
  void sync() {
    for (std::size_t i : wydane) {
      Wydany& w = wlasne[wlasnyNr[i]];
      const CTowar& t = *w.rekord;
      if (t.Ty != w.ty || t.KP != w.kp) indexKP.aktualny = false;
      if (t.Ty != w.ty || t.KK != w.kk) indexKK.aktualny = false;
      w.ty = t.Ty;
      w.kp = t.KP;
      if (w.kk != t.KK) w.kk = t.KK;
      if (i < tyCzyste && t.Ty_brak) tyZnowu.insert(i);
    }
    wydane.clear();
  }

  // Type test of the records in [from, to) while a single type is current: clears their
  // Ty markers.
  void clearTy(std::size_t from, std::size_t to) {
    to = std::min(to, size());
    if (from > tyCzyste) {
      for (std::size_t i = from; i < to; ++i) clearMarker(i, GoodsStore::markerTy);
      return;
    }
    for (auto it = tyZnowu.lower_bound(from); it != tyZnowu.end() && *it < to;) {
      clearMarker(*it, GoodsStore::markerTy);
      it = tyZnowu.erase(it);
    }
    for (std::size_t i = tyCzyste; i < to; ++i) clearMarker(i, GoodsStore::markerTy);
    tyCzyste = std::max(tyCzyste, to);
  }
};

CVexaXml::CVexaXml() : kat_(std::make_unique<Katalog>(this)) {}

CVexaXml::CVexaXml(const CVexaXml& other) : kat_(std::make_unique<Katalog>(this)) { *this = other; }

CVexaXml& CVexaXml::operator=(const CVexaXml& other) {
  if (this == &other) return *this;
  operacja_ = other.operacja_;
  idModelu_ = other.idModelu_;
  idTowaru_ = other.idTowaru_;
  idOpakowania_ = other.idOpakowania_;
  exePath_ = other.exePath_;
  dataOd_ = other.dataOd_;
  dataDo_ = other.dataDo_;
  fiskalny_ = other.fiskalny_;
  dokument_ = other.dokument_;
  sortType_ = other.sortType_;
  std::memcpy(twTypy_, other.twTypy_, sizeof twTypy_);
  twTyp_ = other.twTyp_;
  ileTow_ = other.ileTow_;
  ileOpk_ = other.ileOpk_;
  uniRule_ = other.uniRule_;
  uniType_ = other.uniType_;
  // The copy gets records of its own; its indexes and marker watermark start afresh.
  auto kopia = std::make_unique<Katalog>(this, other.kat_->towary);
  kopia->wlasnyNr = other.kat_->wlasnyNr;
  kopia->wlasne.reserve(other.kat_->wlasne.size());
  for (const Katalog::Wydany& w : other.kat_->wlasne) {
    auto rekord = std::make_unique<CTowar>(*w.rekord);
    rekord->katalog_ = this;
    rekord->miejsce_ = w.rekord->miejsce_;
    kopia->wlasne.push_back(Katalog::Wydany{std::move(rekord), w.kp, w.kk, w.ty});
  }
  kopia->pozycje = other.kat_->pozycje;
  kopia->kursor = other.kat_->kursor;
  kopia->kursorDF = other.kat_->kursorDF;
  kat_ = std::move(kopia);
  return *this;
}

CVexaXml::~CVexaXml() = default;

void CVexaXml::DodajTowar(const CTowar& towar) {
  kat_->add(towar);
  Policz(towar.Ty);
}

void CVexaXml::DodajTowar(const GoodsBuilder& towar) {
  kat_->add(towar);
  Policz(towar.ty());
}

void CVexaXml::DodajTowarDF(const CTowarDF& towar) {
  kat_->pozycje.push_back(towar);
  Policz(towar.Ty);
}

std::size_t CVexaXml::ZostawTowary(const std::vector<char>& zostaw) {
  Katalog& k = *kat_;
  k.sync();
  auto nowy = std::make_unique<Katalog>(this);
  nowy->pozycje = k.pozycje;
  std::size_t pominiete = 0;
  for (std::size_t i = 0; i < k.size(); ++i) {
    const CTowar& t = k.view(i);
    if (i >= zostaw.size() || zostaw[i]) {
      nowy->add(t);
      continue;
    }
    ++pominiete;
    if (t.Ty == 'O') {
      --ileOpk_;
    } else {
      --ileTow_;
    }
  }
  kat_ = std::move(nowy);
  TwIterReset();
  return pominiete;
}

void CVexaXml::Policz(char typ) {
  if (typ == 'O')
    ++ileOpk_;
  else
    ++ileTow_;
}

void CVexaXml::SetSortType(SortType sortType) { sortType_ = sortType; }

void CVexaXml::SetSortTypeTwType(char typ) {
  const char* typy = " ";
  switch (typ) {
    case '1': typy = "TO"; break;
    case '2': typy = "OT"; break;
    case 'O': typy = "O"; break;
    case 'T': typy = "T"; break;
    default: break;
  }
  std::strncpy(twTypy_, typy, sizeof twTypy_);
  twTyp_ = twTypy_[0];
}

void CVexaXml::TwIterReset() {
  Katalog& k = *kat_;
  k.sync();
  const std::size_t n = k.size();
  if (sortType_ == sortNone) {
    std::size_t i = 0;
    if (twTyp_ != ' ') {
      while (i < n && k.ty(i) != twTyp_) ++i;
      k.clearTy(0, i + 1);
    }
    k.kursor = i < n ? i : kKoniec;
  } else {
    if (twTyp_ != ' ') k.clearTy(0, n);
    k.kursor = k.step(sortType_, twTyp_, kKoniec);
  }
  if (k.kursor == kKoniec) TwIterReset_NextTwTyp();
  k.kursorDF = k.pozycje.empty() ? kKoniec : 0;
}

void CVexaXml::TwIterReset(SortType sortType, char typ) {
  SetSortType(sortType);
  SetSortTypeTwType(typ);
  TwIterReset();
}

void CVexaXml::TwIterReset_NextTwTyp() {
  if (twTypy_[0] != 0 && twTypy_[1] != 0 && twTyp_ == twTypy_[0]) {
    twTyp_ = twTypy_[1];
    TwIterReset();
  } else {
    kat_->kursor = kKoniec;
  }
}

bool CVexaXml::TwIterEmpty() const {
  return fiskalny_ ? kat_->kursorDF == kKoniec : kat_->kursor == kKoniec;
}

const CTowar& CVexaXml::TwIterGetNext() {
  static const CTowar pusty;
  Katalog& k = *kat_;
  k.sync();
  const std::size_t n = k.size();
  if (n == 0) return pusty;
  if (k.kursor == kKoniec) return k.view(n - 1);
  const std::size_t wynik = k.kursor;
  if (sortType_ == sortNone) {
    std::size_t i = wynik + 1;
    if (twTyp_ != ' ') {
      while (i < n && k.ty(i) != twTyp_) ++i;
      k.clearTy(wynik + 1, i + 1);
    }
    k.kursor = i < n ? i : kKoniec;
  } else {
    if (twTyp_ != ' ') k.clearTy(0, n);
    k.kursor = k.step(sortType_, twTyp_, wynik);
  }
  if (k.kursor == kKoniec) TwIterReset_NextTwTyp();
  return k.view(wynik);
}

const CTowarDF& CVexaXml::TwIterGetNextDF() {
  static const CTowarDF pusta;
  Katalog& k = *kat_;
  if (k.pozycje.empty()) return pusta;
  if (k.kursorDF == kKoniec) return k.pozycje.back();
  const std::size_t wynik = k.kursorDF;
  k.kursorDF = wynik + 1 < k.pozycje.size() ? wynik + 1 : kKoniec;
  return k.pozycje[wynik];
}

CTowar* CVexaXml::TwIterGetReadWrite(const CTowar& towar) {
  Katalog& k = *kat_;
  const std::size_t i = towar.miejsce_;
  if (towar.katalog_ != this || i >= k.size()) return nullptr;
  // The record itself: its writable copy, or the view that shows it now.
  const bool wlasny = k.nrWlasnego(i) != Katalog::kBrak ? k.wlasny(i) == &towar
                                           : std::any_of(k.widoki.begin(), k.widoki.end(),
                                                         [&](const auto& w) { return w.get() == &towar; });
  if (!wlasny) return nullptr;
  CTowar& rekord = k.detach(i);
  k.wydane.push_back(i);
  return &rekord;
}

std::size_t CVexaXml::TwMiejsce(const CTowar& towar) const {
  return towar.katalog_ == this && towar.miejsce_ < kat_->size() ? towar.miejsce_ : kBrakMiejsca;
}

void CVexaXml::TwIterDelete() { kat_ = std::make_unique<Katalog>(this); }

CTowar* CVexaXml::SearchTowar(const CTowar& klucz) {
  Katalog& k = *kat_;
  k.sync();
  const std::size_t n = k.size();
  std::size_t found = kKoniec;
  if (sortType_ != sortNone) {
    k.ensureIndex(sortType_);
    found = k.find(k.indexOf(sortType_), twTyp_, klucz);
  }
  if (twTyp_ != ' ') k.clearTy(0, found == kKoniec ? n : found + 1);
  if (found == kKoniec) return nullptr;
  k.wydane.push_back(found);
  return &k.detach(found);
}

void CVexaXml::SetUnikNazwRule(UniType uniType, const char* rule) {
  uniType_ = uniType;
  uniRule_ = rule ? rule : "";
}

std::string CVexaXml::UniNameRule(const std::string& name) const {
  if (uniType_ != uniRule || uniRule_.empty()) return name;
  // windows-1250 is a single-byte code page: every character is one byte.
  std::string wynik;
  wynik.reserve(name.size());
  for (char c : name)
    if (uniRule_.find(c) == std::string::npos) wynik += c;
  return wynik;
}

int CVexaXml::SprawdzUnikNazw(const std::string& name, unsigned long id) {
  if (name.empty() || uniRule_.empty()) return 0;
  Katalog& k = *kat_;
  k.sync();
  const std::string klucz = UniNameRule(name);
  std::string nazwa;
  for (std::size_t i = 0; i < k.size(); ++i) {
    if (twTyp_ != ' ') {
      k.clearMarker(i, GoodsStore::markerTy);
      if (k.ty(i) != twTyp_) continue;
    }
    k.clearMarker(i, GoodsStore::markerId);
    if (k.id(i) == id) continue;
    k.clearMarker(i, GoodsStore::markerNa);
    nazwa.assign(k.na(i));
    if (UniNameRule(nazwa) == klucz) return 1;
  }
  return 0;
}

std::size_t CVexaXml::IleRekordow() const { return kat_->towary.size(); }
std::size_t CVexaXml::IlePozycji() const { return kat_->pozycje.size(); }

int CVexaXml::TwCompare(const CTowar& a, const CTowar& b) const {
  switch (sortType_) {
    case sortKP:
      // Compared as numbers: the plain 32-bit difference would turn over for codes more than
      // 2^31 apart and break the order.
      return b.KP > a.KP ? 1 : (b.KP < a.KP ? -1 : 0);
    case sortKK: {
      const int c = b.KK.compare(a.KK);
      return c > 0 ? 1 : (c < 0 ? -1 : 0);
    }
    default:
      return 1;
  }
}
