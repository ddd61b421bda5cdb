#include "drivers/skeleton/goods.h"

#include "drivers/skeleton/link.h"

namespace quorvel::skeleton {

int sendGoods() { return notCarriedOut(); }
int changePrices() { return notCarriedOut(); }
int deleteGoods() { return notCarriedOut(); }
int deleteAllGoods() { return notCarriedOut(); }
int importGoods() { return notCarriedOut(); }

}  // namespace quorvel::skeleton
