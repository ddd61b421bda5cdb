// libWinIP.so: a stand-in for Elzab's WinIP library that plays a register kept in a state file.
//
// Every exported function takes one text, the names of its files joined by ';' (input file,
// output file for the functions that have one, then the file that names the configuration
// files), and returns one result byte. Each call reads the configuration and input files as
// WinIP does and refuses what a register refuses, with WinIP's result codes:
//
//   1..5    file names missing, reserved or the same for input and output
//   6, 7, 8 input, configuration or output file cannot be opened (or is not a regular file)
//   10..12  input file: data missing, format (header, '$' lines, line length) or values
//   13..16  configuration files: incomplete, no entry for the register number, values, format
//   17      output file cannot be written
//   19      register number of the input header outside 1..99
//   21      no register answers (no state file)
//   22      the register at the configured entry has another number
//   23      the state file cannot be read
//   27, 28  modem configuration missing or bad (ModStart); 30 no modem connection
//   102..114, 200..222  the register's refusals of goods, packagings, links and barcodes
//
// The register's state lives in ELZAB_SIM.TXT in the current directory (the job directory), or
// in the file named by QUORVEL_ELZAB_STATE; elzab_sim makes and edits it. Faults planned there
// (elzab_sim fault) are played before the register acts: a chosen result code (NAK 24,
// function unsupported 25, time-outs 20 and 21, anything else), a result file cut short,
// garbled, without its header, missing, empty, of comments only, with CR alone ending its
// lines, or with a control byte inside a field, or the register's answer lost after it acted.
//
// With QUORVEL_WINIP_TIMES naming a file, the library appends "calls N cpu_ns T" to it when it
// is unloaded: the number of calls and the processor time they took, for the benchmarks.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "sim/winip/elzab_register.h"

using namespace quorvel::elzabsim;

namespace {

enum class Fn {
  ModStart,
  ModStop,
  OBajty,
  ZBPTowar,
  ZCTowar,
  KTowar,
  KTBarkod,
  KWiaz,
  ZDBarkod,
  ZWiaz,
  KDBarMax,
  KTowMax,
  TowarMax,
  OWiaz,
  ODBarkod,
  OSpOpMax
};

const char* nameOf(Fn f) { return kFunctions[static_cast<int>(f)]; }

bool hasOutputFile(Fn f) {
  return f == Fn::OBajty || f == Fn::ZBPTowar || f == Fn::ZDBarkod || f == Fn::TowarMax || f == Fn::OWiaz ||
         f == Fn::ODBarkod;
}

constexpr std::size_t kMaxLine = 1021;

// ---- Files ----------------------------------------------------------------------------------

bool isRegularFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The lines of a text file without their CR LF or LF; false when it is not a readable
// regular file (a FIFO or a device is never waited on).
bool readLines(const std::string& path, std::vector<std::string>& lines) {
  if (!isRegularFile(path)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  lines.clear();
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
  }
  return true;
}

// Names that DOS-era WinIP keeps for devices.
bool reservedName(const std::string& name) {
  std::string base = name.substr(0, name.find('.'));
  for (char& c : base) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") return true;
  return base.size() == 4 && (base.rfind("COM", 0) == 0 || base.rfind("LPT", 0) == 0) && base[3] >= '1' &&
         base[3] <= '9';
}

std::vector<std::string> split(const std::string& s, char sep) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t at = s.find(sep, start);
    parts.push_back(s.substr(start, at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

bool intField(const std::string& s, long long& v) { return parseInt(s, v); }

// ---- Configuration files -----------------------------------------------------------------

struct Association {
  int number = 0;
  bool modem = false;
  int port = 0;
  int speed = 0;
};

// SKONFIG.TXT and the KONFIG.TXT it names; 0 or a result code.
int readConfiguration(const std::string& skonfig, std::vector<Association>& entries, std::string& modkonf) {
  std::vector<std::string> lines;
  if (!readLines(skonfig, lines)) return 7;
  std::vector<std::string> values;
  for (const std::string& l : lines) {
    if (l.empty() || l[0] == ';') continue;
    if (l[0] != '$' || l.size() > kMaxLine) return 16;
    values.push_back(l.substr(1));
  }
  if (values.size() < 6) return 13;
  if (values[0] != "0DH:0AH") return 15;
  for (int i = 1; i <= 5; ++i)
    if (values[static_cast<std::size_t>(i)].empty()) return 13;
  modkonf = values[4];

  if (!readLines(values[1], lines)) return 7;
  for (const std::string& l : lines) {
    if (l.empty() || l[0] == ';') continue;
    if (l[0] != '$' || l.size() > kMaxLine) return 16;
    // $N<TAB>COMp:speed:MUXm:channel<TAB>timeout[<TAB>ELZAB<TAB>Tphone:password:t1:t2:repeats]
    const std::vector<std::string> f = split(l.substr(1), '\t');
    if (f.size() != 3 && f.size() != 5) return f.size() < 3 ? 13 : 16;
    long long number = 0, timeout = 0;
    if (!intField(f[0], number) || !intField(f[2], timeout)) return 16;
    const std::vector<std::string> line = split(f[1], ':');
    if (line.size() != 4 || line[0].size() < 4 || line[0].compare(0, 3, "COM") != 0 ||
        line[2].compare(0, 3, "MUX") != 0)
      return 16;
    long long port = 0, speed = 0, mux = 0, channel = 0;
    if (!intField(line[0].substr(3), port) || !intField(line[1], speed) || !intField(line[2].substr(3), mux) ||
        !intField(line[3], channel))
      return 16;
    if (number < 1 || number > 99 || port < 1 || port > 4 || (speed != 9600 && speed != 19200) || mux < 0 || mux > 4 ||
        channel < 1 || channel > 8 || timeout < 0 || timeout > 180)
      return 15;
    Association a;
    a.number = static_cast<int>(number);
    a.modem = f.size() == 5;
    a.port = static_cast<int>(port);
    a.speed = static_cast<int>(speed);
    if (a.modem) {
      if (f[3] != "ELZAB" || f[4].size() < 2 || f[4][0] != 'T') return 16;
      // Tphone:password:t1:t2:repeats; the password may hold ':' itself.
      const std::vector<std::string> m = split(f[4].substr(1), ':');
      if (m.size() < 5) return 16;
      const std::size_t n = m.size();
      long long t1 = 0, t2 = 0, rep = 0;
      if (!intField(m[n - 3], t1) || !intField(m[n - 2], t2) || !intField(m[n - 1], rep)) return 16;
      if (m[0].empty()) return 13;  // no telephone number
      if (t1 < 0 || t1 > 180 || t2 < 0 || t2 > 180 || rep < 0 || rep > 50 || mux != 2) return 15;
    } else if (mux == 2) {
      return 13;  // a modem line without the modem's settings
    }
    entries.push_back(a);
  }
  return entries.empty() ? 13 : 0;
}

// MODKONF.TXT: comments and "$AT..." commands only.
int readModemConfiguration(const std::string& path) {
  std::vector<std::string> lines;
  if (!readLines(path, lines)) return 27;
  int commands = 0;
  for (const std::string& l : lines) {
    if (l.empty() || l[0] == ';') continue;
    if (l.compare(0, 3, "$AT") != 0 || l.size() > kMaxLine) return 28;
    ++commands;
  }
  return commands ? 0 : 28;
}

// ---- Input file --------------------------------------------------------------------------

struct Input {
  int registerNumber = 0;
  std::vector<std::vector<std::string>> records;  // the tab-separated fields of each '$' line
};

int readInput(const std::string& path, Input& in) {
  std::vector<std::string> lines;
  if (!readLines(path, lines)) return 6;
  int header = 0;
  for (const std::string& l : lines) {
    if (l.size() > kMaxLine) return 11;
    if (l.empty() || l[0] == ';') continue;
    if (header < 3) {
      if (l[0] != '#') return 11;
      if (header == 0) {
        long long n = 0;
        if (!intField(l.substr(1), n)) return 11;
        if (n < 1 || n > 99) return 19;
        in.registerNumber = static_cast<int>(n);
      }
      ++header;
      continue;
    }
    if (l[0] != '$') return 11;
    in.records.push_back(split(l.substr(1), '\t'));
  }
  return header < 3 ? 10 : 0;
}

// A PLU field: 12 when it is no number, 105 outside the register's range.
int pluField(const std::string& s, int& plu) {
  long long v = 0;
  if (!intField(s, v)) return 12;
  if (v < 1 || v > kMaxPlu) return 105;
  plu = static_cast<int>(v);
  return 0;
}

// A barcode field: digits only, 13 at most (the driver pads to 13).
int barcodeField(const std::string& s, std::string& code) {
  if (s.empty() || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; })) return 12;
  if (s.size() > kBarcodeDigits) return 108;
  code = std::string(kBarcodeDigits - s.size(), '0') + s;
  return 0;
}

// The goods line: PLU, name (19), VAT, group, 3, unit, 0, barcode (13), price/100, packaging.
// Every value outside what the register takes is refused with the register's code: VAT 103,
// group 110, decimals 112, unit 111, price 109, barcode longer than 13 digits 108.
int goodsRecord(const std::vector<std::string>& f, int& plu, Goods& g) {
  if (f.size() < 10) return 10;
  if (f.size() > 10) return 11;
  if (const int e = pluField(f[0], plu)) return e;
  long long v[7];
  const int index[7] = {2, 3, 4, 5, 6, 8, 9};
  for (int i = 0; i < 7; ++i)
    if (!intField(f[static_cast<std::size_t>(index[i])], v[i])) return 12;
  std::string name = f[1];
  if (name.size() > kNameLength) return 102;
  for (char c : name)
    if (static_cast<unsigned char>(c) < 0x20) return 206;
  // A byte the register has no character for (code page 852 beyond the Polish letters, or a
  // byte of another code page) is an error in the name, never stored as some other letter.
  for (char c : name)
    if (!nameCharacter(static_cast<unsigned char>(c))) return 102;
  while (!name.empty() && name.back() == ' ') name.pop_back();
  if (name.find_first_not_of(' ') == std::string::npos) return 220;
  if (v[0] < 1 || v[0] > 7) return 103;
  if (v[1] < 1 || v[1] > 99) return 110;
  if (v[2] < 0 || v[2] > 3) return 112;
  if (v[3] < 0 || v[3] > 15) return 111;
  if (v[4] != 0 && v[4] != 1) return 113;
  if (v[5] < 0) return 12;
  if (v[5] > kMaxPrice) return 109;
  if (v[6] != 0 && v[6] != 1) return 114;
  if (const int e = barcodeField(f[7], g.barcode)) return e;
  g.name = name;
  g.vat = static_cast<int>(v[0]);
  g.group = static_cast<int>(v[1]);
  g.decimals = static_cast<int>(v[2]);
  g.unit = static_cast<int>(v[3]);
  g.blocked = static_cast<int>(v[4]);
  g.price = v[5];
  g.packaging = v[6] == 1;
  return 0;
}

// ---- Result files --------------------------------------------------------------------------

class ResultFile {
 public:
  ResultFile(const char* function, int registerNumber) {
    text_ = std::string("; WinIP (symulator kasy Elzab): ") + function + "\r\n#" + std::to_string(registerNumber) +
            "\r\n#" + function + "\r\n";
  }
  void record(const std::string& fields) {
    body_ += "$" + fields + "\r\n";
    ++count_;
  }
  std::string bytes() const { return text_ + "#" + std::to_string(count_) + "\r\n" + body_ + "; koniec\r\n"; }

 private:
  std::string text_, body_;
  int count_ = 0;
};

int writeFile(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return 8;
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok ? 0 : 17;
}

// A written result file spoiled as a fault asks.
void spoil(const std::string& path, const std::string& action) {
  if (action == "missing") {
    std::remove(path.c_str());
    return;
  }
  std::vector<std::string> lines;
  if (!readLines(path, lines)) return;
  std::string out;
  if (action == "empty") {
    // nothing at all
  } else if (action == "comments") {
    for (const auto& l : lines)
      if (!l.empty() && l[0] == ';') out += l + "\r\n";
  } else if (action == "cr-only") {
    for (const auto& l : lines) out += l + "\r";
  } else if (action.rfind("control:", 0) == 0) {
    // The byte and a blank after the first character of the first record's last field, as a
    // damaged disk or transfer would leave it: "150" becomes "1", the byte, " 50".
    const char byte = static_cast<char>(std::strtol(action.c_str() + 8, nullptr, 16));
    bool done = false;
    for (auto l : lines) {
      if (!done && !l.empty() && l[0] == '$') {
        const std::size_t tab = l.rfind('\t');
        const std::size_t at = (tab == std::string::npos ? 1 : tab + 1) + 1;
        if (at <= l.size()) {
          l.insert(at, std::string(1, byte) + " ");
          done = true;
        }
      }
      out += l + "\r\n";
    }
  } else if (action == "cut") {
    std::string all;
    for (const auto& l : lines) all += l + "\r\n";
    out = all.substr(0, all.size() / 2);
  } else if (action == "noheader") {
    for (const auto& l : lines)
      if (l.empty() || l[0] != '#') out += l + "\r\n";
  } else {  // garble: records no register writes, after an intact header
    bool inserted = false;
    for (const auto& l : lines) {
      if (!inserted && !l.empty() && l[0] == '$') {
        out += "$abc\tx\x81\x9F\xFF\t-\t\t\t\r\n";
        out += "$" + std::string(1500, '7') + "\r\n";
        out += "$99999999999999999999999\t99999999999999999999999\t-99999999999999999999999\r\n";
        out += "$\r\n";
        inserted = true;
      }
      out += l + "\r\n";
    }
  }
  writeFile(path, out);
}

std::string goodsFields(int plu, const Goods& g) {
  char name[24];
  std::snprintf(name, sizeof name, "%-19s", g.name.c_str());
  return std::to_string(plu) + "\t" + name + "\t" + std::to_string(g.vat) + "\t" + std::to_string(g.group) + "\t" +
         std::to_string(g.decimals) + "\t" + std::to_string(g.unit) + "\t" + std::to_string(g.blocked) + "\t" +
         g.barcode + "\t" + std::to_string(g.price) + "\t" + (g.packaging ? "1" : "0");
}

std::string padPlu(int plu) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%06d", plu);
  return buf;
}

// ---- The register's state, kept between calls of one process -----------------------------

struct Stamp {
  dev_t dev = 0;
  ino_t ino = 0;
  off_t size = -1;
  long long mtime = 0;
  bool operator==(const Stamp&) const = default;
};

bool stampOf(const std::string& path, Stamp& s) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  s.dev = st.st_dev;
  s.ino = st.st_ino;
  s.size = st.st_size;
  s.mtime = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
  return true;
}

std::string absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return path;
  return std::string(cwd) + "/" + path;
}

struct Session {
  std::string path;  // absolute
  Stamp stamp;
  Register reg;
  bool loaded = false;
  bool appended = false;  // statements appended since the file was last written whole
  long long calls = 0;
  long long cpuNs = 0;
  std::string brokenPath;  // the last state that could not be read, and when
  Stamp brokenStamp;

  // The register of the state file; 21 when there is none, 23 when it cannot be read.
  int open() {
    const std::string p = absolute(defaultStatePath());
    Stamp now;
    if (!stampOf(p, now)) {
      compact();
      loaded = false;
      return 21;
    }
    if (loaded && p == path && now == stamp) return 0;
    compact();
    std::string error;
    if (!loadRegister(p, reg, error)) {
      // Said once for each broken state, not at every call of a long job.
      if (!(p == brokenPath && now == brokenStamp))
        std::fprintf(stderr, "libWinIP (simulated register): %s\n", error.c_str());
      brokenPath = p;
      brokenStamp = now;
      loaded = false;
      return 23;
    }
    path = p;
    stamp = now;
    loaded = true;
    appended = false;
    return 0;
  }

  void commit() {
    const std::string j = reg.takeJournal();
    if (j.empty()) return;
    if (appendJournal(path, j)) appended = true;
    if (!stampOf(path, stamp)) loaded = false;
  }

  // Rewrites the state file in its short form when this process appended to it and nobody
  // else changed it since.
  void compact() {
    Stamp now;
    if (loaded && appended && stampOf(path, now) && now == stamp) saveRegister(path, reg);
    appended = false;
  }

  ~Session() {
    compact();
    if (const char* times = std::getenv("QUORVEL_WINIP_TIMES"); times && *times && calls) {
      if (std::FILE* f = std::fopen(times, "a")) {
        std::fprintf(f, "calls %lld cpu_ns %lld\n", calls, cpuNs);
        std::fclose(f);
      }
    }
  }
};

Session g_session;

long long threadCpuNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
}

// ---- The functions ---------------------------------------------------------------------------

struct Call {
  Fn fn;
  std::string input, output, config;
  Input in;
  std::vector<std::string> written;  // result files this call wrote
};

int checkNames(Call& c, const char* list) {
  if (!list || !*list) return 1;
  const std::vector<std::string> names = split(list, ';');
  const std::size_t need = hasOutputFile(c.fn) ? 3 : 2;
  if (names[0].empty()) return 1;
  if (names.size() < need) return need == 3 && names.size() == 2 ? 3 : 7;
  if (names.size() > need) return 16;
  c.input = names[0];
  c.config = names.back();
  if (c.config.empty()) return 7;
  if (reservedName(c.input)) return 2;
  if (need == 3) {
    c.output = names[1];
    if (c.output.empty()) return 3;
    if (reservedName(c.output)) return 4;
    if (c.output == c.input) return 5;
  }
  return 0;
}

// The data lines each function expects: 0 (none), 1 (exactly one), -1 (one or more).
int expectedRecords(Fn f) {
  switch (f) {
    case Fn::ZBPTowar:
    case Fn::ZCTowar:
    case Fn::KTowar:
    case Fn::KTBarkod:
    case Fn::KWiaz:
    case Fn::ZWiaz:
    case Fn::OSpOpMax:
      return 1;
    case Fn::ZDBarkod:
      return -1;
    default:
      return 0;
  }
}

// The PLU a call is about, for faults planned for one goods.
int pluOf(const Call& c) {
  if (c.in.records.empty() || c.fn == Fn::OSpOpMax) return 0;
  long long v = 0;
  return intField(c.in.records[0][0], v) && v > 0 && v <= kMaxPlu ? static_cast<int>(v) : 0;
}

int program(Register& r, const Call& c, bool priceOnly) {
  int plu = 0;
  Goods g;
  if (const int e = goodsRecord(c.in.records[0], plu, g)) return e;
  const Goods* old = r.find(plu);
  if (priceOnly) {
    if (!old) return 202;
    if (old->name != g.name || old->vat != g.vat) return 200;
    Goods changed = *old;
    changed.price = g.price;
    r.define(plu, changed);
    return 0;
  }
  const int holder = r.pluOfName(g.name);
  if (holder && holder != plu) return 222;
  if (old && old->name != g.name) return 221;
  if (old && old->hasSales() && old->packaging != g.packaging) return 209;
  if (g.packaging && !(old && old->packaging) && r.packagingCount() >= kMaxPackagings) return 104;
  r.define(plu, g);
  return 0;
}

int execute(Register& r, Call& c) {
  const auto& recs = c.in.records;
  int plu = 0;
  switch (c.fn) {
    case Fn::ModStart:
    case Fn::ModStop:
      return 0;  // handled before the register is asked
    case Fn::OBajty: {
      ResultFile out(nameOf(c.fn), r.registerNumber);
      const long long used = static_cast<long long>(r.goods().size()) * 48 + r.barcodeCount() * 8L + r.linkCount() * 4L;
      out.record(std::to_string(std::max(0LL, 4194304LL - used)));
      c.written.push_back(c.output);
      return writeFile(c.output, out.bytes());
    }
    case Fn::ZBPTowar:
      return program(r, c, false);
    case Fn::ZCTowar:
      return program(r, c, true);
    case Fn::KTowar:
    case Fn::KTBarkod:
    case Fn::KWiaz: {
      if (recs[0].size() != 1) return recs[0].size() < 1 ? 10 : 11;
      if (const int e = pluField(recs[0][0], plu)) return e;
      const Goods* g = r.find(plu);
      if (!g) return 0;  // nothing to delete
      if (c.fn == Fn::KTowar) {
        if (g->hasSales()) return 209;
        r.drop(plu);
      } else if (c.fn == Fn::KTBarkod) {
        r.dropBarcodes(plu);
      } else {
        r.unlink(plu);
      }
      return 0;
    }
    case Fn::ZDBarkod: {
      std::vector<std::pair<int, std::string>> add;
      for (const auto& f : recs) {
        if (f.size() != 2) return f.size() < 2 ? 10 : 11;
        std::string code;
        if (const int e = pluField(f[0], plu)) return e;
        if (const int e = barcodeField(f[1], code)) return e;
        if (!r.find(plu)) return 202;
        add.emplace_back(plu, code);
      }
      if (r.barcodeCount() + static_cast<long long>(add.size()) > r.barcodeMax) return 211;
      for (const auto& [p, code] : add) r.addBarcode(p, code);
      return 0;
    }
    case Fn::ZWiaz: {
      if (recs[0].size() != 2) return recs[0].size() < 2 ? 10 : 11;
      int packaging = 0;
      if (const int e = pluField(recs[0][0], plu)) return e;
      if (const int e = pluField(recs[0][1], packaging)) return e;
      const Goods* g = r.find(plu);
      const Goods* p = r.find(packaging);
      if (!g || !p) return 202;
      if (g->packaging || !p->packaging) return 105;
      if (!g->link && r.linkCount() >= r.linkMax) return 107;
      r.setLink(plu, packaging);
      return 0;
    }
    case Fn::KDBarMax:
      r.dropBarcodes(0);
      return 0;
    case Fn::KTowMax:
      for (const auto& [p, g] : r.goods())
        if (g.hasSales()) return 209;
      r.dropAllGoods();
      return 0;
    case Fn::TowarMax:
    case Fn::OWiaz:
    case Fn::ODBarkod: {
      ResultFile out(nameOf(c.fn), r.registerNumber);
      for (const auto& [p, g] : r.goods()) {
        if (c.fn == Fn::TowarMax) out.record(goodsFields(p, g));
        // Links as the register lists them, goods and packaging apart by two tabs.
        if (c.fn == Fn::OWiaz && g.link) out.record(std::to_string(p) + "\t\t" + std::to_string(g.link));
        if (c.fn == Fn::ODBarkod)
          for (const std::string& b : g.barcodes) out.record(std::to_string(p) + "\t" + b);
      }
      c.written.push_back(c.output);
      return writeFile(c.output, out.bytes());
    }
    case Fn::OSpOpMax: {
      const auto& names = recs[0];
      if (names.size() != 3) return names.size() < 3 ? 10 : 11;
      for (const std::string& n : names) {
        if (n.empty()) return 3;
        if (reservedName(n)) return 4;
        if (n == c.input) return 5;
      }
      // SPR1: the totals; SPR2: every PLU with sales; SPR3: every packaging's returns.
      ResultFile totals(nameOf(c.fn), r.registerNumber), sold(nameOf(c.fn), r.registerNumber),
          returned(nameOf(c.fn), r.registerNumber);
      long long count = 0, value = 0;
      for (const auto& [p, g] : r.goods()) {
        if (g.soldQuantity || g.soldValue) {
          sold.record(padPlu(p) + "\t" + formatDecimal(g.soldQuantity, 1000) + "\t" + std::to_string(g.soldValue));
          ++count;
          value += g.soldValue;
        }
        if (g.packaging)
          returned.record(padPlu(p) + "\t" + formatDecimal(g.returnedQuantity, 1000) + "\t" +
                          std::to_string(g.returnedValue));
      }
      totals.record(std::to_string(count) + "\t" + std::to_string(value));
      const ResultFile* files[3] = {&totals, &sold, &returned};
      for (int i = 0; i < 3; ++i) {
        c.written.push_back(names[static_cast<std::size_t>(i)]);
        if (const int e = writeFile(names[static_cast<std::size_t>(i)], files[i]->bytes())) return e;
      }
      r.clearSales();  // the read-out clears the counters, as the register's report does
      return 0;
    }
  }
  return 11;
}

unsigned char call(Fn fn, const char* list) {
  Call c{fn, {}, {}, {}, {}, {}};
  if (const int e = checkNames(c, list)) return static_cast<unsigned char>(e);
  std::vector<Association> entries;
  std::string modkonf;
  if (const int e = readConfiguration(c.config, entries, modkonf)) return static_cast<unsigned char>(e);
  if (const int e = readInput(c.input, c.in)) return static_cast<unsigned char>(e);
  const auto entry = std::find_if(entries.begin(), entries.end(),
                                  [&](const Association& a) { return a.number == c.in.registerNumber; });
  if (entry == entries.end()) return 14;
  const int expected = expectedRecords(fn);
  if (expected == 0 && !c.in.records.empty()) return 11;
  if (expected != 0 && c.in.records.empty()) return 10;
  if (expected == 1 && c.in.records.size() > 1) return 11;
  if (fn == Fn::ModStart) {
    if (!entry->modem) return 15;
    if (const int e = readModemConfiguration(modkonf)) return static_cast<unsigned char>(e);
  }

  if (const int e = g_session.open()) return static_cast<unsigned char>(e);
  Register& r = g_session.reg;
  // A register on another line (or at another speed) does not hear the call.
  if (r.linePort != 0 && !entry->modem && (entry->port != r.linePort || entry->speed != r.lineSpeed)) return 21;
  if (r.registerNumber != c.in.registerNumber) return 22;
  if (entry->modem && !r.modemUp && fn != Fn::ModStart && fn != Fn::ModStop) return 30;

  // A slow line: the call takes longer, whatever it does.
  if (r.delayMs > 0) ::usleep(static_cast<useconds_t>(r.delayMs) * 1000);
  Fault fault;
  int result = 0;
  const bool faulted = r.takeFault(nameOf(fn), pluOf(c), fault);
  if (faulted && fault.action.rfind("code:", 0) == 0) {
    result = std::atoi(fault.action.c_str() + 5);
  } else if (fn == Fn::ModStart || fn == Fn::ModStop) {
    if (r.modemUp != (fn == Fn::ModStart)) r.setModem(fn == Fn::ModStart);
  } else {
    result = execute(r, c);
    if (faulted && result == 0 && fault.action == "lost") {
      result = 21;  // the register did it, but its answer never came
    } else if (faulted && result == 0) {
      for (const std::string& path : c.written) spoil(path, fault.action);
    }
  }
  g_session.commit();
  return static_cast<unsigned char>(result);
}

unsigned char timed(Fn fn, const char* list) {
  const long long start = threadCpuNs();
  const unsigned char result = call(fn, list);
  g_session.cpuNs += threadCpuNs() - start;
  ++g_session.calls;
  return result;
}

}  // namespace

// The exports, named as WinIP names them: "__" and the function name.
#define WINIP_EXPORT(name)                                                                                             \
  extern "C" __attribute__((visibility("default"))) unsigned char winip_##name(const char* files) __asm__("__" #name); \
  extern "C" unsigned char winip_##name(const char* files) { return timed(Fn::name, files); }

WINIP_EXPORT(ModStart)
WINIP_EXPORT(ModStop)
WINIP_EXPORT(OBajty)
WINIP_EXPORT(ZBPTowar)
WINIP_EXPORT(ZCTowar)
WINIP_EXPORT(KTowar)
WINIP_EXPORT(KTBarkod)
WINIP_EXPORT(KWiaz)
WINIP_EXPORT(ZDBarkod)
WINIP_EXPORT(ZWiaz)
WINIP_EXPORT(KDBarMax)
WINIP_EXPORT(KTowMax)
WINIP_EXPORT(TowarMax)
WINIP_EXPORT(OWiaz)
WINIP_EXPORT(ODBarkod)
WINIP_EXPORT(OSpOpMax)
