#include "plugin/goods_check.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/xml/raport_xml.h"
#include "core/xml/vexa_xml.h"
#include "platform/cp1250.h"
#include "plugin/form_fields.h"

namespace quorvel::plugin {

namespace {

// The plain form of each windows-1250 character from 0x80; null where the register has the
// character itself (the Polish letters).
constexpr const char* kPlain[128] = {
    // 0x80
    "EUR", "?", ",", "?", "\"", "...", "+", "+", "?", "%", "S", "<", nullptr, "T", "Z", nullptr,
    // 0x90
    "?", "'", "'", "\"", "\"", "*", "-", "-", "?", "TM", "s", ">", nullptr, "t", "z", nullptr,
    // 0xA0
    " ", "^", "^", nullptr, "?", nullptr, "|", "S", "\"", "(C)", "S", "<<", "-", "-", "(R)", nullptr,
    // 0xB0
    "o", "+-", ",", nullptr, "'", "u", "P", ".", ",", nullptr, "s", ">>", "L", "\"", "l", nullptr,
    // 0xC0
    "R", "A", "A", "A", "A", "L", nullptr, "C", "C", "E", nullptr, "E", "E", "I", "I", "D",
    // 0xD0
    "D", nullptr, "N", nullptr, "O", "O", "O", "x", "R", "U", "U", "U", "U", "Y", "T", "ss",
    // 0xE0
    "r", "a", "a", "a", "a", "l", nullptr, "c", "c", "e", nullptr, "e", "e", "i", "i", "d",
    // 0xF0
    "d", nullptr, "n", nullptr, "o", "o", "o", ":", "r", "u", "u", "u", "u", "y", "t", "'",
};

// The usual texts; the printf conversions each kind is formatted with are fixed (see format).
const char* defaultText(GoodsFinding f) {
  switch (f) {
    case GoodsFinding::NameCharacters:
      return "Znaki nazwy, których nie ma w kasie, zastąpiono zwykłymi odpowiednikami (cudzysłów drukarski na \", "
             "myślnik na -, wielokropek na ..., znak euro na EUR, litery obce na litery bez znaków diakrytycznych)"_cp;
    case GoodsFinding::NameCut: return "Nazwa dłuższa niż %u znaków - kasa zapisze jej pierwsze %u znaków"_cp;
    case GoodsFinding::PriceFraction: return "Cena podana dokładniej niż do grosza - kasa zapisze ją w pełnych groszach"_cp;
    case GoodsFinding::NameMissing: return "Towar bez nazwy - pominięto"_cp;
    case GoodsFinding::NameTooLong: return "Nazwa dłuższa niż %u znaków - pominięto"_cp;
    case GoodsFinding::NameDuplicateByCut:
      return "Nazwa skrócona do %u znaków powtarza nazwę innego towaru zadania - pominięto"_cp;
    case GoodsFinding::PluRange: return "Kod PLU towaru spoza zakresu kasy %ld-%ld - pominięto"_cp;
    case GoodsFinding::PackageRange: return "Kod PLU opakowania spoza zakresu kasy %ld-%ld - pominięto"_cp;
    case GoodsFinding::PluDuplicate: return "Kod PLU powtórzony w zadaniu - pominięto towar podany dalej"_cp;
    case GoodsFinding::Barcode: return "Kod kreskowy (KK lub DK) nie z samych cyfr lub dłuższy niż %u cyfr - pominięto"_cp;
    case GoodsFinding::Unit: return "Jednostka miary (JM) spoza zakresu kasy %ld-%ld - pominięto"_cp;
    case GoodsFinding::VatMissing: return "Towar bez stawki VAT (Va) - pominięto"_cp;
    case GoodsFinding::Vat: return "Stawka VAT (Va) spoza zakresu kasy %ld-%ld - pominięto"_cp;
    case GoodsFinding::Group: return "Numer grupy towarowej (%s) spoza zakresu kasy %ld-%ld - pominięto"_cp;
    case GoodsFinding::Link: return "Kod PLU opakowania związanego (KO) spoza zakresu kasy %ld-%ld - pominięto"_cp;
    case GoodsFinding::Price: return "Cena (Ce) spoza zakresu kasy %s-%s - pominięto"_cp;
    case GoodsFinding::Count: break;
  }
  return "";
}

bool hasRange(long low, long high) { return low != 0 || high != 0; }
bool inRange(long long v, long low, long high) { return !hasRange(low, high) || (v >= low && v <= high); }

// A price limit in grosze as the report writes amounts ("42949672.95").
std::string amount(long long grosze) { return CUfCurrency::FromHundredths(grosze).GetString(-1); }

// A text of decimal digits only (the empty text is none).
bool allDigits(std::string_view s) {
  if (s.empty()) return false;
  for (const char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// The further barcodes of DK, when given.
std::vector<std::string> furtherBarcodes(const CTowar& t) {
  return t.DK_brak ? std::vector<std::string>() : furtherBarcodesOf(t.DK);
}

// The warnings of one check: one message per kind naming the goods by Id, and one message of
// its own for every goods without Id (named by its PLU).
class Findings {
 public:
  explicit Findings(const GoodsRules& rules) {
    for (std::size_t k = 0; k < kGoodsFindings; ++k) texts_[k] = format(rules, static_cast<GoodsFinding>(k));
  }

  const std::string& text(GoodsFinding f) const { return texts_[static_cast<std::size_t>(f)]; }

  void add(GoodsFinding f, const CTowar& t) {
    Kind& k = kinds_[static_cast<std::size_t>(f)];
    if (!t.Id_brak) {
      k.ids.push_back(t.Id);
    } else {
      k.unnamed.push_back(byPlu(texts_[static_cast<std::size_t>(f)], t));
    }
  }

  // A driver's own finding: a message of its own naming the goods.
  void addOwn(const char* text, const CTowar& t) {
    own_.push_back({t.Id_brak ? byPlu(text, t) : std::string(text), t.Id_brak ? std::nullopt : std::optional<std::uint32_t>(t.Id)});
  }

  void report() const {
    if (!raport) return;
    for (std::size_t i = 0; i < kGoodsFindings; ++i) {
      const Kind& k = kinds_[i];
      if (!k.ids.empty()) {
        CKomunikat m("W", texts_[i].c_str(), 0, true);
        for (const std::uint32_t id : k.ids) m.DodajTowar(id);
        raport->DodajKomunikat(m);
      }
      for (const std::string& text : k.unnamed) raport->DodajKomunikat("W", text.c_str(), 0, true);
    }
    for (const auto& [text, id] : own_) {
      CKomunikat m("W", text.c_str(), 0, true);
      if (id) m.DodajTowar(*id);
      raport->DodajKomunikat(m);
    }
  }

 private:
  struct Kind {
    std::vector<std::uint32_t> ids;
    std::vector<std::string> unnamed;  // the messages of goods without Id, each naming its PLU
  };

  // A goods without Id is named by its PLU code in the text.
  static std::string byPlu(const std::string& text, const CTowar& t) {
    return text + " (kod PLU " + std::to_string(t.KP_brak ? 0 : t.KP) + ")";
  }

  static std::string format(const GoodsRules& rules, GoodsFinding f) {
    const QuorvelFieldLimits& l = rules.limits;
    const char* given = rules.texts[static_cast<std::size_t>(f)];
    const char* pattern = given ? given : defaultText(f);
    char out[1024];
    switch (f) {
      case GoodsFinding::NameCut:
        std::snprintf(out, sizeof out, pattern, l.nameLength, l.nameLength);
        break;
      case GoodsFinding::NameTooLong:
      case GoodsFinding::NameDuplicateByCut:
        std::snprintf(out, sizeof out, pattern, l.nameLength);
        break;
      case GoodsFinding::Barcode: std::snprintf(out, sizeof out, pattern, l.barcodeDigits); break;
      case GoodsFinding::PluRange: std::snprintf(out, sizeof out, pattern, l.pluMin, l.pluMax); break;
      case GoodsFinding::PackageRange: std::snprintf(out, sizeof out, pattern, l.packageMin, l.packageMax); break;
      case GoodsFinding::Unit: std::snprintf(out, sizeof out, pattern, l.unitMin, l.unitMax); break;
      case GoodsFinding::Vat: std::snprintf(out, sizeof out, pattern, l.vatMin, l.vatMax); break;
      case GoodsFinding::Link: std::snprintf(out, sizeof out, pattern, l.linkMin, l.linkMax); break;
      case GoodsFinding::Group:
        std::snprintf(out, sizeof out, pattern, l.groupField ? l.groupField : "", l.groupMin, l.groupMax);
        break;
      case GoodsFinding::Price:
        std::snprintf(out, sizeof out, pattern, amount(l.priceMin).c_str(), amount(l.priceMax).c_str());
        break;
      default: std::snprintf(out, sizeof out, "%s", pattern); break;
    }
    return out;
  }

  std::array<std::string, kGoodsFindings> texts_;
  std::array<Kind, kGoodsFindings> kinds_;
  std::vector<std::pair<std::string, std::optional<std::uint32_t>>> own_;
};

// The QUORVEL_FIELD_* the register takes of the goods' type.
unsigned takenFields(const QuorvelFieldLimits& l, bool package) {
  const unsigned fields = package ? l.packageFields : l.goodsFields;
  return fields == 0 ? QUORVEL_FIELD_ALL : fields;
}

// The first finding that skips the goods, judged field by field; Count when none does.
GoodsFinding firstSkip(const GoodsRules& rules, GoodsWork work, const CTowar& t, std::string_view plainName) {
  const QuorvelFieldLimits& l = rules.limits;
  const bool package = !t.Ty_brak && t.Ty == 'O';
  const unsigned fields = takenFields(l, package);
  const auto takes = [&](unsigned field) { return (fields & field) != 0; };
  const long kp = t.KP_brak ? 0 : static_cast<long>(t.KP);
  if (package ? !inRange(kp, l.packageMin, l.packageMax) : !inRange(kp, l.pluMin, l.pluMax))
    return package ? GoodsFinding::PackageRange : GoodsFinding::PluRange;
  if (work == GoodsWork::Delete) return GoodsFinding::Count;

  if (takes(QUORVEL_FIELD_CE) && !t.Ce_brak[0] && (l.priceMin != 0 || l.priceMax != 0)) {
    const std::int64_t cur = t.Ce[0].GetCurrency();
    if (cur < l.priceMin * 100 || cur / 100 > l.priceMax) return GoodsFinding::Price;
  }
  if (work == GoodsWork::PriceChange) return GoodsFinding::Count;

  if (takes(QUORVEL_FIELD_NA)) {
    const bool missing = t.Na_brak || t.Na.empty();
    if (missing && (l.flags & QUORVEL_LIMIT_NAME_REQUIRED)) return GoodsFinding::NameMissing;
    if (!missing && l.nameLength != 0 && plainName.size() > l.nameLength && !(l.flags & QUORVEL_LIMIT_NAME_CUT))
      return GoodsFinding::NameTooLong;
  }
  if (l.barcodeDigits != 0) {
    const auto bad = [&](std::string_view code) { return !allDigits(code) || code.size() > l.barcodeDigits; };
    if (takes(QUORVEL_FIELD_KK) && !t.KK_brak && !t.KK.empty() && bad(t.KK)) return GoodsFinding::Barcode;
    if (takes(QUORVEL_FIELD_DK))
      for (const std::string& code : furtherBarcodes(t))
        if (bad(code)) return GoodsFinding::Barcode;
  }
  if (takes(QUORVEL_FIELD_JM) && !t.JM_brak && !inRange(t.JM, l.unitMin, l.unitMax)) return GoodsFinding::Unit;
  if (takes(QUORVEL_FIELD_VA)) {
    if (t.Va_brak && (l.flags & QUORVEL_LIMIT_VAT_REQUIRED)) return GoodsFinding::VatMissing;
    if (!t.Va_brak && !inRange(t.Va, l.vatMin, l.vatMax)) return GoodsFinding::Vat;
  }
  if (takes(QUORVEL_FIELD_GROUP) && l.groupField && hasRange(l.groupMin, l.groupMax)) {
    if (std::strcmp(l.groupField, "Gr") == 0) {
      if (!t.Gr_brak && !inRange(t.Gr, l.groupMin, l.groupMax)) return GoodsFinding::Group;
    } else if (!t.KO_brak && !t.KO.empty()) {
      const long g = digitsValue(t.KO);
      if (g < 0 || !inRange(g, l.groupMin, l.groupMax)) return GoodsFinding::Group;
    }
  }
  if (takes(QUORVEL_FIELD_LINK) && hasRange(l.linkMin, l.linkMax) && !t.KO_brak && !t.KO.empty()) {
    const long p = digitsValue(t.KO);
    if (p < 0 || !inRange(p, l.linkMin, l.linkMax)) return GoodsFinding::Link;
  }
  return GoodsFinding::Count;
}

// What the register will hold of a goods, for the dry run.
std::string describe(const CTowar& t, GoodsWork work, const std::string& name, const QuorvelFieldLimits& l,
                     unsigned fields) {
  std::string s;
  const auto field = [&](const char* tag, const std::string& value) {
    s += s.empty() ? " " : ", ";
    s += tag;
    s += ' ';
    s += value;
  };
  if (work == GoodsWork::Delete) return " usuwany"_cp;
  const auto takes = [&](unsigned f) { return (fields & f) != 0; };
  if (work == GoodsWork::Send) {
    if (takes(QUORVEL_FIELD_NA) && !t.Na_brak) field("Na", "\"" + name + "\"");
    if (takes(QUORVEL_FIELD_KK) && !t.KK_brak && !t.KK.empty()) field("KK", t.KK);
    if (takes(QUORVEL_FIELD_DK))
      for (const std::string& code : furtherBarcodes(t)) field("DK", code);
    if (takes(QUORVEL_FIELD_JM) && !t.JM_brak) field("JM", std::to_string(t.JM));
    if (takes(QUORVEL_FIELD_VA) && !t.Va_brak) field("Va", std::to_string(t.Va));
    if (takes(QUORVEL_FIELD_GROUP) && !t.Gr_brak) field("Gr", std::to_string(t.Gr));
    const bool groupInKO = l.groupField && std::strcmp(l.groupField, "KO") == 0;
    const bool koSent = (takes(QUORVEL_FIELD_GROUP) && groupInKO) || (takes(QUORVEL_FIELD_LINK) && hasRange(l.linkMin, l.linkMax));
    if (koSent && !t.KO_brak && !t.KO.empty()) field("KO", t.KO);
    if (!t.CO_brak) field("CO", t.CO ? "1" : "0");
  }
  if (takes(QUORVEL_FIELD_CE) && !t.Ce_brak[0]) {
    // The register keeps whole grosze: the price as it will hold it, with both decimals.
    const std::int64_t grosze = t.Ce[0].GetCurrency() / 100;
    const std::int64_t whole = grosze / 100, part = grosze % 100;
    char text[32];
    std::snprintf(text, sizeof text, "%s%" PRId64 ".%02" PRId64, grosze < 0 ? "-" : "", whole < 0 ? -whole : whole,
                  part < 0 ? -part : part);
    field("Ce", text);
  }
  return s.empty() ? std::string(" (bez pól do przesłania)"_cp) : s;
}

std::string goodsLabel(const CTowar& t) {
  std::string s = (!t.Ty_brak && t.Ty == 'O') ? "O" : "T";
  s += " Id ";
  s += t.Id_brak ? std::string("-") : std::to_string(t.Id);
  s += ", KP ";
  s += t.KP_brak ? std::string("-") : std::to_string(t.KP);
  s += ':';
  return s;
}

// The plain form of an ASCII character a register's code page uses for something else.
char plainAscii(char c) {
  switch (c) {
    case '{': case '[': return '(';
    case '}': case ']': return ')';
    case '|': case '\\': return '/';
    case '~': return '-';
    case '`': return '\'';
    case '@': return 'a';
    case '$': return 'S';
    case '^': return ' ';
    default: return '?';
  }
}

}  // namespace

GoodsWork goodsWorkOf(const std::string& operacja) {
  if (operacja == "PrzesyłanieTowarów"_cp) return GoodsWork::Send;
  if (operacja == "ZmianaCenTowarów"_cp) return GoodsWork::PriceChange;
  if (operacja == "UsuwanieTowarów"_cp) return GoodsWork::Delete;
  return GoodsWork::None;
}

std::string plainText(std::string_view text, const char* absentAscii) {
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F) {
      out += ' ';
    } else if (c < 0x80 && absentAscii && std::strchr(absentAscii, ch)) {
      out += plainAscii(ch);
    } else if (c < 0x80 || kPlain[c - 0x80] == nullptr) {
      out += ch;
    } else {
      out += kPlain[c - 0x80];
    }
  }
  return out;
}

GoodsPlan GoodsPlan::check(const GoodsRules& rules, GoodsWork work, const PlanLine& show) {
  GoodsPlan plan;
  if (!vexa || work == GoodsWork::None) return plan;
  const QuorvelFieldLimits& l = rules.limits;
  Findings findings(rules);
  plan.skipped_.assign(vexa->IleRekordow(), false);
  // PLU codes taken by an earlier goods of the job, per goods type; names as the register will
  // hold them, per goods type, with the whole name they were cut from.
  std::unordered_set<std::uint64_t> plus;
  std::unordered_map<std::string, std::string> cutNames[2];

  vexa->TwIterReset(CVexaXml::sortNone, ' ');
  while (!vexa->TwIterEmpty()) {
    const CTowar& t = vexa->TwIterGetNext();
    const std::size_t place = vexa->TwMiejsce(t);
    const bool package = !t.Ty_brak && t.Ty == 'O';
    // The list of PLU numbers and names the goods joins: one per type, or one for both.
    const bool list = package && !(l.flags & QUORVEL_LIMIT_SHARED_CODES);
    const unsigned fields = takenFields(l, package);
    const bool named = work == GoodsWork::Send && (fields & QUORVEL_FIELD_NA) && !t.Na_brak && !t.Na.empty();
    std::string plain = named ? plainText(t.Na, l.absentAscii) : std::string();
    const bool charactersChanged = named && plain != t.Na;

    GoodsFinding skip = firstSkip(rules, work, t, plain);
    std::string held = plain;
    bool cut = false;
    if (skip == GoodsFinding::Count && named && l.nameLength != 0 && plain.size() > l.nameLength) {
      held.resize(l.nameLength);
      cut = true;
    }
    if (skip == GoodsFinding::Count && named) {
      auto& names = cutNames[list ? 1 : 0];
      const auto [it, fresh] = names.emplace(held, plain);
      if (!fresh && it->second != plain) skip = GoodsFinding::NameDuplicateByCut;
    }
    if (skip == GoodsFinding::Count && !t.KP_brak && work != GoodsWork::Delete) {
      const std::uint64_t key = (static_cast<std::uint64_t>(list) << 32) | t.KP;
      if (!plus.insert(key).second) skip = GoodsFinding::PluDuplicate;
    }

    if (skip != GoodsFinding::Count) {
      findings.add(skip, t);
      if (place < plan.skipped_.size()) plan.skipped_[place] = true;
      ++plan.skippedCount_;
      if (show) show(goodsLabel(t) + " pominięty - "_cp + findings.text(skip));
      continue;
    }
    const GoodsRules::Own own = rules.own ? rules.own(t, work) : GoodsRules::Own{};
    if (own.text) findings.addOwn(own.text, t);
    if (own.text && own.skips) {
      if (place < plan.skipped_.size()) plan.skipped_[place] = true;
      ++plan.skippedCount_;
      if (show) show(goodsLabel(t) + " pominięty - "_cp + own.text);
      continue;
    }
    const bool fraction = work != GoodsWork::Delete && (fields & QUORVEL_FIELD_CE) && !t.Ce_brak[0] &&
                          t.Ce[0].GetCurrency() % 100 != 0;
    if (charactersChanged) findings.add(GoodsFinding::NameCharacters, t);
    if (cut) findings.add(GoodsFinding::NameCut, t);
    if (fraction) findings.add(GoodsFinding::PriceFraction, t);
    if (charactersChanged || cut || fraction || own.text) ++plan.adaptedCount_;
    if (show) {
      std::string line = goodsLabel(t) + describe(t, work, held, l, fields);
      if (charactersChanged || cut) line += " (w zadaniu \""_cp + t.Na + "\")";
      if (own.text) line += std::string(" - ") + own.text;
      show(line);
    }
    if (charactersChanged) {
      // The driver sends the catalogue's name: it gets the plain form (its own cut stays).
      if (CTowar* w = vexa->TwIterGetReadWrite(t)) w->UstawNa(plain);
    }
  }
  findings.report();
  return plan;
}

bool GoodsPlan::skipped(const CTowar& t) const {
  if (!vexa) return false;
  const std::size_t place = vexa->TwMiejsce(t);
  return place < skipped_.size() && skipped_[place];
}

int dryRunGoods(const GoodsRules& rules, const PlanLine& show) {
  if (!vexa) return GetErrorNum();
  const GoodsWork work = goodsWorkOf(vexa->GetOperacja());
  if (work == GoodsWork::None) {
    if (show) show("Operacja " + vexa->GetOperacja() + " nie przesyła do kasy towarów zadania - nie ma czego sprawdzać"_cp);
    return GetErrorNum();
  }
  const GoodsPlan plan = GoodsPlan::check(rules, work, show);
  if (show) {
    const std::size_t all = vexa->IleRekordow();
    show("Razem: "_cp + std::to_string(all) + ", pominięte: "_cp + std::to_string(plan.skippedCount()) +
         ", zmienione: "_cp + std::to_string(plan.adaptedCount()));
  }
  return GetErrorNum();
}

}  // namespace quorvel::plugin
