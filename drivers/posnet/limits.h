// What the Posnet registers can hold of a job's goods, per model: the one place the
// driver's checks, its description and its documentation take their limits from.
#pragma once

#include <string_view>

#include "plugin/driver_description.h"
#include "plugin/goods_check.h"

namespace quorvel::posnet {

// The limits of a model of the model list (models.h); nullptr for a model not on it.
const QuorvelFieldLimits* limitsOf(std::string_view model);

// The rules for the job's model, with the texts the driver keeps for its own cases.
plugin::GoodsRules goodsRules();

}  // namespace quorvel::posnet
