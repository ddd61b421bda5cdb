#include "host/goods_record.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string_view>

#include "host/job_file.h"
#include "host/report_view.h"
#include "platform/cp1250.h"
#include "platform/job_dir.h"
#include "platform/module.h"
#include "platform/process.h"

namespace quorvel::host {
namespace {

constexpr const char* kRecordFile = "confirmed-goods.txt";
constexpr const char* kLockFile = "confirmed-goods.lck";
constexpr const char* kDeleteFolder = "delete-missing";
constexpr const char* kMagic = "quorvel-goods-record 1";
constexpr const char* kNamespace = "http://schemas.quorvel.org/UF/Dane.xsd";

const std::string kSend = "PrzesyłanieTowarów"_cp;
const std::string kPriceChange = "ZmianaCenTowarów"_cp;
const std::string kDelete = "UsuwanieTowarów"_cp;
const std::string kDeleteAll = "UsuwanieWszystkichTowarów"_cp;
const std::string kImport = "ImportTowarów"_cp;

GoodsRecord::Key keyOf(const contract::JobGoods& g) { return {g.type == 'O' ? 'O' : 'T', g.plu}; }

std::string escapeLine(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || c == '%') {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    } else {
      out += c;
    }
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool unescapeLine(std::string_view text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int hi = hexDigit(text[i + 1]);
    const int lo = hexDigit(text[i + 2]);
    if (hi < 0 || lo < 0) return false;
    out += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

// The text of element `name` in a record text ("<Ce id=\"1\">" for the first price); "" when
// the record has none.
std::string elementText(const std::string& record, const std::string& open, const std::string& close) {
  const auto at = record.find(open);
  if (at == std::string::npos) return "";
  const auto from = at + open.size();
  const auto to = record.find(close, from);
  return to == std::string::npos ? "" : record.substr(from, to - from);
}

bool readWholeFile(const std::string& path, std::string& bytes, bool& missing) {
  using namespace quorvel::platform;
  bytes.clear();
  missing = false;
  ReadOpenError why = ReadOpenError::None;
  std::FILE* in = OpenRegularFileForReading(path.c_str(), why);
  if (!in) {
    missing = why == ReadOpenError::Missing && !FileExists(path.c_str());
    return false;
  }
  char buffer[65536];
  bool failed = false;
  for (;;) {
    const std::size_t n = ReadFromFile(in, buffer, sizeof buffer, path.c_str(), failed);
    bytes.append(buffer, n);
    if (failed || n < sizeof buffer) break;
  }
  std::fclose(in);
  return !failed;
}

// The status a script reads: 0 OK or I, 1 W, 2 E.
int worse(int a, int b) { return a > b ? a : b; }

}  // namespace

RecordOption takeRecordOption(int argc, char** argv, int& i, RecordOptions& options) {
  const std::string_view arg = argv[i];
  if (arg == "--changed-only") {
    options.changedOnly = true;
  } else if (arg == "--delete-missing") {
    options.deleteMissing = true;
  } else if (arg == "--full") {
    options.full = true;
  } else if (arg == "--record") {
    if (i + 1 >= argc || argv[i + 1][0] == '\0') return RecordOption::Missing;
    options.folder = argv[++i];
  } else if (arg.rfind("--record=", 0) == 0 && arg.size() > 9) {
    options.folder = std::string(arg.substr(9));
  } else {
    return RecordOption::NotMine;
  }
  return RecordOption::Taken;
}

std::string recordOptionsError(const RecordOptions& o) {
  if (o.changedOnly && o.full) return "--changed-only and --full exclude each other";
  if (o.deleteMissing && !o.changedOnly) return "--delete-missing goes with --changed-only";
  if ((o.changedOnly || o.full) && o.folder.empty())
    return std::string(o.full ? "--full" : "--changed-only") + " needs the register's record folder (--record DIR)";
  return "";
}

bool readGoodsRecord(const std::string& path, GoodsRecord& record, std::string& why) {
  record = GoodsRecord{};
  std::string bytes;
  bool missing = false;
  if (!readWholeFile(path, bytes, missing)) {
    if (missing) return true;
    why = std::strerror(errno);
    record.stale = true;
    return false;
  }
  std::size_t lineNo = 0;
  bool sawMagic = false;
  for (std::size_t at = 0; at < bytes.size();) {
    std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    std::string_view line(bytes.data() + at, end - at);
    at = end + 1;
    ++lineNo;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == '#') continue;
    bool ok = true;
    if (!sawMagic) {
      ok = sawMagic = line == kMagic;
    } else if (line == "stale 0" || line == "stale 1") {
      record.stale = line.back() == '1';
    } else if (line.rfind("goods ", 0) == 0 && line.size() > 8 && (line[6] == 'T' || line[6] == 'O') && line[7] == ' ') {
      const std::size_t space = line.find(' ', 8);
      unsigned long plu = 0;
      std::string text;
      const std::string_view digits = line.substr(8, space == std::string_view::npos ? 0 : space - 8);
      ok = space != std::string_view::npos && !digits.empty() && digits.size() < 10 &&
           digits.find_first_not_of("0123456789") == std::string_view::npos &&
           unescapeLine(line.substr(space + 1), text);
      if (ok) {
        plu = std::stoul(std::string(digits));
        record.goods[{line[6], plu}] = std::move(text);
      }
    } else {
      ok = false;
    }
    if (!ok) {
      why = "line " + std::to_string(lineNo) + " is not part of a goods record";
      record = GoodsRecord{};
      record.stale = true;
      return false;
    }
  }
  if (!sawMagic && !bytes.empty()) {
    why = "it is not a goods record";
    record.stale = true;
    return false;
  }
  return true;
}

bool writeGoodsRecord(const std::string& path, const GoodsRecord& record) {
  std::string bytes = "# What the register last confirmed of the goods sent to it (quorvel run --record).\n";
  bytes += kMagic;
  bytes += record.stale ? "\nstale 1\n" : "\nstale 0\n";
  for (const auto& [key, text] : record.goods) {
    bytes += "goods ";
    bytes += key.first;
    bytes += ' ';
    bytes += std::to_string(key.second);
    bytes += ' ';
    bytes += escapeLine(text);
    bytes += '\n';
  }
  return quorvel::platform::ReplaceFileWhole(path.c_str(), bytes.data(), bytes.size()) ==
         quorvel::platform::ReplaceError::None;
}

GoodsRecordRun::GoodsRecordRun(RecordOptions options) : options_(std::move(options)) {
  // The folder is named as the user gave it, before the job directory is entered.
  if (active() && options_.folder[0] != '/') {
    const std::string here = quorvel::platform::CurrentDirectory();
    if (!here.empty()) options_.folder = here + "/" + options_.folder;
  }
  path_ = options_.folder + "/" + kRecordFile;
}

GoodsRecordRun::~GoodsRecordRun() { quorvel::platform::CloseDescriptor(lock_); }

bool GoodsRecordRun::open() {
  if (!active()) return true;
  const char* folder = options_.folder.c_str();
  if (!quorvel::platform::EnsureDirectory(folder)) {
    std::fprintf(stderr, "quorvel: cannot make the record folder %s: %s\n", folder, std::strerror(errno));
    return false;
  }
  bool busy = false;
  lock_ = quorvel::platform::LockFileExclusive((options_.folder + "/" + kLockFile).c_str(), busy);
  if (lock_ < 0) {
    std::fprintf(stderr, "quorvel: the goods record in %s %s\n", folder,
                 busy ? "is in use by another job; this job was not run" : "cannot be locked; this job was not run");
    return false;
  }
  std::string why;
  if (!readGoodsRecord(path_, record_, why)) {
    std::fprintf(stderr, "quorvel: the goods record %s cannot be read (%s); it counts as stale\n", path_.c_str(),
                 why.c_str());
  }
  // Written back at once: a folder where the record cannot be written must not be found out
  // only after the job.
  if (!writeGoodsRecord(path_, record_)) {
    std::fprintf(stderr, "quorvel: cannot write the goods record %s: %s; this job was not run\n", path_.c_str(),
                 std::strerror(errno));
    return false;
  }
  staleAtStart_ = record_.stale;
  return true;
}

void GoodsRecordRun::beforeRun(quorvel::platform::Module* core, std::FILE* out) {
  if (!active()) return;
  using quorvel::platform::FindSymbol;
  const auto list = reinterpret_cast<contract::JobGoodsListFn>(FindSymbol(core, contract::kJobGoods));
  const auto leaveOut = reinterpret_cast<contract::LeaveOutGoodsFn>(FindSymbol(core, contract::kLeaveOutGoods));
  if (!list || !leaveOut) {
    std::fprintf(stderr, "quorvel: the core library cannot show its job's goods; the goods record is not used\n");
    return;
  }
  goods_.clear();
  if (!list(&header_, [](void* c, const contract::JobGoods& g) { static_cast<std::vector<contract::JobGoods>*>(c)->push_back(g); },
            &goods_))
    return;
  loaded_ = true;
  send_.assign(goods_.size(), 1);
  const std::string& op = header_.operacja;
  const std::string opShown = quorvel::cp1250::toUtf8(op);

  if (options_.full) record_.stale = true;
  if (op == kSend) {
    wholeSend_ = !options_.changedOnly || record_.stale;
    if (options_.changedOnly && record_.stale)
      std::fprintf(out, "The goods record in %s is stale: every goods of the job is sent.\n", options_.folder.c_str());
    if (!wholeSend_) {
      // A goods is left out only when the register confirmed it, as the job gives it, and
      // nothing else of the job claims its PLU or its identifier.
      std::map<GoodsRecord::Key, int> keys;
      std::map<unsigned long, int> ids;
      for (const auto& g : goods_) {
        if (g.hasPlu) ++keys[keyOf(g)];
        if (g.hasId) ++ids[g.id];
      }
      for (std::size_t i = 0; i < goods_.size(); ++i) {
        const auto& g = goods_[i];
        if (!g.hasId || !g.hasPlu || keys[keyOf(g)] != 1 || ids[g.id] != 1) continue;
        const auto it = record_.goods.find(keyOf(g));
        if (it != record_.goods.end() && it->second == g.record) send_[i] = 0;
      }
    }
    for (std::size_t i = 0; i < goods_.size(); ++i)
      if (send_[i] && goods_[i].hasPlu) record_.goods.erase(keyOf(goods_[i]));
  } else if (op == kPriceChange || op == kDelete) {
    if (options_.changedOnly)
      std::fprintf(out, "--changed-only leaves out goods of goods sends only: the job \"%s\" runs whole.\n",
                   opShown.c_str());
    for (const auto& g : goods_)
      if (g.hasPlu) record_.goods.erase(keyOf(g));
  } else if (op == kDeleteAll) {
    record_.goods.clear();
    record_.stale = true;
  } else if (options_.changedOnly) {
    std::fprintf(out, "--changed-only leaves out goods of goods sends only: the job \"%s\" runs whole.\n",
                 opShown.c_str());
  }

  // What the record claims while the job runs must hold however the job ends, a crash
  // included: without that record on the disk, nothing is left out.
  recordWritable_ = save();
  if (!recordWritable_) {
    std::fill(send_.begin(), send_.end(), 1);
    return;
  }
  std::size_t skipped = 0;
  for (const char s : send_) skipped += s ? 0 : 1;
  if (skipped == 0) {
    if (options_.changedOnly && op == kSend && !wholeSend_)
      std::fprintf(out, "No goods skipped: every goods of the job differs from what the register confirmed.\n");
    return;
  }
  const long left = leaveOut(send_);
  if (left < 0) {
    std::fill(send_.begin(), send_.end(), 1);
    return;
  }
  std::fprintf(out, "%zu of %zu goods skipped as unchanged since the register confirmed them; %zu to send.\n",
               skipped, goods_.size(), goods_.size() - skipped);
  std::fflush(out);
}

bool GoodsRecordRun::save() {
  if (writeGoodsRecord(path_, record_)) return true;
  std::fprintf(stderr, "quorvel: cannot write the goods record %s: %s\n", path_.c_str(), std::strerror(errno));
  return false;
}

void GoodsRecordRun::updateAfterSend(bool endedWell, const std::vector<unsigned long>& confirmedIds) {
  const std::set<unsigned long> confirmed(confirmedIds.begin(), confirmedIds.end());
  std::map<unsigned long, int> ids;
  std::map<GoodsRecord::Key, int> keys;
  for (const auto& g : goods_) {
    if (g.hasId) ++ids[g.id];
    if (g.hasPlu) ++keys[keyOf(g)];
  }
  if (wholeSend_ && endedWell) {
    // The whole job went: the record becomes what the register confirmed of it.
    record_.goods.clear();
    record_.stale = false;
  }
  for (std::size_t i = 0; i < goods_.size(); ++i) {
    const auto& g = goods_[i];
    if (!send_[i] || !g.hasId || !g.hasPlu) continue;
    // A goods whose identifier or PLU the job gives twice cannot be told apart in the
    // confirmation: it stays out of the record, and the next send sends it.
    if (ids[g.id] != 1 || keys[keyOf(g)] != 1 || !confirmed.count(g.id)) continue;
    record_.goods[keyOf(g)] = g.record;
  }
}

int GoodsRecordRun::afterRun(int status, const ReportView& report, const std::string& plugin, std::FILE* out) {
  if (!active() || !loaded_) return status;
  // A report read whole (its root closed) whose status is not E.
  const bool endedWell = report.complete && report.status.type != "E";
  DeviceDataView data;
  readDeviceData("PROG_KOM.XML", data);
  const std::string& op = header_.operacja;

  if (op == kSend) {
    std::vector<unsigned long> confirmed;
    for (const DeviceRecord& r : data.records) {
      if (r.kind != "Towar") continue;
      for (const auto& [name, value] : r.fields)
        if (name == "Id") confirmed.push_back(std::strtoul(value.c_str(), nullptr, 10));
    }
    updateAfterSend(endedWell, confirmed);
  } else if (op == kImport) {
    // The register's goods as read out against the record: PLUs and packages, and the first
    // price of each (names the register may keep cut are not compared).
    bool differs = !endedWell;
    std::set<GoodsRecord::Key> seen;
    for (const DeviceRecord& r : data.records) {
      if (r.kind != "Towar" || differs) continue;
      char type = 'T';
      unsigned long plu = 0;
      bool havePlu = false;
      std::string price;
      for (const auto& [name, value] : r.fields) {
        if (name == "Ty") type = value == "O" ? 'O' : 'T';
        if (name == "KP") havePlu = true, plu = std::strtoul(value.c_str(), nullptr, 10);
        if (name == "Ce[1]") price = value;
      }
      const auto it = record_.goods.find({type, plu});
      if (it == record_.goods.end()) {
        differs = !havePlu || type == 'T';
      } else {
        differs = !price.empty() && elementText(it->second, "<Ce id=\"1\">", "</Ce>") != price;
      }
      seen.insert({type, plu});
    }
    // Every goods the record claims must have been read; a PLU the record lacks differs too,
    // while packages it lacks do not (some registers have every package slot at all times).
    for (const auto& entry : record_.goods) differs = differs || !seen.count(entry.first);
    if (differs && !record_.stale) {
      record_.stale = true;
      std::fprintf(out,
                   "The goods read from the register differ from the goods record in %s (or were not all read):\n"
                   "the next --changed-only send sends every goods.\n",
                   options_.folder.c_str());
    }
  }
  if (recordWritable_ && !save()) status = worse(status, 2);
  if (op == kSend && options_.deleteMissing) status = deleteMissing(endedWell ? status : 2, plugin, out);
  return status;
}

int GoodsRecordRun::deleteMissing(int status, const std::string& plugin, std::FILE* out) {
  if (status == 2) {
    std::fprintf(out, "The send ended with an error: no goods are deleted.\n");
    return status;
  }
  if (staleAtStart_ || !recordWritable_) {
    std::fprintf(out, "The goods record in %s was stale: no goods are deleted.\n", options_.folder.c_str());
    return status;
  }
  std::set<GoodsRecord::Key> inJob;
  for (const auto& g : goods_)
    if (g.hasPlu) inJob.insert(keyOf(g));
  std::string towary;
  std::size_t count = 0;
  for (const auto& [key, text] : record_.goods) {
    if (inJob.count(key)) continue;
    towary += "\t" + text + "\r\n";
    ++count;
  }
  if (count == 0) {
    std::fprintf(out, "No goods to delete: the register holds no goods the job does not list.\n");
    return status;
  }
  using namespace quorvel::platform;
  const std::string dir = options_.folder + "/" + kDeleteFolder;
  std::string job = "<?xml version=\"1.0\" encoding=\"windows-1250\" ?>\r\n<Dane operacja=\"" + kDelete +
                    "\" idModelu=\"" + xmlEscaped(header_.idModelu, true) + "\"";
  if (!header_.idTowaru.empty()) job += " idTowaru=\"" + xmlEscaped(header_.idTowaru, true) + "\"";
  if (!header_.idOpakowania.empty()) job += " idOpakowania=\"" + xmlEscaped(header_.idOpakowania, true) + "\"";
  job += std::string(" xmlns=\"") + kNamespace + "\">\r\n" + towary + "</Dane>\r\n";
  std::string config;
  bool missing = false;
  const bool haveConfig = readWholeFile("PROG_KOM.CFG", config, missing);
  const bool made = EnsureDirectory(dir.c_str()) &&
                    ReplaceFileWhole((dir + "/VEXA_JOB.XML").c_str(), job.data(), job.size()) == ReplaceError::None &&
                    (!haveConfig || ReplaceFileWhole((dir + "/PROG_KOM.CFG").c_str(), config.data(), config.size()) ==
                                        ReplaceError::None);
  if (!made) {
    std::fprintf(stderr, "quorvel: cannot write the delete job in %s: %s\n", dir.c_str(), std::strerror(errno));
    return worse(status, 2);
  }
  std::fprintf(out, "Deleting %zu goods the register holds that the job no longer lists (job in %s):\n", count,
               dir.c_str());
  // The delete job takes the record itself: it strikes its goods before it runs.
  CloseDescriptor(lock_);
  lock_ = -1;
  const int deleted = RunProgramAndWait({ExecutablePath(), "run", plugin, "-C", dir, "--record", options_.folder});
  return worse(status, deleted < 0 || deleted > 2 ? 2 : deleted);
}

}  // namespace quorvel::host
