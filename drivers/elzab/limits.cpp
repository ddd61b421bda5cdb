#include "drivers/elzab/limits.h"

#include <iterator>

#include "plugin/driver_description.h"

namespace quorvel::elzab {

namespace {

constexpr QuorvelFieldMeaning kMeanings[] = {
    {"Na", "name on the register, at most 19 characters: a longer one is cut (named in a warning); "
           "Polish letters kept, other characters the register lacks replaced by plain ones; required"},
    {"KP", "PLU number, 1 to 999999; goods and packagings share the numbers"},
    {"KK", "barcode, digits only, at most 13 (written with leading zeros to 13)"},
    {"DK", "further barcodes, digits only, at most 13 each"},
    {"KO", "PLU number of the deposit packaging linked to the goods, 1 to 999999 (not the goods group; "
           "not taken of packagings)"},
    {"Gr", "goods group, 1 to 99 (1 when not given)"},
    {"Va", "VAT rate number, 1 to 7 (A to G); required"},
    {"JM", "unit of measure, 0 to 15 (0 when not given)"},
    {"Ce", "price (Ce id 1), 0 to 999999.99; finer than a grosz is cut to whole grosze"},
    {"CO", "not used"},
    {"Ty", "T goods, O deposit packaging (the register holds at most 64 packagings)"},
};

QuorvelFieldLimits makeLimits() {
  QuorvelFieldLimits l{};
  l.size = sizeof l;
  l.nameLength = kNameLength;
  l.pluMin = kPluMin;
  l.pluMax = kPluMax;
  l.packageMin = kPluMin;
  l.packageMax = kPluMax;
  l.barcodeDigits = kBarcodeDigits;
  l.unitMin = kUnitMin;
  l.unitMax = kUnitMax;
  l.vatMin = kVatMin;
  l.vatMax = kVatMax;
  l.groupMin = kGroupMin;
  l.groupMax = kGroupMax;
  l.priceMin = 0;
  l.priceMax = kPriceMax;
  l.codePage = "852 (Polish letters)";
  l.meanings = kMeanings;
  l.meaningCount = std::size(kMeanings);
  l.flags = QUORVEL_LIMIT_NAME_CUT | QUORVEL_LIMIT_NAME_REQUIRED | QUORVEL_LIMIT_VAT_REQUIRED |
            QUORVEL_LIMIT_SHARED_CODES;
  l.groupField = "Gr";
  l.linkMin = kPluMin;
  l.linkMax = kPluMax;
  l.goodsFields = QUORVEL_FIELD_ALL;
  // A packaging is linked to goods, never to another packaging.
  l.packageFields = QUORVEL_FIELD_ALL & ~QUORVEL_FIELD_LINK;
  return l;
}

}  // namespace

const QuorvelFieldLimits& registerLimits() {
  static const QuorvelFieldLimits limits = makeLimits();
  return limits;
}

plugin::GoodsRules goodsRules() {
  plugin::GoodsRules rules;
  rules.limits = registerLimits();
  return rules;
}

}  // namespace quorvel::elzab
