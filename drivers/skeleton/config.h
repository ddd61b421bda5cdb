// The configuration record SUConfig of quorvel_skeleton, kept in PROG_KOM.CFG
// (plugin/config_store.h).
//
// The file holds the record as a fixed byte image with little-endian integers; every field
// has its place in that image, alignment gaps included, so that a file written on any machine
// reads back byte for byte. The static_asserts pin the layout to the image (256 bytes).
// Replace the fields after `speed` with the register's own (multiplexer, register number,
// dump, ...); every record begins with the port and the speed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/api.h"
#include "plugin/config_records.h"

namespace quorvel::skeleton {

struct SUConfig {
  char port[250];            // serial port name, zero-terminated
  std::uint8_t align250[2];  // zero in a fresh record, otherwise kept as the file held it
  std::int32_t speed;        // bits per second
};
static_assert(sizeof(SUConfig) == 256);
static_assert(offsetof(SUConfig, align250) == 250);
static_assert(offsetof(SUConfig, speed) == 252);

using Image = std::array<std::uint8_t, sizeof(SUConfig)>;
Image toImage(const SUConfig& c);
SUConfig fromImage(const Image& image);

// The plug-in's configuration functions (exported by quorvel_skeleton under these names).
// readConfig: fills the record from PROG_KOM.CFG; a missing file gives the defaults when
// defaultsWhenMissing is true and error 2 otherwise. Returns the error number.
QUORVEL_API int readConfig(SUConfig& config, bool defaultsWhenMissing);
// saveConfig: writes the record with a fresh checksum. Returns the error number.
QUORVEL_API int saveConfig(const SUConfig& config);
// setDefaultConfig: "COM1", 9600. Returns 0.
QUORVEL_API int setDefaultConfig(SUConfig& config);

}  // namespace quorvel::skeleton
