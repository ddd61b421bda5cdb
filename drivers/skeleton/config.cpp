// Configuration record of quorvel_skeleton.
#include "drivers/skeleton/config.h"

#include "plugin/record_io.h"

namespace quorvel::skeleton {

// Every field of the record at its offset in the byte image, for both directions.
constexpr auto fields = [](auto& io, auto& c) {
  io.bytes(0, c.port);
  io.bytes(250, c.align250);
  io.i32(252, c.speed);
};

Image toImage(const SUConfig& c) { return plugin::detail::writeImage<Image>(c, fields); }

SUConfig fromImage(const Image& image) { return plugin::detail::readImage<SUConfig>(image, fields); }

int setDefaultConfig(SUConfig& config) {
  config = SUConfig{};
  plugin::storeText(config.port, sizeof config.port, "COM1");
  config.speed = 9600;
  return 0;
}

int readConfig(SUConfig& config, bool defaultsWhenMissing) {
  return plugin::detail::readRecord(config, defaultsWhenMissing, toImage, fromImage, setDefaultConfig);
}

int saveConfig(const SUConfig& config) { return plugin::saveConfigImage(toImage(config)); }

}  // namespace quorvel::skeleton
