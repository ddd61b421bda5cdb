// Goods operations of quorvel_elcom: sending goods and packages, price changes, deleting the
// job's goods or the whole goods base, and importing the register's goods base.
#include "drivers/elcom/goods.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <utility>
#include <vector>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/progress.h"
#include "core/records.h"
#include "core/stop.h"
#include "core/xml/progkom_xml.h"
#include "core/xml/raport_xml.h"
#include "core/xml/vexa_xml.h"
#include "drivers/elcom/limits.h"
#include "drivers/elcom/link.h"
#include "platform/clock.h"
#include "platform/cp1250.h"
#include "plugin/goods_warning.h"

namespace quorvel::elcom {

namespace {

const char* const kZeroPriceSkipped = "Towar z zerową ceną i bez znacznika ceny otwartej został pominięty"_cp;
const char* const kNotProgrammedSkipped = "Towar niezaprogramowany w kasie został pominięty"_cp;
const char* const kPackageCounters =
    "Opakowanie ma niezerowe liczniki obrotów i nie może być usunięte. Należy wykonać raport zerujący opakowań."_cp;
const char* const kZeroingReport = "Należy wykonać raport zerujący opakowań."_cp;
// The long works as the host's progress names them.
const char* const kReadingPackages = "Odczyt opakowań z kasy"_cp;
const char* const kReadingPlus = "Odczyt towarów z kasy"_cp;

// What the job's operation asks of the goods procedures.
struct Mode {
  bool priceChange = false;
  bool deleteAll = false;
  bool deletion = false;
  bool import = false;
};

const char* sendingWork(const Mode& m) {
  return m.deletion ? "Usuwanie towarów"_cp : m.priceChange ? "Zmiana cen towarów"_cp : "Przesyłanie towarów"_cp;
}

// What the checks before sending look at: deleting every goods also deletes the job's own.
plugin::GoodsWork checkedWork(const Mode& m) {
  if (m.deletion) return plugin::GoodsWork::Delete;
  if (m.priceChange) return plugin::GoodsWork::PriceChange;
  if (m.import) return plugin::GoodsWork::None;
  return plugin::goodsWorkOf(vexa ? vexa->GetOperacja() : std::string());
}

// The goods a register refusal names: one with an identifier other than the skip marker.
const CTowar* named(const CTowar& t) { return !t.Id_brak && t.Id != 0 ? &t : nullptr; }

Mode jobMode() {
  Mode m;
  const std::string& op = vexa ? vexa->GetOperacja() : std::string();
  m.priceChange = op == "ZmianaCenTowarów"_cp;
  m.deleteAll = op == "UsuwanieWszystkichTowarów"_cp;
  m.deletion = m.deleteAll || op == "UsuwanieTowarów"_cp;
  m.import = op == "ImportTowarów"_cp;
  return m;
}

void addMessage(const char* typ, const char* text) {
  if (raport) raport->DodajKomunikat(typ, text, 0, true);
}

bool hasNonZeroQuantity(const CTowar& t) { return !t.Ilość_brak && t.Ilość.GetCurrency() != 0; }

// The first price can be sent as it is: not given (sent as 0) or within the register's field.
bool priceSendable(const CTowar& t) { return t.Ce_brak[0] || priceFitsWire(t.Ce[0].GetCurrency()); }

// The first price as the register receives it, in hundredths: 0 when not given or not sendable.
std::uint32_t wirePrice(const CTowar& t) {
  return priceSendable(t) && !t.Ce_brak[0] ? priceToWire(t.Ce[0].GetCurrency()) : 0;
}

// The PLU record of a goods, as command 29 carries it.
PluDefinition pluOf(const CTowar& t, bool deletion) {
  PluDefinition p;
  p.barcode = t.KK_brak ? std::string() : t.KK;
  p.name = (t.Na_brak || t.Na.empty()) ? deletedName(t.KP) : t.Na;
  p.unit = unitByte(t.JM_brak ? std::nullopt : std::optional<long>(t.JM));
  p.group = groupByte(!t.CO_brak && t.CO, t.KO_brak ? std::nullopt : std::optional<std::string>(t.KO), deletion);
  // The price flag follows the price the register receives: a price below one hundredth is
  // sent as 0 and must not be programmed as a fixed price of 0.00.
  p.price = wirePrice(t);
  p.tax = taxByte(t.Va_brak ? std::nullopt : std::optional<long>(t.Va), p.price != 0, deletion);
  return p;
}

// Package reading (command 166 with 0 and 1). In import mode the register's packages go to the
// device-data file; otherwise the job's packages take over the register's counters and the
// register's other packages join the catalogue.
int readPackages(const Mode& mode, const plugin::GoodsPlan& plan) {
  Link& l = link();
  vexa->SetSortType(CVexaXml::sortKP);
  vexa->SetSortTypeTwType('O');
  if (const int e = prepareDataCommand(kReadPackages)) return e;
  if (const int e = commandExchange(kReadPackages, 0, 1, true)) return e;
  std::uint32_t number = 0;
  return receiveTransfer(0, packageSize(l.longRecords), [&](ByteView bytes) {
    CounterRecord rec;
    if (decodePackage(bytes, l.longRecords, rec) != 0) return SetError(ERR_DEVICE_DATA);
    ++number;
    QuorvelProgress(number, std::max<long>(number, kPackageCount), kReadingPackages);
    if (!(rec.price > 0 || rec.quantity != 0)) return 0;
    CTowar t;
    t.UstawTy('O');
    t.UstawKP(number);
    t.UstawNa(rec.name);
    t.UstawCe(0, CUfCurrency::FromHundredths(rec.price));
    if (mode.import) {
      if (progKom) progKom->DodajTowar(t);
      return 0;
    }
    t.UstawIlość(CY{quantityFromWire(rec.quantity)});
    t.UstawWartość(CY{valueFromWire(rec.value)});
    // A job package left out by the checks changes nothing: the register's own stays as it is.
    CTowar* found = vexa->SearchTowar(t);
    if (found && !plan.skipped(*found)) {
      found->UstawIlość(t.Ilość);
      found->UstawWartość(t.Wartość);
    } else {
      vexa->DodajTowar(t);
      l.registerPackages.insert(number);
    }
    return 0;
  });
}

// Package programming (command 38): the prices of all 50 packages in one frame.
int programPackages(const Mode& mode, const plugin::GoodsPlan& plan) {
  // The package of each number: the first one in list order that the checks keep, the job's
  // or (added by the package reading) the register's.
  std::array<CTowar*, kPackageCount> byNumber{};
  vexa->TwIterReset(CVexaXml::sortNone, 'O');
  while (!vexa->TwIterEmpty()) {
    const CTowar& t = vexa->TwIterGetNext();
    if (plan.skipped(t) || t.KP_brak || t.KP < 1 || t.KP > static_cast<std::uint32_t>(kPackageCount)) continue;
    CTowar*& slot = byNumber[t.KP - 1];
    if (!slot) slot = vexa->TwIterGetReadWrite(t);
  }
  PackagePrices prices{};
  plugin::GoodsWarning warning(kPackageCounters);
  for (int n = 1; n <= kPackageCount; ++n) {
    const CTowar* p = byNumber[static_cast<std::size_t>(n - 1)];
    std::uint32_t price = 0;
    // Deleting the job's packages must not delete the others: all 50 prices go in one frame, so
    // a package the job did not name keeps the price the register holds. Only delete-all
    // clears every package.
    const bool keep = !mode.deletion || (!mode.deleteAll && link().registerPackages.count(static_cast<std::uint32_t>(n)));
    if (p && keep) price = wirePrice(*p);
    if (p && !keep && hasNonZeroQuantity(*p)) {
      if (mode.deleteAll) {
        char text[512];
        std::snprintf(text, sizeof text, "Opakowanie nr %ld ma niezerowe liczniki obrotów i nie zostało usunięte. %s"_cp,
                      static_cast<long>(n), kZeroingReport);
        addMessage("W", text);
      } else {
        warning.add(*p);
      }
    }
    prices[static_cast<std::size_t>(n - 1)] = price;
  }
  warning.report();

  if (const int e = commandExchange(kProgramPackages, 0, kPackageCount, false)) return e;
  std::uint8_t status = 0;
  if (const int e = sendDataWithStatus(buildFrame(kData, encodePackagePrices(prices)), false, status)) return e;
  if (status != 0) return reportStatus(status, false);

  vexa->TwIterReset(CVexaXml::sortNone, 'O');
  while (!vexa->TwIterEmpty()) {
    const CTowar& t = vexa->TwIterGetNext();
    if (t.Id_brak || plan.skipped(t)) continue;
    if (mode.deletion && hasNonZeroQuantity(t)) continue;
    if (progKom) progKom->DodajTowar(t.Id);
  }
  return endExchange();
}

// PLU reading (command 157) of `count` PLUs from `first`.
int readPlus(const Mode& mode, long first, long count) {
  Link& l = link();
  vexa->SetSortType(CVexaXml::sortKP);
  vexa->SetSortTypeTwType('T');
  if (const int e = prepareDataCommand(kReadPlu)) return e;
  if (const int e = commandExchange(kReadPlu, first - 1, count, true)) return e;
  QuorvelProgress(0, count, kReadingPlus);
  long code = first;
  return receiveTransfer(kTransferPrefix, pluDefinitionSize(l.longRecords), [&](ByteView bytes) {
    PluDefinition plu;
    if (decodePluDefinition(bytes, l.longRecords, plu) != 0) return SetError(ERR_DEVICE_DATA);
    const long kp = code++;
    QuorvelProgress(kp - first + 1, count, kReadingPlus);
    if (!plu.programmed() || taxFromByte(plu.tax) <= 0) return 0;
    const std::optional<std::string> group = groupFromByte(plu.group);
    CTowar t;
    t.UstawTy('T');
    t.UstawKP(static_cast<std::uint32_t>(kp));
    t.UstawKK(plu.barcode);
    if (group) t.UstawKO(*group);
    t.UstawNa(plu.name);
    t.UstawCe(0, CUfCurrency::FromHundredths(plu.price));
    t.UstawCO(openPriceFromByte(plu.group));
    t.UstawVa(taxFromByte(plu.tax));
    t.UstawJM(unitFromByte(plu.unit));
    if (mode.priceChange) {
      if (CTowar* job = vexa->SearchTowar(t)) {
        job->UstawKK(t.KK);
        job->UstawKO(group.value_or(std::string()));
        job->UstawNa(t.Na);
        job->UstawVa(t.Va);
        job->UstawJM(t.JM);
      }
    } else if (mode.deleteAll) {
      t.Na.clear();
      vexa->DodajTowar(t);
    } else if (progKom) {
      progKom->DodajTowar(t);
    }
    return 0;
  });
}

int importSteps(const Mode& mode, const plugin::GoodsPlan& plan) {
  if (const int e = readPackages(mode, plan)) return e;
  platform::SleepMs(1000);
  return readPlus(mode, 1, link().config.maxPluCode);
}

// PLU codes of the goods to send (command 29's arguments).
struct Selection {
  long count = 0;
  std::uint32_t lowest = 0;
};

// The selection before sending PLUs, over the job's goods of type "T" that the checks keep:
// outside deletion mode a goods with a zero price and no open price, and in a price change a
// goods the register does not hold, is left out and named in a warning. With `mark` such
// goods get the skip marker (identifier 0); `left` receives their places in the catalogue
// and the warning's text.
Selection selectGoods(const Mode& mode, const plugin::GoodsPlan& plan, bool mark,
                      std::vector<std::pair<std::size_t, const char*>>* left = nullptr) {
  plugin::GoodsWarning zeroPrice(kZeroPriceSkipped);
  plugin::GoodsWarning notProgrammed(kNotProgrammedSkipped);
  Selection s;
  vexa->TwIterReset(CVexaXml::sortNone, 'T');
  while (!vexa->TwIterEmpty()) {
    const CTowar& t = vexa->TwIterGetNext();
    if (plan.skipped(t)) continue;
    plugin::GoodsWarning* skippedBy = nullptr;
    const char* why = nullptr;
    if (!mode.deletion) {
      const bool openPrice = !t.CO_brak && t.CO;
      if (wirePrice(t) == 0 && !openPrice) {
        skippedBy = &zeroPrice;
        why = kZeroPriceSkipped;
      } else if (mode.priceChange && t.Na_brak) {
        skippedBy = &notProgrammed;
        why = kNotProgrammedSkipped;
      }
    }
    if (skippedBy) {
      skippedBy->add(t);
      if (left) left->emplace_back(vexa->TwMiejsce(t), why);
      if (CTowar* w = mark ? vexa->TwIterGetReadWrite(t) : nullptr) w->UstawId(0);
      continue;
    }
    if (s.count == 0 || t.KP < s.lowest) s.lowest = t.KP;
    ++s.count;
  }
  zeroPrice.report();
  notProgrammed.report();
  return s;
}

// The sending procedure over the goods the checks of `plan` keep: packages first, then the
// goods as PLU records.
int sendPlanned(const Mode& mode, const plugin::GoodsPlan& plan) {
  Link& l = link();

  if (vexa->IleOpk() != 0 || mode.deleteAll) {
    if (!mode.import) {
      if (const int e = readPackages(mode, plan)) return e;
    }
    platform::SleepMs(1000);
    if (const int e = programPackages(mode, plan)) return e;
    platform::SleepMs(2000);
  }
  if (vexa->IleTow() == 0) return GetErrorNum();

  // Selection: goods that cannot be sent are marked with identifier 0 and named in a warning.
  const Selection selected = selectGoods(mode, plan, true);
  const long count = selected.count;
  if (count == 0) return GetErrorNum();

  if (const int e = prepareDataCommand(kProgramPlu)) return e;
  if (const int e = commandExchange(kProgramPlu, static_cast<long>(selected.lowest) - 1, count, false)) return e;

  const char* const work = sendingWork(mode);
  long sent = 0;
  QuorvelProgress(0, count, work);
  vexa->TwIterReset(CVexaXml::sortNone, 'T');
  while (!vexa->TwIterEmpty()) {
    const CTowar& t = vexa->TwIterGetNext();
    if (!mode.deleteAll && !t.Id_brak && t.Id == 0) continue;
    if (plan.skipped(t)) continue;
    if (JobStopRequested()) {
      // Asked to stop: the exchange is ended in order below, the register keeps what it took.
      JobStoppedAfter(work, sent, count);
      break;
    }
    // The code goes whole or not at all: cut to 16 bits it would program another PLU.
    if (!fitsWire(t.KP)) return notOnTheWire("Kod PLU"_cp, t.KP, &t);
    const Bytes frame =
        buildFrame(kData, encodeSentPlu(l.pluSequence++, static_cast<std::uint16_t>(t.KP), pluOf(t, mode.deletion), l.longRecords));
    std::uint8_t status = 0;
    if (const int e = sendDataWithStatus(frame, true, status)) return e;
    QuorvelProgress(++sent, count, work);
    switch (status) {
      case 0:
      case 2:  // accepted (the register's note about a VAT rate change)
        if (progKom) progKom->DodajTowar(t.Id);
        break;
      case 18:  // duplicate name: the goods is named, the rest goes on
        reportStatus(status, true, named(t));
        break;
      case 19:  // daily report needed
        reportStatus(status, true, mode.deleteAll ? nullptr : &t);
        if (!mode.deletion) break;
        if (vexa->TwIterEmpty()) {
          if (const int e = endExchange()) return e;
        }
        platform::SleepMs(2000);
        queryPluCount();
        return GetErrorNum();
      default:
        return reportStatus(status, false, named(t));
    }
  }
  if (!JobStopRequested()) QuorvelProgress(count, count, work);  // goods the job itself numbered 0 are not sent
  if (const int e = endExchange()) return e;
  return GetErrorNum();
}

// The PLU codes of a price change: the lowest and highest of the job's goods of type "T" that
// the checks keep. False, with the warning, when there is none.
bool priceChangeRange(const plugin::GoodsPlan& plan, std::uint32_t& lowest, std::uint32_t& highest) {
  bool any = false;
  vexa->TwIterReset(CVexaXml::sortNone, 'T');
  while (!vexa->TwIterEmpty()) {
    const CTowar& t = vexa->TwIterGetNext();
    if (plan.skipped(t)) continue;
    if (!any || t.KP < lowest) lowest = t.KP;
    if (!any || t.KP > highest) highest = t.KP;
    any = true;
  }
  if (!any || lowest == 0) {
    addMessage("W", "Brak towarów do zmiany cen"_cp);
    return false;
  }
  return true;
}

// The checks of the job's goods, made before anything goes to the register.
plugin::GoodsPlan checkJobGoods(const Mode& mode, const plugin::PlanLine& show = {}) {
  return plugin::GoodsPlan::check(goodsRules(), checkedWork(mode), show);
}

}  // namespace

int sendGoods() {
  const Mode mode = jobMode();
  const plugin::GoodsPlan plan = checkJobGoods(mode);
  return sendPlanned(mode, plan);
}

int changePrices() {
  const Mode mode = jobMode();
  const plugin::GoodsPlan plan = checkJobGoods(mode);
  std::uint32_t lowest = 0, highest = 0;
  if (!priceChangeRange(plan, lowest, highest)) return GetErrorNum();
  if (const int e = readPlus(mode, lowest, static_cast<long>(highest) - lowest + 1)) return e;
  platform::SleepMs(1000);
  return sendPlanned(mode, plan);
}

int importGoods() {
  Mode mode = jobMode();
  mode.import = true;
  return importSteps(mode, plugin::GoodsPlan());
}

int deleteAllGoods() {
  const Mode mode = jobMode();
  // The job's own goods are deleted too: a code the register cannot hold is left out first.
  const plugin::GoodsPlan plan = checkJobGoods(mode);
  if (const int e = importSteps(mode, plan)) return e;
  if (progKom) progKom->Close();
  vexa->TwIterReset();
  if (vexa->TwIterEmpty()) {
    addMessage("W", "Brak towarów do usunięcia"_cp);
    return GetErrorNum();
  }
  platform::SleepMs(2000);
  return sendPlanned(mode, plan);
}

int dryRunGoods(const plugin::PlanLine& show) {
  if (!vexa) return GetErrorNum();
  const Mode mode = jobMode();
  if (checkedWork(mode) == plugin::GoodsWork::None) return plugin::dryRunGoods(goodsRules(), show);
  std::vector<std::string> lines;
  const plugin::GoodsPlan plan = checkJobGoods(mode, [&lines](const std::string& line) { lines.push_back(line); });
  // The selection the sending makes from the job alone, with its warnings; what the register
  // holds (a price change's goods it does not have) only a run can tell.
  std::vector<std::pair<std::size_t, const char*>> left;
  if (mode.priceChange) {
    std::uint32_t lowest = 0, highest = 0;
    priceChangeRange(plan, lowest, highest);
  } else if (vexa->IleTow() != 0 && !mode.deleteAll) {
    selectGoods(mode, plan, false, &left);
  }
  // The check shows one line per goods in the catalogue's list order, so a goods' place in the
  // list is its line: one the selection leaves out is shown so.
  for (const auto& [place, why] : left) {
    if (place >= lines.size()) continue;
    std::string& text = lines[place];
    text = text.substr(0, text.find(':') + 1) + " pominięty - "_cp + why;
  }
  if (show) {
    for (const std::string& text : lines) show(text);
    show("Razem: "_cp + std::to_string(vexa->IleRekordow()) + ", pominięte: "_cp +
         std::to_string(plan.skippedCount() + left.size()) + ", zmienione: "_cp + std::to_string(plan.adaptedCount()));
  }
  return GetErrorNum();
}

}  // namespace quorvel::elcom
