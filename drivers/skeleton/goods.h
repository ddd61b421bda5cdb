// The goods operations of quorvel_skeleton: sending, changing prices, deleting and importing
// goods. Each returns the error number.
//
// The skeleton sends goods; the other operations it does not carry out (notCarriedOut).
// sendGoods is the pattern of every goods operation: first the check of the whole job against
// the model's limits (plugin::GoodsPlan::check, which names every goods it changes or leaves
// out), then the walk over the job's catalogue (vexa->TwIterReset, TwIterEmpty, TwIterGetNext)
// that skips what the plan left out, sends the register's records from records.h, confirms
// each accepted goods in PROG_KOM.XML and reports progress (QuorvelProgress). Replace the
// other bodies the same way.
#pragma once

namespace quorvel::skeleton {

int sendGoods();       // opPrzesylanieTowarow
int changePrices();    // opZmianaCenTowarow
int deleteGoods();     // opUsuwanieTowarow
int deleteAllGoods();  // opUsuwanieWszystkichTowarow
int importGoods();     // opImportTowarow

}  // namespace quorvel::skeleton
