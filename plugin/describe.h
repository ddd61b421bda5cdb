// Building a plug-in's description (plugin/driver_description.h) from the lists its form and
// headless configuration use, so that the two cannot differ: the keys every record shares
// (port, speed, the multiplexer, the register number) and the value lists of the others.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "plugin/driver_description.h"
#include "plugin/form_fields.h"

namespace quorvel::plugin::describe {

// A form's list as accepted values: each item's text, its code as the other spelling.
std::span<const QuorvelChoice> choices(Choices items);
// Fixed texts ("9600", "38400"; "1 - 4" with "1" as the other spelling when `aliases` is given).
std::span<const QuorvelChoice> items(std::span<const char* const> values,
                                     std::span<const char* const> aliases = {});

QuorvelConfigKey choiceKey(const char* name, std::span<const QuorvelChoice> values, const char* defaultValue,
                           const char* help, const char* refusal = nullptr);
QuorvelConfigKey switchKey(const char* name, const char* help);
QuorvelConfigKey numberKey(const char* name, long minimum, long maximum, const char* defaultValue, const char* help,
                           unsigned flags = 0);
// Text kept in a record field of `size` bytes (zero-terminated); may be empty when `minimum` is 0.
QuorvelConfigKey textKey(const char* name, std::size_t size, long minimum, const char* defaultValue,
                         const char* help);

// The keys every record shares: the serial port (a path), the speed from the form's list, the
// multiplexer (switch, type, channel up to the highest limit of its types) and the register
// number on the line.
QuorvelConfigKey portKey(std::size_t size, const char* help);
QuorvelConfigKey speedKey(std::span<const char* const> speeds);
std::vector<QuorvelConfigKey> muxKeys(Choices types);
QuorvelConfigKey registerKey();

// A text kept for the plug-in's lifetime (the description points into it).
const char* keep(std::string text);

// The description's fixed part: size and version filled in.
QuorvelDriverDescription description(const char* name, const char* summary, const char* registers);

}  // namespace quorvel::plugin::describe
