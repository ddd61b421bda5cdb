// Elcom link benchmark: sends 2,000 PLUs to a model-1 register and imports 27,000 PLUs from a
// model-7 register, both simulated on a pseudo-terminal, with the protocol's pauses on the
// virtual clock. For each it prints the driver's own cost per PLU record (CPU time of this
// process: core, plug-in and codec; the simulator runs in its own process) beside the time the
// record's bytes take on the wire at 9600 and 38400 bit/s. Target: under 1% of the wire time
// at 38400 bit/s.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "tests/elcom_harness.h"
#include "drivers/elcom/protocol.h"
#include "drivers/elcom/records.h"

namespace {

using quorvel::test::elcom::ElcomJob;
namespace ec = quorvel::elcom;

double cpuSeconds() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Bits per byte on an 8N1 line: start, 8 data, stop.
double wireMs(double bytes, int bitsPerSecond) { return bytes * 10.0 * 1000.0 / bitsPerSecond; }

int report(const char* what, int records, double bytesPerRecord, double cpu, double wall, bool ok) {
  const double cpuUs = cpu * 1e6 / records;
  const double wallUs = wall * 1e6 / records;
  const double w9600 = wireMs(bytesPerRecord, 9600);
  const double w38400 = wireMs(bytesPerRecord, 38400);
  const double ratio = cpuUs / (w38400 * 1000.0) * 100.0;
  std::printf("%s: %d records, %.1f wire bytes each%s\n", what, records, bytesPerRecord, ok ? "" : "  (JOB FAILED)");
  std::printf("  driver CPU per record   %8.1f us   (wall, simulator included: %.1f us)\n", cpuUs, wallUs);
  std::printf("  wire time per record    %8.3f ms at 9600 bit/s, %.3f ms at 38400 bit/s\n", w9600, w38400);
  std::printf("  driver cost / wire time %8.3f %% at 38400 bit/s  (target < 1 %%)  %s\n", ratio,
              ratio < 1.0 ? "OK" : "OVER");
  return ok && ratio < 1.0 ? 0 : 1;
}

}  // namespace

int main() {
  int failures = 0;
  {
    const int n = 2000;
    ElcomJob job(1);
    std::string goods;
    for (int i = 1; i <= n; ++i)
      goods += "<Towar><Id>" + std::to_string(i) + "</Id><Ty>T</Ty><KP>" + std::to_string(i) + "</KP><KK>590" +
               std::to_string(1000000000 + i) + "</KK><Na>Towar " + std::to_string(i) + "</Na><Ce>" +
               std::to_string(1 + i % 50) + ".99</Ce><Va>2</Va></Towar>\n";
    job.writeJob("PrzesyłanieTowarów", goods);
    const double c0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    job.runInProcess();  // in this process: its CPU time is the driver's alone
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = cpuSeconds() - c0;
    const bool ok = quorvel::test::elcom::slurp(job.file("PROG_KOM.XML")).find("<Id>2000</Id>") != std::string::npos;
    // Each PLU: its data frame out, the register's status frame back.
    const double bytes = ec::kHeaderSize + ec::sentPluSize(false) + ec::kChecksumSize + 7;
    failures += report("Send 2000 PLUs, model 1 (short records)", n, bytes, cpu, wall, ok);
  }
  {
    const int n = 27000;
    ElcomJob job(7);
    job.sim("fill " + std::to_string(n));
    job.writeJob("ImportTowarów", "");
    const double c0 = cpuSeconds();
    const auto t0 = std::chrono::steady_clock::now();
    job.runInProcess();  // in this process: its CPU time is the driver's alone
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const double cpu = cpuSeconds() - c0;
    const bool ok = quorvel::test::elcom::slurp(job.file("PROG_KOM.XML")).find("<KP>27000</KP>") != std::string::npos;
    // A record is 40 bytes; each frame of up to 99 records adds its header, prefix and sum and
    // the driver's acknowledgement.
    const double perFrame = (ec::kCapTransfer - ec::kHeaderSize - ec::kTransferPrefix) / ec::pluDefinitionSize(true);
    const double bytes = ec::pluDefinitionSize(true) +
                         (ec::kHeaderSize + ec::kTransferPrefix + ec::kChecksumSize + 7) / perFrame;
    failures += report("Import 27000 PLUs, model 7 (long records)", n, bytes, cpu, wall, ok);
  }
  return failures == 0 ? 0 : 1;
}
