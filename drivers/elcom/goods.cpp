// Goods operations of quorvel_elcom: sending goods and packages, price changes, deleting the
// job's goods or the whole goods base, and importing the register's goods base.
#include "drivers/elcom/goods.h"

#include <algorithm>
#include <cstdio>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/progress.h"
#include "core/records.h"
#include "core/stop.h"
#include "core/xml/progkom_xml.h"
#include "core/xml/raport_xml.h"
#include "core/xml/vexa_xml.h"
#include "drivers/elcom/link.h"
#include "platform/clock.h"
#include "platform/cp1250.h"
#include "plugin/goods_warning.h"

namespace quorvel::elcom {

namespace {

const char* const kZeroPriceSkipped = "Towar z zerową ceną i bez znacznika ceny otwartej został pominięty"_cp;
const char* const kNotProgrammedSkipped = "Towar niezaprogramowany w kasie został pominięty"_cp;
// A negative price, or one above what the register's 32-bit field of hundredths holds, would
// reach the register as a different price: such goods are not sent.
const char* const kPriceOutOfRange = "Towar z ceną spoza zakresu kasy został pominięty"_cp;
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
int readPackages(const Mode& mode) {
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
    if (CTowar* found = vexa->SearchTowar(t)) {
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
int programPackages(const Mode& mode) {
  vexa->SetSortType(CVexaXml::sortKP);
  vexa->SetSortTypeTwType('O');
  PackagePrices prices{};
  plugin::GoodsWarning warning(kPackageCounters);
  plugin::GoodsWarning outOfRange(kPriceOutOfRange);
  for (int n = 1; n <= kPackageCount; ++n) {
    CTowar key;
    key.UstawTy('O');
    key.UstawKP(static_cast<std::uint32_t>(n));
    const CTowar* p = vexa->SearchTowar(key);
    std::uint32_t price = 0;
    // Deleting the job's packages must not delete the others: all 50 prices go in one frame, so
    // a package the job did not name keeps the price the register holds. Only delete-all
    // clears every package.
    const bool keep = !mode.deletion || (!mode.deleteAll && link().registerPackages.count(static_cast<std::uint32_t>(n)));
    if (p && keep) {
      price = wirePrice(*p);
      if (!priceSendable(*p)) outOfRange.add(*p);
    }
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
  outOfRange.report();

  if (const int e = commandExchange(kProgramPackages, 0, kPackageCount, false)) return e;
  std::uint8_t status = 0;
  if (const int e = sendDataWithStatus(buildFrame(kData, encodePackagePrices(prices)), false, status)) return e;
  if (status != 0) return reportStatus(status, false);

  vexa->TwIterReset(CVexaXml::sortNone, 'O');
  while (!vexa->TwIterEmpty()) {
    const CTowar& t = vexa->TwIterGetNext();
    if (t.Id_brak) continue;
    if (mode.deletion && hasNonZeroQuantity(t)) continue;
    if (!mode.deletion && !priceSendable(t)) continue;
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
  if (const int e = commandExchange(kReadPlu, static_cast<std::uint16_t>(first - 1), static_cast<std::uint16_t>(count), true))
    return e;
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

int importSteps(const Mode& mode) {
  if (const int e = readPackages(mode)) return e;
  platform::SleepMs(1000);
  return readPlus(mode, 1, link().config.maxPluCode);
}

}  // namespace

int sendGoods() {
  const Mode mode = jobMode();
  Link& l = link();

  if (vexa->IleOpk() != 0 || mode.deleteAll) {
    if (!mode.import) {
      if (const int e = readPackages(mode)) return e;
    }
    platform::SleepMs(1000);
    if (const int e = programPackages(mode)) return e;
    platform::SleepMs(2000);
  }
  if (vexa->IleTow() == 0) return GetErrorNum();

  // Selection: goods that cannot be sent are marked with identifier 0 and named in a warning.
  plugin::GoodsWarning zeroPrice(kZeroPriceSkipped);
  plugin::GoodsWarning notProgrammed(kNotProgrammedSkipped);
  plugin::GoodsWarning outOfRange(kPriceOutOfRange);
  long count = 0;
  std::uint32_t lowest = 0;
  vexa->TwIterReset(CVexaXml::sortNone, 'T');
  while (!vexa->TwIterEmpty()) {
    const CTowar& t = vexa->TwIterGetNext();
    plugin::GoodsWarning* skippedBy = nullptr;
    if (!mode.deletion) {
      const bool openPrice = !t.CO_brak && t.CO;
      if (!priceSendable(t)) {
        skippedBy = &outOfRange;
      } else if (wirePrice(t) == 0 && !openPrice) {
        skippedBy = &zeroPrice;
      } else if (mode.priceChange && t.Na_brak) {
        skippedBy = &notProgrammed;
      }
    }
    if (skippedBy) {
      skippedBy->add(t);
      if (CTowar* w = vexa->TwIterGetReadWrite(t)) {
        w->UstawId(0);
      }
      continue;
    }
    if (count == 0 || t.KP < lowest) lowest = t.KP;
    ++count;
  }
  zeroPrice.report();
  notProgrammed.report();
  outOfRange.report();
  if (count == 0) return GetErrorNum();

  if (const int e = prepareDataCommand(kProgramPlu)) return e;
  if (const int e = commandExchange(kProgramPlu, static_cast<std::uint16_t>(lowest - 1), static_cast<std::uint16_t>(count), false))
    return e;

  const char* const work = sendingWork(mode);
  long sent = 0;
  QuorvelProgress(0, count, work);
  vexa->TwIterReset(CVexaXml::sortNone, 'T');
  while (!vexa->TwIterEmpty()) {
    const CTowar& t = vexa->TwIterGetNext();
    if (!mode.deleteAll && !t.Id_brak && t.Id == 0) continue;
    if (JobStopRequested()) {
      // Asked to stop: the exchange is ended in order below, the register keeps what it took.
      JobStoppedAfter(work, sent, count);
      break;
    }
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
        reportStatus(status, true, (!t.Id_brak && t.Id != 0) ? &t : nullptr);
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
        return reportStatus(status, false);
    }
  }
  if (!JobStopRequested()) QuorvelProgress(count, count, work);  // goods the job itself numbered 0 are not sent
  if (const int e = endExchange()) return e;
  return GetErrorNum();
}

int changePrices() {
  const Mode mode = jobMode();
  std::uint32_t lowest = 0, highest = 0;
  bool any = false;
  vexa->TwIterReset(CVexaXml::sortNone, 'T');
  while (!vexa->TwIterEmpty()) {
    const CTowar& t = vexa->TwIterGetNext();
    if (!any || t.KP < lowest) lowest = t.KP;
    if (!any || t.KP > highest) highest = t.KP;
    any = true;
  }
  if (!any || lowest == 0) {
    addMessage("W", "Brak towarów do zmiany cen"_cp);
    return GetErrorNum();
  }
  if (const int e = readPlus(mode, lowest, static_cast<long>(highest) - lowest + 1)) return e;
  platform::SleepMs(1000);
  return sendGoods();
}

int importGoods() {
  Mode mode = jobMode();
  mode.import = true;
  return importSteps(mode);
}

int deleteAllGoods() {
  const Mode mode = jobMode();
  if (const int e = importSteps(mode)) return e;
  if (progKom) progKom->Close();
  vexa->TwIterReset();
  if (vexa->TwIterEmpty()) {
    addMessage("W", "Brak towarów do usunięcia"_cp);
    return GetErrorNum();
  }
  platform::SleepMs(2000);
  return sendGoods();
}

}  // namespace quorvel::elcom
