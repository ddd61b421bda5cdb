// Where the program finds the libraries that belong to it: the core and the driver plug-ins.
#pragma once

#include <string>

#include "platform/module.h"
#include "platform/process.h"

#ifndef QUORVEL_INSTALL_LIBDIR
#define QUORVEL_INSTALL_LIBDIR "lib"
#endif

namespace quorvel::host {

// In an installation lib/quorvel beside bin/, in the build tree lib/ beside bin/. Named by
// path, so that a library of the same name lying in a job directory is never picked up
// instead; the bare name (the loader's ordinary search) is the last resort.
inline std::string programLibrary(const std::string& fileName) {
  const std::string exeDir = quorvel::platform::ExecutableDirectory();
  if (!exeDir.empty()) {
    for (const char* sub : {"/../" QUORVEL_INSTALL_LIBDIR "/quorvel/", "/../" QUORVEL_INSTALL_LIBDIR "/", "/../lib/"}) {
      const std::string candidate = exeDir + sub + fileName;
      if (quorvel::platform::FileReadable(candidate.c_str())) return candidate;
    }
  }
  return fileName;
}

}  // namespace quorvel::host
