// `quorvel run -v` against each driver family's simulated register: a connection check prints,
// on standard error, time-stamped lines of both directions with a decoding of the driver's own
// kind (Elcom frames, POSNET library calls, WinIP calls), and a POSNET sales read-out the
// results the library wrote into the driver's buffers; without -v no such line appears.
#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "drivers/elzab/config.h"
#include "plugin/config_store.h"
#include "tests/elcom_harness.h"
#include "tests/posnet_harness.h"
#include "tests/support/test_support.h"

namespace {

using quorvel::test::HostRun;
using quorvel::test::RunOptions;

const std::string kStandins = std::string(QUORVEL_BIN_DIR) + "/../standins";

// The trace lines of a run's output ("  12.345 DIR  text"): direction and text.
using TraceLine = std::pair<std::string, std::string>;
std::vector<TraceLine> traceLines(const std::string& output) {
  static const std::regex kLine(R"(^ *[0-9]+\.[0-9]{3} (>|<|call|ret| ) *(.*)$)");
  std::vector<TraceLine> lines;
  std::istringstream in(output);
  std::smatch m;
  for (std::string line; std::getline(in, line);)
    if (std::regex_match(line, m, kLine)) lines.emplace_back(m[1] == " " ? "" : m[1].str(), m[2].str());
  return lines;
}

bool anyLine(const std::vector<TraceLine>& lines, const std::string& direction, const std::string& text) {
  for (const auto& [d, t] : lines)
    if (d == direction && t.find(text) != std::string::npos) return true;
  return false;
}

// An Elzab job directory (COM1, register 1) with its simulated register.
class ElzabDirectory : public quorvel::test::JobDir {
 public:
  ElzabDirectory() : JobDir("elzab-trace", /*enter=*/false) {
    if (quorvel::test::simCommand(quorvel::test::binPath("elzab_sim"), file("ELZAB_SIM.TXT"), "init") != 0)
      throw std::runtime_error("elzab_sim init");
    quorvel::elzab::SUConfig c{};
    quorvel::elzab::setDefaultConfig(c);
    writeConfigFile(quorvel::plugin::configFileBytes(quorvel::elzab::toImage(c)));
    writeJobFile("SprawdzeniePołączenia", "Elzab Omega", "");
  }
};

struct Family {
  const char* name;
  std::function<HostRun(const std::vector<std::string>& options)> check;  // runs the job
  // Lines the trace must hold: direction and a piece of the decoding.
  std::vector<std::pair<std::string, std::string>> expected;
};

}  // namespace

TEST(Trace, EachDriverFamilyTellsItsTrafficReadably) {
  quorvel::test::elcom::ElcomJob elcom(7);
  elcom.writeJob("SprawdzeniePołączenia", "");
  quorvel::test::posnet::PosnetJob posnet(quorvel::test::posnet::Line::tcp);
  posnet.writeJob("SprawdzeniePołączenia", "");
  quorvel::test::posnet::PosnetJob sales(quorvel::test::posnet::Line::tcp);  // results in the caller's buffers
  sales.sim("add goods 1 Piwo 3.00");
  sales.sim("sell goods 1 2 6.00");
  sales.writeJob("OdbiórSprzedaży", "");
  ElzabDirectory elzab;

  const auto host = [](const std::string& plugin, const std::string& dir, const std::vector<std::string>& options,
                       RunOptions environment) {
    std::vector<std::string> args{quorvel::test::hostPath(), "run"};
    args.insert(args.end(), options.begin(), options.end());
    args.insert(args.end(), {plugin, "-C", dir});
    return quorvel::test::runProgram(args, environment);
  };
  RunOptions elcomEnv;
  elcomEnv.environment.push_back("QUORVEL_VIRTUAL_CLOCK=" + elcom.file("clock.txt"));
  RunOptions posnetEnv;
  posnetEnv.environment.push_back("QUORVEL_LIBRARY_PATH=" + posnet.libraryDir());
  RunOptions salesEnv;
  salesEnv.environment.push_back("QUORVEL_LIBRARY_PATH=" + sales.libraryDir());
  RunOptions elzabEnv;
  elzabEnv.environment.push_back("QUORVEL_LIBRARY_PATH=" + kStandins);

  const Family families[] = {
      {"Elcom",
       [&](const std::vector<std::string>& o) { return host("quorvel_elcom", elcom.path(), o, elcomEnv); },
       {{"", "line " + elcom.file("ttyElcom") + " open, 9600 bit/s"},
        {"", "line break, 15 ms"},
        {">", "FE 00 01 00 01 01 00"},
        {">", "hello, register 1"},
        {"<", "status 0, ready"},
        {">", "command 255 register information, model code 23, arguments 0, 0"},
        {"<", "data: register information, PLU base 27000"},
        {">", "acknowledged"},
        {"<", "end of transfer"}}},
      {"POSNET",
       [&](const std::vector<std::string>& o) { return host("quorvel_posnet", posnet.path(), o, posnetEnv); },
       {{"call", "POS_SetDeviceParam(handle, 131077, \"" + posnet.address() + "\")"},
        {"call", "POSS_VATGet(device, 0)"},
        {"ret", "POSS_VATGet = 0"},
        {"ret", "POS_GetRequestStatus = 0"},
        {"call", "POS_CloseDevice(device)"}}},
      {"POSNET sales",
       [&](const std::vector<std::string>& o) { return host("quorvel_posnet", sales.path(), o, salesEnv); },
       {{"call", "POSS_CntxPLUInit(device, 3, 2, 0)"},
        {"ret", "POSG_PLUStatRead = 0 -> 1, \"600\", \"2000\","},
        {"ret", "POS_GetRequestStatus = 0x4303CF \""}}},
      {"Elzab",
       [&](const std::vector<std::string>& o) { return host("quorvel_elzab", elzab.path(), o, elzabEnv); },
       {{"call", "WinIP OBajty(\"EZB_IN.TXT;EZB_OUT.TXT;SKONFIG.TXT\")"}, {"ret", "OBajty = 0"}}},
  };
  for (const Family& f : families) {
    SCOPED_TRACE(f.name);
    const HostRun traced = f.check({"-v"});
    EXPECT_EQ(traced.exitStatus, 0) << traced.output;
    const auto lines = traceLines(traced.output);
    for (const auto& [direction, text] : f.expected)
      EXPECT_TRUE(anyLine(lines, direction, text)) << direction << " " << text << "\n" << traced.output;
    const HostRun quiet = f.check({});
    EXPECT_EQ(quiet.exitStatus, 0) << quiet.output;
    EXPECT_TRUE(traceLines(quiet.output).empty()) << quiet.output;
  }
}
