// The simulated POSNET register: its goods base, packagings, goods groups and sales
// statistics, the requests it answers, and the faults it is told to play. No I/O beyond its
// state file; posnet_sim puts it on a pseudo-terminal or a TCP port.
#pragma once

#include "sim/sim_faults.h"
#include "sim/sim_numbers.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "sim/posnet/frame.h"

namespace quorvel::posnetsim {

// Register errors travel as 0x430000 + the register's error number.
constexpr std::uint32_t kRegisterError = 0x430000;
constexpr std::uint32_t registerStatus(int n) { return kRegisterError + static_cast<std::uint32_t>(n); }
constexpr int kNoRecord = 903;
constexpr int kBadRecordNumber = 909;
constexpr int kNameNotUnique = 910;
constexpr int kNoPackaging = 911;
constexpr int kNoGroup = 912;
constexpr int kActiveLink = 938;
constexpr int kNonZeroStatistics = 944;
constexpr int kNoMoreRecords = 975;
constexpr int kBadValue = 400;
constexpr int kVatField = 2000;
constexpr int kMissingData = 3001;
constexpr int kTooLong = 6666;
// The library's own code for a command it does not know.
constexpr std::uint32_t kBadCommand = 0x10005;

struct Goods {
  std::string name;  // windows-1250
  std::string barcode;
  std::vector<std::string> extra;  // further barcodes
  long long price = 0;             // hundredths
  int vat = 0, group = 1, unit = 0, pack = 0;
  bool openPrice = false;
  long long quantity = 0;  // thousandths sold
  long long value = 0;     // hundredths sold
  bool hasStatistics() const { return quantity != 0 || value != 0; }
};

struct Packaging {
  std::string name;
  std::string barcode;
  std::vector<std::string> extra;
  long long price = 0;
  bool openPrice = false;
  long long soldQuantity = 0, soldValue = 0, returnedQuantity = 0, returnedValue = 0;
  bool hasStatistics() const { return soldQuantity || soldValue || returnedQuantity || returnedValue; }
};

// Where: hello, cmd:NAME, cmd:NAME@K, plu:N, answer:N; action: status:N, status:0xHEX, silence,
// lost, drop, done-drop, garble.
using quorvel::sim::Fault;

struct State {
  int goodsLimit = 65535;  // the read-out gives PLU numbers in 16 bits
  int packLimit = 100;
  std::map<int, std::string> groups{{1, "Ogólna"}};  // UTF-8: only shown, never sent
  std::map<int, Goods> goods;
  std::map<int, Packaging> packs;
  std::vector<Fault> faults;
  int delayMs = 0;  // every answer goes out this much later: a slow register
};

bool loadState(const std::string& path, State& s, std::string& error);
bool saveState(const std::string& path, const State& s);

using quorvel::sim::parseDecimal;

// How the register answers one request.
struct Answer {
  enum class Kind { kFrame, kSilence, kDrop, kGarble } kind = Kind::kFrame;
  Fields fields;  // status first
};

// One connection's read-out context and memory of its last insert.
struct Session {
  enum class Read { kNone, kGoods, kPacks, kGoodsStats, kPackStats } read = Read::kNone;
  int after = 0;  // the last PLU given
  int given = 0;  // records given in this read-out
  std::map<int, bool> lastInsertWasPack;
};

class Register {
 public:
  explicit Register(std::string statePath) : path_(std::move(statePath)) {}
  // Reads the state file again when someone else changed it since the last look.
  bool refresh(std::string& error);
  Answer handle(const Fields& request, Session& session);
  const State& state() const { return state_; }
  // Changes made by handle() wait in memory until flush() writes them to the state file: a
  // write per request would make a long import cost the square of its length.
  bool pending() const { return pending_; }
  void flush();

 private:
  std::uint32_t apply(const Fields& r, Session& session, Fields& results);
  std::uint32_t insertGoods(const Fields& r, Session& session);
  std::uint32_t insertPack(const Fields& r, Session& session);
  std::uint32_t read(const std::string& cmd, const Fields& r, Session& session, Fields& results);
  std::optional<Fault> takeFault(const std::vector<std::string>& wheres);
  void forgetName(int plu, const std::string& name);

  std::string path_;
  State state_;
  bool loaded_ = false;
  unsigned long long seenIno_ = 0;
  long long seenMtime_ = 0;
  bool dirty_ = false;
  bool pending_ = false;
  // The goods' PLUs by name, for the refusal of a name given twice; built by the first insert
  // after the state was read.
  std::map<std::string, std::set<int>> goodsByName_;
  bool namesKnown_ = false;
};

}  // namespace quorvel::posnetsim
