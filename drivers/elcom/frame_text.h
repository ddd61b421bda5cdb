// The Elcom Euro link's frames told readably, for the line's trace and `quorvel dump`: the
// frame's type and what it carries (the register number of a hello, the command and its
// arguments, the PLU of a record sent, the PLU count or sales records received, the status
// and its text), from the protocol's own knowledge (protocol.h, records.h).
#pragma once

#include <cstdint>
#include <string>

#include "core/serial/frames.h"

namespace quorvel::elcom {

class FrameText : public frames::Decoder {
 public:
  std::size_t frameLength(const std::string& bytes) const override;
  // Remembers the last command sent and its model code, to tell the data that answers it.
  std::string describe(const std::string& frame, bool sent) override;

 private:
  std::uint8_t command_ = 0;
  bool longRecords_ = false;
};

// The command's name in words ("connection check"), "" for a code the protocol does not use.
const char* commandName(std::uint8_t command);

}  // namespace quorvel::elcom
