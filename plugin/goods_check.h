// Checks of a job's goods against what the register model can hold, made before anything is
// sent, from the limits the driver states in its description.
//
// A goods the register cannot hold as given is never sent as if it could: either the driver
// adapts the value the way it always does (a name cut to the register's length, characters the
// register lacks replaced by plain ones, a price cut to whole grosze) and the report names the
// goods under one warning per kind of change, or no adaptation can make the value right (a PLU
// out of range, a barcode with letters, an unknown unit, VAT rate or group, a missing name, a
// second goods with the same PLU) and the goods is skipped under one warning per reason. The
// rest of the job goes on.
//
// Every driver runs the same check at the start of its goods operations and asks the plan,
// while it walks the catalogue, which goods to leave out. A dry run runs the check alone and
// shows, goods by goods, what the register would hold.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/records.h"
#include "plugin/driver_description.h"

namespace quorvel::plugin {

// What an operation sends of the job's goods, and so which fields the checks look at.
enum class GoodsWork {
  None,         // nothing of the job's goods is sent (import, delete all, sales, connection)
  Send,         // goods are programmed: every field the register takes is checked
  PriceChange,  // PLU codes and prices
  Delete,       // PLU codes
};

// The work of a job operation (its name in windows-1250, compared exactly).
GoodsWork goodsWorkOf(const std::string& operacja);

// The kinds of findings, in the order their warnings stand in the report.
enum class GoodsFinding : unsigned {
  // Adaptations: the goods is sent changed as said.
  NameCharacters,   // characters the register lacks replaced by plain equivalents
  NameCut,          // the name cut to the register's length
  PriceFraction,    // a price finer than a grosz, cut to whole grosze
  // Skips: the goods is not sent.
  NameMissing,
  NameTooLong,      // longer than the register holds, and the driver does not cut names
  NameDuplicateByCut,
  PluRange,
  PackageRange,
  PluDuplicate,
  Barcode,
  Unit,
  VatMissing,
  Vat,
  Group,
  Link,
  Price,
  Count
};
inline constexpr std::size_t kGoodsFindings = static_cast<std::size_t>(GoodsFinding::Count);

// Whether a finding leaves the goods out.
constexpr bool skips(GoodsFinding f) { return f >= GoodsFinding::NameMissing; }

// What a register model can hold: the limits of its description, which the driver may narrow
// from its configuration (a configured PLU capacity), and the warning texts where the driver
// keeps a text of its own for a case (windows-1250; null: the usual text). A text may hold the
// printf conversions the usual text of its kind uses, in the same order.
struct GoodsRules {
  QuorvelFieldLimits limits{};
  std::array<const char*, kGoodsFindings> texts{};
  // A driver's own rule for one goods that the limits cannot state (a text the register's
  // line must not carry, more barcodes than it takes): null when the goods passes, else the
  // message text (windows-1250) and whether the goods is skipped or sent changed. Each such
  // finding is a message of its own naming the goods, reported after the grouped ones.
  struct Own {
    const char* text = nullptr;
    bool skips = false;
  };
  std::function<Own(const CTowar&, GoodsWork)> own;

  const char*& text(GoodsFinding f) { return texts[static_cast<std::size_t>(f)]; }
};

// The windows-1250 text as the register's code page holds it: printable ASCII and the 18
// Polish letters stay; every other character becomes its plain equivalent ("„" and "”" '"',
// "–" and "—" '-', "…" "...", "€" "EUR", "Š" 'S', "ä" 'a' ...), a control character a blank.
// `absentAscii`: ASCII characters the register lacks as well (plain ones are given for them).
std::string plainText(std::string_view cp1250, const char* absentAscii = nullptr);

// One line of a dry run (windows-1250).
using PlanLine = std::function<void(const std::string&)>;

class GoodsPlan {
 public:
  GoodsPlan() = default;

  // Walks every goods of the job's catalogue (`vexa`) and checks what `work` sends of it
  // against `rules`. Names whose characters the register lacks are replaced in the catalogue
  // by their plain form, so that the driver sends that. The warnings go to the report (one per
  // kind, naming the goods; a goods without Id is named by its PLU in a warning of its own).
  // With `show`, one line per goods says what the register will hold or why it is skipped.
  // Leaves the catalogue's cursor at its end.
  static GoodsPlan check(const GoodsRules& rules, GoodsWork work, const PlanLine& show = {});

  // Whether a goods the catalogue handed out is to be left out.
  bool skipped(const CTowar& t) const;
  std::size_t skippedCount() const { return skippedCount_; }
  // Goods sent changed (a finding of an adaptation kind).
  std::size_t adaptedCount() const { return adaptedCount_; }

 private:
  std::vector<bool> skipped_;  // by the goods' place in the catalogue's list
  std::size_t skippedCount_ = 0;
  std::size_t adaptedCount_ = 0;
};

// A dry run of the job's operation for a driver: the check of the job's goods with the lines
// of what each becomes, the warnings in the report as a run would make them. Returns the error
// number (0 when nothing stopped the check).
int dryRunGoods(const GoodsRules& rules, const PlanLine& show);

}  // namespace quorvel::plugin

extern "C" {
// The dry run's entry point every driver plug-in exports beside its operations:
//
//     int quorvel_dry_run(QuorvelPlanLineFn show, void* context);
//
// Called by the core instead of the plug-in's load handler and operation: the plug-in reads
// its configuration but opens no line and loads no vendor library, checks the job's goods as a
// run would (the same warnings go to the report) and calls `show` with one line per goods
// (windows-1250). Returns the error number.
typedef void (*QuorvelPlanLineFn)(void* context, const char* line);
}
#define QUORVEL_DRY_RUN_SYMBOL "quorvel_dry_run"
