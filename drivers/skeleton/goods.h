// The goods operations of quorvel_skeleton: sending, changing prices, deleting and importing
// goods. Each returns the error number.
//
// The skeleton carries none of them out (notCarriedOut). Replace each body with the walk over
// the job's catalogue (vexa->TwIterReset, TwIterEmpty, TwIterGetNext), the register's records
// from records.h and the progress calls (QuorvelProgress), as every driver's goods.cpp does.
#pragma once

namespace quorvel::skeleton {

int sendGoods();       // opPrzesylanieTowarow
int changePrices();    // opZmianaCenTowarow
int deleteGoods();     // opUsuwanieTowarow
int deleteAllGoods();  // opUsuwanieWszystkichTowarow
int importGoods();     // opImportTowarow

}  // namespace quorvel::skeleton
