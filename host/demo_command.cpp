// `quorvel demo`: tours of the drivers, each against its simulated register, the way a shop's
// sales application would run them, one job after the other in a job directory of its own.
#include "host/demo_command.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "host/demo_support.h"
#include "platform/stop_signals.h"

namespace {

using quorvel::demo::DemoOptions;
using quorvel::demo::DemoStopped;
using quorvel::demo::kExitError;
using quorvel::demo::kExitMissing;
using quorvel::demo::kExitOk;
using quorvel::demo::kExitUsage;
using quorvel::demo::Tour;

// The tours in the order `quorvel demo` runs them all, with what each needs besides this program.
struct TourEntry {
  const char* name;
  int (*run)(Tour&, const DemoOptions&);
  const char* simulator;             // the simulated register's program
  std::vector<const char*> standins; // vendor-library stand-ins the driver loads
  int models;                        // register models the tour can play (--model 1 to N)
};
const TourEntry kTours[] = {
    {"elcom", quorvel::demo::runElcomTour, "elcom_sim", {}, 7},
    {"elzab", quorvel::demo::runElzabTour, "elzab_sim", {"libWinIP.so"}, 1},
    {"posnet", quorvel::demo::runPosnetTour, "posnet_sim", {"libposnet.so", "libhlapi.so"}, 1},
};

std::string tourNames(const char* between) {
  std::string names;
  for (const TourEntry& t : kTours) names += std::string(names.empty() ? "" : between) + t.name;
  return names;
}

int refuse(const std::string& why) {
  std::fprintf(stderr, "quorvel demo: %s\nTry 'quorvel demo --help'.\n", why.c_str());
  return kExitUsage;
}

bool makeDirectory(const std::string& dir) {
  if (quorvel::platform::EnsureDirectory(dir.c_str())) return true;
  std::fprintf(stderr, "quorvel demo: cannot make %s: %s\n", dir.c_str(), std::strerror(errno));
  return false;
}

// Says what a tour lacks and how to get it; false when something is missing.
bool piecesThere(const TourEntry& t) {
  bool there = true;
  if (Tour::simulator(t.simulator).empty()) {
    std::fprintf(stderr, "quorvel demo: the simulated register %s is missing (looked in %s)\n", t.simulator,
                 Tour::simulatorFolders().c_str());
    there = false;
  }
  const std::string folder = Tour::standinDir();
  for (const char* library : t.standins) {
    const std::string path = folder + "/" + library;
    if (folder.empty() || !quorvel::platform::FileReadable(path.c_str())) {
      std::fprintf(stderr, "quorvel demo: the stand-in library %s is missing (looked in %s)\n", library,
                   Tour::standinFolders().c_str());
      there = false;
    }
  }
  if (!there)
    std::fprintf(stderr,
                 "quorvel demo: build them with 'cmake --build BUILD' (targets %s and the stand-ins), or install\n"
                 "Quorvel with 'cmake --install BUILD', which puts them in libexec/quorvel of the installation.\n",
                 t.simulator);
  return there;
}

// Stops every simulator and the job running now; called inside the stop-signal handler.
void stopChildren() { quorvel::platform::SignalChildProcesses(); }

}  // namespace

void printDemoHelp(std::FILE* out) {
  std::fprintf(out,
               "Usage: quorvel demo [TOUR...] [-C DIR] [--model N]\n"
               "\n"
               "Runs tours of the drivers (%s; all of them by default, in that order), each\n"
               "against its simulated register, the way a shop's sales application runs jobs: the\n"
               "tour starts the simulator, writes PROG_KOM.CFG with 'quorvel config' and runs its\n"
               "jobs one after the other with 'quorvel run', showing each report and the data read\n"
               "back.\n"
               "\n"
               "Options:\n"
               "  -C DIR     the job directory (default: a fresh one under /tmp); with several\n"
               "             tours each runs in DIR/TOUR\n"
               "  --model N  the Elcom register model, 1 to 7 in the order 'quorvel --help' lists\n"
               "             them (default 1); only the elcom tour takes it\n"
               "\n"
               "The simulators and the stand-ins of the vendor libraries come from the build tree\n"
               "(bin/ and standins/) or, in an installation, from its private folder\n"
               "libexec/quorvel, which no job's library search reaches. They run in process\n"
               "groups of their own and end with the demo, however it ends.\n"
               "\n"
               "Exit status: 0 when every job ended without an error, 2 otherwise, 64 for a bad\n"
               "command line, 69 when a simulator or stand-in is missing, 130 when SIGINT\n"
               "(Ctrl-C), SIGTERM or SIGHUP stopped the demo (the job running is stopped and no\n"
               "further tour runs), 141 when its output was closed (as by 'quorvel demo | head').\n",
               tourNames(", ").c_str());
}

int runDemoCommand(int argc, char** argv) {
  std::string dir;
  DemoOptions options;
  std::vector<const TourEntry*> chosen;
  for (int i = 1; i < argc; ++i) {
    const std::string_view a = argv[i];
    if (a == "--help" || a == "-h") {
      printDemoHelp(stdout);
      return kExitOk;
    }
    if (a == "-C") {
      if (i + 1 >= argc) return refuse("-C needs a directory");
      dir = argv[++i];
    } else if (a == "--model") {
      if (i + 1 >= argc) return refuse("--model needs a number");
      char* end = nullptr;
      const long model = std::strtol(argv[++i], &end, 10);
      if (*argv[i] == '\0' || *end != '\0' || model < 1 || model > 99) return refuse("--model needs a number from 1");
      options.model = static_cast<int>(model);
    } else if (a.size() > 1 && a[0] == '-') {
      return refuse("unknown option " + std::string(a));
    } else {
      const TourEntry* found = nullptr;
      for (const TourEntry& t : kTours)
        if (a == t.name) found = &t;
      if (!found) return refuse("unknown tour " + std::string(a) + "; the tours are " + tourNames(", "));
      chosen.push_back(found);
    }
  }
  if (chosen.empty())
    for (const TourEntry& t : kTours) chosen.push_back(&t);
  // An option none of the chosen tours uses is refused rather than silently ignored.
  if (options.model != 0) {
    int most = 0;
    for (const TourEntry* t : chosen) most = std::max(most, t->models);
    if (most == 1) return refuse("--model is not used by the " + std::string(chosen[0]->name) +
                                 " tour, which plays one register model; the elcom tour takes it");
    if (options.model > most) return refuse("the Elcom model must be 1 to " + std::to_string(most));
  }
  for (const TourEntry* t : chosen)
    if (!piecesThere(*t)) return kExitMissing;

  if (dir.empty()) {
    dir = quorvel::platform::MakeTemporaryDirectory("/tmp/quorvel-demo-XXXXXX");
    if (dir.empty()) {
      std::perror("quorvel demo");
      return kExitError;
    }
  } else if (std::system(("mkdir -p " + quorvel::demo::quoted(dir)).c_str()) != 0) {
    return kExitError;
  }

  // A stop signal stops the simulators and the job at once, and the tours end; output that
  // nobody reads any more ends them quietly.
  quorvel::platform::IgnoreBrokenPipe();
  quorvel::platform::InstallStopSignals(stopChildren);
  int worst = kExitOk;
  try {
    // One tour runs in DIR itself; several each get DIR/<name>.
    for (const TourEntry* t : chosen) {
      const std::string tourDir = chosen.size() == 1 ? dir : dir + "/" + t->name;
      if (!makeDirectory(tourDir)) return kExitError;
      Tour tour(tourDir);
      const int status = t->run(tour, options);
      if (status == kExitUsage) return status;
      if (status != kExitOk) worst = kExitError;
      std::printf("\n");
      Tour::checkpoint();
    }
    std::printf("Done. The files of the last jobs are in %s\n", dir.c_str());
    Tour::checkpoint();
  } catch (const DemoStopped& stopped) {
    // The tour's simulators were stopped as it was left.
    if (stopped.outputClosed) return quorvel::demo::kExitOutputClosed;
    std::fprintf(stderr, "quorvel demo: interrupted; the simulators were stopped.\n");
    return quorvel::demo::kExitInterrupted;
  }
  return worst;
}
