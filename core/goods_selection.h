// What the host may learn of the loaded job's goods and leave out of it before the operation
// runs: the goods the register confirmed earlier, unchanged since, need not be sent again.
//
// Both functions are exported by the core under the names below and looked up by the host,
// which does not link against the core. Texts are windows-1250.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::contract {

// The header of the loaded job.
struct JobHeader {
  std::string operacja;
  std::string idModelu;
  std::string idTowaru;
  std::string idOpakowania;
};

// One goods of the loaded job.
struct JobGoods {
  std::uint32_t id = 0;  // Id, when hasId
  bool hasId = false;
  char type = 'T';         // Ty: 'O' packaging, anything else goods
  std::uint32_t plu = 0;   // KP, when hasPlu
  bool hasPlu = false;
  std::string record;    // every field given, as PROG_KOM.XML writes a full goods record
};

using JobGoodsFn = void (*)(void* context, const JobGoods& goods);

// Quorvel_jobGoods(header, show, context): fills `header` (when not null) and calls `show`
// once for every goods of the job, in list order. False when no job is loaded.
inline constexpr const char* kJobGoods = "Quorvel_jobGoods";
using JobGoodsListFn = bool (*)(JobHeader* header, JobGoodsFn show, void* context);

// Quorvel_leaveOutGoods(send): `send` holds one flag per goods in the order Quorvel_jobGoods
// showed them. Every goods whose flag is zero is left out of the operation: taken from the
// catalogue, confirmed in PROG_KOM.XML by its identifier as the register holds it already,
// and counted in a notice of the report. A job whose goods are all left out then runs as one
// with nothing to send: OK, without the warning of a job that brought no goods. Returns how
// many were left out, -1 when no job is loaded. Called once, before Quorvel_run.
inline constexpr const char* kLeaveOutGoods = "Quorvel_leaveOutGoods";
using LeaveOutGoodsFn = long (*)(const std::vector<char>& send);

}  // namespace quorvel::contract
