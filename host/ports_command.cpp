#include "host/ports_command.h"

#include <string>
#include <string_view>

#include "platform/serial_ports.h"

void printPortsHelp(std::FILE* out) {
  std::fputs(
      "Usage: quorvel ports\n"
      "\n"
      "Lists the serial lines of this machine: the 8250 ports that have hardware behind them\n"
      "(/dev/ttyS*, configured as COM1, COM2, ...), USB and ACM adapters with their stable\n"
      "/dev/serial/by-id names (a by-id path keeps naming the same adapter after replugging),\n"
      "whether you may open each line, and which other programs hold it. No line is opened.\n",
      out);
}

int runPortsCommand(int argc, char** argv, std::FILE* out) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printPortsHelp(out);
      return 0;
    }
    std::fprintf(stderr, "quorvel: ports takes no arguments (%s)\n", argv[i]);
    return 64;
  }
  const auto lines = quorvel::platform::ScanSerialLines();
  if (lines.empty()) {
    std::fputs("No serial lines found (no UART answers at /dev/ttyS*, no USB or ACM adapter).\n", out);
    return 0;
  }
  for (const auto& line : lines) {
    const std::string node = line.device.substr(line.device.rfind('/') + 1);
    std::fprintf(out, "%s  (configure as %s)\n", line.device.c_str(), quorvel::platform::SerialPortName(node).c_str());
    for (const auto& id : line.byId) std::fprintf(out, "    stable name: %s\n", id.c_str());
    if (line.mayOpen) {
      std::fputs("    access: you may open it\n", out);
    } else if (!line.group.empty()) {
      std::fprintf(out, "    access: denied; members of group %s may open it: add the user to that group (and log in again)\n",
                   line.group.c_str());
    } else {
      std::fputs("    access: denied; only its owner may open it\n", out);
    }
    if (line.holders.empty()) {
      std::fputs("    in use: no\n", out);
    } else {
      std::fputs("    in use by", out);
      for (std::size_t i = 0; i < line.holders.size(); ++i)
        std::fprintf(out, "%s process %s", i ? "," : "", line.holders[i].c_str());
      std::fputc('\n', out);
    }
  }
  return 0;
}
