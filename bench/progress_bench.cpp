// The drivers report progress for every record they send or read, so the report must cost next
// to nothing beside a record's own work (a PLU frame at 9600 bit/s takes tens of milliseconds).
// Measures one report with no one listening, with a host callback, and with the progress file
// asked for: in each, 27,000 records as one work, the thinning-out included.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/progress.h"
#include "platform/cp1250.h"

namespace {

constexpr long kRecords = 27000;

void sendAll() {
  for (long done = 1; done <= kRecords; ++done) QuorvelProgress(done, kRecords, "Przesyłanie towarów"_cp);
}

void NoListener(benchmark::State& state) {
  quorvel::core::startProgress();
  for (auto _ : state) sendAll();
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(NoListener)->Unit(benchmark::kMicrosecond);

void HostCallback(benchmark::State& state) {
  quorvel::core::startProgress();
  long calls = 0;
  Quorvel_setProgress([](void* context, long, long, const char*) { ++*static_cast<long*>(context); }, &calls);
  for (auto _ : state) sendAll();
  state.SetItemsProcessed(state.iterations() * kRecords);
  state.counters["calls_per_work"] = static_cast<double>(calls) / static_cast<double>(state.iterations());
  quorvel::core::stopProgress();
}
BENCHMARK(HostCallback)->Unit(benchmark::kMicrosecond);

void ProgressFile(benchmark::State& state) {
  char dir[] = "/tmp/quorvel-progress-XXXXXX";
  if (!::mkdtemp(dir) || ::chdir(dir) != 0) {
    state.SkipWithError("no scratch directory");
    return;
  }
  quorvel::core::startProgress();
  Quorvel_setProgressFile("QUORVEL_PROGRESS.TXT");
  for (auto _ : state) sendAll();
  state.SetItemsProcessed(state.iterations() * kRecords);
  quorvel::core::stopProgress();
  std::remove("QUORVEL_PROGRESS.TXT");
  ::rmdir(dir);
}
BENCHMARK(ProgressFile)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
