#include "drivers/elcom/protocol.h"

#include <algorithm>
#include <cstdio>

#include "platform/cp1250.h"

namespace quorvel::elcom {

namespace {

constexpr Model kModels[kModelCount + 1] = {
    {0, "", 0, 0, false, false, kCheckShort},
    {1, "Quorvel_Elcom_Euro500T2", 10, 2000, false, false, kCheckShort},
    {2, "Quorvel_Elcom_Euro500T10", 11, 10000, false, false, kCheckShort},
    {3, "Quorvel_Elcom_Euro500TX2", 13, 2000, false, false, kCheckShort},
    {4, "Quorvel_Elcom_Euro500TX10", 14, 10000, false, false, kCheckShort},
    {5, "Quorvel_Elcom_EuroSmart", 18, 2000, false, false, kCheckShort},
    {6, "Quorvel_Elcom_Euro2100TX8", 23, 8000, true, true, kRegisterInfo},
    {7, "Quorvel_Elcom_Euro2100TX27", 23, 27000, true, true, kRegisterInfo},
};

void appendU16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v & 0xFF));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

}  // namespace

const Model& modelByJobName(std::string_view jobName) {
  for (int i = 1; i <= kModelCount; ++i)
    if (jobName == kModels[i].jobName) return kModels[i];
  return kModels[0];
}

const Model& modelByNumber(int number) {
  return number >= 1 && number <= kModelCount ? kModels[number] : kModels[0];
}

std::uint16_t checksum(ByteView payload) {
  std::uint16_t sum = 0;
  for (std::uint8_t b : payload) sum = static_cast<std::uint16_t>(sum + b);
  return sum;
}

Bytes buildFrame(std::uint8_t type, ByteView payload) {
  Bytes f;
  f.reserve(kHeaderSize + payload.size() + kChecksumSize);
  f.push_back(kStartByte);
  f.push_back(type);
  appendU16(f, static_cast<std::uint16_t>(payload.size()));
  f.insert(f.end(), payload.begin(), payload.end());
  appendU16(f, checksum(payload));
  return f;
}

Bytes helloFrame(std::uint8_t registerNumber) {
  const std::uint8_t p[1] = {registerNumber};
  return buildFrame(kHello, p);
}

Bytes commandFrame(std::uint8_t modelCode, std::uint8_t command, std::uint16_t arg1, std::uint16_t arg2) {
  Bytes p{modelCode, command};
  appendU16(p, arg1);
  appendU16(p, arg2);
  return buildFrame(kCommand, p);
}

Bytes ackFrame() { return statusFrame(0); }

Bytes endFrame() {
  const std::uint8_t p[1] = {0};
  return buildFrame(kEnd, p);
}

Bytes statusFrame(std::uint8_t status) {
  const std::uint8_t p[1] = {status};
  return buildFrame(kStatus, p);
}

// ---- FrameReader -------------------------------------------------------------------------

FrameReader::FrameReader(std::size_t capacity, std::optional<std::uint8_t> expectedType)
    : capacity_(capacity), expected_(expectedType) {
  stored_.reserve(capacity < 4096 ? capacity : 4096);
}

void FrameReader::reset() {
  state_ = State::kNeedMore;
  stored_.clear();
  length_ = 0;
  sumBytes_ = 0;
  receivedSum_ = 0;
}

ByteView FrameReader::payload() const {
  if (stored_.size() <= kHeaderSize) return {};
  return ByteView(stored_).subspan(kHeaderSize);
}

std::size_t FrameReader::wanted() const {
  if (state_ != State::kNeedMore) return 0;
  if (stored_.size() < kHeaderSize) return kHeaderSize - stored_.size() + kChecksumSize;
  return kHeaderSize + length_ - stored_.size() + (kChecksumSize - sumBytes_);
}

std::size_t FrameReader::feed(ByteView bytes) {
  std::size_t used = 0;
  while (used < bytes.size() && state_ == State::kNeedMore) {
    const std::size_t have = stored_.size();
    if (have < kHeaderSize) {
      const std::uint8_t b = bytes[used++];
      // A frame too long for the buffer is refused as soon as its length is known, before any
      // of its payload is stored.
      if ((have == 0 && b != kStartByte) || (have == 1 && expected_ && b != *expected_) ||
          kHeaderSize > capacity_) {
        state_ = State::kError;
        break;
      }
      stored_.push_back(b);
      if (stored_.size() == kHeaderSize) {
        length_ = stored_[2] | (static_cast<std::size_t>(stored_[3]) << 8);
        if (kHeaderSize + length_ > capacity_) state_ = State::kError;
      }
    } else if (have < kHeaderSize + length_) {
      const std::size_t take = std::min(kHeaderSize + length_ - have, bytes.size() - used);
      const auto from = bytes.begin() + static_cast<std::ptrdiff_t>(used);
      stored_.insert(stored_.end(), from, from + static_cast<std::ptrdiff_t>(take));
      used += take;
    } else {
      const std::uint8_t b = bytes[used++];
      receivedSum_ = static_cast<std::uint16_t>(receivedSum_ | (b << (8 * sumBytes_)));
      if (++sumBytes_ == kChecksumSize) state_ = State::kDone;
    }
  }
  return used;
}

int parseFrame(ByteView bytes, std::size_t capacity, std::optional<std::uint8_t> expectedType, Frame& out) {
  FrameReader r(capacity, expectedType);
  const std::size_t used = r.feed(bytes);
  if (r.state() != FrameReader::State::kDone) return kBadData;
  out.type = r.type();
  const ByteView p = r.payload();
  out.payload.assign(p.begin(), p.end());
  out.receivedChecksum = r.receivedChecksum();
  out.size = used;
  return 0;
}

int parseCommand(ByteView payload, CommandFields& out) {
  if (payload.size() != 6) return kBadData;
  out.modelCode = payload[0];
  out.command = payload[1];
  out.arg1 = static_cast<std::uint16_t>(payload[2] | (payload[3] << 8));
  out.arg2 = static_cast<std::uint16_t>(payload[4] | (payload[5] << 8));
  return 0;
}

int parseStatus(ByteView payload, std::uint8_t& status) {
  if (payload.empty()) return kBadData;
  status = payload[0];
  return 0;
}

int parsePluCount(ByteView payload, std::uint16_t& count) {
  if (payload.size() < 2) return kBadData;
  count = static_cast<std::uint16_t>(payload[0] | (payload[1] << 8));
  return 0;
}

int parseRegisterInfo(ByteView payload, int& pluBase) {
  if (payload.size() < kInfoPluBaseOffset + 2) return kBadData;
  pluBase = static_cast<std::int16_t>(payload[kInfoPluBaseOffset] | (payload[kInfoPluBaseOffset + 1] << 8));
  return 0;
}

// ---- Status texts ------------------------------------------------------------------------

const char* statusText(int status) {
  switch (status) {
    case 1: return "Błąd komunikacji"_cp;
    case 2: return "Próba wykonania zmiany stawki VAT"_cp;
    case 3: return "Otwarty paragon uniemożliwia połączenie z kasą"_cp;
    case 4: return "Próba zaprogramowania towaru z niezdefiniowaną stawką VAT"_cp;
    case 5: return "Próba zaprogramowania towaru z niezdefiniowaną grupą towarową"_cp;
    case 6: return "Próba zaprogramowania towaru z niezdefiniowaną jednostką miary"_cp;
    case 7: return "Ilość poza zakresem"_cp;
    case 8: return "Nieprawidłowa cena"_cp;
    case 9: return "Online sale not allowed in current ECR mode!";
    case 10: return "Polecenie jest nieprawidłowe lub niedozwolone w obecnym trybie pracy kasy fiskalnej"_cp;
    case 11: return "Nieprawidłowy kod PLU"_cp;
    case 12: return "Not right hexadecimal sign code (name of PLU or number of credit card).";
    case 13: return "Payment not allowed!";
    case 14: return "Payment type not allowed!";
    case 15:
      return "Currency payment is out of range or not allowed type of currency because ECR is in wrong Euro phase";
    case 16: return "Not started sale! Command not allowed!!";
    case 17: return "Link out";
    case 18: return "Zdublowana nazwa towaru"_cp;
    case 19: return "Nie można zrealizować polecenia, należy wykonać raport dobowy"_cp;
    case 26: return "Nieprawidłowy kod kreskowy"_cp;
    default: return "Nieznany błąd"_cp;
  }
}

std::string statusMessage(std::uint8_t status) {
  const int s = signedStatus(status);
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, " (błąd nr %d)"_cp, s);
  return std::string(statusText(s)) + suffix;
}

}  // namespace quorvel::elcom
