#include "platform/serial_backend.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <utility>

#include "platform/clock.h"
#include "platform/cp1250.h"
#include "platform/register_lock.h"
#include "platform/serial_ports.h"

namespace quorvel::platform {

SerialPort::~SerialPort() = default;
SerialBackend::~SerialBackend() = default;

namespace {

SerialSyscallCounts g_counts;

SerialOpenError openErrorOf(int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV:
    case EMFILE:
    case ENFILE:
    case EIO:     // an 8250 node without a UART behind it
    case ENOTTY:  // not a serial line at all
      return SerialOpenError::Missing;
    case EACCES:
    case EPERM:
      return SerialOpenError::Permission;
    case EBUSY:  // another program holds it with TIOCEXCL
    case EWOULDBLOCK:
      return SerialOpenError::Access;
    default:
      return SerialOpenError::Other;
  }
}

bool speedCode(std::uint32_t speed, speed_t& code) {
  static const std::pair<std::uint32_t, speed_t> kSpeeds[] = {
      {50, B50},         {75, B75},         {110, B110},       {134, B134},       {150, B150},
      {200, B200},       {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
      {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
      {57600, B57600},   {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
      {576000, B576000}, {921600, B921600}, {1000000, B1000000}};
  for (const auto& [bps, c] : kSpeeds)
    if (bps == speed) {
      code = c;
      return true;
    }
  return false;
}

// Deadline of a wait of timeoutMs from now; 0 (no limit) stays 0.
std::uint64_t deadlineAfter(std::uint32_t timeoutMs) { return timeoutMs == 0 ? 0 : MonotonicMs() + timeoutMs; }

// Waits until the line is ready or the deadline (0 = none) passes.
// Returns the poll revents, 0 on time-out, -1 on a poll failure.
int waitFor(int fd, short events, std::uint64_t deadline) {
  for (;;) {
    int wait = -1;
    if (deadline != 0) {
      const std::uint64_t now = MonotonicMs();
      wait = now >= deadline ? 0 : static_cast<int>(std::min<std::uint64_t>(deadline - now, 1u << 30));
    }
    pollfd p{fd, events, 0};
    ++g_counts.polls;
    const int r = poll(&p, 1, wait);
    if (r > 0) return p.revents;
    if (r == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

class TermiosPort final : public SerialPort {
 public:
  TermiosPort(int fd, bool owned, std::unique_ptr<RegisterLock> lock = nullptr)
      : fd_(fd), owned_(owned), lock_(std::move(lock)) {
    if (owned_) {
      haveSaved_ = tcgetattr(fd_, &saved_) == 0;
      haveSavedLines_ = ioctl(fd_, TIOCMGET, &savedLines_) == 0;
    }
  }
  ~TermiosPort() override { Close(); }

  bool Configure(const SerialSettings& s) override {
    termios t{};
    if (tcgetattr(fd_, &t) != 0) return false;
    cfmakeraw(&t);
    speed_t code;
    if (!speedCode(s.speed, code)) return false;
    cfsetispeed(&t, code);
    cfsetospeed(&t, code);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    switch (s.dataBits) {
      case 5: t.c_cflag |= CS5; break;
      case 6: t.c_cflag |= CS6; break;
      case 7: t.c_cflag |= CS7; break;
      case 8: t.c_cflag |= CS8; break;
      default: return false;
    }
    switch (s.parity) {
      case 0: break;
      case 1: t.c_cflag |= PARENB | PARODD; break;
      case 2: t.c_cflag |= PARENB; break;
      case 3: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
      case 4: t.c_cflag |= PARENB | CMSPAR; break;
      default: return false;
    }
    // Linux has no one and a half stop bits; two is what UARTs send for it.
    if (s.stopBits == 1 || s.stopBits == 2) t.c_cflag |= CSTOPB;
    else if (s.stopBits != 0) return false;
    // CTS output flow and RTS handshaking are one setting on Linux; DSR output flow has no
    // equivalent and is left off. Received bytes pass unchanged (no INPCK): a parity error
    // does not replace the byte, as the drivers expect.
    if (s.ctsFlow || s.rtsControl == 2) t.c_cflag |= CRTSCTS;
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (tcsetattr(fd_, TCSANOW, &t) != 0) return false;
    // Lines held high or low; handshake modes start high. Pseudo-terminals have no modem
    // lines, so failures here are ignored.
    SetDtr(s.dtrControl != 0);
    if (s.rtsControl != 2) SetRts(s.rtsControl != 0);
    return true;
  }

  bool SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs) override {
    readMs_ = readMs;
    writeMs_ = writeMs;
    return fd_ >= 0;
  }

  SerialIo ReadByte(unsigned char& byte) override {
    if (pos_ < len_) {
      byte = buffer_[pos_++];
      return SerialIo::Ok;
    }
    if (fd_ < 0) return SerialIo::Failed;
    const std::uint64_t deadline = deadlineAfter(readMs_);
    // A short last chunk means the line was drained: wait first instead of making a read
    // that finds nothing (on a line slower than the reader that is every byte).
    bool waitFirst = lastReadShort_;
    bool polled = false;
    for (;;) {
      if (waitFirst) {
        const int ev = waitFor(fd_, POLLIN, deadline);
        if (ev == 0) return SerialIo::Timeout;
        if (ev < 0 || (ev & (POLLNVAL | POLLERR))) return SerialIo::Failed;
        if (!(ev & POLLIN)) return SerialIo::Failed;  // POLLHUP alone: the other end is gone
        polled = true;
      }
      waitFirst = true;
      ++g_counts.reads;
      const ssize_t n = read(fd_, buffer_, sizeof buffer_);
      if (n > 0) {
        len_ = static_cast<std::size_t>(n);
        pos_ = 1;
        lastReadShort_ = len_ < sizeof buffer_;
        byte = buffer_[0];
        return SerialIo::Ok;
      }
      if (n < 0 && errno == EINTR) {
        waitFirst = false;
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return SerialIo::Failed;
      // End of file although poll said the line was readable: hang-up (adapter pulled).
      if (n == 0 && polled) return SerialIo::Failed;
    }
  }

  SerialIo Write(const void* bytes, std::size_t count) override {
    if (fd_ < 0) return SerialIo::Failed;
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (count > 0) {
      ++g_counts.writes;
      const ssize_t n = write(fd_, p, count);
      if (n > 0) {
        p += n;
        count -= static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return SerialIo::Failed;
      // Each wait for room is bounded by the per-byte time-out, so n bytes take at most
      // n times the time-out.
      const int ev = waitFor(fd_, POLLOUT, deadlineAfter(writeMs_));
      if (ev == 0) return SerialIo::Timeout;
      if (ev < 0 || !(ev & POLLOUT)) return SerialIo::Failed;
    }
    return SerialIo::Ok;
  }

  void Purge() override {
    pos_ = len_ = 0;
    if (fd_ >= 0) tcflush(fd_, TCIOFLUSH);
  }

  void SetBreak(bool on) override {
    if (fd_ >= 0) ioctl(fd_, on ? TIOCSBRK : TIOCCBRK);
  }

  void SetDtr(bool on) override { setLine(TIOCM_DTR, on); }
  void SetRts(bool on) override { setLine(TIOCM_RTS, on); }

  bool GetModemStatus(std::uint8_t& status) override {
    int lines = 0;
    if (fd_ < 0 || ioctl(fd_, TIOCMGET, &lines) != 0) return false;
    status = static_cast<std::uint8_t>(((lines & TIOCM_CTS) ? kModemCts : 0) | ((lines & TIOCM_DSR) ? kModemDsr : 0) |
                                       ((lines & TIOCM_RI) ? kModemRing : 0) | ((lines & TIOCM_CD) ? kModemDcd : 0));
    return true;
  }

  void Close() override {
    if (fd_ < 0) return;
    if (owned_) {
      if (haveSaved_) tcsetattr(fd_, TCSANOW, &saved_);
      if (haveSavedLines_) {
        setLine(TIOCM_DTR, (savedLines_ & TIOCM_DTR) != 0);
        setLine(TIOCM_RTS, (savedLines_ & TIOCM_RTS) != 0);
      }
      // The exclusive flag belongs to the tty, not to this descriptor: a pseudo-terminal's
      // other end keeps the tty alive, and the flag would lock everyone else out.
      ioctl(fd_, TIOCNXCL);
      close(fd_);
    }
    fd_ = -1;
    pos_ = len_ = 0;
    // The line's lock goes once the line is closed and its settings are back.
    lock_.reset();
  }

  int Handle() const override { return fd_; }

 private:
  void setLine(int bit, bool on) {
    if (fd_ >= 0) ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit);
  }

  int fd_;
  bool owned_;
  std::unique_ptr<RegisterLock> lock_;  // the line's UUCP lock, held while it is open
  termios saved_{};
  bool haveSaved_ = false;
  int savedLines_ = 0;
  bool haveSavedLines_ = false;
  std::uint32_t readMs_ = 0;
  std::uint32_t writeMs_ = 0;
  // Input is read in chunks and served a byte at a time; every byte still gets the full
  // time-out because the line is only waited for when the chunk is used up.
  unsigned char buffer_[4096];
  std::size_t pos_ = 0;
  std::size_t len_ = 0;
  bool lastReadShort_ = true;
};

class TermiosBackend final : public SerialBackend {
 public:
  std::unique_ptr<SerialPort> Open(const std::string& name, SerialOpenError& error) override {
    error = SerialOpenError::None;
    detail_.clear();
    const std::string path = SerialDevicePath(name);
    // A line this user may not open at all needs no lock, and its message is the permission.
    if (faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0 && (errno == EACCES || errno == EPERM)) {
      error = SerialOpenError::Permission;
      return nullptr;
    }
    // The line is locked first, by the convention other serial programs keep too: a terminal
    // program on the line is seen before its settings are touched.
    auto lock = std::make_unique<RegisterLock>();
    switch (lock->LockSerialLine(path)) {
      case RegisterLock::Result::Held:
      case RegisterLock::Result::NoDevice:  // the open below says it is missing
        break;
      case RegisterLock::Result::Busy:
        error = SerialOpenError::Access;
        detail_ = "port zajęty przez "_cp + lock->HolderText() + "; blokada "_cp + lock->LockFile();
        return nullptr;
      case RegisterLock::Result::Unavailable:
        error = SerialOpenError::Other;
        detail_ = lock->UnavailableText();
        return nullptr;
    }
    // O_NONBLOCK: do not wait for carrier at open; all waiting is done with poll.
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
      error = openErrorOf(errno);
      return nullptr;
    }
    termios probe{};
    if (tcgetattr(fd, &probe) != 0) {
      error = openErrorOf(errno);
      close(fd);
      return nullptr;
    }
    // Exclusive use: the advisory lock keeps out every program that locks (root included,
    // which TIOCEXCL does not stop); TIOCEXCL keeps out the plain opens of others.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      error = errno == EWOULDBLOCK ? SerialOpenError::Access : openErrorOf(errno);
      close(fd);
      return nullptr;
    }
    ioctl(fd, TIOCEXCL);
    return std::make_unique<TermiosPort>(fd, true, std::move(lock));
  }

  std::unique_ptr<SerialPort> Wrap(int handle) override { return std::make_unique<TermiosPort>(handle, false); }

  std::string OpenFailureDetail() const override { return detail_; }

 private:
  std::string detail_;
};

SerialBackend* g_backend = nullptr;

}  // namespace

SerialBackend& TermiosSerialBackend() {
  static TermiosBackend backend;
  return backend;
}

SerialBackend& CurrentSerialBackend() { return g_backend ? *g_backend : TermiosSerialBackend(); }

void SetSerialBackend(SerialBackend* backend) { g_backend = backend; }

SerialSyscallCounts TermiosSyscallCounts() { return g_counts; }

std::string SerialDevicePath(const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  if (name.size() > 3 && (name[0] == 'C' || name[0] == 'c') && (name[1] == 'O' || name[1] == 'o') &&
      (name[2] == 'M' || name[2] == 'm')) {
    const std::string digits = name.substr(3);
    if (digits.size() <= 4 && std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      const int n = std::stoi(digits);
      if (n >= 1) return "/dev/ttyS" + std::to_string(n - 1);
    }
  }
  return "/dev/" + name;
}

std::vector<std::string> ListSerialPorts() {
  std::vector<std::string> names;
  for (const std::string& n : SerialLineNodes()) names.push_back(SerialPortName(n));
  return names;
}

// ---- scripted backend -------------------------------------------------------------------

namespace {

std::string hexBytes(const void* bytes, std::size_t count) {
  std::string s = "write";
  const auto* p = static_cast<const unsigned char*>(bytes);
  char hex[4];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(hex, sizeof hex, " %02X", p[i]);
    s += hex;
  }
  return s;
}

class ScriptedPort final : public SerialPort {
 public:
  ScriptedPort(ScriptedSerialBackend& device, int handle, bool foreign)
      : d_(device), handle_(handle), foreign_(foreign) {}
  ~ScriptedPort() override { Close(); }

  bool Configure(const SerialSettings& s) override {
    d_.log.push_back("configure " + std::to_string(s.speed) + " " + std::to_string(s.dataBits) + " " +
                     std::to_string(s.stopBits) + " " + std::to_string(s.parity));
    return !d_.configureFails;
  }
  bool SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs) override {
    d_.log.push_back("timeouts " + std::to_string(readMs) + " " + std::to_string(writeMs));
    return open_;
  }
  SerialIo ReadByte(unsigned char& byte) override {
    d_.log.push_back("read");
    if (!open_) return SerialIo::Failed;
    if (d_.input.empty()) return d_.readFailure;
    byte = d_.input.front();
    d_.input.pop_front();
    return SerialIo::Ok;
  }
  SerialIo Write(const void* bytes, std::size_t count) override {
    d_.log.push_back(hexBytes(bytes, count));
    if (!open_) return SerialIo::Failed;
    if (++d_.writes == d_.failWriteNumber) return d_.writeFailure;
    const auto* p = static_cast<const unsigned char*>(bytes);
    d_.written.insert(d_.written.end(), p, p + count);
    return SerialIo::Ok;
  }
  void Purge() override { d_.log.push_back("purge"); }
  void SetBreak(bool on) override {
    d_.log.push_back(on ? "break 1" : "break 0");
    d_.breakOn = on;
  }
  void SetDtr(bool on) override {
    d_.log.push_back(on ? "dtr 1" : "dtr 0");
    d_.dtr = on;
  }
  void SetRts(bool on) override {
    d_.log.push_back(on ? "rts 1" : "rts 0");
    d_.rts = on;
  }
  bool GetModemStatus(std::uint8_t& status) override {
    d_.log.push_back("msr");
    if (d_.modemStatusSource) return d_.modemStatusSource(status);
    status = d_.modemStatus;
    return true;
  }
  void Close() override {
    if (!open_) return;
    open_ = false;
    d_.log.push_back(foreign_ ? "release" : "close");
  }
  int Handle() const override { return open_ ? handle_ : -1; }

 private:
  ScriptedSerialBackend& d_;
  int handle_;
  bool foreign_;
  bool open_ = true;
};

}  // namespace

ScriptedSerialBackend::ScriptedSerialBackend() {
  SetSleepObserver([this](unsigned long ms) { log.push_back("sleep " + std::to_string(ms)); });
}

ScriptedSerialBackend::~ScriptedSerialBackend() { SetSleepObserver(nullptr); }

std::unique_ptr<SerialPort> ScriptedSerialBackend::Open(const std::string& name, SerialOpenError& error) {
  log.push_back("open " + name);
  error = openError;
  if (openError != SerialOpenError::None) return nullptr;
  return std::make_unique<ScriptedPort>(*this, 100, false);
}

std::unique_ptr<SerialPort> ScriptedSerialBackend::Wrap(int handle) {
  log.push_back("wrap " + std::to_string(handle));
  return std::make_unique<ScriptedPort>(*this, handle, true);
}

}  // namespace quorvel::platform
