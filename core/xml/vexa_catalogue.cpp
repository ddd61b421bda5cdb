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
// The goods catalogue of the job document: both lists, the cursor, search and unique names.
//
// The goods are kept packed (GoodsStore). The cursor hands out each record as a full CTowar
// unpacked into one of a few view objects used in turn, so a walk allocates nothing; a view
// stays valid until kViews further records have been handed out. A record handed out as
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
// walk costs one pass over them and a search a binary search.
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
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/xml/goods_store.h"

namespace {

constexpr std::size_t kKoniec = std::numeric_limits<std::size_t>::max();
// View objects the cursor hands records out in.
constexpr std::size_t kViews = 4;

// The cursor's order of two records of one key: descending key, ties by ascending list place.
template <class Key>
bool before(const Key& ka, std::size_t a, const Key& kb, std::size_t b) {
  if (ka != kb) return kb < ka;
  return a < b;
}

}  // namespace

struct CVexaXml::Katalog {
  explicit Katalog(const CVexaXml* owner) : wlasciciel(owner) { makeViews(); }
  // A catalogue of `owner` holding a copy of the packed goods `g`.
  Katalog(const CVexaXml* owner, const GoodsStore& g) : wlasciciel(owner), towary(g) { makeViews(); }

  void makeViews() {
    for (auto& w : widoki) w = std::make_unique<CTowar>();
    widokMiejsce.fill(kKoniec);
  }

  // A record handed out as writable, with its keys and type as the indexes last saw them.
  struct Wydany {
    std::unique_ptr<CTowar> rekord;
    std::uint32_t kp;
    std::string kk;
    char ty;
  };

  // The sorted vectors of one key: per goods type, list places by the cursor's order.
  struct Index {
    bool aktualny = false;
    std::vector<std::pair<char, std::vector<std::uint32_t>>> typy;
  };

  // Where a sorted walk stands: per type vector of `index`, the first entry whose key is below
  // the key of record `od` (all entries when od is kKoniec); valid while the index is unchanged.
  struct Miejsce {
    const Index* index = nullptr;
    unsigned wersja = 0;
    char typ = 0;
    std::size_t od = kKoniec;
    std::vector<std::size_t> poz;
  };

  const CVexaXml* wlasciciel;
  GoodsStore towary;
  std::unordered_map<std::size_t, Wydany> wlasne;
  std::array<std::unique_ptr<CTowar>, kViews> widoki;
  std::array<std::size_t, kViews> widokMiejsce{};
  std::size_t nastepnyWidok = 0;

  std::deque<CTowarDF> pozycje;
  std::size_t kursor = kKoniec;
  std::size_t kursorDF = kKoniec;

  Index indexKP;
  Index indexKK;
  unsigned wersja = 0;   // grows with every change of an index
  Miejsce miejsce;

  // Records handed out as writable since the catalogue's last call.
  std::vector<std::size_t> wydane;
  // Every record below this place has its Ty marker clear, except those in tyZnowu (marked
  // not given again through a writable pointer).
  std::size_t tyCzyste = 0;
  std::set<std::size_t> tyZnowu;

  std::size_t size() const { return towary.size(); }
  const CTowar* wlasny(std::size_t i) const {
    return towary.detached(i) ? wlasne.find(i)->second.rekord.get() : nullptr;
  }
  char ty(std::size_t i) const {
    const CTowar* w = wlasny(i);
    return w ? w->Ty : towary.ty(i);
  }
  std::uint32_t kp(std::size_t i) const {
    const CTowar* w = wlasny(i);
    return w ? w->KP : towary.kp(i);
  }
  std::string_view kk(std::size_t i) const {
    const CTowar* w = wlasny(i);
    return w ? std::string_view(w->KK) : towary.kk(i);
  }
  std::uint32_t id(std::size_t i) const {
    const CTowar* w = wlasny(i);
    return w ? w->Id : towary.id(i);
  }
  std::string_view na(std::size_t i) const {
    const CTowar* w = wlasny(i);
    return w ? std::string_view(w->Na) : towary.na(i);
  }
  void clearMarker(std::size_t i, GoodsStore::Marker m) {
    if (!towary.detached(i)) {
      towary.clearMarker(i, m);
      return;
    }
    CTowar& t = *wlasne.find(i)->second.rekord;
    (m == GoodsStore::markerTy ? t.Ty_brak : m == GoodsStore::markerId ? t.Id_brak : t.Na_brak) = false;
  }

  void add(const CTowar& t) {
    towary.add(t);
    const std::size_t i = towary.size() - 1;
    if (indexKP.aktualny) insert(indexKP, i, [this](std::size_t j) { return kp(j); });
    if (indexKK.aktualny) insert(indexKK, i, [this](std::size_t j) { return kk(j); });
  }

  // Record i as a CTowar in the next view object; the view that shows it already is reused,
  // so handing out the same record twice gives the same object.
  const CTowar& view(std::size_t i) {
    if (const CTowar* w = wlasny(i)) return *w;
    std::size_t v = std::find(widokMiejsce.begin(), widokMiejsce.end(), i) - widokMiejsce.begin();
    if (v == kViews) {
      v = nastepnyWidok;
      nastepnyWidok = (nastepnyWidok + 1) % kViews;
    }
    CTowar& t = *widoki[v];
    towary.unpack(i, t);
    t.katalog_ = wlasciciel;
    t.miejsce_ = i;
    widokMiejsce[v] = i;
    return t;
  }

  // Record i detached from the store as the writable record of the catalogue. A view that
  // shows it becomes that record, so that a reference obtained from the cursor is the record.
  CTowar& detach(std::size_t i) {
    if (towary.detached(i)) return *wlasne.find(i)->second.rekord;
    std::unique_ptr<CTowar> rekord;
    const std::size_t v = std::find(widokMiejsce.begin(), widokMiejsce.end(), i) - widokMiejsce.begin();
    if (v != kViews) {
      rekord = std::move(widoki[v]);
      widoki[v] = std::make_unique<CTowar>();
      widokMiejsce[v] = kKoniec;
    } else {
      rekord = std::make_unique<CTowar>();
    }
    towary.unpack(i, *rekord);
    rekord->katalog_ = wlasciciel;
    rekord->miejsce_ = i;
    CTowar& t = *rekord;
    wlasne.emplace(i, Wydany{std::move(rekord), t.KP, t.KK, t.Ty});
    towary.detach(i);
    return t;
  }

  // ---- Sorted vectors ------------------------------------------------------------------

  template <class KeyOf>
  void build(Index& index, KeyOf key) {
    using Key = decltype(key(0));
    std::vector<std::pair<char, std::vector<std::pair<Key, std::uint32_t>>>> typy;
    for (std::size_t i = 0; i < size(); ++i) {
      const char t = ty(i);
      auto it = std::find_if(typy.begin(), typy.end(), [t](const auto& e) { return e.first == t; });
      if (it == typy.end()) it = typy.insert(typy.end(), {t, {}});
      it->second.emplace_back(key(i), static_cast<std::uint32_t>(i));
    }
    index.typy.clear();
    for (auto& [t, wpisy] : typy) {
      std::sort(wpisy.begin(), wpisy.end(),
                [](const auto& a, const auto& b) { return before(a.first, a.second, b.first, b.second); });
      std::vector<std::uint32_t> miejsca(wpisy.size());
      for (std::size_t j = 0; j < wpisy.size(); ++j) miejsca[j] = wpisy[j].second;
      index.typy.emplace_back(t, std::move(miejsca));
    }
    index.aktualny = true;
    ++wersja;
  }

  template <class KeyOf>
  void insert(Index& index, std::size_t i, KeyOf key) {
    const char t = ty(i);
    auto it = std::find_if(index.typy.begin(), index.typy.end(), [t](const auto& e) { return e.first == t; });
    if (it == index.typy.end()) it = index.typy.insert(index.typy.end(), {t, {}});
    auto& v = it->second;
    const auto k = key(i);
    // The newest record goes after every entry of its key; usually that is the end.
    const auto at = std::upper_bound(v.begin(), v.end(), i, [&](std::size_t a, std::uint32_t b) {
      return before(k, a, key(b), b);
    });
    v.insert(at, static_cast<std::uint32_t>(i));
    ++wersja;
  }

  static bool passes(char typ, char t) { return typ == ' ' || typ == t; }

  // Of two candidates, the one the cursor visits first.
  template <class KeyOf>
  static std::size_t better(std::size_t a, std::size_t b, KeyOf key) {
    if (a == kKoniec) return b;
    if (b == kKoniec) return a;
    return before(key(a), a, key(b), b) ? a : b;
  }

  // The greatest key strictly below the key of record `od` (od == kKoniec: the greatest key),
  // first in list order among equals, among the records of `typ` (' ' every type). A walk
  // continues from where the previous step stood; anything else starts with a binary search.
  template <class KeyOf>
  std::size_t below(const Index& index, char typ, std::size_t od, KeyOf key) {
    Miejsce& m = miejsce;
    const bool dalej = m.index == &index && m.wersja == wersja && m.typ == typ &&
                       (m.od == kKoniec || (od != kKoniec && !(key(m.od) < key(od))));
    if (!dalej) {
      m.index = &index;
      m.wersja = wersja;
      m.typ = typ;
      m.od = kKoniec;
      m.poz.assign(index.typy.size(), 0);
    }
    std::size_t best = kKoniec;
    for (std::size_t t = 0; t < index.typy.size(); ++t) {
      if (!passes(typ, index.typy[t].first)) continue;
      const auto& v = index.typy[t].second;
      std::size_t& p = m.poz[t];
      if (od != kKoniec) {
        const auto k = key(od);
        if (dalej) {
          while (p < v.size() && !(key(v[p]) < k)) ++p;
        } else {
          p = static_cast<std::size_t>(std::partition_point(v.begin(), v.end(), [&](std::uint32_t e) {
                                         return !(key(e) < k);
                                       }) - v.begin());
        }
      }
      if (p < v.size()) best = better(best, v[p], key);
    }
    m.od = od;
    return best;
  }

  // The first record in list order of `typ` whose key equals `k`.
  template <class KeyOf, class Key>
  std::size_t find(const Index& index, char typ, const Key& k, KeyOf key) const {
    std::size_t best = kKoniec;
    for (const auto& [t, v] : index.typy) {
      if (!passes(typ, t)) continue;
      // Entries of a greater key come first; among equal keys the lowest place comes first.
      const auto it = std::partition_point(v.begin(), v.end(), [&](std::uint32_t e) { return k < key(e); });
      if (it != v.end() && key(*it) == k) best = std::min<std::size_t>(best, *it);
    }
    return best;
  }

  auto keyKP() const {
    return [this](std::size_t i) { return kp(i); };
  }
  auto keyKK() const {
    return [this](std::size_t i) { return kk(i); };
  }

  void ensureIndex(SortType sortType) {
    if (sortType == sortKP && !indexKP.aktualny) build(indexKP, keyKP());
    if (sortType == sortKK && !indexKK.aktualny) build(indexKK, keyKK());
  }

  // The greatest key below record od's (od == kKoniec: the greatest) under the sort type.
  std::size_t step(SortType sortType, char typ, std::size_t od) {
    ensureIndex(sortType);
    return sortType == sortKP ? below(indexKP, typ, od, keyKP()) : below(indexKK, typ, od, keyKK());
  }

  // Takes in the changes made through writable pointers since the last call.
  void sync() {
    for (std::size_t i : wydane) {
      Wydany& w = wlasne.find(i)->second;
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
  for (const auto& [miejsce, w] : other.kat_->wlasne) {
    auto rekord = std::make_unique<CTowar>(*w.rekord);
    rekord->katalog_ = this;
    rekord->miejsce_ = miejsce;
    kopia->wlasne.emplace(miejsce, Katalog::Wydany{std::move(rekord), w.kp, w.kk, w.ty});
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
  const bool wlasny = k.towary.detached(i) ? k.wlasny(i) == &towar
                                           : std::any_of(k.widoki.begin(), k.widoki.end(),
                                                         [&](const auto& w) { return w.get() == &towar; });
  if (!wlasny) return nullptr;
  CTowar& rekord = k.detach(i);
  k.wydane.push_back(i);
  return &rekord;
}

void CVexaXml::TwIterDelete() { kat_ = std::make_unique<Katalog>(this); }

CTowar* CVexaXml::SearchTowar(const CTowar& klucz) {
  Katalog& k = *kat_;
  k.sync();
  const std::size_t n = k.size();
  std::size_t found = kKoniec;
  if (sortType_ != sortNone) {
    k.ensureIndex(sortType_);
    found = sortType_ == sortKP ? k.find(k.indexKP, twTyp_, klucz.KP, k.keyKP())
                                : k.find(k.indexKK, twTyp_, std::string_view(klucz.KK), k.keyKK());
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
