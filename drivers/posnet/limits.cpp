// The limits of the POSNET registers, as the register and the vendor libraries set them:
// - names: the register keeps 40 characters and refuses a longer name ("zbyt długi łańcuch");
//   names are not cut, so a longer one is skipped;
// - PLU numbers: goods 1 to 65535 (the read-out gives them in 16 bits), deposit packages 1 to
//   100;
// - barcodes: digits only, at most 20 each;
// - the library takes unit and group as one byte each (0 to 255); a number beyond a byte would
//   reach the register as another unit or group, so it is refused before;
// - VAT rates 0 to 6 (the register's rates A to G);
// - KO is the PLU of the deposit package linked to the goods (0 or empty: none), sent as its
//   decimal value: a KO that is no number is refused, never sent as 0;
// - prices 0.00 to 999999.99;
// - the register's texts are windows-1250 with the Polish letters; other characters go as
//   their plain equivalents;
// - packages take name, barcodes, price and CO only.
#include "drivers/posnet/limits.h"

#include <string>

#include "core/globals.h"
#include "core/xml/vexa_xml.h"
#include "drivers/posnet/config_form.h"
#include "drivers/posnet/goods.h"
#include "drivers/posnet/link.h"
#include "drivers/posnet/models.h"
#include "platform/cp1250.h"
#include "platform/cp1250.h"

namespace quorvel::posnet {

namespace {

constexpr QuorvelFieldMeaning kMeanings[] = {
    {"Ty", "T goods, O deposit package (a returnable bottle or crate)"},
    {"KP", "PLU number: goods 1-65535, packages 1-100"},
    {"Na", "name, at most 40 characters (a longer name is skipped, not cut); characters other than ASCII and "
           "the Polish letters go as plain ones („” as \", € as EUR)"},
    {"KK", "barcode, digits only, at most 20"},
    {"DK", "further barcodes, digits only, at most 20 each; goods keep the first 9 (10 codes with KK), "
           "packages all"},
    {"Ce", "price (the first Ce), 0.00-999999.99, kept in whole grosze"},
    {"CO", "1: the price may be entered at the till; 0 or not given: fixed price"},
    {"Va", "VAT rate number 0-6 (the register's rates A-G); 0 when not given"},
    {"Gr", "goods group number the register knows, 0-255; 1 when not given"},
    {"JM", "unit number 0-255; 0 when not given"},
    {"KO", "PLU of the deposit package linked to the goods, 0-100 (0 or empty: none); not a goods group"},
};

constexpr QuorvelFieldLimits kCombo = {
    .size = sizeof(QuorvelFieldLimits),
    .nameLength = 40,
    .pluMin = 1,
    .pluMax = 65535,
    .packageMin = 1,
    .packageMax = 100,
    .barcodeDigits = 20,
    .unitMin = 0,
    .unitMax = 255,
    .vatMin = 0,
    .vatMax = 6,
    .groupMin = 0,
    .groupMax = 255,
    .priceMin = 0,
    .priceMax = 99999999,
    .codePage = "windows-1250 (Polish letters)",
    .meanings = kMeanings,
    .meaningCount = sizeof kMeanings / sizeof kMeanings[0],
    .flags = QUORVEL_LIMIT_NAME_REQUIRED,
    .groupField = "Gr",
    .linkMin = 0,
    .linkMax = 100,
    .goodsFields = QUORVEL_FIELD_ALL,
    .packageFields = QUORVEL_FIELD_NA | QUORVEL_FIELD_KK | QUORVEL_FIELD_DK | QUORVEL_FIELD_CE,
    .absentAscii = nullptr,
};

struct ModelLimits {
  const char* model;
  const QuorvelFieldLimits* limits;
};
constexpr ModelLimits kModels[] = {{"Quorvel_Posnet_Combo", &kCombo}};
static_assert(sizeof kModels / sizeof kModels[0] == sizeof kModelNames / sizeof kModelNames[0],
              "every model of the list has its limits");

}  // namespace

const QuorvelFieldLimits* limitsOf(std::string_view model) {
  for (const ModelLimits& m : kModels)
    if (model == m.model) return m.limits;
  return nullptr;
}

plugin::GoodsRules goodsRules() {
  plugin::GoodsRules rules;
  // The load has refused every model not on the list.
  if (const QuorvelFieldLimits* limits = vexa ? limitsOf(vexa->GetIdModelu()) : nullptr) rules.limits = *limits;
  // The register's own refusals of a PLU out of range keep their texts.
  rules.text(plugin::GoodsFinding::PluRange) = "Kod PLU towaru poza dopuszczalnym zakresem - towar nie został przesłany"_cp;
  rules.text(plugin::GoodsFinding::PackageRange) =
      "Kod PLU opakowania poza dopuszczalnym zakresem - opakowanie nie zostało przesłane"_cp;
  // The driver's own rules of a send, each a message of its own naming the goods: under the
  // MPX4s multiplexer the line takes "$$$" for its switching command, so such a name is not
  // sent; goods take ten barcodes, so further ones beyond nine are dropped.
  rules.own = [](const CTowar& t, plugin::GoodsWork work) {
    plugin::GoodsRules::Own own;
    if (work != plugin::GoodsWork::Send) return own;
    const bool package = !t.Ty_brak && t.Ty == 'O';
    if (link().config.muxType == kMuxMpx4s && !t.Na_brak && t.Na.find("$$$") != std::string::npos) {
      own.text = package ? "Nazwa opakowania zawiera niedozwolony ciąg znaków - opakowanie pominięto."_cp
                         : "Nazwa towaru zawiera niedozwolony ciąg znaków - towar pominięto."_cp;
      own.skips = true;
    } else if (!package && furtherBarcodes(t.DK_brak ? std::string() : t.DK).size() > kGoodsFurtherBarcodes) {
      own.text = "Zbyt dużo dodatkowych kodów kreskowych - zaprogramowano tylko 10 pierwszych"_cp;
    }
    return own;
  };
  return rules;
}

}  // namespace quorvel::posnet
