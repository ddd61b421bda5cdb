// A plug-in that only describes itself, for the tests of the host's plug-in search: it lies in
// a folder of its own, reached through QUORVEL_LIBRARY_PATH alone. Its headless configuration
// takes whatever the host lets through and prints it back.
#include <string>
#include <vector>

#include "core/plugin_contract.h"
#include "plugin/driver_description.h"

namespace {

const QuorvelChoice kColours[] = {{"red", "1"}, {"green", "2"}};
// Only what this register is known to limit; the rest stays zero (not known).
QuorvelFieldLimits limits() {
  QuorvelFieldLimits l{};
  l.size = sizeof l;
  l.nameLength = 12;
  l.pluMin = 1;
  l.pluMax = 100;
  l.packageMin = 1;
  l.packageMax = 5;
  return l;
}
const QuorvelFieldLimits kLimits = limits();
const QuorvelModel kModels[] = {{"Quorvel_Test_Alpha", 1, 100, &kLimits}};
const QuorvelConfigKey kKeys[] = {
    {"colour", QUORVEL_KEY_CHOICE, 0, "red", 0, 0, kColours, 2, "the register's colour", nullptr},
    {"level", QUORVEL_KEY_NUMBER, 0, "5", 1, 9, nullptr, 0, "how loud it beeps", nullptr},
};
const QuorvelDriverDescription kDescription = {sizeof kDescription, QUORVEL_DRIVER_DESCRIPTION_VERSION,
                                               "quorvel_test_described", "test registers found on the library path",
                                               "Test registers", 0, kModels, 1, kKeys, 2};

}  // namespace

QUORVEL_EXPORT_C const QuorvelDriverDescription* quorvel_driver_description() { return &kDescription; }

QUORVEL_EXPORT_C int quorvel_config_text(const std::vector<std::string>& settings, std::string& out) {
  out = "colour = red\nlevel = 5\n";
  for (const std::string& s : settings) out += "taken " + s + "\n";
  return 0;
}
