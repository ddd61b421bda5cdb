// The operations of quorvel_elcom on goods; each returns the error number (sales: sales.h).
#pragma once

#include "plugin/goods_check.h"

namespace quorvel::elcom {

// Every goods operation first checks the job's goods against the model's limits (the goods the
// register cannot hold as given are named and left out), before anything is sent.
//
// Packages of the job (all 50 prices at once), then its goods as PLU records; deletes them for
// the deleting operation.
int sendGoods();
// Reads back the register's PLUs of the job's code range, then sends the programmed ones with
// the job's new prices.
int changePrices();
// The register's packages and PLUs 1 to maxPluCode into the device-data file.
int importGoods();
// Reads the register's packages and PLUs into the catalogue and sends them all as deletions.
int deleteAllGoods();

// The dry run of the job's goods operation: the checks, and the selection the sending makes
// from the job alone, with the same warnings as a run; one line per goods to `show`, then a
// summary. Nothing is sent. Returns the error number.
int dryRunGoods(const plugin::PlanLine& show);

}  // namespace quorvel::elcom
