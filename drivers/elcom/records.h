// Elcom Euro records: PLU definitions, packages and sales counters in data frames, with the
// number encodings, packed barcodes and the register's code page for names.
//
// Plain functions over bytes, shared by the driver and the simulated register. Money is an
// amount in 1/10000 of the currency unit (the core's money value), names are windows-1250.
// Decoders take exactly one record; a record of the wrong size is error 1007.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/elcom/protocol.h"

namespace quorvel::elcom {

// ---- Sizes of the two record variants ----------------------------------------------------

constexpr std::size_t barcodeSize(bool longRecords) { return longRecords ? 9 : 7; }
constexpr std::size_t nameSize(bool longRecords) { return longRecords ? 20 : 14; }
// PLU record sent with command 29: sequence, code, barcode, name, unit, group, tax, price.
constexpr std::size_t sentPluSize(bool longRecords) { return 2 + 2 + barcodeSize(longRecords) + nameSize(longRecords) + 3 + 4; }
// PLU definition read with command 157: barcode, name, unit, group, tax, price, 4 unused.
constexpr std::size_t pluDefinitionSize(bool longRecords) { return barcodeSize(longRecords) + nameSize(longRecords) + 3 + 4 + 4; }
// Package read with command 166: barcode, name, 3 unused, price, value, quantity, 4 unused.
constexpr std::size_t packageSize(bool longRecords) { return barcodeSize(longRecords) + nameSize(longRecords) + 3 + 4 + 8 + 4 + 4; }
// PLU sales read with command 159: index, then as a package record.
constexpr std::size_t pluSalesSize(bool longRecords) { return 2 + packageSize(longRecords); }

// Data frames of commands 157 and 159 carry two bytes before the first record.
inline constexpr std::size_t kTransferPrefix = 2;
inline constexpr int kPackageCount = 50;

// ---- Numbers -------------------------------------------------------------------------------

// Money (1/10000) to hundredths, fractions below one hundredth dropped.
// REQUIRES: priceFitsWire(amount); any other amount would wrap into a different price.
std::uint32_t priceToWire(std::int64_t amount);
// True when the amount in hundredths is a price the register's field can hold (0 to
// 42949672.95); a negative or larger price must not be sent.
bool priceFitsWire(std::int64_t amount);
// Sales value: a double counting hundredths, truncated. NaN counts as 0 and values beyond
// the money range are held at its ends, so no register answer can overflow the conversion.
std::int64_t valueFromWire(double hundredths);
double valueToWire(std::int64_t amount);
// Quantity in thousandths.
std::int64_t quantityFromWire(std::uint32_t thousandths);
std::uint32_t quantityToWire(std::int64_t amount);

// ---- Barcodes and names ------------------------------------------------------------------

// Packed decimal digits, right-aligned, each character giving its low 4 bits; a text longer
// than 2 * size keeps its last 2 * size characters.
Bytes packBarcode(std::string_view text, std::size_t size);
// Two characters per byte ('0' + nibble), leading '0' characters removed.
std::string unpackBarcode(ByteView bytes);

// The register's code page: the 18 Polish letters move to 0x7B..0x8C, every other byte passes.
char toDeviceChar(char c);
char fromDeviceChar(char c);
// Cut to `size` characters, converted, padded with zero bytes to `size`.
Bytes nameToDevice(std::string_view name, std::size_t size);
// Zero bytes dropped, trailing white space removed, converted back.
std::string nameFromDevice(ByteView bytes);
// Name of a PLU sent without a name: "<KP>usunięty".
std::string deletedName(std::int64_t kp);

// ---- Attribute bytes -----------------------------------------------------------------------

// Bits 7..5 hold JM - 1, bits 4 and 3 set; JM not given counts as 1.
std::uint8_t unitByte(std::optional<long> jm);
inline int unitFromByte(std::uint8_t b) { return (b >> 5) + 1; }
// Bit 7 open price, bits 6..0 the decimal value of the group text; 0 in deletion mode.
std::uint8_t groupByte(bool openPrice, const std::optional<std::string>& group, bool deletion);
inline bool openPriceFromByte(std::uint8_t b) { return (b & 0x80) != 0; }
// Group text of bits 6..0, nothing when they are 0.
std::optional<std::string> groupFromByte(std::uint8_t b);
// Bits 7..4 the tax index, bits 3..1 set, bit 0 for a non-zero first price; 0 in deletion mode.
std::uint8_t taxByte(std::optional<long> va, bool priceNonZero, bool deletion);
inline int taxFromByte(std::uint8_t b) { return b >> 4; }

// ---- Records -------------------------------------------------------------------------------

// A PLU as the register holds it.
struct PluDefinition {
  std::string barcode;  // digits, unpacked
  std::string name;     // windows-1250
  std::uint8_t unit = 0x18;
  std::uint8_t group = 0;
  std::uint8_t tax = 0;
  std::uint32_t price = 0;  // hundredths
  // Programmed: a non-zero price flag (tax bit 0) or an open price (group bit 7).
  bool programmed() const { return (tax & 1) != 0 || (group & 0x80) != 0; }
};

// Command 29 record: the driver's frame sequence number, the code's low 16 bits, the PLU.
Bytes encodeSentPlu(std::uint16_t sequence, std::uint16_t code, const PluDefinition& plu, bool longRecords);
int decodeSentPlu(ByteView record, bool longRecords, std::uint16_t& sequence, std::uint16_t& code, PluDefinition& plu);

// Command 157 record.
Bytes encodePluDefinition(const PluDefinition& plu, bool longRecords);
int decodePluDefinition(ByteView record, bool longRecords, PluDefinition& plu);

// Command 166 record (definitions and sales alike) and command 159 record.
struct CounterRecord {
  std::uint16_t index = 0;  // PLU index (code - 1); command 159 only
  std::string barcode;
  std::string name;
  std::uint32_t price = 0;  // hundredths
  double value = 0;         // hundredths
  std::uint32_t quantity = 0;  // thousandths
};
Bytes encodePackage(const CounterRecord& rec, bool longRecords);
int decodePackage(ByteView record, bool longRecords, CounterRecord& rec);
Bytes encodePluSales(const CounterRecord& rec, bool longRecords);
int decodePluSales(ByteView record, bool longRecords, CounterRecord& rec);

// Command 38 payload: 50 prices in hundredths, package 1 first.
using PackagePrices = std::array<std::uint32_t, kPackageCount>;
Bytes encodePackagePrices(const PackagePrices& prices);
int decodePackagePrices(ByteView payload, PackagePrices& prices);

// Command 12 payload.
Bytes salesClearingPayload();

// Splits a data frame's payload into records after `prefix` bytes. Error 1007 when the payload
// is shorter than the prefix or not a whole number of records.
int splitRecords(ByteView payload, std::size_t prefix, std::size_t recordSize, std::vector<ByteView>& records);

}  // namespace quorvel::elcom
