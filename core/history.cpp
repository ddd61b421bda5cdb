#include "core/history.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include "core/xml/progkom_xml.h"
#include "core/xml/raport_xml.h"
#include "platform/cp1250.h"
#include "platform/job_dir.h"

namespace fs = std::filesystem;
namespace platform = quorvel::platform;

namespace {

constexpr const char* kCurrentJobFile = "HISTORIA/BIEZACE.TXT";
constexpr const char* kJobRecordFile = "ZADANIE.TXT";
constexpr const char* kUnknownOperation = "Nieznane";
constexpr std::size_t kKeptJobs = 20;
constexpr const char* kEol = "\r\n";

struct HistoryState {
  bool enabled = false;        // HISTORIA exists in this job's directory
  std::string stamp;           // this job's start, YYYYMMDD-HHMMSS
  unsigned long number = 0;    // this job's number, one more than the previous job's
  std::string folder;          // this job's folder name, once made
  std::string notice;          // the warning about a cut-off read-out
  std::vector<std::string> undelivered;  // files of this job named in its marker
};
HistoryState g_history;

std::string folderPath(const std::string& folder) { return std::string(kHistoryDir) + "/" + folder; }

std::string stampOf(std::time_t t) {
  std::tm local{};
  localtime_r(&t, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

// A small file's bytes; "" when it is missing or no regular file.
std::string readSmallFile(const std::string& path) {
  platform::ReadOpenError why;
  std::FILE* f = platform::OpenRegularFileForReading(path.c_str(), why);
  if (!f) return {};
  std::string bytes;
  char chunk[8192];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.append(chunk, n);
  std::fclose(f);
  return bytes;
}

// Writes `bytes` to `path` and makes the file durable (not its directory).
bool writeDurably(const std::string& path, const std::string& bytes) {
  platform::WriteOpenError why;
  std::FILE* f = platform::OpenResultFileForWriting(path.c_str(), why);
  if (!f) return false;
  bool ok = platform::WriteToFile(f, bytes.data(), bytes.size(), path.c_str());
  ok = ok && platform::SyncFileToDisk(f, path.c_str());
  return platform::CloseFile(f, path.c_str()) && ok;
}

// Writes through a temporary name renamed over `path`: a reader never sees half a file.
bool replaceDurably(const std::string& path, const std::string& bytes, const std::string& directory) {
  const std::string temporary = path + ".TMP";
  if (!writeDurably(temporary, bytes)) return false;
  return platform::RenameFile(temporary.c_str(), path.c_str()) && platform::SyncDirectory(directory.c_str());
}

// The operation name without Polish letters, as a folder name takes it.
std::string plainOperation(const std::string& operacja) {
  static const char* const kFrom = quorvel::cp1250::kPolish.bytes;
  static const char kTo[] = "acelnoszzACELNOSZZ";
  std::string plain;
  for (const char c : operacja) {
    if (const char* p = std::strchr(kFrom, c); p && c) {
      plain += kTo[p - kFrom];
    } else if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') {
      plain += c;
    }
    if (plain.size() >= 64) break;
  }
  return plain.empty() ? kUnknownOperation : plain;
}

bool isSalesReadOut(const std::string& operacja) {
  return operacja == "OdbiórSprzedaży"_cp || operacja == "UsuwanieSprzedaży"_cp;
}

// The value after "key=" on a line of a record file.
std::string recordValue(const std::string& record, const char* key) {
  const std::string prefix = std::string(key) + "=";
  std::size_t at = 0;
  while (at < record.size()) {
    std::size_t end = record.find('\n', at);
    if (end == std::string::npos) end = record.size();
    std::string line = record.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, prefix.size(), prefix) == 0) return line.substr(prefix.size());
    at = end + 1;
  }
  return {};
}

// What a kept RAPORT.XML says of its job.
struct ReportState {
  bool present = false;
  bool complete = false;   // status block and closing tag written
  std::string statusTyp;   // of a complete report
  std::string operacja;    // from the root tag, "" when it was never written
};

// The start and the end of a file (a report of a large goods job runs to megabytes; its root
// tag and its status block lie within these).
std::string headAndTail(const std::string& path) {
  constexpr long kPart = 4096;
  platform::ReadOpenError why;
  std::FILE* f = platform::OpenRegularFileForReading(path.c_str(), why);
  if (!f) return {};
  std::string bytes(static_cast<std::size_t>(kPart), '\0');
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
  if (bytes.size() == static_cast<std::size_t>(kPart) && std::fseek(f, -kPart, SEEK_END) == 0 &&
      std::ftell(f) > kPart) {
    std::string tail(static_cast<std::size_t>(kPart), '\0');
    tail.resize(std::fread(tail.data(), 1, tail.size(), f));
    bytes += tail;
  } else if (bytes.size() == static_cast<std::size_t>(kPart)) {
    std::fseek(f, kPart, SEEK_SET);
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.append(chunk, n);
  }
  std::fclose(f);
  return bytes;
}

ReportState readReportState(const std::string& path) {
  ReportState r;
  const std::string bytes = headAndTail(path);
  if (bytes.empty()) return r;
  r.present = true;
  const std::size_t root = bytes.find("<Raport operacja=\"");
  if (root != std::string::npos) {
    const std::size_t from = root + std::strlen("<Raport operacja=\"");
    const std::size_t to = bytes.find('"', from);
    if (to != std::string::npos) r.operacja = bytes.substr(from, to - from);
  }
  const std::size_t status = bytes.rfind("<Status>");
  const std::size_t end = bytes.rfind("</Raport>");
  if (status != std::string::npos && end != std::string::npos && end > status) {
    const std::size_t typ = bytes.find("<Typ>", status);
    const std::size_t typEnd = bytes.find("</Typ>", status);
    if (typ != std::string::npos && typEnd != std::string::npos && typ < typEnd) {
      r.complete = true;
      r.statusTyp = bytes.substr(typ + 5, typEnd - typ - 5);
    }
  }
  return r;
}

// One folder of the history as the pruning sees it.
struct KeptJob {
  std::string name;
  unsigned long number = 0;
  std::string operacja;
  bool delivered = false;  // a complete report with a status other than E
  bool marked = false;     // holds sales the register cleared and no report delivered
};

KeptJob readKeptJob(const std::string& name) {
  KeptJob job;
  job.name = name;
  const std::string path = folderPath(name);
  const std::string record = readSmallFile(path + "/" + kJobRecordFile);
  job.number = std::strtoul(recordValue(record, "numer").c_str(), nullptr, 10);
  job.operacja = recordValue(record, "operacja");
  const ReportState report = readReportState(path + "/" + kRaportFileName);
  if (job.operacja.empty()) job.operacja = report.operacja;
  job.delivered = report.complete && report.statusTyp != "E";
  job.marked = platform::KindOfFile((path + "/" + kUndeliveredSalesMarker).c_str()) != platform::FileKind::Missing;
  return job;
}

// The folders of the history, oldest first: by start time, then job number, then name.
std::vector<KeptJob> keptJobs() {
  std::vector<KeptJob> jobs;
  std::error_code ec;
  for (fs::directory_iterator it(kHistoryDir, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_directory(ec) || it->is_symlink(ec)) continue;
    jobs.push_back(readKeptJob(it->path().filename().string()));
  }
  std::sort(jobs.begin(), jobs.end(), [](const KeptJob& a, const KeptJob& b) {
    return std::make_tuple(a.name.substr(0, 15), a.number, a.name) < std::make_tuple(b.name.substr(0, 15), b.number, b.name);
  });
  return jobs;
}

// Keeps the newest jobs, failed read-outs newer than the last delivered one, and marked
// folders; removes the rest.
void prune() {
  const std::vector<KeptJob> jobs = keptJobs();
  std::size_t lastDelivered = jobs.size();
  for (std::size_t i = 0; i < jobs.size(); ++i)
    if (isSalesReadOut(jobs[i].operacja) && jobs[i].delivered) lastDelivered = i;
  bool removed = false;
  for (std::size_t i = 0; i + kKeptJobs < jobs.size(); ++i) {
    const KeptJob& job = jobs[i];
    const bool awaitingReadOut =
        isSalesReadOut(job.operacja) && !job.delivered && (lastDelivered == jobs.size() || i > lastDelivered);
    if (job.marked || awaitingReadOut) continue;
    std::error_code ec;
    fs::remove_all(folderPath(job.name), ec);
    removed = true;
  }
  if (removed) platform::SyncDirectory(kHistoryDir);
}

// A new folder named `base`, or `base` with "-2", "-3", ... when taken; its record written.
std::string makeFolder(const std::string& base, const std::string& start, const std::string& operacja,
                       unsigned long number) {
  std::string name = base;
  for (int n = 2; platform::KindOfFile(folderPath(name).c_str()) != platform::FileKind::Missing; ++n)
    name = base + "-" + std::to_string(n);
  if (!platform::MakeDirectory(folderPath(name).c_str())) return {};
  const std::string record = "start=" + start + kEol + "operacja=" + operacja + kEol + "numer=" +
                             std::to_string(number) + kEol;
  writeDurably(folderPath(name) + "/" + kJobRecordFile, record);
  platform::SyncDirectory(folderPath(name).c_str());
  platform::SyncDirectory(kHistoryDir);
  return name;
}

// The files a folder keeps, by path, the record and the marker left out.
std::string keptFilesOf(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folderPath(folder), ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name != kJobRecordFile && name != kUndeliveredSalesMarker) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::string list;
  for (const std::string& n : names) list += (list.empty() ? "" : ", ") + folderPath(folder) + "/" + n;
  return list;
}

// Moves `from` to `to` and makes the move durable in both directories.
bool moveDurably(const std::string& from, const std::string& to, const std::string& toDirectory) {
  if (!platform::RenameFile(from.c_str(), to.c_str())) return false;
  const bool synced = platform::SyncDirectory(toDirectory.c_str());
  return platform::SyncCurrentDirectory() && synced;
}

// Whether a kept PROG_KOM.XML holds any sales record.
bool holdsSales(const std::string& progKom) {
  return readSmallFile(progKom).find("<Obrót>"_cp) != std::string::npos;
}

bool sameBytes(const std::string& a, const std::string& b) { return readSmallFile(a) == readSmallFile(b); }

// A free name in `folder` for a file called `name`: the name itself, or "NAME-2.EXT", ...
std::string freeNameIn(const std::string& folder, const std::string& name, const std::string& source) {
  const std::string plain = folderPath(folder) + "/" + name;
  if (platform::KindOfFile(plain.c_str()) == platform::FileKind::Missing || sameBytes(plain, source)) return plain;
  const std::size_t dot = name.rfind('.');
  const std::string stem = dot == std::string::npos ? name : name.substr(0, dot);
  const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
  for (int n = 2;; ++n) {
    const std::string numbered = folderPath(folder) + "/" + stem + "-" + std::to_string(n) + ext;
    if (platform::KindOfFile(numbered.c_str()) == platform::FileKind::Missing) return numbered;
  }
}

bool writeMarker() {
  std::string text = "Pliki tego zadania zawieraja sprzedaz, ktora kasa juz wyzerowala, a zaden raport jej nie "
                     "dostarczyl:";
  text += kEol;
  for (const std::string& f : g_history.undelivered) text += f + kEol;
  const std::string folder = folderPath(g_history.folder);
  return replaceDurably(folder + "/" + kUndeliveredSalesMarker, text, folder);
}

}  // namespace

namespace quorvel::core {

bool historyBeginJob(std::string& why) {
  g_history = HistoryState{};
  g_history.stamp = stampOf(std::time(nullptr));
  why.clear();
  const bool previousFiles =
      platform::KindOfFile(kRaportFileName) == platform::FileKind::Regular ||
      platform::KindOfFile(kProgKomFileName) == platform::FileKind::Regular;
  if (!platform::MakeDirectory(kHistoryDir)) {
    // A directory the user may not write: the result files cannot be written either, and the
    // job is refused for that. Anything else would make this job replace the earlier files.
    if (!previousFiles || errno == EACCES || errno == EROFS || errno == EPERM) return true;
    why = std::string("Nie można utworzyć katalogu historii HISTORIA ("_cp) + std::string(std::strerror(errno)) +
          "); pliki wynikowe poprzedniego zadania pozostały bez zmian."_cp;
    return false;
  }
  g_history.enabled = true;

  const std::string current = readSmallFile(kCurrentJobFile);
  std::string previous = recordValue(current, "folder");
  const unsigned long previousNumber = std::strtoul(recordValue(current, "numer").c_str(), nullptr, 10);
  g_history.number = previousNumber + 1;
  if (!previousFiles) {
    prune();
    return true;
  }

  const ReportState report = readReportState(kRaportFileName);
  if (previous.empty() || platform::KindOfFile(folderPath(previous).c_str()) != platform::FileKind::Directory) {
    // Files of a job that left no folder (written before the history existed): a folder named
    // by the time they were last written and the operation the report names.
    long long written = platform::ModificationTime(kRaportFileName);
    if (written < 0) written = platform::ModificationTime(kProgKomFileName);
    const std::string start = stampOf(static_cast<std::time_t>(written));
    const std::string operacja = report.operacja.empty() ? std::string(kUnknownOperation) : report.operacja;
    previous = makeFolder(start + "-" + plainOperation(operacja), start, operacja, previousNumber);
  }
  const std::string operacja = [&] {
    const std::string recorded = recordValue(readSmallFile(folderPath(previous) + "/" + kJobRecordFile), "operacja");
    return recorded.empty() ? report.operacja : recorded;
  }();
  for (const char* name : {kRaportFileName, kProgKomFileName}) {
    if (platform::KindOfFile(name) != platform::FileKind::Regular) continue;
    if (previous.empty() || !moveDurably(name, folderPath(previous) + "/" + name, folderPath(previous))) {
      why = std::string("Nie można przenieść pliku "_cp) + name + " poprzedniego zadania do historii ("_cp +
            std::strerror(errno) + "); zadanie nie zostało wykonane, a plik pozostał bez zmian."_cp;
      return false;
    }
  }
  if (report.present && !report.complete && isSalesReadOut(operacja)) {
    g_history.notice = std::string("Poprzedni odbiór sprzedaży został przerwany przed końcem (RAPORT.XML bez statusu); "
                       "jego pliki zachowano: "_cp) +
                       keptFilesOf(previous) + ".";
    const std::string folder = folderPath(previous);
    const std::string marker = folder + "/" + kUndeliveredSalesMarker;
    if (platform::KindOfFile(marker.c_str()) != platform::FileKind::Missing) {
      g_history.notice += " Liczniki sprzedaży w kasie zostały już wyzerowane."_cp;
    } else if (holdsSales(folder + "/" + kProgKomFileName)) {
      // The read-out was cut off after its sales were on the disk, so the register may have
      // cleared them before the end came; no report delivered them. The folder is kept until
      // somebody has checked them against the register.
      const std::string text = std::string("Odbior sprzedazy przerwany po zapisaniu sprzedazy; kasa mogla juz wyzerowac "
                                           "liczniki, a zaden raport tej sprzedazy nie dostarczyl:") +
                               kEol + folder + "/" + kProgKomFileName + kEol;
      replaceDurably(marker, text, folder);
      g_history.notice +=
          " Kasa mogła już wyzerować liczniki sprzedaży: sprzedaż z zachowanego pliku PROG_KOM.XML należy sprawdzić z "
          "kasą, zanim zostanie doliczona lub pominięta."_cp;
    }
  }
  prune();
  return true;
}

const std::string& historyNotice() { return g_history.notice; }

void historyReserveFolder(const std::string& operacja) {
  if (!g_history.enabled || !g_history.folder.empty()) return;
  g_history.folder =
      makeFolder(g_history.stamp + "-" + plainOperation(operacja), g_history.stamp, operacja, g_history.number);
  if (g_history.folder.empty()) return;
  replaceDurably(kCurrentJobFile,
                 "folder=" + g_history.folder + kEol + "numer=" + std::to_string(g_history.number) + kEol, kHistoryDir);
}

void historyEndJob(bool delivered) {
  if (delivered && g_history.enabled && !g_history.folder.empty() && !g_history.undelivered.empty()) {
    const std::string marker = folderPath(g_history.folder) + "/" + kUndeliveredSalesMarker;
    if (platform::RemoveFile(marker.c_str())) platform::SyncDirectory(folderPath(g_history.folder).c_str());
  }
  g_history = HistoryState{};
}

}  // namespace quorvel::core

std::string HistoryJobFolder() { return g_history.folder.empty() ? std::string() : folderPath(g_history.folder); }

std::string HistoryKeepJobFile(const char* name, bool move, bool undeliveredSales) {
  if (!name || !g_history.enabled || g_history.folder.empty()) return {};
  if (platform::KindOfFile(name) != platform::FileKind::Regular) return {};
  const std::string folder = folderPath(g_history.folder);
  const std::string base = fs::path(name).filename().string();
  const std::string kept = folder + "/" + base;
  bool ok;
  if (move) {
    ok = moveDurably(name, kept, folder);
  } else {
    platform::ReadOpenError whyRead;
    std::FILE* in = platform::OpenRegularFileForReading(name, whyRead);
    if (!in) return {};
    std::string bytes;
    char chunk[65536];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) bytes.append(chunk, n);
    const bool read = !std::ferror(in);
    std::fclose(in);
    ok = read && replaceDurably(kept, bytes, folder);
  }
  if (!ok) return {};
  if (undeliveredSales) {
    g_history.undelivered.push_back(kept);
    if (!writeMarker()) return {};
  }
  return kept;
}

std::string HistoryKeepEarlierFile(const char* name) {
  if (!name || platform::KindOfFile(name) != platform::FileKind::Regular) return {};
  if (platform::KindOfFile(kHistoryDir) != platform::FileKind::Directory) return {};
  const long long written = platform::ModificationTime(name);
  const std::string writtenStamp = stampOf(static_cast<std::time_t>(written));
  // The newest job that started before the file was last written wrote it.
  std::string folder;
  for (const KeptJob& job : keptJobs())
    if (job.name != g_history.folder && job.name.substr(0, 15) <= writtenStamp) folder = job.name;
  if (folder.empty()) folder = makeFolder(writtenStamp + "-" + kUnknownOperation, writtenStamp, "", 0);
  if (folder.empty()) return {};
  const std::string kept = freeNameIn(folder, fs::path(name).filename().string(), name);
  if (!moveDurably(name, kept, folderPath(folder))) return {};
  return kept;
}
