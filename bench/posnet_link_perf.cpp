// POSNET benchmark: sends 20,000 goods to a simulated POSNET register, imports its goods base
// and reads its sales (with the clearing that follows) over a pseudo-terminal at 115200 bit/s,
// one job per `quorvel run` process, as a shop's sales application runs them, for 10,000 and
// 65,535 goods (the read-out numbers goods in 16 bits, so 65,535 is a full register).
//
// Every process runs on processor 0. Each job is measured beside a baseline job (a connection
// check against the same register: process start, loading of the plug-in and the libraries,
// one exchange), the two alternating which goes first. Per job and record it prints the median
// with its lowest and highest of: the processor time of the `quorvel run` process minus the
// baseline's (core, plug-in and the stand-in libraries with their worker thread: an upper bound
// of the driver's own cost), the processor time of the simulated register, and the time the
// bytes that crossed the line take at 115200 bit/s (bytes x 10 bits / 115200; the
// pseudo-terminal itself is not paced); and the peak resident memory of the `quorvel run`
// process (its ru_maxrss, from wait4). Targets: driver cost under 1% of the wire time; peak
// memory that does not grow with the number of records. It ends with status 1 when a job
// fails or a target is missed.
//
//   posnet_link_bench [RUNS]   runs at the largest size (default 7; 3 at the smaller one)
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bench/bench_common.h"

namespace {

using quorvel::bench::Spread;
using quorvel::bench::spread;

const std::string kBin = QUORVEL_BIN_DIR;
const std::string kStandins = QUORVEL_STANDIN_DIR;
constexpr int kBitsPerSecond = 115200;

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

pid_t spawn(const std::vector<std::string>& args, bool quiet) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (quiet) {
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  return pid;
}

int runQuiet(const std::vector<std::string>& args) {
  int status = 0;
  ::waitpid(spawn(args, true), &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

struct Result {
  bool ok = false;
  double driverCpu = 0, simCpu = 0, wall = 0;
  long peakKb = 0;
  unsigned long long wireBytes = 0;
};

std::string jobFile(const char* operation, const std::string& goods) {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Dane operacja=\"") + operation +
         "\" idModelu=\"Quorvel_Posnet_Combo\" xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\">\n" + goods + "</Dane>\n";
}

// `n` goods as a shop sends them: name, barcode, price, rate.
std::string sendGoods(int n) {
  std::string x;
  x.reserve(static_cast<std::size_t>(n) * 120);
  for (int i = 1; i <= n; ++i)
    x += "<Towar><Id>" + std::to_string(i) + "</Id><Ty>T</Ty><KP>" + std::to_string(i) + "</KP><KK>59" +
         std::to_string(10000000000LL + i) + "</KK><Na>Towar " + std::to_string(i) + "</Na><Ce>" +
         std::to_string(1 + i % 50) + ".99</Ce><Va>" + std::to_string(1 + i % 2) + "</Va></Towar>\n";
  return x;
}

struct Scenario {
  const char* what;
  const char* operation;
  int registerGoods;        // goods the register holds (with sales) before the job
  std::string goods;        // the job's goods
  std::string mustContain;  // in PROG_KOM.XML after the job
};

// One job, and the baseline beside it, each against a fresh register; the baseline's CPU time
// is taken from the job's.
Result runJob(const Scenario& sc, bool baselineFirst) {
  Result r;
  char tmpl[] = "/tmp/posnet-bench-XXXXXX";
  if (!::mkdtemp(tmpl)) return r;
  const std::string dir = tmpl, state = dir + "/kasa.txt", tty = dir + "/tty", stats = dir + "/stats.txt";
  // The stand-ins are reached as a shop's libraries are: their folder named in the library path.
  ::setenv("QUORVEL_LIBRARY_PATH", kStandins.c_str(), 1);
  const std::string sim = kBin + "/posnet_sim";
  const auto freshRegister = [&] {
    return runQuiet({sim, "init", "--state", state}) == 0 &&
           (sc.registerGoods == 0 ||
            runQuiet({sim, "fill", std::to_string(sc.registerGoods), "sold", "--state", state}) == 0) &&
           runQuiet({sim, "add", "pack", "1", "Butelka", "0.50", "--state", state}) == 0 &&
           runQuiet({sim, "sell", "pack", "1", "5", "2.50", "--state", state}) == 0;
  };
  if (!freshRegister()) return r;
  const pid_t simPid = spawn({sim, "serve", "--state", state, "--link", tty, "--stats", stats}, true);
  for (int i = 0; i < 500 && ::access(tty.c_str(), F_OK) != 0; ++i) ::usleep(10000);
  if (runQuiet({kBin + "/quorvel", "config", "quorvel_posnet", "-C", dir, "connection=RS-232", "port=" + tty,
                "speed=115200"}) != 0)
    return r;

  const auto quorvelRun = [&](const std::string& job, rusage& ru) {
    std::ofstream(dir + "/VEXA_JOB.XML") << job;
    const pid_t pid = spawn({kBin + "/quorvel", "run", "quorvel_posnet", "-C", dir}, true);
    int status = 0;
    ::wait4(pid, &status, 0, &ru);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  };
  const std::string baseline = jobFile("SprawdzeniePołączenia", "");
  rusage bu{}, ju{};
  bool baseOk = true;
  if (baselineFirst) baseOk = quorvelRun(baseline, bu);
  const auto t0 = std::chrono::steady_clock::now();
  const bool jobOk = quorvelRun(jobFile(sc.operation, sc.goods), ju);
  r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const bool found = slurp(dir + "/PROG_KOM.XML").find(sc.mustContain) != std::string::npos;
  if (!baselineFirst) baseOk = quorvelRun(baseline, bu);
  ::kill(simPid, SIGTERM);
  rusage su{};
  ::wait4(simPid, nullptr, 0, &su);
  r.driverCpu = quorvel::bench::cpuSeconds(ju) - quorvel::bench::cpuSeconds(bu);
  r.simCpu = quorvel::bench::cpuSeconds(su);
  r.peakKb = ju.ru_maxrss;
  unsigned long long rx = 0, tx = 0;
  std::sscanf(slurp(stats).c_str(), "rx %llu tx %llu", &rx, &tx);
  r.wireBytes = rx + tx;
  r.ok = baseOk && jobOk && found;
  std::system(("rm -rf '" + dir + "'").c_str());
  return r;
}

struct Figures {
  bool ok = true;
  Spread driverUs, simUs, wallUs;
  double wireUs = 0;
  long peakKb = 0;
};

Figures measure(const Scenario& sc, int records, int runs) {
  Figures f;
  std::vector<double> driver, simulator, wall;
  for (int i = 0; i < runs; ++i) {
    const Result r = runJob(sc, i % 2 == 0);
    f.ok = f.ok && r.ok;
    driver.push_back(r.driverCpu * 1e6 / records);
    simulator.push_back(r.simCpu * 1e6 / records);
    wall.push_back(r.wall * 1e6 / records);
    f.wireUs = static_cast<double>(r.wireBytes) * 10.0 * 1e6 / kBitsPerSecond / records;
    f.peakKb = std::max(f.peakKb, r.peakKb);
  }
  f.driverUs = spread(driver);
  f.simUs = spread(simulator);
  f.wallUs = spread(wall);
  return f;
}

// Prints the figures; false when the driver's cost is over its target.
bool report(const char* what, int records, int runs, const Figures& f) {
  const double ratio = f.driverUs.median / f.wireUs * 100.0;
  std::printf("%s, %d goods, %d runs%s\n", what, records, runs, f.ok ? "" : "  (JOB FAILED)");
  std::printf("  quorvel run CPU per record, baseline taken off %8.1f us [%.1f, %.1f]\n", f.driverUs.median,
              f.driverUs.low, f.driverUs.high);
  std::printf("  simulated register CPU per record              %8.1f us [%.1f, %.1f]   wall %.1f us\n",
              f.simUs.median, f.simUs.low, f.simUs.high, f.wallUs.median);
  std::printf("  wire time per record                           %8.1f us   at %d bit/s\n", f.wireUs, kBitsPerSecond);
  std::printf("  driver cost / wire time                        %8.3f %%  (target < 1 %%)  %s\n", ratio,
              ratio < 1.0 ? "OK" : "OVER");
  std::printf("  peak memory of quorvel run                     %8ld KiB\n", f.peakKb);
  return f.ok && ratio < 1.0;
}

}  // namespace

int main(int argc, char** argv) {
  quorvel::bench::pinToOneCpu();
  const int largestRuns = argc > 1 ? std::max(1, std::atoi(argv[1])) : quorvel::bench::kRuns;
  int failures = 0;
  {
    const int n = 20000;
    const Scenario send{"Sending goods", "PrzesyłanieTowarów", 0, sendGoods(n), "<Id>" + std::to_string(n) + "</Id>"};
    failures += !report(send.what, n, largestRuns, measure(send, n, largestRuns));
  }
  long peak[2][2] = {};
  const int sizes[2] = {10000, 65535};
  for (int s = 0; s < 2; ++s) {
    const int n = sizes[s];
    const int runs = s == 1 ? largestRuns : std::min(3, largestRuns);
    const Scenario import{"Import of the goods base", "ImportTowarów", n, "", "<KP>" + std::to_string(n) + "</KP>"};
    const Figures i = measure(import, n, runs);
    failures += !report(import.what, n, runs, i);
    const Scenario sales{"Sales read-out and clearing", "OdbiórSprzedaży", n, "", "<IdUF>" + std::to_string(n) + "</IdUF>"};
    const Figures f = measure(sales, n, runs);
    failures += !report(sales.what, n, runs, f);
    peak[0][s] = i.peakKb;
    peak[1][s] = f.peakKb;
  }
  const bool flat = peak[0][1] <= peak[0][0] * 11 / 10 + 1024 && peak[1][1] <= peak[1][0] * 11 / 10 + 1024;
  std::printf("Peak memory, %d vs %d goods: import %ld vs %ld KiB, sales %ld vs %ld KiB (target: no growth)  %s\n",
              sizes[0], sizes[1], peak[0][0], peak[0][1], peak[1][0], peak[1][1], flat ? "OK" : "GROWS");
  failures += !flat;
  return failures == 0 ? 0 : 1;
}
