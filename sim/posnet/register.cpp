#include "sim/posnet/register.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/cp1250.h"
#include "sim/state_file.h"

namespace quorvel::posnetsim {
namespace {

using quorvel::cp1250::fromUtf8;
using quorvel::cp1250::toUtf8;

// The state file is tab-separated; a backslash escapes tab, line feed, carriage return and
// itself, so names and barcode lists of any bytes survive.
std::string escape(const std::string& s) {
  std::string o;
  for (char c : s) {
    switch (c) {
      case '\\': o += "\\\\"; break;
      case '\t': o += "\\t"; break;
      case '\n': o += "\\n"; break;
      case '\r': o += "\\r"; break;
      default: o += c;
    }
  }
  return o;
}

std::string unescape(const std::string& s) {
  std::string o;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      o += s[i];
      continue;
    }
    const char c = s[++i];
    o += c == 't' ? '\t' : c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return o;
}

std::vector<std::string> splitTabs(const std::string& line) {
  std::vector<std::string> out;
  std::size_t at = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', at);
    out.push_back(unescape(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at)));
    if (tab == std::string::npos) return out;
    at = tab + 1;
  }
}

bool toInt(const std::string& s, long long& out) {
  if (s.empty() || s.size() > 18) return false;
  std::size_t i = s[0] == '-' ? 1 : 0;
  if (i == s.size()) return false;
  long long v = 0;
  for (; i < s.size(); ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
    v = v * 10 + (s[i] - '0');
  }
  out = s[0] == '-' ? -v : v;
  return true;
}

bool toInt(const std::string& s, int& out) {
  long long v = 0;
  if (!toInt(s, v) || v < -2147483647LL || v > 2147483647LL) return false;
  out = static_cast<int>(v);
  return true;
}

std::vector<std::string> splitLines(const std::string& s) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at <= s.size() && !s.empty()) {
    const std::size_t lf = s.find('\n', at);
    std::string part = s.substr(at, lf == std::string::npos ? std::string::npos : lf - at);
    if (!part.empty() && part.back() == '\r') part.pop_back();
    if (!part.empty()) out.push_back(part);
    if (lf == std::string::npos) break;
    at = lf + 1;
  }
  return out;
}

std::string joinLines(const std::vector<std::string>& v) {
  std::string o;
  for (const std::string& s : v) o += (o.empty() ? "" : "\n") + s;
  return o;
}

}  // namespace

bool loadState(const std::string& path, State& s, std::string& error) {
  s = State();
  return sim::readStateFile(path, error, [&s](std::string line) {
    if (sim::skipStateLine(line)) return true;
    const std::vector<std::string> f = splitTabs(line);
    bool ok = false;
    if (f[0] == "limits" && f.size() == 3) {
      ok = toInt(f[1], s.goodsLimit) && toInt(f[2], s.packLimit);
    } else if (f[0] == "delay" && f.size() == 2) {
      ok = toInt(f[1], s.delayMs) && s.delayMs >= 0;
    } else if (f[0] == "group" && f.size() == 3) {
      int n = 0;
      ok = toInt(f[1], n);
      if (ok) s.groups[n] = f[2];
    } else if (f[0] == "goods" && f.size() == 13) {
      int plu = 0, open = 0;
      Goods g;
      ok = toInt(f[1], plu) && toInt(f[2], g.price) && toInt(f[3], g.vat) && toInt(f[4], g.group) &&
           toInt(f[5], g.unit) && toInt(f[6], g.pack) && toInt(f[7], open) && toInt(f[8], g.quantity) &&
           toInt(f[9], g.value);
      if (ok) {
        g.openPrice = open != 0;
        g.barcode = f[10];
        g.extra = splitLines(f[11]);
        g.name = fromUtf8(f[12]);
        s.goods[plu] = g;
      }
    } else if (f[0] == "pack" && f.size() == 11) {
      int plu = 0, open = 0;
      Packaging p;
      ok = toInt(f[1], plu) && toInt(f[2], p.price) && toInt(f[3], open) && toInt(f[4], p.soldQuantity) &&
           toInt(f[5], p.soldValue) && toInt(f[6], p.returnedQuantity) && toInt(f[7], p.returnedValue);
      if (ok) {
        p.openPrice = open != 0;
        p.barcode = f[8];
        p.extra = splitLines(f[9]);
        p.name = fromUtf8(f[10]);
        s.packs[plu] = p;
      }
    } else if (f[0] == "fault" && f.size() == 4) {
      Fault fault{f[1], f[2], 1};
      ok = sim::parseFaultCount(f[3], fault.count);
      if (ok && fault.count != 0) s.faults.push_back(fault);
    }
    return ok;
  });
}

bool saveState(const std::string& path, const State& s) {
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << "# Simulated POSNET register (posnet_sim), tab-separated. Lines:\n"
        << "#   limits\tGOODS\tPACKAGINGS\n"
        << "#   group\tN\tNAME\n"
        << "#   goods\tPLU\tPRICE/100\tVAT\tGROUP\tUNIT\tPACK\tOPEN\tQUANTITY/1000\tVALUE/100\tBARCODE\tFURTHER\tNAME\n"
        << "#   pack\tPLU\tPRICE/100\tOPEN\tSOLD/1000\tSOLDVALUE/100\tRETURNED/1000\tRETURNEDVALUE/100\tBARCODE\t"
           "FURTHER\tNAME\n"
        << "#   fault\tWHERE\tACTION\tCOUNT\n";
    out << "limits\t" << s.goodsLimit << '\t' << s.packLimit << '\n';
    if (s.delayMs) out << "delay\t" << s.delayMs << '\n';
    for (const auto& [n, name] : s.groups) out << "group\t" << n << '\t' << escape(name) << '\n';
    for (const auto& [plu, p] : s.packs)
      out << "pack\t" << plu << '\t' << p.price << '\t' << (p.openPrice ? 1 : 0) << '\t' << p.soldQuantity << '\t'
          << p.soldValue << '\t' << p.returnedQuantity << '\t' << p.returnedValue << '\t' << escape(p.barcode) << '\t'
          << escape(joinLines(p.extra)) << '\t' << escape(toUtf8(p.name)) << '\n';
    for (const auto& [plu, g] : s.goods)
      out << "goods\t" << plu << '\t' << g.price << '\t' << g.vat << '\t' << g.group << '\t' << g.unit << '\t' << g.pack
          << '\t' << (g.openPrice ? 1 : 0) << '\t' << g.quantity << '\t' << g.value << '\t' << escape(g.barcode) << '\t'
          << escape(joinLines(g.extra)) << '\t' << escape(toUtf8(g.name)) << '\n';
    for (const Fault& f : s.faults)
      out << "fault\t" << f.where << '\t' << f.action << '\t' << sim::faultCountText(f.count) << '\n';
    if (!out.flush()) return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

// ---- The register --------------------------------------------------------------------------

bool Register::refresh(std::string& error) {
  if (pending_) return true;  // the register's own changes are newer than the file
  struct stat st{};
  if (::stat(path_.c_str(), &st) != 0) {
    error = "cannot read " + path_;
    return false;
  }
  const long long mtime = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  if (loaded_ && st.st_ino == seenIno_ && mtime == seenMtime_) return true;
  namesKnown_ = false;
  if (!loadState(path_, state_, error)) return false;
  loaded_ = true;
  seenIno_ = st.st_ino;
  seenMtime_ = mtime;
  return true;
}

void Register::flush() {
  if (!pending_) return;
  pending_ = false;
  if (!saveState(path_, state_)) {
    std::fprintf(stderr, "posnet_sim: cannot write %s\n", path_.c_str());
    return;
  }
  struct stat st{};
  if (::stat(path_.c_str(), &st) == 0) {
    seenIno_ = st.st_ino;
    seenMtime_ = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  }
}

void Register::forgetName(int plu, const std::string& name) {
  if (!namesKnown_) return;
  auto it = goodsByName_.find(name);
  if (it == goodsByName_.end()) return;
  it->second.erase(plu);
  if (it->second.empty()) goodsByName_.erase(it);
}

std::optional<Fault> Register::takeFault(const std::vector<std::string>& wheres) {
  for (const std::string& w : wheres) {
    if (Fault* f = sim::findFault(state_.faults, w)) {
      const Fault taken = *f;
      sim::useFault(state_.faults, f);
      dirty_ = true;
      return taken;
    }
  }
  return std::nullopt;
}

Answer Register::handle(const Fields& request, Session& session) {
  Answer a;
  if (request.empty()) {
    a.fields = {std::to_string(kBadCommand)};
    return a;
  }
  const std::string& cmd = request[0];
  std::vector<std::string> wheres;
  if (cmd == "HELLO") {
    wheres.push_back("hello");
  } else {
    const bool isRead = cmd == "PLURead" || cmd == "PackRead" || cmd == "PLUStatRead" || cmd == "PackStatRead";
    if (isRead) wheres.push_back("cmd:" + cmd + "@" + std::to_string(session.given));
    if (!isRead && request.size() > 1) wheres.push_back("plu:" + request[1]);
    wheres.push_back("cmd:" + cmd);
  }
  dirty_ = false;
  // Faults planned as "answer:N" count every answer; the one at 1 falls due now.
  for (Fault& f : state_.faults) {
    if (f.where.rfind("answer:", 0) != 0) continue;
    if (const int n = std::atoi(f.where.c_str() + 7); n > 1) {
      f.where = "answer:" + std::to_string(n - 1);
      dirty_ = true;
    } else {
      wheres.insert(wheres.begin(), f.where);
    }
  }
  const std::optional<Fault> fault = takeFault(wheres);
  Fields results;
  std::uint32_t status = 0;
  if (fault && fault->action.rfind("status:", 0) == 0) {
    const std::string v = fault->action.substr(7);
    status = v.rfind("0x", 0) == 0 ? static_cast<std::uint32_t>(std::strtoul(v.c_str() + 2, nullptr, 16))
                                   : registerStatus(std::atoi(v.c_str()));
  } else if (!fault || fault->action == "garble" || fault->action == "lost" || fault->action == "done-drop") {
    status = apply(request, session, results);
  }
  if (dirty_) pending_ = true;
  dirty_ = false;
  if (fault && (fault->action == "silence" || fault->action == "lost")) a.kind = Answer::Kind::kSilence;
  if (fault && (fault->action == "drop" || fault->action == "done-drop")) a.kind = Answer::Kind::kDrop;
  if (fault && fault->action == "garble") a.kind = Answer::Kind::kGarble;
  a.fields.push_back(std::to_string(status));
  if (status == 0) a.fields.insert(a.fields.end(), results.begin(), results.end());
  return a;
}

namespace {

// Arguments as the library sends them; a missing one reads as empty.
struct Args {
  const Fields& f;
  std::string text(std::size_t i) const { return i < f.size() ? f[i] : std::string(); }
  bool number(std::size_t i, long long& out) const { return toInt(text(i), out); }
  int integer(std::size_t i, int fallback = -1) const {
    int v = 0;
    return toInt(text(i), v) ? v : fallback;
  }
};

constexpr std::size_t kNameMax = 40;
constexpr std::size_t kBarcodeMax = 20;
constexpr long long kPriceMax = 99999999;
constexpr std::size_t kGoodsBarcodesMax = 10;

bool priceOk(const std::string& t, long long& out) { return toInt(t, out) && out >= 0 && out <= kPriceMax; }

// A barcode holds decimal digits only (the empty text is no barcode).
bool barcodeDigits(const std::string& code) {
  for (const char c : code)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

std::uint32_t Register::insertGoods(const Fields& r, Session& session) {
  // PLU, name, barcode, price, "0", pack, unit, 0, group, VAT, 3, fixed-price flag, 0, 0, 1, 0, 0
  const Args a{r};
  const int plu = a.integer(1);
  if (plu < 1 || plu > state_.goodsLimit) return registerStatus(kBadRecordNumber);
  const std::string name = a.text(2);
  if (name.empty()) return registerStatus(kMissingData);
  if (name.size() > kNameMax || a.text(3).size() > kBarcodeMax) return registerStatus(kTooLong);
  if (!barcodeDigits(a.text(3))) return registerStatus(kBadValue);
  long long price = 0;
  if (!priceOk(a.text(4), price)) return registerStatus(kBadValue);
  const int pack = a.integer(6), unit = a.integer(7), group = a.integer(9), vat = a.integer(10);
  const int fixedPrice = a.integer(12);
  if (pack < 0 || unit < 0 || unit > 255 || group < 0 || fixedPrice < 0 || fixedPrice > 1) return registerStatus(kBadValue);
  if (vat < 0 || vat > 6) return registerStatus(kVatField);
  if (!state_.groups.count(group)) return registerStatus(kNoGroup);
  if (pack != 0 && !state_.packs.count(pack)) return registerStatus(kNoPackaging);
  auto it = state_.goods.find(plu);
  if (it != state_.goods.end() && it->second.hasStatistics()) return registerStatus(kNonZeroStatistics);
  if (!namesKnown_) {
    goodsByName_.clear();
    for (const auto& [code, other] : state_.goods) goodsByName_[other.name].insert(code);
    namesKnown_ = true;
  }
  if (auto same = goodsByName_.find(name); same != goodsByName_.end())
    for (int other : same->second)
      if (other != plu) return registerStatus(kNameNotUnique);
  Goods& g = state_.goods[plu];
  const Goods old = g;
  if (it != state_.goods.end()) forgetName(plu, old.name);
  goodsByName_[name].insert(plu);
  g = Goods{};
  g.name = name;
  g.barcode = a.text(3);
  g.price = price;
  g.vat = vat;
  g.group = group;
  g.unit = unit;
  g.pack = pack;
  g.openPrice = fixedPrice == 0;
  g.quantity = old.quantity;
  g.value = old.value;
  session.lastInsertWasPack[plu] = false;
  dirty_ = true;
  return 0;
}

std::uint32_t Register::insertPack(const Fields& r, Session& session) {
  // PLU, name, barcode, price, "0", fixed-price flag, 1, 0, 0
  const Args a{r};
  const int plu = a.integer(1);
  if (plu < 1 || plu > state_.packLimit) return registerStatus(kBadRecordNumber);
  const std::string name = a.text(2);
  if (name.empty()) return registerStatus(kMissingData);
  if (name.size() > kNameMax || a.text(3).size() > kBarcodeMax) return registerStatus(kTooLong);
  if (!barcodeDigits(a.text(3))) return registerStatus(kBadValue);
  long long price = 0;
  if (!priceOk(a.text(4), price)) return registerStatus(kBadValue);
  const int fixedPrice = a.integer(6);
  if (fixedPrice < 0 || fixedPrice > 1) return registerStatus(kBadValue);
  auto it = state_.packs.find(plu);
  if (it != state_.packs.end() && it->second.hasStatistics()) return registerStatus(kNonZeroStatistics);
  for (const auto& [other, p] : state_.packs)
    if (other != plu && p.name == name) return registerStatus(kNameNotUnique);
  Packaging& p = state_.packs[plu];
  p = Packaging{};
  p.name = name;
  p.barcode = a.text(3);
  p.price = price;
  p.openPrice = fixedPrice == 0;
  session.lastInsertWasPack[plu] = true;
  dirty_ = true;
  return 0;
}

std::uint32_t Register::read(const std::string& cmd, const Fields& r, Session& s, Fields& out) {
  using R = Session::Read;
  const R wanted = cmd == "PLURead" ? R::kGoods : cmd == "PackRead" ? R::kPacks : cmd == "PLUStatRead" ? R::kGoodsStats
                                                                                                        : R::kPackStats;
  if (s.read != wanted) return registerStatus(kMissingData);  // no such read-out opened
  const bool goods = wanted == R::kGoods || wanted == R::kGoodsStats;
  const bool clear = (wanted == R::kGoodsStats || wanted == R::kPackStats) && Args{r}.integer(2, 0) == 1;
  if (goods) {
    auto it = state_.goods.upper_bound(s.after);
    if (it == state_.goods.end()) return registerStatus(kNoMoreRecords);
    Goods& g = it->second;
    s.after = it->first;
    ++s.given;
    if (wanted == R::kGoods) {
      out = {std::to_string(it->first), g.name, g.barcode, std::to_string(g.price), "0", "0", std::to_string(g.pack),
             std::to_string(g.unit), std::to_string(g.vat), "0", g.openPrice ? "0" : "1", "0", "0",
             std::to_string(g.group), joinLines(g.extra)};
    } else {
      out = {std::to_string(it->first), std::to_string(g.value), std::to_string(g.quantity), "0", "0"};
      if (clear && g.hasStatistics()) {
        g.quantity = g.value = 0;
        dirty_ = true;
      }
    }
    return 0;
  }
  auto it = state_.packs.upper_bound(s.after);
  if (it == state_.packs.end()) return registerStatus(kNoMoreRecords);
  Packaging& p = it->second;
  s.after = it->first;
  ++s.given;
  if (wanted == R::kPacks) {
    out = {std::to_string(it->first), p.name, p.barcode, std::to_string(p.price), "0", p.openPrice ? "0" : "1"};
  } else {
    out = {std::to_string(it->first),  std::to_string(p.soldQuantity),  std::to_string(p.returnedQuantity),
           std::to_string(p.soldValue), std::to_string(p.returnedValue), "0"};
    if (clear && p.hasStatistics()) {
      p.soldQuantity = p.soldValue = p.returnedQuantity = p.returnedValue = 0;
      dirty_ = true;
    }
  }
  return 0;
}

std::uint32_t Register::apply(const Fields& r, Session& s, Fields& out) {
  const std::string& cmd = r[0];
  const Args a{r};
  if (cmd == "HELLO") {
    out = {"POSNET Combo (posnet_sim)"};
    return 0;
  }
  if (cmd == "VATGet") {
    out = {"23.00", "8.00", "5.00", "0.00", "", "", ""};
    return 0;
  }
  if (cmd == "PLUIns") return insertGoods(r, s);
  if (cmd == "PackIns") return insertPack(r, s);
  if (cmd == "BarcodeIns") {
    const int plu = a.integer(1);
    auto g = state_.goods.find(plu);
    auto p = state_.packs.find(plu);
    const auto last = s.lastInsertWasPack.find(plu);
    const bool toPack = last != s.lastInsertWasPack.end() ? last->second : g == state_.goods.end();
    if (toPack ? p == state_.packs.end() : g == state_.goods.end()) return registerStatus(kNoRecord);
    std::vector<std::string> codes = splitLines(a.text(2));
    if (codes.empty()) return registerStatus(kMissingData);
    if (!toPack && codes.size() > kGoodsBarcodesMax) return registerStatus(kBadValue);
    for (const std::string& c : codes) {
      if (c.size() > kBarcodeMax) return registerStatus(kTooLong);
      if (!barcodeDigits(c)) return registerStatus(kBadValue);
    }
    std::string& main = toPack ? p->second.barcode : g->second.barcode;
    std::vector<std::string>& extra = toPack ? p->second.extra : g->second.extra;
    main = codes[0];
    extra.assign(codes.begin() + 1, codes.end());
    dirty_ = true;
    return 0;
  }
  if (cmd == "PluPriceUpdate" || cmd == "PackPriceUpdate") {
    long long price = 0;
    if (!priceOk(a.text(2), price)) return registerStatus(kBadValue);
    const int plu = a.integer(1);
    if (cmd == "PluPriceUpdate") {
      auto it = state_.goods.find(plu);
      if (it == state_.goods.end()) return registerStatus(kNoRecord);
      it->second.price = price;
    } else {
      auto it = state_.packs.find(plu);
      if (it == state_.packs.end()) return registerStatus(kNoRecord);
      it->second.price = price;
    }
    dirty_ = true;
    return 0;
  }
  if (cmd == "PLUDel") {
    auto it = state_.goods.find(a.integer(1));
    if (it == state_.goods.end()) return registerStatus(kNoRecord);
    if (it->second.hasStatistics()) return registerStatus(kNonZeroStatistics);
    forgetName(it->first, it->second.name);
    state_.goods.erase(it);
    dirty_ = true;
    return 0;
  }
  if (cmd == "PackDel") {
    const int plu = a.integer(1);
    auto it = state_.packs.find(plu);
    if (it == state_.packs.end()) return registerStatus(kNoRecord);
    if (it->second.hasStatistics()) return registerStatus(kNonZeroStatistics);
    for (const auto& [code, g] : state_.goods)
      if (g.pack == plu) return registerStatus(kActiveLink);
    state_.packs.erase(it);
    dirty_ = true;
    return 0;
  }
  if (cmd == "PLUDelAll") {
    for (const auto& [code, g] : state_.goods)
      if (g.hasStatistics()) return registerStatus(kNonZeroStatistics);
    if (!state_.goods.empty()) dirty_ = true;
    state_.goods.clear();
    goodsByName_.clear();
    return 0;
  }
  if (cmd == "PackDelAll") {
    for (const auto& [code, p] : state_.packs)
      if (p.hasStatistics()) return registerStatus(kNonZeroStatistics);
    for (const auto& [code, g] : state_.goods)
      if (g.pack != 0) return registerStatus(kActiveLink);
    if (!state_.packs.empty()) dirty_ = true;
    state_.packs.clear();
    return 0;
  }
  if (cmd == "PLUStatClearAll") {
    for (auto& [code, g] : state_.goods) g.quantity = g.value = 0;
    dirty_ = true;
    return 0;
  }
  if (cmd == "PackStatClearAll") {
    for (auto& [code, p] : state_.packs) p.soldQuantity = p.soldValue = p.returnedQuantity = p.returnedValue = 0;
    dirty_ = true;
    return 0;
  }
  if (cmd == "CntxPLUInit" || cmd == "CntxPackInit") {
    const int kind = a.integer(1);
    const bool goods = cmd == "CntxPLUInit";
    using R = Session::Read;
    if (kind == 1)
      s.read = goods ? R::kGoods : R::kPacks;
    else if (kind == 3)
      s.read = goods ? R::kGoodsStats : R::kPackStats;
    else
      return registerStatus(kBadValue);
    s.after = 0;
    s.given = 0;
    return 0;
  }
  if (cmd == "PLURead" || cmd == "PackRead" || cmd == "PLUStatRead" || cmd == "PackStatRead") return read(cmd, r, s, out);
  return kBadCommand;
}

}  // namespace quorvel::posnetsim
