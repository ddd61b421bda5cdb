// The stop request of a running job: a flag set by the host, safe points in the drivers, and
// the report of what was done.
#include "core/stop.h"

#include <atomic>
#include <cstdio>
#include <string>

#include "core/error_state.h"
#include "core/globals.h"
#include "core/xml/raport_xml.h"
#include "platform/cp1250.h"

namespace {

// Set from a signal handler or another thread: a lock-free atomic is all such a caller may touch.
std::atomic<bool> g_stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag must be safe in a signal handler");

// What the driver said it did when it stopped; noted until the operation returns.
bool g_stopNoted = false;
std::string g_stopDone;

const char* const kStopped = "Zadanie przerwane na żądanie"_cp;

void addStopMessage(const std::string& text) {
  if (raport) raport->DodajKomunikat("E", text.c_str(), ERR_USER_CANCEL, true);
  SetErrorNum(ERR_USER_CANCEL);
}

}  // namespace

QUORVEL_EXPORT_C void Quorvel_requestStop() { g_stopRequested.store(true, std::memory_order_relaxed); }

QUORVEL_API bool JobStopRequested() { return g_stopRequested.load(std::memory_order_relaxed); }

QUORVEL_API int JobStopped(const char* done) {
  if (!g_stopNoted) {
    g_stopNoted = true;
    g_stopDone = done ? done : "";
  }
  return SetErrorNum(ERR_USER_CANCEL);
}

QUORVEL_API int JobStoppedAfter(const char* work, long done, long total) {
  char text[400];
  std::snprintf(text, sizeof text, "%s: obsłużono %ld z %ld towarów."_cp, work ? work : "", done, total);
  return JobStopped(text);
}

QUORVEL_API int JobStoppedBeforeClearing() {
  return JobStopped("liczniki sprzedaży nie zostały wyzerowane i pozostały w kasie."_cp);
}

namespace quorvel::core {

void clearStopRequest() {
  g_stopRequested.store(false, std::memory_order_relaxed);
  g_stopNoted = false;
  g_stopDone.clear();
}

void reportStop() {
  if (g_stopNoted) {
    // Last of the operation's messages, so that it is the job's status whatever the driver
    // reported before it stopped.
    addStopMessage(g_stopDone.empty() ? std::string(kStopped) + "." : std::string(kStopped) + ": " + g_stopDone);
  } else if (JobStopRequested() && raport) {
    raport->DodajKomunikat(
        "I", "Żądanie przerwania zadania nadeszło zbyt późno, by je przerwać; operacja została dokończona."_cp, 0, false);
  }
  g_stopNoted = false;
  g_stopDone.clear();
}

void reportStopBeforeStart() {
  addStopMessage(std::string(kStopped) + ": operacja nie została rozpoczęta."_cp);
}

}  // namespace quorvel::core
