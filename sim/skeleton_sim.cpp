// skeleton_sim: the simulated skeleton register on a pseudo-terminal.
//
// It prints the terminal's path on its first line and then answers every "HELLO" line with
// "OK <model>" and every goods line "PLU ..." with "OK" or "ERR <n>" (the skeleton codec's
// records), until it is stopped (SIGTERM, SIGINT). It refuses a goods whatever lies outside
// the model's limits (drivers/skeleton/limits.cpp), a byte outside its code page, and a name
// another PLU already holds; an accepted goods replaces the one of its PLU. Any other line goes
// unanswered, as a register that does not know the command. With --state the goods are kept in
// that file (one line each, sorted), read at the start and written when the line falls quiet
// and at the stop. A template for a new driver's simulator: replace the answers with the
// register's own state and records.
//
//   skeleton_sim [--model NAME] [--state FILE]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <utility>

#include "drivers/skeleton/limits.h"
#include "drivers/skeleton/records.h"
#include "quorvel_version.h"

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

// The register's goods, by type and PLU.
using Goods = std::map<std::pair<char, long>, GoodsRecord>;

bool inRange(long long v, long low, long high) { return v >= low && v <= high; }

// A byte the register's code page has: printable ASCII and the Polish letters of windows-1250.
bool registerCharacter(unsigned char c) {
  if (c >= 0x20 && c < 0x7F) return true;
  for (const unsigned char polish : {0xA5, 0xB9, 0xC6, 0xE6, 0xCA, 0xEA, 0xA3, 0xB3, 0xD1, 0xF1, 0xD3, 0xF3, 0x8C,
                                     0x9C, 0x8F, 0x9F, 0xAF, 0xBF})
    if (c == polish) return true;
  return false;
}

// What the register refuses the record for; 0 when it takes it.
int refusal(const GoodsRecord& r, const Goods& goods) {
  const QuorvelFieldLimits& l = modelLimits();
  const bool package = r.type == 'O';
  if (r.name.empty() || r.name.size() > l.nameLength) return static_cast<int>(RegisterRefusal::Name);
  for (const char c : r.name)
    if (!registerCharacter(static_cast<unsigned char>(c))) return static_cast<int>(RegisterRefusal::Character);
  if (package ? !inRange(r.plu, l.packageMin, l.packageMax) : !inRange(r.plu, l.pluMin, l.pluMax))
    return static_cast<int>(RegisterRefusal::Plu);
  if (r.barcode.size() > l.barcodeDigits || r.barcode.find_first_not_of("0123456789") != std::string::npos)
    return static_cast<int>(RegisterRefusal::Barcode);
  if (!package && !inRange(r.unit, l.unitMin, l.unitMax)) return static_cast<int>(RegisterRefusal::Unit);
  if (!package && !inRange(r.vat, l.vatMin, l.vatMax)) return static_cast<int>(RegisterRefusal::Vat);
  if (!package && !inRange(r.group, l.groupMin, l.groupMax)) return static_cast<int>(RegisterRefusal::Group);
  if (!inRange(r.price, static_cast<long>(l.priceMin), static_cast<long>(l.priceMax)))
    return static_cast<int>(RegisterRefusal::Price);
  for (const auto& [key, held] : goods)
    if (key.first == r.type && key.second != r.plu && held.name == r.name)
      return static_cast<int>(RegisterRefusal::DuplicateName);
  return 0;
}

Goods readState(const std::string& path) {
  Goods goods;
  std::ifstream in(path, std::ios::binary);
  for (std::string line; std::getline(in, line);)
    if (const auto r = parseStateLine(line)) goods[{r->type, r->plu}] = *r;
  return goods;
}

void writeState(const std::string& path, const Goods& goods) {
  const std::string aside = path + ".new";
  {
    std::ofstream out(aside, std::ios::binary | std::ios::trunc);
    for (const auto& [key, r] : goods) out << stateLine(r) << '\n';
  }
  std::rename(aside.c_str(), path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::string model = kModel.jobName;
  std::string state;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--model") == 0 && i + 1 < argc) {
      model = argv[++i];
    } else if (std::strcmp(argv[i], "--state") == 0 && i + 1 < argc) {
      state = argv[++i];
    } else if (std::strcmp(argv[i], "--version") == 0) {
      std::cout << "skeleton_sim " << QUORVEL_VERSION << "\n";
      return 0;
    } else {
      std::cerr << "skeleton_sim: cannot take " << argv[i] << "\nusage: skeleton_sim [--model NAME] [--state FILE] [--version]\n";
      return 2;
    }
  }
  Goods goods = state.empty() ? Goods{} : readState(state);
  bool changed = false;
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
    if (::poll(&p, 1, 100) <= 0 || !(p.revents & POLLIN)) {
      // The line fell quiet: what changed goes to the state file.
      if (changed && !state.empty()) writeState(state, goods);
      changed = false;
      continue;
    }
    char buffer[256];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) continue;
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] != kLineEnd) {
        if (line.size() < kLineMax) line += buffer[i];
        continue;
      }
      if (isHelloRequest(line)) {
        writeAll(master, helloAnswer(model));
      } else if (line.rfind("PLU", 0) == 0) {
        const auto record = parseGoodsRequest(line);
        const int refused = record ? refusal(*record, goods) : static_cast<int>(RegisterRefusal::BadRecord);
        if (refused == 0) {
          goods[{record->type, record->plu}] = *record;
          changed = true;
        }
        writeAll(master, goodsAnswer(refused));
      }
      line.clear();
    }
  }
  if (changed && !state.empty()) writeState(state, goods);
  if (slave >= 0) ::close(slave);
  ::close(master);
  return 0;
}
