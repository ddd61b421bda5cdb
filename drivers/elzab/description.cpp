// What quorvel_elzab tells about itself: it drives any Elzab register WinIP reaches (the job's
// model is not looked at; its one model entry states the limits that hold for every job), and
// the keys of its configuration.
#include <vector>

#include "core/plugin_contract.h"
#include "drivers/elzab/config_form.h"
#include "drivers/elzab/limits.h"
#include "plugin/describe.h"

namespace quorvel::elzab {
namespace {

namespace d = plugin::describe;

constexpr const char* kConnectorValues[] = {"1", "5"};

struct Description {
  std::vector<QuorvelConfigKey> keys;
  QuorvelModel model{"Elzab", 0, 0, &registerLimits()};
  QuorvelDriverDescription description;

  Description() : description(d::description("quorvel_elzab", "Elzab registers through the WinIP library (libWinIP.so or WinIP.so)", "Elzab registers")) {
    description.anyModel = 1;
    description.models = &model;
    description.modelCount = 1;
    const std::vector<QuorvelConfigKey> mux = d::muxKeys(kElzabMuxTypes);
    keys = {d::portKey(sizeof SUConfig::port, "serial port, COM1 to COM4 as WinIP takes it"),
            d::speedKey(kElzabSpeeds),
            d::numberKey("timeout", 0, 180, "3", "seconds WinIP waits for the register (written into KONFIG.TXT)"),
            mux[0], mux[1], mux[2],
            d::switchKey("modem", "the register is reached through a modem"),
            d::textKey("phone", sizeof SUConfig::phone, 0, "", "the modem's telephone number"),
            d::textKey("password", sizeof SUConfig::password, 0, "", "the modem password (shown as typed, kept scrambled)"),
            d::numberKey("timeout1", 0, 180, "60", "the modem's first time-out in seconds", QUORVEL_KEY_RANGE_CONDITIONAL),
            d::numberKey("timeout2", 0, 180, "40", "the modem's second time-out in seconds", QUORVEL_KEY_RANGE_CONDITIONAL),
            d::numberKey("repeat", 0, 50, "4", "how often the modem calls again", QUORVEL_KEY_RANGE_CONDITIONAL),
            d::choiceKey("connector", d::items(kConnectorValues, kConnectors), "1", "the modem's connectors",
                         "must be 1 (connectors 1 - 4) or 5 (connectors 5 - 8)"),
            d::registerKey()};
    description.keys = keys.data();
    description.keyCount = keys.size();
  }
};

}  // namespace
}  // namespace quorvel::elzab

QUORVEL_EXPORT_C const QuorvelDriverDescription* quorvel_driver_description() {
  static const quorvel::elzab::Description described;
  return &described.description;
}
