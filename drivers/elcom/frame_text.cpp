#include "drivers/elcom/frame_text.h"

#include <cstdio>

#include "drivers/elcom/protocol.h"
#include "drivers/elcom/records.h"

namespace quorvel::elcom {

namespace {

// Commands of models 6 and 7 (long records) carry this model code.
constexpr std::uint8_t kLongRecordModelCode = 23;

std::uint16_t u16(const std::string& b, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | (static_cast<unsigned char>(b[at + 1]) << 8));
}

std::string format(const char* fmt, long a, long b = 0, long c = 0) {
  char text[160];
  std::snprintf(text, sizeof text, fmt, a, b, c);
  return text;
}

// What a data frame carries, by the command it belongs to.
std::string describeData(const std::string& payload, bool sent, std::uint8_t command, bool longRecords) {
  const std::size_t n = payload.size();
  if (sent) {
    if (command == kProgramPlu && n == sentPluSize(longRecords))
      return format("data: PLU %ld (record %ld)", u16(payload, 2), u16(payload, 0));
    if (command == kProgramPackages) return "data: package prices";
    if (command == kClearSales) return "data: sales clearing";
    return format("data: %ld bytes", static_cast<long>(n));
  }
  switch (command) {
    case kPluCount:
      if (n >= 2) return format("data: PLU count %ld", u16(payload, 0));
      break;
    case kRegisterInfo:
      if (n >= kInfoPluBaseOffset + 2)
        return format("data: register information, PLU base %ld", static_cast<std::int16_t>(u16(payload, kInfoPluBaseOffset)));
      break;
    case kReadPluSales: {
      const std::size_t size = pluSalesSize(longRecords);
      if (n >= kTransferPrefix && (n - kTransferPrefix) % size == 0 && n > kTransferPrefix) {
        const std::size_t records = (n - kTransferPrefix) / size;
        return format("data: %ld PLU sales records, PLU %ld to %ld", static_cast<long>(records),
                      u16(payload, kTransferPrefix) + 1L, u16(payload, kTransferPrefix + (records - 1) * size) + 1L);
      }
      break;
    }
    case kReadPlu: {
      const std::size_t size = pluDefinitionSize(longRecords);
      if (n >= kTransferPrefix && (n - kTransferPrefix) % size == 0)
        return format("data: %ld PLU definitions", static_cast<long>((n - kTransferPrefix) / size));
      break;
    }
    case kReadPackages: {
      const std::size_t size = packageSize(longRecords);
      if (n % size == 0) return format("data: %ld packages", static_cast<long>(n / size));
      break;
    }
    default:
      break;
  }
  return format("data: %ld bytes", static_cast<long>(n));
}

}  // namespace

const char* commandName(std::uint8_t command) {
  switch (command) {
    case kClearSales: return "clear sales";
    case kProgramPlu: return "program PLUs";
    case kProgramPackages: return "program packages";
    case kCheckShort: return "connection check";
    case kPluCount: return "PLU count";
    case kReadPlu: return "read PLUs";
    case kReadPluSales: return "read PLU sales";
    case kReadPackages: return "read packages";
    case kRegisterInfo: return "register information";
    default: return "";
  }
}

std::size_t FrameText::frameLength(const std::string& bytes) const {
  if (bytes.empty()) return 0;
  if (static_cast<unsigned char>(bytes[0]) != kStartByte) {
    // Bytes before the next start byte are no frame; without one, wait for the direction's end.
    const std::size_t next = bytes.find(static_cast<char>(kStartByte));
    return next == std::string::npos ? 0 : next;
  }
  if (bytes.size() < kHeaderSize) return 0;
  const std::size_t whole = kHeaderSize + u16(bytes, 2) + kChecksumSize;
  return bytes.size() >= whole ? whole : 0;
}

std::string FrameText::describe(const std::string& frame, bool sent) {
  if (frame.empty() || static_cast<unsigned char>(frame[0]) != kStartByte) return "no frame " + frames::printable(frame);
  if (frame.size() < kHeaderSize + kChecksumSize || frame.size() < kHeaderSize + u16(frame, 2) + kChecksumSize)
    return format("incomplete frame (%ld bytes)", static_cast<long>(frame.size()));
  const std::uint8_t type = static_cast<std::uint8_t>(frame[1]);
  const std::string payload = frame.substr(kHeaderSize, u16(frame, 2));
  const ByteView view(reinterpret_cast<const std::uint8_t*>(payload.data()), payload.size());
  std::string text;
  switch (type) {
    case kHello:
      text = payload.empty() ? "hello" : format("hello, register %ld", static_cast<unsigned char>(payload[0]));
      break;
    case kCommand: {
      CommandFields c;
      if (parseCommand(view, c) != 0) {
        text = format("command frame of %ld bytes", static_cast<long>(payload.size()));
        break;
      }
      command_ = c.command;
      longRecords_ = c.modelCode == kLongRecordModelCode;
      const char* name = commandName(c.command);
      text = format("command %ld", c.command) + (*name ? std::string(" ") + name : std::string()) +
             format(", model code %ld, arguments %ld, %ld", c.modelCode, c.arg1, c.arg2);
      break;
    }
    case kData:
      text = describeData(payload, sent, command_, longRecords_);
      break;
    case kStatus:
      if (payload.empty()) {
        text = "status, empty";
      } else if (sent) {
        text = payload[0] == 0 ? "acknowledged" : format("status %ld", static_cast<unsigned char>(payload[0]));
      } else {
        const int status = signedStatus(static_cast<std::uint8_t>(payload[0]));
        text = status == 0 ? "status 0, ready" : format("status %ld \"", status) + statusText(status) + "\"";
      }
      break;
    case kEnd:
      text = "end of transfer";
      break;
    default:
      text = format("frame of type %ld", type);
      break;
  }
  const std::size_t sumAt = kHeaderSize + payload.size();
  if (u16(frame, sumAt) != checksum(view)) text += ", checksum wrong";
  return text;
}

}  // namespace quorvel::elcom
