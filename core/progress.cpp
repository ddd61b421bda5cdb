// Progress of long work: the drivers' per-record reports, thinned out and passed to the host's
// callback and to the progress file.
#include "core/progress.h"

#include <strings.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/xml/progkom_xml.h"
#include "core/xml/raport_xml.h"
#include "platform/job_dir.h"

namespace {

using Clock = std::chrono::steady_clock;

// At most five reports a second between the first and the last item of a work: enough for a
// moving bar, and a file line per 200 ms costs the driver nothing it would notice.
constexpr auto kInterval = std::chrono::milliseconds(200);

struct Progress {
  QuorvelProgressFn callback = nullptr;
  void* context = nullptr;
  std::FILE* file = nullptr;
  std::string name;  // of the progress file, for the fault hook
  std::string lastWhat;
  long lastDone = 0;          // of the last call
  long lastReportedDone = 0;  // of the last report: the same state is not reported twice
  Clock::time_point lastReport{};
  bool reported = false;  // something was reported since the sinks were set
  bool endReported = false;  // the current work's done >= total was reported
  bool inJob = false;        // between startProgress and stopProgress: the directory is locked
};

Progress g_progress;

// The files of the job exchange and the directory's lock file, which progress must never
// overwrite.
bool isExchangeFile(const char* name) {
  for (const char* exchange :
       {"VEXA_JOB.XML", kRaportFileName, kProgKomFileName, "PROG_KOM.CFG", quorvel::platform::kJobLockFileName})
    if (strcasecmp(name, exchange) == 0) return true;
  return false;
}

void closeFile() {
  if (g_progress.file) quorvel::platform::CloseFile(g_progress.file, g_progress.name.c_str());
  g_progress.file = nullptr;
}

// One whole line per write, handed to the system at once, so a reader never sees half a line
// from us.
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
  if (!quorvel::platform::WriteToFile(g_progress.file, line, static_cast<std::size_t>(n), g_progress.name.c_str()))
    closeFile();
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
  // Outside a job the directory is not locked: a file created then could be another job's.
  if (!g_progress.inJob) return -1;
  if (std::strchr(name, '/') || std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0 || isExchangeFile(name))
    return -1;
  // A link planted under the chosen name does not redirect the lines elsewhere, and a FIFO
  // under the name would hold the open until a reader came, and every line after it while the
  // reader lags: anything but a regular file is refused before it is emptied or written.
  quorvel::platform::WriteOpenError why = quorvel::platform::WriteOpenError::None;
  g_progress.file = quorvel::platform::OpenResultFileForWriting(name, why, true, 0644);
  if (!g_progress.file) return -1;
  g_progress.name = name;
  return 0;
}

QUORVEL_API void QuorvelProgress(long done, long total, const char* what) {
  Progress& p = g_progress;
  if (!p.callback && !p.file) return;
  if (!what) what = "";
  const Clock::time_point now = Clock::now();
  // A new work, also the same work begun again, is always reported.
  const bool newWork = !p.reported || done < p.lastDone || p.lastWhat != what;
  p.lastDone = done;
  if (!newWork) {
    if (done == p.lastReportedDone) return;
    // The end of a work is reported at once, but only the first time: records beyond the
    // announced total (a register that sends more than it said) are thinned out like the rest.
    const bool reachesEnd = done >= total && !p.endReported;
    if (!reachesEnd && now - p.lastReport < kInterval) return;
  } else {
    p.lastWhat = what;
    p.endReported = false;
  }
  p.lastReport = now;
  p.lastReportedDone = done;
  p.reported = true;
  if (done >= total) p.endReported = true;
  if (p.file) writeLine(done, total, what);
  if (p.callback) p.callback(p.context, done, total, what);
}

namespace quorvel::core {

void startProgress() {
  g_progress = Progress{};
  g_progress.inJob = true;
  if (const char* name = std::getenv(QUORVEL_PROGRESS_FILE_VARIABLE)) Quorvel_setProgressFile(name);
}

void stopProgress() {
  closeFile();
  g_progress = Progress{};
}

}  // namespace quorvel::core
