// Read-back operations of quorvel_elzab: the import of the register's goods base (also the
// first half of a price change) and the sales read-out.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/history.h"
#include "core/progress.h"
#include "core/records.h"
#include "core/stop.h"
#include "core/xml/progkom_xml.h"
#include "core/xml/raport_xml.h"
#include "core/xml/vexa_xml.h"
#include "drivers/elzab/binding.h"
#include "drivers/elzab/goods.h"
#include "drivers/elzab/link.h"
#include "drivers/elzab/records.h"
#include "drivers/elzab/sales.h"
#include "platform/cp1250.h"
#include "platform/job_dir.h"

namespace quorvel::elzab {

namespace {

const char* const kReadingGoods = "Odczyt towarów z kasy"_cp;
const char* const kReadingLinks = "Odczyt powiązań towarów z kasy"_cp;
const char* const kReadingBarcodes = "Odczyt dodatkowych kodów kreskowych z kasy"_cp;
const char* const kReadingPackagingSales = "Odbiór sprzedaży opakowań"_cp;
const char* const kReadingGoodsSales = "Odbiór sprzedaży towarów"_cp;
const char* const kWritingGoods = "Zapis towarów z kasy"_cp;

// The goods of the job found by PLU under the catalogue's current sort and type sequence.
CTowar* goodsByPlu(std::uint32_t plu) {
  CTowar key;
  key.UstawKP(plu);
  return vexa->SearchTowar(key);
}

// Price mode: the register's data of a goods into the job's goods of the same PLU; the job's
// prices stay.
void takeRegisterData(CTowar& job, const CTowar& read) {
  job.UstawKP(read.KP);
  job.UstawNa(read.Na);
  job.UstawVa(read.Va);
  job.UstawGr(read.Gr);
  job.UstawJM(read.JM);
  job.UstawTy(read.Ty);
  if (!read.KK_brak) job.UstawKK(read.KK);
}

// One WinIP call with a fresh input file holding only its header.
int callWithHeader(WinIP function) {
  if (const int e = writeInputFile(std::string())) return e;
  return callWinIP(function);
}

int readGoodsRecords(bool priceMode) {
  // Price mode: the register's data reaches the job's goods once the whole file is read. A
  // goods whose type changed while the reading still searched would have the catalogue sort
  // its index again for every later record.
  std::vector<std::pair<CTowar*, CTowar>> found;
  const int e = readResultFile(kOutputFile, kReadingGoods, [&](unsigned line, const RecordFields& f) {
    CTowar t;
    if (auto fault = goodsFromRecord(f, t)) return reportFieldFault(*fault, kOutputFile, line);
    if (GetErrorNum() != 0) return GetErrorNum();  // a price str2currency refused
    if (!priceMode) {
      vexa->DodajTowar(t);
    } else if (CTowar* job = goodsByPlu(t.KP)) {
      found.emplace_back(job, std::move(t));
    }
    return 0;
  });
  // Each record is handed out again as it is changed, so the catalogue takes in new keys.
  for (auto& [job, read] : found)
    if (CTowar* w = vexa->TwIterGetReadWrite(*job)) takeRegisterData(*w, read);
  return e;
}

// Links: each record names two PLUs; the goods of the first gets the second as its link, or,
// when the first is no goods, the goods of the second gets the first.
int readLinkRecords() {
  return readResultFile(kOutputFile, kReadingLinks, [](unsigned line, const RecordFields& f) {
    if (auto fault = requireFields(f, 2)) return reportFieldFault(*fault, kOutputFile, line);
    const std::string a(f[0]), b(f[1]);
    CTowar* goods = nullptr;
    if (const auto plu = pluValue(a)) goods = goodsByPlu(*plu);
    if (goods) {
      goods->UstawKO(b);
      return 0;
    }
    if (const auto plu = pluValue(b)) goods = goodsByPlu(*plu);
    if (goods) goods->UstawKO(a);
    return 0;
  });
}

int readBarcodeRecords() {
  return readResultFile(kOutputFile, kReadingBarcodes, [](unsigned line, const RecordFields& f) {
    if (auto fault = requireFields(f, 2)) return reportFieldFault(*fault, kOutputFile, line);
    const auto plu = pluValue(f[0]);
    CTowar* goods = plu ? goodsByPlu(*plu) : nullptr;
    // An empty code would end the goods' list of further barcodes early, and a byte 0xFF
    // inside one would split it in two: the list's own separator never enters a code.
    if (goods && !f[1].empty()) {
      std::string code(f[1]);
      for (char& c : code)
        if (c == '\xFF') c = '_';
      goods->DodajDK(code);
    }
    return 0;
  });
}

}  // namespace

int importGoods() {
  const bool priceMode = !vexa || vexa->GetOperacja() != "ImportTowarów"_cp;
  if (const int e = callWithHeader(WinIP::TowarMax)) return e;
  if (priceMode) {
    vexa->SetSortType(CVexaXml::sortKP);
    vexa->SetSortTypeTwType(' ');
  }
  if (const int e = readGoodsRecords(priceMode)) return e;
  if (priceMode) return GetErrorNum();

  vexa->SetSortType(CVexaXml::sortKP);
  vexa->SetSortTypeTwType('T');
  // A register without links or further barcodes answers 24 or 25: that part is left out.
  if (const int e = callWithHeader(WinIP::OWiaz)) return e;
  if (lastWinIPResult() == 0) {
    if (const int e = readLinkRecords()) return e;
  }
  if (const int e = callWithHeader(WinIP::ODBarkod)) return e;
  if (lastWinIPResult() == 0) {
    if (const int e = readBarcodeRecords()) return e;
  }

  const long total = static_cast<long>(vexa->IleRekordow());
  long done = 0;
  QuorvelProgress(0, total, kWritingGoods);
  vexa->TwIterReset(CVexaXml::sortNone, ' ');
  while (!vexa->TwIterEmpty()) {
    if (JobStopRequested()) {
      JobStoppedAfter(kWritingGoods, done, total);
      break;
    }
    const CTowar& t = vexa->TwIterGetNext();
    if (progKom) progKom->DodajTowar(t);
    QuorvelProgress(++done, total, kWritingGoods);
  }
  return GetErrorNum();
}

namespace {

// The register clears its counters inside the read-out call: from then on the sales exist only
// in WinIP's files. Those are kept in the job's history (marked as not delivered) before they
// are read, and a read-out that fails afterwards says where they are.
struct KeptSales {
  std::vector<std::string> paths;  // the kept copies, or the job directory's own files

  void keep() {
    for (const char* name : {kSales2File, kSales3File, kSales1File}) {
      if (platform::KindOfFile(name) != platform::FileKind::Regular) continue;
      const std::string kept = HistoryKeepJobFile(name, false, true);
      // Not kept (no history, a failed write): the file in the job directory is all there is.
      if (name != kSales1File || !kept.empty()) paths.push_back(kept.empty() ? std::string(name) : kept);
    }
  }

  // One error message, which becomes the status: the counters are cleared, the sales are here.
  void reportLost() const {
    std::string files;
    for (const std::string& p : paths) files += (files.empty() ? "" : ", ") + p;
    if (files.empty()) files = std::string(kSales2File) + ", " + kSales3File;
    const std::string text = "Odbiór sprzedaży nie został zakończony, a liczniki sprzedaży w kasie zostały już "
                             "wyzerowane; odczytana sprzedaż jest zachowana w plikach: "_cp +
                             files + ".";
    if (raport) raport->DodajKomunikat("E", text.c_str(), 0, true);
  }
};

}  // namespace

int readSales() {
  // Without a device-data file the sales would have nowhere to go once the register cleared
  // them: the read-out is not started.
  if (!progKom || !progKom->IsOpen())
    return SetError("Odbiór sprzedaży nie został rozpoczęty: nie można zapisać pliku PROG_KOM.XML; liczniki "
                    "sprzedaży w kasie pozostały bez zmian."_cp);
  // The input file names the three files WinIP writes the counters into.
  const std::string files = std::string("$") + kSales1File + "\t" + kSales2File + "\t" + kSales3File;
  if (const int e = writeInputFile(files)) return e;
  // Files of an earlier read-out must not pass for this one's, nor be lost: they go into the
  // history of the job that wrote them.
  for (const char* name : {kSales1File, kSales2File, kSales3File}) {
    if (platform::KindOfFile(name) == platform::FileKind::Missing) continue;
    if (HistoryKeepEarlierFile(name).empty()) {
      char text[512];
      std::snprintf(text, sizeof text,
                    "Nie można przenieść pliku %s poprzedniego odbioru sprzedaży do historii; odbiór nie został "
                    "rozpoczęty, liczniki sprzedaży w kasie pozostały bez zmian."_cp,
                    name);
      return SetError(text);
    }
  }
  // WinIP clears the counters inside the read-out call: once it is made, whatever it wrote is
  // read and written to the end, stop or not.
  if (JobStopRequested()) return JobStoppedBeforeClearing();
  if (const int e = callWinIP(WinIP::OSpOpMax)) return e;
  KeptSales kept;
  kept.keep();

  // Packagings: returned, hence their value counts against the sales.
  int e = readResultFile(kSales3File, kReadingPackagingSales, [](unsigned line, const RecordFields& f) {
    CTowar t;
    if (auto fault = salesFromRecord(f, 'O', t)) return reportFieldFault(*fault, kSales3File, line);
    if (GetErrorNum() != 0) return GetErrorNum();
    t.UstawWartość(-t.Wartość);
    if (t.Wartość.GetCurrency() != 0 && progKom) progKom->DodajObrot(t);
    // Also without a value: the PLU is a packaging for the goods file below.
    vexa->DodajTowar(t);
    return 0;
  });
  if (!e) {
    vexa->SetSortType(CVexaXml::sortKP);
    vexa->SetSortTypeTwType('O');
    e = readResultFile(kSales2File, kReadingGoodsSales, [](unsigned line, const RecordFields& f) {
      CTowar t;
      if (auto fault = salesFromRecord(f, 'T', t)) return reportFieldFault(*fault, kSales2File, line);
      if (GetErrorNum() != 0) return GetErrorNum();
      if (goodsByPlu(t.KP)) t.UstawTy('O');
      if (progKom) progKom->DodajObrot(t);
      return 0;
    });
  }
  if (!e) e = GetErrorNum();
  // The sales are delivered only once PROG_KOM.XML is whole on the disk.
  if (!e && progKom) e = progKom->Close();
  if (e) kept.reportLost();
  return e;
}

}  // namespace quorvel::elzab
