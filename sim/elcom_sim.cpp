// elcom_sim: a simulated Elcom Euro cash register on a pseudo-terminal.
//
// It plays the device side of the Elcom link with the driver's own codec: hello, command,
// data and end frames, the PLU base, 50 packages and the sales counters. The register's state
// lives in a text file that survives between jobs and can be read and edited by people and
// tests; the file also holds faults to play (busy answers, refusals, silence, broken frames).
//
// `elcom_sim --help` describes its commands (kHelp below).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "drivers/elcom/protocol.h"
#include "drivers/elcom/records.h"
#include "platform/cp1250.h"
#include "sim/sim_command_line.h"
#include "sim/sim_faults.h"
#include "sim/sim_numbers.h"
#include "sim/state_file.h"

using namespace quorvel::elcom;

namespace {

// ---- Text --------------------------------------------------------------------------------

using quorvel::cp1250::fromUtf8;
using quorvel::cp1250::toUtf8;
using quorvel::sim::parseDecimal;

// ---- Register state ------------------------------------------------------------------------

struct Plu {
  PluDefinition def;
  std::uint32_t quantity = 0;  // thousandths sold
  long long value = 0;         // hundredths sold
};

struct Package {
  std::string name;
  std::uint32_t price = 0;
  std::uint32_t quantity = 0;
  long long value = 0;
};

// Where: hello, command:K, data:K, plu:CODE, end, answer:N; action: status:S, silence, start,
// checksum, cut, oversize, ragged, short, die.
using quorvel::sim::Fault;

struct State {
  int model = 1;
  int registerNumber = 1;
  std::optional<int> pluBase;   // answer of command 255; the model's capacity when not set
  std::optional<int> pluCount;  // answer of command 152; the highest programmed code when not set
  std::map<int, Plu> plus;
  Package packages[kPackageCount];
  std::vector<Fault> faults;
  int delayMs = 0;  // every answer goes out this much later: a slow register
  // PLU records taken over the line (programmed, refused or deleting), counted only in a state
  // file that holds the line "written N".
  std::optional<long long> pluWrites;

  State() {
    for (int i = 0; i < kPackageCount; ++i) packages[i].name = "Opakowanie " + std::to_string(i + 1);
  }
  const Model& modelRow() const { return modelByNumber(model); }
};

bool loadState(const std::string& path, State& s, std::string& error) {
  s = State();
  return quorvel::sim::readStateFile(path, error, [&s](std::string line) {
    if (quorvel::sim::skipStateLine(line)) return true;
    std::istringstream ls(line);
    std::string kind;
    ls >> kind;
    auto rest = [&ls]() {
      std::string r;
      std::getline(ls, r);
      if (!r.empty() && r[0] == ' ') r.erase(0, 1);
      return fromUtf8(r);
    };
    bool ok = true;
    if (kind == "model") {
      ok = static_cast<bool>(ls >> s.model) && s.model >= 1 && s.model <= kModelCount;
    } else if (kind == "register") {
      ok = static_cast<bool>(ls >> s.registerNumber);
    } else if (kind == "plubase") {
      int v = 0;
      ok = static_cast<bool>(ls >> v);
      s.pluBase = v;
    } else if (kind == "plucount") {
      int v = 0;
      ok = static_cast<bool>(ls >> v);
      s.pluCount = v;
    } else if (kind == "plu") {
      int code = 0;
      unsigned unit = 0, group = 0, tax = 0;
      std::uint32_t price = 0, quantity = 0;
      long long value = 0;
      std::string barcode;
      ok = static_cast<bool>(ls >> code >> unit >> group >> tax >> price >> quantity >> value >> barcode);
      if (ok) {
        Plu& p = s.plus[code];
        p.def.unit = static_cast<std::uint8_t>(unit);
        p.def.group = static_cast<std::uint8_t>(group);
        p.def.tax = static_cast<std::uint8_t>(tax);
        p.def.price = price;
        p.def.barcode = barcode == "-" ? "" : barcode;
        p.def.name = rest();
        p.quantity = quantity;
        p.value = value;
      }
    } else if (kind == "package") {
      int n = 0;
      Package p;
      ok = static_cast<bool>(ls >> n >> p.price >> p.quantity >> p.value) && n >= 1 && n <= kPackageCount;
      if (ok) {
        p.name = rest();
        s.packages[n - 1] = p;
      }
    } else if (kind == "delay") {
      ok = static_cast<bool>(ls >> s.delayMs) && s.delayMs >= 0;
    } else if (kind == "written") {
      long long v = 0;
      ok = static_cast<bool>(ls >> v) && v >= 0;
      s.pluWrites = v;
    } else if (kind == "fault") {
      Fault f;
      std::string count = "1";
      ok = static_cast<bool>(ls >> f.where >> f.action);
      ls >> count;
      ok = ok && quorvel::sim::parseFaultCount(count, f.count);
      if (ok && f.count != 0) s.faults.push_back(f);
    } else {
      ok = false;
    }
    return ok;
  });
}

bool saveState(const std::string& path, const State& s) {
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::trunc);
    if (!out) return false;
    out << "# Simulated Elcom register (elcom_sim). Lines:\n"
        << "#   plu CODE UNIT GROUP TAX PRICE/100 QUANTITY/1000 VALUE/100 BARCODE|- NAME\n"
        << "#   package N PRICE/100 QUANTITY/1000 VALUE/100 NAME\n"
        << "#   fault WHERE ACTION COUNT\n";
    out << "model " << s.model << "\nregister " << s.registerNumber << "\n";
    if (s.pluBase) out << "plubase " << *s.pluBase << "\n";
    if (s.pluCount) out << "plucount " << *s.pluCount << "\n";
    if (s.delayMs) out << "delay " << s.delayMs << "\n";
    if (s.pluWrites) out << "written " << *s.pluWrites << "\n";
    for (const auto& [code, p] : s.plus)
      out << "plu " << code << ' ' << unsigned(p.def.unit) << ' ' << unsigned(p.def.group) << ' ' << unsigned(p.def.tax)
          << ' ' << p.def.price << ' ' << p.quantity << ' ' << p.value << ' '
          << (p.def.barcode.empty() ? "-" : p.def.barcode) << ' ' << toUtf8(p.def.name) << "\n";
    for (int i = 0; i < kPackageCount; ++i) {
      const Package& p = s.packages[i];
      out << "package " << i + 1 << ' ' << p.price << ' ' << p.quantity << ' ' << p.value << ' ' << toUtf8(p.name)
          << "\n";
    }
    for (const Fault& f : s.faults)
      out << "fault " << f.where << ' ' << f.action << ' ' << quorvel::sim::faultCountText(f.count) << "\n";
    if (!out.flush()) return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

// ---- The line ------------------------------------------------------------------------------

volatile sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

// Quiet on the line this long and the register writes down what it took so far.
constexpr int kIdleMs = 20;

// The speed in bit/s of a termios speed code; 0 for one not listed.
long bitsPerSecond(speed_t code) {
  static const std::pair<speed_t, long> kSpeeds[] = {{B1200, 1200},   {B2400, 2400},    {B4800, 4800},
                                                     {B9600, 9600},   {B19200, 19200},  {B38400, 38400},
                                                     {B57600, 57600}, {B115200, 115200}};
  for (const auto& [c, bps] : kSpeeds)
    if (c == code) return bps;
  return 0;
}

class Line {
 public:
  Line(int master, int slave, long speed) : master_(master), slave_(slave), speed_(speed) {}

  // Next frame from the driver, or nothing after `timeoutMs` (-1: wait for ever) or a stop.
  // Bytes that cannot start a frame are dropped; a frame never arrives whole or at all.
  // `idle`, when given, runs once when the line has been quiet for kIdleMs.
  std::optional<Frame> receive(int timeoutMs, const std::function<void()>& idle = {}) {
    FrameReader reader(0x10000 + kHeaderSize);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    bool idled = !idle;
    for (;;) {
      while (!pending_.empty()) {
        const std::size_t used = reader.feed(pending_);
        pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
        if (reader.state() == FrameReader::State::kDone) {
          Frame f;
          f.type = reader.type();
          f.payload.assign(reader.payload().begin(), reader.payload().end());
          f.receivedChecksum = reader.receivedChecksum();
          return f;
        }
        if (reader.state() == FrameReader::State::kError) {
          // Resynchronise on the next start byte.
          if (used == 0 && !pending_.empty()) pending_.erase(pending_.begin());
          reader.reset();
        }
      }
      if (g_stop) return std::nullopt;
      pollfd p{master_, POLLIN, 0};
      int wait = 500;
      if (timeoutMs >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        wait = static_cast<int>(std::max<long long>(left.count(), 0));
      }
      if (!idled) wait = std::min(wait, kIdleMs);
      const int r = ::poll(&p, 1, wait);
      if (r < 0 && errno != EINTR) return std::nullopt;
      if (r <= 0) {
        if (r == 0 && !idled) {
          idled = true;
          idle();
        }
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        continue;
      }
      std::uint8_t buf[4096];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n > 0 && !atOurSpeed()) {
        // A register set to another speed than the driver's sees only noise, and answers none.
      } else if (n > 0) {
        pending_.insert(pending_.end(), buf, buf + n);
      } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
        ::usleep(20000);  // nobody on the other end yet
      }
    }
  }

  void send(const Bytes& frame) {
    std::size_t at = 0;
    while (at < frame.size()) {
      const ssize_t n = ::write(master_, frame.data() + at, frame.size() - at);
      if (n > 0) {
        at += static_cast<std::size_t>(n);
      } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
        return;
      } else {
        pollfd p{master_, POLLOUT, 0};
        ::poll(&p, 1, 100);
      }
    }
  }

  // Drops what the driver has not read yet (left over from an exchange it gave up).
  void flushToDriver() {
    if (slave_ >= 0) ::tcflush(slave_, TCIFLUSH);
  }

 private:
  // Whether the line runs at the register's speed: a pseudo-terminal carries the speed the
  // driver set on its end (read through the simulator's own hold on that end), though it
  // sends the bytes at any speed.
  bool atOurSpeed() const {
    if (speed_ == 0 || slave_ < 0) return true;
    termios t{};
    return ::tcgetattr(slave_, &t) == 0 && bitsPerSecond(::cfgetospeed(&t)) == speed_;
  }

  int master_;
  int slave_;
  long speed_;  // the register's speed; 0: any
  Bytes pending_;
};

// ---- The register --------------------------------------------------------------------------

class Register {
 public:
  Register(Line& line, std::string statePath) : line_(line), statePath_(std::move(statePath)) {}

  // Serves until stopped: every hello addressed to this register opens one command exchange.
  void run() {
    std::optional<Frame> pending;
    while (!g_stop) {
      const std::optional<Frame> f = pending ? std::exchange(pending, std::nullopt) : line_.receive(-1);
      if (f && f->type == kHello) pending = session(*f);
    }
  }

 private:
  static constexpr int kSessionTimeoutMs = 30000;

  // One command exchange. Returns a frame that ends it early (a new hello), if any.
  std::optional<Frame> session(const Frame& hello) {
    line_.flushToDriver();
    std::string error;
    if (!loadState(statePath_, state_, error)) {
      std::cerr << "elcom_sim: " << error << "\n";
      return std::nullopt;
    }
    dirty_ = false;
    names_.clear();
    for (const auto& [code, p] : state_.plus)
      if (p.def.programmed()) names_[p.def.name].insert(code);
    auto result = sessionBody(hello);
    commit();
    return result;
  }

  void commit() {
    if (dirty_ && !saveState(statePath_, state_)) std::cerr << "elcom_sim: cannot write " << statePath_ << "\n";
    dirty_ = false;
  }

  std::optional<Frame> sessionBody(const Frame& hello) {
    if (hello.payload.size() != 1 || hello.payload[0] != state_.registerNumber) return std::nullopt;  // not us
    if (!answer("hello", statusFrame(0))) return std::nullopt;

    std::optional<Frame> f = line_.receive(kSessionTimeoutMs);
    if (!f) return std::nullopt;
    if (f->type != kCommand) return f->type == kHello ? f : std::nullopt;
    CommandFields cmd;
    if (parseCommand(f->payload, cmd) != 0) return std::nullopt;
    command_ = cmd.command;
    const std::string where = "command:" + std::to_string(cmd.command);
    const Model& m = state_.modelRow();
    if (cmd.modelCode != m.code) {
      answer(where, statusFrame(10));
      return std::nullopt;
    }
    switch (cmd.command) {
      case kCheckShort:
      case kRegisterInfo:
      case kPluCount:
      case kReadPlu:
      case kReadPluSales:
      case kReadPackages: {
        if (!answer(where, statusFrame(0))) return std::nullopt;
        // The driver pauses, then says hello once more without waiting for an answer.
        f = line_.receive(kSessionTimeoutMs);
        if (!f || f->type != kHello) return f;
        return sendTransfer(dataFor(cmd));
      }
      case kProgramPlu:
      case kProgramPackages:
      case kClearSales:
        if (!answer(where, statusFrame(0))) return std::nullopt;
        return takeTransfer(cmd);
      default:
        answer(where, statusFrame(10));
        return std::nullopt;
    }
  }

  // Sends `frame`, unless a planned fault for `where` (or `alsoWhere`) changes it; returns the
  // fault's action, "" when the frame went out as it is.
  std::string play(const std::string& where, Bytes frame, const std::string& alsoWhere = "") {
    if (state_.delayMs > 0) ::usleep(static_cast<useconds_t>(state_.delayMs) * 1000);
    Fault* fault = dueAnswer();
    if (!fault) fault = findFault(where);
    if (!fault && !alsoWhere.empty()) fault = findFault(alsoWhere);
    if (!fault) {
      // An answer counted against a fault planned further on. PLU records of one transfer are
      // written together: when the line falls quiet, at the end frame or when the exchange
      // ends; a write per record would make a transfer cost the square of its length.
      if (!batching_) commit();
      line_.send(frame);
      return "";
    }
    const std::string action = fault->action;
    quorvel::sim::useFault(state_.faults, fault);
    dirty_ = true;
    commit();  // whoever reads the state after this answer sees the fault used up
    if (action.rfind("status:", 0) == 0) {
      line_.send(statusFrame(static_cast<std::uint8_t>(std::atoi(action.c_str() + 7))));
    } else if (action == "start") {
      // Only the wrong start byte: a driver stops reading at it, and nothing is left over on
      // the line for the next exchange.
      line_.send(Bytes{0xFD});
    } else if (action == "checksum") {
      frame[frame.size() - 1] ^= 0x5A;
      frame[frame.size() - 2] ^= 0x11;
      line_.send(frame);
    } else if (action == "cut") {
      frame.resize(frame.size() > 3 ? frame.size() - 3 : 1);
      line_.send(frame);
    } else if (action == "oversize" || action == "ragged" || action == "short") {
      // The same frame with a payload too long for any buffer of the driver, with one byte
      // more than whole records, or with half its payload.
      Bytes payload(frame.begin() + kHeaderSize, frame.end() - kChecksumSize);
      if (action == "oversize") payload.resize(payload.size() + kCapTransfer, 0);
      if (action == "ragged") payload.push_back(0);
      if (action == "short") payload.resize(payload.size() / 2);
      line_.send(buildFrame(frame[1], payload));
    } else if (action == "die") {
      ::_exit(0);  // switched off before answering: what it did so far is saved, the line is gone
    } else if (action != "silence") {
      line_.send(frame);
    }
    return action;
  }

  // The frame went out (perhaps with a wrong sum) and the exchange goes on.
  static bool goesOn(const std::string& action) {
    return action.empty() || action == "checksum" || action == "status:0" || action == "ragged" || action == "short";
  }
  bool answer(const std::string& where, Bytes frame) { return goesOn(play(where, std::move(frame))); }

  // Counts one answer against the faults planned as "answer:N" (the Nth answer from now, across
  // command exchanges); returns the one that falls due with this answer.
  Fault* dueAnswer() {
    Fault* due = nullptr;
    for (Fault& f : state_.faults) {
      if (f.where.rfind("answer:", 0) != 0) continue;
      const int n = std::atoi(f.where.c_str() + 7);
      if (n > 1) {
        f.where = "answer:" + std::to_string(n - 1);
        dirty_ = true;
      } else if (!due) {
        due = &f;
      }
    }
    return due;
  }

  Fault* findFault(const std::string& where) {
    return quorvel::sim::findFault(state_.faults, where);
  }

  // Payloads of the data frames that answer a command.
  std::vector<Bytes> dataFor(const CommandFields& cmd) {
    const Model& m = state_.modelRow();
    const bool lr = m.longRecords;
    std::vector<Bytes> frames;
    switch (cmd.command) {
      case kCheckShort: {
        const std::string id = std::string("ELCOM ") + m.jobName;
        frames.emplace_back(id.begin(), id.end());
        break;
      }
      case kRegisterInfo: {
        Bytes info(40, 0);
        const std::string id = "ELCOM EURO 2100TX";
        std::copy(id.begin(), id.end(), info.begin());
        const int base = state_.pluBase.value_or(m.pluCapacity);
        info[kInfoPluBaseOffset] = static_cast<std::uint8_t>(base);
        info[kInfoPluBaseOffset + 1] = static_cast<std::uint8_t>(base >> 8);
        frames.push_back(info);
        break;
      }
      case kPluCount: {
        const int count = state_.pluCount.value_or(state_.plus.empty() ? 0 : state_.plus.rbegin()->first);
        frames.push_back(Bytes{static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8)});
        break;
      }
      case kReadPlu: {
        std::vector<Bytes> records;
        for (int code = cmd.arg1 + 1; code <= cmd.arg1 + cmd.arg2; ++code) {
          auto it = state_.plus.find(code);
          records.push_back(encodePluDefinition(it == state_.plus.end() ? PluDefinition{"", "", 0, 0, 0, 0} : it->second.def, lr));
        }
        chunk(records, kTransferPrefix, pluDefinitionSize(lr), frames);
        break;
      }
      case kReadPluSales: {
        // Every programmed PLU up to the count the driver names, its counters as they stand.
        std::vector<Bytes> records;
        for (const auto& [code, p] : state_.plus) {
          if (code < 1 || code > cmd.arg1) continue;
          CounterRecord r{static_cast<std::uint16_t>(code - 1), p.def.barcode, p.def.name, p.def.price,
                          static_cast<double>(p.value), p.quantity};
          records.push_back(encodePluSales(r, lr));
        }
        chunk(records, kTransferPrefix, pluSalesSize(lr), frames);
        break;
      }
      case kReadPackages: {
        std::vector<Bytes> records;
        for (const Package& p : state_.packages)
          records.push_back(encodePackage(CounterRecord{0, "", p.name, p.price, static_cast<double>(p.value), p.quantity}, lr));
        chunk(records, 0, packageSize(lr), frames);
        break;
      }
      default:
        break;
    }
    return frames;
  }

  // Packs records into data frames that fit the driver's 4000-byte receive buffer.
  static void chunk(const std::vector<Bytes>& records, std::size_t prefix, std::size_t size, std::vector<Bytes>& frames) {
    const std::size_t perFrame = (kCapTransfer - kHeaderSize - prefix) / size;
    for (std::size_t at = 0; at < records.size(); at += perFrame) {
      const std::size_t n = std::min(perFrame, records.size() - at);
      Bytes payload;
      if (prefix == kTransferPrefix) {
        payload.push_back(static_cast<std::uint8_t>(n));
        payload.push_back(static_cast<std::uint8_t>(n >> 8));
      }
      for (std::size_t i = 0; i < n; ++i) payload.insert(payload.end(), records[at + i].begin(), records[at + i].end());
      frames.push_back(std::move(payload));
    }
  }

  // Register to driver: each data frame waits for the acknowledgement, then the end frame,
  // which the driver answers with its own.
  std::optional<Frame> sendTransfer(const std::vector<Bytes>& payloads) {
    const std::string where = "data:" + std::to_string(command_);
    for (const Bytes& p : payloads) {
      if (!answer(where, buildFrame(kData, p))) return std::nullopt;
      std::optional<Frame> f = line_.receive(kSessionTimeoutMs);
      if (!f || f->type != kStatus) return f && f->type == kHello ? f : std::nullopt;
    }
    if (!answer("end", endFrame())) return std::nullopt;
    std::optional<Frame> f = line_.receive(kSessionTimeoutMs);
    if (f && f->type == kHello) return f;
    return std::nullopt;
  }

  // Driver to register: data frames each answered with a status, until the end frame.
  std::optional<Frame> takeTransfer(const CommandFields& cmd) {
    const std::string where = "data:" + std::to_string(cmd.command);
    const bool lr = state_.modelRow().longRecords;
    for (;;) {
      std::optional<Frame> f = line_.receive(kSessionTimeoutMs, [this] { commit(); });
      if (!f) return std::nullopt;
      if (f->type == kEnd) {
        commit();
        answer("end", endFrame());
        return std::nullopt;
      }
      if (f->type != kData) return f->type == kHello ? f : std::nullopt;
      std::uint8_t status = 0;
      std::string pluWhere;
      // A planned fault comes first; the record is applied only when the register takes it.
      std::uint16_t seq = 0, code = 0;
      PluDefinition plu;
      PackagePrices prices{};
      int bad = 0;
      if (cmd.command == kProgramPlu) {
        bad = decodeSentPlu(f->payload, lr, seq, code, plu);
        if (bad == 0) pluWhere = "plu:" + std::to_string(code);
      } else if (cmd.command == kProgramPackages) {
        bad = decodePackagePrices(f->payload, prices);
      } else {
        bad = f->payload == salesClearingPayload() ? 0 : kBadData;
      }
      const Fault* planned = pluWhere.empty() ? nullptr : findFault(pluWhere);
      if (!planned) planned = findFault(where);
      const bool applies = !planned || planned->action == "checksum" || planned->action == "status:0";
      if (bad != 0) {
        status = 1;  // not understood, as after a garbled line: the driver may send it again
      } else if (applies && cmd.command == kProgramPlu) {
        status = programPlu(code, plu);
      } else if (applies && cmd.command == kProgramPackages) {
        for (int i = 0; i < kPackageCount; ++i) state_.packages[i].price = prices[static_cast<std::size_t>(i)];
        dirty_ = true;
      } else if (applies) {
        // The register clears its PLU counters only; packages need a report of their own.
        for (auto& [c, p] : state_.plus) {
          p.quantity = 0;
          p.value = 0;
        }
        dirty_ = true;
      }
      batching_ = cmd.command == kProgramPlu;
      const std::string action = pluWhere.empty() ? play(where, statusFrame(status)) : play(pluWhere, statusFrame(status), where);
      batching_ = false;
      if (action == "silence" || action == "start" || action == "cut") return std::nullopt;
    }
  }

  static constexpr int kTaxMin = 1;
  static constexpr int kTaxMax = 7;

  // Applies one PLU record of command 29; returns the register's status: 11 for a code beyond
  // the model's capacity, 6, 4 and 26 for a unit, tax or barcode byte the register does not
  // take, 8 for a price beyond its display, 18 for a name another PLU has.
  std::uint8_t programPlu(std::uint16_t code, const PluDefinition& plu) {
    const Model& m = state_.modelRow();
    if (state_.pluWrites) {
      ++*state_.pluWrites;
      dirty_ = true;
    }
    if (code < 1 || code > m.pluCapacity) return 11;
    if (plu.group == 0 && plu.tax == 0) {  // a deletion record
      if (auto it = state_.plus.find(code); it != state_.plus.end()) {
        forgetName(code, it->second.def);
        state_.plus.erase(it);
      }
      dirty_ = true;
      return 0;
    }
    // What the register's tables hold: units 1 to 8 in bits 7..5 (bits 4 and 3 set), the tax
    // rates A to G as indexes 1 to 7 (bits 3..1 set), barcode digits 0 to 9.
    if ((plu.unit & 0x1F) != 0x18) return 6;
    if (taxFromByte(plu.tax) < kTaxMin || taxFromByte(plu.tax) > kTaxMax || (plu.tax & 0x0E) != 0x0E) return 4;
    if (plu.barcode.find_first_not_of("0123456789") != std::string::npos) return 26;
    if (plu.price > 99999999) return 8;
    if (auto it = names_.find(plu.name); it != names_.end())
      for (int other : it->second)
        if (other != code) return 18;
    Plu& p = state_.plus[code];
    forgetName(code, p.def);
    p.def = plu;
    if (p.def.programmed()) names_[p.def.name].insert(code);
    dirty_ = true;
    return 0;
  }

  void forgetName(int code, const PluDefinition& def) {
    auto it = names_.find(def.name);
    if (it == names_.end()) return;
    it->second.erase(code);
    if (it->second.empty()) names_.erase(it);
  }

  Line& line_;
  std::string statePath_;
  State state_;
  bool dirty_ = false;
  bool batching_ = false;  // answering a PLU record: its write waits for the transfer's end
  // The programmed PLUs by name, for the register's refusal of a name given twice.
  std::map<std::string, std::set<int>> names_;
  std::uint8_t command_ = 0;
};

// ---- Commands ------------------------------------------------------------------------------

struct Options {
  std::string state;
  std::string link;
  std::optional<int> model;
  std::optional<int> registerNumber;
  long speed = 0;
  std::vector<std::string> args;
};

const char* const kHelp = R"(Usage: elcom_sim COMMAND --state FILE [OPTIONS] [ARGUMENTS]

A simulated Elcom Euro cash register for tests and the demo. It answers the quorvel_elcom
driver on a pseudo-terminal and keeps its PLUs, its 50 packages, its sales counters and the
faults it is to play in the state FILE, a text file that lasts from job to job.

Commands:
  init        write a fresh state file (no PLUs, packages without prices, no faults)
  serve       answer the driver on a new pseudo-terminal until terminated (SIGTERM, Ctrl-C);
              prints the terminal's path, or the link made with --link; the state file is
              read for every command and written after every change
  sell plu CODE QUANTITY VALUE
              add a sale of a programmed PLU to its counters, e.g. sell plu 1 1.5 3.75
  sell package N QUANTITY VALUE
              the same for package N (1 to 50)
  fault WHERE ACTION [COUNT]
              play a fault the next COUNT times (default 1; "always" for every time) that
              WHERE is reached:
                WHERE   hello, command:K (command code K), data:K (data frames of command
                        K), plu:CODE (the PLU record of CODE), end, or answer:N (the
                        Nth frame the register sends from now on, whatever it answers)
                ACTION  status:S (answer with status S), silence (no answer), start (wrong
                        start byte), checksum (wrong sum), cut (frame cut short), oversize
                        (payload longer than any receive buffer), ragged (one byte more
                        than whole records), short (half the payload), die (no answer,
                        and serve ends at once, as a register switched off)
  fault clear forget every planned fault
  delay MS    answer every frame MS milliseconds late, as a slow register (0: at once)
  fill COUNT  program PLUs 1 to COUNT ("Towar N"), at most the model's capacity
  show        print the register: model, PLUs, packages with prices or sales, faults

Options:
  --state FILE   the register's state file (required)
  --link PATH    serve: a symbolic link to the terminal at PATH (removed at the end)
  --model N      Elcom model 1 to 7 (default 1), numbered in the order in which
                 'quorvel --help' lists the quorvel_elcom models
  --register N   the register number answered in hello frames (default 1)
  --speed BPS    serve: the register's speed (9600 or 38400); the driver is answered only
                 while its end of the terminal is set to it, as a register at another speed
                 than the line's hears only noise (default: any speed)
  --help         show this text
  --version      show the version

The state file holds one item a line: "model N", "register N", "plubase N" (the PLU base
size answered to command 255), "plucount N" (answer to command 152), "delay MS", "written N" (PLU
records taken over the line since; counted only when the file holds this line), "plu CODE UNIT GROUP
TAX PRICE QUANTITY VALUE BARCODE NAME", "package N PRICE QUANTITY VALUE NAME" and
"fault WHERE ACTION COUNT"; lines starting with # are comments.

Like the register, it refuses a PLU record (command 29) with a code beyond the model's PLU
capacity (status 11), a unit byte other than units 1 to 8 (6), a tax index other than the
rates 1 to 7 (4), a barcode with nibbles other than 0 to 9 (26), a price above 999999.99 (8)
and a name another PLU has (18); a record with group and tax bytes 0 deletes the PLU.

Exit status: 0 on success, 1 when the state file cannot be read or written or a PLU is not
programmed, 2 for a bad command line.
)";

const char* const kUsage =
    "usage: elcom_sim init|serve|sell|fault|delay|fill|show --state FILE [--link PATH] [--model N] [--register N] "
    "[--speed BPS] [arguments]\nTry 'elcom_sim --help'.\n";

int usage() {
  std::cerr << kUsage;
  return 2;
}

int openTerminal(const Options& o) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    std::perror("elcom_sim: pseudo-terminal");
    return 1;
  }
  const char* name = ::ptsname(master);
  if (!name) return 1;
  const std::string path = name;
  // The simulator keeps its own hold on the terminal's end: the line stays up between jobs,
  // and it can drop bytes a driver left unread.
  const int slave = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  if (slave >= 0 && ::tcgetattr(slave, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
  }
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  std::string shown = path;
  if (!o.link.empty()) {
    ::unlink(o.link.c_str());
    if (::symlink(path.c_str(), o.link.c_str()) != 0) {
      std::perror("elcom_sim: link");
      return 1;
    }
    shown = o.link;
  }
  std::cout << shown << std::endl;

  struct sigaction sa{};
  sa.sa_handler = onSignal;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  Line line(master, slave, o.speed);
  Register reg(line, o.state);
  reg.run();
  if (!o.link.empty()) ::unlink(o.link.c_str());
  return 0;
}

// UTF-8 text padded with blanks to `width` characters (not bytes), for aligned columns.
std::string padded(const std::string& utf8, std::size_t width) {
  std::size_t chars = 0;
  for (unsigned char c : utf8)
    if ((c & 0xC0) != 0x80) ++chars;
  return chars >= width ? utf8 : utf8 + std::string(width - chars, ' ');
}

int show(const State& s) {
  const Model& m = s.modelRow();
  std::cout << "Model " << m.number << " (" << m.jobName << "), register " << s.registerNumber << ", "
            << s.plus.size() << " PLU\n";
  for (const auto& [code, p] : s.plus) {
    std::printf("PLU %5d  %s  kod %-18s  cena %u.%02u  VAT %d  grupa %d  jm %d%s  sprzedaż %u.%03u szt. %lld.%02lld\n",
                code, padded(toUtf8(p.def.name), 20).c_str(), p.def.barcode.c_str(), p.def.price / 100, p.def.price % 100,
                taxFromByte(p.def.tax), p.def.group & 0x7F, unitFromByte(p.def.unit),
                openPriceFromByte(p.def.group) ? "  cena otwarta" : "", p.quantity / 1000, p.quantity % 1000,
                p.value / 100, std::llabs(p.value % 100));
  }
  for (int i = 0; i < kPackageCount; ++i) {
    const Package& p = s.packages[i];
    if (p.price == 0 && p.quantity == 0 && p.value == 0) continue;
    std::printf("Opakowanie %2d  %s  cena %u.%02u  sprzedaż %u.%03u szt. %lld.%02lld\n", i + 1,
                padded(toUtf8(p.name), 20).c_str(), p.price / 100, p.price % 100, p.quantity / 1000, p.quantity % 1000,
                p.value / 100, std::llabs(p.value % 100));
  }
  for (const Fault& f : s.faults) std::cout << "fault " << f.where << ' ' << f.action << ' ' << f.count << "\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  quorvel::sim::CommandLineRules rules{kHelp, kUsage, {}, {}, {}, {}};
  rules.valued["--link"] = [&](const std::string& v) { return o.link = v, true; };
  rules.valued["--model"] = [&](const std::string& v) { return o.model = std::atoi(v.c_str()), true; };
  rules.valued["--register"] = [&](const std::string& v) { return o.registerNumber = std::atoi(v.c_str()), true; };
  rules.onlyFor = {{"--link", "serve"}, {"--model", "init serve"}, {"--register", "init serve"}, {"--speed", "serve"}};
  rules.valued["--speed"] = [&](const std::string& v) {
    o.speed = std::atol(v.c_str());
    return o.speed == 9600 || o.speed == 38400;
  };
  quorvel::sim::CommandLine line;
  if (const int rc = quorvel::sim::readCommandLine(argc, argv, rules, line); rc >= 0) return rc;
  const std::string& verb = line.command;
  o.state = line.state;
  o.args = line.args;
  if (o.model && (*o.model < 1 || *o.model > kModelCount)) {
    std::cerr << "elcom_sim: model must be 1 to " << kModelCount << "\n";
    return 2;
  }

  State s;
  std::string error;
  const bool exists = ::access(o.state.c_str(), F_OK) == 0;
  if (verb != "init" && exists && !loadState(o.state, s, error)) {
    std::cerr << "elcom_sim: " << error << "\n";
    return 1;
  }
  if (o.model) s.model = *o.model;
  if (o.registerNumber) s.registerNumber = *o.registerNumber;

  if (verb == "init" || verb == "serve") {
    if (!saveState(o.state, s)) {
      std::cerr << "elcom_sim: cannot write " << o.state << "\n";
      return 1;
    }
    return verb == "serve" ? openTerminal(o) : 0;
  }
  if (verb == "show") return show(s);
  if (verb == "sell") {
    long long quantity = 0, value = 0;
    if (o.args.size() != 4 || !parseDecimal(o.args[2], 1000, quantity) || !parseDecimal(o.args[3], 100, value))
      return usage();
    const int n = std::atoi(o.args[1].c_str());
    if (o.args[0] == "plu") {
      auto it = s.plus.find(n);
      if (it == s.plus.end()) {
        std::cerr << "elcom_sim: PLU " << n << " is not programmed\n";
        return 1;
      }
      it->second.quantity = static_cast<std::uint32_t>(it->second.quantity + quantity);
      it->second.value += value;
    } else if (o.args[0] == "package" && n >= 1 && n <= kPackageCount) {
      s.packages[n - 1].quantity = static_cast<std::uint32_t>(s.packages[n - 1].quantity + quantity);
      s.packages[n - 1].value += value;
    } else {
      return usage();
    }
  } else if (verb == "fault") {
    if (!quorvel::sim::faultCommand(o.args, s.faults)) return usage();
  } else if (verb == "delay") {
    if (o.args.size() != 1 || std::atoi(o.args[0].c_str()) < 0) return usage();
    s.delayMs = std::atoi(o.args[0].c_str());
  } else if (verb == "fill") {
    if (o.args.size() != 1) return usage();
    const int count = std::atoi(o.args[0].c_str());
    for (int code = 1; code <= count && code <= s.modelRow().pluCapacity; ++code) {
      Plu& p = s.plus[code];
      p.def.name = "Towar " + std::to_string(code);
      p.def.barcode = std::to_string(5900000000000LL + code);
      p.def.unit = unitByte(1);
      p.def.group = groupByte(false, std::string("1"), false);
      p.def.tax = taxByte(1, true, false);
      p.def.price = static_cast<std::uint32_t>(100 + code % 1000);
    }
  } else {
    return usage();
  }
  if (!saveState(o.state, s)) {
    std::cerr << "elcom_sim: cannot write " << o.state << "\n";
    return 1;
  }
  return 0;
}
