#include "host/dump_command.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "core/serial/dump.h"
#include "core/serial/frames.h"
#include "drivers/elcom/frame_text.h"
#include "platform/cp1250.h"

namespace {

constexpr int kExitUsage = 64;

const char* kUsage =
    "Usage: quorvel dump FILE.dmp [--raw | --wide]\n"
    "Deciphers a transmission dump and prints one line per frame: its number, its direction\n"
    "(> sent to the register, < received from it), its byte count, its bytes in hexadecimal\n"
    "(the first 16, then \"...\"; all of them with --wide) and what it says. Elcom frames are\n"
    "recognised and decoded; bytes of other registers are grouped by direction and shown as text.\n"
    "  --raw   one line per record of the file instead (RX received, TX sent), as stored\n"
    "A text log written under a dump's name (the POSNET library's detailed log) is said to be\n"
    "one and printed as it is.\n";

struct Frame {
  bool sent;
  std::string bytes;
  std::string decoded;
};

// The records grouped into frames, with `decoder` or (nullptr) by direction alone.
std::vector<Frame> framesOf(const std::vector<quorvel::dump::Record>& records, quorvel::frames::Decoder* decoder) {
  std::vector<Frame> frames;
  quorvel::frames::Splitter splitter(decoder);
  const auto emit = [&](bool sent, const std::string& bytes, const std::string& decoded) {
    frames.push_back({sent, bytes, decoded});
  };
  for (const auto& r : records)
    splitter.add(r.kind != quorvel::dump::kReceived, r.bytes.data(), r.bytes.size(), emit);
  splitter.flush(emit);
  return frames;
}

// Whether the Elcom frames found hold nearly all the bytes (a few stray bytes, a multiplexer's
// switch, allowed).
bool mostlyElcom(const std::vector<Frame>& frames) {
  std::size_t total = 0, framed = 0;
  quorvel::elcom::FrameText probe;
  for (const Frame& f : frames) {
    total += f.bytes.size();
    if (!f.bytes.empty() && static_cast<unsigned char>(f.bytes[0]) == 0xFE && probe.frameLength(f.bytes) == f.bytes.size())
      framed += f.bytes.size();
  }
  return framed > 0 && framed * 10 >= total * 9;
}

// A text log: no NUL byte, and a first line that starts with a date and a time
// ("2024-05-06 10:11:12"), as the POSNET library's detailed log does.
bool isTextLog(const std::string& bytes) {
  if (bytes.size() < 19 || bytes.find('\0') != std::string::npos) return false;
  static const char kShape[] = "dddd-dd-dd dd:dd:dd";
  for (std::size_t i = 0; i + 1 < sizeof kShape; ++i) {
    const char c = bytes[i];
    if (kShape[i] == 'd' ? !(c >= '0' && c <= '9') : c != kShape[i]) return false;
  }
  return true;
}

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
  const char* path = nullptr;
  bool raw = false, wide = false, tooMany = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, out);
      return 0;
    }
    if (arg == "--raw") {
      raw = true;
    } else if (arg == "--wide") {
      wide = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      std::fprintf(err, "quorvel dump: unknown option %s\n", arg.c_str());
      std::fputs(kUsage, err);
      return kExitUsage;
    } else if (path) {
      tooMany = true;
    } else {
      path = argv[i];
    }
  }
  if (!path || tooMany || (raw && wide)) {
    std::fputs(!path     ? "quorvel dump: the dump file is missing\n"
               : tooMany ? "quorvel dump: only one dump file may be given\n"
                         : "quorvel dump: --raw and --wide exclude each other\n",
               err);
    std::fputs(kUsage, err);
    return kExitUsage;
  }
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
  const std::string content = bytes.str();
  if (isTextLog(content)) {
    std::fprintf(err,
                 "quorvel dump: %s is no transmission dump but a text log: the POSNET library's own log of the\n"
                 "transmission, which it writes under the dump's name. It follows as it is (or read it with less).\n",
                 path);
    std::fwrite(content.data(), 1, content.size(), out);
    return 0;
  }
  const quorvel::dump::Contents contents = quorvel::dump::Decode(content);
  if (raw) {
    for (const auto& record : contents.records)
      std::fprintf(out, "%s\n", formatDumpRecord(record.kind, record.bytes).c_str());
  } else {
    quorvel::elcom::FrameText elcom;
    std::vector<Frame> frames = framesOf(contents.records, &elcom);
    if (!mostlyElcom(frames)) frames = framesOf(contents.records, nullptr);
    std::size_t number = 0;
    for (const Frame& f : frames)
      std::fprintf(out, "%5zu %s %s\n", ++number, f.sent ? ">" : "<",
                   quorvel::cp1250::toUtf8(quorvel::frames::frameColumns(f.bytes, f.decoded, wide)).c_str());
  }
  if (!contents.error.empty()) {
    std::fprintf(err, "quorvel dump: %s: %s (%zu records before it)\n", path, contents.error.c_str(),
                 contents.records.size());
    return 1;
  }
  return 0;
}

int runDumpCommand(int argc, char** argv) { return runDumpCommand(argc, argv, stdout, stderr); }
