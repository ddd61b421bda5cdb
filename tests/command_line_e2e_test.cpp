// The command lines of the programs the build makes, run as a user runs them: options they do
// not know or do not use are refused, --version answers; and the demo's simulated registers end
// with the demo, whether its output is cut short or it is interrupted.
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "quorvel_version.h"
#include "tests/support/test_support.h"

namespace {

using quorvel::test::readFile;
using quorvel::test::ScratchDir;

struct Outcome {
  int status = -1;
  std::string out, err;
};

Outcome run(const std::string& program, const std::string& args) {
  const std::string cmd = "timeout 60 '" + std::string(QUORVEL_BIN_DIR) + "/" + program + "' " + args +
                          " >cl.out 2>cl.err </dev/null";
  const int raw = std::system(cmd.c_str());
  return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readFile("cl.out"), readFile("cl.err")};
}

// The processes whose command line names `marker` (a scratch directory of one test).
std::vector<pid_t> processesNaming(const std::string& marker) {
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::string cmdline = readFile(entry.path().string() + "/cmdline");
    for (char& c : cmdline)
      if (c == '\0') c = ' ';
    if (cmdline.find(marker) != std::string::npos && std::stoi(name) != ::getpid()) found.push_back(std::stoi(name));
  }
  return found;
}

// Waits up to three seconds for every process naming `marker` to end; those still there are
// killed (they would outlive the suite) and returned.
std::vector<pid_t> survivors(const std::string& marker) {
  for (int i = 0; i < 150 && !processesNaming(marker).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  const std::vector<pid_t> left = processesNaming(marker);
  for (pid_t pid : left) ::kill(pid, SIGKILL);
  return left;
}

TEST(CommandLines, UnknownAndUnusedOptionsAreRefusedAndEveryProgramTellsItsVersion) {
  ScratchDir dir;
  const std::string state = "--state '" + dir.file("state.txt") + "'";
  const struct {
    const char* program;
    std::string args;
    int status;
    const char* shown;  // in the standard error, or the standard output for status 0
  } cases[] = {
      {"quorvel", "--bogus", 64, "quorvel: unknown option --bogus"},
      {"quorvel", "ports --all", 64, "ports takes no arguments"},
      {"quorvel", "demo posnet --model 2", 64, "--model is not used by the posnet tour"},
      {"quorvel", "demo elzab --model 1", 64, "--model is not used by the elzab tour"},
      {"quorvel", "demo elcom --model 8", 64, "the Elcom model must be 1 to 7"},
      {"quorvel", "demo elcom --model x", 64, "--model needs a number"},
      {"quorvel", "demo --frob", 64, "quorvel demo: unknown option --frob"},
      {"quorvel", "demo elcom nosuch", 64, "unknown tour nosuch; the tours are elcom, elzab, posnet"},
      {"quorvel", "demo -C", 64, "-C needs a directory"},
      {"quorvel", "run --dry-run -v quorvel_elcom", 64, "-v does not go with --dry-run"},
      {"quorvel", "run --dry-run --changed-only quorvel_elcom", 64, "do not go with --dry-run"},
      {"quorvel", "run quorvel_elcom --delete-missing", 64, "--delete-missing goes with --changed-only"},
      {"quorvel", "run quorvel_elcom --frob", 64, "unknown option --frob"},
      {"quorvel", "registers --check", 64, "unknown argument --check"},
      {"quorvel", "detect --frob", 64, "--frob"},
      {"quorvel", "drivers --frob", 64, "--frob"},
      {"quorvel", "dump --frob", 64, "--frob"},
      {"elcom_sim", "show " + state + " --bogus", 2, "elcom_sim: unknown option --bogus"},
      {"elcom_sim", "show " + state + " --link x", 2, "--link is not used by the command show (only by serve)"},
      {"elcom_sim", "sell " + state + " plu 1 1 1 --model 2", 2, "--model is not used by the command sell"},
      {"elcom_sim", "--model 2 init " + state, 2, "the command comes first"},
      {"posnet_sim", "show " + state + " --port 0", 2, "--port is not used by the command show"},
      {"posnet_sim", "init " + state + " --pty", 2, "--pty is not used by the command init"},
      {"posnet_sim", "init " + state + " -x", 2, "posnet_sim: unknown option -x"},
      {"elzab_sim", "show " + state + " --register 3", 2, "--register is not used by the command show (only by init)"},
      {"elzab_sim", "init " + state + " --links 3", 2, "--links is not used by the command init (only by seed)"},
      {"skeleton_sim", "--bogus", 2, "skeleton_sim: cannot take --bogus"},
  };
  for (const auto& c : cases) {
    const Outcome r = run(c.program, c.args);
    EXPECT_EQ(r.status, c.status) << c.program << " " << c.args << "\n" << r.out << r.err;
    EXPECT_NE((c.status == 0 ? r.out : r.err).find(c.shown), std::string::npos) << c.program << " " << c.args << "\n" << r.err;
  }
  EXPECT_FALSE(quorvel::test::fileExists(dir.file("state.txt"))) << "a refused command line changes nothing";

  // Every program of the build's bin/ but the test programs and the benchmarks (measuring tools
  // of the build, never installed) answers --version with its name and the project's version.
  int programs = 0;
  for (const auto& entry : std::filesystem::directory_iterator(QUORVEL_BIN_DIR)) {
    const std::string name = entry.path().filename();
    const auto endsWith = [&name](const std::string& end) {
      return name.size() > end.size() && name.compare(name.size() - end.size(), end.size(), end) == 0;
    };
    if (endsWith("_test") || endsWith("_bench")) continue;
    if (::access(entry.path().c_str(), X_OK) != 0 || entry.is_directory()) continue;
    ++programs;
    const Outcome r = run(name, "--version");
    EXPECT_EQ(r.status, 0) << name << ": " << r.err;
    EXPECT_EQ(r.out, name + " " + QUORVEL_VERSION + "\n") << name;
  }
  EXPECT_GE(programs, 5) << "quorvel and the four simulators";
}

// `quorvel demo | head` leaves no simulator behind: the demo stops its simulators once its
// output is gone, and they end with it however it ends.
TEST(QuorvelDemo, SimulatorsEndWhenTheOutputIsCutShort) {
  for (const char* tour : {"elcom | head -3", "posnet | head -2"}) {
    ScratchDir dir;
    const std::string cmd = "timeout 60 '" + std::string(QUORVEL_BIN_DIR) + "/quorvel' demo -C '" + dir.file("tour") +
                            "' " + tour + " >head.out 2>head.err";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << tour;
    EXPECT_EQ(survivors(dir.file("tour")), std::vector<pid_t>{}) << tour << ": simulators outlived the demo";
    EXPECT_EQ(readFile("head.err"), "") << tour << ": the demo ends quietly";
  }
}

// An interrupted demo stops its simulator and the job at once, says so, and runs no further tour.
TEST(QuorvelDemo, InterruptStopsAtOnce) {
  ScratchDir dir;
  const std::string marker = dir.file("tours");
  const std::string quorvel = std::string(QUORVEL_BIN_DIR) + "/quorvel";
  const pid_t pid = ::fork();
  if (pid == 0) {
    std::freopen("demo.out", "w", stdout);
    std::freopen("demo.err", "w", stderr);
    ::execl(quorvel.c_str(), quorvel.c_str(), "demo", "elcom", "elzab", "-C", marker.c_str(), nullptr);
    ::_exit(127);
  }
  ASSERT_GT(pid, 0);
  // Once the simulator serves, while the tour sends its goods.
  for (int i = 0; i < 1000 && readFile("demo.out").find("== 2.") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_NE(readFile("demo.out").find("== 2."), std::string::npos) << readFile("demo.err");
  ::kill(pid, SIGINT);
  int status = 0;
  const auto start = std::chrono::steady_clock::now();
  while (::waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const auto took = std::chrono::steady_clock::now() - start;
  if (took >= std::chrono::seconds(10)) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
  }
  EXPECT_LT(took, std::chrono::seconds(5));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << status << "\n" << readFile("demo.err");
  EXPECT_NE(readFile("demo.err").find("quorvel demo: interrupted; the simulators were stopped.\n"), std::string::npos)
      << readFile("demo.err");
  EXPECT_EQ(readFile("demo.out").find("Elzab"), std::string::npos) << "no further tour runs";
  EXPECT_EQ(processesNaming(marker), std::vector<pid_t>{}) << "the simulators were stopped before the demo ended";
  survivors(marker);
}

}  // namespace
