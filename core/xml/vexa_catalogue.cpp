// The goods catalogue of the job document: both lists, the cursor, search and unique names.
//
// The goods cursor visits records in list order or by descending key (PLU code or barcode),
// restricted to the current goods type. A sorted step takes, among the records of the current
// type, the greatest key strictly below the key just returned, ties going to the record first
// in list order. Instead of scanning the list for every step, the catalogue keeps an ordered
// index per key (built the first time a sort needs it, then kept up to date as records are
// added or changed), so a full sorted walk costs O(n log n) and a search O(log n).
//
// The walk and the search type-test records, and a type test made while the current type is
// not "every type" clears the tested record's Ty marker. A sorted step or reset tests every
// record; a search tests the records up to the one found (all when none is). Those markers are
// cleared through a watermark: the records below it are known to have their Ty marker clear,
// so the work is done once per record rather than once per step.
#include "core/xml/vexa_xml.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <limits>
#include <map>
#include <set>
#include <vector>


namespace {

constexpr std::size_t kKoniec = std::numeric_limits<std::size_t>::max();

// The ordered index of one key: per goods type, the records by descending key, ties by
// ascending list place. Keys and types are kept as snapshots (so that a record changed through
// a writable pointer can be found and moved); the sets hold list places only and read the keys
// from the snapshot. The cursor's "every type" combines the few per-type sets.
template <class Key>
struct KeyIndex {
  // A key that is not in the index, at a place used to break ties.
  struct Probe {
    const Key* key;
    std::size_t miejsce;
  };
  struct Order {
    using is_transparent = void;
    const std::vector<Key>* keys;
    static bool before(const Key& ka, std::size_t a, const Key& kb, std::size_t b) {
      if (ka != kb) return kb < ka;
      return a < b;
    }
    bool operator()(std::size_t a, std::size_t b) const {
      return before((*keys)[a], a, (*keys)[b], b);
    }
    bool operator()(const Probe& p, std::size_t b) const {
      return before(*p.key, p.miejsce, (*keys)[b], b);
    }
    bool operator()(std::size_t a, const Probe& p) const {
      return before((*keys)[a], a, *p.key, p.miejsce);
    }
  };
  using Set = std::set<std::size_t, Order>;

  bool built = false;
  std::vector<Key> keys;
  std::vector<char> types;
  std::map<char, Set> byType;

  KeyIndex() = default;
  // The sets point at `keys`: an index stays where it was made.
  KeyIndex(const KeyIndex&) = delete;
  KeyIndex& operator=(const KeyIndex&) = delete;

  void add(std::size_t miejsce, const Key& key, char typ) {
    keys.push_back(key);
    types.push_back(typ);
    setOf(typ).insert(miejsce);
  }

  void update(std::size_t miejsce, const Key& key, char typ) {
    if (keys[miejsce] == key && types[miejsce] == typ) return;
    setOf(types[miejsce]).erase(miejsce);
    keys[miejsce] = key;
    types[miejsce] = typ;
    setOf(typ).insert(miejsce);
  }

  // Of two candidates, the one the cursor visits first.
  std::size_t better(std::size_t a, std::size_t b) const {
    if (a == kKoniec) return b;
    if (b == kKoniec) return a;
    return Order::before(keys[a], a, keys[b], b) ? a : b;
  }

  // The first record of the order, among the records of `typ` (' ' every type) not before
  // the probe.
  std::size_t from(char typ, const Probe& probe) const {
    std::size_t best = kKoniec;
    for (const auto& [ty, set] : byType) {
      if (typ != ' ' && ty != typ) continue;
      auto it = set.lower_bound(probe);
      if (it != set.end()) best = better(best, *it);
    }
    return best;
  }

  // The greatest key, first in list order among equals.
  std::size_t first(char typ) const {
    std::size_t best = kKoniec;
    for (const auto& [ty, set] : byType)
      if ((typ == ' ' || ty == typ) && !set.empty()) best = better(best, *set.begin());
    return best;
  }

  // The greatest key strictly below `key`, first in list order among equals.
  std::size_t below(char typ, const Key& key) const { return from(typ, Probe{&key, kKoniec}); }

  // The first record in list order whose key equals `key`.
  std::size_t find(char typ, const Key& key) const {
    const std::size_t i = from(typ, Probe{&key, 0});
    return i != kKoniec && keys[i] == key ? i : kKoniec;
  }

 private:
  Set& setOf(char typ) { return byType.try_emplace(typ, Order{&keys}).first->second; }
};

std::uint32_t keyKP(const CTowar& t) { return t.KP; }
const std::string& keyKK(const CTowar& t) { return t.KK; }

}  // namespace

struct CVexaXml::Katalog {
  std::deque<CTowar> towary;
  std::deque<CTowarDF> pozycje;
  std::size_t kursor = kKoniec;
  std::size_t kursorDF = kKoniec;

  KeyIndex<std::uint32_t> indexKP;
  KeyIndex<std::string> indexKK;

  // Records handed out as writable since the catalogue's last call.
  std::vector<std::size_t> wydane;
  // Every record below this place has its Ty marker clear, except those in tyZnowu (marked
  // not given again through a writable pointer).
  std::size_t tyCzyste = 0;
  std::set<std::size_t> tyZnowu;

  void ensureIndex(SortType sortType) {
    if (sortType == sortKP && !indexKP.built) {
      indexKP.built = true;
      for (std::size_t i = 0; i < towary.size(); ++i) indexKP.add(i, keyKP(towary[i]), towary[i].Ty);
    } else if (sortType == sortKK && !indexKK.built) {
      indexKK.built = true;
      for (std::size_t i = 0; i < towary.size(); ++i) indexKK.add(i, keyKK(towary[i]), towary[i].Ty);
    }
  }

  void indexAdded(std::size_t i) {
    if (indexKP.built) indexKP.add(i, keyKP(towary[i]), towary[i].Ty);
    if (indexKK.built) indexKK.add(i, keyKK(towary[i]), towary[i].Ty);
  }

  // Takes in the changes made through writable pointers since the last call.
  void sync() {
    for (std::size_t i : wydane) {
      const CTowar& t = towary[i];
      if (indexKP.built) indexKP.update(i, keyKP(t), t.Ty);
      if (indexKK.built) indexKK.update(i, keyKK(t), t.Ty);
      if (i < tyCzyste && t.Ty_brak) tyZnowu.insert(i);
    }
    wydane.clear();
  }

  // Type test of the records in [from, to) while a single type is current: clears their
  // Ty markers.
  void clearTy(std::size_t from, std::size_t to) {
    to = std::min(to, towary.size());
    if (from > tyCzyste) {
      for (std::size_t i = from; i < to; ++i) towary[i].Ty_brak = false;
      return;
    }
    for (auto it = tyZnowu.lower_bound(from); it != tyZnowu.end() && *it < to;) {
      towary[*it].Ty_brak = false;
      it = tyZnowu.erase(it);
    }
    for (std::size_t i = tyCzyste; i < to; ++i) towary[i].Ty_brak = false;
    tyCzyste = std::max(tyCzyste, to);
  }
};

CVexaXml::CVexaXml() : kat_(std::make_unique<Katalog>()) {}

CVexaXml::CVexaXml(const CVexaXml& other) : kat_(std::make_unique<Katalog>()) { *this = other; }

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
  auto kopia = std::make_unique<Katalog>();
  for (const CTowar& t : other.kat_->towary) {
    kopia->towary.push_back(t);
    kopia->towary.back().katalog_ = this;
    kopia->towary.back().miejsce_ = kopia->towary.size() - 1;
  }
  kopia->pozycje = other.kat_->pozycje;
  kopia->kursor = other.kat_->kursor;
  kopia->kursorDF = other.kat_->kursorDF;
  kat_ = std::move(kopia);
  return *this;
}

CVexaXml::~CVexaXml() = default;

void CVexaXml::DodajTowar(const CTowar& towar) {
  Katalog& k = *kat_;
  k.towary.push_back(towar);
  CTowar& nowy = k.towary.back();
  nowy.katalog_ = this;
  nowy.miejsce_ = k.towary.size() - 1;
  k.indexAdded(nowy.miejsce_);
  if (towar.Ty == 'O')
    ++ileOpk_;
  else
    ++ileTow_;
}

void CVexaXml::DodajTowarDF(const CTowarDF& towar) {
  kat_->pozycje.push_back(towar);
  if (towar.Ty == 'O')
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
  const std::size_t n = k.towary.size();
  if (sortType_ == sortNone) {
    std::size_t i = 0;
    if (twTyp_ != ' ') {
      while (i < n && k.towary[i].Ty != twTyp_) ++i;
      k.clearTy(0, i + 1);
    }
    k.kursor = i < n ? i : kKoniec;
  } else {
    if (twTyp_ != ' ') k.clearTy(0, n);
    k.ensureIndex(sortType_);
    k.kursor = sortType_ == sortKP ? k.indexKP.first(twTyp_) : k.indexKK.first(twTyp_);
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
  if (k.towary.empty()) return pusty;
  if (k.kursor == kKoniec) return k.towary.back();
  const std::size_t wynik = k.kursor;
  const std::size_t n = k.towary.size();
  if (sortType_ == sortNone) {
    std::size_t i = wynik + 1;
    if (twTyp_ != ' ') {
      while (i < n && k.towary[i].Ty != twTyp_) ++i;
      k.clearTy(wynik + 1, i + 1);
    }
    k.kursor = i < n ? i : kKoniec;
  } else {
    if (twTyp_ != ' ') k.clearTy(0, n);
    k.ensureIndex(sortType_);
    // The index's own copy of the key (current after sync) spares a visit to the record.
    k.kursor = sortType_ == sortKP ? k.indexKP.below(twTyp_, k.indexKP.keys[wynik])
                                   : k.indexKK.below(twTyp_, k.indexKK.keys[wynik]);
  }
  if (k.kursor == kKoniec) TwIterReset_NextTwTyp();
  return k.towary[wynik];
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
  if (towar.katalog_ != this || towar.miejsce_ >= k.towary.size()) return nullptr;
  CTowar& wlasny = k.towary[towar.miejsce_];
  if (&wlasny != &towar) return nullptr;
  k.wydane.push_back(towar.miejsce_);
  return &wlasny;
}

void CVexaXml::TwIterDelete() { kat_ = std::make_unique<Katalog>(); }

CTowar* CVexaXml::SearchTowar(const CTowar& klucz) {
  Katalog& k = *kat_;
  k.sync();
  const std::size_t n = k.towary.size();
  std::size_t found = kKoniec;
  if (sortType_ != sortNone) {
    k.ensureIndex(sortType_);
    found = sortType_ == sortKP ? k.indexKP.find(twTyp_, keyKP(klucz))
                                : k.indexKK.find(twTyp_, keyKK(klucz));
  }
  if (twTyp_ != ' ') k.clearTy(0, found == kKoniec ? n : found + 1);
  if (found == kKoniec) return nullptr;
  k.wydane.push_back(found);
  return &k.towary[found];
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
  for (CTowar& t : k.towary) {
    if (twTyp_ != ' ') {
      t.Ty_brak = false;
      if (t.Ty != twTyp_) continue;
    }
    t.Id_brak = false;
    if (t.Id == id) continue;
    t.Na_brak = false;
    if (UniNameRule(t.Na) == klucz) return 1;
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
