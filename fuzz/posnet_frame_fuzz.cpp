// libFuzzer target: bytes on the line between the POSNET stand-in libraries and the simulated
// register, through the frame codec both sides read them with. The decoder, the field splitter
// and the stream that skips noise must stay within their buffers, never hang, and give back
// exactly the frames that were on the line.
//
// The codec is plain functions without further dependencies; this target links its library,
// posnet_frame.
#include <cstddef>
#include <cstdint>
#include <span>

#include "sim/posnet/frame.h"

using namespace quorvel::posnetsim;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);

  // Frame by frame from the start, as the decoder is called: a frame taken is the very bytes
  // consumed, and its fields join back to its payload.
  std::size_t at = 0;
  while (at < size) {
    Frame f;
    std::size_t used = 0;
    const Decode d = decodeFrame(input.subspan(at), f, used);
    if (d == Decode::kNeedMore) break;
    if (used == 0 || used > size - at) __builtin_trap();
    if (d == Decode::kOk) {
      const Bytes again = encodeFrame(f.requestNumber, f.payload);
      if (again.size() != used || !std::equal(again.begin(), again.end(), input.begin() + static_cast<std::ptrdiff_t>(at)))
        __builtin_trap();
      Fields fields;
      if (splitFields(f.payload, fields)) {
        if (fields.size() > kMaxFields || joinFields(fields) != f.payload) __builtin_trap();
      }
    }
    at += used;
  }

  // The same bytes fed to a stream in odd pieces: every frame it hands out is whole and sound.
  FrameStream stream;
  std::size_t piece = 1, frames = 0, payloadBytes = 0;
  for (at = 0; at < size;) {
    const std::size_t n = std::min(piece, size - at);
    stream.append(data + at, n);
    at += n;
    piece = piece * 3 % 17 + 1;
    Frame f;
    while (stream.next(f)) {
      ++frames;
      payloadBytes += f.payload.size();
      if (f.payload.size() > kMaxPayload) __builtin_trap();
    }
  }
  if (payloadBytes + frames * (kHeaderSize + kCrcSize) > size) __builtin_trap();

  // Fields straight from the input, as a payload.
  Fields fields;
  if (splitFields(input, fields) && joinFields(fields) != Bytes(input.begin(), input.end())) __builtin_trap();
  return 0;
}
