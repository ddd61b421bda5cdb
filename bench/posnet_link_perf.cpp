// POSNET benchmark: imports the goods base of a simulated POSNET register and reads its sales
// (with the clearing that follows) over a pseudo-terminal at 115200 bit/s, one job per
// `quorvel run` process, as a shop's sales application runs them, for 10,000 and 65,535 goods
// (the read-out numbers goods in 16 bits, so 65,535 is a full register).
//
// For each job it prints, per record: the CPU time of the `quorvel run` process (core,
// plug-in and the stand-in libraries with their worker thread: an upper bound of the driver's
// own cost), the CPU time of the simulated register, and the time the bytes that crossed the
// line take at 115200 bit/s (bytes x 10 bits / 115200; the pseudo-terminal itself is not
// paced). It also prints the peak resident memory of the `quorvel run` process. Targets
// (printed, not asserted): driver cost under 1% of the wire time; peak memory that does not
// grow with the number of records.
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

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

double cpu(const rusage& u) {
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Result {
  bool ok = false;
  double driverCpu = 0, simCpu = 0, wall = 0;
  long peakKb = 0;
  unsigned long long wireBytes = 0;
};

// One job against a fresh register of `goods` goods.
Result runJob(const char* operation, int goods, const std::string& mustContain) {
  Result r;
  char tmpl[] = "/tmp/posnet-bench-XXXXXX";
  if (!::mkdtemp(tmpl)) return r;
  const std::string dir = tmpl, state = dir + "/kasa.txt", tty = dir + "/tty", stats = dir + "/stats.txt";
  // The stand-ins are reached as a shop's libraries are: their folder named in the library path.
  ::setenv("QUORVEL_LIBRARY_PATH", kStandins.c_str(), 1);
  const std::string sim = kBin + "/posnet_sim";
  if (runQuiet({sim, "init", "--state", state}) != 0 ||
      runQuiet({sim, "fill", std::to_string(goods), "sold", "--state", state}) != 0 ||
      runQuiet({sim, "add", "pack", "1", "Butelka", "0.50", "--state", state}) != 0 ||
      runQuiet({sim, "sell", "pack", "1", "5", "2.50", "--state", state}) != 0)
    return r;
  const pid_t simPid = spawn({sim, "serve", "--state", state, "--link", tty, "--stats", stats}, true);
  for (int i = 0; i < 500 && ::access(tty.c_str(), F_OK) != 0; ++i) ::usleep(10000);
  if (runQuiet({kBin + "/quorvel", "config", "quorvel_posnet", "-C", dir, "connection=RS-232", "port=" + tty,
                "speed=115200"}) != 0)
    return r;
  std::ofstream(dir + "/VEXA_JOB.XML") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Dane operacja=\"" << operation
                                       << "\" idModelu=\"Quorvel_Posnet_Combo\" "
                                          "xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\">\n</Dane>\n";

  const auto t0 = std::chrono::steady_clock::now();
  const pid_t job = spawn({kBin + "/quorvel", "run", "quorvel_posnet", "-C", dir}, true);
  int status = 0;
  rusage ju{};
  ::wait4(job, &status, 0, &ju);
  r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  ::kill(simPid, SIGTERM);
  rusage su{};
  ::wait4(simPid, nullptr, 0, &su);
  r.driverCpu = cpu(ju);
  r.simCpu = cpu(su);
  r.peakKb = ju.ru_maxrss;
  unsigned long long rx = 0, tx = 0;
  std::sscanf(slurp(stats).c_str(), "rx %llu tx %llu", &rx, &tx);
  r.wireBytes = rx + tx;
  r.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
         slurp(dir + "/PROG_KOM.XML").find(mustContain) != std::string::npos;
  std::system(("rm -rf '" + dir + "'").c_str());
  return r;
}

void report(const char* what, int records, const Result& r) {
  const double driverUs = r.driverCpu * 1e6 / records, simUs = r.simCpu * 1e6 / records;
  const double wireUs = static_cast<double>(r.wireBytes) * 10.0 * 1e6 / kBitsPerSecond / records;
  const double ratio = driverUs / wireUs * 100.0;
  std::printf("%s, %d goods%s\n", what, records, r.ok ? "" : "  (JOB FAILED)");
  std::printf("  quorvel run CPU per record %8.1f us   simulated register %6.1f us   wall %6.1f us\n", driverUs, simUs,
              r.wall * 1e6 / records);
  std::printf("  wire time per record       %8.1f us   (%.1f bytes at %d bit/s)\n", wireUs,
              static_cast<double>(r.wireBytes) / records, kBitsPerSecond);
  std::printf("  driver cost / wire time    %8.3f %%  (target < 1 %%)  %s\n", ratio, ratio < 1.0 ? "OK" : "OVER");
  std::printf("  peak memory of quorvel run %8ld KiB\n", r.peakKb);
}

}  // namespace

int main() {
  int failures = 0;
  long peak[2][2] = {};
  const int sizes[2] = {10000, 65535};
  for (int s = 0; s < 2; ++s) {
    const int n = sizes[s];
    const Result import = runJob("ImportTowarów", n, "<KP>" + std::to_string(n) + "</KP>");
    report("Import of the goods base", n, import);
    const Result sales = runJob("OdbiórSprzedaży", n, "<IdUF>" + std::to_string(n) + "</IdUF>");
    report("Sales read-out and clearing", n, sales);
    peak[0][s] = import.peakKb;
    peak[1][s] = sales.peakKb;
    failures += !import.ok + !sales.ok;
  }
  std::printf("Peak memory, %d vs %d goods: import %ld vs %ld KiB, sales %ld vs %ld KiB (target: no growth)\n",
              sizes[0], sizes[1], peak[0][0], peak[0][1], peak[1][0], peak[1][1]);
  return failures == 0 ? 0 : 1;
}
