// Goods operations of quorvel_elzab: sending goods and packagings with their further barcodes
// and links, price changes, deleting the job's goods and the whole goods base.
#include "drivers/elzab/goods.h"

#include <string>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/progress.h"
#include "core/records.h"
#include "core/stop.h"
#include "core/xml/progkom_xml.h"
#include "core/xml/raport_xml.h"
#include "core/xml/vexa_xml.h"
#include "drivers/elzab/binding.h"
#include "drivers/elzab/limits.h"
#include "drivers/elzab/link.h"
#include "drivers/elzab/records.h"
#include "platform/cp1250.h"
#include "plugin/goods_warning.h"

namespace quorvel::elzab {

namespace {

constexpr int kNakAttempts = 10;
constexpr int kNak = 24;
constexpr int kNotInFirmware = 25;
// The register's "no data under this PLU" answer to a price change.
constexpr int kNoDataUnderPlu = 202;

const char* const kNotProgrammedSkipped = "Towar niezaprogramowany w kasie został pominięty"_cp;

// Refusals of one goods after which the next goods is sent: the register's objections to the
// goods' data or to its own state for this goods.
bool goodsLevelWarning(int e) {
  return (e >= 102 && e <= 105) || (e >= 107 && e <= 118) || (e >= 200 && e <= 212) || e == 215 || e == 217 ||
         (e >= 220 && e <= 232);
}

// An error that ends the operation: below 100 (files, transmission, the library itself).
bool endsOperation(int e) { return e != 0 && e < 100; }

// The write step of one goods: EZB_IN.TXT with the data line, the call, again while the
// register answers NAK (ten attempts in all); 25 is reported and ends the operation; a clean
// result confirms the goods in the device-data file. Returns the error number.
int writeStep(const std::string& dataLine, WinIP function, const CTowar& t) {
  for (int attempt = 1; attempt <= kNakAttempts; ++attempt) {
    if (GetErrorNum() != 0) return GetErrorNum();
    if (const int e = writeInputFile(dataLine)) return e;
    if (const int e = callWinIP(function)) return e;
    const std::uint8_t result = lastWinIPResult();
    if (result == kNak) continue;
    if (result == kNotInFirmware) return reportWinIPResult(result);
    if (progKom) progKom->DodajTowar(t.Id);
    return GetErrorNum();
  }
  if (GetErrorNum() != 0) return GetErrorNum();
  return reportWinIPResult(kNak);
}

// One call that clears a capability for the rest of the load when the register does not know
// it (24 or 25). Returns true when the call went through with a clean result.
bool callWithCapability(const std::string& dataLine, WinIP function, bool& supported) {
  if (writeInputFile(dataLine) != 0) return false;
  const int before = GetErrorNum();
  callWinIP(function);
  const std::uint8_t result = lastWinIPResult();
  if (result == kNak || result == kNotInFirmware) {
    supported = false;
    return false;
  }
  return result == 0 && GetErrorNum() == before;
}

// The further barcodes of a goods: KTBarkod deletes those the register holds, ZDBarkod writes
// the job's. Returns the error number.
int barcodeStep(const CTowar& t) {
  Link& l = link();
  if (!l.extraBarcodesSupported) return GetErrorNum();
  if (callWithCapability(pluLine(t), WinIP::KTBarkod, l.extraBarcodesSupported) && !t.DK_brak) {
    const std::string lines = extraBarcodeLines(t);
    if (!lines.empty() && writeInputFile(lines) == 0) callWinIP(WinIP::ZDBarkod);
  }
  return GetErrorNum();
}

// The link of a goods: KWiaz deletes the register's, ZWiaz writes the job's. A packaging is
// never linked (the register links goods to packagings), and a KO that is no PLU number of
// the register never reaches ZWiaz (the check before sending has left such goods out).
// Returns the error number.
int linkStep(const CTowar& t) {
  Link& l = link();
  if (!l.linksSupported) return GetErrorNum();
  if (callWithCapability(pluLine(t), WinIP::KWiaz, l.linksSupported) && !t.KO_brak && !t.KO.empty() && t.Ty != 'O') {
    const std::string line = linkLine(t);
    if (!line.empty() && writeInputFile(line) == 0) callWinIP(WinIP::ZWiaz);
  }
  return GetErrorNum();
}

long goodsCount() { return static_cast<long>(vexa->IleTow() + vexa->IleOpk()); }

}  // namespace

int sendGoods() {
  // Every goods checked before anything is sent: the goods the register cannot hold as given
  // are named and left out, names get the characters the register has.
  const plugin::GoodsPlan plan = plugin::GoodsPlan::check(goodsRules(), plugin::GoodsWork::Send);
  const char* const work = "Przesyłanie towarów"_cp;
  const long total = goodsCount();
  long done = 0;
  QuorvelProgress(0, total, work);
  vexa->TwIterReset(CVexaXml::sortNone, '2');
  while (!vexa->TwIterEmpty() && GetErrorNum() == 0) {
    if (JobStopRequested()) {
      JobStoppedAfter(work, done, total);
      break;
    }
    const CTowar& next = vexa->TwIterGetNext();
    if (plan.skipped(next)) {
      QuorvelProgress(++done, total, work);
      continue;
    }
    const CTowar t = next;
    setGoodsInWork(&t);
    const int e = writeStep(goodsLine(t), WinIP::ZBPTowar, t);
    if (endsOperation(e)) break;
    if (goodsLevelWarning(e)) {
      // The refusal stands in the report with the goods; the next goods follows.
      SetErrorNum(0);
    } else {
      // Any other warning stays set and ends the loop, after this goods' barcodes and link.
      if (endsOperation(barcodeStep(t))) break;
      if (endsOperation(linkStep(t))) break;
      // A goods-level refusal of a barcode or the link lets the next goods follow too.
      if (e == 0 && goodsLevelWarning(GetErrorNum())) SetErrorNum(0);
    }
    QuorvelProgress(++done, total, work);
  }
  setGoodsInWork(nullptr);
  return GetErrorNum();
}

int changePrices() {
  // The check looks at the job's PLU numbers and prices only, which the read-back of the
  // register's goods leaves as they are: made first, it says what a dry run says.
  const plugin::GoodsPlan plan = plugin::GoodsPlan::check(goodsRules(), plugin::GoodsWork::PriceChange);
  plugin::GoodsWarning notProgrammed(kNotProgrammedSkipped);
  if (const int e = importGoods()) return e;

  const char* const work = "Zmiana cen towarów"_cp;
  const long total = goodsCount();
  long done = 0;
  bool writing = true;
  QuorvelProgress(0, total, work);
  vexa->TwIterReset(CVexaXml::sortNone, '2');
  while (!vexa->TwIterEmpty()) {
    if (writing && JobStopRequested()) {
      JobStoppedAfter(work, done, total);
      break;
    }
    const CTowar& next = vexa->TwIterGetNext();
    QuorvelProgress(++done, total, work);
    if (plan.skipped(next)) continue;
    const CTowar t = next;
    if (t.Na_brak) {
      // The register holds nothing under this PLU: a new price would define a goods.
      notProgrammed.add(t);
      continue;
    }
    if (!writing) continue;
    setGoodsInWork(&t);
    const int e = writeStep(goodsLine(t), WinIP::ZCTowar, t);
    if (endsOperation(e) && e != kNak) {
      setGoodsInWork(nullptr);
      return e;
    }
    if (GetErrorNum() == kNoDataUnderPlu) SetErrorNum(0);
    // A warning, or 24 after ten NAKs: nothing more is written, the rest is still walked.
    if (GetErrorNum() != 0) writing = false;
  }
  setGoodsInWork(nullptr);
  notProgrammed.report();
  return GetErrorNum();
}

int deleteGoods() {
  const plugin::GoodsPlan plan = plugin::GoodsPlan::check(goodsRules(), plugin::GoodsWork::Delete);
  Link& l = link();
  const char* const work = "Usuwanie towarów"_cp;
  const long total = goodsCount();
  long done = 0;
  QuorvelProgress(0, total, work);
  vexa->TwIterReset();
  while (!vexa->TwIterEmpty()) {
    if (JobStopRequested()) {
      JobStoppedAfter(work, done, total);
      break;
    }
    const CTowar& next = vexa->TwIterGetNext();
    if (plan.skipped(next)) {
      QuorvelProgress(++done, total, work);
      continue;
    }
    const CTowar t = next;
    setGoodsInWork(&t);
    const int e = writeStep(pluLine(t), WinIP::KTowar, t);
    // After ten NAKs the barcodes and the link of this goods are still deleted.
    if (endsOperation(e) && e != kNak) break;
    if (l.extraBarcodesSupported) {
      callWithCapability(pluLine(t), WinIP::KTBarkod, l.extraBarcodesSupported);
      if (endsOperation(GetErrorNum())) break;
    }
    if (l.linksSupported) {
      callWithCapability(pluLine(t), WinIP::KWiaz, l.linksSupported);
      if (endsOperation(GetErrorNum())) break;
    }
    QuorvelProgress(++done, total, work);
  }
  setGoodsInWork(nullptr);
  return GetErrorNum();
}

int deleteAllGoods() {
  if (const int e = writeInputFile(std::string())) return e;
  callWinIP(WinIP::KDBarMax);
  callWinIP(WinIP::KTowMax);
  return GetErrorNum();
}

}  // namespace quorvel::elzab
