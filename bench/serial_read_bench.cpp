// Receiving through CRS232 one Read (one byte) at a time: what it costs next to the line.
//
// A device thread sends 1 MB into a pseudo-terminal in 4000-byte frames (the largest a register
// sends); the port reads it byte by byte. Reported: system calls and CPU time per byte of the
// reading thread (its read() and poll() calls on the line, and its write() calls, which are the
// dump's: the dump flushes every record, so that it survives a crash), and the ratio of that CPU time to the time the byte takes on the wire at
// 115200 bit/s (10 bits per byte with start and stop bit). Run twice: plain, and with the
// transmission dump on (one enciphered record per byte). A third run paces the device at about
// the line speed, one byte at a time, so the reader waits for every byte: the worst case of
// system calls per byte on a real line.
#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/error_state.h"
#include "core/serial/rs232.h"
#include "platform/serial_backend.h"
#include "platform/ui.h"

namespace {

constexpr std::size_t kTotal = 1 << 20;
constexpr std::size_t kFrame = 4000;
constexpr std::size_t kPacedTotal = 20000;
constexpr double kWireNsPerByte = 10.0 / 115200.0 * 1e9;  // 86.8 us

double threadCpuNs() {
  rusage u{};
  getrusage(RUSAGE_THREAD, &u);
  auto ns = [](const timeval& t) { return static_cast<double>(t.tv_sec) * 1e9 + static_cast<double>(t.tv_usec) * 1e3; };
  return ns(u.ru_utime) + ns(u.ru_stime);
}

// Write system calls the calling thread has made so far (the kernel's count); -1 when unknown.
long threadWriteCalls() {
  std::ifstream in("/proc/thread-self/io");
  std::string key;
  long value = 0;
  while (in >> key >> value)
    if (key == "syscw:") return value;
  return -1;
}

bool run(bool withDump, bool paced) {
  const std::size_t total = paced ? kPacedTotal : kTotal;
  int master = -1, slave = -1;
  char name[128];
  if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
    std::perror("openpty");
    return false;
  }
  close(slave);

  CRS232 port;
  port.SetPort(name);
  port.SetSpeed(115200);
  port.SetTimeoutRead(5000);
  if (withDump) port.SetBinDump("serial_read_bench");
  if (port.Open() != 0) {
    std::fprintf(stderr, "open %s failed: %d\n", name, GetErrorNum());
    return false;
  }

  std::thread device([master, total, paced] {
    std::vector<char> frame(kFrame);
    for (std::size_t k = 0; k < kFrame; ++k) frame[k] = static_cast<char>(k * 31);
    std::size_t sent = 0;
    while (sent < total) {
      if (paced) std::this_thread::sleep_for(std::chrono::microseconds(87));
      const std::size_t n = paced ? 1 : std::min(kFrame, total - sent);
      std::size_t done = 0;
      while (done < n) {
        const ssize_t w = write(master, frame.data() + done, n - done);
        if (w <= 0) return;
        done += static_cast<std::size_t>(w);
      }
      sent += n;
    }
  });

  const auto before = quorvel::platform::TermiosSyscallCounts();
  const long writes0 = threadWriteCalls();
  const double cpu0 = threadCpuNs();
  const auto wall0 = std::chrono::steady_clock::now();
  std::size_t got = 0;
  char c;
  while (got < total && port.Read(c) == 0) ++got;
  const double wallNs = static_cast<double>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - wall0).count());
  const double cpuNs = threadCpuNs() - cpu0;
  const auto after = quorvel::platform::TermiosSyscallCounts();
  const long writes1 = threadWriteCalls();
  device.join();
  port.Close();
  close(master);
  if (got != total) {
    std::fprintf(stderr, "received %zu of %zu bytes\n", got, total);
    return false;
  }

  const double bytes = static_cast<double>(total);
  const double reads = static_cast<double>(after.reads - before.reads);
  const double polls = static_cast<double>(after.polls - before.polls);
  const double writes = writes0 < 0 || writes1 < 0 ? 0 : static_cast<double>(writes1 - writes0);
  std::printf("%-8s %7zu bytes  read() %.0f  poll() %.0f  write() %s%.0f  syscalls/byte %.5f  CPU %.1f ns/byte"
              "  wall %.1f ns/byte  CPU/wire(115200) %.6f\n",
              paced ? "paced" : withDump ? "dump on" : "plain", total, reads, polls, writes0 < 0 ? "(unknown) " : "",
              writes, (reads + polls + writes) / bytes, cpuNs / bytes, wallNs / bytes, cpuNs / bytes / kWireNsPerByte);
  return true;
}

}  // namespace

int main() {
  // The dump's warning box would wait for a person.
  quorvel::ui::SetMessageBoxHook([](const std::string&, const std::string&, quorvel::ui::Icon) {});
  const auto dir = std::filesystem::temp_directory_path() / ("quorvel_serial_bench_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  std::filesystem::current_path(dir);
  std::printf("wire time at 115200 bit/s: %.1f ns/byte\n", kWireNsPerByte);
  const bool ok = run(false, false) && run(true, false) && run(false, true);
  std::filesystem::current_path(dir.parent_path());
  std::filesystem::remove_all(dir);
  return ok ? 0 : 1;
}
