// Configuration record of quorvel_elzab.
#include <cstring>

#include "plugin/config_records.h"
#include "plugin/record_io.h"

namespace quorvel::elzab {

using plugin::detail::Reader;
using plugin::detail::Writer;

Image toImage(const SUConfig& c) {
  Image image{};
  Writer<Image> w{image};
  w.bytes(0, c.port, sizeof c.port);
  w.bytes(250, c.align250, sizeof c.align250);
  w.i32(252, c.speed);
  w.i32(256, c.timeout);
  w.i32(260, c.muxOn);
  w.i32(264, c.muxType);
  w.i32(268, c.muxChannel);
  w.i32(272, c.reserved272);
  w.i32(276, c.registerNumber);
  w.bytes(280, c.phone, sizeof c.phone);
  w.bytes(530, c.password, sizeof c.password);
  w.i32(580, c.timeout1);
  w.i32(584, c.timeout2);
  w.i32(588, c.repeatCount);
  w.i32(592, c.modemOn);
  w.i32(596, c.connector);
  return image;
}

SUConfig fromImage(const Image& image) {
  SUConfig c{};
  const Reader<Image> r{image};
  r.bytes(0, c.port, sizeof c.port);
  r.bytes(250, c.align250, sizeof c.align250);
  c.speed = r.i32(252);
  c.timeout = r.i32(256);
  c.muxOn = r.i32(260);
  c.muxType = r.i32(264);
  c.muxChannel = r.i32(268);
  c.reserved272 = r.i32(272);
  c.registerNumber = r.i32(276);
  r.bytes(280, c.phone, sizeof c.phone);
  r.bytes(530, c.password, sizeof c.password);
  c.timeout1 = r.i32(580);
  c.timeout2 = r.i32(584);
  c.repeatCount = r.i32(588);
  c.modemOn = r.i32(592);
  c.connector = r.i32(596);
  return c;
}

void scramblePassword(char* text, std::size_t size) {
  for (std::size_t i = 0; i < size && text[i] != 0; ++i)
    text[i] = static_cast<char>(static_cast<unsigned char>(text[i]) ^ static_cast<unsigned char>((14 * i) % 256));
}

int setDefaultConfig(SUConfig& config) {
  config = SUConfig{};
  plugin::detail::copyText(config.port, sizeof config.port, "COM1");
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
