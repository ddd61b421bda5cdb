// Options that several commands of `quorvel` share.
#pragma once

#include <string_view>

namespace quorvel::host {

enum class DirectoryOption {
  NotIt,    // argv[i] is not the option -C
  Taken,    // `directory` set; i points at the last word of the option
  Missing,  // -C ends the command line without a directory
};

// Reads the job directory option at argv[i]: "-C DIR" (i moves on to DIR) or "-CDIR".
inline DirectoryOption takeDirectoryOption(int argc, char** argv, int& i, const char*& directory) {
  const std::string_view arg = argv[i];
  if (arg == "-C") {
    if (i + 1 >= argc) return DirectoryOption::Missing;
    directory = argv[++i];
    return DirectoryOption::Taken;
  }
  if (arg.size() > 2 && arg.substr(0, 2) == "-C") {
    directory = argv[i] + 2;
    return DirectoryOption::Taken;
  }
  return DirectoryOption::NotIt;
}

}  // namespace quorvel::host
