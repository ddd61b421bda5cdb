// Configuration record of quorvel_posnet.
#include <cstring>

#include "drivers/posnet/config.h"
#include "plugin/record_io.h"

namespace quorvel::posnet {

// Every field of the record at its offset in the byte image.
constexpr auto fields = [](auto& io, auto& c) {
  io.bytes(0, c.port);
  io.bytes(250, c.align250);
  io.i32(252, c.speed);
  io.i32(256, c.dataBits);
  io.byte(260, c.parity);
  io.bytes(261, c.align261);
  io.i32(264, c.stopBits);
  io.i32(268, c.muxOn);
  io.i32(272, c.muxType);
  io.i32(276, c.muxChannel);
  io.i32(280, c.connectionType);
  io.bytes(284, c.ipAddress);
  io.i32(300, c.detailedLog);
};

Image toImage(const SUConfig& c) { return plugin::detail::writeImage<Image>(c, fields); }

SUConfig fromImage(const Image& image) { return plugin::detail::readImage<SUConfig>(image, fields); }

int setDefaultConfig(SUConfig& config) {
  config = SUConfig{};
  plugin::storeText(config.port, sizeof config.port, "COM1");
  config.speed = 9600;
  config.dataBits = 8;
  config.parity = 'N';
  config.stopBits = 1;
  config.muxOn = 0;
  config.muxType = kMuxElzab4x;
  config.muxChannel = 1;
  config.connectionType = kConnectionRs232;
  plugin::storeText(config.ipAddress, sizeof config.ipAddress, "10.0.0.1");
  config.detailedLog = 0;
  return 0;
}

int readConfig(SUConfig& config, bool defaultsWhenMissing) {
  return plugin::detail::readRecord(config, defaultsWhenMissing, toImage, fromImage, setDefaultConfig);
}

int saveConfig(const SUConfig& config) { return plugin::saveConfigImage(toImage(config)); }

}  // namespace quorvel::posnet
