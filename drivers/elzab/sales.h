// The sales operations of quorvel_elzab; each returns the error number.
#pragma once

namespace quorvel::elzab {

// The sales counters of goods and packagings into the device-data file.
int readSales();

}  // namespace quorvel::elzab
