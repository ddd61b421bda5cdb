// Stand-in for POSNET's libposnet: device handles, the serial line or TCP connection to the
// register, and requests completed by one worker thread per open device. Requests travel as
// frames of sim/posnet/frame.h; posnet_sim answers them.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "drivers/posnet/posnet_api.h"
#include "platform/cp1250.h"
#include "sim/posnet/frame.h"
#include "sim/posnet/standin.h"

using namespace quorvel::posnetsim;

namespace {

// The library's transmission log: readable lines, and with level -1 every frame's bytes.
class Log {
 public:
  void setFile(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_);
    if (file_) std::fclose(file_);
    file_ = nullptr;
    name_ = name;
    reopen();
  }
  void setLevel(int level) {
    std::lock_guard<std::mutex> lock(m_);
    level_ = level;
    reopen();
  }
  ~Log() {
    if (file_) std::fclose(file_);
  }
  void line(const std::string& text) {
    std::lock_guard<std::mutex> lock(m_);
    if (!file_) return;
    std::fprintf(file_, "%s %s\n", stamp().c_str(), text.c_str());
    std::fflush(file_);
  }
  void frame(const char* direction, const Bytes& bytes, const Fields* fields) {
    std::lock_guard<std::mutex> lock(m_);
    if (!file_) return;
    std::string text;
    if (fields) {
      for (std::size_t i = 0; i < fields->size(); ++i) text += (i ? " | " : "") + readable((*fields)[i]);
    } else {
      text = "(frame not understood)";
    }
    std::fprintf(file_, "%s %s #%u %s\n", stamp().c_str(), direction,
                 bytes.size() >= 5 ? static_cast<unsigned>(bytes[3] | bytes[4] << 8) : 0u, text.c_str());
    if (level_ < 0) {
      for (std::size_t i = 0; i < bytes.size(); i += 16) {
        std::string hex = "   ";
        for (std::size_t j = i; j < bytes.size() && j < i + 16; ++j) {
          char b[4];
          std::snprintf(b, sizeof b, " %02x", bytes[j]);
          hex += b;
        }
        std::fprintf(file_, "%s\n", hex.c_str());
      }
    }
    std::fflush(file_);
  }

 private:
  void reopen() {
    if (level_ == 0 || name_.empty()) {
      if (file_) std::fclose(file_);
      file_ = nullptr;
    } else if (!file_) {
      file_ = std::fopen(name_.c_str(), "a");
    }
  }
  static std::string stamp() {
    timeval tv{};
    ::gettimeofday(&tv, nullptr);
    std::tm tm{};
    ::localtime_r(&tv.tv_sec, &tm);
    char b[48];
    std::snprintf(b, sizeof b, "%04d-%02d-%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(tv.tv_usec / 1000));
    return b;
  }
  // Windows-1250 shown as UTF-8; control bytes as \xNN, a line feed as \n.
  static std::string readable(const std::string& s) {
    std::string o;
    for (unsigned char c : s) {
      if (c == '\n') {
        o += "\\n";
      } else if (c < 0x20 || c == 0x7F) {
        char b[8];
        std::snprintf(b, sizeof b, "\\x%02x", c);
        o += b;
      } else {
        o += static_cast<char>(c);
      }
    }
    return quorvel::cp1250::toUtf8(o);
  }

  std::mutex m_;
  std::string name_;
  int level_ = 0;
  std::FILE* file_ = nullptr;
};

struct RequestState {
  std::mutex m;
  std::condition_variable cv;
  Fields command;
  bool done = false;
  bool cancelled = false;
  std::uint32_t status = POSNET_STATUS_TIMEOUT;
  Fields results;

  void complete(std::uint32_t s, Fields r = {}) {
    {
      std::lock_guard<std::mutex> lock(m);
      if (done) return;
      status = s;
      results = std::move(r);
      done = true;
    }
    cv.notify_all();
  }
};

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Writes the whole frame; a connection the register closed is an error, never a SIGPIPE that
// would end the host's process.
bool writeAll(int fd, bool socket, const Bytes& b, int timeoutMs) {
  std::size_t at = 0;
  const long long end = nowMs() + timeoutMs;
  while (at < b.size()) {
    const ssize_t n = socket ? ::send(fd, b.data() + at, b.size() - at, MSG_NOSIGNAL)
                             : ::write(fd, b.data() + at, b.size() - at);
    if (n > 0) {
      at += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EINTR && errno != EAGAIN) return false;
    const long long left = end - nowMs();
    if (left <= 0) return false;
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(left));
  }
  return true;
}

// "COMn" is /dev/ttyS(n-1), a name with a slash is a path, any other name lies under /dev/.
std::string portPath(const std::string& name) {
  if (name.size() > 3 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "com") == 0)) {
    bool digits = true;
    for (std::size_t i = 3; i < name.size(); ++i) digits = digits && name[i] >= '0' && name[i] <= '9';
    if (digits) return "/dev/ttyS" + std::to_string(std::atoi(name.c_str() + 3) - 1);
  }
  if (name.find('/') != std::string::npos) return name;
  return "/dev/" + name;
}

speed_t speedCode(long bps) {
  switch (bps) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

std::vector<std::string> splitComma(const std::string& s) {
  std::vector<std::string> out;
  std::size_t at = 0;
  for (;;) {
    const std::size_t c = s.find(',', at);
    out.push_back(s.substr(at, c == std::string::npos ? std::string::npos : c - at));
    if (c == std::string::npos) return out;
    at = c + 1;
  }
}

}  // namespace

// The handle object: the vendor's layout keeps the serial descriptor at byte 512; what this
// library needs besides lives behind `data`.
struct HandleData;
struct posnet_device_handle_s {
  unsigned char reserved[POSNET_HANDLE_SERIAL_FD_OFFSET];
  int serialFd;
  std::uint32_t deviceType;
  HandleData* data;
};
static_assert(offsetof(posnet_device_handle_s, serialFd) == POSNET_HANDLE_SERIAL_FD_OFFSET);
static_assert(sizeof(posnet_device_handle_s) >= POSNET_HANDLE_OBJECT_MIN_SIZE);

struct HandleData {
  std::string serialParam;
  std::string ipParam;
  std::shared_ptr<Log> log = std::make_shared<Log>();
  posnet_device_s* device = nullptr;
  std::uint32_t openError = 0;  // why the last open failed (POS_GetDeviceError)
};

struct posnet_request_s {
  std::shared_ptr<RequestState> state;
};

struct posnet_device_s {
  posnet_device_handle_s* handle = nullptr;
  int fd = -1;
  bool serial = false;
  std::shared_ptr<Log> log;
  std::uint32_t timeoutMs = 3000;

  std::mutex m;
  std::condition_variable cv;
  std::deque<std::shared_ptr<RequestState>> queue;
  std::atomic<bool> stopping{false};
  bool broken = false;  // the line or connection failed: every later request fails at once
  std::thread worker;
  std::uint16_t number = 0;
  FrameStream stream;

  // Sends one request and waits for the answer with its number; the status and results.
  std::uint32_t exchange(const Fields& request, Fields& results, long long timeoutMs) {
    if (broken) return POSNET_STATUS_COMM_ERROR;
    const std::uint16_t n = ++number == 0 ? ++number : number;
    const Bytes frame = encodeFrame(n, joinFields(request));
    log->frame("->", frame, &request);
    if (!writeAll(fd, !serial, frame, static_cast<int>(timeoutMs))) {
      broken = true;
      log->line("write failed: " + std::string(std::strerror(errno)));
      return POSNET_STATUS_COMM_ERROR;
    }
    const std::size_t badBefore = stream.badFrames();
    const long long end = nowMs() + timeoutMs;
    for (;;) {
      Frame f;
      while (stream.next(f)) {
        Fields answer;
        const Bytes raw = encodeFrame(f.requestNumber, f.payload);
        if (!splitFields(f.payload, answer) || answer.empty()) {
          log->frame("<-", raw, nullptr);
          return POSNET_STATUS_BAD_FRAME;
        }
        log->frame("<-", raw, &answer);
        if (f.requestNumber != n) continue;  // a late answer to a request given up
        char* endp = nullptr;
        const unsigned long status = std::strtoul(answer[0].c_str(), &endp, 10);
        if (answer[0].empty() || *endp) return POSNET_STATUS_BAD_FRAME;
        results.assign(answer.begin() + 1, answer.end());
        return static_cast<std::uint32_t>(status);
      }
      if (stopping) return POSNET_STATUS_CANCELLED;
      const long long left = end - nowMs();
      if (left <= 0) {
        if (stream.badFrames() != badBefore) return POSNET_STATUS_CRC_ERROR;
        log->line("no answer within " + std::to_string(timeoutMs) + " ms");
        return POSNET_STATUS_TIMEOUT;
      }
      pollfd p{fd, POLLIN, 0};
      const int r = ::poll(&p, 1, static_cast<int>(left < 100 ? left : 100));
      if (r < 0 && errno != EINTR) {
        broken = true;
        return POSNET_STATUS_COMM_ERROR;
      }
      if (r <= 0) continue;
      std::uint8_t buf[8192];
      const ssize_t got = ::read(fd, buf, sizeof buf);
      if (got > 0) {
        stream.append(buf, static_cast<std::size_t>(got));
      } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
        broken = true;
        log->line(got == 0 ? "connection closed by the register" : "read failed: " + std::string(std::strerror(errno)));
        return POSNET_STATUS_COMM_ERROR;
      }
    }
  }

  void run() {
    for (;;) {
      std::shared_ptr<RequestState> r;
      {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [this] { return stopping || !queue.empty(); });
        if (stopping) break;
        r = queue.front();
        queue.pop_front();
      }
      bool cancelled = false;
      {
        std::lock_guard<std::mutex> lock(r->m);
        cancelled = r->cancelled;
      }
      if (cancelled) {
        r->complete(POSNET_STATUS_CANCELLED);
        continue;
      }
      Fields results;
      const std::uint32_t status = exchange(r->command, results, timeoutMs);
      r->complete(status, std::move(results));
    }
    std::lock_guard<std::mutex> lock(m);
    for (auto& r : queue) r->complete(POSNET_STATUS_CANCELLED);
    queue.clear();
  }
};

namespace quorvel::posnetsim {

std::uint32_t answerTimeoutMs() {
  const char* v = std::getenv("POSNET_SIM_TIMEOUT_MS");
  const long ms = v ? std::atol(v) : 0;
  return ms > 0 && ms < 600000 ? static_cast<std::uint32_t>(ms) : 3000u;
}

std::uint32_t submitRequest(POSNET_DEVICE device, POSNET_REQUEST* request, Fields fields) {
  if (!request) return POSNET_STATUS_BAD_PARAMETER_1 + 1;
  *request = nullptr;
  if (!device) return POSNET_STATUS_BAD_PARAMETER_1;
  // A request that cannot travel in one frame is refused here, naming its longest argument.
  if (joinFields(fields).size() > kMaxPayload) {
    std::size_t longest = 1;
    for (std::size_t i = 1; i < fields.size(); ++i)
      if (fields[i].size() > fields[longest].size()) longest = i;
    return POSNET_STATUS_BAD_PARAMETER_1 + static_cast<std::uint32_t>(longest - 1) + 2;
  }
  auto state = std::make_shared<RequestState>();
  state->command = std::move(fields);
  {
    std::lock_guard<std::mutex> lock(device->m);
    if (device->stopping) return POSNET_STATUS_COMM_ERROR;
    device->queue.push_back(state);
  }
  device->cv.notify_one();
  *request = new posnet_request_s{std::move(state)};
  return 0;
}

const Fields* requestResults(POSNET_REQUEST request, const char* command) {
  if (!request) return nullptr;
  RequestState& r = *request->state;
  std::lock_guard<std::mutex> lock(r.m);
  if (!r.done || r.status != 0 || r.command.empty() || r.command[0] != command) return nullptr;
  return &r.results;
}

}  // namespace quorvel::posnetsim

namespace {

int openSerial(const std::string& param, std::string& what) {
  const std::vector<std::string> p = splitComma(param);
  if (p.size() != 6 || p[0].empty()) {
    what = "bad serial parameters \"" + param + "\"";
    return -1;
  }
  const std::string path = portPath(p[0]);
  const speed_t speed = speedCode(std::atol(p[1].c_str()));
  const int data = std::atoi(p[2].c_str());
  const char parity = p[3].empty() ? '?' : p[3][0];
  const int stop = std::atoi(p[4].c_str());
  if (speed == B0 || (data != 7 && data != 8) || (parity != 'N' && parity != 'E' && parity != 'O') ||
      (stop != 1 && stop != 2)) {
    what = "bad serial parameters \"" + param + "\"";
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    what = path + ": " + std::strerror(errno);
    return -1;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    what = path + ": in use by another program";
    ::close(fd);
    return -1;
  }
  ::ioctl(fd, TIOCEXCL);
  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    what = path + ": not a serial line";
    ::close(fd);
    return -1;
  }
  ::cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
  t.c_cflag |= static_cast<tcflag_t>((data == 7 ? CS7 : CS8) | CLOCAL | CREAD);
  if (parity != 'N') t.c_cflag |= PARENB;
  if (parity == 'O') t.c_cflag |= PARODD;
  if (stop == 2) t.c_cflag |= CSTOPB;
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  ::tcsetattr(fd, TCSANOW, &t);
  // Answers left on the line by an earlier job go; bytes still on their way out stay: they
  // may be a multiplexer's switching sequence written just before this open.
  ::tcflush(fd, TCIFLUSH);
  what = path;
  return fd;
}

// The library's status for a failed connect's errno.
std::uint32_t connectStatus(int err) {
  switch (err) {
    case ECONNREFUSED: return POSNET_STATUS_CONNECTION_REFUSED;
    case ENETUNREACH:
    case EHOSTUNREACH: return POSNET_STATUS_NETWORK_UNREACHABLE;
    case ETIMEDOUT: return POSNET_STATUS_CONNECT_TIMEOUT;
    default: return POSNET_STATUS_CANNOT_OPEN;
  }
}

int openTcp(const std::string& address, std::uint32_t timeoutMs, std::string& what, std::uint32_t& why) {
  why = POSNET_STATUS_CANNOT_OPEN;
  std::string host = address;
  int port = POSNET_DEFAULT_TCP_PORT;
  const std::size_t colon = address.rfind(':');
  if (colon != std::string::npos) {
    host = address.substr(0, colon);
    port = std::atoi(address.c_str() + colon + 1);
  }
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  if (port <= 0 || port > 65535 || ::inet_pton(AF_INET, host.c_str(), &a.sin_addr) != 1) {
    what = "bad address \"" + address + "\"";
    return -1;
  }
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return -1;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    if (errno != EINPROGRESS) {
      why = connectStatus(errno);
      what = address + ": " + std::strerror(errno);
      ::close(fd);
      return -1;
    }
    // The connection is waited for until the library's time runs out.
    pollfd p{fd, POLLOUT, 0};
    int ready = 0;
    const long long end = nowMs() + timeoutMs;
    for (long long left = timeoutMs; left > 0; left = end - nowMs()) {
      ready = ::poll(&p, 1, static_cast<int>(left));
      if (ready >= 0 || errno != EINTR) break;
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (ready != 1) err = ETIMEDOUT;
    else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) {
      why = connectStatus(err);
      what = address + ": " + std::strerror(err);
      ::close(fd);
      return -1;
    }
  }
  why = 0;
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  what = address;
  return fd;
}

void closeLine(posnet_device_s* d) {
  if (d->fd < 0) return;
  if (d->serial) {
    ::ioctl(d->fd, TIOCNXCL);
    d->handle->serialFd = -1;
  }
  ::close(d->fd);
  d->fd = -1;
}

}  // namespace

extern "C" {

POSNET_HANDLE POS_CreateDeviceHandle(uint32_t deviceType) {
  if (deviceType != POSNET_DEVICE_RS232 && deviceType != POSNET_DEVICE_ETHERNET) return nullptr;
  auto* h = new posnet_device_handle_s{};
  h->serialFd = -1;
  h->deviceType = deviceType;
  h->data = new HandleData;
  return h;
}

POSNET_STATUS POS_SetDeviceParam(POSNET_HANDLE handle, uint32_t param, const char* value) {
  if (!handle) return POSNET_STATUS_BAD_PARAMETER_1;
  if (!value) return POSNET_STATUS_BAD_PARAMETER_1 + 2;
  if (param == POSNET_PARAM_SERIAL)
    handle->data->serialParam = value;
  else if (param == POSNET_PARAM_IP_ADDRESS)
    handle->data->ipParam = value;
  else
    return POSNET_STATUS_BAD_PARAMETER_1 + 1;
  return 0;
}

POSNET_DEVICE POS_OpenDevice(POSNET_HANDLE handle) {
  if (!handle || handle->data->device) return nullptr;
  HandleData& hd = *handle->data;
  auto* d = new posnet_device_s;
  d->handle = handle;
  d->log = hd.log;
  d->timeoutMs = answerTimeoutMs();
  std::string what;
  hd.openError = POSNET_STATUS_CANNOT_OPEN;
  if (handle->deviceType == POSNET_DEVICE_RS232) {
    d->serial = true;
    d->fd = openSerial(hd.serialParam, what);
  } else {
    d->fd = openTcp(hd.ipParam, d->timeoutMs, what, hd.openError);
  }
  if (d->fd < 0) {
    d->log->line("open failed: " + what);
    delete d;
    return nullptr;
  }
  if (d->serial) handle->serialFd = d->fd;
  d->log->line(std::string("opened ") + (d->serial ? "serial line " : "TCP connection ") + what);
  // One hello before anything else, so the register sees the library's first bytes now. A
  // register behind a multiplexer that is switched only after this open cannot answer it yet:
  // the answer is not required.
  Fields ignored;
  const std::uint32_t hello = d->exchange({"HELLO"}, ignored, std::min<std::uint32_t>(d->timeoutMs, 1000));
  if (hello == POSNET_STATUS_COMM_ERROR) {
    closeLine(d);
    delete d;
    return nullptr;
  }
  d->worker = std::thread([d] { d->run(); });
  hd.device = d;
  hd.openError = 0;
  return d;
}

POSNET_STATUS POS_GetDeviceError(POSNET_HANDLE handle) {
  if (!handle) return POSNET_STATUS_BAD_PARAMETER_1;
  return handle->data->openError;
}

POSNET_STATUS POS_SetDebugFileName(POSNET_HANDLE handle, const char* fileName) {
  if (!handle) return POSNET_STATUS_BAD_PARAMETER_1;
  if (!fileName) return POSNET_STATUS_BAD_PARAMETER_1 + 1;
  handle->data->log->setFile(fileName);
  return 0;
}

POSNET_STATUS POS_SetDebugLevel(POSNET_HANDLE handle, int32_t level) {
  if (!handle) return POSNET_STATUS_BAD_PARAMETER_1;
  handle->data->log->setLevel(level);
  return 0;
}

POSNET_STATUS POS_CloseDevice(POSNET_DEVICE device) {
  if (!device) return POSNET_STATUS_BAD_PARAMETER_1;
  {
    std::lock_guard<std::mutex> lock(device->m);
    device->stopping = true;
  }
  device->cv.notify_all();
  if (device->worker.joinable()) device->worker.join();
  closeLine(device);
  device->log->line("closed");
  if (device->handle && device->handle->data->device == device) device->handle->data->device = nullptr;
  delete device;
  return 0;
}

POSNET_STATUS POS_DestroyDeviceHandle(POSNET_HANDLE handle) {
  if (!handle) return POSNET_STATUS_BAD_PARAMETER_1;
  if (handle->data->device) POS_CloseDevice(handle->data->device);
  delete handle->data;
  delete handle;
  return 0;
}

POSNET_STATUS POS_WaitForRequestCompleted(POSNET_REQUEST request, uint32_t timeoutMs) {
  if (!request) return POSNET_STATUS_BAD_PARAMETER_1;
  RequestState& r = *request->state;
  std::unique_lock<std::mutex> lock(r.m);
  return r.cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&r] { return r.done; }) ? 0 : POSNET_STATUS_TIMEOUT;
}

POSNET_STATUS POS_GetRequestStatus(POSNET_REQUEST request) {
  if (!request) return POSNET_STATUS_BAD_PARAMETER_1;
  RequestState& r = *request->state;
  std::lock_guard<std::mutex> lock(r.m);
  return r.done ? r.status : POSNET_STATUS_TIMEOUT;
}

void POS_DestroyRequest(POSNET_REQUEST request) {
  if (!request) return;
  {
    std::lock_guard<std::mutex> lock(request->state->m);
    request->state->cancelled = true;  // still queued: the worker skips it
  }
  delete request;
}

}  // extern "C"
