// Stop signals of a host program (see stop_signals.h).
#include "platform/stop_signals.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace quorvel::platform {

namespace {

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kCount = sizeof kStopSignals / sizeof kStopSignals[0];

// Touched by the handler: lock-free atomics only.
std::atomic<int> g_received{0};
std::atomic<StopFunction> g_onStop{nullptr};
std::atomic<const char*> g_note{nullptr};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<StopFunction>::is_always_lock_free,
              "the stop signal handler may only touch lock-free atomics");

struct sigaction g_previous[kCount];
bool g_installed[kCount] = {};

void onSignal(int sig) {
  if (g_received.fetch_add(1) == 0) {
    if (const char* note = g_note.load()) {
      const ssize_t written = ::write(STDERR_FILENO, note, std::strlen(note));
      static_cast<void>(written);  // a note that cannot be shown changes nothing
    }
    if (StopFunction f = g_onStop.load()) f();
    return;
  }
  // A second stop signal: whoever sent it will not wait for the job any longer. The signal
  // stays blocked inside its handler and is delivered, now with its default action, on return.
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

}  // namespace

bool InstallStopSignals(StopFunction onStop, const char* note) {
  g_onStop.store(onStop);
  g_note.store(note);
  g_received.store(0);
  bool ok = true;
  for (int i = 0; i < kCount; ++i) {
    struct sigaction current {};
    if (::sigaction(kStopSignals[i], nullptr, &current) != 0) {
      ok = false;
      continue;
    }
    if (current.sa_handler == SIG_IGN) continue;  // ignored by whoever started us: it stays so
    struct sigaction action {};
    action.sa_handler = onSignal;
    ::sigemptyset(&action.sa_mask);
    for (int s : kStopSignals) ::sigaddset(&action.sa_mask, s);
    // Interrupted reads and writes go on by themselves: a vendor library need not expect EINTR.
    // Waits with a time-out (poll, sleeps) return early and wait out the rest of their time.
    action.sa_flags = SA_RESTART;
    if (::sigaction(kStopSignals[i], &action, &g_previous[i]) != 0) {
      ok = false;
      continue;
    }
    g_installed[i] = true;
  }
  return ok;
}

bool StopSignalReceived() { return g_received.load() > 0; }

void RestoreStopSignals() {
  for (int i = 0; i < kCount; ++i) {
    if (!g_installed[i]) continue;
    ::sigaction(kStopSignals[i], &g_previous[i], nullptr);
    g_installed[i] = false;
  }
  g_onStop.store(nullptr);
  g_note.store(nullptr);
}

}  // namespace quorvel::platform
