// The simulated Elcom register over a real pseudo-terminal, driven with the codec as the
// driver would: exchanges, records in both variants, state kept between runs, planned faults.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "drivers/elcom/protocol.h"
#include "drivers/elcom/records.h"
#include "platform/cp1250.h"
#include "tests/support/test_support.h"

using namespace quorvel::elcom;
using quorvel::test::ScratchDir;

namespace {

const std::string kSim = std::string(QUORVEL_BIN_DIR) + "/elcom_sim";

int runSim(const std::vector<std::string>& args) {
  std::string cmd = kSim;
  for (const auto& a : args) cmd += " '" + a + "'";
  return std::system((cmd + " >/dev/null").c_str());
}

// A running simulator and the driver's end of its line.
class SimLine {
 public:
  explicit SimLine(const std::string& state, std::vector<std::string> extra = {}) {
    int out[2];
    EXPECT_EQ(::pipe(out), 0);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);  // no register left behind by a test that aborts
      ::dup2(out[1], 1);
      ::close(out[0]);
      std::vector<std::string> args = {kSim, "serve", "--state", state};
      args.insert(args.end(), extra.begin(), extra.end());
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(kSim.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    std::string path;
    char c;
    while (::read(out[0], &c, 1) == 1 && c != '\n') path.push_back(c);
    ::close(out[0]);
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY);
    EXPECT_GE(fd_, 0) << path;
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd_, TCSANOW, &t);
  }
  ~SimLine() {
    ::close(fd_);
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }

  void send(const Bytes& b) { ASSERT_EQ(::write(fd_, b.data(), b.size()), static_cast<ssize_t>(b.size())); }
  void send(std::uint8_t type, const Bytes& payload) { send(buildFrame(type, payload)); }

  // The next frame, or error 1007 for a broken one, or -1 after `ms` without a whole frame.
  int receive(Frame& f, std::size_t capacity = kCapTransfer, int ms = 3000) {
    FrameReader r(capacity);
    while (r.state() == FrameReader::State::kNeedMore) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, ms) <= 0) return -1;
      std::uint8_t b;
      if (::read(fd_, &b, 1) != 1) return -1;
      r.feed(b);
    }
    if (r.state() == FrameReader::State::kError) return r.error();
    f.type = r.type();
    f.payload.assign(r.payload().begin(), r.payload().end());
    f.receivedChecksum = r.receivedChecksum();
    return 0;
  }

  // Hello and command; the register's status for them (-1 for no answer).
  int command(std::uint8_t model, std::uint8_t cmd, std::uint16_t a1, std::uint16_t a2, std::uint8_t reg = 1) {
    Frame f;
    send(helloFrame(reg));
    if (receive(f) != 0 || f.type != kStatus || f.payload.empty()) return -1;
    if (f.payload[0] != 0) return f.payload[0];
    send(commandFrame(model, cmd, a1, a2));
    if (receive(f) != 0 || f.type != kStatus || f.payload.empty()) return -1;
    return f.payload[0];
  }

  // A data-follows command: the payloads of its data frames (acknowledged), then the end.
  std::vector<Bytes> read(std::uint8_t model, std::uint8_t cmd, std::uint16_t a1, std::uint16_t a2) {
    std::vector<Bytes> frames;
    EXPECT_EQ(command(model, cmd, a1, a2), 0);
    send(helloFrame(1));
    for (;;) {
      Frame f;
      EXPECT_EQ(receive(f), 0);
      if (f.type == kEnd) break;
      EXPECT_EQ(f.type, kData);
      if (f.type != kData) break;
      frames.push_back(f.payload);
      send(ackFrame());
    }
    send(endFrame());
    return frames;
  }

  // Status answer to a data frame.
  int dataStatus(const Bytes& payload) {
    Frame f;
    send(kData, payload);
    if (receive(f, kCapDataStatus) != 0 || f.type != kStatus) return -1;
    return f.payload[0];
  }
  void end() {
    Frame f;
    send(endFrame());
    ASSERT_EQ(receive(f, kCapEnd), 0);
    EXPECT_EQ(f.type, kEnd);
  }

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
};

PluDefinition plu(const std::string& name, std::uint32_t price, const std::string& barcode = "") {
  return PluDefinition{barcode, name, unitByte(1), groupByte(false, std::string("3"), false), taxByte(2, price != 0, false),
                       price};
}

std::vector<PluDefinition> readPlus(SimLine& sim, const Model& m, int first, int count) {
  std::vector<PluDefinition> out;
  for (const Bytes& p : sim.read(m.code, kReadPlu, static_cast<std::uint16_t>(first - 1), static_cast<std::uint16_t>(count))) {
    std::vector<ByteView> recs;
    EXPECT_EQ(splitRecords(p, kTransferPrefix, pluDefinitionSize(m.longRecords), recs), 0);
    for (ByteView r : recs) {
      PluDefinition d;
      EXPECT_EQ(decodePluDefinition(r, m.longRecords, d), 0);
      out.push_back(d);
    }
  }
  return out;
}

}  // namespace

TEST(ElcomSim, AnswersOnlyItsRegisterNumberAndModel) {
  ScratchDir dir;
  ASSERT_EQ(runSim({"init", "--state", dir.file("kasa.txt"), "--model", "3", "--register", "5"}), 0);
  SimLine sim(dir.file("kasa.txt"));
  Frame f;
  sim.send(helloFrame(1));
  EXPECT_EQ(sim.receive(f, kCapStatus, 300), -1) << "another register's hello gets no answer";
  EXPECT_EQ(sim.command(10, kCheckShort, 0, 0, 5), 10) << "the model code of another model is refused";
  EXPECT_EQ(sim.command(13, kCheckShort, 0, 0, 5), 0);
}

TEST(ElcomSim, ProgramsReadsAndKeepsPlusInBothVariants) {
  for (int model : {1, 7}) {
    ScratchDir dir;
    const std::string state = dir.file("kasa.txt");
    ASSERT_EQ(runSim({"init", "--state", state, "--model", std::to_string(model)}), 0);
    const Model& m = modelByNumber(model);
    {
      SimLine sim(state);
      ASSERT_EQ(sim.command(m.code, kProgramPlu, 1, 2), 0);
      EXPECT_EQ(sim.dataStatus(encodeSentPlu(0, 2, plu("Żurek ąę"_cp, 599, "5901234123457"), m.longRecords)), 0);
      EXPECT_EQ(sim.dataStatus(encodeSentPlu(1, 3, plu("Chleb", 250), m.longRecords)), 0);
      EXPECT_EQ(sim.dataStatus(encodeSentPlu(2, 4, plu("Chleb", 260), m.longRecords)), 18) << "duplicate name";
      sim.end();
    }
    SimLine sim(state);  // a new run of the register finds the same base
    const auto plus = readPlus(sim, m, 1, 4);
    ASSERT_EQ(plus.size(), 4u);
    EXPECT_FALSE(plus[0].programmed());
    EXPECT_EQ(plus[1].name, std::string("Żurek ąę"_cp));
    EXPECT_EQ(plus[1].barcode, "5901234123457");
    EXPECT_EQ(plus[1].price, 599u);
    EXPECT_EQ(taxFromByte(plus[1].tax), 2);
    EXPECT_EQ(plus[2].name, "Chleb");
    EXPECT_FALSE(plus[3].programmed());
    const std::string shown = quorvel::test::readFile(state);
    EXPECT_NE(shown.find("Żurek ąę"), std::string::npos) << "names are readable in the state file";

    // A deletion record (group and tax 0) removes the PLU.
    ASSERT_EQ(sim.command(m.code, kProgramPlu, 2, 1), 0);
    PluDefinition del = plu(deletedName(3), 250);
    del.group = del.tax = 0;
    EXPECT_EQ(sim.dataStatus(encodeSentPlu(3, 3, del, m.longRecords)), 0);
    sim.end();
    EXPECT_FALSE(readPlus(sim, m, 3, 1).at(0).programmed());
  }
}

TEST(ElcomSim, LongTransfersFitTheDriversBuffer) {
  ScratchDir dir;
  const std::string state = dir.file("kasa.txt");
  ASSERT_EQ(runSim({"init", "--state", state, "--model", "7"}), 0);
  ASSERT_EQ(runSim({"fill", "--state", state, "1000"}), 0);
  SimLine sim(state);
  const Model& m = modelByNumber(7);
  std::size_t records = 0;
  for (const Bytes& p : sim.read(m.code, kReadPlu, 0, 1000)) {
    EXPECT_LE(p.size() + kHeaderSize, kCapTransfer);
    records += (p.size() - kTransferPrefix) / pluDefinitionSize(true);
  }
  EXPECT_EQ(records, 1000u);
  Bytes info = sim.read(m.code, kRegisterInfo, 0, 0).at(0);
  int base = 0;
  ASSERT_EQ(parseRegisterInfo(info, base), 0);
  EXPECT_EQ(base, 27000);
}

TEST(ElcomSim, SalesPackagesAndClearing) {
  ScratchDir dir;
  const std::string state = dir.file("kasa.txt");
  ASSERT_EQ(runSim({"init", "--state", state, "--model", "1"}), 0);
  const Model& m = modelByNumber(1);
  {
    SimLine sim(state);
    ASSERT_EQ(sim.command(m.code, kProgramPlu, 4, 1), 0);
    EXPECT_EQ(sim.dataStatus(encodeSentPlu(0, 5, plu("Mleko", 329), false)), 0);
    sim.end();
    PackagePrices prices{};
    prices[2] = 50;
    ASSERT_EQ(sim.command(m.code, kProgramPackages, 0, 50), 0);
    EXPECT_EQ(sim.dataStatus(encodePackagePrices(prices)), 0);
    sim.end();
  }
  ASSERT_EQ(runSim({"sell", "--state", state, "plu", "5", "2", "-5.00"}), 0);
  ASSERT_EQ(runSim({"sell", "--state", state, "package", "3", "1.5", "0.75"}), 0);
  EXPECT_NE(runSim({"sell", "--state", state, "plu", "6", "1", "1"}), 0) << "PLU 6 is not programmed";

  SimLine sim(state);
  std::uint16_t count = 0;
  ASSERT_EQ(parsePluCount(sim.read(m.code, kPluCount, 0, 0).at(0), count), 0);
  EXPECT_EQ(count, 5);
  const auto sales = sim.read(m.code, kReadPluSales, count, count);
  ASSERT_EQ(sales.size(), 1u);
  std::vector<ByteView> recs;
  ASSERT_EQ(splitRecords(sales[0], kTransferPrefix, pluSalesSize(false), recs), 0);
  ASSERT_EQ(recs.size(), 1u);
  CounterRecord r;
  ASSERT_EQ(decodePluSales(recs[0], false, r), 0);
  EXPECT_EQ(r.index, 4);
  EXPECT_EQ(r.name, "Mleko");
  EXPECT_EQ(r.quantity, 2000u);
  EXPECT_EQ(r.value, -500.0);

  const auto packages = sim.read(m.code, kReadPackages, 0, 1);
  ASSERT_EQ(packages.size(), 1u);
  ASSERT_EQ(splitRecords(packages[0], 0, packageSize(false), recs), 0);
  ASSERT_EQ(recs.size(), 50u);
  ASSERT_EQ(decodePackage(recs[2], false, r), 0);
  EXPECT_EQ(r.price, 50u);
  EXPECT_EQ(r.quantity, 1500u);
  EXPECT_EQ(r.value, 75.0);

  ASSERT_EQ(sim.command(m.code, kClearSales, 0, 2000), 0);
  EXPECT_EQ(sim.dataStatus(salesClearingPayload()), 0);
  sim.end();
  const Bytes salesAfter = sim.read(m.code, kReadPluSales, 5, 5).at(0);
  ASSERT_EQ(splitRecords(salesAfter, kTransferPrefix, pluSalesSize(false), recs), 0);
  ASSERT_EQ(decodePluSales(recs[0], false, r), 0);
  EXPECT_EQ(r.quantity, 0u);
  const Bytes packagesAfter = sim.read(m.code, kReadPackages, 0, 0).at(0);
  ASSERT_EQ(splitRecords(packagesAfter, 0, packageSize(false), recs), 0);
  ASSERT_EQ(decodePackage(recs[2], false, r), 0);
  EXPECT_EQ(r.quantity, 1500u) << "package counters need a report of their own";
}

TEST(ElcomSim, PlannedFaults) {
  ScratchDir dir;
  const std::string state = dir.file("kasa.txt");
  ASSERT_EQ(runSim({"init", "--state", state, "--model", "1"}), 0);
  ASSERT_EQ(runSim({"fault", "--state", state, "hello", "status:3", "2"}), 0);
  ASSERT_EQ(runSim({"fault", "--state", state, "plu:7", "status:19"}), 0);
  ASSERT_EQ(runSim({"fault", "--state", state, "data:29", "status:1"}), 0);
  ASSERT_EQ(runSim({"fault", "--state", state, "command:152", "status:255"}), 0);
  SimLine sim(state);
  EXPECT_EQ(sim.command(10, kProgramPlu, 5, 3), 3);
  EXPECT_EQ(sim.command(10, kProgramPlu, 5, 3), 3);
  ASSERT_EQ(sim.command(10, kProgramPlu, 5, 3), 0) << "the third hello is accepted";
  EXPECT_EQ(sim.dataStatus(encodeSentPlu(0, 6, plu("A", 100), false)), 1) << "busy once";
  EXPECT_EQ(sim.dataStatus(encodeSentPlu(0, 6, plu("A", 100), false)), 0);
  EXPECT_EQ(sim.dataStatus(encodeSentPlu(1, 7, plu("B", 100), false)), 19);
  EXPECT_EQ(sim.dataStatus(encodeSentPlu(2, 8, plu("C", 100), false)), 0);
  sim.end();
  EXPECT_FALSE(readPlus(sim, modelByNumber(1), 7, 1).at(0).programmed()) << "a refused PLU is not stored";
  EXPECT_EQ(sim.command(10, kPluCount, 0, 0), 255);

  // Broken answers: wrong start byte, wrong sum (accepted), a cut frame, silence.
  ASSERT_EQ(runSim({"fault", "--state", state, "data:129", "start"}), 0);
  Frame f;
  ASSERT_EQ(sim.command(10, kCheckShort, 0, 0), 0);
  sim.send(helloFrame(1));
  EXPECT_EQ(sim.receive(f), kBadData);

  ASSERT_EQ(runSim({"fault", "--state", state, "data:129", "checksum"}), 0);
  ASSERT_EQ(sim.command(10, kCheckShort, 0, 0), 0);
  sim.send(helloFrame(1));
  ASSERT_EQ(sim.receive(f), 0);
  EXPECT_EQ(f.type, kData);
  EXPECT_NE(f.receivedChecksum, checksum(f.payload));

  ASSERT_EQ(runSim({"fault", "--state", state, "data:129", "cut"}), 0);
  ASSERT_EQ(sim.command(10, kCheckShort, 0, 0), 0);
  sim.send(helloFrame(1));
  EXPECT_EQ(sim.receive(f, kCapStatus, 300), -1);

  ASSERT_EQ(runSim({"fault", "--state", state, "command:129", "silence"}), 0);
  EXPECT_EQ(sim.command(10, kCheckShort, 0, 0), -1);
  EXPECT_EQ(sim.command(10, kCheckShort, 0, 0), 0) << "after a fault the next hello starts afresh";
}

TEST(ElcomSim, HelpDescribesEveryCommandAndArgument) {
  ScratchDir dir;
  const std::string out = dir.file("help.txt");
  const int raw = std::system((kSim + " --help >'" + out + "'").c_str());
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0);
  const std::string help = quorvel::test::readFile(out);
  for (const char* word : {"init", "serve", "sell plu CODE QUANTITY VALUE", "sell package N QUANTITY VALUE",
                           "fault WHERE ACTION [COUNT]", "fault clear", "fill COUNT", "show", "--state FILE",
                           "--link PATH", "--model N", "--register N", "command:K", "data:K", "plu:CODE", "status:S",
                           "silence", "start", "checksum", "cut", "oversize", "ragged", "short", "Exit status"})
    EXPECT_NE(help.find(word), std::string::npos) << word;
}
