// The configuration record SUConfig of quorvel_posnet, kept in PROG_KOM.CFG (plugin/config_store.h).
//
// The file holds the record as a fixed byte image with little-endian integers; every field of
// the structure has its place in that image, alignment gaps included, so that a file written
// on any machine reads back byte for byte. toImage/fromImage convert between structure and
// image whatever the host's byte order; the static_asserts pin the layout to the image.
// The image: 304 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/api.h"
#include "plugin/config_records.h"

namespace quorvel {

namespace posnet {

inline constexpr std::int32_t kConnectionRs232 = 1;
inline constexpr std::int32_t kConnectionEthernet = 3;

struct SUConfig {
  char port[250];
  // The TCP port of an address whose text with the port does not fit ipAddress; 0: none (the
  // port is in ipAddress, or the library's default). An alignment gap, zero in records older
  // readers write, so they read ipAddress alone.
  std::uint16_t ipPort;
  std::int32_t speed;
  std::int32_t dataBits;        // 7 or 8
  char parity;                  // 'N', 'O' or 'E'
  std::uint8_t align261[3];
  std::int32_t stopBits;        // 1 or 2
  std::int32_t muxOn;
  std::int32_t muxType;
  std::int32_t muxChannel;
  std::int32_t connectionType;  // kConnectionRs232 or kConnectionEthernet
  char ipAddress[16];           // zero-terminated: "a.b.c.d" or "a.b.c.d:port" (see storeAddress)
  std::int32_t detailedLog;     // 1 = the vendor libraries write their transmission log
};
static_assert(sizeof(SUConfig) == 304);
static_assert(offsetof(SUConfig, ipPort) == 250);
static_assert(offsetof(SUConfig, speed) == 252);
static_assert(offsetof(SUConfig, dataBits) == 256);
static_assert(offsetof(SUConfig, parity) == 260);
static_assert(offsetof(SUConfig, align261) == 261);
static_assert(offsetof(SUConfig, stopBits) == 264);
static_assert(offsetof(SUConfig, muxOn) == 268);
static_assert(offsetof(SUConfig, muxType) == 272);
static_assert(offsetof(SUConfig, muxChannel) == 276);
static_assert(offsetof(SUConfig, connectionType) == 280);
static_assert(offsetof(SUConfig, ipAddress) == 284);
static_assert(offsetof(SUConfig, detailedLog) == 300);

using Image = std::array<std::uint8_t, sizeof(SUConfig)>;
Image toImage(const SUConfig& c);
SUConfig fromImage(const Image& image);

// The register's address over Ethernet, "a.b.c.d" or "a.b.c.d:port": the text of ipAddress,
// with ":ipPort" when the port is kept apart.
QUORVEL_API std::string addressText(const SUConfig& config);
// Stores an address: whole in ipAddress when it fits there (so a reader that knows only
// ipAddress reads it whole), otherwise "a.b.c.d" in ipAddress and the port in ipPort.
// REQUIRES: checkAddress(text) found nothing.
QUORVEL_API void storeAddress(SUConfig& config, std::string_view text);
// The longest address text: "255.255.255.255:65535".
inline constexpr std::size_t kAddressTextMax = 21;
// Why an address text is refused (windows-1250), the form's and `quorvel config`'s message;
// nullopt for "a.b.c.d" or "a.b.c.d:port" with octets 0 to 255 and a port 1 to 65535, in
// decimal digits only.
QUORVEL_API std::optional<std::string> checkAddress(std::string_view text);

QUORVEL_API int readConfig(SUConfig& config, bool defaultsWhenMissing);
QUORVEL_API int saveConfig(const SUConfig& config);
// "COM1", 9600, 8 data bits, parity 'N', 1 stop bit, no multiplexer (type 1, channel 1),
// RS-232, IP address "10.0.0.1", no log.
QUORVEL_API int setDefaultConfig(SUConfig& config);

}  // namespace posnet

}  // namespace quorvel
