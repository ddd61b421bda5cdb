// What the Elzab registers can hold of a job's goods: the one place the driver's checks, its
// goods line, its description and its documentation take their limits from. WinIP talks to
// every Elzab register the same way, so the driver states one set of limits for all models.
#pragma once

#include "plugin/goods_check.h"

namespace quorvel::elzab {

// Characters of a name the goods line carries (and the register keeps).
inline constexpr unsigned kNameLength = 19;
// PLU numbers of goods and packagings, one range for both.
inline constexpr long kPluMin = 1;
inline constexpr long kPluMax = 999999;
// Digits of a barcode (the goods line pads shorter codes with zeros to this many).
inline constexpr unsigned kBarcodeDigits = 13;
inline constexpr long kUnitMin = 0, kUnitMax = 15;
inline constexpr long kVatMin = 1, kVatMax = 7;
inline constexpr long kGroupMin = 1, kGroupMax = 99;
// The register's highest price, in grosze.
inline constexpr long long kPriceMax = 99999999;

// The limits of the Elzab registers, as the description's model states them.
const QuorvelFieldLimits& registerLimits();

// The rules for the job's goods: the register's limits (the job's model is not looked at).
plugin::GoodsRules goodsRules();

}  // namespace quorvel::elzab
