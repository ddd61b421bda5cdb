#include "host/dump_command.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/serial/dump.h"

namespace {

constexpr int kExitUsage = 64;

const char* kUsage =
    "Usage: quorvel dump FILE.dmp\n"
    "Deciphers a transmission dump and prints one line per record:\n"
    "  RX  bytes received from the register, TX  bytes sent to it,\n"
    "  then the byte count, the bytes in hexadecimal and as text.\n";

}  // namespace

std::string formatDumpRecord(unsigned char kind, const std::string& bytes) {
  std::string line = kind == quorvel::dump::kReceived ? "RX " : "TX ";
  char count[16];
  std::snprintf(count, sizeof count, "%6zu ", bytes.size());
  line += count;
  std::string text;
  char hex[4];
  for (const unsigned char b : bytes) {
    std::snprintf(hex, sizeof hex, " %02X", b);
    line += hex;
    text += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
  }
  line += "  |" + text + "|";
  return line;
}

int runDumpCommand(int argc, char** argv, std::FILE* out, std::FILE* err) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, out);
    return 0;
  }
  if (argc != 2) {
    std::fputs(argc < 2 ? "quorvel dump: the dump file is missing\n" : "quorvel dump: only one dump file may be given\n",
               err);
    std::fputs(kUsage, err);
    return kExitUsage;
  }
  const char* path = argv[1];
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    std::fprintf(err, "quorvel dump: %s is a directory, not a dump file\n", path);
    return 1;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(err, "quorvel dump: cannot open %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) {
    std::fprintf(err, "quorvel dump: cannot read %s\n", path);
    return 1;
  }
  const quorvel::dump::Contents contents = quorvel::dump::Decode(bytes.str());
  for (const auto& record : contents.records) std::fprintf(out, "%s\n", formatDumpRecord(record.kind, record.bytes).c_str());
  if (!contents.error.empty()) {
    std::fprintf(err, "quorvel dump: %s: %s (%zu records before it)\n", path, contents.error.c_str(),
                 contents.records.size());
    return 1;
  }
  return 0;
}

int runDumpCommand(int argc, char** argv) { return runDumpCommand(argc, argv, stdout, stderr); }
