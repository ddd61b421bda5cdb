#include "platform/serial_ports.h"

#include <dirent.h>
#include <grp.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <tuple>
#include <utility>

#include "platform/register_lock.h"

namespace quorvel::platform {

namespace {

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool allDigits(const std::string& s, std::size_t from) {
  return from < s.size() && std::all_of(s.begin() + static_cast<std::ptrdiff_t>(from), s.end(),
                                        [](char c) { return c >= '0' && c <= '9'; });
}

// Natural order: ttyS2 before ttyS10. The trailing numbers are compared as digit strings
// (without leading zeros, shorter first), so that no name under /dev, however long its
// number, can make the comparison fail.
bool naturalLess(const std::string& a, const std::string& b) {
  auto split = [](const std::string& s) {
    std::size_t i = s.size();
    while (i > 0 && std::isdigit(static_cast<unsigned char>(s[i - 1]))) --i;
    const std::size_t significant = std::min(s.find_first_not_of('0', i), s.size() - 1);
    const std::string number = i < s.size() ? s.substr(significant) : std::string();
    return std::make_tuple(s.substr(0, i), i < s.size(), number.size(), number, s);
  };
  return split(a) < split(b);
}

// Entries of a directory, without "." and "..".
std::vector<std::string> entriesOf(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(path.c_str())) {
    while (const dirent* e = ::readdir(dir)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    ::closedir(dir);
  }
  return names;
}

std::string resolved(const std::string& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) ? std::string(buf) : std::string();
}

std::string processName(const std::string& pid) {
  std::ifstream in("/proc/" + pid + "/comm");
  std::string name;
  std::getline(in, name);
  return pid + (name.empty() ? "" : " " + name);
}

void addHolder(std::vector<std::string>& holders, const std::string& pid) {
  const std::string entry = processName(pid);
  if (std::find(holders.begin(), holders.end(), entry) == holders.end()) holders.push_back(entry);
}

// Processes with an advisory lock on the node (another Quorvel job among them), from
// /proc/locks, which every user may read: "1: FLOCK ADVISORY WRITE PID MAJ:MIN:INODE ...".
void addLockHolders(const struct stat& node, std::vector<std::string>& holders) {
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    char kind[16], mode[16], access[16];
    long pid = 0;
    unsigned major = 0, minor = 0;
    unsigned long inode = 0;
    if (std::sscanf(line.c_str(), "%*[^:]: %15s %15s %15s %ld %x:%x:%lu", kind, mode, access, &pid, &major, &minor,
                    &inode) != 7)
      continue;
    if (major == ::major(node.st_dev) && minor == ::minor(node.st_dev) && inode == node.st_ino && pid > 0 &&
        pid != ::getpid())
      addHolder(holders, std::to_string(pid));
  }
}

// Open descriptors of other processes (all of them for root, one's own otherwise), as holders
// of the lines they lead to.
void addOpenHolders(std::vector<SerialLineInfo>& lines) {
  const std::string self = std::to_string(::getpid());
  for (const std::string& pid : entriesOf("/proc")) {
    if (!allDigits(pid, 0) || pid == self) continue;
    const std::string fdDir = "/proc/" + pid + "/fd/";
    for (const std::string& fd : entriesOf(fdDir)) {
      char target[PATH_MAX];
      const ssize_t len = ::readlink((fdDir + fd).c_str(), target, sizeof target - 1);
      if (len <= 0) continue;
      const std::string path(target, static_cast<std::size_t>(len));
      for (auto& line : lines)
        if (line.device == path) addHolder(line.holders, pid);
    }
  }
}

}  // namespace

std::string ProcessName(long pid) {
  const std::string entry = processName(std::to_string(pid));
  const std::size_t space = entry.find(' ');
  return space == std::string::npos ? std::string() : entry.substr(space + 1);
}

SerialLineInfo DescribeSerialLine(const std::string& device) {
  std::vector<SerialLineInfo> lines(1);
  SerialLineInfo& line = lines.front();
  // Descriptors lead to the node itself, whatever link the configuration names.
  const std::string node = resolved(device);
  line.device = node.empty() ? device : node;
  line.group = AccessGroup(line.device);
  line.mayOpen = ::access(line.device.c_str(), R_OK | W_OK) == 0;
  addOpenHolders(lines);
  struct stat st {};
  if (::stat(line.device.c_str(), &st) == 0) addLockHolders(st, line.holders);
  if (const long pid = SerialLineLockHolder(line.device); pid > 0 && pid != ::getpid())
    addHolder(line.holders, std::to_string(pid));
  line.device = device;
  return line;
}

std::vector<std::string> SerialLineNodes() { return SerialLineNodesIn("/dev", "/sys/class/tty"); }

std::vector<std::string> SerialLineNodesIn(const std::string& dev, const std::string& sysTty) {
  std::vector<std::string> com, other;
  for (const std::string& n : entriesOf(dev)) {
    if (startsWith(n, "ttyS") && allDigits(n, 4)) {
      // Most systems carry ttyS0..31 whether or not a UART exists; the kernel reports the
      // UART type 0 for the empty ones.
      std::ifstream type(sysTty + "/" + n + "/type");
      int t = -1;
      if (type >> t && t == 0) continue;
      com.push_back(n);
    } else if (startsWith(n, "ttyUSB") || startsWith(n, "ttyACM") || startsWith(n, "ttyAMA") ||
               startsWith(n, "rfcomm")) {
      other.push_back(n);
    }
  }
  std::sort(com.begin(), com.end(), naturalLess);
  std::sort(other.begin(), other.end(), naturalLess);
  com.insert(com.end(), other.begin(), other.end());
  return com;
}

std::string SerialPortName(const std::string& node) {
  // SerialDevicePath takes COM1 to COM9999 to ttyS0 to ttyS9998; other numbers, and numbers
  // written with a leading zero, would lead elsewhere and keep the node's name.
  if (startsWith(node, "ttyS") && allDigits(node, 4) && node.size() <= 8 && (node.size() == 5 || node[4] != '0')) {
    const int n = std::stoi(node.substr(4));
    if (n < 9999) return "COM" + std::to_string(n + 1);
  }
  return node;
}

std::string AccessGroup(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || (st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return std::string();
  group g{};
  group* found = nullptr;
  std::vector<char> buffer(4096);
  while (::getgrgid_r(st.st_gid, &g, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 20))
    buffer.resize(buffer.size() * 2);
  return found ? std::string(found->gr_name) : std::to_string(st.st_gid);
}

std::vector<SerialLineInfo> ScanSerialLines() {
  std::vector<SerialLineInfo> lines;
  for (const std::string& n : SerialLineNodes()) {
    SerialLineInfo line;
    line.device = "/dev/" + n;
    line.group = AccessGroup(line.device);
    line.mayOpen = ::access(line.device.c_str(), R_OK | W_OK) == 0;
    lines.push_back(std::move(line));
  }
  // Stable names of USB adapters: links that survive replugging into another socket.
  const std::string byId = "/dev/serial/by-id/";
  for (const std::string& link : entriesOf(byId)) {
    const std::string target = resolved(byId + link);
    for (auto& line : lines)
      if (line.device == target) line.byId.push_back(byId + link);
  }
  addOpenHolders(lines);
  for (auto& line : lines) {
    struct stat st {};
    if (::stat(line.device.c_str(), &st) == 0) addLockHolders(st, line.holders);
    std::sort(line.byId.begin(), line.byId.end());
  }
  return lines;
}

}  // namespace quorvel::platform
