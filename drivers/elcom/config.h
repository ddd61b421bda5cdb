// The configuration record SUConfig of quorvel_elcom, kept in PROG_KOM.CFG (plugin/config_store.h).
//
// The file holds the record as a fixed byte image with little-endian integers; every field of
// the structure has its place in that image, alignment gaps included, so that a file written
// on any machine reads back byte for byte. toImage/fromImage convert between structure and
// image whatever the host's byte order; the static_asserts pin the layout to the image.
// The image: 280 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/api.h"
#include "plugin/config_records.h"

namespace quorvel {

namespace elcom {

struct SUConfig {
  char port[250];               // serial port name, zero-terminated
  std::uint8_t align250[2];     // zero in a fresh record, otherwise kept as the file held it
  std::int32_t speed;           // bits per second
  std::int32_t muxOn;           // 1 = reached through a line multiplexer
  std::int32_t muxType;         // MuxTypeCode
  std::int32_t muxChannel;      // from 1
  std::int32_t maxPluCode;      // highest PLU code of the register's goods base
  std::int32_t registerNumber;  // 1 to 99
  std::int32_t binDump;         // 1 = transmission dump on
};
static_assert(sizeof(SUConfig) == 280);
static_assert(offsetof(SUConfig, align250) == 250);
static_assert(offsetof(SUConfig, speed) == 252);
static_assert(offsetof(SUConfig, muxOn) == 256);
static_assert(offsetof(SUConfig, muxType) == 260);
static_assert(offsetof(SUConfig, muxChannel) == 264);
static_assert(offsetof(SUConfig, maxPluCode) == 268);
static_assert(offsetof(SUConfig, registerNumber) == 272);
static_assert(offsetof(SUConfig, binDump) == 276);

using Image = std::array<std::uint8_t, sizeof(SUConfig)>;
Image toImage(const SUConfig& c);
SUConfig fromImage(const Image& image);

// The default of maxPluCode is the PLU capacity of the register model the job names; the
// plug-in sets it when it has identified the model, before the record is read.
void setModelPluCapacity(std::int32_t capacity);
std::int32_t modelPluCapacity();

// The plug-in's configuration functions (exported by quorvel_elcom under these names).
// readConfig: fills the record from PROG_KOM.CFG; a missing file gives the defaults when
// defaultsWhenMissing is true and error 2 otherwise. Returns the error number.
QUORVEL_API int readConfig(SUConfig& config, bool defaultsWhenMissing);
// saveConfig: writes the record with a fresh checksum. Returns the error number.
QUORVEL_API int saveConfig(const SUConfig& config);
// setDefaultConfig: "COM1", 9600, no multiplexer (type 1, channel 1), the model's PLU
// capacity, register 1, no dump. Returns 0.
QUORVEL_API int setDefaultConfig(SUConfig& config);

}  // namespace elcom

}  // namespace quorvel
