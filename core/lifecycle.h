// Internal entry points of the job core (not exported): the teardown of the three job objects
// and the dispatch of the job's operation to a loaded plug-in.
#pragma once

#include <cstddef>

#include "core/plugin_contract.h"

namespace quorvel::platform {
struct Module;
}

namespace quorvel::core {

// Closes and destroys progKom, then destroys raport (finishing RAPORT.XML, error state
// unlinked), then vexa; each pointer ends null. Safe to call when some or all are null.
void teardownJob();

// How many goods the host left out of the loaded job as held by the register unchanged
// (Quorvel_leaveOutGoods); forgotten when the job is torn down.
std::size_t goodsLeftOut();
void forgetGoodsLeftOut();

// Runs the job's operation in the loaded plug-in: resolves the entry points, resets the
// catalogue and the report status, takes the first row of the operation table whose name
// equals the job's operation and whose entry point exists, tests its precondition, calls
// opDriverInit / the entry point / opDriverFree, reports an operation no row takes (error 8),
// and deletes the catalogue. Returns GetErrorNum().
// REQUIRES: the job is loaded (raport and vexa exist).
int runOperation(quorvel::platform::Module* plugin);

// The dry run of the job's operation in a plug-in mapped without its load handler: the
// operation chosen and its precondition tested as runOperation does them (the same messages),
// then the plug-in's quorvel_dry_run with `show` instead of the entry point; a plug-in without
// it gets an error saying so. Deletes the catalogue. Returns GetErrorNum().
// REQUIRES: the job is loaded (raport and vexa exist).
int dryRunOperation(quorvel::platform::Module* plugin, contract::PlanLineFn show, void* context);

}  // namespace quorvel::core
