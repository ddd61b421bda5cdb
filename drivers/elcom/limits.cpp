#include "drivers/elcom/limits.h"

namespace quorvel::elcom {

plugin::GoodsRules goodsRules() { return plugin::GoodsRules{}; }

}  // namespace quorvel::elcom
