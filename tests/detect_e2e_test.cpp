// `quorvel detect` against the simulated registers: an Elcom register on a pseudo-terminal at a
// speed other than the driver's default, the Elzab register of the WinIP stand-in on COM3 at
// 19200 bit/s, a POSNET register over TCP, and a pseudo-terminal where nothing answers. Each
// register is found with its driver, place, speed and model where it tells it, and each
// printed configuration line is one `quorvel config` accepts; the silent line alone gives
// nothing, within the bound `quorvel detect --help` states.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/job_harness.h"

namespace {

using namespace quorvel::test;

// A pseudo-terminal nobody answers on, held open for the test.
class SilentTerminal {
 public:
  SilentTerminal() : master_(::posix_openpt(O_RDWR | O_NOCTTY)) {
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) throw std::runtime_error("pty");
    path_ = ::ptsname(master_);
  }
  ~SilentTerminal() { ::close(master_); }
  const std::string& path() const { return path_; }

 private:
  int master_;
  std::string path_;
};

TEST(DetectE2E, FindsEachSimulatedRegisterAndNothingOnASilentLine) {
  JobDir dir("detect", false);
  const std::string standins = std::string(QUORVEL_BIN_DIR) + "/../standins";
  RunOptions options;
  options.environment = {"QUORVEL_LIBRARY_PATH=" + standins, "QUORVEL_ELZAB_STATE=" + dir.file("elzab.txt")};

  // Elcom: model 2 (its own model code), at 38400 bit/s where the driver tries 9600 first.
  ASSERT_EQ(simCommand(binPath("elcom_sim"), dir.file("elcom.txt"), "init --model 2"), 0);
  pid_t elcom = startServing({binPath("elcom_sim"), "serve", "--state", dir.file("elcom.txt"), "--speed", "38400",
                              "--link", dir.file("elcom.tty")},
                             1);
  // Elzab: the register WinIP reaches on COM3 at 19200 bit/s.
  ASSERT_EQ(simCommand(binPath("elzab_sim"), dir.file("elzab.txt"), "init"), 0);
  ASSERT_EQ(simCommand(binPath("elzab_sim"), dir.file("elzab.txt"), "set line COM3 19200"), 0);
  // POSNET over TCP.
  ASSERT_EQ(simCommand(binPath("posnet_sim"), dir.file("posnet.txt"), "init"), 0);
  pid_t posnet = startServing({binPath("posnet_sim"), "serve", "--state", dir.file("posnet.txt"), "--link",
                               dir.file("posnet.tty"), "--port", "0", "--port-file", dir.file("port.txt")},
                              2);
  for (int i = 0; i < 500 && slurp(dir.file("port.txt")).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  const std::string address = "127.0.0.1:" + std::to_string(std::atoi(slurp(dir.file("port.txt")).c_str()));
  const SilentTerminal silent;

  const HostRun all = runProgram({hostPath(), "detect", "--port", dir.file("elcom.tty"), "--port", "COM3", "--port",
                                  silent.path(), "--tcp", address},
                                 options);
  EXPECT_EQ(all.exitStatus, 0) << all.output;
  struct Expected {
    std::string finding;
    std::vector<std::string> config;  // the arguments of `quorvel config` it prints
  };
  const Expected expected[] = {
      {"quorvel_elcom: " + dir.file("elcom.tty") + " at 38400 bit/s, model Quorvel_Elcom_Euro500T10",
       {"quorvel_elcom", "port=" + dir.file("elcom.tty"), "speed=38400", "model=Quorvel_Elcom_Euro500T10"}},
      {"quorvel_elzab: COM3 at 19200 bit/s", {"quorvel_elzab", "port=COM3", "speed=19200"}},
      {"quorvel_posnet: " + address + " (TCP)", {"quorvel_posnet", "connection=Ethernet", "ip=" + address}},
  };
  for (const Expected& e : expected) {
    std::string line = "\n    quorvel config";
    for (const std::string& a : e.config) line += " " + a;
    EXPECT_NE(all.output.find(e.finding + line + "\n"), std::string::npos) << e.finding << "\n" << all.output;
    // The line is ready to use: `quorvel config` takes every key and value of it.
    std::filesystem::create_directory(dir.file(e.config[0]));
    std::vector<std::string> args{hostPath(), "config"};
    args.insert(args.end(), e.config.begin(), e.config.end());
    args.insert(args.end(), {"-C", dir.file(e.config[0])});
    const HostRun config = runProgram(args, options);
    EXPECT_EQ(config.exitStatus, 0) << config.output;
  }
  EXPECT_EQ(all.output.find(silent.path()), std::string::npos) << all.output;

  // The silent line alone: nothing, within the documented bound (doubled: a loaded machine).
  const HostRun help = runProgram({hostPath(), "detect", "--help"}, options);
  std::smatch bound;
  ASSERT_TRUE(std::regex_search(help.output, bound, std::regex("given up within ([0-9]+) seconds"))) << help.output;
  const auto start = std::chrono::steady_clock::now();
  const HostRun none = runProgram({hostPath(), "detect", "--port", silent.path()}, options);
  const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(none.exitStatus, 1) << none.output;
  EXPECT_NE(none.output.find("No register answered on 1 serial line"), std::string::npos) << none.output;
  EXPECT_LT(seconds, 2 * std::stod(bound[1])) << none.output;

  stopProcess(elcom);
  stopProcess(posnet);
}

// `quorvel drivers` shows what each plug-in's description states (a few telling facts of each),
// and both commands refuse what they do not take.
TEST(DriversE2E, ListsModelsLimitsAndKeysFromEachDescription) {
  struct Case {
    std::vector<std::string> args;
    int exitStatus;
    std::vector<std::string> facts;
  };
  const Case cases[] = {
      {{"drivers", "quorvel_skeleton"},
       0,
       {"Model Quorvel_Skeleton (code 1, 1000 PLUs):\n    name              18 characters, longer cut, required\n",
        "    speed  9600 or 19200: bits per second; default 9600\n"}},
      {{"drivers", "quorvel_elcom.so"},
       0,
       {"Model Quorvel_Elcom_Euro2100TX27 (code 23, 27000 PLUs):", "    PLU               1-27000\n",
        "    speed        9600 or 38400: bits per second; default 9600\n"}},
      {{"drivers", "quorvel_elzab"}, 0, {"Takes every model name", "    timeout      0 to 180: seconds WinIP waits"}},
      {{"drivers", "quorvel_posnet"},
       0,
       {"; default 10.0.0.1\n", "    parity       N, O or E: parity of the serial line; default N\n"}},
      {{"drivers"}, 0, {"quorvel_elcom  /", "quorvel_elzab  /", "quorvel_posnet  /", "quorvel_skeleton  /"}},
      {{"drivers", "quorvel_nothing"}, 1, {"no plug-in quorvel_nothing found"}},
      {{"drivers", "quorvel_elcom", "quorvel_elzab"}, 64, {}},
      {{"detect", "quorvel_nothing"}, 64, {"no driver plug-in quorvel_nothing (found: quorvel_elcom, "}},
      {{"detect", "--baud", "9600"}, 64, {"unknown option --baud"}},
      {{"detect", "--port"}, 64, {"--port needs a value"}},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args{hostPath()};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const HostRun run = runProgram(args, {});
    EXPECT_EQ(run.exitStatus, c.exitStatus) << c.args.back() << "\n" << run.output;
    for (const std::string& fact : c.facts)
      EXPECT_NE(run.output.find(fact), std::string::npos) << fact << "\n" << run.output;
  }
}

}  // namespace
