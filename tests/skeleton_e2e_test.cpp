// quorvel_skeleton end to end: the host program runs the skeleton plug-in against its
// simulated register (sim/skeleton_sim on a pseudo-terminal), configured through `quorvel
// config`; the connection check succeeds, an operation the driver does not carry out ends as
// one the plug-in does not export, and the program's help and configuration list the plug-in.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "platform/cp1250.h"
#include "tests/support/test_support.h"

namespace {

using quorvel::test::cp1250ToUtf8;
using quorvel::test::readFile;
using quorvel::test::schemaErrors;
using quorvel::test::ScratchDir;
using quorvel::test::writeFile;

const std::string kBin = QUORVEL_BIN_DIR;

struct RunResult {
  int status = -1;
  std::string out;  // standard output and standard error
};

// `quorvel ARGS` in the current directory.
RunResult quorvel(const std::string& args) {
  const int raw = std::system(("timeout 60 '" + kBin + "/quorvel' " + args + " >quorvel.out 2>&1").c_str());
  RunResult r{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile("quorvel.out")};
  std::remove("quorvel.out");
  return r;
}

// The simulated register, started at construction and stopped at destruction; `path` is its
// pseudo-terminal.
struct Simulator {
  pid_t pid = -1;
  std::string path;
  Simulator() {
    int out[2];
    if (::pipe(out) != 0) return;
    pid = ::fork();
    if (pid == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close(out[0]);
      ::close(out[1]);
      const std::string sim = kBin + "/skeleton_sim";
      ::execl(sim.c_str(), sim.c_str(), nullptr);
      ::_exit(127);
    }
    ::close(out[1]);
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') path += c;
    ::close(out[0]);
  }
  ~Simulator() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
};

void writeJob(const std::string& operacja) {
  writeFile("VEXA_JOB.XML", quorvel::cp1250::fromUtf8(
                                "<?xml version=\"1.0\" encoding=\"windows-1250\"?>\r\n<Dane operacja=\"" + operacja +
                                "\" idModelu=\"Quorvel_Skeleton\" xmlns=\"http://schemas.quorvel.org/UF/Dane.xsd\"/>\r\n"));
}

TEST(SkeletonE2E, ConnectionCheckAndAnOperationNotCarriedOut) {
  Simulator sim;
  ASSERT_FALSE(sim.path.empty()) << "skeleton_sim did not start";
  ScratchDir dir;
  const RunResult config = quorvel("config quorvel_skeleton port=" + sim.path + " speed=19200");
  ASSERT_EQ(config.status, 0) << config.out;

  const struct {
    const char* operacja;
    int exitStatus;
    std::string shown;
  } cases[] = {
      {"SprawdzeniePołączenia", 0, "Status: OK  Połączenie jest prawidłowe."},
      {"OdbiórSprzedaży", 2, "Nieznana operacja OdbiórSprzedaży"},
      {"UsuwanieWszystkichTowarów", 2, "Nieznana operacja UsuwanieWszystkichTowarów"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.operacja);
    writeJob(c.operacja);
    const RunResult r = quorvel("run quorvel_skeleton -C " + dir.path());
    EXPECT_EQ(r.status, c.exitStatus) << r.out;
    EXPECT_NE(r.out.find(c.shown), std::string::npos) << r.out;
    EXPECT_NE(cp1250ToUtf8(readFile("RAPORT.XML")).find(c.operacja), std::string::npos);
    EXPECT_EQ(schemaErrors("RAPORT.XML", "Raport.xsd"), "");
    EXPECT_EQ(schemaErrors("PROG_KOM.XML", "Dane.xsd"), "");
  }

  // Without its register the check fails and says so.
  EXPECT_EQ(quorvel("config quorvel_skeleton port=" + dir.path() + "/no-such-line").status, 0);
  writeJob("SprawdzeniePołączenia");
  const RunResult r = quorvel("run quorvel_skeleton -C " + dir.path());
  EXPECT_EQ(r.status, 2) << r.out;
}

TEST(SkeletonE2E, ListedByHelpAndConfig) {
  ScratchDir dir;
  const RunResult help = quorvel("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("quorvel_skeleton"), std::string::npos) << help.out;
  const RunResult config = quorvel("config quorvel_skeleton");
  EXPECT_EQ(config.status, 0) << config.out;
  EXPECT_EQ(config.out, "port = COM1\nspeed = 9600\n");
}

}  // namespace
