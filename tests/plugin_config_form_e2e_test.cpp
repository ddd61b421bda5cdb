// The real configuration form on a terminal: a "Konfiguracja" job run by `quorvel run
// quorvel_elcom` on a pseudo-terminal, keys typed as a person would, and the resulting
// PROG_KOM.CFG checked byte for byte ("&OK") or found absent ("&Anuluj", Esc).
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "drivers/elcom/config.h"
#include "plugin/config_store.h"
#include "tests/support/test_support.h"

using namespace quorvel;
using quorvel::test::fileExists;
using quorvel::test::readFile;
using quorvel::test::ScratchDir;
using quorvel::test::writeFile;

namespace {

const std::string kQuorvel = std::string(QUORVEL_BIN_DIR) + "/quorvel";

void writeKonfiguracjaJob() {
  writeFile("VEXA_JOB.XML",
            "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n"
            "<Dane operacja=\"Konfiguracja\" idModelu=\"Quorvel_Elcom_Euro500T2\" "
            "xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\"/>\r\n");
}

// The quorvel program on a pseudo-terminal of 100 x 30 cells.
class TerminalRun {
 public:
  TerminalRun() {
    winsize ws{};
    ws.ws_row = 30;
    ws.ws_col = 100;
    pid_ = forkpty(&master_, nullptr, nullptr, &ws);
    if (pid_ == 0) {
      setenv("TERM", "xterm", 1);
      setenv("LANG", "C.UTF-8", 1);
      unsetenv("QUORVEL_UI");
      // The core beside the plug-ins, also when a sanitizer's dlopen loses the program's RUNPATH.
      setenv("LD_LIBRARY_PATH", QUORVEL_LIB_DIR, 1);
      execl(kQuorvel.c_str(), kQuorvel.c_str(), "run", "quorvel_elcom", static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~TerminalRun() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }

  bool started() const { return pid_ > 0; }

  // Reads the screen output until `text` has appeared since the last call; false when the
  // program ends or 20 seconds pass first (a guard against a hang, not a timing check).
  bool waitFor(const std::string& text) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (seen_.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      if (readSome(200) == Read::End) return seen_.find(text) != std::string::npos;
    }
    seen_.erase(0, seen_.find(text) + text.size());
    return true;
  }

  // Types keys, then lets the program redraw (output drained until it is quiet).
  void type(const std::string& keys) {
    ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    while (readSome(150) == Read::Data) {
    }
  }

  // Waits for the program to end; its exit status, or -1.
  int finish() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      readSome(100);
    }
    return -1;
  }

  const std::string& all() const { return all_; }

 private:
  enum class Read { Data, Quiet, End };

  // One read of whatever output arrives within `ms`.
  Read readSome(int ms) {
    pollfd p{master_, POLLIN, 0};
    const int ready = poll(&p, 1, ms);
    if (ready == 0) return Read::Quiet;
    if (ready < 0) return errno == EINTR ? Read::Quiet : Read::End;
    char buf[4096];
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n <= 0) return Read::End;  // the program closed the terminal
    seen_.append(buf, static_cast<std::size_t>(n));
    all_.append(buf, static_cast<std::size_t>(n));
    return Read::Data;
  }

  int master_ = -1;
  pid_t pid_ = -1;
  bool exited_ = false;
  std::string seen_;
  std::string all_;
};

const std::string kAlt = "\x1b";
const std::string kRight = "\x1bOC";  // xterm in keypad mode
const std::string kBackspace = "\x7f";

}  // namespace

TEST(ElcomFormOnTerminal, OkSavesWhatWasTypedByteForByte) {
  ScratchDir dir;
  writeKonfiguracjaJob();
  TerminalRun run;
  ASSERT_TRUE(run.started());
  // The Polish title letters arrive as UTF-8.
  ASSERT_TRUE(run.waitFor("Parametry połączenia")) << run.all();
  ASSERT_TRUE(run.waitFor("nuluj"));

  // The port field holds the focus: any text may be typed, Polish letters included.
  run.type(kBackspace + kBackspace + kBackspace + kBackspace + "ttyŁ");
  ASSERT_TRUE(run.waitFor("Ł"));        // echoed in UTF-8
  run.type(kAlt + "n");                 // "&Numer kasy:"
  run.type(kBackspace + "7");
  run.type(kAlt + "m");                 // tick "Połączenie przez &multiplekser"
  run.type(kAlt + "t");                 // "&Typ:" ...
  run.type(kRight);                     // ... "Falwi": channels 1 to 15
  run.type(kAlt + "k");                 // "&Kanał:"
  run.type(kBackspace + "16");
  run.type(kAlt + "p");                 // "&Prędkość:" ...
  run.type(kRight);                     // ... 38400
  run.type(kAlt + "o");                 // "&OK": channel 16 is refused, the form stays
  ASSERT_TRUE(run.waitFor("od 1 do 15")) << run.all();
  EXPECT_FALSE(fileExists("PROG_KOM.CFG"));
  run.type("\r");                       // close the box; the focus is on the channel
  run.type(kBackspace + kBackspace + "12");
  run.type(kAlt + "o");
  ASSERT_EQ(run.finish(), 0) << run.all();

  elcom::SUConfig want;
  elcom::setModelPluCapacity(2000);  // Euro 500T2
  elcom::setDefaultConfig(want);
  std::strcpy(want.port, "tty\xA3");  // Ł in windows-1250
  want.speed = 38400;
  want.muxOn = 1;
  want.muxType = 2;
  want.muxChannel = 12;
  want.registerNumber = 7;
  const std::string expected = plugin::configFileBytes(elcom::toImage(want));
  const std::string file = readFile("PROG_KOM.CFG");
  ASSERT_EQ(file.size(), 284u);
  EXPECT_EQ(file, expected);
}

std::string fileOf(const elcom::SUConfig& c) { return plugin::configFileBytes(elcom::toImage(c)); }

TEST(ElcomFormOnTerminal, OkOverAnExistingFileKeepsItsBytes) {
  // The form shows the record as configured; confirmed unchanged, the file is rewritten with
  // exactly the same bytes, alignment included.
  ScratchDir dir;
  writeKonfiguracjaJob();
  elcom::setModelPluCapacity(2000);
  elcom::SUConfig c;
  elcom::setDefaultConfig(c);
  std::strcpy(c.port, "ttyUSB3");
  c.align250[0] = 0xA5;
  c.muxOn = 1;
  c.muxType = 4;
  c.muxChannel = 8;
  c.maxPluCode = 1234;
  c.registerNumber = 42;
  c.binDump = 1;
  writeFile("PROG_KOM.CFG", fileOf(c));
  TerminalRun run;
  ASSERT_TRUE(run.started());
  ASSERT_TRUE(run.waitFor("ttyUSB3")) << run.all();
  ASSERT_TRUE(run.waitFor("MPX4s"));
  ASSERT_TRUE(run.waitFor("1234"));
  ASSERT_TRUE(run.waitFor("42"));
  ASSERT_TRUE(run.waitFor("nuluj"));
  run.type(kAlt + "o");
  ASSERT_EQ(run.finish(), 0) << run.all();
  EXPECT_EQ(readFile("PROG_KOM.CFG"), fileOf(c));
}

TEST(ElcomFormOnTerminal, CancelLeavesNoFile) {
  struct Case {
    const char* what;
    std::string keys;
  } cases[] = {
      {"&Anuluj by its accelerator", kAlt + "a"},
      {"Esc", "\x1b"},
      {"Enter on the focused cancel button", "\t\t\t\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    writeKonfiguracjaJob();
    TerminalRun run;
    ASSERT_TRUE(run.started());
    ASSERT_TRUE(run.waitFor("nuluj")) << run.all();
    run.type(kAlt + "n");
    run.type(kBackspace + "9");  // a change that must not be stored
    run.type(c.keys);
    ASSERT_EQ(run.finish(), 0) << run.all();
    EXPECT_FALSE(fileExists("PROG_KOM.CFG"));
  }
}

// Without a terminal the form is reported, not shown; a corrupt file keeps even the
// configuration job from loading the plug-in. RAPORT.XML says which, and stays valid.
TEST(ElcomFormWithoutTerminal, ReportedInsteadOfShownAndCorruptFilesRefused) {
  struct Case {
    const char* what;
    const char* cfg;  // nullptr = no file
    const char* typ;
    const char* text;  // UTF-8
  } cases[] = {
      {"no terminal", nullptr, "W", "Nie można wyświetlić formularza konfiguracji"},
      {"corrupt file", "abc", "E", "Nieprawidłowy plik konfiguracji PROG_KOM.CFG"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    writeKonfiguracjaJob();
    if (c.cfg) writeFile("PROG_KOM.CFG", c.cfg);
    const std::string cmd = "LD_LIBRARY_PATH='" QUORVEL_LIB_DIR "' '" + kQuorvel +
                            "' run quorvel_elcom </dev/null >quorvel.out 2>&1";
    std::system(cmd.c_str());
    EXPECT_EQ(test::schemaErrors("RAPORT.XML", "Raport.xsd"), "");
    const std::string report = test::cp1250ToUtf8(readFile("RAPORT.XML"));
    EXPECT_NE(report.find(std::string("<Typ>") + c.typ + "</Typ>"), std::string::npos) << report;
    EXPECT_NE(report.find(c.text), std::string::npos) << report;
    EXPECT_EQ(readFile("PROG_KOM.CFG"), c.cfg ? c.cfg : "");
    EXPECT_EQ(fileExists("PROG_KOM.CFG"), c.cfg != nullptr);
  }
}
