// Configuration record of quorvel_posnet.
#include <cstring>

#include "platform/cp1250.h"

#include "drivers/posnet/config.h"
#include "plugin/record_io.h"

namespace quorvel::posnet {

// Every field of the record at its offset in the byte image.
constexpr auto fields = [](auto& io, auto& c) {
  io.bytes(0, c.port);
  io.u16(250, c.ipPort);
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

namespace {

// A decimal number of 1 to `digits` digits, nothing else; -1 otherwise.
long decimal(std::string_view s, std::size_t digits) {
  if (s.empty() || s.size() > digits) return -1;
  long n = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

}  // namespace

std::optional<std::string> checkAddress(std::string_view text) {
  std::string_view host = text;
  const std::size_t colon = text.find(':');
  if (colon != std::string_view::npos) {
    host = text.substr(0, colon);
    const long port = decimal(text.substr(colon + 1), 5);
    if (port < 1 || port > 65535)
      return std::string("Numer portu po dwukropku musi być liczbą od 1 do 65535 (adres a.b.c.d:port)."_cp);
  }
  int octets = 0;
  for (std::size_t from = 0;; ++octets) {
    const std::size_t dot = host.find('.', from);
    const long octet = decimal(host.substr(from, dot == std::string_view::npos ? std::string_view::npos : dot - from), 3);
    if (octet < 0 || octet > 255 || octets >= 4)
      return std::string("Wprowadź adres IP w postaci a.b.c.d lub a.b.c.d:port, gdzie a, b, c i d to liczby od 0 do 255."_cp);
    if (dot == std::string_view::npos) break;
    from = dot + 1;
  }
  if (octets != 3)
    return std::string("Wprowadź adres IP w postaci a.b.c.d lub a.b.c.d:port, gdzie a, b, c i d to liczby od 0 do 255."_cp);
  return std::nullopt;
}

std::string addressText(const SUConfig& c) {
  std::string text = plugin::fieldText(c.ipAddress, sizeof c.ipAddress);
  if (c.ipPort != 0 && text.find(':') == std::string::npos) text += ":" + std::to_string(c.ipPort);
  return text;
}

void storeAddress(SUConfig& c, std::string_view text) {
  c.ipPort = 0;
  const std::size_t colon = text.find(':');
  if (text.size() < sizeof c.ipAddress || colon == std::string_view::npos) {
    plugin::storeText(c.ipAddress, sizeof c.ipAddress, std::string(text));
    return;
  }
  plugin::storeText(c.ipAddress, sizeof c.ipAddress, std::string(text.substr(0, colon)));
  c.ipPort = static_cast<std::uint16_t>(decimal(text.substr(colon + 1), 5));
}

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
