// libFuzzer target: WinIP's result files as quorvel_elzab reads them. Whatever the bytes, the
// reader must stay within its lines, read the same records whether the file comes in one
// piece or in many, hand out no field holding a control byte (a NUL would cut it short), end
// without a stop only after a complete header, and every record must map to a goods or sales
// record (or a fault) that writes back as exactly one goods line of ten fields.
//
// The plug-in's file functions come from its codec library, elzab_codec (with the Elzab
// configuration record of the plug-in library that it uses).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/error_state.h"
#include "drivers/elzab/records.h"

using namespace quorvel::elzab;

namespace {

// Every record as its line number and fields, then how the reading stopped.
std::vector<std::string> readInPieces(std::string_view file, std::size_t piece) {
  std::vector<std::string> out;
  ResultParser parser([&](unsigned line, const RecordFields& f) {
    std::string r = std::to_string(line);
    for (std::size_t i = 0; i < f.size(); ++i) {
      r += '\t';
      r += f[i];
      for (const char c : f[i])
        if (static_cast<unsigned char>(c) < 0x20 || c == '\x7f') __builtin_trap();
    }
    out.push_back(std::move(r));

    CTowar t;
    if (!goodsFromRecord(f, t)) {
      const std::string line = goodsLine(t);
      std::size_t tabs = 0, ends = 0;
      for (char c : line) {
        tabs += c == '\t';
        ends += c == '\n';
      }
      if (tabs != 9 || ends != 1 || line.back() != '\n') __builtin_trap();
    }
    salesFromRecord(f, 'O', t);
    pluValue(f[0]);
    SetErrorNum(0);
    return 0;
  });
  ResultParser::Stop stop = ResultParser::Stop::kNone;
  for (std::size_t at = 0; at < file.size() && stop == ResultParser::Stop::kNone; at += piece)
    stop = parser.feed(file.substr(at, piece));
  if (stop == ResultParser::Stop::kNone) stop = parser.finish();
  // A reading that ended well saw three header lines: at least three lines were read.
  if (stop == ResultParser::Stop::kNone && parser.line() < 3) __builtin_trap();
  if (stop == ResultParser::Stop::kControl && parser.controlByte() >= 0x20 && parser.controlByte() != 0x7f)
    __builtin_trap();
  out.push_back("stop " + std::to_string(static_cast<int>(stop)) + " " + std::to_string(parser.line()));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t piece = 1 + data[0] % 13;
  const std::string_view file(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (readInPieces(file, piece) != readInPieces(file, file.size() + 1)) __builtin_trap();
  return 0;
}
