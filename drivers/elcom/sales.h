// The sales operations of quorvel_elcom; each returns the error number.
#pragma once

namespace quorvel::elcom {

// Sales counters of every PLU and package into the device-data file, then clears the
// counters, but only once that file is complete on disk.
int readSales();
// Clears the sales counters; `packagesHadSales` adds the note that package counters stay.
int clearSales(bool packagesHadSales);

}  // namespace quorvel::elcom
