// What the registers of this driver can hold of a job's goods, per model: the one place the
// driver's checks, its description and its documentation take their limits from.
#pragma once

#include "plugin/goods_check.h"

namespace quorvel::skeleton {

// The rules for the job's model, as the configuration read at load narrows them.
plugin::GoodsRules goodsRules();

}  // namespace quorvel::skeleton
