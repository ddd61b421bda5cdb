// posnet_sim: a simulated POSNET register for the stand-in libraries libposnet and libhlapi.
//
// It answers their frames (sim/posnet/frame.h) on a pseudo-terminal and/or a TCP port on the
// loopback address, keeps its goods, packagings, groups and sales statistics in a text state
// file that lasts from job to job, and plays the faults planned in that file.
//
// `posnet_sim --help` describes its commands (kHelp below).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/cp1250.h"
#include "sim/posnet/frame.h"
#include "sim/posnet/register.h"
#include "sim/sim_command_line.h"

using namespace quorvel::posnetsim;

namespace {

using quorvel::cp1250::fromUtf8;
using quorvel::cp1250::toUtf8;

volatile sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

// The state file is read, changed and written under an advisory lock of its own, so a sale
// recorded from the command line while the register serves is never lost to the register's
// own write.
int openLockFile(const std::string& state) {
  return ::open((state + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
}

class StateLock {
 public:
  explicit StateLock(int fd) : fd_(fd) {
    if (fd_ >= 0) ::flock(fd_, LOCK_EX);
  }
  ~StateLock() {
    if (fd_ >= 0) ::flock(fd_, LOCK_UN);
  }
  StateLock(const StateLock&) = delete;
  StateLock& operator=(const StateLock&) = delete;

 private:
  int fd_;
};

struct Options {
  std::string state;
  std::string link;
  bool tcp = false;
  bool pty = false;
  int port = 0;
  std::string portFile;
  std::string rawLog;
  std::string statsFile;
  std::vector<std::string> args;
};

const char* const kHelp = R"(Usage: posnet_sim COMMAND --state FILE [OPTIONS] [ARGUMENTS]

A simulated POSNET register for tests and the demo. It answers the stand-in libraries
libposnet and libhlapi on a pseudo-terminal and/or a TCP port on 127.0.0.1, and keeps its
goods, packagings, goods groups, sales statistics and the faults it is to play in the state
FILE, a tab-separated text file that lasts from job to job. The driver reaches the
stand-ins (the build's standins folder) as it reaches a shop's libraries: name their folder in
QUORVEL_LIBRARY_PATH (an absolute folder), e.g.
QUORVEL_LIBRARY_PATH="$PWD/build/standins" quorvel run quorvel_posnet;
libraries lying in the job directory are never loaded.

Commands:
  init        write a fresh state file (group 1 only, no goods, no packagings, no faults)
  serve       answer the libraries until terminated (SIGTERM, Ctrl-C); the state file is read
              again whenever it changed and written after every change
  show        print the register's goods, packagings, groups and faults
  add group N NAME
  add goods PLU NAME PRICE [vat=N] [group=N] [unit=N] [pack=PLU] [barcode=CODE]
              [extra=CODE,CODE...] [open]
  add pack PLU NAME PRICE [barcode=CODE] [extra=CODE,...] [open]
  sell goods PLU QUANTITY VALUE     add a sale, e.g. sell goods 1 1.5 6.30
  sell pack PLU QUANTITY VALUE      packagings handed out with a sale
  return pack PLU QUANTITY VALUE    packagings taken back
  fill COUNT [sold]                 goods 1 to COUNT ("Towar N"), with one sale each if "sold"
  limits GOODS PACKAGINGS           the highest goods and packaging PLU numbers
  delay MS                          answer every request MS milliseconds late (a slow line)
  fault WHERE ACTION [COUNT]
              play a fault the next COUNT times (default 1; "always" for every time) that
              WHERE is reached:
                WHERE   hello, cmd:NAME (a command, e.g. cmd:PLUIns), cmd:NAME@K (a read
                        command once K records of its read-out went out), plu:N (any command
                        whose first argument is N), answer:N (the Nth request from now on,
                        whatever it is)
                ACTION  status:N (register error N, sent as 0x430000+N), status:0xHEX (that
                        status as it stands), silence (no answer), lost (the command is
                        carried out but its answer never leaves), drop (the connection is
                        closed; on the serial line the register is deaf until the next
                        hello), garble (the answer's checksum is wrong), done-drop
                        (the register does what was asked, then closes the connection
                        as drop does: the answer never arrives)
  fault clear forget every planned fault

Options:
  --state FILE      the register's state file (required)
  --link PATH       serve on a pseudo-terminal, with a symbolic link to it at PATH
  --pty             serve on a pseudo-terminal without a link (its path is printed)
  --port N          serve on TCP port N of 127.0.0.1 (0: any free port)
  --port-file FILE  write the TCP port chosen to FILE once the register listens
  --raw-log FILE    append every byte received on the serial line to FILE
  --stats FILE      at the end, write the bytes received and sent ("rx N", "tx N")
  --help            show this text
  --version         show the version

serve prints one line per line it serves: the terminal's path (or the link) and
"127.0.0.1:PORT". Without --link, --pty and --port it serves a pseudo-terminal.

Exit status: 0 on success, 1 when the state file cannot be read or written or a record is
missing, 2 for a bad command line.
)";

const char* const kUsage =
    "usage: posnet_sim init|serve|show|add|sell|return|fill|limits|delay|fault --state FILE [options] "
    "[arguments]\nTry 'posnet_sim --help'.\n";

int usage() {
  std::cerr << kUsage;
  return 2;
}

void writeAll(int fd, const Bytes& b, unsigned long long& counter) {
  std::size_t at = 0;
  while (at < b.size()) {
    const ssize_t n = ::write(fd, b.data() + at, b.size() - at);
    if (n > 0) {
      at += static_cast<std::size_t>(n);
      counter += static_cast<unsigned long long>(n);
    } else if (n < 0 && errno != EINTR && errno != EAGAIN) {
      return;
    } else {
      pollfd p{fd, POLLOUT, 0};
      ::poll(&p, 1, 100);
    }
  }
}

// One line the register serves: the pseudo-terminal or a TCP client.
struct Conn {
  int fd = -1;
  bool serial = false;
  bool deaf = false;  // serial line after a planned drop: waiting for the next hello
  FrameStream stream;
  Session session;
};

class Server {
 public:
  Server(Register& reg, const Options& o) : reg_(reg), o_(o) {}

  int run(int master, int slave, int listener) {
    slave_ = slave;
    lockFd_ = openLockFile(o_.state);
    if (!o_.rawLog.empty()) rawLog_ = ::open(o_.rawLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (master >= 0) {
      auto c = std::make_unique<Conn>();
      c->fd = master;
      c->serial = true;
      conns_.push_back(std::move(c));
    }
    while (!g_stop) {
      std::vector<pollfd> fds;
      if (listener >= 0) fds.push_back({listener, POLLIN, 0});
      for (auto& c : conns_) fds.push_back({c->fd, POLLIN, 0});
      const int r = ::poll(fds.data(), fds.size(), reg_.pending() ? kIdleMs : 500);
      if (r < 0 && errno != EINTR) break;
      if (r == 0) flush();
      if (r <= 0) continue;
      std::size_t i = 0;
      if (listener >= 0) {
        if (fds[0].revents & POLLIN) accept(listener);
        i = 1;
      }
      std::vector<Conn*> closed;
      for (std::size_t k = 0; i < fds.size(); ++i, ++k) {
        if (!fds[i].revents) continue;
        Conn* c = conns_[k].get();
        if (!serve(*c)) closed.push_back(c);
      }
      for (Conn* c : closed) {
        ::close(c->fd);
        std::erase_if(conns_, [c](const std::unique_ptr<Conn>& p) { return p.get() == c; });
      }
      if (!closed.empty() || (reg_.pending() && Clock::now() - pendingSince_ > kLongestPending)) flush();
    }
    flush();
    if (!o_.statsFile.empty()) {
      std::ofstream s(o_.statsFile, std::ios::trunc);
      s << "rx " << rx_ << "\ntx " << tx_ << "\n";
    }
    return 0;
  }

 private:
  void accept(int listener) {
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd < 0) return;
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    auto c = std::make_unique<Conn>();
    c->fd = fd;
    conns_.push_back(std::move(c));
  }

  // Reads what arrived and answers every whole frame; false when the connection is to go.
  bool serve(Conn& c) {
    std::uint8_t buf[8192];
    const ssize_t n = ::read(c.fd, buf, sizeof buf);
    if (n == 0) return c.serial;
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || c.serial) {
        if (c.serial && errno != EINTR && errno != EAGAIN) ::usleep(20000);  // nobody on the other end yet
        return true;
      }
      return false;
    }
    rx_ += static_cast<unsigned long long>(n);
    if (c.serial && rawLog_ >= 0) {
      ssize_t ignored = ::write(rawLog_, buf, static_cast<std::size_t>(n));
      (void)ignored;
    }
    c.stream.append(buf, static_cast<std::size_t>(n));
    Frame f;
    while (c.stream.next(f)) {
      Fields request;
      if (!splitFields(f.payload, request) || request.empty()) {
        send(c, f.requestNumber, Answer{Answer::Kind::kFrame, {std::to_string(kBadCommand)}});
        continue;
      }
      if (request[0] == "HELLO") {
        c.deaf = false;
        c.session = Session{};
      }
      if (c.deaf) continue;
      std::string error;
      Answer a;
      lock();
      if (!reg_.refresh(error)) {
        std::fprintf(stderr, "posnet_sim: %s\n", error.c_str());
        unlockUnlessPending();
        continue;  // no answer: the library reports its time-out
      }
      const bool wasPending = reg_.pending();
      a = reg_.handle(request, c.session);
      if (reg_.pending() && !wasPending) pendingSince_ = Clock::now();
      unlockUnlessPending();
      if (reg_.state().delayMs > 0) ::usleep(static_cast<useconds_t>(reg_.state().delayMs) * 1000);
      if (a.kind == Answer::Kind::kDrop) {
        if (!c.serial) return false;
        c.deaf = true;
        continue;
      }
      send(c, f.requestNumber, a);
    }
    return true;
  }

  void send(Conn& c, std::uint16_t number, const Answer& a) {
    if (a.kind == Answer::Kind::kSilence) return;
    Bytes frame = encodeFrame(number, joinFields(a.fields));
    if (a.kind == Answer::Kind::kGarble) frame[frame.size() - 1] ^= 0x5A;
    writeAll(c.fd, frame, tx_);
  }

  // The state lock is held from a request's reading of the state file until its changes are
  // written, so a command-line change or read waits for them and is never lost to a later
  // write. Changes are written once the lines are quiet for kIdleMs, when a connection closes,
  // when they have waited kLongestPending, and when the register stops.
  using Clock = std::chrono::steady_clock;
  static constexpr int kIdleMs = 20;
  static constexpr Clock::duration kLongestPending = std::chrono::seconds(1);
  void lock() {
    if (locked_ || lockFd_ < 0) return;
    ::flock(lockFd_, LOCK_EX);
    locked_ = true;
  }
  void unlockUnlessPending() {
    if (!locked_ || reg_.pending()) return;
    ::flock(lockFd_, LOCK_UN);
    locked_ = false;
  }
  void flush() {
    reg_.flush();
    unlockUnlessPending();
  }

  Register& reg_;
  const Options& o_;
  bool locked_ = false;
  Clock::time_point pendingSince_{};
  std::vector<std::unique_ptr<Conn>> conns_;
  int slave_ = -1;
  int rawLog_ = -1;
  int lockFd_ = -1;
  unsigned long long rx_ = 0, tx_ = 0;
};

bool openTerminal(const Options& o, int& master, int& slave) {
  master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    std::perror("posnet_sim: pseudo-terminal");
    return false;
  }
  const char* name = ::ptsname(master);
  if (!name) return false;
  const std::string path = name;
  // The register keeps its own hold on the terminal's end, so the line stays up between jobs.
  slave = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  if (slave >= 0 && ::tcgetattr(slave, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
  }
  ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
  std::string shown = path;
  if (!o.link.empty()) {
    ::unlink(o.link.c_str());
    if (::symlink(path.c_str(), o.link.c_str()) != 0) {
      std::perror("posnet_sim: link");
      return false;
    }
    shown = o.link;
  }
  std::cout << shown << std::endl;
  return true;
}

int openListener(const Options& o) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(o.port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    std::perror("posnet_sim: TCP port");
    ::close(fd);
    return -1;
  }
  const int port = ntohs(a.sin_port);
  std::cout << "127.0.0.1:" << port << std::endl;
  if (!o.portFile.empty()) {
    // Written whole under another name first: whoever waits for the file reads a whole port.
    const std::string tmp = o.portFile + ".tmp";
    {
      std::ofstream out(tmp, std::ios::trunc);
      out << port << "\n";
    }
    std::rename(tmp.c_str(), o.portFile.c_str());
  }
  return fd;
}

int serveCommand(const Options& o) {
  struct sigaction sa{};
  sa.sa_handler = onSignal;
  ::sigaction(SIGTERM, &sa, nullptr);
  ::sigaction(SIGINT, &sa, nullptr);
  ::signal(SIGPIPE, SIG_IGN);
  const bool pty = !o.link.empty() || !o.tcp || o.pty;
  int master = -1, slave = -1, listener = -1;
  if (pty && !openTerminal(o, master, slave)) return 1;
  if (o.tcp && (listener = openListener(o)) < 0) return 1;
  Register reg(o.state);
  Server server(reg, o);
  const int rc = server.run(master, slave, listener);
  if (!o.link.empty()) ::unlink(o.link.c_str());
  return rc;
}

// UTF-8 text padded with blanks to `width` characters (not bytes), for aligned columns.
std::string padded(const std::string& utf8, std::size_t width) {
  std::size_t chars = 0;
  for (unsigned char c : utf8)
    if ((c & 0xC0) != 0x80) ++chars;
  return chars >= width ? utf8 : utf8 + std::string(width - chars, ' ');
}

std::string money(long long v, int decimals) {
  const long long scale = decimals == 3 ? 1000 : 100;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s%lld.%0*lld", v < 0 ? "-" : "", std::llabs(v) / scale, decimals, std::llabs(v) % scale);
  return buf;
}

std::string codes(const std::string& main, const std::vector<std::string>& extra) {
  std::string s = main.empty() ? "-" : main;
  for (const std::string& e : extra) s += "," + e;
  return s;
}

int show(const State& s) {
  std::printf("POSNET register: %zu goods (PLU 1-%d), %zu packagings (1-%d), %zu groups\n", s.goods.size(), s.goodsLimit,
              s.packs.size(), s.packLimit, s.groups.size());
  for (const auto& [n, name] : s.groups) std::printf("Grupa %3d  %s\n", n, name.c_str());
  for (const auto& [plu, p] : s.packs)
    std::printf("Opakowanie %3d  %s  kod %-14s  cena %s%s  wydano %s (%s)  przyjęto %s (%s)\n", plu,
                padded(toUtf8(p.name), 20).c_str(), codes(p.barcode, p.extra).c_str(), money(p.price, 2).c_str(),
                p.openPrice ? " otwarta" : "", money(p.soldQuantity, 3).c_str(), money(p.soldValue, 2).c_str(),
                money(p.returnedQuantity, 3).c_str(), money(p.returnedValue, 2).c_str());
  for (const auto& [plu, g] : s.goods)
    std::printf("PLU %6d  %s  kod %-14s  cena %s%s  VAT %d  grupa %d  jm %d  opak. %d  sprzedaż %s (%s)\n", plu,
                padded(toUtf8(g.name), 20).c_str(), codes(g.barcode, g.extra).c_str(), money(g.price, 2).c_str(),
                g.openPrice ? " otwarta" : "", g.vat, g.group, g.unit, g.pack, money(g.quantity, 3).c_str(),
                money(g.value, 2).c_str());
  for (const Fault& f : s.faults)
    std::printf("fault %s %s %s\n", f.where.c_str(), f.action.c_str(), quorvel::sim::faultCountText(f.count).c_str());
  return 0;
}

bool number(const std::string& s, int& out) {
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (s.empty() || *end || v < -1000000000L || v > 1000000000L) return false;
  out = static_cast<int>(v);
  return true;
}

std::vector<std::string> commaList(const std::string& s) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at <= s.size()) {
    const std::size_t c = s.find(',', at);
    const std::string part = s.substr(at, c == std::string::npos ? std::string::npos : c - at);
    if (!part.empty()) out.push_back(part);
    if (c == std::string::npos) break;
    at = c + 1;
  }
  return out;
}

// add goods|pack|group ...
int addCommand(State& s, const std::vector<std::string>& a) {
  int n = 0;
  if (a.size() == 3 && a[0] == "group" && number(a[1], n)) {
    s.groups[n] = a[2];
    return 0;
  }
  long long price = 0;
  if (a.size() < 4 || !number(a[1], n) || !parseDecimal(a[3], 100, price)) return usage();
  Goods g;
  g.name = fromUtf8(a[2]);
  g.price = price;
  for (std::size_t i = 4; i < a.size(); ++i) {
    const std::string& o = a[i];
    const std::size_t eq = o.find('=');
    const std::string key = o.substr(0, eq), value = eq == std::string::npos ? "" : o.substr(eq + 1);
    bool ok = true;
    if (o == "open") g.openPrice = true;
    else if (key == "vat") ok = number(value, g.vat);
    else if (key == "group") ok = number(value, g.group);
    else if (key == "unit") ok = number(value, g.unit);
    else if (key == "pack") ok = number(value, g.pack);
    else if (key == "barcode") g.barcode = value;
    else if (key == "extra") g.extra = commaList(value);
    else ok = false;
    if (!ok) return usage();
  }
  if (a[0] == "goods") {
    s.goods[n] = g;
  } else if (a[0] == "pack") {
    Packaging p;
    p.name = g.name;
    p.price = g.price;
    p.barcode = g.barcode;
    p.extra = g.extra;
    p.openPrice = g.openPrice;
    s.packs[n] = p;
  } else {
    return usage();
  }
  return 0;
}

// sell goods|pack PLU QUANTITY VALUE, return pack PLU QUANTITY VALUE
int saleCommand(State& s, bool returned, const std::vector<std::string>& a) {
  int plu = 0;
  long long quantity = 0, value = 0;
  if (a.size() != 4 || !number(a[1], plu) || !parseDecimal(a[2], 1000, quantity) || !parseDecimal(a[3], 100, value))
    return usage();
  if (a[0] == "goods" && !returned) {
    auto it = s.goods.find(plu);
    if (it == s.goods.end()) {
      std::cerr << "posnet_sim: no goods with PLU " << plu << "\n";
      return 1;
    }
    it->second.quantity += quantity;
    it->second.value += value;
    return 0;
  }
  if (a[0] != "pack") return usage();
  auto it = s.packs.find(plu);
  if (it == s.packs.end()) {
    std::cerr << "posnet_sim: no packaging with PLU " << plu << "\n";
    return 1;
  }
  (returned ? it->second.returnedQuantity : it->second.soldQuantity) += quantity;
  (returned ? it->second.returnedValue : it->second.soldValue) += value;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  quorvel::sim::CommandLineRules rules{kHelp, kUsage, {}, {}, {}, {}};
  rules.valued["--link"] = [&](const std::string& v) { return o.link = v, true; };
  rules.valued["--port"] = [&](const std::string& v) {
    return number(v, o.port) && o.port >= 0 && o.port < 65536 && (o.tcp = true);
  };
  rules.valued["--port-file"] = [&](const std::string& v) { return o.portFile = v, true; };
  rules.valued["--raw-log"] = [&](const std::string& v) { return o.rawLog = v, true; };
  rules.valued["--stats"] = [&](const std::string& v) { return o.statsFile = v, true; };
  rules.flags["--pty"] = [&] { o.pty = true; };
  for (const char* option : {"--link", "--port", "--port-file", "--raw-log", "--stats", "--pty"})
    rules.onlyFor[option] = "serve";
  quorvel::sim::CommandLine line;
  if (const int rc = quorvel::sim::readCommandLine(argc, argv, rules, line); rc >= 0) return rc;
  const std::string& verb = line.command;
  o.state = line.state;
  o.args = line.args;

  std::optional<StateLock> lock;
  if (verb != "serve") lock.emplace(openLockFile(o.state));  // released when the program ends
  State s;
  std::string error;
  const bool exists = ::access(o.state.c_str(), F_OK) == 0;
  if (verb != "init" && exists && !loadState(o.state, s, error)) {
    std::cerr << "posnet_sim: " << error << "\n";
    return 1;
  }
  if (verb == "init" || (verb == "serve" && !exists)) {
    if (!saveState(o.state, s)) {
      std::cerr << "posnet_sim: cannot write " << o.state << "\n";
      return 1;
    }
  }
  if (verb == "init") return 0;
  if (verb == "serve") return serveCommand(o);
  if (verb == "show") return show(s);
  const std::vector<std::string>& a = o.args;
  int rc = 0;
  if (verb == "add") {
    rc = addCommand(s, a);
  } else if (verb == "sell" || verb == "return") {
    rc = saleCommand(s, verb == "return", a);
  } else if (verb == "fill") {
    int count = 0;
    if (a.empty() || a.size() > 2 || !number(a[0], count) || (a.size() == 2 && a[1] != "sold")) return usage();
    for (int plu = 1; plu <= count && plu <= s.goodsLimit; ++plu) {
      Goods& g = s.goods[plu];
      g = Goods{};
      g.name = "Towar " + std::to_string(plu);
      g.barcode = std::to_string(5900000000000LL + plu);
      g.price = 100 + plu % 1000;
      g.vat = plu % 4;
      if (a.size() == 2) {
        g.quantity = 1000 + plu % 7 * 500;
        g.value = g.price * g.quantity / 1000;
      }
    }
  } else if (verb == "delay") {
    if (a.size() != 1 || !number(a[0], s.delayMs) || s.delayMs < 0) return usage();
  } else if (verb == "limits") {
    if (a.size() != 2 || !number(a[0], s.goodsLimit) || !number(a[1], s.packLimit)) return usage();
  } else if (verb == "fault") {
    if (!quorvel::sim::faultCommand(a, s.faults)) return usage();
  } else {
    return usage();
  }
  if (rc != 0) return rc;
  if (!saveState(o.state, s)) {
    std::cerr << "posnet_sim: cannot write " << o.state << "\n";
    return 1;
  }
  return 0;
}
