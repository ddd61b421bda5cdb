// The configuration record SUConfig of quorvel_elzab, kept in PROG_KOM.CFG (plugin/config_store.h).
//
// The file holds the record as a fixed byte image with little-endian integers; every field of
// the structure has its place in that image, alignment gaps included, so that a file written
// on any machine reads back byte for byte. toImage/fromImage convert between structure and
// image whatever the host's byte order; the static_asserts pin the layout to the image.
// The image: 600 bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/api.h"
#include "plugin/config_records.h"

namespace quorvel {

namespace elzab {

struct SUConfig {
  char port[250];               // serial port name, zero-terminated
  std::uint8_t align250[2];
  std::int32_t speed;
  std::int32_t timeout;         // written into KONFIG.TXT
  std::int32_t muxOn;
  std::int32_t muxType;
  std::int32_t muxChannel;
  std::int32_t reserved272;     // written as 1 by the defaults, never read
  std::int32_t registerNumber;  // 1 to 99
  char phone[250];              // modem telephone number, zero-terminated
  char password[50];            // modem password, zero-terminated, scrambled (scramblePassword)
  std::int32_t timeout1;
  std::int32_t timeout2;
  std::int32_t repeatCount;
  std::int32_t modemOn;
  std::int32_t connector;       // 1 or 5
};
static_assert(sizeof(SUConfig) == 600);
static_assert(offsetof(SUConfig, speed) == 252);
static_assert(offsetof(SUConfig, timeout) == 256);
static_assert(offsetof(SUConfig, muxOn) == 260);
static_assert(offsetof(SUConfig, muxType) == 264);
static_assert(offsetof(SUConfig, muxChannel) == 268);
static_assert(offsetof(SUConfig, reserved272) == 272);
static_assert(offsetof(SUConfig, registerNumber) == 276);
static_assert(offsetof(SUConfig, phone) == 280);
static_assert(offsetof(SUConfig, password) == 530);
static_assert(offsetof(SUConfig, timeout1) == 580);
static_assert(offsetof(SUConfig, timeout2) == 584);
static_assert(offsetof(SUConfig, repeatCount) == 588);
static_assert(offsetof(SUConfig, modemOn) == 592);
static_assert(offsetof(SUConfig, connector) == 596);

using Image = std::array<std::uint8_t, sizeof(SUConfig)>;
Image toImage(const SUConfig& c);
SUConfig fromImage(const Image& image);

// The password is kept scrambled: byte i of the zero-terminated text XOR (14 * i) mod 256.
// The same operation scrambles and unscrambles; it stops at the first zero byte, so the
// caller scrambles the plain text and unscrambles the stored text. Defined with the codec
// (records.cpp), which writes the password into KONFIG.TXT.
void scramblePassword(char* text, std::size_t size);

QUORVEL_API int readConfig(SUConfig& config, bool defaultsWhenMissing);
QUORVEL_API int saveConfig(const SUConfig& config);
// "COM1", 9600, timeout 3, no multiplexer (type 1, channel 1), 1 at offset 272, register 1,
// empty phone and password, modem time-outs 60 and 40, 4 repetitions, no modem, connector 1.
QUORVEL_API int setDefaultConfig(SUConfig& config);

}  // namespace elzab

}  // namespace quorvel
