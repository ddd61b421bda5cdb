// The operations of quorvel_elzab on goods; each returns the error number (sales: sales.h).
#pragma once

namespace quorvel::elzab {

// Packagings, then goods: each goods line through ZBPTowar (ten tries while the register
// answers NAK), then its further barcodes and its link.
int sendGoods();
// The register's goods read into the job's goods (the import's price mode), then the goods
// line of every goods the register knows through ZCTowar.
int changePrices();
// KTowar, KTBarkod and KWiaz for every goods of the job.
int deleteGoods();
// KDBarMax, then KTowMax.
int deleteAllGoods();

// The register's goods base with links and further barcodes: into the device-data file
// (operation ImportTowarów), or, in price mode, into the matching goods of the job.
int importGoods();

}  // namespace quorvel::elzab
