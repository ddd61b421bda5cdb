// Progress of long work: the drivers' per-record reports, thinned out and passed to the host's
// callback and to the progress file.
#include "core/progress.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/xml/progkom_xml.h"
#include "core/xml/raport_xml.h"

namespace {

using Clock = std::chrono::steady_clock;

// At most five reports a second between the first and the last item of a work: enough for a
// moving bar, and a file line per 200 ms costs the driver nothing it would notice.
constexpr auto kInterval = std::chrono::milliseconds(200);

struct Progress {
  QuorvelProgressFn callback = nullptr;
  void* context = nullptr;
  int file = -1;
  std::string lastWhat;
  long lastDone = 0;          // of the last call
  long lastReportedDone = 0;  // of the last report: the same state is not reported twice
  Clock::time_point lastReport{};
  bool reported = false;  // something was reported since the sinks were set
};

Progress g_progress;

// The files of the job exchange, which progress must never overwrite.
bool isExchangeFile(const char* name) {
  for (const char* exchange : {"VEXA_JOB.XML", kRaportFileName, kProgKomFileName, "PROG_KOM.CFG"})
    if (strcasecmp(name, exchange) == 0) return true;
  return false;
}

void closeFile() {
  if (g_progress.file >= 0) ::close(g_progress.file);
  g_progress.file = -1;
}

// One whole line per write(2), so a reader never sees half a line from us.
void writeLine(long done, long total, const char* what) {
  char line[320];
  int n = std::snprintf(line, sizeof line, "%ld %ld %s\r\n", done, total, what);
  if (n < 0) return;
  if (static_cast<std::size_t>(n) >= sizeof line) {
    // An overlong text is cut; the line still ends properly.
    n = static_cast<int>(sizeof line) - 1;
    line[n - 2] = '\r';
    line[n - 1] = '\n';
  }
  // A full disk or a vanished file loses progress lines, never the job.
  if (::write(g_progress.file, line, static_cast<std::size_t>(n)) != n) closeFile();
}

}  // namespace

QUORVEL_EXPORT_C void Quorvel_setProgress(QuorvelProgressFn callback, void* context) {
  g_progress.callback = callback;
  g_progress.context = callback ? context : nullptr;
  g_progress.reported = false;
}

QUORVEL_EXPORT_C int Quorvel_setProgressFile(const char* name) {
  closeFile();
  g_progress.reported = false;
  if (!name || !*name) return 0;
  if (std::strchr(name, '/') || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || isExchangeFile(name))
    return -1;
  // O_NOFOLLOW: a link planted under the chosen name does not redirect the lines elsewhere.
  g_progress.file = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  return g_progress.file >= 0 ? 0 : -1;
}

QUORVEL_API void QuorvelProgress(long done, long total, const char* what) {
  Progress& p = g_progress;
  if (!p.callback && p.file < 0) return;
  if (!what) what = "";
  const Clock::time_point now = Clock::now();
  // A new work, also the same work begun again, is always reported.
  const bool newWork = !p.reported || done < p.lastDone || p.lastWhat != what;
  p.lastDone = done;
  if (!newWork && (done == p.lastReportedDone || (done < total && now - p.lastReport < kInterval))) return;
  if (newWork) p.lastWhat = what;
  p.lastReport = now;
  p.lastReportedDone = done;
  p.reported = true;
  if (p.file >= 0) writeLine(done, total, what);
  if (p.callback) p.callback(p.context, done, total, what);
}

namespace quorvel::core {

void startProgress() {
  g_progress = Progress{};
  if (const char* name = std::getenv(QUORVEL_PROGRESS_FILE_VARIABLE)) Quorvel_setProgressFile(name);
}

void stopProgress() {
  closeFile();
  g_progress = Progress{};
}

}  // namespace quorvel::core
