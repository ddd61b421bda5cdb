// The simulators' state files: opened and read line by line the same way by every simulated
// register.
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

// Reads the state file at `path` (opened by openStateFile) and hands every line, as it stands
// in the file, to `take`. A line `take` refuses ends the reading with `error` naming the file
// and the line's number.
template <class Take>
bool readStateFile(const std::string& path, std::string& error, Take&& take) {
  std::ifstream in;
  if (!openStateFile(path, in, error)) return false;
  std::string line;
  int lineNo = 0;
  while (std::getline(in, line)) {
    ++lineNo;
    if (!take(line)) {
      error = path + ":" + std::to_string(lineNo) + ": cannot read this line";
      return false;
    }
  }
  return true;
}

// A line of a text state file without its carriage return; blank lines and lines starting with
// '#' (comments) are to be skipped (true).
inline bool skipStateLine(std::string& line) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line.empty() || line[0] == '#';
}

}  // namespace quorvel::sim
