// The sales operations of quorvel_skeleton: reading the register's sales counters into the
// job's device-data file, and clearing them. Each returns the error number.
//
// The skeleton carries neither out (notCarriedOut). Replace each body with the register's
// sales records (records.h) written through progKom, as every driver's sales.cpp does.
#pragma once

namespace quorvel::skeleton {

int readSales();   // opOdbiorSprzedazy
int clearSales();  // opUsuwanieSprzedazy

}  // namespace quorvel::skeleton
