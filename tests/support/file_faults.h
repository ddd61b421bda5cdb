// Making every file operation of a piece of work fail in turn, through the platform's fault
// hook: the work runs once to count its operations of each kind, then once more for the 1st,
// 2nd, ... Nth of each kind failing with EIO.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <string>

#include "platform/job_dir.h"

namespace quorvel::test {

struct FileFault {
  platform::FileOp op;
  unsigned nth;
};

inline std::string describe(const FileFault& f) {
  static const char* const kNames[] = {"open", "write", "sync", "rename", "close", "read"};
  return std::string(kNames[static_cast<int>(f.op)]) + " #" + std::to_string(f.nth) + " fails";
}

// `prepare` sets the scene before every run (and clears what the last run left), `work` does
// the piece of work, `check` judges each failing run. Returns how many failing runs there were.
inline unsigned forEachFileFault(const std::function<void()>& prepare, const std::function<void()>& work,
                                 const std::function<void(const FileFault&)>& check) {
  using platform::FileFaults;
  using platform::FileOp;
  unsigned runs = 0;
  for (const FileOp op : {FileOp::Open, FileOp::Write, FileOp::Sync, FileOp::Rename, FileOp::Close, FileOp::Read}) {
    prepare();
    FileFaults::Clear();
    work();
    const unsigned count = FileFaults::Count(op);
    for (unsigned nth = 1; nth <= count; ++nth) {
      const FileFault fault{op, nth};
      SCOPED_TRACE(describe(fault));
      prepare();
      FileFaults::Clear();
      FileFaults::Arm(op, nth, EIO);
      work();
      FileFaults::Clear();
      check(fault);
      ++runs;
    }
  }
  return runs;
}

}  // namespace quorvel::test
