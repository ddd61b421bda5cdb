// Configuration record of quorvel_posnet.
#include <cstring>

#include "plugin/config_records.h"
#include "plugin/record_io.h"

namespace quorvel::posnet {

using plugin::detail::Reader;
using plugin::detail::Writer;

Image toImage(const SUConfig& c) {
  Image image{};
  Writer<Image> w{image};
  w.bytes(0, c.port, sizeof c.port);
  w.bytes(250, c.align250, sizeof c.align250);
  w.i32(252, c.speed);
  w.i32(256, c.dataBits);
  w.bytes(260, &c.parity, 1);
  w.bytes(261, c.align261, sizeof c.align261);
  w.i32(264, c.stopBits);
  w.i32(268, c.muxOn);
  w.i32(272, c.muxType);
  w.i32(276, c.muxChannel);
  w.i32(280, c.connectionType);
  w.bytes(284, c.ipAddress, sizeof c.ipAddress);
  w.i32(300, c.detailedLog);
  return image;
}

SUConfig fromImage(const Image& image) {
  SUConfig c{};
  const Reader<Image> r{image};
  r.bytes(0, c.port, sizeof c.port);
  r.bytes(250, c.align250, sizeof c.align250);
  c.speed = r.i32(252);
  c.dataBits = r.i32(256);
  r.bytes(260, &c.parity, 1);
  r.bytes(261, c.align261, sizeof c.align261);
  c.stopBits = r.i32(264);
  c.muxOn = r.i32(268);
  c.muxType = r.i32(272);
  c.muxChannel = r.i32(276);
  c.connectionType = r.i32(280);
  r.bytes(284, c.ipAddress, sizeof c.ipAddress);
  c.detailedLog = r.i32(300);
  return c;
}

int setDefaultConfig(SUConfig& config) {
  config = SUConfig{};
  plugin::detail::copyText(config.port, sizeof config.port, "COM1");
  config.speed = 9600;
  config.dataBits = 8;
  config.parity = 'N';
  config.stopBits = 1;
  config.muxOn = 0;
  config.muxType = kMuxElzab4x;
  config.muxChannel = 1;
  config.connectionType = kConnectionRs232;
  plugin::detail::copyText(config.ipAddress, sizeof config.ipAddress, "10.0.0.1");
  config.detailedLog = 0;
  return 0;
}

int readConfig(SUConfig& config, bool defaultsWhenMissing) {
  return plugin::detail::readRecord(config, defaultsWhenMissing, toImage, fromImage, setDefaultConfig);
}

int saveConfig(const SUConfig& config) { return plugin::saveConfigImage(toImage(config)); }

}  // namespace quorvel::posnet
