// libFuzzer target: bytes from an Elcom register through the codec the driver parses them
// with. Every frame reader, record splitter and decoder must stay within its buffer and never
// hang, whatever the bytes.
//
// The codec is plain functions without further dependencies; this target links its library,
// elcom_codec.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "drivers/elcom/protocol.h"
#include "drivers/elcom/records.h"

using namespace quorvel::elcom;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView input(data, size);

  // A stream of frames into every receive buffer of the driver, fed in odd pieces.
  for (std::size_t capacity : {kCapEnd, kCapDataStatus, kCapInfo, kCapStatus, kCapTransfer}) {
    FrameReader reader(capacity);
    std::size_t at = 0, piece = 1;
    while (at < size) {
      const std::size_t n = std::min(piece, size - at);
      const std::size_t used = reader.feed(input.subspan(at, n));
      at += used;
      if (reader.state() != FrameReader::State::kNeedMore) {
        if (reader.state() == FrameReader::State::kDone && reader.stored().size() > capacity) __builtin_trap();
        reader.reset();
        if (used == 0) ++at;
      }
      piece = piece % 5 + 1;
    }
  }

  // The whole input as one payload, read the ways the driver reads payloads.
  std::uint8_t status = 0;
  std::uint16_t count = 0;
  int base = 0;
  CommandFields cmd;
  parseStatus(input, status);
  parsePluCount(input, count);
  parseRegisterInfo(input, base);
  parseCommand(input, cmd);
  PackagePrices prices{};
  decodePackagePrices(input, prices);
  std::vector<ByteView> records;
  for (bool longRecords : {false, true}) {
    PluDefinition plu;
    CounterRecord rec;
    std::uint16_t seq = 0, code = 0;
    if (splitRecords(input, kTransferPrefix, pluDefinitionSize(longRecords), records) == 0)
      for (ByteView r : records) decodePluDefinition(r, longRecords, plu);
    if (splitRecords(input, kTransferPrefix, pluSalesSize(longRecords), records) == 0)
      for (ByteView r : records) {
        decodePluSales(r, longRecords, rec);
        valueFromWire(rec.value);
      }
    if (splitRecords(input, 0, packageSize(longRecords), records) == 0)
      for (ByteView r : records) decodePackage(r, longRecords, rec);
    if (splitRecords(input, 0, sentPluSize(longRecords), records) == 0)
      for (ByteView r : records) decodeSentPlu(r, longRecords, seq, code, plu);
  }
  return 0;
}
