// The goods catalogue at register scale: 100,000 goods records with every field given.
//
// First, the figures as a job pays them: a fresh catalogue's first sorted walk by PLU code and
// by barcode (each building its key's index) and its first 100,000 searches (building the index
// and the look-up table, and handing every hit out as a writable record for the first time), in
// processor time, median with lowest and highest of 7 runs, each on a catalogue of its own; and
// the memory the loaded catalogue takes. Targets: a first sorted walk under 5 ms, the first
// 100,000 searches under 15 ms, under 400 bytes per record with both key indexes; the program
// ends with status 1 when one is missed. Then Google Benchmark's figures: building, walks and
// searches repeated on one catalogue (the index and table already built: not what a job pays,
// but what shows the cost of each step), with the anchors the README describes.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "core/xml/vexa_xml.h"

namespace {

constexpr int kRecords = 100000;

// prefix followed by the decimal number (appended rather than concatenated: GCC 12 misreads
// the temporaries of operator+ at -O3 and warns).
std::string text(const char* prefix, long long number, const char* suffix = "") {
  std::string s(prefix);
  s.append(std::to_string(number)).append(suffix);
  return s;
}

// A goods record as a job carries it, with every field given; PLU codes and barcodes are
// spread over the range with some repeats, as in a real goods base.
CTowar record(int i) {
  const std::uint32_t mix = static_cast<std::uint32_t>(i) * 2654435761u;
  CTowar t;
  t.Id = static_cast<std::uint32_t>(i + 1);
  t.Ty = i % 10 == 0 ? 'O' : 'T';
  t.Sy = text("SY", i);
  t.KP = 1 + mix % 999999;
  t.KK = text("590", 1000000000 + mix % 1000000000);
  t.DK = text("200", i, "\xFF");
  t.DK.append(text("210", i, "\xFF"));
  t.KO = std::to_string(i % 100);
  t.Na = text("Towar przyk\xB3" "adowy numer ", i);
  t.Ce[0] = CUfCurrency(static_cast<std::int64_t>(i % 5000));
  t.Ce[1] = CUfCurrency(static_cast<std::int64_t>(i % 3000));
  t.CO = i % 7 == 0;
  t.Va = i % 7;
  t.Gr = i % 50;
  for (int w = 0; w < CTowar::kWlasne; ++w) t.Wł[w] = text("w", w);
  t.JM = i % 3;
  t.Wa = i % 2 == 0;
  t.Op = "opis";
  t.Uw = "uwagi";
  t.OW = static_cast<std::uint32_t>(i % 1000);
  t.DW = CDateTime(2024, 1 + i % 12, 1 + i % 28, 0, 0, 0);
  t.SW = "sw";
  t.PK = "pk";
  t.Id_brak = t.Ty_brak = t.Sy_brak = t.KP_brak = t.KK_brak = t.DK_brak = t.KO_brak = false;
  t.Na_brak = t.CO_brak = t.Va_brak = t.Gr_brak = t.JM_brak = t.Wa_brak = t.Op_brak = false;
  t.Uw_brak = t.OW_brak = t.DW_brak = t.SW_brak = t.PK_brak = false;
  t.Ce_brak[0] = t.Ce_brak[1] = false;
  for (bool& b : t.Wł_brak) b = false;
  return t;
}

std::unique_ptr<CVexaXml> build() {
  auto v = std::make_unique<CVexaXml>();
  for (int i = 0; i < kRecords; ++i) v->DodajTowar(record(i));
  return v;
}

CVexaXml& shared() {
  static std::unique_ptr<CVexaXml> v = build();
  return *v;
}

void BM_Build(benchmark::State& state) {
  for (auto _ : state) {
    auto v = build();
    benchmark::DoNotOptimize(v.get());
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_Build)->Unit(benchmark::kMillisecond);

// A full walk of every type by descending key, cursor reset included.
void sortedWalk(benchmark::State& state, CVexaXml::SortType sort, char typ, CVexaXml& v = shared()) {
  std::size_t visited = 0;
  for (auto _ : state) {
    v.TwIterReset(sort, typ);
    visited = 0;
    while (!v.TwIterEmpty()) {
      benchmark::DoNotOptimize(&v.TwIterGetNext());
      ++visited;
    }
  }
  state.counters["visited"] = static_cast<double>(visited);
}
// The same walk reading a few fields of every record, as a driver does: a walk that never looks
// at the records it is given would not show what handing one out costs.
void BM_SortedWalkKP_ReadingRecords(benchmark::State& state) {
  CVexaXml& v = shared();
  std::size_t sum = 0;
  for (auto _ : state) {
    v.TwIterReset(CVexaXml::sortKP, ' ');
    while (!v.TwIterEmpty()) {
      const CTowar& t = v.TwIterGetNext();
      sum += t.Na.size() + t.KK.size() + static_cast<std::size_t>(t.Ce[0].GetCurrency()) + t.Id;
    }
  }
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_SortedWalkKP_ReadingRecords)->Unit(benchmark::kMillisecond);

void BM_SortedWalkKP(benchmark::State& state) { sortedWalk(state, CVexaXml::sortKP, ' '); }
// The anchor of the sorted walks: the same records handed out in list order, without the order.
void BM_ListWalk(benchmark::State& state) { sortedWalk(state, CVexaXml::sortNone, ' '); }
BENCHMARK(BM_ListWalk)->Unit(benchmark::kMillisecond);
// The same sorted walk over the same records added in the walk's own order: every step goes on
// in memory where the last one ended, so the difference to BM_SortedWalkKP is the cost of
// fetching records from scattered places.
void BM_SortedWalkKP_ListInKeyOrder(benchmark::State& state) {
  static std::unique_ptr<CVexaXml> v = [] {
    std::vector<CTowar> goods;
    goods.reserve(kRecords);
    for (int i = 0; i < kRecords; ++i) goods.push_back(record(i));
    std::stable_sort(goods.begin(), goods.end(), [](const CTowar& a, const CTowar& b) { return b.KP < a.KP; });
    auto c = std::make_unique<CVexaXml>();
    for (const CTowar& t : goods) c->DodajTowar(t);
    return c;
  }();
  sortedWalk(state, CVexaXml::sortKP, ' ', *v);
}
BENCHMARK(BM_SortedWalkKP_ListInKeyOrder)->Unit(benchmark::kMillisecond);
void BM_SortedWalkKP_GoodsThenPackaging(benchmark::State& state) {
  sortedWalk(state, CVexaXml::sortKP, '1');
}
void BM_SortedWalkKK(benchmark::State& state) { sortedWalk(state, CVexaXml::sortKK, ' '); }
BENCHMARK(BM_SortedWalkKP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortedWalkKP_GoodsThenPackaging)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortedWalkKK)->Unit(benchmark::kMillisecond);
// The same walk over goods that carry only what a register takes (symbol, PLU code, barcode,
// name, price, rate, unit, group, open-price flag): every text the records above carry besides
// these is empty here, as it is in most shops' goods bases. Not the measure of the target,
// which counts every field given; it shows how much of a step the unpacking of texts is.
void BM_SortedWalkKP_RegisterFieldsOnly(benchmark::State& state) {
  static std::unique_ptr<CVexaXml> v = [] {
    auto c = std::make_unique<CVexaXml>();
    for (int i = 0; i < kRecords; ++i) {
      CTowar t = record(i);
      t.DK.clear();
      t.KO.clear();
      t.Op.clear();
      t.Uw.clear();
      t.SW.clear();
      t.PK.clear();
      for (std::string& w : t.Wł) w.clear();
      t.DK_brak = t.KO_brak = t.Op_brak = t.Uw_brak = t.SW_brak = t.PK_brak = true;
      for (bool& b : t.Wł_brak) b = true;
      c->DodajTowar(t);
    }
    return c;
  }();
  sortedWalk(state, CVexaXml::sortKP, ' ', *v);
}
BENCHMARK(BM_SortedWalkKP_RegisterFieldsOnly)->Unit(benchmark::kMillisecond);

// The first sorted walk of a fresh catalogue, building its index: what a job that walks once
// pays.
void firstSortedWalk(benchmark::State& state, CVexaXml::SortType sort) {
  for (auto _ : state) {
    state.PauseTiming();
    auto v = std::make_unique<CVexaXml>(shared());
    state.ResumeTiming();
    v->TwIterReset(sort, ' ');
    while (!v->TwIterEmpty()) benchmark::DoNotOptimize(&v->TwIterGetNext());
    state.PauseTiming();
    v.reset();
    state.ResumeTiming();
  }
}
void BM_FirstSortedWalkKP(benchmark::State& state) { firstSortedWalk(state, CVexaXml::sortKP); }
void BM_FirstSortedWalkKK(benchmark::State& state) { firstSortedWalk(state, CVexaXml::sortKK); }
BENCHMARK(BM_FirstSortedWalkKP)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstSortedWalkKK)->Unit(benchmark::kMillisecond);

// The same walk over growing catalogues, to show how its cost grows with the record count.
void BM_SortedWalkScaling(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  CVexaXml v;
  for (int i = 0; i < n; ++i) v.DodajTowar(record(i));
  for (auto _ : state) {
    v.TwIterReset(CVexaXml::sortKP, '1');
    while (!v.TwIterEmpty()) benchmark::DoNotOptimize(&v.TwIterGetNext());
  }
  state.SetComplexityN(n);
}
BENCHMARK(BM_SortedWalkScaling)
    ->RangeMultiplier(4)
    ->Range(1 << 10, 1 << 16)
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

// 100,000 look-ups by PLU code (as a driver does for every record read back), half of them hits;
// the look-up table is built by an earlier run.
void BM_Search100k(benchmark::State& state) {
  CVexaXml& v = shared();
  v.SetSortType(CVexaXml::sortKP);
  v.SetSortTypeTwType(' ');
  std::vector<CTowar> keys(kRecords);
  for (int i = 0; i < kRecords; ++i)
    keys[i].KP = i % 2 == 0 ? record(i).KP : 1 + (static_cast<std::uint32_t>(i) * 7919u) % 999999;
  std::size_t hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (const CTowar& key : keys) hits += v.SearchTowar(key) != nullptr;
  }
  state.counters["hits"] = static_cast<double>(hits);
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_Search100k)->Unit(benchmark::kMillisecond);

// The same searches on a fresh catalogue, as a job does them once: every hit is handed out as
// a writable record for the first time (unpacked and kept), which the repeated searches above
// no longer pay.
void BM_FirstSearch100k(benchmark::State& state) {
  std::vector<CTowar> keys(kRecords);
  for (int i = 0; i < kRecords; ++i)
    keys[i].KP = i % 2 == 0 ? record(i).KP : 1 + (static_cast<std::uint32_t>(i) * 7919u) % 999999;
  for (auto _ : state) {
    state.PauseTiming();
    auto v = build();  // not a copy of the shared catalogue, whose found records are detached
    v->SetSortType(CVexaXml::sortKP);
    v->SetSortTypeTwType(' ');
    v->TwIterReset();  // the index is built before the clock runs, the look-up table after
    state.ResumeTiming();
    std::size_t hits = 0;
    for (const CTowar& key : keys) hits += v->SearchTowar(key) != nullptr;
    benchmark::DoNotOptimize(hits);
    state.PauseTiming();
    v.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(BM_FirstSearch100k)->Unit(benchmark::kMillisecond);

std::size_t heapInUse() {
  const struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

// Heap taken by the loaded catalogue (records alone, then with both key indexes built).
bool reportMemory() {
  const std::size_t before = heapInUse();
  auto v = build();
  const std::size_t loaded = heapInUse();
  v->TwIterReset(CVexaXml::sortKP, ' ');
  v->TwIterReset(CVexaXml::sortKK, ' ');
  const std::size_t indexed = heapInUse();
  // A search by each key builds that key's look-up table.
  CTowar klucz;
  v->SetSortType(CVexaXml::sortKP);
  v->SearchTowar(klucz);
  v->SetSortType(CVexaXml::sortKK);
  v->SearchTowar(klucz);
  const std::size_t searched = heapInUse();
  struct rusage ru {};
  getrusage(RUSAGE_SELF, &ru);
  const double mb = 1024.0 * 1024.0;
  std::printf("catalogue of %d records (all fields): %.1f MB loaded, %.1f MB with both key "
              "indexes, %.1f MB with both look-up tables too; %zu bytes per record with the "
              "indexes, %zu with the tables (target < 400); sizeof(CTowar) %zu; "
              "peak RSS of the process %.1f MB\n",
              kRecords, (loaded - before) / mb, (indexed - before) / mb, (searched - before) / mb,
              (indexed - before) / kRecords, (searched - before) / kRecords, sizeof(CTowar),
              ru.ru_maxrss / 1024.0);
  const bool ok = (indexed - before) / kRecords < 400;
  if (!ok) std::printf("catalogue memory with both key indexes: target MISSED\n");
  return ok;
}

double cpuMs() {
  timespec t{};
  ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

// Runs `use` on 7 fresh catalogues (built off the clock); prints its processor time and
// returns false when the median is over `targetMs`.
template <class Use>
bool firstUse(const char* what, double targetMs, Use use) {
  std::vector<double> ms;
  for (int r = 0; r < quorvel::bench::kRuns; ++r) {
    auto v = build();
    const double t0 = cpuMs();
    use(*v);
    ms.push_back(cpuMs() - t0);
  }
  const quorvel::bench::Spread s = quorvel::bench::spread(ms);
  const bool ok = s.median < targetMs;
  std::printf("  %-52s %7.2f ms [%.2f, %.2f]  (target < %.0f ms)  %s\n", what, s.median, s.low, s.high, targetMs,
              ok ? "OK" : "MISSED");
  return ok;
}

// The figures as a job pays them: each on a fresh catalogue.
bool reportFirstUse() {
  std::printf("first use, as a job pays it (%d records, processor time, median [lowest, highest] of %d runs):\n",
              kRecords, quorvel::bench::kRuns);
  const auto walk = [](CVexaXml::SortType sort) {
    return [sort](CVexaXml& v) {
      v.TwIterReset(sort, ' ');
      while (!v.TwIterEmpty()) benchmark::DoNotOptimize(&v.TwIterGetNext());
    };
  };
  std::vector<CTowar> keys(kRecords);
  for (int i = 0; i < kRecords; ++i)
    keys[i].KP = i % 2 == 0 ? record(i).KP : 1 + (static_cast<std::uint32_t>(i) * 7919u) % 999999;
  bool ok = firstUse("first sorted walk by PLU code (builds its index)", 5, walk(CVexaXml::sortKP));
  ok = firstUse("first sorted walk by barcode (builds its index)", 5, walk(CVexaXml::sortKK)) && ok;
  ok = firstUse("first 100,000 searches by PLU code (index, table)", 15,
                [&](CVexaXml& v) {
                  v.SetSortType(CVexaXml::sortKP);
                  v.SetSortTypeTwType(' ');
                  std::size_t hits = 0;
                  for (const CTowar& key : keys) hits += v.SearchTowar(key) != nullptr;
                  benchmark::DoNotOptimize(hits);
                }) &&
       ok;
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  quorvel::bench::pinToOneCpu();
  bool firstUseOk = reportFirstUse();
  firstUseOk = reportMemory() && firstUseOk;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return firstUseOk ? 0 : 1;
}
