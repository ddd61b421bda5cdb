// What quorvel_posnet tells about itself: the models it accepts with their limits (limits.cpp)
// and the keys of its configuration.
#include <vector>

#include "core/plugin_contract.h"
#include "drivers/posnet/config_form.h"
#include "drivers/posnet/limits.h"
#include "drivers/posnet/models.h"
#include "plugin/describe.h"

namespace quorvel::posnet {
namespace {

namespace d = plugin::describe;

struct Description {
  std::vector<QuorvelModel> models;
  std::vector<QuorvelConfigKey> keys;
  QuorvelDriverDescription description;

  Description()
      : description(d::description("quorvel_posnet", "the POSNET Combo register through libposnet.so and libhlapi.so",
                                   "POSNET Combo")) {
    for (const char* name : kModelNames) {
      const QuorvelFieldLimits* limits = limitsOf(name);
      models.push_back({name, 0, limits ? limits->pluMax : 0, limits});
    }
    const std::vector<QuorvelConfigKey> mux = d::muxKeys(kPosnetMuxTypes);
    keys = {d::choiceKey("connection", d::choices(kConnectionTypes), "RS-232",
                         "how the register is reached: a serial line, or TCP (Ethernet)"),
            d::textKey(kAddressKey, kAddressTextMax + 1, 7, "10.0.0.1",
                       "the register's address for Ethernet: a.b.c.d or a.b.c.d:port (octets 0-255, port 1-65535, "
                       "6666 when not given)"),
            d::portKey(sizeof SUConfig::port, "serial port for RS-232: COM1, ttyUSB0 (as the form lists them) or a path /dev/ttyUSB0"),
            d::speedKey(kPosnetSpeeds),
            d::choiceKey("data-bits", d::items(kDataBitsItems), "8", "data bits of the serial line"),
            d::choiceKey("parity", d::items(kParityItems), "N", "parity of the serial line"),
            d::choiceKey("stop-bits", d::items(kStopBitsItems), "1", "stop bits of the serial line"),
            mux[0], mux[1], mux[2],
            d::switchKey("log", "the vendor libraries' own transmission log, for diagnostics")};
    description.models = models.data();
    description.modelCount = models.size();
    description.keys = keys.data();
    description.keyCount = keys.size();
  }
};

}  // namespace
}  // namespace quorvel::posnet

QUORVEL_EXPORT_C const QuorvelDriverDescription* quorvel_driver_description() {
  static const quorvel::posnet::Description described;
  return &described.description;
}
