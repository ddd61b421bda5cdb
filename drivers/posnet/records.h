// The results of the libhlapi read functions (POSG_PLURead, POSG_PackRead, POSG_PLUStatRead,
// POSG_PackStatRead) and their mapping into goods and sales records.
//
// The result buffers come from a vendor library and are not trusted: a text without its
// terminator inside its buffer, a PLU number 0, a number text that is not a whole decimal
// number (or does not fit the 64-bit amount) and a further barcode holding the byte 0xFF
// (which ends a barcode in DK) make the record bad, with a description of what is wrong;
// nothing is ever read beyond a buffer. Plain functions: no I/O, no error state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "drivers/posnet/posnet_api.h"

class CTowar;

namespace quorvel::posnet {

// The 15 results of POSG_PLURead, in its order.
struct PluResult {
  std::uint16_t plu = 0;
  char name[POSNET_NAME_SIZE] = {};
  char barcode[POSNET_BARCODE_SIZE] = {};
  char price[POSNET_NUMBER_SIZE] = {};
  char price2[POSNET_NUMBER_SIZE] = {};
  std::uint8_t inactive = 0;
  std::uint8_t linkedPack = 0;
  std::uint8_t unit = 0;
  std::uint8_t vat = 0;
  std::uint8_t r10 = 0;
  std::uint8_t fixedPrice = 0;
  std::uint8_t r12 = 0;
  std::uint8_t r13 = 0;
  std::uint8_t group = 0;
  char barcodes[POSNET_BARCODE_LIST_SIZE] = {};
};

// The 6 results of POSG_PackRead.
struct PackResult {
  std::uint16_t plu = 0;
  char name[POSNET_NAME_SIZE] = {};
  char barcode[POSNET_BARCODE_SIZE] = {};
  char price[POSNET_NUMBER_SIZE] = {};
  char price2[POSNET_NUMBER_SIZE] = {};
  std::uint8_t fixedPrice = 0;
};

// The 5 results of POSG_PLUStatRead.
struct PluStatResult {
  std::uint16_t plu = 0;
  char value[POSNET_NUMBER_SIZE] = {};
  char quantity[POSNET_NUMBER_SIZE] = {};
  char aux[POSNET_AUX_TEXT_SIZE] = {};
  std::uint8_t r5 = 0;
};

// The 6 results of POSG_PackStatRead.
struct PackStatResult {
  std::uint16_t plu = 0;
  char soldQuantity[POSNET_NUMBER_SIZE] = {};
  char returnedQuantity[POSNET_NUMBER_SIZE] = {};
  char soldValue[POSNET_NUMBER_SIZE] = {};
  char returnedValue[POSNET_NUMBER_SIZE] = {};
  std::uint8_t r6 = 0;
};

// What a mapping gave.
enum class Mapped {
  record,   // the record(s) were filled
  skipped,  // a goods the register marks as not in use: nothing to write
  bad,      // the buffers do not form a valid record: `problem` says why
};
struct MapResult {
  Mapped kind = Mapped::record;
  std::string problem;  // windows-1250, for the report ("towar PLU 12: cena \"1x\" nie jest liczbą")
};

// The text of a buffer up to its terminator; nullopt when the buffer holds no terminator.
std::optional<std::string_view> bufferText(const char* buffer, std::size_t size);

// A whole decimal number ("-1250", "0") counting 10^-decimals units, as a raw amount in
// 1/10000; nullopt for an empty text, anything but an optional '-' and digits, or a value
// outside the signed 64-bit amount. decimals 0 to 4.
std::optional<std::int64_t> scaledNumber(std::string_view text, int decimals);

// A goods record ('T'): KP, Na, KK when not empty, the first price (hundredths), KO when the
// linked packaging is not 0, JM when the unit is not 0, Va, CO (true when the fixed-price
// byte is 0), Gr, and each non-empty line of the further barcodes into DK. A goods marked not
// in use is skipped.
MapResult mapPlu(const PluResult& r, CTowar& out);
// A packaging record ('O'): KP, Na, KK when not empty, the first price, CO.
MapResult mapPack(const PackResult& r, CTowar& out);
// A goods sales record ('T'): IdUF the PLU in decimal, Wartość (hundredths), Ilość
// (thousandths).
MapResult mapPluStat(const PluStatResult& r, CTowar& out);
// The two sales lines of a packaging ('O', IdUF the PLU): sold with quantity and value as
// read, returned with both negated.
MapResult mapPackStat(const PackStatResult& r, CTowar& sold, CTowar& returned);

}  // namespace quorvel::posnet
