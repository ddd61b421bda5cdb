// The simulators' state files: opened for reading the same way by every simulated register.
#pragma once

#include <sys/stat.h>

#include <fstream>
#include <string>

namespace quorvel::sim {

// Opens the state file at `path` into `in`. A FIFO or a device in its place is refused at once,
// never waited on; false with `error` set when the file is refused or cannot be read.
inline bool openStateFile(const std::string& path, std::ifstream& in, std::string& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    error = path + " is not a regular file";
    return false;
  }
  in.open(path, std::ios::binary);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

}  // namespace quorvel::sim
