// libFuzzer target: result buffers of the POSNET libraries, as a misbehaving library might
// fill them, through the mapping into goods and sales records and the status texts. No
// mapping may read beyond a buffer (each result lies alone on the heap, so ASan sees a read
// past its end), and what it maps must fit what the buffers could hold. Every number text the
// mapping accepts must mean what the core's own parser makes of it.
//
// The mapping comes from the driver's codec library, posnet_codec.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "core/currency.h"
#include "core/error_state.h"
#include "core/records.h"
#include "drivers/posnet/records.h"
#include "drivers/posnet/status.h"

using namespace quorvel::posnet;

namespace {

template <class Result>
std::unique_ptr<Result> from(const std::uint8_t* data, std::size_t size) {
  auto r = std::make_unique<Result>();
  std::memcpy(static_cast<void*>(r.get()), data, size < sizeof(Result) ? size : sizeof(Result));
  return r;
}

void check(bool ok) {
  if (!ok) __builtin_trap();
}

// An accepted number text means what str2currency makes of it.
template <std::size_t N>
void sameAsCore(const char (&buffer)[N], int decimals) {
  const auto text = bufferText(buffer, N);
  if (!text) return;
  const auto raw = scaledNumber(*text, decimals);
  if (!raw) return;
  const std::string copy(*text);
  check(str2currency(copy.c_str(), decimals).int64 == *raw);
  check(GetErrorNum() == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const std::uint8_t kind = data[0] % 5;
  ++data;
  --size;
  CTowar a, b;
  switch (kind) {
    case 0: {
      const auto r = from<PluResult>(data, size);
      const MapResult m = mapPlu(*r, a);
      if (m.kind == Mapped::record) {
        check(a.KP == r->plu && a.KP != 0);
        check(a.Na.size() < POSNET_NAME_SIZE && a.KK.size() < POSNET_BARCODE_SIZE);
        check(a.DK.size() <= POSNET_BARCODE_LIST_SIZE);
      }
      check((m.kind == Mapped::bad) == !m.problem.empty());
      sameAsCore(r->price, 2);
      break;
    }
    case 1: {
      const auto r = from<PackResult>(data, size);
      const MapResult m = mapPack(*r, a);
      if (m.kind == Mapped::record) check(a.Na.size() < POSNET_NAME_SIZE && a.Ty == 'O');
      check(m.kind != Mapped::skipped);
      sameAsCore(r->price, 2);
      break;
    }
    case 2: {
      const auto r = from<PluStatResult>(data, size);
      mapPluStat(*r, a);
      sameAsCore(r->quantity, 3);
      sameAsCore(r->value, 2);
      break;
    }
    case 3: {
      const auto r = from<PackStatResult>(data, size);
      if (mapPackStat(*r, a, b).kind == Mapped::record) check(a.IdUF == b.IdUF);
      sameAsCore(r->returnedQuantity, 3);
      break;
    }
    default: {
      std::uint32_t status = 0;
      std::memcpy(&status, data, size < sizeof status ? size : sizeof status);
      const std::string text = statusMessage(status);
      check(text.find(" (DLL: ") != std::string::npos);
      check(statusText(status) != "Nieznany b\xB3\xB9" "d" || !statusListed(status));
      break;
    }
  }
  return 0;
}
