#include "sim/posnet/frame.h"

#include <algorithm>

namespace quorvel::posnetsim {

std::uint16_t crc16(std::span<const std::uint8_t> bytes) {
  std::uint16_t crc = 0xFFFF;
  for (std::uint8_t b : bytes) {
    crc ^= static_cast<std::uint16_t>(b << 8);
    for (int i = 0; i < 8; ++i)
      crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}

Bytes encodeFrame(std::uint16_t requestNumber, std::span<const std::uint8_t> payload) {
  const std::size_t n = std::min(payload.size(), kMaxPayload);
  Bytes f;
  f.reserve(kHeaderSize + n + kCrcSize);
  f.push_back(kStart);
  f.push_back(static_cast<std::uint8_t>(n));
  f.push_back(static_cast<std::uint8_t>(n >> 8));
  f.push_back(static_cast<std::uint8_t>(requestNumber));
  f.push_back(static_cast<std::uint8_t>(requestNumber >> 8));
  f.insert(f.end(), payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(n));
  const std::uint16_t crc = crc16(std::span<const std::uint8_t>(f).subspan(1));
  f.push_back(static_cast<std::uint8_t>(crc));
  f.push_back(static_cast<std::uint8_t>(crc >> 8));
  return f;
}

Decode decodeFrame(std::span<const std::uint8_t> in, Frame& out, std::size_t& used) {
  used = 0;
  if (in.empty()) return Decode::kNeedMore;
  if (in[0] != kStart) {
    used = 1;
    return Decode::kBadStart;
  }
  if (in.size() < 3) return Decode::kNeedMore;
  const std::size_t n = static_cast<std::size_t>(in[1]) | static_cast<std::size_t>(in[2]) << 8;
  if (n > kMaxPayload) {
    used = 1;
    return Decode::kTooLong;
  }
  const std::size_t total = kHeaderSize + n + kCrcSize;
  if (in.size() < total) return Decode::kNeedMore;
  const std::uint16_t crc = crc16(in.subspan(1, kHeaderSize - 1 + n));
  const std::uint16_t got = static_cast<std::uint16_t>(in[total - 2] | in[total - 1] << 8);
  if (crc != got) {
    used = 1;
    return Decode::kBadChecksum;
  }
  out.requestNumber = static_cast<std::uint16_t>(in[3] | in[4] << 8);
  out.payload.assign(in.begin() + kHeaderSize, in.begin() + static_cast<std::ptrdiff_t>(kHeaderSize + n));
  used = total;
  return Decode::kOk;
}

Bytes joinFields(const Fields& fields) {
  Bytes p;
  for (const std::string& f : fields) {
    const std::size_t n = std::min<std::size_t>(f.size(), 0xFFFF);
    p.push_back(static_cast<std::uint8_t>(n));
    p.push_back(static_cast<std::uint8_t>(n >> 8));
    p.insert(p.end(), f.begin(), f.begin() + static_cast<std::ptrdiff_t>(n));
  }
  return p;
}

bool splitFields(std::span<const std::uint8_t> payload, Fields& out) {
  out.clear();
  std::size_t at = 0;
  while (at < payload.size()) {
    if (payload.size() - at < 2 || out.size() == kMaxFields) return false;
    const std::size_t n = static_cast<std::size_t>(payload[at]) | static_cast<std::size_t>(payload[at + 1]) << 8;
    at += 2;
    if (payload.size() - at < n) return false;
    out.emplace_back(reinterpret_cast<const char*>(payload.data() + at), n);
    at += n;
  }
  return true;
}

bool FrameStream::next(Frame& out) {
  for (;;) {
    std::size_t used = 0;
    const Decode d = decodeFrame(std::span<const std::uint8_t>(pending_).subspan(at_), out, used);
    at_ += used;
    if (d == Decode::kOk) break;
    if (d == Decode::kNeedMore) {
      // A stray start byte (a multiplexer's channel 2, noise) may announce a length that never
      // comes: a whole frame found further on wins over waiting for it.
      for (std::size_t j = at_ + 1; j < pending_.size(); ++j) {
        if (pending_[j] != kStart) continue;
        std::size_t u = 0;
        if (decodeFrame(std::span<const std::uint8_t>(pending_).subspan(j), out, u) == Decode::kOk) {
          skipped_ += j - at_;
          at_ = j + u;
          if (at_ == pending_.size()) {
            pending_.clear();
            at_ = 0;
          }
          return true;
        }
      }
      // Keep only the unfinished frame, so the buffer never grows with skipped bytes.
      if (at_ > 0) {
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at_));
        at_ = 0;
      }
      return false;
    }
    ++skipped_;
    if (d == Decode::kBadChecksum || d == Decode::kTooLong) ++badFrames_;
  }
  if (at_ == pending_.size()) {
    pending_.clear();
    at_ = 0;
  }
  return true;
}

}  // namespace quorvel::posnetsim
