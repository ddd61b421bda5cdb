// The simulated Elzab register's state and its text file (see elzab_register.h).
#include "sim/winip/elzab_register.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/cp1250.h"
#include "sim/state_file.h"

namespace quorvel::elzabsim {

namespace {

// The 18 Polish letters in code page 852, in the order of the windows-1250 table
// (cp1250::kPolish), which also gives their UTF-8 spelling.
constexpr unsigned char k852[18] = {0xA5, 0x86, 0xA9, 0x88, 0xE4, 0xA2, 0x98, 0xAB, 0xBE,
                                    0xA4, 0x8F, 0xA8, 0x9D, 0xE3, 0xE0, 0x97, 0x8D, 0xBD};
constexpr const auto& kUtf8 = cp1250::kPolish.utf8;

std::string num(long long v) { return std::to_string(v); }

std::string goodsStatement(int plu, const Goods& g) {
  return "goods " + num(plu) + " " + num(g.vat) + " " + num(g.group) + " " + num(g.unit) + " " + num(g.decimals) + " " +
         num(g.blocked) + " " + (g.packaging ? "1" : "0") + " " + num(g.price) + " " +
         (g.barcode == kNoBarcode || g.barcode.empty() ? std::string("-") : g.barcode) + " " + nameToUtf8(g.name);
}

// Next blank-separated word of `s` from `pos`.
std::string word(const std::string& s, std::size_t& pos) {
  while (pos < s.size() && s[pos] == ' ') ++pos;
  const std::size_t start = pos;
  while (pos < s.size() && s[pos] != ' ') ++pos;
  return s.substr(start, pos - start);
}

bool intWord(const std::string& s, std::size_t& pos, long long& out) { return parseInt(word(s, pos), out); }

bool smallInt(const std::string& s, std::size_t& pos, int& out, long long lo, long long hi) {
  long long v = 0;
  if (!intWord(s, pos, v) || v < lo || v > hi) return false;
  out = static_cast<int>(v);
  return true;
}

bool digitsOnly(const std::string& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::string defaultStatePath() {
  const char* env = std::getenv(kStateEnvironment);
  return env && *env ? std::string(env) : std::string(kDefaultStateFile);
}

bool parseFaultTarget(const std::string& text, Fault& f) {
  const std::size_t colon = text.find(':');
  const std::string function = text.substr(0, colon);
  bool known = function == "*";
  for (const char* fn : kFunctions) known = known || function == fn;
  if (!known) return false;
  f.where = function;
  if (colon == std::string::npos) return true;
  long long plu = 0;
  if (!parseInt(text.substr(colon + 1), plu) || plu < 1 || plu > kMaxPlu) return false;
  f.where += ":" + std::to_string(plu);
  return true;
}

bool normaliseFaultAction(std::string& action) {
  static const std::pair<const char*, const char*> kAliases[] = {
      {"nak", "code:24"}, {"unsupported", "code:25"}, {"send-timeout", "code:20"}, {"receive-timeout", "code:21"}};
  for (const auto& [alias, code] : kAliases)
    if (action == alias) action = code;
  for (const char* spoilt : {"cut", "garble", "noheader", "missing", "lost", "empty", "comments", "cr-only"})
    if (action == spoilt) return true;
  long long code = 0;
  // control:HH, a byte below 0x20 (or 0x7F) put inside a record's field.
  if (action.rfind("control:", 0) == 0) {
    const std::string hex = action.substr(8);
    char* end = nullptr;
    const long byte = hex.size() == 2 ? std::strtol(hex.c_str(), &end, 16) : -1;
    return end && *end == '\0' && (byte < 0x20 || byte == 0x7F) && byte >= 0;
  }
  return action.rfind("code:", 0) == 0 && parseInt(action.substr(5), code) && code >= 0 && code <= 255;
}

const Goods* Register::find(int plu) const {
  auto it = goods_.find(plu);
  return it == goods_.end() ? nullptr : &it->second;
}

int Register::pluOfName(const std::string& name) const {
  auto it = names_.find(name);
  return it == names_.end() ? 0 : it->second;
}

void Register::journal(const std::string& line) {
  journal_ += line;
  journal_ += '\n';
}

std::string Register::takeJournal() {
  std::string j;
  j.swap(journal_);
  return j;
}

void Register::define(int plu, const Goods& d) {
  Goods& g = goods_[plu];
  if (!g.name.empty()) {
    auto it = names_.find(g.name);
    if (it != names_.end() && it->second == plu) names_.erase(it);
  }
  g.name = d.name;
  g.vat = d.vat;
  g.group = d.group;
  g.unit = d.unit;
  g.decimals = d.decimals;
  g.blocked = d.blocked;
  g.packaging = d.packaging;
  g.price = d.price;
  g.barcode = d.barcode.empty() ? kNoBarcode : d.barcode;
  if (!g.name.empty()) names_[g.name] = plu;
  if (g.packaging)
    packagings_.insert(plu);
  else
    packagings_.erase(plu);
  journal(goodsStatement(plu, g));
}

void Register::drop(int plu) {
  auto it = goods_.find(plu);
  if (it == goods_.end()) return;
  auto n = names_.find(it->second.name);
  if (n != names_.end() && n->second == plu) names_.erase(n);
  packagings_.erase(plu);
  if (it->second.link) --links_;
  barcodes_ -= static_cast<int>(it->second.barcodes.size());
  goods_.erase(it);
  journal("drop " + num(plu));
}

void Register::setSales(int plu, long long sq, long long sv, long long rq, long long rv) {
  auto it = goods_.find(plu);
  if (it == goods_.end()) return;
  it->second.soldQuantity = sq;
  it->second.soldValue = sv;
  it->second.returnedQuantity = rq;
  it->second.returnedValue = rv;
  journal("sales " + num(plu) + " " + num(sq) + " " + num(sv) + " " + num(rq) + " " + num(rv));
}

void Register::addBarcode(int plu, const std::string& code) {
  auto it = goods_.find(plu);
  if (it == goods_.end()) return;
  it->second.barcodes.push_back(code);
  ++barcodes_;
  journal("barcode " + num(plu) + " " + code);
}

void Register::dropBarcodes(int plu) {
  if (plu == 0) {
    for (auto& [p, g] : goods_) g.barcodes.clear();
    barcodes_ = 0;
    journal("drop-barcodes *");
    return;
  }
  auto it = goods_.find(plu);
  if (it == goods_.end() || it->second.barcodes.empty()) return;
  barcodes_ -= static_cast<int>(it->second.barcodes.size());
  it->second.barcodes.clear();
  journal("drop-barcodes " + num(plu));
}

void Register::setLink(int plu, int packaging) {
  auto it = goods_.find(plu);
  if (it == goods_.end()) return;
  if (!it->second.link) ++links_;
  it->second.link = packaging;
  journal("link " + num(plu) + " " + num(packaging));
}

void Register::unlink(int plu) {
  auto it = goods_.find(plu);
  if (it == goods_.end() || !it->second.link) return;
  it->second.link = 0;
  --links_;
  journal("unlink " + num(plu));
}

void Register::dropAllGoods() {
  goods_.clear();
  names_.clear();
  packagings_.clear();
  links_ = barcodes_ = 0;
  journal("drop-goods *");
}

void Register::clearSales() {
  for (auto& [plu, g] : goods_) g.soldQuantity = g.soldValue = g.returnedQuantity = g.returnedValue = 0;
  journal("clear-sales");
}

void Register::setModem(bool up) {
  modemUp = up;
  journal(up ? "modem 1" : "modem 0");
}

void Register::setRegisterNumber(int n) {
  registerNumber = n;
  journal("register " + num(n));
}

void Register::addFault(const Fault& f) {
  faults.push_back(f);
  journal("fault " + faultKey(f) + " " + sim::faultCountText(f.count));
}

void Register::clearFaults() {
  faults.clear();
  journal("fault-clear");
}

bool Register::takeFault(const std::string& function, int plu, Fault& played) {
  Fault* f = sim::findFault(faults, [&](const Fault& x) {
    const std::size_t colon = x.where.find(':');
    const std::string target = x.where.substr(0, colon);
    if (target != "*" && target != function) return false;
    return colon == std::string::npos || std::atoi(x.where.c_str() + colon + 1) == plu;
  });
  if (!f) return false;
  played = *f;
  if (f->count > 0) journal("fault-used " + faultKey(*f));
  sim::useFault(faults, f);
  return true;
}

bool Register::apply(const std::string& raw) {
  std::string line = raw;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::size_t pos = 0;
  const std::string kind = word(line, pos);
  if (kind.empty() || kind[0] == '#') return true;
  if (kind == "register") return smallInt(line, pos, registerNumber, 1, 99);
  if (kind == "linkmax") return smallInt(line, pos, linkMax, 0, 10000000);
  if (kind == "barcodemax") return smallInt(line, pos, barcodeMax, 0, 10000000);
  if (kind == "delay") return smallInt(line, pos, delayMs, 0, 600000);
  if (kind == "line") {
    const std::string port = word(line, pos);
    if (port.size() != 4 || port.compare(0, 3, "COM") != 0 || port[3] < '1' || port[3] > '4') return false;
    linePort = port[3] - '0';
    return smallInt(line, pos, lineSpeed, 9600, 19200) && (lineSpeed == 9600 || lineSpeed == 19200);
  }
  if (kind == "modem") {
    int up = 0;
    if (!smallInt(line, pos, up, 0, 1)) return false;
    modemUp = up == 1;
    return true;
  }
  if (kind == "goods") {
    int plu = 0, packaging = 0;
    Goods g;
    long long price = 0;
    if (!smallInt(line, pos, plu, 1, kMaxPlu) || !smallInt(line, pos, g.vat, 0, 99) ||
        !smallInt(line, pos, g.group, 0, 999) || !smallInt(line, pos, g.unit, 0, 999) ||
        !smallInt(line, pos, g.decimals, 0, 9) || !smallInt(line, pos, g.blocked, 0, 9) ||
        !smallInt(line, pos, packaging, 0, 1) || !intWord(line, pos, price) || price < 0)
      return false;
    g.price = price;
    g.packaging = packaging == 1;
    const std::string barcode = word(line, pos);
    if (barcode != "-" && !digitsOnly(barcode)) return false;
    g.barcode = barcode == "-" ? kNoBarcode : barcode;
    if (pos < line.size()) ++pos;  // the one blank before the name
    g.name = nameFromUtf8(line.substr(std::min(pos, line.size())));
    define(plu, g);
    journal_.clear();
    return true;
  }
  if (kind == "sales") {
    int plu = 0;
    long long v[4];
    if (!smallInt(line, pos, plu, 1, kMaxPlu)) return false;
    for (long long& x : v)
      if (!intWord(line, pos, x)) return false;
    if (!find(plu)) return false;
    setSales(plu, v[0], v[1], v[2], v[3]);
  } else if (kind == "barcode") {
    int plu = 0;
    if (!smallInt(line, pos, plu, 1, kMaxPlu)) return false;
    const std::string code = word(line, pos);
    if (!digitsOnly(code) || !find(plu)) return false;
    addBarcode(plu, code);
  } else if (kind == "link") {
    int plu = 0, packaging = 0;
    if (!smallInt(line, pos, plu, 1, kMaxPlu) || !smallInt(line, pos, packaging, 1, kMaxPlu) || !find(plu))
      return false;
    setLink(plu, packaging);
  } else if (kind == "unlink" || kind == "drop") {
    int plu = 0;
    if (!smallInt(line, pos, plu, 1, kMaxPlu)) return false;
    kind == "drop" ? drop(plu) : unlink(plu);
  } else if (kind == "drop-barcodes") {
    const std::string w = word(line, pos);
    long long plu = 0;
    if (w == "*")
      dropBarcodes(0);
    else if (parseInt(w, plu) && plu >= 1 && plu <= kMaxPlu)
      dropBarcodes(static_cast<int>(plu));
    else
      return false;
  } else if (kind == "drop-goods") {
    dropAllGoods();
  } else if (kind == "clear-sales") {
    clearSales();
  } else if (kind == "fault" || kind == "fault-used") {
    Fault f;
    if (!parseFaultTarget(word(line, pos), f)) return false;
    f.action = word(line, pos);
    if (!normaliseFaultAction(f.action)) return false;
    if (kind == "fault-used") {
      for (auto it = faults.begin(); it != faults.end(); ++it)
        if (faultKey(*it) == faultKey(f) && it->count > 0) {
          sim::useFault(faults, &*it);
          break;
        }
    } else {
      const std::string count = word(line, pos);
      long long c = 1;
      if (count == "always")
        c = -1;
      else if (!count.empty() && (!parseInt(count, c) || c < 0))
        return false;
      f.count = static_cast<int>(std::min(c, 1000000LL));
      if (f.count != 0) faults.push_back(f);
    }
  } else if (kind == "fault-clear") {
    faults.clear();
  } else {
    return false;
  }
  journal_.clear();
  return true;
}

std::string Register::text() const {
  std::string out =
      "# Simulated Elzab register (libWinIP.so stand-in, elzab_sim). Statements:\n"
      "#   goods PLU VAT GROUP UNIT DECIMALS BLOCKED PACKAGING PRICE/100 BARCODE|- NAME\n"
      "#   sales PLU SOLD-QTY/1000 SOLD-VALUE/100 RETURNED-QTY/1000 RETURNED-VALUE/100\n"
      "#   barcode PLU CODE, link PLU PACKAGING, fault FUNCTION[:PLU] ACTION COUNT|always\n";
  out += "register " + num(registerNumber) + "\n";
  if (linkMax != kDefaultLinkMax) out += "linkmax " + num(linkMax) + "\n";
  if (barcodeMax != kDefaultBarcodeMax) out += "barcodemax " + num(barcodeMax) + "\n";
  if (modemUp) out += "modem 1\n";
  if (delayMs != 0) out += "delay " + num(delayMs) + "\n";
  if (linePort != 0) out += "line COM" + num(linePort) + " " + num(lineSpeed) + "\n";
  for (const auto& [plu, g] : goods_) {
    out += goodsStatement(plu, g) + "\n";
    if (g.hasSales())
      out += "sales " + num(plu) + " " + num(g.soldQuantity) + " " + num(g.soldValue) + " " + num(g.returnedQuantity) +
             " " + num(g.returnedValue) + "\n";
    for (const std::string& b : g.barcodes) out += "barcode " + num(plu) + " " + b + "\n";
    if (g.link) out += "link " + num(plu) + " " + num(g.link) + "\n";
  }
  for (const Fault& f : faults)
    out += "fault " + faultKey(f) + " " + sim::faultCountText(f.count) + "\n";
  return out;
}

bool loadRegister(const std::string& path, Register& r, std::string& error) {
  r = Register();
  if (!sim::readStateFile(path, error, [&r](const std::string& line) { return r.apply(line); })) return false;
  r.takeJournal();
  return true;
}

bool saveRegister(const std::string& path, const Register& r) {
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out << r.text();
    if (!out.flush()) return false;
  }
  return std::rename(tmp.c_str(), path.c_str()) == 0;
}

bool appendJournal(const std::string& path, const std::string& statements) {
  if (statements.empty()) return true;
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << statements;
  return static_cast<bool>(out.flush());
}

std::string nameToUtf8(const std::string& cp852) {
  std::string out;
  for (const char ch : cp852) {
    const auto b = static_cast<unsigned char>(ch);
    const unsigned char* hit = std::find(std::begin(k852), std::end(k852), b);
    if (hit != std::end(k852)) {
      out += kUtf8[hit - k852];
    } else if (b >= 0x80 || b < 0x20 || b == '\\') {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", b);
      out += esc;
    } else {
      out += ch;
    }
  }
  return out;
}

std::string nameFromUtf8(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    if (utf8[i] == '\\' && i + 3 < utf8.size() && utf8[i + 1] == 'x') {
      const std::string hex = utf8.substr(i + 2, 2);
      char* end = nullptr;
      const long v = std::strtol(hex.c_str(), &end, 16);
      if (hex.size() == 2 && end == hex.c_str() + 2) {
        out += static_cast<char>(v);
        i += 4;
        continue;
      }
    }
    bool letter = false;
    for (int k = 0; k < 18 && !letter; ++k) {
      const std::size_t n = sizeof kUtf8[k] - 1;  // two bytes, the terminator left out
      if (utf8.compare(i, n, kUtf8[k], n) == 0) {
        out += static_cast<char>(k852[k]);
        i += n;
        letter = true;
      }
    }
    if (letter) continue;
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80) {
      out += utf8[i++];
    } else {  // another UTF-8 character: one '?' for its bytes
      out += '?';
      ++i;
      while (i < utf8.size() && (static_cast<unsigned char>(utf8[i]) & 0xC0) == 0x80) ++i;
    }
  }
  return out;
}

bool nameCharacter(unsigned char byte) {
  return (byte >= 0x20 && byte < 0x7F) || std::find(std::begin(k852), std::end(k852), byte) != std::end(k852);
}

std::string cp1250To852(const std::string& text) {
  std::string out = text;
  for (char& ch : out) {
    const auto b = static_cast<unsigned char>(ch);
    const int k = cp1250::polishLetterIndex(b);
    if (k >= 0) ch = static_cast<char>(k852[k]);
  }
  return out;
}

bool parseInt(const std::string& text, long long& out) {
  std::size_t i = text.size() > 0 && text[0] == '-' ? 1 : 0;
  if (i >= text.size() || text.size() - i > 18) return false;
  long long v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  out = text[0] == '-' ? -v : v;
  return true;
}


std::string formatDecimal(long long units, long long scale) {
  const bool negative = units < 0;
  const unsigned long long u =
      negative ? 0ULL - static_cast<unsigned long long>(units) : static_cast<unsigned long long>(units);
  int places = 0;
  for (long long s = scale; s > 1; s /= 10) ++places;
  std::string frac = std::to_string(u % static_cast<unsigned long long>(scale));
  if (frac.size() < static_cast<std::size_t>(places))
    frac.insert(0, static_cast<std::size_t>(places) - frac.size(), '0');
  return (negative ? "-" : "") + std::to_string(u / static_cast<unsigned long long>(scale)) +
         (places ? "." + frac : std::string());
}

}  // namespace quorvel::elzabsim
