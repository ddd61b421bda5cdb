// What quorvel_elcom tells about itself: the Elcom Euro models of its table, the keys of its
// configuration and the limits each model puts on a job's goods.
#include <vector>

#include "core/plugin_contract.h"
#include "drivers/elcom/config_form.h"
#include "drivers/elcom/limits.h"
#include "drivers/elcom/protocol.h"
#include "plugin/describe.h"

namespace quorvel::elcom {
namespace {

namespace d = plugin::describe;

struct Description {
  std::vector<QuorvelModel> models;
  std::vector<const char*> modelIds;
  std::vector<QuorvelConfigKey> keys;
  QuorvelDriverDescription description;

  Description() : description(d::description("quorvel_elcom", "Elcom Euro registers over a serial line",
                                             "Elcom Euro registers")) {
    for (int n = 1; n <= kModelCount; ++n) {
      const Model& m = modelByNumber(n);
      models.push_back({m.jobName, m.code, m.pluCapacity, modelLimits(n)});
    }
    for (const QuorvelModel& m : models) modelIds.push_back(m.id);
    const std::vector<QuorvelConfigKey> mux = d::muxKeys(kElcomMuxTypes);
    keys = {d::portKey(sizeof SUConfig::port, "serial port: COM1, ttyUSB0 (as the form lists them) or a path /dev/ttyUSB0"),
            d::speedKey(kElcomSpeeds), mux[0], mux[1], mux[2],
            d::numberKey("max-plu", 0, 65535, "0", "the highest PLU code, the PLU capacity of the register model"),
            d::choiceKey("model", d::items(modelIds), nullptr,
                         "the register model as the job names it: sets max-plu to its capacity"),
            d::registerKey(), d::switchKey("dump", "write a transmission dump")};
    keys[5].flags = QUORVEL_KEY_READ_ONLY;
    keys[5].refusal = "read only: the PLU capacity of the register model; set it with model=NAME";
    keys[6].flags = QUORVEL_KEY_SET_ONLY;
    description.models = models.data();
    description.modelCount = models.size();
    description.keys = keys.data();
    description.keyCount = keys.size();
  }
};

}  // namespace
}  // namespace quorvel::elcom

QUORVEL_EXPORT_C const QuorvelDriverDescription* quorvel_driver_description() {
  static const quorvel::elcom::Description described;
  return &described.description;
}
