// The configuration records SUConfig of the three driver plug-ins.
//
// Each plug-in keeps one record in "PROG_KOM.CFG" (see config_store.h). The file holds the
// record as a fixed byte image with little-endian integers; every field of the structures
// below has its place in that image, alignment gaps included, so that a file written by any
// plug-in reads back byte for byte. toImage/fromImage convert between structure and image
// whatever the host's byte order; the static_asserts pin the layout to the image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/api.h"

namespace quorvel {

// Multiplexer type codes shared by the forms of all plug-ins.
enum MuxTypeCode : std::int32_t {
  kMuxElzab4x = 1,
  kMuxFalwi = 2,
  kMuxMpx4s = 4,
  kMuxElzab8x = 8,
  kMuxElzab2mx = 16,
};

// Highest channel the forms offer for a multiplexer type: 4, 15, 8, 8, 8; any other type 1.
constexpr int muxChannelLimit(std::int32_t type) {
  switch (type) {
    case kMuxElzab4x: return 4;
    case kMuxFalwi: return 15;
    case kMuxMpx4s:
    case kMuxElzab8x:
    case kMuxElzab2mx: return 8;
    default: return 1;
  }
}

// ---------------------------------------------------------------------------------------------
// quorvel_elcom: 280 bytes.
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

// ---------------------------------------------------------------------------------------------
// quorvel_elzab: 600 bytes.
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
// caller scrambles the plain text and unscrambles the stored text.
void scramblePassword(char* text, std::size_t size);

QUORVEL_API int readConfig(SUConfig& config, bool defaultsWhenMissing);
QUORVEL_API int saveConfig(const SUConfig& config);
// "COM1", 9600, timeout 3, no multiplexer (type 1, channel 1), 1 at offset 272, register 1,
// empty phone and password, modem time-outs 60 and 40, 4 repetitions, no modem, connector 1.
QUORVEL_API int setDefaultConfig(SUConfig& config);

}  // namespace elzab

// ---------------------------------------------------------------------------------------------
// quorvel_posnet: 304 bytes.
namespace posnet {

inline constexpr std::int32_t kConnectionRs232 = 1;
inline constexpr std::int32_t kConnectionEthernet = 3;

struct SUConfig {
  char port[250];
  std::uint8_t align250[2];
  std::int32_t speed;
  std::int32_t dataBits;        // 7 or 8
  char parity;                  // 'N', 'O' or 'E'
  std::uint8_t align261[3];
  std::int32_t stopBits;        // 1 or 2
  std::int32_t muxOn;
  std::int32_t muxType;
  std::int32_t muxChannel;
  std::int32_t connectionType;  // kConnectionRs232 or kConnectionEthernet
  char ipAddress[16];           // zero-terminated
  std::int32_t detailedLog;     // 1 = the vendor libraries write their transmission log
};
static_assert(sizeof(SUConfig) == 304);
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

QUORVEL_API int readConfig(SUConfig& config, bool defaultsWhenMissing);
QUORVEL_API int saveConfig(const SUConfig& config);
// "COM1", 9600, 8 data bits, parity 'N', 1 stop bit, no multiplexer (type 1, channel 1),
// RS-232, IP address "10.0.0.1", no log.
QUORVEL_API int setDefaultConfig(SUConfig& config);

}  // namespace posnet

}  // namespace quorvel
