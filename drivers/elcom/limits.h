// What the Elcom registers can hold of a job's goods, per model: the one place the
// driver's checks, its description and its documentation take their limits from.
#pragma once

#include "plugin/goods_check.h"

namespace quorvel::elcom {

// The largest number a 16-bit field of the link carries (PLU codes, command arguments).
inline constexpr long kWireU16Max = 0xFFFF;

// The limits of model 1 to 7 of the model table; null for any other number (a model the
// driver does not know).
const QuorvelFieldLimits* modelLimits(int modelNumber);

// The rules for the job's model, as the configuration read at load narrows them: PLU codes
// up to the configured max-plu when that is below the model's capacity.
plugin::GoodsRules goodsRules();

}  // namespace quorvel::elcom
