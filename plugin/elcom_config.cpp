// Configuration record of quorvel_elcom.
#include <cstring>

#include "plugin/config_records.h"
#include "plugin/record_io.h"

namespace quorvel::elcom {

using plugin::detail::Reader;
using plugin::detail::Writer;

namespace {
std::int32_t g_pluCapacity = 0;
}

void setModelPluCapacity(std::int32_t capacity) { g_pluCapacity = capacity; }
std::int32_t modelPluCapacity() { return g_pluCapacity; }

Image toImage(const SUConfig& c) {
  Image image{};
  Writer<Image> w{image};
  w.bytes(0, c.port, sizeof c.port);
  w.bytes(250, c.align250, sizeof c.align250);
  w.i32(252, c.speed);
  w.i32(256, c.muxOn);
  w.i32(260, c.muxType);
  w.i32(264, c.muxChannel);
  w.i32(268, c.maxPluCode);
  w.i32(272, c.registerNumber);
  w.i32(276, c.binDump);
  return image;
}

SUConfig fromImage(const Image& image) {
  SUConfig c{};
  const Reader<Image> r{image};
  r.bytes(0, c.port, sizeof c.port);
  r.bytes(250, c.align250, sizeof c.align250);
  c.speed = r.i32(252);
  c.muxOn = r.i32(256);
  c.muxType = r.i32(260);
  c.muxChannel = r.i32(264);
  c.maxPluCode = r.i32(268);
  c.registerNumber = r.i32(272);
  c.binDump = r.i32(276);
  return c;
}

int setDefaultConfig(SUConfig& config) {
  config = SUConfig{};
  plugin::detail::copyText(config.port, sizeof config.port, "COM1");
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
