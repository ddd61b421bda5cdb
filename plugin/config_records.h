// What the configuration records of every driver plug-in share: the multiplexer type codes
// their forms offer. Each driver keeps its own record SUConfig in its folder (config.h there),
// stored in PROG_KOM.CFG through config_store.h and record_io.h.
#pragma once

#include <cstdint>

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

}  // namespace quorvel
