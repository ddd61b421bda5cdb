#include "platform/serial_ports.h"

#include <dirent.h>
#include <grp.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <string>
#include <utility>

namespace quorvel::platform {

namespace {

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

bool allDigits(const std::string& s, std::size_t from) {
  return from < s.size() && std::all_of(s.begin() + static_cast<std::ptrdiff_t>(from), s.end(),
                                        [](char c) { return c >= '0' && c <= '9'; });
}

// Natural order: ttyS2 before ttyS10.
bool naturalLess(const std::string& a, const std::string& b) {
  auto split = [](const std::string& s) {
    std::size_t i = s.size();
    while (i > 0 && std::isdigit(static_cast<unsigned char>(s[i - 1]))) --i;
    return std::make_pair(s.substr(0, i), i < s.size() ? std::stol(s.substr(i)) : -1L);
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

}  // namespace

std::vector<std::string> SerialLineNodes() {
  std::vector<std::string> com, other;
  for (const std::string& n : entriesOf("/dev")) {
    if (startsWith(n, "ttyS") && allDigits(n, 4)) {
      // Most systems carry ttyS0..31 whether or not a UART exists; the kernel reports the
      // UART type 0 for the empty ones.
      std::ifstream type("/sys/class/tty/" + n + "/type");
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

std::string DeviceGroup(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::string();
  group g{};
  group* found = nullptr;
  std::vector<char> buffer(4096);
  while (::getgrgid_r(st.st_gid, &g, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 20))
    buffer.resize(buffer.size() * 2);
  return found ? std::string(found->gr_name) : std::to_string(st.st_gid);
}

}  // namespace quorvel::platform
