// Read-back operations of quorvel_posnet: import of the register's goods base, the sales
// read-out with the clearing of the counters, and the clearing alone.
#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/progress.h"
#include "core/records.h"
#include "core/stop.h"
#include "core/xml/progkom_xml.h"
#include "core/xml/raport_xml.h"
#include "drivers/posnet/goods.h"
#include "drivers/posnet/link.h"
#include "drivers/posnet/records.h"
#include "drivers/posnet/sales.h"
#include "platform/cp1250.h"

namespace quorvel::posnet {

namespace {

// A record whose result buffers do not form a valid record ends its read-out like a failing
// read: nothing of it is written, and the error keeps the counters from being cleared.
bool accepted(const MapResult& m) {
  if (m.kind != Mapped::bad) return true;
  SetError(ERR_DEVICE_DATA, m.problem.c_str());
  return false;
}

// The read-out pattern: a read context opened, then one record per read until the register
// answers "no more records". `init` and `read` issue their command into the given request;
// `onRecord` takes a completed read and returns false to stop. True when the read-out ended
// with "no more records". A stop asked meanwhile ends it between two records; a sales read-out
// (`sales`) says that the counters stay in the register.
template <class Init, class Read, class OnRecord>
bool readOut(const char* work, Init init, Read read, OnRecord onRecord, bool sales = false) {
  {
    Request r;
    if (requestStep(init(r.out()), r) != 0) return false;
  }
  long records = 0;
  QuorvelProgress(0, 0, work);
  for (;;) {
    if (JobStopRequested()) {
      char text[300];
      std::snprintf(text, sizeof text, "%s: odczytano %ld rekordów%s"_cp, work, records,
                    sales ? "; liczniki sprzedaży nie zostały wyzerowane i pozostały w kasie."_cp : ".");
      JobStopped(text);
      return false;
    }
    Request r;
    const std::uint32_t s = requestStep(read(r.out()), r, nullptr, {POSNET_STATUS_END_OF_RECORDS});
    if (s == POSNET_STATUS_END_OF_RECORDS) return true;
    if (s != 0) return false;
    if (!onRecord(r.get())) return false;
    ++records;
    QuorvelProgress(records, records, work);
  }
}

// The result of a completed read copied into `result`; a failing copy is reported.
bool fetched(std::uint32_t status) {
  if (status == 0) return true;
  reportStatus(status);
  return false;
}

bool readGoodsBase() {
  const Api& a = api();
  POSNET_DEVICE dev = link().device;
  return readOut(
      "Odczyt towarów z kasy"_cp, [&](POSNET_REQUEST* r) { return a.POSS_CntxPLUInit(dev, r, 1, 1, 0); },
      [&](POSNET_REQUEST* r) { return a.POSS_PLURead(dev, r, 0, 1, 0); },
      [&](POSNET_REQUEST req) {
        PluResult b;
        if (!fetched(a.POSG_PLURead(req, &b.plu, b.name, b.barcode, b.price, b.price2, &b.inactive, &b.linkedPack,
                                    &b.unit, &b.vat, &b.r10, &b.fixedPrice, &b.r12, &b.r13, &b.group, b.barcodes)))
          return false;
        CTowar t;
        const MapResult m = mapPlu(b, t);
        if (!accepted(m)) return false;
        if (m.kind == Mapped::record && progKom) progKom->DodajTowar(t);
        return true;
      });
}

bool readPackagingBase() {
  const Api& a = api();
  POSNET_DEVICE dev = link().device;
  return readOut(
      "Odczyt opakowań z kasy"_cp, [&](POSNET_REQUEST* r) { return a.POSS_CntxPackInit(dev, r, 1, 1, 0); },
      [&](POSNET_REQUEST* r) { return a.POSS_PackRead(dev, r, 0, 1); },
      [&](POSNET_REQUEST req) {
        PackResult b;
        if (!fetched(a.POSG_PackRead(req, &b.plu, b.name, b.barcode, b.price, b.price2, &b.fixedPrice))) return false;
        CTowar t;
        if (!accepted(mapPack(b, t))) return false;
        if (progKom) progKom->DodajTowar(t);
        return true;
      });
}

// The sales read-out; `written` counts the sales records written to PROG_KOM.XML. True when
// both read-outs ended normally.
bool salesReadOut(long& written) {
  const Api& a = api();
  POSNET_DEVICE dev = link().device;
  const bool goods = readOut(
      "Odbiór sprzedaży towarów"_cp, [&](POSNET_REQUEST* r) { return a.POSS_CntxPLUInit(dev, r, 3, 2, 0); },
      [&](POSNET_REQUEST* r) { return a.POSS_PLUStatRead(dev, r, 0, 0, 0); },
      [&](POSNET_REQUEST req) {
        PluStatResult b;
        if (!fetched(a.POSG_PLUStatRead(req, &b.plu, b.value, b.quantity, b.aux, &b.r5))) return false;
        CTowar t;
        if (!accepted(mapPluStat(b, t))) return false;
        if (progKom) progKom->DodajObrot(t);
        ++written;
        return true;
      },
      true);
  if (!goods || GetErrorNum() != 0) return false;
  return readOut(
      "Odbiór sprzedaży opakowań"_cp, [&](POSNET_REQUEST* r) { return a.POSS_CntxPackInit(dev, r, 3, 2, 0); },
      [&](POSNET_REQUEST* r) { return a.POSS_PackStatRead(dev, r, 0, 0, 0); },
      [&](POSNET_REQUEST req) {
        PackStatResult b;
        if (!fetched(a.POSG_PackStatRead(req, &b.plu, b.soldQuantity, b.returnedQuantity, b.soldValue,
                                         b.returnedValue, &b.r6)))
          return false;
        CTowar sold, returned;
        if (!accepted(mapPackStat(b, sold, returned))) return false;
        for (const CTowar* t : {&sold, &returned}) {
          if (t->Ilość.GetCurrency() == 0) continue;
          if (progKom) progKom->DodajObrot(*t);
          ++written;
        }
        return true;
      },
      true);
}

// What became of one clearing request.
enum class Cleared {
  yes,      // the register answered that it cleared the counters
  no,       // it refused, or the request never left the library
  unknown,  // the request went out and no answer came back (time-out, line lost): the register
            // may have cleared the counters or not
};

struct ClearOutcome {
  Cleared goods = Cleared::no;
  Cleared packagings = Cleared::no;
  bool stopped = false;  // a stop was asked before a clearing: the stop's message says what stands
  bool complete() const { return goods == Cleared::yes && packagings == Cleared::yes; }
};

// One clearing request through the request step (a failing status is reported as ever). A
// status of the register itself is its refusal, and a request the library did not queue never
// left it: the counters stand. Any other failure came after the request was handed on, and
// only the answer is known to be missing.
Cleared clearStep(std::uint32_t submitted, Request& r) {
  const std::uint32_t s = requestStep(submitted, r);
  if (s == 0) return Cleared::yes;
  const bool registerAnswered = s >= POSNET_STATUS_REGISTER_BASE && s < POSNET_STATUS_REGISTER_BASE2 + 0x10000u;
  return submitted != 0 || registerAnswered ? Cleared::no : Cleared::unknown;
}

// The clearing of both counters: the goods first, the packagings only once the goods' were
// cleared.
ClearOutcome clearCounters() {
  const Api& a = api();
  POSNET_DEVICE dev = link().device;
  ClearOutcome o;
  // Neither clearing starts once a stop was asked; one already sent is awaited.
  if (JobStopRequested()) {
    JobStoppedBeforeClearing();
    o.stopped = true;
    return o;
  }
  Request r;
  o.goods = clearStep(a.POSS_PLUStatClearAll(dev, r.out(), 0, 0, 0), r);
  if (o.goods != Cleared::yes) return o;
  if (JobStopRequested()) {
    JobStopped("liczniki sprzedaży towarów zostały wyzerowane, liczniki opakowań nie zostały wyzerowane i pozostały "
               "w kasie."_cp);
    o.stopped = true;
    return o;
  }
  Request p;
  o.packagings = clearStep(a.POSS_PackStatClearAll(dev, p.out(), 0, 0), p);
  return o;
}

// Which counters were cleared, which not and which may have been, for a clearing that did
// not clear both; `afterReadOut` adds what that means for the sales this job delivered.
std::string partialClearing(const ClearOutcome& o, bool afterReadOut) {
  if (o.goods == Cleared::no && o.packagings == Cleared::no) return "Liczniki sprzedaży nie zostały wyzerowane"_cp;
  const auto part = [](Cleared c, const char* what) {
    switch (c) {
      case Cleared::yes: return "liczniki sprzedaży "_cp + std::string(what) + " wyzerowano"_cp;
      case Cleared::no: return "liczniki sprzedaży "_cp + std::string(what) + " nie zostały wyzerowane"_cp;
      case Cleared::unknown: break;
    }
    return "nie wiadomo, czy liczniki sprzedaży "_cp + std::string(what) +
           " zostały wyzerowane (kasa nie odpowiedziała na polecenie, mogła je wyzerować)"_cp;
  };
  std::string text = "Liczniki sprzedaży nie zostały wyzerowane w całości: "_cp + part(o.goods, "towarów"_cp) + "; " +
                     part(o.packagings, "opakowań"_cp) + ".";
  if (!afterReadOut) return text;
  for (const auto& [c, what] : {std::pair{o.goods, "towarów"_cp}, std::pair{o.packagings, "opakowań"_cp}}) {
    if (c == Cleared::no)
      text += " Następny odbiór poda ponownie sprzedaż "_cp + std::string(what) +
              " odebraną teraz - nie należy jej doliczać drugi raz."_cp;
    if (c == Cleared::unknown)
      text += " Następny odbiór może podać ponownie sprzedaż "_cp + std::string(what) +
              " odebraną teraz - przed jej doliczeniem należy sprawdzić, czy nie zostanie policzona dwukrotnie."_cp;
  }
  return text;
}

}  // namespace

int importGoods() {
  if (readGoodsBase() && GetErrorNum() == 0) readPackagingBase();
  closeDevice();
  return GetErrorNum();
}

int readSales() {
  long written = 0;
  const bool normal = salesReadOut(written) && GetErrorNum() == 0;
  if (normal) {
    // The counters are cleared only once every record read is durably on disk: a read-out
    // that could not be written must still be in the register next time.
    const int closed = progKom ? progKom->Close() : SetError(ERR_FILE_WRITE, kProgKomFileName);
    if (closed != 0) {
      if (raport)
        raport->DodajKomunikat("E", "Błąd zapisu danych. Należy wykonać ponownie odbiór danych o sprzedaży."_cp, 0, true);
    } else {
      // The sales read are whole in PROG_KOM.XML whatever the clearing did, so a clearing
      // that did not clear both counters is a warning, never an error (which could make the
      // host throw the read-out away while the register may have cleared its counters).
      const ClearOutcome cleared = clearCounters();
      if (raport && !cleared.stopped) {
        if (cleared.complete())
          raport->UstawStatus("OK", "");
        else
          raport->UstawStatus("W", partialClearing(cleared, true).c_str());
      }
    }
  } else if (written > 0 && !JobStopRequested()) {
    if (raport)
      raport->DodajKomunikat("E", "Błąd odbioru danych. Należy wykonać ponownie odbiór danych o sprzedaży."_cp, 0, true);
  }
  closeDevice();
  return GetErrorNum();
}

int clearSales() {
  const ClearOutcome cleared = clearCounters();
  // The request's error stays the status; a notice tells which counters were cleared after all.
  if (!cleared.complete() && !cleared.stopped && (cleared.goods != Cleared::no || cleared.packagings != Cleared::no) && raport)
    raport->DodajKomunikat("W", partialClearing(cleared, false).c_str(), 0, false);
  closeDevice();
  return GetErrorNum();
}

}  // namespace quorvel::posnet
