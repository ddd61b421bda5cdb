// The operations of quorvel_elcom on goods; each returns the error number (sales: sales.h).
#pragma once

namespace quorvel::elcom {

// Packages of the job (all 50 prices at once), then its goods as PLU records. Also the last
// step of the price change and of deleting, the mode coming from the job's operation.
int sendGoods();
// Reads back the register's PLUs of the job's code range, then sends the programmed ones with
// the job's new prices.
int changePrices();
// The register's packages and PLUs 1 to maxPluCode into the device-data file.
int importGoods();
// Reads the register's packages and PLUs into the catalogue and sends them all as deletions.
int deleteAllGoods();

}  // namespace quorvel::elcom
