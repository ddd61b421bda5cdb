// The goods catalogue of the job document: both lists, the cursor, search and unique names.
#include "vexa_xml.h"

#include <deque>
#include <limits>

#include "../error_state.h"

namespace {
constexpr std::size_t kKoniec = std::numeric_limits<std::size_t>::max();
}  // namespace

struct CVexaXml::Katalog {
  std::deque<CTowar> towary;
  std::deque<CTowarDF> pozycje;
  std::size_t kursor = kKoniec;
  std::size_t kursorDF = kKoniec;
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
  twTypy_ = other.twTypy_;
  twTyp_ = other.twTyp_;
  ileTow_ = other.ileTow_;
  ileOpk_ = other.ileOpk_;
  uniRule_ = other.uniRule_;
  uniType_ = other.uniType_;
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

// Stands in until the job reader is linked in.
__attribute__((weak)) int CVexaXml::readHeader() { return SetError(ERR_FILE_MISSING, kVexaFileName); }

void CVexaXml::DodajTowar(const CTowar& towar) {
  kat_->towary.push_back(towar);
  kat_->towary.back().katalog_ = this;
  kat_->towary.back().miejsce_ = kat_->towary.size() - 1;
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
  switch (typ) {
    case '1': twTypy_ = "TO"; break;
    case '2': twTypy_ = "OT"; break;
    case 'O': twTypy_ = "O"; break;
    case 'T': twTypy_ = "T"; break;
    default: twTypy_ = " "; break;
  }
  twTyp_ = twTypy_[0];
}

void CVexaXml::TwIterReset() {}
void CVexaXml::TwIterReset(SortType sortType, char typ) {
  SetSortType(sortType);
  SetSortTypeTwType(typ);
  TwIterReset();
}
bool CVexaXml::TwIterEmpty() const {
  return fiskalny_ ? kat_->kursorDF == kKoniec : kat_->kursor == kKoniec;
}

const CTowar& CVexaXml::TwIterGetNext() {
  static const CTowar pusty;
  return kat_->towary.empty() ? pusty : kat_->towary.back();
}

const CTowarDF& CVexaXml::TwIterGetNextDF() {
  static const CTowarDF pusta;
  return kat_->pozycje.empty() ? pusta : kat_->pozycje.back();
}

CTowar* CVexaXml::TwIterGetReadWrite(const CTowar& towar) {
  if (towar.katalog_ != this || towar.miejsce_ >= kat_->towary.size()) return nullptr;
  CTowar& wlasny = kat_->towary[towar.miejsce_];
  return &wlasny == &towar ? &wlasny : nullptr;
}

void CVexaXml::TwIterDelete() {
  kat_ = std::make_unique<Katalog>();
}

CTowar* CVexaXml::SearchTowar(const CTowar&) { return nullptr; }

void CVexaXml::SetUnikNazwRule(UniType uniType, const char* rule) {
  uniType_ = uniType;
  uniRule_ = rule ? rule : "";
}

int CVexaXml::SprawdzUnikNazw(const std::string&, unsigned long) { return 0; }

std::size_t CVexaXml::IleRekordow() const { return kat_->towary.size(); }
std::size_t CVexaXml::IlePozycji() const { return kat_->pozycje.size(); }

int CVexaXml::TwCompare(const CTowar&, const CTowar&) const { return 1; }
void CVexaXml::TwIterReset_NextTwTyp() {}
std::string CVexaXml::UniNameRule(const std::string& name) const { return name; }
