#include "drivers/skeleton/sales.h"

#include "drivers/skeleton/link.h"

namespace quorvel::skeleton {

int readSales() { return notCarriedOut(); }
int clearSales() { return notCarriedOut(); }

}  // namespace quorvel::skeleton
