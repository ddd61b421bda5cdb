// Sales read-outs interrupted at every point, for each driver: the register is given known
// sales, `quorvel run PLUGIN -C DIR` reads them out with one fault injected, and the read-out is
// then run again without a fault (once more if that retry itself does not end OK). Faults:
//   KILL, TERM  the program gets the signal at one of its writes, fsyncs, renames or closes
//               (each write to a file, the serial line or the socket, each close); the preloaded
//               tests/support/fault_preload.c counts them and raises the signal at the Nth;
//   REGISTER    the simulated register dies, hangs up or loses its answer at each of its answers.
// For every point each sale must end up exactly once in a PROG_KOM.XML whose RAPORT.XML says OK
// or I, or still be in the register, or lie in a file kept in the job directory (its HISTORIA
// folder, or a file a report message names); it must never be lost and never be delivered by
// two OK reports (nor delivered once and still counted in the register). A PROG_KOM.XML of a run
// whose report is not OK delivers nothing, kept or not; a sale both delivered and in a file a
// report message names is reported apart ("delivered+named"). An Elcom register clears only its
// PLU counters and its report asks the cashier for the package report; the test does that after
// each complete OK report that asks. One line per point goes to standard output, then a summary.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "drivers/elcom/config.h"
#include "drivers/elzab/config.h"
#include "drivers/posnet/config.h"
#include "plugin/config_store.h"
#include "tests/elcom_harness.h"
#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using quorvel::test::elcom::HostRun;
using quorvel::test::elcom::RunOptions;
using quorvel::test::readFile;

const std::string kBin = QUORVEL_BIN_DIR;
const char* const kOperation = "OdbiórSprzedaży";

// ---- Drivers ------------------------------------------------------------------------------

struct Driver {
  std::string name;     // elcom, elzab, posnet
  std::string plugin;   // quorvel_elcom ...
  std::string model;    // idModelu of the job
  std::string sim;      // the simulator's program
  std::vector<std::string> seed;      // simulator commands giving the register its sales
  std::vector<std::string> faults;    // register faults: "answer:# ACTION" counts answers
  std::function<std::set<std::string>(const std::string& dir, const std::string& shown)> held;
};

bool nonZero(const std::string& number) { return number.find_first_not_of("-0.") != std::string::npos; }

// Sales the register holds, as keys TYPE+PLU (returns with a trailing '-'), from the lines of
// its state or of `show`, with one regular expression per kind of counter.
// A rule's expression captures the PLU, the quantity and the value.
struct Counter {
  std::regex line;
  std::string type, suffix = "";
};
std::set<std::string> heldBy(const std::string& text, const std::vector<Counter>& rules) {
  std::set<std::string> keys;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line))
    for (const Counter& c : rules) {
      std::smatch m;
      if (std::regex_search(line, m, c.line) && (nonZero(m[2]) || nonZero(m[3]))) keys.insert(c.type + m[1].str() + c.suffix);
    }
  return keys;
}

std::vector<Driver> drivers() {
  return {
      {"elcom", "quorvel_elcom", "Quorvel_Elcom_Euro500T2", "elcom_sim",
       {"fill 3", "sell plu 1 1.5 3.75", "sell plu 2 2 4.00", "sell plu 3 0.25 1.10", "sell package 1 3 1.50",
        "sell package 2 1 0.50"},
       {"answer:# die"},
       [](const std::string& dir, const std::string&) {
         return heldBy(readFile(dir + "/kasa.txt"),
                       {{std::regex("^plu (\\d+) \\d+ \\d+ \\d+ \\d+ (\\d+) (-?\\d+)"), "T"},
                        {std::regex("^package (\\d+) \\d+ (\\d+) (-?\\d+)"), "O"}});
       }},
      {"elzab", "quorvel_elzab", "Elzab Omega", "elzab_sim",
       {"seed 3 --packagings 2", "sell 1 1 1.00", "sell 2 2 4.00", "sell 3 0.5 1.25", "sell 4 3 1.50", "return 5 2 10.00"},
       {"OSpOpMax receive-timeout", "OSpOpMax lost"},
       [](const std::string&, const std::string& shown) {
         return heldBy(shown, {{std::regex("^PLU +(\\d+).*sprzedaż (\\S+) szt. (\\S+)"), "T"},
                               {std::regex("^Opak. +(\\d+).*sprzedaż (\\S+) szt. (\\S+)"), "O"},
                               {std::regex("^Opak. +(\\d+).*zwroty (\\S+) szt. (\\S+)"), "O", "-"}});
       }},
      {"posnet", "quorvel_posnet", "Quorvel_Posnet_Combo", "posnet_sim",
       {"fill 3", "add pack 4 Butelka 0.50", "add pack 5 Skrzynka 5.00", "sell goods 1 1.5 7.49", "sell goods 2 2 4.00",
        "sell goods 3 0.25 1.10", "sell pack 4 3 1.50", "return pack 5 2 10.00"},
       {"answer:# drop", "answer:# done-drop"},
       [](const std::string&, const std::string& shown) {
         return heldBy(shown, {{std::regex("^PLU +(\\d+).*sprzedaż (\\S+) \\((\\S+)\\)"), "T"},
                               {std::regex("^Opakowanie +(\\d+).*wydano (\\S+) \\((\\S+)\\)"), "O"},
                               {std::regex("^Opakowanie +(\\d+).*przyjęto (\\S+) \\((\\S+)\\)"), "O", "-"}});
       }},
  };
}

// What one run left: its report and device-data file.
struct Snapshot {
  std::string raport, progKom;
  bool ok = false;  // complete, status OK or I
};

// ---- One job directory with its simulated register ------------------------------------------

class Rig : public quorvel::test::JobDir {
 public:
  explicit Rig(const Driver& d) : JobDir("kill", /*enter=*/false), d_(d) {
    fs::create_directory(file("locks"));
    state_ = file(d.name == "elzab" ? "ELZAB_SIM.TXT" : "kasa.txt");
    sim("init");
    for (const auto& s : d.seed)
      if (sim(s) != 0) throw std::runtime_error(d.sim + " " + s);
    startRegister();
    writeFiles();
  }
  ~Rig() override { quorvel::test::stopProcess(pid_); }

  const std::string& dir() const { return path(); }

  int sim(const std::string& args) const {
    return quorvel::test::simCommand(kBin + "/" + d_.sim, state_, args, /*dropErrors=*/true);
  }
  std::string show() const { return quorvel::test::simShow(kBin + "/" + d_.sim, state_); }
  std::set<std::string> held() const { return d_.held(path(), show()); }

  HostRun run(std::vector<std::string> environment) {
    ensureRegister();
    environment.push_back("QUORVEL_VIRTUAL_CLOCK=" + file("clock.txt"));
    environment.push_back("QUORVEL_LIBRARY_PATH=" QUORVEL_STANDIN_DIR);
    // A lock directory of its own: the matrices of one driver run side by side, each against
    // a register of its own that the lock would otherwise take for one.
    environment.push_back("QUORVEL_LOCK_DIR=" + file("locks"));
    RunOptions o;
    o.environment = environment;
    return runHost(d_.plugin, o);
  }

  // The register's own follow-up that a report asks of the cashier: an Elcom register clears
  // only its PLU counters and says so; its packages are cleared by a report at the register.
  void followReport(const Snapshot& report) {
    if (d_.name != "elcom" || !report.ok || report.raport.find("nie pozwala na usuwanie obrot") == std::string::npos)
      return;
    std::string state = readFile(state_), out;
    std::istringstream in(state);
    std::string line;
    const std::regex package("^(package \\d+ \\d+) \\d+ -?\\d+ (.*)$");
    while (std::getline(in, line)) out += std::regex_replace(line, package, "$1 0 0 $2") + "\n";
    quorvel::test::writeFile(state_, out);
  }

 private:
  void writeFiles() {
    std::string image;
    if (d_.name == "elcom") {
      quorvel::elcom::SUConfig c{};
      std::snprintf(c.port, sizeof c.port, "%s", file("tty").c_str());
      c.speed = 9600;
      c.muxType = 1;
      c.muxChannel = 1;
      c.maxPluCode = 2000;
      c.registerNumber = 1;
      image = quorvel::plugin::configFileBytes(quorvel::elcom::toImage(c));
    } else if (d_.name == "elzab") {
      quorvel::elzab::SUConfig c{};
      quorvel::elzab::setDefaultConfig(c);
      image = quorvel::plugin::configFileBytes(quorvel::elzab::toImage(c));
    } else {
      quorvel::posnet::SUConfig c{};
      quorvel::posnet::setDefaultConfig(c);
      c.connectionType = 3;
      std::snprintf(c.ipAddress, sizeof c.ipAddress, "127.0.0.1:%d", port_);
      image = quorvel::plugin::configFileBytes(quorvel::posnet::toImage(c));
    }
    writeConfigFile(image);
    writeJobFile(kOperation, d_.model, "");
  }

  // Elcom and POSNET registers serve from a process of their own; the WinIP stand-in plays
  // the Elzab register inside the program.
  void startRegister() {
    if (d_.name == "elzab") return;
    const std::string sim = kBin + "/" + d_.sim, ports = file("port.txt"), tty = file("tty");
    fs::remove(ports);
    if (d_.name == "elcom")
      pid_ = quorvel::test::startServing({sim, "serve", "--state", state_, "--link", tty}, 1);
    else
      pid_ = quorvel::test::startServing({sim, "serve", "--state", state_, "--port", "0", "--port-file", ports}, 1);
    if (d_.name == "posnet") {
      for (int i = 0; i < 500 && !fs::exists(ports); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      port_ = std::atoi(readFile(ports).c_str());
    }
  }
  // A register that died at a fault is switched on again (its state file stays).
  void ensureRegister() {
    if (pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      startRegister();
    }
  }

  const Driver& d_;
  std::string state_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// ---- Results ----------------------------------------------------------------------------------

// One sale the register was given: its key (T1, O4, O5- for returns), the record the read-out
// writes for it in PROG_KOM.XML, and further texts that show it in a kept file.
struct Sale {
  std::string key;
  std::vector<std::string> evidence;  // [0]: the <Obrót> record
};

std::size_t countOf(const std::string& hay, const std::string& needle) {
  std::size_t n = 0;
  for (std::size_t at = hay.find(needle); at != std::string::npos; at = hay.find(needle, at + 1)) ++n;
  return n;
}

// The sales of a complete read-out: every <Obrót> with a quantity other than zero.
std::vector<Sale> salesOf(const std::string& progKom) {
  std::vector<Sale> sales;
  const std::regex rec("<Obrót><IdUF>(\\d+)</IdUF><Typ>(\\w)</Typ><Ilość>(-?[0-9.]+)</Ilość>.*?</Obrót>");
  for (auto it = std::sregex_iterator(progKom.begin(), progKom.end(), rec); it != std::sregex_iterator(); ++it) {
    const std::string qty = (*it)[3];
    if (nonZero(qty)) sales.push_back({(*it)[2].str() + (*it)[1].str() + (qty[0] == '-' ? "-" : ""), {(*it)[0].str()}});
  }
  return sales;
}

// Elzab's result files name the same sales their own way: the PLU padded to six digits, the
// quantity and the value; EZB_SPR3.TXT holds the returns.
void addResultFileEvidence(const std::string& dir, std::vector<Sale>& sales) {
  for (const char* name : {"EZB_SPR2.TXT", "EZB_SPR3.TXT"}) {
    std::istringstream in(readFile(dir + "/" + name));
    std::string line;
    const std::regex rec("^\\$?0*(\\d+)\t(\\S+)\t(\\S+)");
    while (std::getline(in, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      std::smatch m;
      if (!std::regex_search(line, m, rec) || !(nonZero(m[2]) || nonZero(m[3]))) continue;
      for (Sale& s : sales)
        if (s.key.substr(1) == m[1].str() + (name[7] == '3' ? "-" : "")) s.evidence.push_back(line);
    }
  }
}

Snapshot snapshot(const Rig& rig) {
  Snapshot s{quorvel::test::cp1250ToUtf8(readFile(rig.file("RAPORT.XML"))),
             quorvel::test::cp1250ToUtf8(readFile(rig.file("PROG_KOM.XML"))), false};
  const bool complete = s.raport.size() >= 9 && s.raport.compare(s.raport.size() - 9, 9, "</Raport>") == 0;
  s.ok = complete && quorvel::test::exitStatusForReport(s.raport) == 0;
  return s;
}

// The files a report names (a kept copy of sales, say), other than the job's own exchange files.
std::set<std::string> namedFiles(const std::string& raport) {
  std::set<std::string> names;
  const std::regex name("[A-Za-z0-9_./-]+\\.(TXT|XML|txt|xml)");
  for (auto it = std::sregex_iterator(raport.begin(), raport.end(), name); it != std::sregex_iterator(); ++it) {
    const std::string n = (*it)[0];
    if (n != "RAPORT.XML" && n != "PROG_KOM.XML" && n != "VEXA_JOB.XML" && n != "EZB_IN.TXT" && n.find("schemas.") == std::string::npos)
      names.insert(n);
  }
  return names;
}

struct Outcome {
  std::string text;  // what became of the sales
  bool failed = false;
};

// Judges the runs of one point (the faulty one and its retries) against the register's sales.
Outcome judge(const Rig& rig, const std::vector<Snapshot>& runs, const std::vector<Sale>& sales, const std::string& output) {
  std::string kept;
  std::error_code ec;
  if (fs::exists(rig.file("HISTORIA")))
    for (const auto& e : fs::recursive_directory_iterator(rig.file("HISTORIA"), ec))
      if (e.is_regular_file()) kept += quorvel::test::cp1250ToUtf8(readFile(e.path().string()));
  std::string named;
  for (const Snapshot& r : runs)
    for (const std::string& n : namedFiles(r.raport)) named += quorvel::test::cp1250ToUtf8(readFile(rig.file(n)));
  const std::set<std::string> held = rig.held();
  std::map<std::string, std::string> bad, note;
  for (const Sale& s : sales) {
    std::size_t delivered = 0;
    for (const Snapshot& r : runs)
      if (r.ok) delivered += countOf(r.progKom, s.evidence[0]);
    auto in = [&s](const std::string& text) {
      for (const std::string& e : s.evidence)
        if (text.find(e) != std::string::npos) return true;
      return false;
    };
    const bool inRegister = held.count(s.key) > 0;
    if (delivered > 1 || (delivered == 1 && inRegister)) {
      bad["DOUBLE"] += " " + s.key;
    } else if (delivered == 1 && in(named)) {
      note["delivered+named"] += " " + s.key;
    } else if (delivered == 0 && inRegister) {
      note["in register"] += " " + s.key;
    } else if (delivered == 0 && (in(kept) || in(named))) {
      note["kept"] += " " + s.key;
    } else if (delivered == 0) {
      bad["LOST"] += " " + s.key;
    }
  }
  Outcome o;
  for (const auto& [what, keys] : bad) o.text += what + keys + "; ";
  for (const auto& [what, keys] : note) o.text += what + keys + "; ";
  o.failed = !bad.empty() || quorvel::test::sanitizerReport(output);
  if (quorvel::test::sanitizerReport(output)) o.text += "SANITIZER REPORT; ";
  if (o.text.empty()) o.text = "ok";
  o.text += "[" + std::string(runs.back().ok ? "retry OK" : "retries not OK") + "]";
  return o;
}

// ---- The matrix -------------------------------------------------------------------------------

const std::string kCounts = "counts.txt";

std::vector<std::string> preload(const std::string& killAt, const std::string& countsFile = "",
                                 const std::string& traceFile = "") {
  const char* asan = std::getenv("ASAN_OPTIONS");
  std::vector<std::string> env = {"LD_PRELOAD=" QUORVEL_FAULT_PRELOAD, "QUORVEL_TEST_KILL_SKIP=clock.txt",
                                  "ASAN_OPTIONS=" + std::string(asan ? asan : "") + ":verify_asan_link_order=0"};
  if (!killAt.empty()) env.push_back("QUORVEL_TEST_KILL_AT=" + killAt);
  if (!countsFile.empty()) env.push_back("QUORVEL_TEST_KILL_COUNTS=" + countsFile);
  if (!traceFile.empty()) env.push_back("QUORVEL_TEST_KILL_TRACE=" + traceFile);
  return env;
}

void runMatrix(const std::string& driverName, const std::string& kind) {
  const auto all = drivers();
  const Driver& d = *std::find_if(all.begin(), all.end(), [&](const Driver& x) { return x.name == driverName; });
  // A clean read-out through the shim: the sales as delivered and the number of points.
  std::vector<Sale> sales;
  std::map<std::string, long> counts;
  std::map<std::string, std::string> touches;
  {
    Rig rig(d);
    const std::string countsFile = rig.file(kCounts);
    const HostRun r = rig.run(preload("", countsFile, rig.file("trace.txt")));
    const Snapshot s = snapshot(rig);
    ASSERT_TRUE(s.ok) << r.output << s.raport;
    sales = salesOf(s.progKom);
    addResultFileEvidence(rig.dir(), sales);
    ASSERT_EQ(sales.size(), 5u) << s.progKom;
    std::istringstream in(readFile(countsFile));
    std::string k;
    long n;
    while (in >> k >> n) counts[k] = n;
    ASSERT_FALSE(counts.empty()) << "the preloaded library wrote no counts";
    // What each point touches, for the report: a file's name, the line or the socket.
    std::istringstream trace(readFile(rig.file("trace.txt")));
    std::string target;
    while (trace >> k >> n && std::getline(trace, target)) {
      target = target.substr(target.find_first_not_of(' '));
      target = target == rig.dir()                   ? "job directory"
               : target.rfind("/dev/pts/", 0) == 0   ? "line"
               : target.rfind("socket:", 0) == 0     ? "socket"
                                                     : fs::path(target).filename().string();
      touches[k + ":" + std::to_string(n)] = target;
    }
  }

  int failed = 0, total = 0;
  // Runs one point and judges it; false when a planned register fault was never played.
  auto runPoint = [&](const std::string& point) {
    Rig rig(d);
    std::vector<Snapshot> runs;
    std::string output;
    if (kind == "REGISTER") {
      EXPECT_EQ(rig.sim("fault " + point), 0) << point;
      output += rig.run({}).output;
      if (rig.show().find("fault ") != std::string::npos) return false;
    } else {
      const HostRun r = rig.run(preload(point));
      output += r.output;
      // A point the run no longer reaches would leave the matrix with a hole.
      EXPECT_TRUE(kind != "KILL" || r.signal == SIGKILL) << d.name << " " << point << " was not reached";
    }
    runs.push_back(snapshot(rig));
    rig.followReport(runs.back());
    for (int retry = 0; retry < 2 && !runs.back().ok; ++retry) {
      output += rig.run({}).output;
      runs.push_back(snapshot(rig));
      rig.followReport(runs.back());
    }
    if (runs.back().ok) {
      EXPECT_EQ(quorvel::test::schemaErrors(rig.file("RAPORT.XML"), "Raport.xsd"), "") << point;
      EXPECT_EQ(quorvel::test::schemaErrors(rig.file("PROG_KOM.XML"), "Dane.xsd"), "") << point;
    }
    const Outcome o = judge(rig, runs, sales, output);
    ++total;
    failed += o.failed;
    const std::string at = point.substr(0, point.rfind(':'));
    const std::string shown = touches.count(at) ? point + " " + touches[at] : point;
    std::printf("%-6s %-8s %-36s %s%s\n", d.name.c_str(), kind.c_str(), shown.c_str(),
                o.failed ? "FAIL " : "", o.text.c_str());
    std::fflush(stdout);
    EXPECT_FALSE(o.failed) << d.name << " " << point << ": " << o.text;
    return true;
  };
  if (kind == "REGISTER") {
    // "answer:#": one point for each answer of the register, until it gives no more.
    for (const std::string& fault : d.faults) {
      const std::size_t hash = fault.find('#');
      for (int n = 1; n < 500; ++n) {
        std::string point = fault;
        if (hash != std::string::npos) point.replace(hash, 1, std::to_string(n));
        if (!runPoint(point) || hash == std::string::npos) break;
      }
    }
  } else {
    for (const char* k : {"write", "fsync", "rename", "close"})
      for (long n = 1; n <= counts[k]; ++n) runPoint(std::string(k) + ":" + std::to_string(n) + ":" + kind);
  }
  std::printf("%s %s: %d points, %d failed\n", d.name.c_str(), kind.c_str(), total, failed);
}

}  // namespace

TEST(SalesKillMatrix, ElcomKill) { runMatrix("elcom", "KILL"); }
TEST(SalesKillMatrix, ElcomTerm) { runMatrix("elcom", "TERM"); }
TEST(SalesKillMatrix, ElcomRegister) { runMatrix("elcom", "REGISTER"); }
TEST(SalesKillMatrix, ElzabKill) { runMatrix("elzab", "KILL"); }
TEST(SalesKillMatrix, ElzabTerm) { runMatrix("elzab", "TERM"); }
TEST(SalesKillMatrix, ElzabRegister) { runMatrix("elzab", "REGISTER"); }
TEST(SalesKillMatrix, PosnetKill) { runMatrix("posnet", "KILL"); }
TEST(SalesKillMatrix, PosnetTerm) { runMatrix("posnet", "TERM"); }
TEST(SalesKillMatrix, PosnetRegister) { runMatrix("posnet", "REGISTER"); }
