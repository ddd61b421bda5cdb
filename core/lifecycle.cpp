// The life of one job inside the core library: what loading the library creates, in which
// order, what a failure undoes, and the teardown when the library is unloaded.
//
// Load:   job directory locked (QUORVEL.LCK) -> the previous result files moved into the
//         history (HISTORIA) -> report writer (RAPORT.XML opened) -> error state linked to it
//         -> job document, which reads VEXA_JOB.XML -> the job's history folder -> device-data
//         writer (PROG_KOM.XML opened).
// Unload: PROG_KOM.XML closed and synced -> RAPORT.XML finished (synced, status block, synced,
//         closed, directory synced) -> job freed -> the host told whether both reached the disk
//         -> job directory unlocked (or left to the host, which took a hold on the lock to read
//         the result files first).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/history.h"
#include "core/lifecycle.h"
#include "core/plugin_contract.h"
#include "core/progress.h"
#include "core/stop.h"
#include "core/xml/progkom_xml.h"
#include "core/xml/raport_xml.h"
#include "core/xml/vexa_xml.h"
#include "platform/api.h"
#include "platform/cp1250.h"
#include "platform/job_dir.h"

CRaportXml* raport = nullptr;
CVexaXml* vexa = nullptr;
CProgKomXml* progKom = nullptr;

namespace quorvel::core {

namespace {

// Held from the load of a job to the end of its teardown: one job per directory.
quorvel::platform::JobDirectoryLock g_jobLock;

// Why the last load was refused when RAPORT.XML cannot carry the reason (windows-1250);
// empty when the reason stands in the report. A fixed buffer: it is filled on the way out of
// an out-of-memory refusal too.
char g_refusal[1100] = "";

// Why RAPORT.XML could not be created (errno of the failed open), 0 when it was.
int g_reportErrno = 0;

// Set when a load was refused because this process still has a job loaded: the unload that
// follows the refusal belongs to the refused load and must leave the running job alone.
bool g_keepRunningJob = false;

// Where the host wants to learn whether the result files reached the disk
// (Quorvel_watchResultFiles); cleared once told.
int* g_watchFault = nullptr;
char* g_watchText = nullptr;
std::size_t g_watchSize = 0;

// The reason a load was refused when RAPORT.XML is a link or no regular file.
const char* const kReportNotRegular =
    "nazwa RAPORT.XML jest dowiązaniem symbolicznym lub nie jest zwykłym plikiem; nie zapisano przez nią"_cp;

const char* const kDirectoryBusy =
    "Katalog zadania jest zajęty przez inne zadanie (plik QUORVEL.LCK); "
    "zadanie nie zostało wykonane, pliki katalogu pozostały bez zmian."_cp;

}  // namespace

namespace {

// Tells the host that asked (Quorvel_watchResultFiles) whether both result files were
// finished and made durable.
void tellWatcher(bool durable, const std::string& why) {
  if (!g_watchFault) return;
  *g_watchFault = durable ? 0 : ERR_FILE_WRITE;
  if (g_watchText && g_watchSize > 0) std::snprintf(g_watchText, g_watchSize, "%s", durable ? "" : why.c_str());
  g_watchFault = nullptr;
  g_watchText = nullptr;
  g_watchSize = 0;
}

}  // namespace

void teardownJob() {
  bool deviceDataOnDisk = true;
  if (progKom) {
    // A job without its device-data file ends with E, whatever its operation made of the
    // status since: the host would find no PROG_KOM.XML of this job, or another file's.
    if (const char* why = ProgKomCreateError(); why && raport) raport->UstawStatus("E", why);
    progKom->Close();
    deviceDataOnDisk = ProgKomFinishedOnDisk();
    delete progKom;
    progKom = nullptr;
  }
  bool reportOnDisk = false;
  bool statusE = true;
  std::string why;
  if (raport) {
    // Unlinked first, so that nothing reaches the report while it is being finished.
    ErrorSetRaport(nullptr);
    delete raport;
    raport = nullptr;
    reportOnDisk = RaportFinishedOnDisk();
    statusE = RaportFinishedStatusE();
    if (!reportOnDisk) why = GetErrorMsg();
  }
  if (vexa) {
    delete vexa;
    vexa = nullptr;
  }
  // A device-data file that failed is an error message of the report, which says E then.
  const bool durable = reportOnDisk && (deviceDataOnDisk || statusE);
  if (reportOnDisk && !deviceDataOnDisk && why.empty()) why = "Błąd zapisu pliku PROG_KOM.XML"_cp;
  quorvel::core::historyEndJob(durable && deviceDataOnDisk && !statusE);
  tellWatcher(durable, why);
  stopProgress();
  forgetGoodsLeftOut();
  g_jobLock.Release();
}

namespace {

// A job that never got its device-data writer still leaves a complete PROG_KOM.XML behind:
// otherwise the file of an earlier job would stay in the directory and be read as this job's
// result. The root names the operation as far as the report knows it.
//
// Should that file fail as well, its message stands in the report, but the report's status and
// the error number stay the reason the job was refused.
void writeEmptyDeviceData() {
  if (progKom) return;
  const std::string operacja = raport ? raport->GetOperacja() : "InicjalizacjaSterownika";
  const int reason = GetErrorNum();
  const std::string statusTyp = raport ? raport->GetStatusTyp() : "";
  const std::string statusTresc = raport ? raport->GetStatusTresc() : "";
  {
    CProgKomXml empty(operacja.c_str());
    empty.Close();
  }
  if (GetErrorNum() == reason) return;
  SetErrorNum(reason);
  if (raport) raport->UstawStatus(statusTyp.c_str(), statusTresc.c_str());
}

// The load cannot go on: the device-data file is completed, the objects are torn down.
// Without even a report writer no result of this job can be written, so the result files of
// an earlier job are removed rather than left to be read as this job's.
int refuseLoad() {
  if (!raport || !raport->IsOpen()) {
    // The report of this load does not exist: the host learns the reason from
    // quorvel_module_refusal() instead.
    if (RaportNameRefused()) {
      std::snprintf(g_refusal, sizeof g_refusal, "%s (%s)", GetErrorMsg(), kReportNotRegular);
    } else if (g_reportErrno != 0) {
      std::snprintf(g_refusal, sizeof g_refusal, "%s (%s)", GetErrorMsg(), std::strerror(g_reportErrno));
    } else {
      std::snprintf(g_refusal, sizeof g_refusal, "%s", GetErrorMsg());
    }
  }
  if (!raport) {
    quorvel::platform::RemoveFile(kRaportFileName);
    quorvel::platform::RemoveFile(kProgKomFileName);
  } else {
    try {
      historyReserveFolder(raport->GetOperacja());
      writeEmptyDeviceData();
    } catch (...) {
      // Out of memory even for that: the report still gets finished below.
    }
  }
  teardownJob();
  return 0;
}

int outOfMemory() {
  SetError(ERR_NO_MEMORY, "");
  return refuseLoad();
}

int attachJob() {
  // The user-interface layer (platform/ui) needs no start-up on Linux: a form brings up its
  // front end when it is shown, so there is no framework that could refuse here.

  // A load while this process still has a job loaded (the host loaded the core again without
  // unloading it) would truncate that job's files and drop its objects: it is refused like a
  // job of another process, before the running job's error state or files are touched.
  if (g_jobLock.IsHeld() || raport || vexa || progKom) {
    std::snprintf(g_refusal, sizeof g_refusal, "%s", kDirectoryBusy);
    g_keepRunningJob = true;
    return 0;
  }

  // A fresh job starts without an error, also when the library stayed mapped in the process
  // since an earlier job (the process keeps its own reference to it).
  ErrorSetRaport(nullptr);
  ClearError("");
  clearStopRequest();
  g_refusal[0] = '\0';
  g_reportErrno = 0;

  // Before any file of the directory is opened: a second job in a directory whose job is still
  // running is refused at once and touches nothing (its files are the running job's).
  using Lock = quorvel::platform::JobDirectoryLock;
  if (g_jobLock.Acquire() == Lock::Result::Busy) {
    std::snprintf(g_refusal, sizeof g_refusal, "%s", kDirectoryBusy);
    return 0;
  }
  // Unavailable: not even the directory can be opened; the job goes on unguarded, and its
  // files will most likely fail to open as well, which the usual errors report.

  // The previous job's result files go into the history before this job replaces them; when
  // they cannot, the job is refused and they stay as they are.
  std::string historyRefusal;
  if (g_jobLock.IsHeld() && !historyBeginJob(historyRefusal)) {
    std::snprintf(g_refusal, sizeof g_refusal, "%s", historyRefusal.c_str());
    teardownJob();
    return 0;
  }
  startProgress();

  raport = new (std::nothrow) CRaportXml();
  if (!raport) return outOfMemory();
  if (!raport->IsOpen()) g_reportErrno = errno;
  ErrorSetRaport(raport);
  if (!historyNotice().empty()) raport->DodajKomunikat("W", historyNotice().c_str(), 0, false);

  vexa = new (std::nothrow) CVexaXml();
  if (!vexa) return outOfMemory();
  // Reading the job stops at its first error, which stands in the report; a report file that
  // could not be created is such an error too (it is pending before the reading starts).
  if (vexa->readHeader() != 0) return refuseLoad();
  historyReserveFolder(vexa->GetOperacja());

  progKom = new (std::nothrow) CProgKomXml(vexa->GetOperacja().c_str());
  if (!progKom) return outOfMemory();
  return 1;
}

}  // namespace
}  // namespace quorvel::core

// Load handler of the core library: non-zero lets the load go on.
QUORVEL_EXPORT_C int quorvel_module_attach() {
  try {
    return quorvel::core::attachJob();
  } catch (...) {
    // Nothing may leave a load handler; what throws while the job is built is out of memory.
    return quorvel::core::outOfMemory();
  }
}

// Why the last load of the core was refused, when the refusal left no RAPORT.XML of its own
// to say it (the job directory busy with another job, or the report not creatable); null when
// the load succeeded or its reason stands in RAPORT.XML. Windows-1250 text, valid until the
// next load. A host calls it after a refused attach, before it unloads the library.
QUORVEL_EXPORT_C const char* quorvel_module_refusal() {
  return quorvel::core::g_refusal[0] ? quorvel::core::g_refusal : nullptr;
}

// A descriptor that keeps the job directory locked after the unload, until the host closes it;
// -1 when no job holds the directory. The unload finishes RAPORT.XML and PROG_KOM.XML and then
// gives up the core's own hold on the lock: a host that reads the result files afterwards
// takes this first, so that no next job can replace them before they are read.
QUORVEL_EXPORT_C int Quorvel_holdJobDirectory() { return quorvel::core::g_jobLock.Share(); }

// Asks the coming unload to tell whether the job's result files reached the disk: it sets
// *fault to 0 when RAPORT.XML and PROG_KOM.XML were both finished whole and made durable
// (file and directory synced), otherwise to 4 with the reason in `text` (windows-1250, cut to
// size - 1 bytes). A failure that RAPORT.XML itself could still record stands there as an E
// message and the status E; one after its status was written (the status not synced, the
// close, the directory's entry) is known only this way. fault and text belong to the host and
// must stay valid until the unload returns; null fault asks nothing.
QUORVEL_EXPORT_C void Quorvel_watchResultFiles(int* fault, char* text, std::size_t size) {
  quorvel::core::g_watchFault = fault;
  quorvel::core::g_watchText = text;
  quorvel::core::g_watchSize = text ? size : 0;
}

// Unload handler of the core library: finishes both result files and frees the job.
QUORVEL_EXPORT_C void quorvel_module_detach() {
  if (quorvel::core::g_keepRunningJob) {
    quorvel::core::g_keepRunningJob = false;  // the unload of the refused second load
    return;
  }
  try {
    quorvel::core::teardownJob();
  } catch (...) {
    // Nothing may leave an unload handler; whatever was finished stays finished.
  }
}
