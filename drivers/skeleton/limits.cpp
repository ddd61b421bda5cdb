#include "drivers/skeleton/limits.h"

namespace quorvel::skeleton {

plugin::GoodsRules goodsRules() { return plugin::GoodsRules{}; }

}  // namespace quorvel::skeleton
