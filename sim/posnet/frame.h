// The frames that carry POSNET requests between the stand-in libraries and the simulated
// register: plain functions over bytes, no I/O, shared by both sides, the tests and the fuzzer.
//
//   0x02 | length (2, LE) | request number (2, LE) | payload (length bytes) | CRC-16 (2, LE)
//
// The CRC (CCITT, polynomial 0x1021, start 0xFFFF) covers length, request number and payload.
// A payload is a list of fields, each a 2-byte little-endian length and its bytes. A request's
// first field names the command ("PLUIns"), the others are its arguments as text; an answer's
// first field is the status as decimal text, the others are the results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace quorvel::posnetsim {

using Bytes = std::vector<std::uint8_t>;
using Fields = std::vector<std::string>;

constexpr std::uint8_t kStart = 0x02;
constexpr std::size_t kHeaderSize = 5;
constexpr std::size_t kCrcSize = 2;
constexpr std::size_t kMaxPayload = 16384;
constexpr std::size_t kMaxFields = 64;

std::uint16_t crc16(std::span<const std::uint8_t> bytes);

// A whole frame around `payload` (cut to kMaxPayload).
Bytes encodeFrame(std::uint16_t requestNumber, std::span<const std::uint8_t> payload);

enum class Decode {
  kOk,           // one frame taken; `used` bytes consumed
  kNeedMore,     // a frame has begun but is not whole; nothing consumed
  kBadStart,     // the first byte cannot start a frame; `used` is 1
  kTooLong,      // the length is beyond kMaxPayload; `used` is 1
  kBadChecksum,  // the CRC does not match; `used` is 1, so the caller looks for the next start
};

struct Frame {
  std::uint16_t requestNumber = 0;
  Bytes payload;
};

// Takes the frame at the beginning of `in`, if there is one.
Decode decodeFrame(std::span<const std::uint8_t> in, Frame& out, std::size_t& used);

Bytes joinFields(const Fields& fields);
// False for a payload that does not split into whole fields or holds more than kMaxFields.
bool splitFields(std::span<const std::uint8_t> payload, Fields& out);

// Bytes as they arrive from a line or socket, handed out as frames. Bytes that cannot belong to
// a frame (a multiplexer's switching sequence, line noise) are skipped and counted.
class FrameStream {
 public:
  void append(const std::uint8_t* data, std::size_t size) { pending_.insert(pending_.end(), data, data + size); }
  // The next whole frame, if one has arrived.
  bool next(Frame& out);
  std::size_t skipped() const { return skipped_; }
  std::size_t badFrames() const { return badFrames_; }
  void clear() { pending_.clear(); }

 private:
  Bytes pending_;
  std::size_t at_ = 0;
  std::size_t skipped_ = 0;
  std::size_t badFrames_ = 0;
};

}  // namespace quorvel::posnetsim
