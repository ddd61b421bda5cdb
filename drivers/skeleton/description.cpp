// What quorvel_skeleton tells about itself: its one model, the keys of its configuration and
// the limits the model puts on a job's goods (limits.cpp). Replace them with the driver's model table and
// the keys of its record (in the order of the key table in config_form.cpp).
#include <vector>

#include "core/plugin_contract.h"
#include "drivers/skeleton/config.h"
#include "drivers/skeleton/config_form.h"
#include "drivers/skeleton/limits.h"
#include "drivers/skeleton/records.h"
#include "plugin/describe.h"

namespace quorvel::skeleton {
namespace {

namespace d = plugin::describe;

struct Description {
  QuorvelModel model{};
  std::vector<QuorvelConfigKey> keys;
  QuorvelDriverDescription description;

  Description()
      : description(d::description("quorvel_skeleton", "the skeleton driver, a template for a new one",
                                   "the simulated skeleton register")) {
    model = {kModel.jobName, kModel.code, kModel.pluCapacity, &modelLimits()};
    keys = {d::portKey(sizeof SUConfig::port, "serial port: COM1, ttyUSB0 (as the form lists them) or a path /dev/ttyUSB0"),
            d::speedKey(kSkeletonSpeeds)};
    description.models = &model;
    description.modelCount = 1;
    description.keys = keys.data();
    description.keyCount = keys.size();
  }
};

}  // namespace
}  // namespace quorvel::skeleton

QUORVEL_EXPORT_C const QuorvelDriverDescription* quorvel_driver_description() {
  static const quorvel::skeleton::Description described;
  return &described.description;
}
