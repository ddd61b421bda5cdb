// The sales operations of quorvel_posnet; each returns the error number.
#pragma once

namespace quorvel::posnet {

// opOdbiorSprzedazy: the sales of goods and packagings into PROG_KOM.XML, then the counters
// cleared once that file is safely on disk.
int readSales();
// opUsuwanieSprzedazy.
int clearSales();

}  // namespace quorvel::posnet
