// CRS232 on real kernel lines (pseudo-terminals): settings applied and restored, bytes both
// ways untranslated, the read time-out, exclusive use, missing ports, a vanished device, and
// the transmission dump holding exactly what passed.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/error_state.h"
#include "core/serial/dump.h"
#include "core/serial/rs232.h"
#include "platform/clock.h"
#include "platform/cp1250.h"
#include "platform/serial_backend.h"
#include "platform/serial_ports.h"
#include "platform/ui.h"
#include "tests/support/test_support.h"

namespace {

// The device end of a pseudo-terminal; the port opens the other end by its path.
class Pty {
 public:
  Pty() {
    int slave = -1;
    char name[128];
    if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) return;
    path_ = name;
    close(slave);  // the port is to be the line's only user, as with a real device
  }
  ~Pty() { closeMaster(); }
  bool ok() const { return master_ >= 0; }
  const std::string& path() const { return path_; }
  int master() const { return master_; }
  void closeMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }
  void send(const std::string& bytes) { ASSERT_EQ(write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size())); }
  // Reads exactly n bytes (or fails after a few seconds of silence).
  std::string receive(std::size_t n) {
    std::string got;
    char chunk[4096];
    while (got.size() < n) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 5000) <= 0) break;
      const ssize_t r = read(master_, chunk, std::min(sizeof chunk, n - got.size()));
      if (r <= 0) break;
      got.append(chunk, static_cast<std::size_t>(r));
    }
    return got;
  }

 private:
  int master_ = -1;
  std::string path_;
};

class PtyPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty.ok());
    ClearError("");
    // Close() pauses a second for the output to drain; the tests need not wait it.
    quorvel::platform::UseVirtualClock(true);
    quorvel::ui::SetMessageBoxHook([this](const std::string& text, const std::string& caption, quorvel::ui::Icon) {
      boxes.push_back(caption + ": " + text);
    });
  }
  void TearDown() override {
    quorvel::ui::SetMessageBoxHook(nullptr);
    quorvel::platform::UseVirtualClock(false);
  }

  Pty pty;
  std::vector<std::string> boxes;
};

using Clock = std::chrono::steady_clock;

long msSince(Clock::time_point start) {
  return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

}  // namespace

TEST_F(PtyPort, SettingsAreAppliedAtOpenAndTheFoundOnesPutBackAtClose) {
  const struct {
    unsigned long speed;
    unsigned char data, parity, stop;
    speed_t code;
    tcflag_t parityFlags;
    bool twoStop;
  } cases[] = {
      {9600, 8, 0, 0, B9600, 0, false},
      {19200, 7, 2, 2, B19200, PARENB, true},
      {115200, 8, 1, 0, B115200, PARENB | PARODD, false},
      {4800, 7, 3, 1, B4800, PARENB | PARODD | CMSPAR, true},
      {2400, 5, 4, 0, B2400, PARENB | CMSPAR, false},
  };
  termios found{};
  ASSERT_EQ(tcgetattr(pty.master(), &found), 0);
  for (const auto& c : cases) {
    CRS232 port;
    port.SetPort(pty.path());
    port.SetSpeed(c.speed);
    port.SetNrDataBits(c.data);
    port.SetParity(c.parity);
    port.SetNrStopBits(c.stop);
    ASSERT_EQ(port.Open(), 0) << GetErrorMsg();
    termios t{};
    ASSERT_EQ(tcgetattr(pty.master(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), c.code) << c.speed;
    // A pseudo-terminal keeps everything but the character size and the parity enable,
    // which the kernel forces to 8 bits without parity.
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), c.parityFlags & (PARODD | CMSPAR)) << c.speed;
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStop) << c.speed;
    // Raw: no line editing, echo, signals or newline translation either way.
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IXON | IXOFF | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(port.Close(), 0);
    termios after{};
    ASSERT_EQ(tcgetattr(pty.master(), &after), 0);
    EXPECT_EQ(after.c_cflag, found.c_cflag);
    EXPECT_EQ(after.c_lflag, found.c_lflag);
    EXPECT_EQ(after.c_iflag, found.c_iflag);
    EXPECT_EQ(after.c_oflag, found.c_oflag);
  }
  EXPECT_EQ(quorvel::platform::VirtualSleeps(), std::vector<unsigned long>(std::size(cases), 1000));
}

TEST_F(PtyPort, AnUnsupportedSettingRefusesTheOpenAndFreesThePort) {
  CRS232 port;
  port.SetPort(pty.path());
  port.SetNrDataBits(9);
  EXPECT_EQ(port.Open(), ERR_PORT_OPEN);
  EXPECT_FALSE(port.IsOpen());
  ClearError("");  // Open answers with the error state, which still holds the refusal
  CRS232 again;
  again.SetPort(pty.path());
  EXPECT_EQ(again.Open(), 0);
}

TEST_F(PtyPort, BytesPassBothWaysUntranslated) {
  CRS232 port;
  port.SetPort(pty.path());
  port.SetSpeed(115200);
  port.SetTimeoutRead(5000);
  ASSERT_EQ(port.Open(), 0) << GetErrorMsg();

  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  // Sent: a text, a single byte, a byte range and a frame buffer; CR, LF, XON and XOFF included.
  std::string expected = "AT\r\n";
  EXPECT_EQ(port.Write("AT\r\n"), 0);
  expected += '\x11';
  EXPECT_EQ(port.Write('\x11'), 0);
  EXPECT_EQ(port.Write(all.data(), static_cast<unsigned>(all.size())), 0);
  expected += all;
  CBufor frame(8);
  frame.PutBytes("\xFE\x00\x01\x00\x01\x01\x00", 7);
  EXPECT_EQ(port.Write(frame), 0);
  expected += std::string("\xFE\x00\x01\x00\x01\x01\x00", 7);
  EXPECT_EQ(pty.receive(expected.size()), expected);

  // Received, one Read per byte.
  pty.send(all);
  std::string got;
  for (std::size_t k = 0; k < all.size(); ++k) {
    char c;
    ASSERT_EQ(port.Read(c), 0) << k;
    got += c;
  }
  EXPECT_EQ(got, all);
}

TEST_F(PtyPort, LongFramesArriveWhileTheDeviceReadsSlowly) {
  CRS232 port;
  port.SetPort(pty.path());
  port.SetTimeoutWrite(5000);
  ASSERT_EQ(port.Open(), 0);
  std::string big(20000, '\0');
  for (std::size_t k = 0; k < big.size(); ++k) big[k] = static_cast<char>(k * 7);
  std::string received;
  std::thread device([&] { received = pty.receive(big.size()); });
  EXPECT_EQ(port.Write(big.data(), static_cast<unsigned>(big.size())), 0);
  device.join();
  EXPECT_EQ(received, big);
}

TEST_F(PtyPort, ReadWithNothingComingEndsWith1004AfterTheTimeout) {
  CRS232 port;
  port.SetPort(pty.path());
  port.SetTimeoutRead(300);
  ASSERT_EQ(port.Open(), 0);
  const auto start = Clock::now();
  char c;
  EXPECT_EQ(port.Read(c), ERR_PORT_READ_TIMEOUT);
  const long waited = msSince(start);
  EXPECT_GE(waited, 250);    // the time-out was waited for ...
  EXPECT_LT(waited, 20000);  // ... and not much more (loose: loaded machines)
  EXPECT_EQ(std::string(GetErrorMsg()), std::string("Przekroczony czas oczekiwania przy odczycie portu szeregowego "_cp) + pty.path());
  // A byte that comes later is read normally: the port stayed open.
  pty.send("Z");
  EXPECT_EQ(port.Read(c), 0);
  EXPECT_EQ(c, 'Z');
}

TEST_F(PtyPort, APortInUseIsRefusedWith1001) {
  CRS232 first;
  first.SetPort(pty.path());
  ASSERT_EQ(first.Open(), 0);
  CRS232 second;
  second.SetPort(pty.path());
  EXPECT_EQ(second.Open(), ERR_PORT_ACCESS);
  EXPECT_EQ(std::string(GetErrorMsg()), std::string("Błąd dostępu do portu szeregowego "_cp) + pty.path());
  EXPECT_FALSE(second.IsOpen());
  first.Close();
  ClearError("");
  EXPECT_EQ(second.Open(), 0);  // free again once closed
}

// The usual reason a port cannot be opened is a user outside the device's group: the message
// says so and names the group, not only the number. Root opens anything, so as root the port
// is opened by a child that has become nobody; otherwise the node's owner bits deny its owner.
TEST_F(PtyPort, ALineTheUserMayNotOpenNamesTheGroupThatOwnsIt) {
  const bool root = ::geteuid() == 0;
  std::string owner;
  if (root) {
    const struct group* dialout = ::getgrnam("dialout");
    const gid_t gid = dialout ? dialout->gr_gid : 0;
    owner = dialout ? "dialout" : ::getgrgid(0)->gr_name;
    ASSERT_EQ(::chown(pty.path().c_str(), 0, gid), 0);
    ASSERT_EQ(::chmod(pty.path().c_str(), 0660), 0);
  } else {
    struct stat st {};
    ASSERT_EQ(::stat(pty.path().c_str(), &st), 0);
    const struct group* g = ::getgrgid(st.st_gid);
    owner = g ? g->gr_name : std::to_string(st.st_gid);
    ASSERT_EQ(::chmod(pty.path().c_str(), 0060), 0);  // the owner's bits deny the owner
  }
  int out[2];
  ASSERT_EQ(::pipe(out), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (root && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(120);
    CRS232 port;
    port.SetPort(pty.path());
    const int e = port.Open();
    const std::string msg = GetErrorMsg();
    [[maybe_unused]] const ssize_t n = ::write(out[1], msg.data(), msg.size());
    ::_exit(e == ERR_PORT_ACCESS ? 0 : 1);
  }
  ::close(out[1]);
  std::string msg;
  char buf[512];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) msg.append(buf, static_cast<std::size_t>(n));
  ::close(out[0]);
  int raw = 0;
  ::waitpid(pid, &raw, 0);
  if (WIFEXITED(raw) && WEXITSTATUS(raw) == 120) GTEST_SKIP() << "cannot drop privileges to run as nobody";
  EXPECT_TRUE(WIFEXITED(raw) && WEXITSTATUS(raw) == 0) << quorvel::cp1250::toUtf8(msg);
  EXPECT_EQ(quorvel::cp1250::toUtf8(msg), "Błąd dostępu do portu szeregowego " + pty.path() + " (brak uprawnień do urządzenia " +
                                              pty.path() + "; dostęp mają członkowie grupy " + owner + ")");
}

TEST_F(PtyPort, AMissingPortIs1002) {
  quorvel::test::ScratchDir dir;
  quorvel::test::writeFile(dir.file("plain.txt"), "not a line");
  for (const std::string& name : {std::string("/dev/ttyQuorvelMissing"), std::string("ttyQuorvelMissing0"),
                                 std::string("COM4000"), dir.file("plain.txt")}) {
    ClearError("");
    CRS232 port;
    port.SetPort(name);
    EXPECT_EQ(port.Open(), ERR_PORT_MISSING) << name;
    EXPECT_EQ(std::string(GetErrorMsg()), std::string("Brak portu szeregowego "_cp) + name);
  }
}

TEST_F(PtyPort, AVanishedDeviceEndsReadAndWriteAtOnce) {
  CRS232 port;
  port.SetPort(pty.path());
  port.SetTimeoutRead(60000);
  port.SetTimeoutWrite(60000);
  ASSERT_EQ(port.Open(), 0);
  pty.send("Q");
  pty.closeMaster();  // the device end goes away (as a pulled USB adapter)
  const auto start = Clock::now();
  char c = 0;
  // A byte that arrived before may still be delivered; after it, the failure.
  int r = port.Read(c);
  if (r == 0) {
    EXPECT_EQ(c, 'Q');
    r = port.Read(c);
  }
  EXPECT_EQ(r, ERR_PORT_READ);
  EXPECT_EQ(port.Read(c), ERR_PORT_READ);
  EXPECT_EQ(port.Write("hello"), ERR_PORT_WRITE);
  EXPECT_LT(msSince(start), 30000);  // nowhere near the 60 s time-outs: no waiting at all
  EXPECT_EQ(port.Close(), ERR_PORT_WRITE);
}

TEST_F(PtyPort, ADeviceVanishingDuringAWaitingReadEndsItAtOnce) {
  CRS232 port;
  port.SetPort(pty.path());
  port.SetTimeoutRead(60000);
  ASSERT_EQ(port.Open(), 0);
  std::thread unplug([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pty.closeMaster();
  });
  const auto start = Clock::now();
  char c;
  EXPECT_EQ(port.Read(c), ERR_PORT_READ);
  unplug.join();
  EXPECT_LT(msSince(start), 30000);  // woken by the hang-up, not by the 60 s time-out
}

TEST_F(PtyPort, AWriteTheDeviceNeverTakesEndsWith1006) {
  CRS232 port;
  port.SetPort(pty.path());
  port.SetTimeoutWrite(200);
  ASSERT_EQ(port.Open(), 0);
  // Far more than the kernel buffers while the device end reads nothing.
  const std::string flood(1 << 20, 'x');
  EXPECT_EQ(port.Write(flood.data(), static_cast<unsigned>(flood.size())), ERR_PORT_WRITE_TIMEOUT);
  EXPECT_TRUE(port.IsOpen());
}

TEST_F(PtyPort, AWrappedForeignDescriptorIsLeftOpen) {
  const int fd = open(pty.path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  {
    CRS232 port(fd);
    EXPECT_TRUE(port.IsOpen());
    EXPECT_EQ(port.GetHandle(), fd);
    EXPECT_EQ(port.Write("x"), 0);
    port.Close();
    EXPECT_FALSE(port.IsOpen());
  }
  EXPECT_NE(fcntl(fd, F_GETFD), -1);  // still a valid descriptor
  EXPECT_EQ(write(fd, "y", 1), 1);
  EXPECT_EQ(pty.receive(2), "xy");
  close(fd);
  EXPECT_TRUE(quorvel::platform::VirtualSleeps().empty());  // no closing pause for a foreign line
}

TEST_F(PtyPort, TheDumpHoldsExactlyWhatPassed) {
  quorvel::test::ScratchDir dir;
  CRS232 port;
  port.SetPort(pty.path());
  port.SetTimeoutRead(2000);
  port.SetBinDump("Test");
  // The file exists, with its header only, before the port is opened.
  std::vector<std::filesystem::path> files;
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    if (e.path().extension() == ".dmp") files.push_back(e.path());
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(quorvel::test::readFile(files[0]), "DMP\x01");

  ASSERT_EQ(port.Open(), 0);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], std::string("Quorvel: ") + "UWAGA! To jest transmisja z zapisem binarnym."_cp);

  EXPECT_EQ(port.Write('\x41'), 0);
  EXPECT_EQ(port.Write("Hello"), 0);
  EXPECT_EQ(port.Write(""), 0);  // records nothing
  EXPECT_EQ(port.Write("\x00\x01\x02", 3), 0);
  CBufor frame(12);
  frame.PutBytes("\xFE\x01\x06\x00\x0A\x9D\x00\x00\xD0\x07\x7E\x01", 12);
  EXPECT_EQ(port.Write(frame), 0);
  EXPECT_EQ(pty.receive(1 + 5 + 3 + 12).size(), 21u);
  pty.send(std::string("\x06\x00", 2));
  char c;
  EXPECT_EQ(port.Read(c), 0);
  EXPECT_EQ(port.Read(c), 0);
  port.SetTimeoutRead(50);
  EXPECT_EQ(port.Read(c), ERR_PORT_READ_TIMEOUT);  // a failed read records nothing
  port.Close();
  EXPECT_EQ(port.Write('z'), ERR_PORT_WRITE);        // after Close nothing more is recorded

  const std::string file = quorvel::test::readFile(files[0]);
  ASSERT_GE(file.size(), 4u);
  EXPECT_EQ(file.substr(0, 4), "DMP\x01");
  const auto contents = quorvel::dump::Decode(file);
  EXPECT_EQ(contents.error, "");
  const std::vector<std::pair<int, std::string>> expected = {
      {2, "A"},
      {4, "Hello"},
      {4, std::string("\x00\x01\x02", 3)},
      {4, std::string("\xFE\x01\x06\x00\x0A\x9D\x00\x00\xD0\x07\x7E\x01", 12)},
      {1, std::string(1, '\x06')},
      {1, std::string(1, '\x00')},
  };
  ASSERT_EQ(contents.records.size(), expected.size());
  for (std::size_t k = 0; k < expected.size(); ++k) {
    EXPECT_EQ(contents.records[k].kind, expected[k].first) << k;
    EXPECT_EQ(contents.records[k].bytes, expected[k].second) << k;
  }
  // The body length is exactly the records': 2 + 10 + 8 + 17 + 2 + 2.
  EXPECT_EQ(file.size(), 4u + 41u);
}

TEST(SerialPortNames, AreMappedAsUsersWriteThem) {
  const struct {
    const char* name;
    const char* path;
  } cases[] = {
      {"COM1", "/dev/ttyS0"},        {"COM2", "/dev/ttyS1"},         {"COM10", "/dev/ttyS9"},
      {"com3", "/dev/ttyS2"},        {"COM0", "/dev/COM0"},          {"COM", "/dev/COM"},
      {"COM1x", "/dev/COM1x"},       {"ttyUSB0", "/dev/ttyUSB0"},    {"ttyACM0", "/dev/ttyACM0"},
      {"/dev/ttyUSB1", "/dev/ttyUSB1"}, {"/tmp/line", "/tmp/line"},
  };
  for (const auto& c : cases) EXPECT_EQ(quorvel::platform::SerialDevicePath(c.name), c.path) << c.name;
}

// Odd names under /dev (a number beyond any integer, a leading zero, a bare prefix) are
// listed in natural order, and each under a name that leads back to its own node; a UART the
// kernel reports empty is left out.
TEST(SerialPortNames, OddNodeNamesAreOrderedAndNamedSafely) {
  quorvel::test::ScratchDir dir;
  std::filesystem::create_directories("sys/ttyS0");
  quorvel::test::writeFile("sys/ttyS0/type", "0\n");
  std::filesystem::create_directory("dev");
  for (const char* node : {"ttyS10", "ttyS2", "ttyS0", "ttyS99999999999999999999", "ttyS01", "ttyS9998", "ttyS9999",
                           "ttyUSB1", "ttyUSB0", "ttyUSB", "ttyACM3", "tty0", "console"})
    quorvel::test::writeFile("dev/" + std::string(node), "");
  const std::vector<std::string> nodes = quorvel::platform::SerialLineNodesIn("dev", "sys");
  EXPECT_EQ(nodes, (std::vector<std::string>{"ttyS01", "ttyS2", "ttyS10", "ttyS9998", "ttyS9999",
                                             "ttyS99999999999999999999", "ttyACM3", "ttyUSB", "ttyUSB0", "ttyUSB1"}));
  std::vector<std::string> names;
  for (const std::string& node : nodes) {
    names.push_back(quorvel::platform::SerialPortName(node));
    EXPECT_EQ(quorvel::platform::SerialDevicePath(names.back()), "/dev/" + node) << names.back();
  }
  EXPECT_EQ(names, (std::vector<std::string>{"ttyS01", "COM3", "COM11", "COM9999", "ttyS9999", "ttyS99999999999999999999",
                                             "ttyACM3", "ttyUSB", "ttyUSB0", "ttyUSB1"}));
}

TEST(SerialPortNames, ListedPortsAreNamesThatOpenFinds) {
  for (const auto& name : quorvel::platform::ListSerialPorts())
    EXPECT_TRUE(std::filesystem::exists(quorvel::platform::SerialDevicePath(name))) << name;
}
