// Read-back operations of quorvel_posnet: import of the register's goods base, the sales
// read-out with the clearing of the counters, and the clearing alone.
#include <algorithm>
#include <cstdio>

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
  POSNET_DEVICE dev = device().device;
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
  POSNET_DEVICE dev = device().device;
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
  POSNET_DEVICE dev = device().device;
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

// The clearing of both counters; true when both requests succeeded.
bool clearCounters() {
  const Api& a = api();
  POSNET_DEVICE dev = device().device;
  // Neither clearing starts once a stop was asked; one already sent is awaited.
  if (JobStopRequested()) {
    JobStoppedBeforeClearing();
    return false;
  }
  Request r;
  if (requestStep(a.POSS_PLUStatClearAll(dev, r.out(), 0, 0, 0), r) != 0) return false;
  if (JobStopRequested()) {
    JobStopped("liczniki sprzedaży towarów zostały wyzerowane, liczniki opakowań nie zostały wyzerowane i pozostały "
               "w kasie."_cp);
    return false;
  }
  Request p;
  return requestStep(a.POSS_PackStatClearAll(dev, p.out(), 0, 0), p) == 0;
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
    } else if (clearCounters()) {
      if (raport) raport->UstawStatus("OK", "");
    } else {
      if (raport) raport->UstawStatus("W", "Liczniki sprzedaży nie zostały wyzerowane"_cp);
    }
  } else if (written > 0 && !JobStopRequested()) {
    if (raport)
      raport->DodajKomunikat("E", "Błąd odbioru danych. Należy wykonać ponownie odbiór danych o sprzedaży."_cp, 0, true);
  }
  closeDevice();
  return GetErrorNum();
}

int clearSales() {
  clearCounters();
  closeDevice();
  return GetErrorNum();
}

}  // namespace quorvel::posnet
