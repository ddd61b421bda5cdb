// Goods operations of quorvel_posnet (sales: sales.h). Each walks the job's catalogue or the
// register's records, judges every library request with the request step, writes what it
// confirms or reads to PROG_KOM.XML, closes the device at its end and returns the error number.
#pragma once

#include <string>
#include <vector>

#include "core/records.h"

namespace quorvel::posnet {

// opPrzesylanieTowarow: packagings, then goods, with their barcode lists.
int sendGoods();
// opZmianaCenTowarow.
int changePrices();
// opUsuwanieTowarow: goods, then packagings.
int deleteGoods();
// opUsuwanieWszystkichTowarow.
int deleteAllGoods();

// opImportTowarow: the register's goods and packagings into PROG_KOM.XML.
int importGoods();

// The further barcodes of DK (the texts before each 0xFF byte, up to the first empty one).
inline std::vector<std::string> furtherBarcodes(const std::string& dk) { return furtherBarcodesOf(dk); }

// At most this many further barcodes go with a goods (10 codes with its own barcode); a
// package takes them all.
inline constexpr std::size_t kGoodsFurtherBarcodes = 9;
// The list of POSS_BarcodeIns: the barcode, then a line feed and each further barcode.
std::string barcodeList(const std::string& barcode, const std::vector<std::string>& further);

}  // namespace quorvel::posnet
