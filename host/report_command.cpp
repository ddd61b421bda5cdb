// `quorvel report`: the two windows-1250 result files of a job, readable in the terminal.
#include "host/report_command.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <tuple>
#include <vector>

#include "host/report_formats.h"
#include "host/report_view.h"
#include "platform/cp1250.h"
#include "platform/job_dir.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUnreadable = 2;
constexpr int kExitJobRunning = 3;
constexpr int kExitUsage = 64;

namespace fs = std::filesystem;

constexpr const char* kHistory = "HISTORIA";
constexpr const char* kMarker = "SPRZEDAZ_NIEDOSTARCZONA.TXT";

// A money text of PROG_KOM.XML ("-12.5") in ten-thousandths.
long long moneyValue(const std::string& text) {
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (negative) ++i;
  long long whole = 0, fraction = 0, scale = 10000;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) whole = whole * 10 + (text[i] - '0');
  if (i < text.size() && text[i] == '.')
    for (++i; i < text.size() && text[i] >= '0' && text[i] <= '9' && scale > 1; ++i)
      scale /= 10, fraction += (text[i] - '0') * scale;
  const long long value = whole * 10000 + fraction;
  return negative ? -value : value;
}

std::string moneyText(long long v) {
  const bool negative = v < 0;
  if (negative) v = -v;
  char text[48];
  std::snprintf(text, sizeof text, "%s%lld.%02lld", negative ? "-" : "", v / 10000, (v % 10000) / 100);
  return text;
}

// The value of "key=" in a job's ZADANIE.TXT.
std::string recordValue(const std::string& bytes, const std::string& key) {
  const std::size_t at = bytes.find(key + "=");
  if (at == std::string::npos) return {};
  const std::size_t from = at + key.size() + 1;
  const std::size_t end = bytes.find_first_of("\r\n", from);
  return bytes.substr(from, end == std::string::npos ? std::string::npos : end - from);
}

std::string readSmall(const fs::path& path) {
  std::string bytes;
  quorvel::platform::ReadOpenError why;
  if (std::FILE* f = quorvel::platform::OpenRegularFileForReading(path.c_str(), why)) {
    char chunk[4096];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.append(chunk, n);
    std::fclose(f);
  }
  return bytes;
}

struct KeptJob {
  std::string name;
  unsigned long number = 0;
};

// The history's folders, oldest first (start time, job number, name), as the core orders them.
std::vector<KeptJob> keptJobs(const fs::path& history) {
  std::vector<KeptJob> jobs;
  std::error_code ec;
  for (fs::directory_iterator it(history, ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->is_directory(ec) || it->is_symlink(ec)) continue;
    KeptJob job{it->path().filename().string()};
    job.number = std::strtoul(recordValue(readSmall(it->path() / "ZADANIE.TXT"), "numer").c_str(), nullptr, 10);
    jobs.push_back(job);
  }
  std::sort(jobs.begin(), jobs.end(), [](const KeptJob& a, const KeptJob& b) {
    return std::make_tuple(a.name.substr(0, 15), a.number, a.name) < std::make_tuple(b.name.substr(0, 15), b.number, b.name);
  });
  return jobs;
}

// `text` (UTF-8) followed by blanks to `width` characters, whatever its letters' byte counts.
std::string padded(const std::string& text, std::size_t width) {
  std::size_t characters = 0;
  for (const char c : text) characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return characters >= width ? text : text + std::string(width - characters, ' ');
}

enum class Format { Text, Json, Csv };

int listHistory(const std::string& directory, Format format) {
  const fs::path history = fs::path(directory) / kHistory;
  std::error_code ec;
  if (!fs::is_directory(history, ec)) {
    std::fprintf(stderr, "quorvel report: %s has no job history (%s)\n", directory.c_str(), history.c_str());
    return kExitUnreadable;
  }
  const std::string current = recordValue(readSmall(history / "BIEZACE.TXT"), "folder");
  std::vector<quorvel::host::KeptJobRow> rows;
  for (const KeptJob& job : keptJobs(history)) {
    const fs::path folder = history / job.name;
    quorvel::host::KeptJobRow row;
    row.folder = job.name;
    // The current job's result files still lie in the job directory itself.
    row.current = job.name == current;
    const fs::path files = row.current ? fs::path(directory) : folder;
    quorvel::host::ReportView report;
    const bool haveReport = quorvel::host::readReport((files / "RAPORT.XML").string(), report);
    quorvel::host::DeviceDataView data;
    quorvel::host::readDeviceData((files / "PROG_KOM.XML").string(), data);
    row.operation = report.operation;
    if (row.operation.empty()) row.operation = quorvel::cp1250::toUtf8(recordValue(readSmall(folder / "ZADANIE.TXT"), "operacja"));
    row.status = !haveReport ? "" : report.complete ? report.status.type : "cut off";
    long long total = 0;
    for (const auto& r : data.records) {
      if (r.kind != "Obrót") continue;
      ++row.salesRecords;
      for (const auto& [name, value] : r.fields)
        if (name == "Wartość") total += moneyValue(value);
    }
    row.salesTotal = moneyText(total);
    row.undelivered = fs::exists(folder / kMarker, ec);
    rows.push_back(row);
  }
  if (format == Format::Json) {
    quorvel::host::printHistoryJson(directory, rows, stdout);
  } else if (format == Format::Csv) {
    quorvel::host::printHistoryCsv(rows, stdout);
  } else {
    std::printf("Jobs kept in %s, oldest first:\n", history.c_str());
    std::printf("  %-44s %-26s %-8s %s\n", "FOLDER", "OPERATION", "STATUS", "SALES");
    for (const auto& row : rows) {
      const std::string sales = row.salesRecords ? std::to_string(row.salesRecords) + " records, " + row.salesTotal : "-";
      std::printf("  %s %s %-8s %s%s%s\n", padded(row.folder, 44).c_str(),
                  padded(row.operation.empty() ? "?" : row.operation, 26).c_str(),
                  row.status.empty() ? "-" : row.status.c_str(), sales.c_str(), row.current ? "   (current)" : "",
                  row.undelivered ? "   UNDELIVERED SALES" : "");
    }
    std::printf("\n(current) is the job whose RAPORT.XML and PROG_KOM.XML lie in %s itself; UNDELIVERED SALES\n"
                "marks a job whose kept files hold sales the register has cleared and no report delivered.\n",
                directory.c_str());
  }
  std::fflush(stdout);
  return kExitOk;
}

}  // namespace

void printReportHelp(std::FILE* out) {
  std::fputs(
      "Usage: quorvel report [DIR] [--history | --job NAME] [--format text|json|csv]\n"
      "\n"
      "Shows the result files of the last job in the job directory DIR (default: the current\n"
      "directory) in the terminal's encoding (UTF-8); the files themselves are windows-1250.\n"
      "\n"
      "  --history   lists the jobs kept in DIR/HISTORIA, oldest first: folder, operation,\n"
      "              status (\"cut off\" for a job stopped before its end), the number and the\n"
      "              total value of its sales records, and UNDELIVERED SALES for a job whose\n"
      "              kept files hold sales the register has cleared and no report delivered\n"
      "  --job NAME  shows the kept job HISTORIA/NAME as the last job is shown, and its\n"
      "              further kept files\n"
      "  --format F  text (the default), or for scripts and spreadsheets:\n"
      "              json: one object {\"directory\", \"job\" (with --job only), \"operation\",\n"
      "                \"complete\" (both files read whole), \"status\": {\"type\", \"text\"} (null\n"
      "                without a status block), \"messages\": [{\"type\", \"text\", \"number\"\n"
      "                (null when none), \"goods\": [...]}], \"records\": [{\"record\": \"Towar\"\n"
      "                or \"Obrót\", then every field of the record by its element name}]};\n"
      "                a field with an id is named with it (\"Ce[1]\"), a field that comes\n"
      "                more than once in a record holds the array of its values; all values\n"
      "                are strings, in UTF-8. With --history: {\"directory\", \"jobs\": [{\"folder\",\n"
      "                \"operation\", \"status\", \"salesRecords\", \"salesTotal\", \"current\",\n"
      "                \"undelivered\"}]}.\n"
      "              csv: the records of PROG_KOM.XML (RFC 4180, UTF-8, CRLF, a header row):\n"
      "                the sales records (Obrót) of a sales read-out, otherwise the goods\n"
      "                records (Towar), one row each, a column per field name in the order\n"
      "                the names first come; the values of a field that comes more than once\n"
      "                in a record are joined by ';'. A job without such records gives no\n"
      "                output at all, not even the header row. With --history: a row per\n"
      "                kept job (folder, operation, status, salesRecords, salesTotal,\n"
      "                current, undelivered).\n"
      "\n"
      "Shown:\n"
      "  RAPORT.XML     every message (type, text, number, goods identifiers) and the status\n"
      "  PROG_KOM.XML   one line per record: towar (goods accepted by the register or read\n"
      "                 from it) or sprzedaż (sales counters), with their fields\n"
      "\n"
      "While a job is running in DIR its result files are not complete: nothing is shown.\n"
      "\n"
      "Exit status: 0 when both files were read whole, 2 when either is missing,\n"
      "unreadable or cut short, 3 when a job is running in DIR, 64 for a bad command line.\n",
      out);
}

int runReportCommand(int argc, char** argv) {
  std::string directory = ".";
  bool haveDirectory = false, history = false;
  std::string job;
  Format format = Format::Text;
  const auto usage = [](const std::string& why) {
    std::fprintf(stderr, "quorvel report: %s\nTry 'quorvel report --help'.\n", why.c_str());
    return kExitUsage;
  };
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      printReportHelp(stdout);
      return kExitOk;
    }
    if (arg == "--history") {
      history = true;
    } else if (arg == "--job") {
      if (i + 1 >= argc) return usage("--job needs the name of a kept job");
      job = argv[++i];
      if (job.empty() || job.find('/') != std::string::npos || job == "." || job == "..")
        return usage("--job takes the name of a folder of HISTORIA, not " + job);
    } else if (arg == "--format" || arg.substr(0, 9) == "--format=") {
      std::string name;
      if (arg == "--format") {
        if (i + 1 >= argc) return usage("--format needs text, json or csv");
        name = argv[++i];
      } else {
        name = std::string(arg.substr(9));
      }
      if (name == "text") format = Format::Text;
      else if (name == "json") format = Format::Json;
      else if (name == "csv") format = Format::Csv;
      else return usage("unknown format " + name + " (text, json or csv)");
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage("unknown option " + std::string(arg));
    } else if (haveDirectory) {
      return usage("only one job directory may be given (" + std::string(arg) + ")");
    } else {
      directory = argv[i];
      haveDirectory = true;
    }
  }
  if (history && !job.empty()) return usage("--history and --job cannot go together");
  // A running job writes its result files as it goes: what they hold is not yet its report.
  if (const long holder = quorvel::platform::JobDirectoryLockHolder(directory); holder != 0) {
    std::fprintf(stderr, "quorvel report: a job is running in %s", directory.c_str());
    if (holder > 0) std::fprintf(stderr, " (PID %ld)", holder);
    std::fputs("; its result files are not complete, nothing is shown. Try again when it has ended.\n", stderr);
    return kExitJobRunning;
  }
  if (history) return listHistory(directory, format);
  const std::string shownDirectory = directory;
  if (!job.empty()) {
    directory = (fs::path(directory) / kHistory / job).string();
    std::error_code ec;
    if (!fs::is_directory(directory, ec)) {
      std::fprintf(stderr, "quorvel report: no kept job %s in %s\n", job.c_str(), shownDirectory.c_str());
      return kExitUnreadable;
    }
  }
  int status = kExitOk;

  quorvel::host::ReportView report;
  quorvel::host::DeviceDataView data;
  if (format != Format::Text) {
    quorvel::host::readReport(directory + "/RAPORT.XML", report);
    quorvel::host::readDeviceData(directory + "/PROG_KOM.XML", data);
    if (format == Format::Json)
      quorvel::host::printJson(shownDirectory, job, report, data, stdout);
    else
      quorvel::host::printCsv(data, stdout);
    if (!report.complete) std::fprintf(stderr, "quorvel report: RAPORT.XML: %s\n", report.error.c_str());
    if (!data.complete) std::fprintf(stderr, "quorvel report: PROG_KOM.XML: %s\n", data.error.c_str());
    std::fflush(stdout);
    return report.complete && data.complete ? kExitOk : kExitUnreadable;
  }

  std::printf("RAPORT.XML\n");
  if (quorvel::host::readReport(directory + "/RAPORT.XML", report)) {
    quorvel::host::printReport(report, stdout);
  }
  if (!report.complete) {
    std::fprintf(stderr, "quorvel report: RAPORT.XML: %s\n", report.error.c_str());
    status = kExitUnreadable;
  }

  std::printf("\nPROG_KOM.XML\n");
  if (quorvel::host::readDeviceData(directory + "/PROG_KOM.XML", data)) {
    quorvel::host::printDeviceData(data, stdout);
  }
  if (!data.complete) {
    std::fprintf(stderr, "quorvel report: PROG_KOM.XML: %s\n", data.error.c_str());
    status = kExitUnreadable;
  }
  // A failed job's device data may list goods the register never took, or only part of the
  // sales: a host acts on PROG_KOM.XML only after a status other than E.
  if (report.complete && report.status.type == "E")
    std::printf("\nThe job failed (status E): its PROG_KOM.XML must not be taken over.\n");
  if (!job.empty()) {
    std::error_code ec;
    std::vector<std::string> further;
    for (fs::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = it->path().filename().string();
      if (name != "RAPORT.XML" && name != "PROG_KOM.XML" && name != "ZADANIE.TXT" && name != kMarker)
        further.push_back(name);
    }
    std::sort(further.begin(), further.end());
    for (const std::string& name : further) std::printf("%s %s/%s\n", name == further.front() ? "\nAlso kept:" : "           ", directory.c_str(), name.c_str());
    if (fs::exists(fs::path(directory) / kMarker, ec))
      std::printf("\nUNDELIVERED SALES: the register has cleared the sales these files hold and no report\n"
                  "delivered them; take them over from here, then remove %s/%s.\n",
                  directory.c_str(), kMarker);
  }
  std::fflush(stdout);
  return status;
}
