// The POSNET stand-ins and the simulated register: the frame codec over byte vectors, and the
// libraries driven as the driver drives them against a running posnet_sim, over TCP and over a
// pseudo-terminal, with the register's state file compared whole.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "drivers/posnet/posnet_api.h"
#include "platform/cp1250.h"
#include "sim/posnet/frame.h"
#include "tests/support/test_support.h"

using namespace quorvel::posnetsim;
using quorvel::test::readFile;
using quorvel::test::ScratchDir;

namespace {

const std::string kSim = std::string(QUORVEL_BIN_DIR) + "/posnet_sim";

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

// ---- Frames ----------------------------------------------------------------------------------

TEST(PosnetFrame, RoundTripsAndRejects) {
  const Bytes hello = encodeFrame(7, joinFields({"HELLO"}));
  // Hand-made: start, length 7, number 7, field "HELLO", then the CRC of bytes 1..11.
  const Bytes expectedHead = {0x02, 0x07, 0x00, 0x07, 0x00, 0x05, 0x00, 'H', 'E', 'L', 'L', 'O'};
  ASSERT_EQ(Bytes(hello.begin(), hello.end() - 2), expectedHead);

  Bytes badCrc = hello;
  badCrc.back() ^= 1;
  Bytes tooLong = {0x02, 0x01, 0x41, 0, 0};  // length 0x4101 > kMaxPayload
  struct Case {
    const char* what;
    Bytes in;
    Decode result;
    std::size_t used;
  } cases[] = {
      {"whole frame", hello, Decode::kOk, hello.size()},
      {"frame and more", [&] { Bytes b = hello; b.push_back(0x02); return b; }(), Decode::kOk, hello.size()},
      {"empty", {}, Decode::kNeedMore, 0},
      {"header only", Bytes(hello.begin(), hello.begin() + 5), Decode::kNeedMore, 0},
      {"one byte short", Bytes(hello.begin(), hello.end() - 1), Decode::kNeedMore, 0},
      {"wrong start", {'$', '$', '$', 0x02}, Decode::kBadStart, 1},
      {"checksum", badCrc, Decode::kBadChecksum, 1},
      {"length beyond the limit", tooLong, Decode::kTooLong, 1},
  };
  for (const Case& c : cases) {
    Frame f;
    std::size_t used = 99;
    EXPECT_EQ(decodeFrame(c.in, f, used), c.result) << c.what;
    EXPECT_EQ(used, c.used) << c.what;
    if (c.result == Decode::kOk) {
      Fields fields;
      EXPECT_EQ(f.requestNumber, 7);
      ASSERT_TRUE(splitFields(f.payload, fields));
      EXPECT_EQ(fields, Fields{"HELLO"});
    }
  }

  // Fields of any bytes survive, empty ones included; broken field lists are refused.
  const Fields odd = {"PLUIns", "", std::string("\0\xff\n|", 4), std::string(300, 'x')};
  Fields back;
  ASSERT_TRUE(splitFields(joinFields(odd), back));
  EXPECT_EQ(back, odd);
  const Bytes brokenLists[] = {{0x05}, {0x05, 0x00, 'a'}, bytesOf(std::string(2 * (kMaxFields + 1), '\0'))};
  for (const Bytes& b : brokenLists) EXPECT_FALSE(splitFields(b, back)) << b.size();
}

TEST(PosnetFrame, StreamSkipsNoiseAndFindsFramesBehindAStrayStartByte) {
  // A multiplexer's "$$$" and channel 2 (the start byte) before a hello, a frame with a wrong
  // sum, a frame in two pieces.
  const Bytes a = encodeFrame(1, joinFields({"HELLO"}));
  Bytes b = encodeFrame(2, joinFields({"VATGet", "0"}));
  Bytes c = encodeFrame(3, joinFields({"PLURead", "0", "1", "0"}));
  Bytes wire = {'$', '$', '$', 0x02};
  wire.insert(wire.end(), a.begin(), a.end());
  b[6] ^= 0x40;
  wire.insert(wire.end(), b.begin(), b.end());
  wire.insert(wire.end(), c.begin(), c.end());
  FrameStream s;
  std::vector<int> numbers;
  Frame f;
  s.append(wire.data(), wire.size() - 4);
  while (s.next(f)) numbers.push_back(f.requestNumber);
  s.append(wire.data() + wire.size() - 4, 4);
  while (s.next(f)) numbers.push_back(f.requestNumber);
  EXPECT_EQ(numbers, (std::vector<int>{1, 3}));
  EXPECT_EQ(s.badFrames(), 1u);
}

// ---- The libraries against the register ------------------------------------------------------

int sim(const std::string& state, const std::string& args) {
  return std::system((kSim + " " + args + " --state '" + state + "' >/dev/null").c_str());
}

enum class Line { kTcp, kSerial };

// posnet_sim serving in the background, and a device open through the libraries.
class Register {
 public:
  Register(const std::string& dir, Line line) : dir_(dir), line_(line), state_(dir + "/kasa.txt") {
    EXPECT_EQ(sim(state_, "init"), 0);
  }
  ~Register() {
    close();
    stop();
  }
  const std::string& state() const { return state_; }

  void start() {
    const std::string ready = dir_ + (line_ == Line::kTcp ? "/port" : "/tty");
    std::vector<std::string> args = {kSim, "serve", "--state", state_, "--raw-log", dir_ + "/raw.bin"};
    if (line_ == Line::kTcp) args.insert(args.end(), {"--port", "0", "--port-file", ready});
    else args.insert(args.end(), {"--link", ready});
    pid_ = ::fork();
    if (pid_ == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      ::execv(kSim.c_str(), argv.data());
      ::_exit(127);
    }
    for (int i = 0; i < 200 && ::access(ready.c_str(), F_OK) != 0; ++i) ::usleep(10000);
    param_ = line_ == Line::kTcp ? "127.0.0.1:" + std::to_string(std::atoi(readFile(ready).c_str()))
                                 : ready + ",115200,8,N,1,N";
  }
  void stop() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    pid_ = -1;
  }

  bool open(const std::string& log = "") {
    handle_ = POS_CreateDeviceHandle(line_ == Line::kTcp ? POSNET_DEVICE_ETHERNET : POSNET_DEVICE_RS232);
    EXPECT_EQ(POS_SetDeviceParam(handle_, line_ == Line::kTcp ? POSNET_PARAM_IP_ADDRESS : POSNET_PARAM_SERIAL,
                                 param_.c_str()),
              0u);
    if (!log.empty()) {
      POS_SetDebugFileName(handle_, log.c_str());
      POS_SetDebugLevel(handle_, POSNET_DEBUG_ALL);
    }
    device_ = POS_OpenDevice(handle_);
    return device_ != nullptr;
  }
  void close() {
    if (device_) POS_CloseDevice(device_);
    if (handle_) POS_DestroyDeviceHandle(handle_);
    device_ = nullptr;
    handle_ = nullptr;
  }
  POSNET_HANDLE handle() const { return handle_; }

  // One command as the driver's request step runs it; `read` takes the results on status 0.
  using Command = std::function<POSNET_STATUS(POSNET_DEVICE, POSNET_REQUEST*)>;
  POSNET_STATUS run(const Command& command, const std::function<void(POSNET_REQUEST)>& read = {}) {
    POSNET_REQUEST r = nullptr;
    const POSNET_STATUS queued = command(device_, &r);
    if (queued != 0) return queued;
    POS_WaitForRequestCompleted(r, POSNET_REQUEST_WAIT_MS);
    const POSNET_STATUS s = POS_GetRequestStatus(r);
    if (s == 0 && read) read(r);
    POS_DestroyRequest(r);
    return s;
  }

  // Every goods record of the catalogue read-out, one line each; the status that ended it.
  POSNET_STATUS readGoods(std::string& out) {
    POSNET_STATUS s = run([](auto d, auto r) { return POSS_CntxPLUInit(d, r, 1, 1, 0); });
    while (s == 0) {
      s = run([](auto d, auto r) { return POSS_PLURead(d, r, 0, 1, 0); }, [&](POSNET_REQUEST r) {
        std::uint16_t plu = 0;
        char name[POSNET_NAME_SIZE], code[POSNET_BARCODE_SIZE], price[POSNET_NUMBER_SIZE], price2[POSNET_NUMBER_SIZE];
        char codes[POSNET_BARCODE_LIST_SIZE];
        std::uint8_t b[9];
        ASSERT_EQ(POSG_PLURead(r, &plu, name, code, price, price2, &b[0], &b[1], &b[2], &b[3], &b[4], &b[5], &b[6],
                               &b[7], &b[8], codes),
                  0u);
        std::string extra = codes;
        for (char& c : extra) c = c == '\n' ? ',' : c;
        out += std::to_string(plu) + " " + name + " [" + code + "] " + price + " pack " + std::to_string(b[1]) +
               " unit " + std::to_string(b[2]) + " vat " + std::to_string(b[3]) + " fixed " + std::to_string(b[5]) +
               " group " + std::to_string(b[8]) + " extra " + extra + "\n";
      });
    }
    return s;
  }

 private:
  std::string dir_;
  Line line_;
  std::string state_;
  std::string param_;
  pid_t pid_ = -1;
  POSNET_HANDLE handle_ = nullptr;
  POSNET_DEVICE device_ = nullptr;
};

constexpr POSNET_STATUS reg(int n) { return POSNET_REGISTER_STATUS(n); }

POSNET_STATUS insGoods(POSNET_DEVICE d, POSNET_REQUEST* r, std::uint32_t plu, const char* name, std::uint32_t pack = 0,
                       std::uint8_t group = 1, const char* price = "420") {
  return POSS_PLUIns(d, r, plu, name, "5901234123457", price, "0", pack, 2, 0, group, 1, 3, 1, 0, 0, 1, 0, 0);
}

class PosnetStandins : public ::testing::TestWithParam<Line> {};

TEST_P(PosnetStandins, RegisterRefusesWhatARegisterRefusesAndKeepsItsState) {
  ScratchDir dir;
  Register r(dir.path(), GetParam());
  ASSERT_EQ(sim(r.state(), "add group 5 Nabiał"), 0);
  r.start();
  ASSERT_TRUE(r.open());
  struct Step {
    const char* what;
    Register::Command command;
    POSNET_STATUS expected;
  };
  const Step steps[] = {
      {"connection check", [](auto d, auto q) { return POSS_VATGet(d, q, 0); }, 0},
      {"packaging", [](auto d, auto q) { return POSS_PackIns(d, q, 3, "Butelka", "", "50", "0", 1, 1, 0, 0); }, 0},
      {"its barcodes (no limit)",
       [](auto d, auto q) { return POSS_BarcodeIns(d, q, 3, "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11\n12", 0); }, 0},
      {"goods linked to it", [](auto d, auto q) { return insGoods(d, q, 1, "Mleko 3,2%", 3, 5); }, 0},
      {"goods barcodes", [](auto d, auto q) { return POSS_BarcodeIns(d, q, 1, "5901234123457\n111\n222", 0); }, 0},
      {"a barcode with letters", [](auto d, auto q) { return POSS_BarcodeIns(d, q, 1, "590\nABC", 0); }, reg(400)},
      {"eleven goods barcodes", [](auto d, auto q) { return POSS_BarcodeIns(d, q, 1, "1\n2\n3\n4\n5\n6\n7\n8\n9\n10\n11", 0); },
       reg(400)},
      {"name not unique", [](auto d, auto q) { return insGoods(d, q, 2, "Mleko 3,2%"); }, reg(910)},
      {"no such group", [](auto d, auto q) { return insGoods(d, q, 2, "Ser", 0, 77); }, reg(912)},
      {"no such packaging", [](auto d, auto q) { return insGoods(d, q, 2, "Ser", 4); }, reg(911)},
      {"PLU 0", [](auto d, auto q) { return insGoods(d, q, 0, "Ser"); }, reg(909)},
      {"PLU beyond the base", [](auto d, auto q) { return insGoods(d, q, 70000, "Ser"); }, reg(909)},
      {"packaging beyond the base",
       [](auto d, auto q) { return POSS_PackIns(d, q, 101, "Skrzynka", "", "50", "0", 1, 1, 0, 0); }, reg(909)},
      {"price not a number", [](auto d, auto q) { return insGoods(d, q, 2, "Ser", 0, 1, "4.20"); }, reg(400)},
      {"second goods", [](auto d, auto q) { return insGoods(d, q, 2, "Żółty ser"_cp, 0, 1, "2990"); }, 0},
      {"price change", [](auto d, auto q) { return POSS_PluPriceUpdate(d, q, 2, "3150", 0); }, 0},
      {"price change, no record", [](auto d, auto q) { return POSS_PluPriceUpdate(d, q, 9, "100", 0); }, reg(903)},
      {"delete, no record", [](auto d, auto q) { return POSS_PLUDel(d, q, 9, 0, 1, 0); }, reg(903)},
      {"delete a linked packaging", [](auto d, auto q) { return POSS_PackDel(d, q, 3, 0, 0, 0); }, reg(938)},
      {"read without a context", [](auto d, auto q) { return POSS_PLURead(d, q, 0, 1, 0); }, reg(3001)},
  };
  for (const Step& s : steps) EXPECT_EQ(r.run(s.command), s.expected) << s.what;

  // Sales arrive while the register serves; it reads its state file again.
  ASSERT_EQ(sim(r.state(), "sell goods 2 1.5 47.25"), 0);
  ASSERT_EQ(sim(r.state(), "sell pack 3 5 2.50"), 0);
  ASSERT_EQ(sim(r.state(), "return pack 3 2 1.00"), 0);
  EXPECT_EQ(r.run([](auto d, auto q) { return POSS_PLUDel(d, q, 2, 0, 1, 0); }), reg(944));
  EXPECT_EQ(r.run([](auto d, auto q) { return insGoods(d, q, 2, "Ser"); }), reg(944));
  EXPECT_EQ(r.run([](auto d, auto q) { return POSS_PLUDelAll(d, q, 0, 0); }), reg(944));

  std::string goods;
  EXPECT_EQ(r.readGoods(goods), reg(975));
  EXPECT_EQ(quorvel::test::cp1250ToUtf8(goods),
            "1 Mleko 3,2% [5901234123457] 420 pack 3 unit 2 vat 1 fixed 1 group 5 extra 111,222\n"
            "2 Żółty ser [5901234123457] 3150 pack 0 unit 2 vat 1 fixed 1 group 1 extra \n");

  std::string sales;
  POSNET_STATUS s = r.run([](auto d, auto q) { return POSS_CntxPackInit(d, q, 3, 2, 0); });
  while (s == 0) {
    s = r.run([](auto d, auto q) { return POSS_PackStatRead(d, q, 0, 0, 0); }, [&](POSNET_REQUEST q) {
      std::uint16_t plu = 0;
      char v[4][POSNET_NUMBER_SIZE];
      std::uint8_t r6 = 0;
      ASSERT_EQ(POSG_PackStatRead(q, &plu, v[0], v[1], v[2], v[3], &r6), 0u);
      sales += std::to_string(plu) + ": " + v[0] + " " + v[1] + " " + v[2] + " " + v[3] + "\n";
    });
  }
  EXPECT_EQ(s, reg(975));
  EXPECT_EQ(sales, "3: 5000 2000 250 100\n");
  // A results function for another command finds nothing and leaves the buffers alone.
  char untouched[POSNET_NUMBER_SIZE] = "same";
  r.run([](auto d, auto q) { return POSS_VATGet(d, q, 0); }, [&](POSNET_REQUEST q) {
    EXPECT_EQ(POSG_PLUStatRead(q, nullptr, untouched, untouched, untouched, nullptr), POSNET_STATUS_QUEUE_EMPTY);
  });
  EXPECT_STREQ(untouched, "same");
  r.close();

  r.stop();
  EXPECT_EQ(readFile(r.state()).substr(readFile(r.state()).find("\nlimits") + 1),
            "limits\t65535\t100\n"
            "group\t1\tOgólna\n"
            "group\t5\tNabiał\n"
            "pack\t3\t50\t0\t5000\t250\t2000\t100\t1\t2\\n3\\n4\\n5\\n6\\n7\\n8\\n9\\n10\\n11\\n12\tButelka\n"
            "goods\t1\t420\t1\t5\t2\t3\t0\t0\t0\t5901234123457\t111\\n222\tMleko 3,2%\n"
            "goods\t2\t3150\t1\t1\t2\t0\t0\t1500\t4725\t5901234123457\t\tŻółty ser\n");
}

// Whole-base commands, the statistics read-out that clears as it reads, a barcode list that
// follows the record last programmed under its number, and faults aimed at one PLU or at the
// k-th record of a read-out.
TEST(PosnetStandinsTcp, WholeBaseCommandsAndAimedFaults) {
  ScratchDir dir;
  Register r(dir.path(), Line::kTcp);
  ASSERT_EQ(sim(r.state(), "fill 3 sold"), 0);
  ASSERT_EQ(sim(r.state(), "fault plu:2 status:944"), 0);
  ASSERT_EQ(sim(r.state(), "fault cmd:PLUStatRead@1 status:10"), 0);
  r.start();
  ASSERT_TRUE(r.open());
  auto statRead = [](std::uint8_t clear) {
    return [clear](POSNET_DEVICE d, POSNET_REQUEST* q) { return POSS_PLUStatRead(d, q, 0, clear, 0); };
  };
  struct Step {
    const char* what;
    Register::Command command;
    POSNET_STATUS expected;
  } steps[] = {
      {"fault on PLU 2", [](auto d, auto q) { return POSS_PluPriceUpdate(d, q, 2, "100", 0); }, reg(944)},
      {"PLU 2 again", [](auto d, auto q) { return POSS_PluPriceUpdate(d, q, 2, "100", 0); }, 0},
      {"goods with sales", [](auto d, auto q) { return POSS_PLUDelAll(d, q, 0, 0); }, reg(944)},
      {"unknown context", [](auto d, auto q) { return POSS_CntxPLUInit(d, q, 2, 1, 0); }, reg(400)},
      {"statistics", [](auto d, auto q) { return POSS_CntxPLUInit(d, q, 3, 2, 0); }, 0},
      {"first, cleared as read", statRead(1), 0},
      {"fault at the second", statRead(1), reg(10)},
      {"second, cleared as read", statRead(1), 0},
      {"third, kept", statRead(0), 0},
      {"end", statRead(0), reg(975)},
      {"PLU 3 still sold", [](auto d, auto q) { return POSS_PLUDel(d, q, 3, 0, 1, 0); }, reg(944)},
      {"PLU 2 cleared by its read", [](auto d, auto q) { return POSS_PLUDel(d, q, 2, 0, 1, 0); }, 0},
      {"clear all", [](auto d, auto q) { return POSS_PLUStatClearAll(d, q, 0, 0, 0); }, 0},
      {"packaging 1", [](auto d, auto q) { return POSS_PackIns(d, q, 1, "Butelka", "", "50", "0", 1, 1, 0, 0); }, 0},
      {"its barcodes, not goods 1's", [](auto d, auto q) { return POSS_BarcodeIns(d, q, 1, "77\n78", 0); }, 0},
      {"linked to goods 3", [](auto d, auto q) { return insGoods(d, q, 3, "Towar 3", 1); }, 0},
      {"packagings still linked", [](auto d, auto q) { return POSS_PackDelAll(d, q, 2, 0); }, reg(938)},
      {"goods gone", [](auto d, auto q) { return POSS_PLUDelAll(d, q, 0, 0); }, 0},
      {"packagings gone", [](auto d, auto q) { return POSS_PackDelAll(d, q, 2, 0); }, 0},
      {"nothing left", [](auto d, auto q) { return POSS_CntxPackInit(d, q, 1, 1, 0); }, 0},
      {"nothing to read", [](auto d, auto q) { return POSS_PackRead(d, q, 0, 1); }, reg(975)},
  };
  for (const Step& s : steps) EXPECT_EQ(r.run(s.command), s.expected) << s.what;
  r.close();
  // The register writes its changes once the line is quiet; a command-line call waits for them.
  ASSERT_EQ(sim(r.state(), "show"), 0);
  const std::string state = readFile(r.state());
  EXPECT_EQ(state.substr(state.find("\nlimits") + 1), "limits\t65535\t100\ngroup\t1\tOgólna\n");
}

TEST_P(PosnetStandins, PlannedFaultsReachTheCallerAsStatuses) {
  ScratchDir dir;
  ::setenv("POSNET_SIM_TIMEOUT_MS", "300", 1);
  Register r(dir.path(), GetParam());
  ASSERT_EQ(sim(r.state(), "fill 5 sold"), 0);
  const char* faults[] = {"cmd:VATGet status:10", "cmd:VATGet status:0x10005", "cmd:VATGet garble",
                          "cmd:VATGet silence", "cmd:PLUStatRead@3 drop"};
  for (const char* f : faults) ASSERT_EQ(sim(r.state(), std::string("fault ") + f), 0) << f;
  r.start();
  ASSERT_TRUE(r.open());
  auto vat = [](auto d, auto q) { return POSS_VATGet(d, q, 0); };
  EXPECT_EQ(r.run(vat), reg(10));
  EXPECT_EQ(r.run(vat), POSNET_STATUS_BAD_COMMAND);
  EXPECT_EQ(r.run(vat), POSNET_STATUS_CRC_ERROR);
  EXPECT_EQ(r.run(vat), POSNET_STATUS_TIMEOUT);
  EXPECT_EQ(r.run(vat), 0u);  // the faults are used up
  int records = 0;
  POSNET_STATUS s = r.run([](auto d, auto q) { return POSS_CntxPLUInit(d, q, 3, 2, 0); });
  while (s == 0) s = r.run([](auto d, auto q) { return POSS_PLUStatRead(d, q, 0, 0, 0); }, [&](POSNET_REQUEST) { ++records; });
  EXPECT_EQ(records, 3);
  // TCP: the register hangs up; the serial line: it stops answering.
  EXPECT_EQ(s, GetParam() == Line::kTcp ? POSNET_STATUS_COMM_ERROR : POSNET_STATUS_TIMEOUT);
  r.close();
  ::unsetenv("POSNET_SIM_TIMEOUT_MS");
  ASSERT_EQ(sim(r.state(), "show"), 0);
  EXPECT_EQ(readFile(r.state()).find("fault"), readFile(r.state()).find("fault\tWHERE"));  // none left
}

INSTANTIATE_TEST_SUITE_P(Lines, PosnetStandins, ::testing::Values(Line::kTcp, Line::kSerial),
                         [](const auto& info) { return info.param == Line::kTcp ? "Tcp" : "Serial"; });

TEST(PosnetStandinsTcp, OpenIsRefusedForWhatCannotBeReached) {
  EXPECT_EQ(POS_CreateDeviceHandle(2), nullptr);
  struct Case {
    std::uint32_t type, param;
    const char* value;
  } cases[] = {
      {POSNET_DEVICE_RS232, POSNET_PARAM_SERIAL, "/nonexistent/ttyX,9600,8,N,1,N"},
      {POSNET_DEVICE_RS232, POSNET_PARAM_SERIAL, "/dev/null,9600,8,X,1,N"},
      {POSNET_DEVICE_RS232, POSNET_PARAM_SERIAL, "/dev/null,9601,8,N,1,N"},
      {POSNET_DEVICE_RS232, POSNET_PARAM_SERIAL, "/dev/null,9600,8,N,1,N"},  // not a serial line
      {POSNET_DEVICE_RS232, POSNET_PARAM_SERIAL, ""},
      {POSNET_DEVICE_ETHERNET, POSNET_PARAM_IP_ADDRESS, "127.0.0.1:1"},  // nobody listens
      {POSNET_DEVICE_ETHERNET, POSNET_PARAM_IP_ADDRESS, "999.0.0.1"},
      {POSNET_DEVICE_ETHERNET, POSNET_PARAM_IP_ADDRESS, "127.0.0.1:70000"},
  };
  for (const Case& c : cases) {
    POSNET_HANDLE h = POS_CreateDeviceHandle(c.type);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(POS_SetDeviceParam(h, c.param, c.value), 0u);
    EXPECT_NE(POS_SetDeviceParam(h, 0x20002, "x"), 0u);
    EXPECT_EQ(POS_OpenDevice(h), nullptr) << c.value;
    int fd = 0;
    std::memcpy(&fd, reinterpret_cast<const char*>(h) + POSNET_HANDLE_SERIAL_FD_OFFSET, sizeof fd);
    EXPECT_EQ(fd, -1) << c.value;
    EXPECT_EQ(POS_DestroyDeviceHandle(h), 0u);
  }
  POSNET_REQUEST r = reinterpret_cast<POSNET_REQUEST>(1);
  EXPECT_NE(POSS_VATGet(nullptr, &r, 0), 0u);
  EXPECT_EQ(r, nullptr);
}

TEST(PosnetStandinsTcp, ResultsThatDoNotFitAreCutOrRefused) {
  ScratchDir dir;
  Register r(dir.path(), Line::kTcp);
  const std::string longName(60, 'N');
  ASSERT_EQ(sim(r.state(), "limits 70000 100"), 0);
  ASSERT_EQ(sim(r.state(), "add goods 1 " + longName + " 1.00 barcode=12345678901234567890123"), 0);
  ASSERT_EQ(sim(r.state(), "add goods 66000 Daleki 1.00"), 0);
  r.start();
  ASSERT_TRUE(r.open());
  ASSERT_EQ(r.run([](auto d, auto q) { return POSS_CntxPLUInit(d, q, 1, 1, 0); }), 0u);
  // Each buffer gets at most its size, the terminator included.
  char name[POSNET_NAME_SIZE + 8], code[POSNET_BARCODE_SIZE + 8], x[POSNET_NUMBER_SIZE], bars[POSNET_BARCODE_LIST_SIZE];
  std::memset(name, '#', sizeof name);
  std::memset(code, '#', sizeof code);
  std::uint16_t plu = 0;
  std::uint8_t b = 0;
  auto read = [&](POSNET_REQUEST q) {
    return POSG_PLURead(q, &plu, name, code, x, x, &b, &b, &b, &b, &b, &b, &b, &b, &b, bars);
  };
  POSNET_STATUS got = 99;
  EXPECT_EQ(r.run([](auto d, auto q) { return POSS_PLURead(d, q, 0, 1, 0); }, [&](POSNET_REQUEST q) { got = read(q); }), 0u);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(std::string(name), longName.substr(0, POSNET_NAME_SIZE - 1));
  EXPECT_EQ(name[POSNET_NAME_SIZE], '#');
  EXPECT_EQ(std::string(code), std::string("12345678901234567890123").substr(0, POSNET_BARCODE_SIZE - 1));
  EXPECT_EQ(code[POSNET_BARCODE_SIZE], '#');
  // A PLU number beyond 16 bits is a broken answer, and the buffers stay as they were.
  plu = 7;
  EXPECT_EQ(r.run([](auto d, auto q) { return POSS_PLURead(d, q, 0, 1, 0); }, [&](POSNET_REQUEST q) { got = read(q); }), 0u);
  EXPECT_EQ(got, POSNET_STATUS_BAD_FRAME);
  EXPECT_EQ(plu, 7);
}

TEST(PosnetStandinsTcp, RequestsOutstandingAtTheEndAreCancelledAndStayValid) {
  ScratchDir dir;
  ::setenv("POSNET_SIM_TIMEOUT_MS", "400", 1);
  Register r(dir.path(), Line::kTcp);
  ASSERT_EQ(sim(r.state(), "fault cmd:VATGet silence always"), 0);
  r.start();
  ASSERT_TRUE(r.open());
  POSNET_REQUEST q[3] = {};
  POSNET_DEVICE d = nullptr;
  // The device is reached through the handle's open device: queue three at once.
  r.run([&](POSNET_DEVICE dev, POSNET_REQUEST* req) {
    d = dev;
    return POSS_VATGet(dev, req, 0);
  });
  // A request too long for one frame is refused at once, naming the argument.
  POSNET_REQUEST tooLong = reinterpret_cast<POSNET_REQUEST>(1);
  EXPECT_EQ(POSS_BarcodeIns(d, &tooLong, 1, std::string(kMaxPayload, '1').c_str(), 0), POSNET_STATUS_BAD_PARAMETER_1 + 3);
  EXPECT_EQ(tooLong, nullptr);
  for (auto& one : q) ASSERT_EQ(POSS_VATGet(d, &one, 0), 0u);
  EXPECT_EQ(POS_WaitForRequestCompleted(q[0], 10), POSNET_STATUS_TIMEOUT);
  EXPECT_EQ(POS_GetRequestStatus(q[0]), POSNET_STATUS_TIMEOUT);
  POS_DestroyRequest(q[1]);  // given up while queued
  r.close();
  EXPECT_EQ(POS_WaitForRequestCompleted(q[2], 0), 0u);
  EXPECT_EQ(POS_GetRequestStatus(q[2]), POSNET_STATUS_CANCELLED);
  EXPECT_EQ(POSG_Default(q[2]), POSNET_STATUS_QUEUE_EMPTY);
  POS_DestroyRequest(q[0]);
  POS_DestroyRequest(q[2]);
  POS_DestroyRequest(nullptr);
  ::unsetenv("POSNET_SIM_TIMEOUT_MS");
}

TEST(PosnetSimProgram, CommandLineSeedsShowsAndRefuses) {
  ScratchDir dir;
  const std::string state = dir.file("kasa.txt");
  struct Case {
    std::string args;
    int exit;
  } cases[] = {
      {"init", 0},
      {"add group 3 Słodycze", 0},
      {"add pack 1 Butelka 0.50 barcode=111 extra=112,113", 0},
      {"add goods 7 Czekolada 6.30 vat=2 group=3 unit=1 pack=1 open", 0},
      {"sell goods 7 2 12.60", 0},
      {"sell pack 1 3 1.50", 0},
      {"return pack 1 1 0.50", 0},
      {"fault cmd:PLUIns status:910 always", 0},
      {"sell goods 8 1 1.00", 1},  // no such goods
      {"return goods 7 1 1.00", 2},
      {"add goods x Ser 1.00", 2},
      {"add goods 8 Ser 1.00 colour=red", 2},
      {"fault cmd:PLUIns", 2},
      {"limits 10", 2},
      {"frobnicate", 2},
  };
  for (const Case& c : cases) EXPECT_EQ(WEXITSTATUS(sim(state, c.args)), c.exit) << c.args;
  EXPECT_EQ(WEXITSTATUS(std::system((kSim + " show >/dev/null 2>&1").c_str())), 2) << "no state file named";

  std::system((kSim + " show --state '" + state + "' >'" + dir.file("show.txt") + "'").c_str());
  EXPECT_EQ(readFile(dir.file("show.txt")),
            "POSNET register: 1 goods (PLU 1-65535), 1 packagings (1-100), 2 groups\n"
            "Grupa   1  Ogólna\n"
            "Grupa   3  Słodycze\n"
            "Opakowanie   1  Butelka               kod 111,112,113     cena 0.50  wydano 3.000 (1.50)  przyjęto 1.000 "
            "(0.50)\n"
            "PLU      7  Czekolada             kod -               cena 6.30 otwarta  VAT 2  grupa 3  jm 1  opak. 1  "
            "sprzedaż 2.000 (12.60)\n"
            "fault cmd:PLUIns status:910 always\n");

  // A state file someone broke is named with its line, and left as it is.
  quorvel::test::writeFile(state, "limits\t10\t10\ngoods\t1\tcheap\n");
  std::system((kSim + " show --state '" + state + "' 2>'" + dir.file("err.txt") + "' >/dev/null").c_str());
  EXPECT_NE(readFile(dir.file("err.txt")).find("kasa.txt:2: cannot read this line"), std::string::npos)
      << readFile(dir.file("err.txt"));
  EXPECT_EQ(readFile(state), "limits\t10\t10\ngoods\t1\tcheap\n");

  // A FIFO in place of the state file is refused at once, never waited on.
  const std::string fifo = dir.file("fifo.txt");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::system((kSim + " show --state '" + fifo + "' 2>'" + dir.file("err.txt") + "' >/dev/null").c_str());
  EXPECT_NE(readFile(dir.file("err.txt")).find("fifo.txt is not a regular file"), std::string::npos)
      << readFile(dir.file("err.txt"));
}

TEST(PosnetStandinsSerial, HelloComesFirstAndTheLogShowsTheExchange) {
  ScratchDir dir;
  Register r(dir.path(), Line::kSerial);
  r.start();
  ASSERT_TRUE(r.open(dir.file("posnet.log")));
  // What a driver does over the library's own port: switch a multiplexer after the open.
  int fd = -1;
  std::memcpy(&fd, reinterpret_cast<const char*>(r.handle()) + POSNET_HANDLE_SERIAL_FD_OFFSET, sizeof fd);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::write(fd, "$$$\x02", 4), 4);
  EXPECT_EQ(r.run([](auto d, auto q) { return POSS_VATGet(d, q, 0); }), 0u);
  r.close();
  r.stop();

  const Bytes hello = encodeFrame(1, joinFields({"HELLO"}));
  const Bytes vat = encodeFrame(2, joinFields({"VATGet", "0"}));
  Bytes expected = hello;
  expected.insert(expected.end(), {'$', '$', '$', 0x02});
  expected.insert(expected.end(), vat.begin(), vat.end());
  EXPECT_EQ(bytesOf(readFile(dir.file("raw.bin"))), expected);

  const std::string log = readFile(dir.file("posnet.log"));
  for (const char* line : {"opened serial line", "-> #1 HELLO", "<- #1 0 | POSNET", "-> #2 VATGet | 0",
                           "    02 0b 00 02 00 06 00 56 41 54 47 65 74 01 00 30", "closed"})
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
}

}  // namespace
