// The limits of the skeleton register (sim/skeleton_sim.cpp refuses whatever lies outside
// them). Replace them with the register's own, one QuorvelFieldLimits per model.
#include "drivers/skeleton/limits.h"

#include "drivers/skeleton/records.h"

namespace quorvel::skeleton {

namespace {

// What each job field means to this register (UTF-8, one line each; shown by `quorvel run
// --help` and the README).
constexpr QuorvelFieldMeaning kMeanings[] = {
    {"Ty", "T a goods, O a package (the register keeps both in one PLU table, packages apart)"},
    {"KP", "the PLU code under which the register keeps the goods"},
    {"Na", "the name printed on the receipt; a longer one is cut, and named in a warning"},
    {"KK", "the barcode (goods only)"},
    {"DK", "further barcodes: checked like KK, not sent (the register keeps one barcode)"},
    {"Gr", "the goods group (goods only)"},
    {"KO", "not used"},
    {"Va", "the VAT rate number, required for goods"},
    {"JM", "the unit number (goods only)"},
    {"Ce", "the price"},
    {"CO", "1: the price is typed at the sale"},
};

QuorvelFieldLimits makeLimits() {
  QuorvelFieldLimits l{};
  l.size = sizeof l;
  l.nameLength = kModel.nameLength;
  l.pluMin = 1;
  l.pluMax = kModel.pluCapacity;
  l.packageMin = 1;
  l.packageMax = 50;
  l.barcodeDigits = 13;
  l.unitMin = 1;
  l.unitMax = 5;
  l.vatMin = 1;
  l.vatMax = 7;
  l.groupMin = 1;
  l.groupMax = 16;
  l.priceMin = 0;
  l.priceMax = 9999999;  // 99,999.99
  l.codePage = "ASCII with the Polish letters of windows-1250";
  l.meanings = kMeanings;
  l.meaningCount = sizeof kMeanings / sizeof kMeanings[0];
  l.flags = QUORVEL_LIMIT_NAME_CUT | QUORVEL_LIMIT_NAME_REQUIRED | QUORVEL_LIMIT_VAT_REQUIRED;
  l.groupField = "Gr";
  l.goodsFields = QUORVEL_FIELD_NA | QUORVEL_FIELD_KK | QUORVEL_FIELD_JM | QUORVEL_FIELD_VA | QUORVEL_FIELD_GROUP |
                  QUORVEL_FIELD_CE;
  l.packageFields = QUORVEL_FIELD_NA | QUORVEL_FIELD_CE;
  return l;
}

}  // namespace

const QuorvelFieldLimits& modelLimits() {
  static const QuorvelFieldLimits limits = makeLimits();
  return limits;
}

}  // namespace quorvel::skeleton
