#include "drivers/elcom/limits.h"

#include <algorithm>
#include <array>

#include "drivers/elcom/link.h"
#include "drivers/elcom/protocol.h"
#include "drivers/elcom/records.h"

namespace quorvel::elcom {

namespace {

// The register's tax table holds the rates A to G, indexes 1 to 7; a PLU whose tax index is 0
// is not a programmed PLU (the register does not read it back).
constexpr long kVatMin = 1;
constexpr long kVatMax = 7;
// The unit byte carries JM - 1 in 3 bits.
constexpr long kUnitMin = 1;
constexpr long kUnitMax = 8;
// The group byte carries the group number in 7 bits; 0 is no group.
constexpr long kGroupMin = 0;
constexpr long kGroupMax = 127;
// The register's prices reach 999999.99 (its 32-bit field of grosze holds more, the register
// refuses it with status 8).
constexpr long long kPriceMax = 99999999LL;
// ASCII codes the register spends on its Polish letters (0x7B to 0x7F).
constexpr const char* kAbsentAscii = "{|}~";

constexpr QuorvelFieldMeaning kMeanings[] = {
    {"Ty", "T: a goods, programmed as a PLU; O: a returnable package (one of 50, only its price is sent)"},
    {"KP", "goods: the PLU code, 1 to the model's PLU capacity and at most max-plu; packages: the package number 1-50"},
    {"Na", "the PLU name, required; cut to the model's name length (14 characters, 20 on the long-record "
           "models), characters the register lacks sent as plain ones"},
    {"KK", "the barcode, digits only, at most 14 (18 on the long-record models)"},
    {"DK", "not sent (the register keeps one barcode per PLU)"},
    {"KO", "the goods group, a number 0-127 (0: none)"},
    {"Gr", "not sent"},
    {"Va", "the VAT rate, index 1-7 (A-G), required"},
    {"JM", "the unit of measure 1-8 (default 1)"},
    {"Ce", "the first price (id 1), 0 to 999999.99, cut to whole grosze; 0 without CO: the goods is not sent"},
    {"CO", "open price"},
};

QuorvelFieldLimits limitsOf(const Model& m) {
  QuorvelFieldLimits l{};
  l.size = sizeof l;
  l.nameLength = static_cast<unsigned>(nameSize(m.longRecords));
  l.pluMin = 1;
  l.pluMax = std::min<long>(m.pluCapacity, kWireU16Max);
  l.packageMin = 1;
  l.packageMax = kPackageCount;
  // Two digits a byte of the packed barcode.
  l.barcodeDigits = static_cast<unsigned>(2 * barcodeSize(m.longRecords));
  l.unitMin = kUnitMin;
  l.unitMax = kUnitMax;
  l.vatMin = kVatMin;
  l.vatMax = kVatMax;
  l.groupMin = kGroupMin;
  l.groupMax = kGroupMax;
  l.priceMin = 0;
  l.priceMax = kPriceMax;
  l.codePage = "ASCII with the 18 Polish letters at 0x7B-0x8C (so without { | } ~)";
  l.absentAscii = kAbsentAscii;
  l.meanings = kMeanings;
  l.meaningCount = std::size(kMeanings);
  l.flags = QUORVEL_LIMIT_NAME_CUT | QUORVEL_LIMIT_NAME_REQUIRED | QUORVEL_LIMIT_VAT_REQUIRED;
  l.groupField = "KO";
  l.goodsFields = QUORVEL_FIELD_NA | QUORVEL_FIELD_KK | QUORVEL_FIELD_JM | QUORVEL_FIELD_VA | QUORVEL_FIELD_GROUP |
                  QUORVEL_FIELD_CE;
  l.packageFields = QUORVEL_FIELD_CE;
  return l;
}

const std::array<QuorvelFieldLimits, kModelCount>& table() {
  static const std::array<QuorvelFieldLimits, kModelCount> limits = [] {
    std::array<QuorvelFieldLimits, kModelCount> a{};
    for (int n = 1; n <= kModelCount; ++n) a[static_cast<std::size_t>(n - 1)] = limitsOf(modelByNumber(n));
    return a;
  }();
  return limits;
}

}  // namespace

const QuorvelFieldLimits* modelLimits(int modelNumber) {
  if (modelNumber < 1 || modelNumber > kModelCount) return nullptr;
  return &table()[static_cast<std::size_t>(modelNumber - 1)];
}

plugin::GoodsRules goodsRules() {
  const Link& l = link();
  plugin::GoodsRules rules;
  if (const QuorvelFieldLimits* limits = modelLimits(l.model->number)) rules.limits = *limits;
  // A register configured for fewer PLUs than its model holds refuses the codes above.
  const long configured = l.config.maxPluCode;
  if (configured >= rules.limits.pluMin && configured < rules.limits.pluMax) rules.limits.pluMax = configured;
  return rules;
}

}  // namespace quorvel::elcom
