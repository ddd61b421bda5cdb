// The serial lines of this machine: which device nodes are serial lines, and what a person
// choosing a port needs to know about each (its stable name, whether this user may open it,
// whether another program has it). The configuration forms take the names from here through
// ListSerialPorts (serial_backend.h); `quorvel ports` shows the whole picture.
#pragma once

#include <string>
#include <vector>

#include "platform/api.h"

namespace quorvel::platform {

// Names under /dev of the serial lines: first the 8250 ports (ttyS*) that have a UART behind
// them, in natural order (ttyS2 before ttyS10), then USB, ACM and other adapters by name.
QUORVEL_API std::vector<std::string> SerialLineNodes();
// The same over other directories in place of /dev and /sys/class/tty (tests).
QUORVEL_API std::vector<std::string> SerialLineNodesIn(const std::string& dev, const std::string& sysTty);

// The name a configuration takes for the node `node` (a name under /dev): "COMn" for ttyS(n-1),
// the node's own name otherwise. SerialDevicePath(SerialPortName(node)) is "/dev/" + node.
QUORVEL_API std::string SerialPortName(const std::string& node);

struct SerialLineInfo {
  std::string device;               // "/dev/ttyUSB0"
  std::vector<std::string> byId;    // /dev/serial/by-id names that lead to it (stable across
                                    // reboots and replugging, unlike ttyUSB numbers)
  std::string group;                // AccessGroup: the group to join to open it, or ""
  bool mayOpen = false;             // this user may read and write it
  std::vector<std::string> holders; // "PID NAME" of other processes that have it open or
                                    // locked, as far as this user may see them
};

// Every line of SerialLineNodes() with its details. Nothing is opened: opening a line raises
// its modem lines, which a register or a modem on it may take as a call.
QUORVEL_API std::vector<SerialLineInfo> ScanSerialLines();

// The details of the one line at `device` (a path; any terminal node, a pseudo-terminal too,
// not only those SerialLineNodes lists): whether this user may open it, the group to join,
// and its holders: processes with it open, with an advisory lock on it, or named by its UUCP
// lock file (register_lock.h). Nothing is opened. byId stays empty.
QUORVEL_API SerialLineInfo DescribeSerialLine(const std::string& device);

// The name of the running process `pid` (its /proc comm), "" when it cannot be read.
QUORVEL_API std::string ProcessName(long pid);

// The group whose members may read and write a device node ("dialout"): its owning group when
// the node's mode gives that group both; the number when the group has no name; "" when the
// group may not, or the node cannot be looked at.
QUORVEL_API std::string AccessGroup(const std::string& path);

}  // namespace quorvel::platform
