// Configuration record of quorvel_elcom.
#include <cstring>

#include "drivers/elcom/config.h"
#include "plugin/record_io.h"

namespace quorvel::elcom {

namespace {
std::int32_t g_pluCapacity = 0;
}

void setModelPluCapacity(std::int32_t capacity) { g_pluCapacity = capacity; }

// Every field of the record at its offset in the byte image.
constexpr auto fields = [](auto& io, auto& c) {
  io.bytes(0, c.port);
  io.bytes(250, c.align250);
  io.i32(252, c.speed);
  io.i32(256, c.muxOn);
  io.i32(260, c.muxType);
  io.i32(264, c.muxChannel);
  io.i32(268, c.maxPluCode);
  io.i32(272, c.registerNumber);
  io.i32(276, c.binDump);
};

Image toImage(const SUConfig& c) { return plugin::detail::writeImage<Image>(c, fields); }

SUConfig fromImage(const Image& image) { return plugin::detail::readImage<SUConfig>(image, fields); }

int setDefaultConfig(SUConfig& config) {
  config = SUConfig{};
  plugin::storeText(config.port, sizeof config.port, "COM1");
  config.speed = 9600;
  config.muxOn = 0;
  config.muxType = kMuxElzab4x;
  config.muxChannel = 1;
  config.maxPluCode = g_pluCapacity;
  config.registerNumber = 1;
  config.binDump = 0;
  return 0;
}

int readConfig(SUConfig& config, bool defaultsWhenMissing) {
  return plugin::detail::readRecord(config, defaultsWhenMissing, toImage, fromImage, setDefaultConfig);
}

int saveConfig(const SUConfig& config) { return plugin::saveConfigImage(toImage(config)); }

}  // namespace quorvel::elcom
