// Goods operations of quorvel_posnet: sending goods and packagings, price changes, deleting
// the job's goods and deleting the whole goods base.
#include "drivers/posnet/goods.h"

#include <array>
#include <cstdio>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/progress.h"
#include "core/records.h"
#include "core/stop.h"
#include "core/xml/progkom_xml.h"
#include "core/xml/raport_xml.h"
#include "core/xml/vexa_xml.h"
#include "drivers/posnet/limits.h"
#include "drivers/posnet/link.h"
#include "platform/cp1250.h"
#include "plugin/goods_check.h"
#include "plugin/goods_warning.h"

namespace quorvel::posnet {

namespace {


void addNow(const char* text, const CTowar& t) {
  CKomunikat k("W", text, 0, true);
  if (!t.Id_brak) k.DodajTowar(t.Id);
  if (raport) raport->DodajKomunikat(k);
}

void confirm(const CTowar& t) {
  if (progKom && !t.Id_brak) progKom->DodajTowar(t.Id);
}

std::string priceText(const CTowar& t) { return t.Ce[0].GetString(2); }

// The decimal value of KO; 0 for an empty text. The check before sending has skipped every
// goods whose KO is not a package number.
std::uint32_t linkedPackaging(const CTowar& t) {
  if (t.KO_brak) return 0;
  std::uint64_t value = 0;
  for (const char c : t.KO) {
    if (c < '0' || c > '9') break;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > 0xFFFFFFFFu) return 0xFFFFFFFFu;
  }
  return static_cast<std::uint32_t>(value);
}

const char* textOf(const std::string& s, bool missing) { return missing ? "" : s.c_str(); }

// The barcode request after an accepted record; its failure is reported with the goods.
void sendBarcodes(const CTowar& t, const std::vector<std::string>& further) {
  const Link& d = link();
  Request r;
  const std::string list = barcodeList(t.KK_brak ? std::string() : t.KK, further);
  requestStep(api().POSS_BarcodeIns(d.device, r.out(), t.KP, list.c_str(), 0), r, &t);
}

// The check of the job's goods against the model's limits, before anything is sent: its
// warnings stand first in the report, and the goods it skips are never sent.
plugin::GoodsPlan checkGoods() { return plugin::GoodsPlan::check(goodsRules(), plugin::goodsWorkOf(vexa->GetOperacja())); }

// Walks the records of one type that the plan does not skip, `step` once per record, with the
// progress of `work` (skipped records count as done).
template <class Step>
void walk(const plugin::GoodsPlan& plan, char type, long& done, long total, const char* work, Step step) {
  vexa->TwIterReset(CVexaXml::sortNone, type);
  while (!vexa->TwIterEmpty()) {
    if (JobStopRequested()) {
      JobStoppedAfter(work, done, total);
      return;
    }
    const CTowar& t = vexa->TwIterGetNext();
    if (!plan.skipped(t)) step(t);
    QuorvelProgress(++done, total, work);
  }
}

}  // namespace

std::string barcodeList(const std::string& barcode, const std::vector<std::string>& further) {
  std::string list = barcode;
  for (const std::string& code : further) {
    list += '\n';
    list += code;
  }
  return list;
}

int sendGoods() {
  const plugin::GoodsPlan plan = checkGoods();
  const Link& d = link();
  const Api& a = api();
  enum { kPackTurnover, kGoodsSales, kPackRange, kGoodsRange, kNoPackaging, kPackNames, kGoodsNames };
  std::array<plugin::GoodsWarning, 7> lists = {
      plugin::GoodsWarning("Opakowanie jest już zaprogramowane i ma niezerowy obrót - nie zostało przesłane"_cp),
      plugin::GoodsWarning("Towar jest już zaprogramowany i ma niezerową sprzedaż - nie został przesłany"_cp),
      plugin::GoodsWarning("Kod PLU opakowania poza dopuszczalnym zakresem - opakowanie nie zostało przesłane"_cp),
      plugin::GoodsWarning("Kod PLU towaru poza dopuszczalnym zakresem - towar nie został przesłany"_cp),
      plugin::GoodsWarning("Opakowanie związane nie jest zaprogramowane - towar został pominięty"_cp),
      plugin::GoodsWarning("Opakowania o nieunikalnych nazwach nie zostały przesłane"_cp),
      plugin::GoodsWarning("Towary o nieunikalnych nazwach nie zostały przesłane"_cp),
  };
  const char* const work = "Przesyłanie towarów"_cp;
  const long total = static_cast<long>(vexa->IleOpk() + vexa->IleTow());
  long done = 0;
  QuorvelProgress(0, total, work);

  // Names with "$$$" under the MPX4s multiplexer and the barcodes beyond ten are the check's
  // own findings (goodsRules): such goods are skipped, or sent with their first ten codes.
  walk(plan, 'O', done, total, work, [&](const CTowar& t) {
    Request r;
    const std::uint32_t s = requestStep(
        a.POSS_PackIns(d.device, r.out(), t.KP, textOf(t.Na, t.Na_brak), textOf(t.KK, t.KK_brak), priceText(t).c_str(),
                       "0", (!t.CO_brak && t.CO) ? 0 : 1, 1, 0, 0),
        r, &t, {POSNET_STATUS_NONZERO_STATS, POSNET_STATUS_BAD_RECORD_NUMBER, POSNET_STATUS_NAME_NOT_UNIQUE});
    switch (s) {
      case 0: {
        confirm(t);
        const std::vector<std::string> further = furtherBarcodes(t.DK_brak ? std::string() : t.DK);
        if (!further.empty()) sendBarcodes(t, further);
        break;
      }
      case POSNET_STATUS_NONZERO_STATS: lists[kPackTurnover].add(t); break;
      case POSNET_STATUS_BAD_RECORD_NUMBER: lists[kPackRange].add(t); break;
      case POSNET_STATUS_NAME_NOT_UNIQUE: lists[kPackNames].add(t); break;
      default: break;  // reported by the request step
    }
  });

  walk(plan, 'T', done, total, work, [&](const CTowar& t) {
    // The library takes group and unit as one byte each; the check before sending has skipped
    // every goods whose group or unit does not fit one.
    const std::int32_t group = t.Gr_brak ? 1 : t.Gr;
    const std::int32_t unit = t.JM_brak ? 0 : t.JM;
    const auto noGroup = [&] {
      const std::string text = "Nie znaleziono grupy towarowej o numerze "_cp + std::to_string(group) + " - towar pominięto."_cp;
      addNow(text.c_str(), t);
    };
    Request r;
    const std::uint32_t s = requestStep(
        a.POSS_PLUIns(d.device, r.out(), t.KP, textOf(t.Na, t.Na_brak), textOf(t.KK, t.KK_brak), priceText(t).c_str(), "0",
                      linkedPackaging(t), static_cast<std::uint8_t>(unit), 0,
                      static_cast<std::uint8_t>(group), t.Va_brak ? 0 : t.Va, 3, (!t.CO_brak && t.CO) ? 0 : 1, 0, 0, 1,
                      0, 0),
        r, &t,
        {POSNET_STATUS_BAD_RECORD_NUMBER, POSNET_STATUS_NAME_NOT_UNIQUE, POSNET_STATUS_NO_SUCH_PACKAGING,
         POSNET_STATUS_NONZERO_STATS, POSNET_STATUS_NO_SUCH_GROUP});
    switch (s) {
      case 0: {
        confirm(t);
        std::vector<std::string> further = furtherBarcodes(t.DK_brak ? std::string() : t.DK);
        if (further.size() > kGoodsFurtherBarcodes) further.resize(kGoodsFurtherBarcodes);
        if (!further.empty()) sendBarcodes(t, further);
        break;
      }
      case POSNET_STATUS_BAD_RECORD_NUMBER: lists[kGoodsRange].add(t); break;
      case POSNET_STATUS_NAME_NOT_UNIQUE: lists[kGoodsNames].add(t); break;
      case POSNET_STATUS_NO_SUCH_PACKAGING: lists[kNoPackaging].add(t); break;
      case POSNET_STATUS_NONZERO_STATS: lists[kGoodsSales].add(t); break;
      case POSNET_STATUS_NO_SUCH_GROUP: noGroup(); break;
      default: break;
    }
  });

  for (const plugin::GoodsWarning& k : lists) k.report();
  closeDevice();
  return GetErrorNum();
}

int changePrices() {
  const plugin::GoodsPlan plan = checkGoods();
  const Link& d = link();
  const Api& a = api();
  plugin::GoodsWarning noGoods("Nie ma takiego towaru w kasie - cena nie została zmieniona"_cp);
  plugin::GoodsWarning noPackaging("Nie ma takiego opakowania w kasie - cena nie została zmieniona"_cp);
  const char* const work = "Zmiana cen towarów"_cp;
  const long total = static_cast<long>(vexa->IleOpk() + vexa->IleTow());
  long done = 0;
  QuorvelProgress(0, total, work);
  walk(plan, ' ', done, total, work, [&](const CTowar& t) {
    const bool packaging = t.Ty == 'O';
    const std::string price = priceText(t);
    Request r;
    const std::uint32_t submitted = packaging ? a.POSS_PackPriceUpdate(d.device, r.out(), t.KP, price.c_str(), 0)
                                              : a.POSS_PluPriceUpdate(d.device, r.out(), t.KP, price.c_str(), 0);
    const std::uint32_t s = requestStep(submitted, r, &t, {POSNET_STATUS_NO_RECORD});
    if (s == 0) confirm(t);
    if (s == POSNET_STATUS_NO_RECORD) (packaging ? noPackaging : noGoods).add(t);
  });
  noGoods.report();
  noPackaging.report();
  closeDevice();
  return GetErrorNum();
}

int deleteGoods() {
  const plugin::GoodsPlan plan = checkGoods();
  const Link& d = link();
  const Api& a = api();
  plugin::GoodsWarning packTurnover("Opakowanie ma niezerowy obrót - nie zostało usunięte"_cp);
  plugin::GoodsWarning goodsSales("Towar ma niezerową sprzedaż - nie został usunięty"_cp);
  plugin::GoodsWarning linked("Nie mozna usunąć opakowania, które jest powiązane z towarem"_cp);
  const char* const work = "Usuwanie towarów"_cp;
  const long total = static_cast<long>(vexa->IleOpk() + vexa->IleTow());
  long done = 0;
  QuorvelProgress(0, total, work);
  walk(plan, 'T', done, total, work, [&](const CTowar& t) {
    Request r;
    const std::uint32_t s = requestStep(a.POSS_PLUDel(d.device, r.out(), t.KP, 0, 1, 0), r, &t,
                                        {POSNET_STATUS_NO_RECORD, POSNET_STATUS_NONZERO_STATS});
    if (s == 0) confirm(t);
    if (s == POSNET_STATUS_NONZERO_STATS) goodsSales.add(t);
    // POSNET_STATUS_NO_RECORD: nothing to delete, nothing to say.
  });
  walk(plan, 'O', done, total, work, [&](const CTowar& t) {
    Request r;
    const std::uint32_t s = requestStep(a.POSS_PackDel(d.device, r.out(), t.KP, 0, 0, 0), r, &t,
                                        {POSNET_STATUS_NO_RECORD, POSNET_STATUS_NONZERO_STATS, POSNET_STATUS_ACTIVE_LINK});
    if (s == 0) confirm(t);
    if (s == POSNET_STATUS_NONZERO_STATS) packTurnover.add(t);
    if (s == POSNET_STATUS_ACTIVE_LINK) linked.add(t);
  });
  packTurnover.report();
  goodsSales.report();
  linked.report();
  closeDevice();
  return GetErrorNum();
}

int deleteAllGoods() {
  const Link& d = link();
  const Api& a = api();
  Request r;
  if (requestStep(a.POSS_PLUDelAll(d.device, r.out(), 0, 0), r) == 0) {
    Request p;
    requestStep(a.POSS_PackDelAll(d.device, p.out(), 2, 0), p);
  }
  closeDevice();
  return GetErrorNum();
}

}  // namespace quorvel::posnet
