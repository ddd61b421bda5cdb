// Frames of a serial exchange, told readably: the bytes of each direction grouped into the
// protocol's frames, each shown as one line of byte count, hexadecimal and a short decoding.
//
// Shared by the serial line's trace (rs232.h) and by `quorvel dump`, which reads a dump file
// without loading the core: everything here is inline. A driver that knows its frames gives a
// Decoder; without one, each run of bytes in one direction is one "frame", shown as text.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace quorvel::frames {

// A protocol's knowledge of its frames.
class Decoder {
 public:
  virtual ~Decoder() = default;
  // How many bytes at the front of `bytes` make one frame: 0 while more are needed. Bytes that
  // cannot start a frame are given as one piece up to the next byte that can.
  virtual std::size_t frameLength(const std::string& bytes) const = 0;
  // A short decoding of one frame (or of an incomplete one, or of bytes that are none),
  // windows-1250. `sent`: the frame went to the register. May keep state across frames (the
  // command an answer belongs to).
  virtual std::string describe(const std::string& frame, bool sent) = 0;
};

// Bytes shown in hexadecimal before a line is shortened with "...".
inline constexpr std::size_t kShortBytes = 16;

// "FE 00 01"; with `limit` non-zero, at most `limit` bytes followed by " ..." when more remain.
inline std::string hexBytes(const std::string& bytes, std::size_t limit = 0) {
  std::string out;
  char hex[4];
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (limit != 0 && i == limit) return out + " ...";
    std::snprintf(hex, sizeof hex, i == 0 ? "%02X" : " %02X", static_cast<unsigned char>(bytes[i]));
    out += hex;
  }
  return out;
}

// The bytes as text between bars, '.' for every byte that is not printable ASCII: "|OK.|".
inline std::string printable(const std::string& bytes) {
  std::string out = "|";
  for (const char c : bytes) out += (c >= 0x20 && c < 0x7F) ? c : '.';
  return out + "|";
}

// One frame's columns: the byte count, the hexadecimal bytes (shortened unless `wide`, and
// then padded so that the decodings line up) and the decoding.
inline std::string frameColumns(const std::string& bytes, const std::string& decoded, bool wide) {
  char count[24];
  std::snprintf(count, sizeof count, "%5zu  ", bytes.size());
  std::string hex = hexBytes(bytes, wide ? 0 : kShortBytes);
  if (!wide && hex.size() < kShortBytes * 3 + 3) hex.resize(kShortBytes * 3 + 3, ' ');
  return count + hex + "  " + decoded;
}

// Groups the bytes of both directions into frames. A change of direction ends the other
// direction's bytes, which form a frame (complete or not); so does flush().
class Splitter {
 public:
  using Emit = std::function<void(bool sent, const std::string& frame, const std::string& decoded)>;

  explicit Splitter(Decoder* decoder = nullptr) : decoder_(decoder) {}

  void add(bool sent, const char* bytes, std::size_t count, const Emit& emit) {
    if (count == 0) return;
    if (!pending_.empty() && sent != sent_) flush(emit);
    sent_ = sent;
    pending_.append(bytes, count);
    if (!decoder_) return;
    while (!pending_.empty()) {
      const std::size_t n = decoder_->frameLength(pending_);
      if (n == 0 || n > pending_.size()) break;
      const std::string frame = pending_.substr(0, n);
      pending_.erase(0, n);
      emit(sent_, frame, decoder_->describe(frame, sent_));
    }
  }

  void flush(const Emit& emit) {
    if (pending_.empty()) return;
    const std::string rest = std::move(pending_);
    pending_.clear();
    emit(sent_, rest, decoder_ ? decoder_->describe(rest, sent_) : printable(rest));
  }

  bool empty() const { return pending_.empty(); }

 private:
  Decoder* decoder_;
  std::string pending_;
  bool sent_ = false;
};

}  // namespace quorvel::frames
