// Reading a job the way a shop runs it: one reading per process, on a fresh heap, beside a bare
// Expat parse of the same file in the same run.
//
// For jobs of 10,000, 100,000 and 1,000,000 goods records (every field given) the program
// starts, for each repetition, one process that parses the file with Expat and handlers that do
// nothing (fed as the reader feeds it: 8192-byte reads into the parser's buffer) and one
// process that reads the job into the catalogue; each times its own work and reports its minor
// page faults and peak memory. The bare parse asks Expat for what any reader needs: the start
// and end of every element and the text inside elements; the reader asks for no more (the line
// breaks and indents between elements are not handed over). A second bare parse that takes
// every piece of text, layout included, gives a second, gentler ratio, printed beside the first.
// Every process runs on processor 0, and the two of a pair alternate which goes first. It
// prints per size, over 7 runs, the median ratio reader / bare parse with its range (CPU time,
// which other work on the machine disturbs less, and wall time), the page
// faults per goods of both (a reading that reused a warm heap would show far fewer), the peak
// memory and the bytes per goods above an empty job, after the reading, with both key indexes
// built, and with both search look-up tables built too (each read by the measured process
// itself). Then `quorvel run` with the test plug-in on the same jobs, timed as whole processes
// (CPU time from wait4, peak memory its ru_maxrss) against whole bare-parse processes.
//
// Targets: reading at most 1.2x the bare parse at 100,000 and 1,000,000 goods, `quorvel run`
// at most 1.3x, under 400 bytes per goods with both key indexes (and the look-up tables), all
// in CPU time; the program ends with status 1 when one is missed.
//
//   job_reader_bench [SIZE...]        sizes to run (default 10000 100000 1000000)
//   job_reader_bench --child MODE DIR what one measured process does (MODE bare, bare-all or read)
#include <expat.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "core/error_state.h"
#include "core/xml/expat_windows1250.h"
#include "core/xml/vexa_xml.h"
#include "platform/cp1250.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

void generateJob(const fs::path& path, long records) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::perror(path.c_str());
    std::exit(1);
  }
  std::fputs("<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n", f);
  std::fprintf(f, "<Dane operacja=\"%s\" idModelu=\"Euro-2000\" xmlns=\"%s\">\r\n", "PrzesyłanieTowarów"_cp,
               kDaneNamespace);
  for (long i = 1; i <= records; ++i) {
    std::fprintf(f,
                 "\t<Towar>\r\n"
                 "\t\t<Id>%ld</Id><Ty>%c</Ty><Sy>SY%ld</Sy><KP>%ld</KP><KK>59%011ld</KK>\r\n"
                 "\t\t<DK>29%011ld</DK><DK>39%011ld</DK><KO>%ld</KO><Na>%s %ld</Na>\r\n"
                 "\t\t<Ce id=\"1\">%ld.%02ld</Ce><Ce id=\"2\">%ld.5</Ce><CO>%ld</CO><Va>%ld</Va><Gr>%ld</Gr>\r\n"
                 "\t\t<Wł id=\"0\">kategoria</Wł><Wł id=\"1\">dostawca %ld</Wł><Wł id=\"2\">półka</Wł>\r\n"_cp,
                 i, i % 10 ? 'T' : 'O', i % 1000, i % 999999 + 1, i, i, i, i % 100, "Zażółć gęślą jaźń"_cp, i,
                 i % 1000, i % 100, i % 50, i % 2, i % 7, i % 20, i % 300);
    std::fprintf(f,
                 "\t\t<Wł id=\"3\">w3</Wł><Wł id=\"4\">w4</Wł><Wł id=\"5\">w5</Wł><Wł id=\"6\">w6</Wł>"
                 "<Wł id=\"7\">w7</Wł>\r\n"
                 "\t\t<JM>%ld</JM><Wa>%ld</Wa><Op>opakowanie</Op><Uw>uwagi &amp; opis</Uw><OW>%ld</OW>\r\n"
                 "\t\t<DW>2007-%02ld-%02ld</DW><SW>SW</SW><PK>PKWiU 15.11</PK>\r\n"
                 "\t</Towar>\r\n"_cp,
                 i % 5, i % 2, i, i % 12 + 1, i % 28 + 1);
  }
  std::fputs("</Dane>\r\n", f);
  std::fclose(f);
}

// ---- The measured processes ------------------------------------------------------------------

void XMLCALL noStart(void*, const XML_Char*, const XML_Char**) {}
void XMLCALL noEnd(void*, const XML_Char*) {}
void XMLCALL noText(void*, const XML_Char*, int) {}
// The text of elements only, not the line breaks and indents between them: the handler is set
// when an element starts and taken away when one ends, as a reader that needs no layout does.
void XMLCALL textOnStart(void* p, const XML_Char*, const XML_Char**) {
  XML_SetCharacterDataHandler(static_cast<XML_Parser>(p), noText);
}
void XMLCALL textOffEnd(void* p, const XML_Char*) { XML_SetCharacterDataHandler(static_cast<XML_Parser>(p), nullptr); }

// Bare parse of the file, fed exactly as the reader feeds it, with handlers that do nothing:
// for every piece of text (allText), or only for the text inside elements.
bool bareParse(const char* path, bool allText) {
  std::FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  XML_Parser p = XML_ParserCreate(nullptr);
  if (allText) {
    XML_SetElementHandler(p, noStart, noEnd);
    XML_SetCharacterDataHandler(p, noText);
  } else {
    XML_SetUserData(p, p);
    XML_SetElementHandler(p, textOnStart, textOffEnd);
  }
  XML_SetUnknownEncodingHandler(p, quorvel::cp1250::expatUnknownEncoding, nullptr);
  bool ok = true;
  for (;;) {
    void* buf = XML_GetBuffer(p, 8192);
    const std::size_t got = std::fread(buf, 1, 8192, f);
    const bool last = std::feof(f) != 0;
    if (XML_ParseBuffer(p, static_cast<int>(got), last) == XML_STATUS_ERROR) {
      ok = false;
      break;
    }
    if (last) break;
  }
  XML_ParserFree(p);
  std::fclose(f);
  return ok;
}

double now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

rusage usage() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u;
}

double cpuSeconds(const rusage& u) {
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return s(u.ru_utime) + s(u.ru_stime);
}

// One measured process: prints "seconds cpu-seconds minor-faults peak-kB [peak-kB-with-indexes
// peak-kB-with-look-up-tables records]".
int child(const std::string& mode, const char* dir) {
  if (::chdir(dir) != 0) return 1;
  const rusage before = usage();
  const double start = now();
  if (mode == "bare" || mode == "bare-all") {
    if (!bareParse(kVexaFileName, mode == "bare-all")) return 1;
    const double seconds = now() - start;
    const rusage after = usage();
    std::printf("%.6f %.6f %ld %ld\n", seconds, cpuSeconds(after) - cpuSeconds(before),
                after.ru_minflt - before.ru_minflt, after.ru_maxrss);
    return 0;
  }
  ClearError("");
  CVexaXml vexa;
  if (vexa.readHeader() != 0) {
    std::fprintf(stderr, "job not read: %s\n", GetErrorMsg());
    return 1;
  }
  const double seconds = now() - start;
  const rusage after = usage();
  // Both key indexes, as a driver walking by PLU code and by barcode builds them.
  vexa.TwIterReset(CVexaXml::sortKP, ' ');
  vexa.TwIterReset(CVexaXml::sortKK, ' ');
  const rusage indexed = usage();
  // And a search by each key, which builds that key's look-up table.
  CTowar key;
  vexa.SetSortType(CVexaXml::sortKP);
  vexa.SearchTowar(key);
  vexa.SetSortType(CVexaXml::sortKK);
  vexa.SearchTowar(key);
  const rusage searched = usage();
  std::printf("%.6f %.6f %ld %ld %ld %ld %zu\n", seconds, cpuSeconds(after) - cpuSeconds(before),
              after.ru_minflt - before.ru_minflt, after.ru_maxrss, indexed.ru_maxrss, searched.ru_maxrss,
              vexa.IleRekordow());
  return 0;
}

// ---- The driver ------------------------------------------------------------------------------

struct Run {
  double wall = 0;          // the whole process, as its parent sees it
  double cpu = 0;           // its processor time (wait4)
  long peakKb = 0;          // its peak resident memory (wait4)
  std::vector<double> out;  // the numbers the process printed
};

// Starts a program, collects what it prints and waits for it.
Run spawn(const std::vector<std::string>& args, const fs::path& dir = {}) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) std::exit(1);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  if (!dir.empty()) posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  Run run;
  const double start = now();
  pid_t pid = 0;
  if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
    std::perror(argv[0]);
    std::exit(1);
  }
  ::close(pipeFds[1]);
  std::string text;
  char buf[4096];
  for (ssize_t got; (got = ::read(pipeFds[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(got));
  ::close(pipeFds[0]);
  int status = 0;
  rusage ru{};
  ::wait4(pid, &status, 0, &ru);
  run.wall = now() - start;
  run.cpu = quorvel::bench::cpuSeconds(ru);
  run.peakKb = ru.ru_maxrss;
  posix_spawn_file_actions_destroy(&actions);
  if (!WIFEXITED(status)) {
    std::fprintf(stderr, "%s failed\n", argv[0]);
    std::exit(1);
  }
  const char* p = text.c_str();
  for (char* end = nullptr;; p = end) {
    const double v = std::strtod(p, &end);
    if (end == p) break;
    run.out.push_back(v);
  }
  return run;
}

using quorvel::bench::Spread;
using quorvel::bench::spread;

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--child") == 0) return child(argv[2], argv[3]);
  quorvel::bench::pinToOneCpu();
  bool missed = false;

  std::vector<long> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(std::strtol(argv[i], nullptr, 10));
  if (sizes.empty()) sizes = {10000, 100000, 1000000};

  const std::string self = fs::read_symlink("/proc/self/exe");
  const fs::path quorvel = fs::path(self).parent_path() / "quorvel";
  const fs::path root = fs::temp_directory_path() / ("quorvel-job-reader-bench-" + std::to_string(::getpid()));

  // The empty job: the memory every reading takes whatever its size.
  const fs::path empty = root / "empty";
  fs::create_directories(empty);
  generateJob(empty / kVexaFileName, 0);
  std::vector<double> emptyPeak;
  for (int r = 0; r < 3; ++r) emptyPeak.push_back(spawn({self, "--child", "read", empty}).out.at(5));
  const double baseKb = spread(emptyPeak).median;

  std::printf("one reading per process; ratios within one run (median [lowest, highest])\n");
  for (long n : sizes) {
    const fs::path dir = root / std::to_string(n);
    fs::create_directories(dir);
    generateJob(dir / kVexaFileName, n);
    const double mb = static_cast<double>(fs::file_size(dir / kVexaFileName)) / 1e6;
    const int reps = quorvel::bench::kRuns;

    std::vector<double> ratio, cpuRatio, allTextRatio, bareS, readS, bareFaults, readFaults, peakRead, peakIndexed,
        peakSearched, e2e, e2eCpu, e2ePeak;
    for (int r = 0; r < reps; ++r) {
      // Alternating which goes first, so that neither always meets a colder page cache.
      Run bare, read;
      if (r % 2 == 0) {
        bare = spawn({self, "--child", "bare", dir});
        read = spawn({self, "--child", "read", dir});
      } else {
        read = spawn({self, "--child", "read", dir});
        bare = spawn({self, "--child", "bare", dir});
      }
      if (read.out.size() != 7 || static_cast<long>(read.out[6]) != n) {
        std::fprintf(stderr, "job of %ld goods not read\n", n);
        return 1;
      }
      bareS.push_back(bare.out[0]);
      readS.push_back(read.out[0]);
      ratio.push_back(read.out[0] / bare.out[0]);
      cpuRatio.push_back(read.out[1] / bare.out[1]);
      bareFaults.push_back(bare.out[2]);
      readFaults.push_back(read.out[2]);
      peakRead.push_back(read.out[3]);
      peakIndexed.push_back(read.out[4]);
      peakSearched.push_back(read.out[5]);
      // The same against a parse that hands over every piece of text, layout included.
      allTextRatio.push_back(read.out[0] / spawn({self, "--child", "bare-all", dir}).out.at(0));

      // The whole job as the host runs it, against the whole bare-parse process.
      if (fs::exists(quorvel)) {
        Run run, whole;
        if (r % 2 == 0) {
          run = spawn({quorvel.string(), "run", "quorvel_test_basic", "-C", dir.string()});
          whole = spawn({self, "--child", "bare", dir});
        } else {
          whole = spawn({self, "--child", "bare", dir});
          run = spawn({quorvel.string(), "run", "quorvel_test_basic", "-C", dir.string()});
        }
        e2e.push_back(run.wall / whole.wall);
        e2eCpu.push_back(run.cpu / whole.cpu);
        e2ePeak.push_back(static_cast<double>(run.peakKb));
      }
    }
    const Spread q = spread(ratio);
    std::printf("\n%ld goods, %.1f MB job file, %d runs\n", n, mb, reps);
    std::printf("  bare Expat parse %.3f s (%.0f MB/s), job reading %.3f s\n", spread(bareS).median,
                mb / spread(bareS).median, spread(readS).median);
    const Spread c = spread(cpuRatio);
    const bool readingMissed = n >= 100000 && c.median > 1.2;
    missed = missed || readingMissed;
    std::printf("  ratio reading / bare parse in CPU time: %.2f [%.2f, %.2f] (target <= 1.2)%s; in wall time %.2f "
                "[%.2f, %.2f]\n",
                c.median, c.low, c.high, readingMissed ? "  MISSED" : "", q.median, q.low, q.high);
    const Spread a = spread(allTextRatio);
    std::printf("  (against a bare parse handing over the layout text between elements too: %.2f [%.2f, %.2f])\n",
                a.median, a.low, a.high);
    std::printf("  minor page faults per goods: reading %.2f, bare parse %.2f\n",
                spread(readFaults).median / static_cast<double>(n), spread(bareFaults).median / static_cast<double>(n));
    const double read = spread(peakRead).median, indexed = spread(peakIndexed).median;
    const double searched = spread(peakSearched).median;
    std::printf("  peak memory %.1f MB (%.1f MB with both key indexes, %.1f MB with both look-up tables too); "
                "empty job %.1f MB\n",
                read / 1024, indexed / 1024, searched / 1024, baseKb / 1024);
    const auto perGoods = [&](double kb) { return (kb - baseKb) * 1024 / static_cast<double>(n); };
    const bool memoryMissed = n >= 100000 && perGoods(searched) >= 400;
    missed = missed || memoryMissed;
    std::printf("  bytes per goods above an empty job: %.0f, with both key indexes %.0f, with both look-up "
                "tables too %.0f (target < 400)%s\n",
                perGoods(read), perGoods(indexed), perGoods(searched), memoryMissed ? "  MISSED" : "");
    if (!e2e.empty()) {
      const Spread e = spread(e2e), ec = spread(e2eCpu);
      const bool runMissed = n >= 100000 && ec.median > 1.3;
      missed = missed || runMissed;
      std::printf("  quorvel run (test plug-in) / bare parse process in CPU time: %.2f [%.2f, %.2f] (target <= 1.3)%s; "
                  "in wall time %.2f [%.2f, %.2f]; peak memory of quorvel run %.1f MB\n",
                  ec.median, ec.low, ec.high, runMissed ? "  MISSED" : "", e.median, e.low, e.high,
                  spread(e2ePeak).median / 1024);
    }
    fs::remove_all(dir);
  }
  fs::remove_all(root);
  return missed ? 1 : 0;
}
