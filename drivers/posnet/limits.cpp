#include "drivers/posnet/limits.h"

namespace quorvel::posnet {

plugin::GoodsRules goodsRules() { return plugin::GoodsRules{}; }

}  // namespace quorvel::posnet
