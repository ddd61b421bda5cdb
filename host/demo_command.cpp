// `quorvel demo`: tours of the drivers, each against its simulated register, the way a shop's
// sales application would run them, one job after the other in a job directory of its own.
#include "host/demo_command.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "host/demo_support.h"

namespace {

using quorvel::demo::DemoOptions;
using quorvel::demo::kExitError;
using quorvel::demo::kExitOk;
using quorvel::demo::kExitUsage;
using quorvel::demo::Tour;

// The tours in the order `quorvel demo` runs them all.
struct TourEntry {
  const char* name;
  int (*run)(Tour&, const DemoOptions&);
};
constexpr TourEntry kTours[] = {
    {"elcom", quorvel::demo::runElcomTour},
    {"elzab", quorvel::demo::runElzabTour},
    {"posnet", quorvel::demo::runPosnetTour},
};

int usage() {
  std::string names;
  for (const TourEntry& t : kTours) names += std::string(names.empty() ? "" : "|") + t.name;
  std::fprintf(stderr, "usage: quorvel demo [%s] [-C DIR] [--model N]\n", names.c_str());
  return kExitUsage;
}

bool makeDirectory(const std::string& dir) {
  if (quorvel::platform::EnsureDirectory(dir.c_str())) return true;
  std::fprintf(stderr, "quorvel demo: cannot make %s: %s\n", dir.c_str(), std::strerror(errno));
  return false;
}

}  // namespace

int runDemoCommand(int argc, char** argv) {
  std::string dir;
  DemoOptions options;
  std::vector<const TourEntry*> chosen;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-C" && i + 1 < argc) {
      dir = argv[++i];
    } else if (a == "--model" && i + 1 < argc) {
      options.model = std::atoi(argv[++i]);
      if (options.model < 1) return usage();
    } else {
      const TourEntry* found = nullptr;
      for (const TourEntry& t : kTours)
        if (a == t.name) found = &t;
      if (!found) return usage();
      chosen.push_back(found);
    }
  }
  if (chosen.empty())
    for (const TourEntry& t : kTours) chosen.push_back(&t);

  if (dir.empty()) {
    dir = quorvel::platform::MakeTemporaryDirectory("/tmp/quorvel-demo-XXXXXX");
    if (dir.empty()) {
      std::perror("quorvel demo");
      return kExitError;
    }
  } else if (std::system(("mkdir -p " + quorvel::demo::quoted(dir)).c_str()) != 0) {
    return kExitError;
  }

  // One tour runs in DIR itself; several each get DIR/<name>.
  int worst = kExitOk;
  for (const TourEntry* t : chosen) {
    const std::string tourDir = chosen.size() == 1 ? dir : dir + "/" + t->name;
    if (!makeDirectory(tourDir)) return kExitError;
    Tour tour(tourDir);
    const int status = t->run(tour, options);
    if (status == kExitUsage) return status;
    if (status != kExitOk) worst = kExitError;
    std::printf("\n");
  }
  std::printf("Done. The files of the last jobs are in %s\n", dir.c_str());
  return worst;
}
