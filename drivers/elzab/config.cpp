// Configuration record of quorvel_elzab.
#include <cstring>

#include "drivers/elzab/config.h"
#include "plugin/record_io.h"

namespace quorvel::elzab {

// Every field of the record at its offset in the byte image.
constexpr auto fields = [](auto& io, auto& c) {
  io.bytes(0, c.port);
  io.bytes(250, c.align250);
  io.i32(252, c.speed);
  io.i32(256, c.timeout);
  io.i32(260, c.muxOn);
  io.i32(264, c.muxType);
  io.i32(268, c.muxChannel);
  io.i32(272, c.reserved272);
  io.i32(276, c.registerNumber);
  io.bytes(280, c.phone);
  io.bytes(530, c.password);
  io.i32(580, c.timeout1);
  io.i32(584, c.timeout2);
  io.i32(588, c.repeatCount);
  io.i32(592, c.modemOn);
  io.i32(596, c.connector);
};

Image toImage(const SUConfig& c) { return plugin::detail::writeImage<Image>(c, fields); }

SUConfig fromImage(const Image& image) { return plugin::detail::readImage<SUConfig>(image, fields); }

int setDefaultConfig(SUConfig& config) {
  config = SUConfig{};
  plugin::storeText(config.port, sizeof config.port, "COM1");
  config.speed = 9600;
  config.timeout = 3;
  config.muxOn = 0;
  config.muxType = kMuxElzab4x;
  config.muxChannel = 1;
  config.reserved272 = 1;
  config.registerNumber = 1;
  config.timeout1 = 60;
  config.timeout2 = 40;
  config.repeatCount = 4;
  config.modemOn = 0;
  config.connector = 1;
  return 0;
}

int readConfig(SUConfig& config, bool defaultsWhenMissing) {
  return plugin::detail::readRecord(config, defaultsWhenMissing, toImage, fromImage, setDefaultConfig);
}

int saveConfig(const SUConfig& config) { return plugin::saveConfigImage(toImage(config)); }

}  // namespace quorvel::elzab
