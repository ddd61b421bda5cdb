#include "drivers/elzab/limits.h"

namespace quorvel::elzab {

plugin::GoodsRules goodsRules() { return plugin::GoodsRules{}; }

}  // namespace quorvel::elzab
