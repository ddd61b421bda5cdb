// skeleton_sim: the simulated skeleton register on a pseudo-terminal.
//
// It prints the terminal's path on its first line and then answers every "HELLO" line with
// "OK <model>" (the skeleton codec's records), until it is stopped (SIGTERM, SIGINT). Any
// other line goes unanswered, as a register that does not know the command. A template for a
// new driver's simulator: replace the answers with the register's own state and records.
//
//   skeleton_sim [--model NAME]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "drivers/skeleton/records.h"

using namespace quorvel::skeleton;

namespace {

volatile sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

void writeAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string model = kModel.jobName;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--model") == 0 && i + 1 < argc) {
      model = argv[++i];
    } else {
      std::cerr << "usage: skeleton_sim [--model NAME]\n";
      return 2;
    }
  }
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 || !::ptsname(master)) {
    std::perror("skeleton_sim: pseudo-terminal");
    return 1;
  }
  const std::string path = ::ptsname(master);
  // The simulator keeps its own hold on the terminal's end, so the line stays up between jobs.
  const int slave = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  if (slave >= 0 && ::tcgetattr(slave, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
  }
  std::cout << path << std::endl;

  struct sigaction sa{};
  sa.sa_handler = onSignal;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  std::string line;
  while (!g_stop) {
    pollfd p{master, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0 || !(p.revents & POLLIN)) continue;
    char buffer[256];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) continue;
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != kLineEnd) {
        if (line.size() < kLineMax) line += buffer[i];
        continue;
      }
      if (isHelloRequest(line)) writeAll(master, helloAnswer(model));
      line.clear();
    }
  }
  if (slave >= 0) ::close(slave);
  ::close(master);
  return 0;
}
