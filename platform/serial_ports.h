// The serial lines of this machine: which device nodes are serial lines, and who owns them.
// The configuration forms take the names from here through ListSerialPorts (serial_backend.h).
#pragma once

#include <string>
#include <vector>

#include "platform/api.h"

namespace quorvel::platform {

// Names under /dev of the serial lines: first the 8250 ports (ttyS*) that have a UART behind
// them, in natural order (ttyS2 before ttyS10), then USB, ACM and other adapters by name.
QUORVEL_API std::vector<std::string> SerialLineNodes();

// The name of the group that owns a file or device node ("dialout"); the number when the
// group has no name; "" when the node cannot be looked at.
QUORVEL_API std::string DeviceGroup(const std::string& path);

}  // namespace quorvel::platform
