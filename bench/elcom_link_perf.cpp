// Elcom link benchmark: sends 2,000 PLUs to a model-1 register, imports 27,000 PLUs from a
// model-7 register and deletes all 27,000 of them again (the register's package counters not
// zero, so the job reads its packages and PLUs back first), each against a register simulated
// on a pseudo-terminal, with the protocol's pauses on the virtual clock.
//
// The jobs run in this process, pinned to processor 0 with the simulator; each is measured
// beside a baseline job (a connection check against the same register: loading of the core and
// the plug-in, one exchange), the two alternating which goes first. For each it prints the
// median, lowest and highest of the driver's own cost per PLU record (processor time of this
// process over the job minus the baseline's: core, plug-in and codec; the simulator runs in its
// own process) beside the time the record's bytes take on the wire at 9600 and 38400 bit/s,
// and the peak memory of this process (VmHWM). Target: under 1% of the wire time at 38400
// bit/s. It ends with status 1 when a job fails or the target is missed.
//
//   elcom_link_bench [RUNS]   runs at the largest size (default 7; 3 for the 2,000 PLUs)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_common.h"
#include "drivers/elcom/protocol.h"
#include "drivers/elcom/records.h"
#include "tests/elcom_harness.h"

namespace {

using quorvel::test::elcom::ElcomJob;
namespace ec = quorvel::elcom;
using quorvel::bench::Spread;

// Bits per byte on an 8N1 line: start, 8 data, stop.
double wireMs(double bytes, int bitsPerSecond) { return bytes * 10.0 * 1000.0 / bitsPerSecond; }

// The peak resident memory of this process so far, in KiB.
long peakKb() {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  return 0;
}

struct Scenario {
  const char* what;
  int model;
  int records;
  double bytesPerRecord;
  std::function<void(ElcomJob&)> prepare;  // the register and the job file
  std::string mustContain;                 // in PROG_KOM.XML after the job
  std::string registerShows;               // in `elcom_sim show` after the job, unless empty
};

// Runs `sc` against a fresh register, beside a baseline job; the driver's CPU time per record.
double runOnce(const Scenario& sc, bool baselineFirst, bool& ok) {
  ElcomJob job(sc.model);
  const auto baseline = [&] {
    job.writeJob("SprawdzeniePołączenia", "");
    const double c0 = quorvel::bench::selfCpuSeconds();
    job.runInProcess();
    return quorvel::bench::selfCpuSeconds() - c0;
  };
  double base = baselineFirst ? baseline() : 0;
  sc.prepare(job);
  const double c0 = quorvel::bench::selfCpuSeconds();
  job.runInProcess();  // in this process: its CPU time is the driver's alone
  const double cpu = quorvel::bench::selfCpuSeconds() - c0;
  ok = ok && quorvel::test::elcom::slurp(job.file("PROG_KOM.XML")).find(sc.mustContain) != std::string::npos;
  ok = ok && (sc.registerShows.empty() || job.show().find(sc.registerShows) != std::string::npos);
  if (!baselineFirst) base = baseline();
  return (cpu - base) * 1e6 / sc.records;
}

int measure(const Scenario& sc, int runs) {
  bool ok = true;
  std::vector<double> us;
  for (int i = 0; i < runs; ++i) us.push_back(runOnce(sc, i % 2 == 0, ok));
  const Spread cpu = quorvel::bench::spread(us);
  const double w9600 = wireMs(sc.bytesPerRecord, 9600);
  const double w38400 = wireMs(sc.bytesPerRecord, 38400);
  const double ratio = cpu.median / (w38400 * 1000.0) * 100.0;
  std::printf("%s: %d records, %.1f wire bytes each, %d runs%s\n", sc.what, sc.records, sc.bytesPerRecord, runs,
              ok ? "" : "  (JOB FAILED)");
  std::printf("  driver CPU per record, baseline taken off %8.1f us [%.1f, %.1f]\n", cpu.median, cpu.low, cpu.high);
  std::printf("  wire time per record    %8.3f ms at 9600 bit/s, %.3f ms at 38400 bit/s\n", w9600, w38400);
  std::printf("  driver cost / wire time %8.3f %% at 38400 bit/s  (target < 1 %%)  %s\n", ratio,
              ratio < 1.0 ? "OK" : "OVER");
  std::printf("  peak memory of this process so far %ld KiB\n", peakKb());
  return ok && ratio < 1.0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  quorvel::bench::pinToOneCpu();
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : quorvel::bench::kRuns;
  int failures = 0;
  {
    const int n = 2000;
    std::string goods;
    for (int i = 1; i <= n; ++i)
      goods += "<Towar><Id>" + std::to_string(i) + "</Id><Ty>T</Ty><KP>" + std::to_string(i) + "</KP><KK>590" +
               std::to_string(1000000000 + i) + "</KK><Na>Towar " + std::to_string(i) + "</Na><Ce>" +
               std::to_string(1 + i % 50) + ".99</Ce><Va>2</Va></Towar>\n";
    // Each PLU: its data frame out, the register's status frame back.
    const double bytes = ec::kHeaderSize + ec::sentPluSize(false) + ec::kChecksumSize + 7;
    failures += measure({"Send 2000 PLUs, model 1 (short records)", 1, n, bytes,
                         [goods](ElcomJob& job) { job.writeJob("PrzesyłanieTowarów", goods); }, "<Id>2000</Id>", ""},
                        std::min(3, runs));
  }
  const int n = 27000;
  {
    // A record is 40 bytes; each frame of up to 99 records adds its header, prefix and sum and
    // the driver's acknowledgement.
    const double perFrame = (ec::kCapTransfer - ec::kHeaderSize - ec::kTransferPrefix) / ec::pluDefinitionSize(true);
    const double bytes = ec::pluDefinitionSize(true) +
                         (ec::kHeaderSize + ec::kTransferPrefix + ec::kChecksumSize + 7) / perFrame;
    failures += measure({"Import 27000 PLUs, model 7 (long records)", 7, n, bytes,
                         [](ElcomJob& job) {
                           job.sim("fill " + std::to_string(n));
                           job.writeJob("ImportTowarów", "");
                         },
                         "<KP>27000</KP>", ""},
                        runs);
    // Delete-all reads every PLU back and then sends a deletion record for each.
    const double deletion = ec::kHeaderSize + ec::sentPluSize(true) + ec::kChecksumSize + 7;
    failures += measure({"Delete all 27000 PLUs, model 7, package counters not zero", 7, n, bytes + deletion,
                         [](ElcomJob& job) {
                           job.sim("fill " + std::to_string(n));
                           job.sim("sell package 3 2 1.00");
                           job.writeJob("UsuwanieWszystkichTowarów", "");
                         },
                         "UsuwanieWszystkichTowar", ", 0 PLU"},
                        runs);
  }
  return failures == 0 ? 0 : 1;
}
