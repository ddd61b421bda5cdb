// Elcom Euro link protocol: register models, frames and status texts.
//
// Plain functions over bytes, shared by the driver and the simulated register: nothing here
// does I/O, reads a clock or touches the process-wide error state. Failures are returned as
// error numbers of the error table (1007 for bytes that do not form a valid frame).
//
// A frame is: start byte 0xFE, type, payload length L (u16 little-endian), L payload bytes,
// and the sum of the payload bytes modulo 65536 (u16 little-endian). No end byte, no escaping.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel::elcom {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// Error number for bytes from the register that do not form what was expected.
inline constexpr int kBadData = 1007;

inline constexpr std::uint8_t kStartByte = 0xFE;
inline constexpr std::size_t kHeaderSize = 4;    // start, type, length
inline constexpr std::size_t kChecksumSize = 2;

enum FrameType : std::uint8_t {
  kHello = 0,    // to the register: its number
  kCommand = 1,  // to the register: model code, command, two u16 arguments
  kData = 2,     // both ways: records
  kStatus = 3,   // from the register: status byte first; from the driver: acknowledgement 0
  kEnd = 4,      // end of transfer: 1 byte 0
};

// Command codes.
enum Command : std::uint8_t {
  kClearSales = 12,
  kProgramPlu = 29,
  kProgramPackages = 38,
  kCheckShort = 129,     // connection check, models 1 to 5
  kPluCount = 152,
  kReadPlu = 157,
  kReadPluSales = 159,
  kReadPackages = 166,
  kRegisterInfo = 255,   // connection check, models 6 and 7
};

// Receive-buffer capacities of the driver (header and payload, the checksum is not stored).
inline constexpr std::size_t kCapStatus = 256;      // status answers, answers of 129 and 152
inline constexpr std::size_t kCapInfo = 100;        // answer of command 255
inline constexpr std::size_t kCapDataStatus = 9;    // status answer to a data frame
inline constexpr std::size_t kCapEnd = 7;           // answer to the end frame
inline constexpr std::size_t kCapTransfer = 4000;   // data frames of 157, 159, 166

// One row of the model table.
struct Model {
  int number;              // 0 for a job model name not in the table
  const char* jobName;     // idModelu of the job; "" for model 0
  std::uint8_t code;       // first byte of every command frame
  int pluCapacity;         // default maxPluCode
  bool longRecords;        // 9-byte barcodes, 20-byte names
  bool lineBreak;          // 15 ms break and 20 ms pause before each command exchange
  std::uint8_t checkCommand;  // 129 or 255
};

// Rows 1 to 7; a name not in the table gives the row of model 0 (code 0, capacity 0, short
// records, no line break, command 129).
const Model& modelByJobName(std::string_view jobName);
// Number 0 to 7; any other number gives the row of model 0.
const Model& modelByNumber(int number);
inline constexpr int kModelCount = 7;

// ---- Building frames -------------------------------------------------------------------

std::uint16_t checksum(ByteView payload);
Bytes buildFrame(std::uint8_t type, ByteView payload);
Bytes helloFrame(std::uint8_t registerNumber);
Bytes commandFrame(std::uint8_t modelCode, std::uint8_t command, std::uint16_t arg1, std::uint16_t arg2);
Bytes ackFrame();                       // type 3, payload 0
Bytes endFrame();                       // type 4, payload 0
Bytes statusFrame(std::uint8_t status); // the register's status answer

// ---- Receiving frames ------------------------------------------------------------------

// Takes a frame from a byte stream, one piece at a time, into a buffer of fixed capacity.
// Fails (error 1007) on a start byte other than 0xFE, on a type other than the expected one,
// and on a length whose header and payload would not fit the capacity; the checksum is read
// and kept but not judged (the register's sums are not relied upon).
class FrameReader {
 public:
  enum class State { kNeedMore, kDone, kError };

  explicit FrameReader(std::size_t capacity, std::optional<std::uint8_t> expectedType = std::nullopt);

  // Consumes bytes up to the end of the frame or the first fault; returns how many it took.
  std::size_t feed(ByteView bytes);
  std::size_t feed(std::uint8_t byte) { return feed(ByteView(&byte, 1)); }
  // How many more bytes the frame needs at least (0 once done or failed).
  std::size_t wanted() const;

  State state() const { return state_; }
  int error() const { return state_ == State::kError ? kBadData : 0; }
  std::uint8_t type() const { return stored_.size() > 1 ? stored_[1] : 0; }
  // Header and payload as stored.
  ByteView stored() const { return stored_; }
  ByteView payload() const;
  std::uint16_t receivedChecksum() const { return receivedSum_; }
  bool checksumMatches() const { return receivedSum_ == checksum(payload()); }
  void reset();

 private:
  std::size_t capacity_;
  std::optional<std::uint8_t> expected_;
  State state_ = State::kNeedMore;
  Bytes stored_;
  std::size_t length_ = 0;
  std::size_t sumBytes_ = 0;
  std::uint16_t receivedSum_ = 0;
};

// A whole frame parsed from the front of `bytes`.
struct Frame {
  std::uint8_t type = 0;
  Bytes payload;
  std::uint16_t receivedChecksum = 0;
  std::size_t size = 0;  // bytes taken from the input, checksum included
};
// Error 1007 for a bad or too long frame, and for input that ends before the frame does.
int parseFrame(ByteView bytes, std::size_t capacity, std::optional<std::uint8_t> expectedType, Frame& out);

// Payload of a command frame.
struct CommandFields {
  std::uint8_t modelCode = 0;
  std::uint8_t command = 0;
  std::uint16_t arg1 = 0;
  std::uint16_t arg2 = 0;
};
// Error 1007 unless the payload holds exactly the six bytes.
int parseCommand(ByteView payload, CommandFields& out);

// Status byte of a status frame's payload; error 1007 for an empty payload.
int parseStatus(ByteView payload, std::uint8_t& status);

// PLU count from the first two bytes of the command-152 answer; error 1007 if shorter.
int parsePluCount(ByteView payload, std::uint16_t& count);
// PLU base size (signed 16-bit at offset 38) of the command-255 answer; error 1007 if the
// payload holds fewer than 40 bytes.
inline constexpr std::size_t kInfoPluBaseOffset = 38;
int parseRegisterInfo(ByteView payload, int& pluBase);

// ---- Status texts ----------------------------------------------------------------------

// Text of a register status (windows-1250), "Nieznany błąd" for codes not in the table.
// The status byte is taken as a signed 8-bit number by callers that report it.
const char* statusText(int status);
inline int signedStatus(std::uint8_t status) { return static_cast<std::int8_t>(status); }
// "<text> (błąd nr <S>)" for the status byte taken as signed.
std::string statusMessage(std::uint8_t status);

}  // namespace quorvel::elcom
