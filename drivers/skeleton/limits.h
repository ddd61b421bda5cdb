// What the registers of this driver can hold of a job's goods, per model: the one place the
// driver's checks, its description (and so `quorvel --help`, the manual page and the README's
// field table), its dry run and its simulated register take their limits from.
//
// The data is part of the codec, so that the simulated register refuses exactly what the
// driver's checks leave out. A driver with several models keeps one QuorvelFieldLimits per
// model here and chooses by the job's idModelu.
#pragma once

#include "plugin/driver_description.h"
#include "plugin/goods_check.h"

namespace quorvel::skeleton {

// The limits of the skeleton register model, with what each job field means to it.
const QuorvelFieldLimits& modelLimits();

// The rules for the job's model, as the configuration read at load narrows them (the skeleton's
// record narrows nothing). Defined in the driver library.
plugin::GoodsRules goodsRules();

}  // namespace quorvel::skeleton
