// Sales operations of quorvel_elcom: reading the sales counters of every PLU and package into
// the device-data file, and clearing them in the register.
#include <algorithm>
#include <string>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/progress.h"
#include "core/records.h"
#include "core/stop.h"
#include "core/xml/progkom_xml.h"
#include "core/xml/raport_xml.h"
#include "drivers/elcom/link.h"
#include "drivers/elcom/sales.h"
#include "platform/clock.h"
#include "platform/cp1250.h"

namespace quorvel::elcom {

namespace {

// The long works as the host's progress names them.
const char* const kReadingPluSales = "Odbiór sprzedaży towarów"_cp;
const char* const kReadingPackageSales = "Odbiór sprzedaży opakowań"_cp;

CTowar salesRecord(char type, std::uint32_t code, const CounterRecord& rec) {
  CTowar t;
  t.UstawTy(type);
  t.UstawKP(code);
  t.UstawIdUF(std::to_string(code));
  t.UstawNa(rec.name);
  t.UstawIlość(CY{quantityFromWire(rec.quantity)});
  t.UstawWartość(CY{valueFromWire(rec.value)});
  return t;
}

// What the last clearing did to the register's counters.
enum class Clearing {
  notSent,  // refused, or never reached the register: the counters stand
  unknown,  // the clearing data went out and no status came back: they may have been cleared
  done,     // the register answered that it cleared them
};
Clearing g_clearing = Clearing::notSent;

// The status text of a read-out whose clearing failed, by what the clearing did: the sales of
// PROG_KOM.XML are whole in each case, and the text tells the host what the next read-out gives.
const char* clearingFailure() {
  switch (g_clearing) {
    case Clearing::notSent:
      break;
    case Clearing::unknown:
      return "Nie wiadomo, czy liczniki sprzedaży zostały wyzerowane (kasa nie odpowiedziała na polecenie, mogła je "
             "wyzerować). Następny odbiór może podać ponownie sprzedaż odebraną teraz - przed jej doliczeniem należy "
             "sprawdzić, czy nie zostanie policzona dwukrotnie."_cp;
    case Clearing::done:
      return "Liczniki sprzedaży zostały wyzerowane, ale kasa nie zakończyła poprawnie wymiany danych."_cp;
  }
  return "Liczniki sprzedaży nie zostały wyzerowane"_cp;
}

}  // namespace

int readSales() {
  Link& l = link();
  if (const int e = queryPluCount()) return e;

  platform::SleepMs(1000);
  if (l.pluCount != 0) {
    if (const int e = prepareDataCommand(kReadPluSales)) return e;
    if (const int e = commandExchange(kReadPluSales, l.pluCount, l.pluCount, true)) return e;
    long records = 0;
    QuorvelProgress(0, l.pluCount, kReadingPluSales);
    const int e = receiveTransfer(kTransferPrefix, pluSalesSize(l.longRecords), [&](ByteView bytes) {
      CounterRecord rec;
      if (decodePluSales(bytes, l.longRecords, rec) != 0) return SetError(ERR_DEVICE_DATA);
      if (progKom) progKom->DodajObrot(salesRecord('T', static_cast<std::uint32_t>(rec.index) + 1, rec));
      QuorvelProgress(++records, std::max<long>(records, l.pluCount), kReadingPluSales);
      return 0;
    });
    if (e) return e;
  }

  platform::SleepMs(1000);
  int packageSales = 0;
  {
    if (const int e = prepareDataCommand(kReadPackages)) return e;
    if (const int e = commandExchange(kReadPackages, 0, 0, true)) return e;
    std::uint32_t number = 0;
    const int e = receiveTransfer(0, packageSize(l.longRecords), [&](ByteView bytes) {
      CounterRecord rec;
      if (decodePackage(bytes, l.longRecords, rec) != 0) return SetError(ERR_DEVICE_DATA);
      ++number;
      QuorvelProgress(number, std::max<long>(number, kPackageCount), kReadingPackageSales);
      if (rec.quantity == 0) return 0;
      if (progKom) progKom->DodajObrot(salesRecord('O', number, rec));
      ++packageSales;
      return 0;
    });
    if (e) return e;
  }

  // The counters are cleared only once the file holding them is complete on disk: a sales
  // read-out that could not be written must still be in the register next time.
  if (!progKom) return SetError(ERR_FILE_WRITE, "PROG_KOM.XML");
  if (const int e = progKom->Close()) return e;

  platform::SleepMs(1000);
  if (const int e = clearSales(packageSales > 0)) {
    if (raport) raport->UstawStatus("W", clearingFailure());
    return e;
  }
  return GetErrorNum();
}

int clearSales(bool packagesHadSales) {
  Link& l = link();
  g_clearing = Clearing::notSent;
  // The last moment a stop keeps the counters: once the clearing command is out, its answer
  // is awaited.
  if (JobStopRequested()) return JobStoppedBeforeClearing();
  if (const int e = commandExchange(kClearSales, 0, l.config.maxPluCode, false)) return e;
  std::uint8_t status = 0;
  // From here on the clearing data may have reached the register: without its status nobody
  // knows whether it cleared the counters.
  g_clearing = Clearing::unknown;
  if (const int e = sendDataWithStatus(buildFrame(kData, salesClearingPayload()), false, status)) return e;
  g_clearing = status == 0 ? Clearing::done : Clearing::notSent;
  if (status != 0) return reportStatus(status, false);
  if (const int e = endExchange()) return e;
  if (packagesHadSales && raport)
    raport->DodajKomunikat("I",
                           "Kasa fiskalna nie pozwala na usuwanie obrotów opakowań, proszę wykonać raport zerujący opakowań"_cp,
                           0, true);
  return GetErrorNum();
}

}  // namespace quorvel::elcom
