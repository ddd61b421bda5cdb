// The progress bar of `quorvel run`: what the driver is doing, how far it is, its rate and the
// time left, redrawn in place on a terminal.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace quorvel::platform {
struct Module;
}

namespace quorvel::host {

class ProgressBar {
 public:
  // Draws on `out` only when it is a terminal; otherwise every call does nothing.
  explicit ProgressBar(std::FILE* out);
  ~ProgressBar() { finish(); }
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Gives the loaded core the bar as its progress callback (a core without one is left alone).
  void connect(quorvel::platform::Module* core);
  // `done` of `total` items of `what` (windows-1250). A finished work keeps its line; the next
  // work, or finish(), ends it.
  void update(long done, long total, const char* what);
  // Ends a line left open (a job that stopped early), so the report starts on a fresh line.
  void finish();

 private:
  using Clock = std::chrono::steady_clock;
  std::FILE* out_;
  bool terminal_;
  bool lineOpen_ = false;
  std::string what_;
  long startDone_ = 0;
  long lastDone_ = 0;
  Clock::time_point start_{};
};

// The bar's text for a state (no terminal codes): e.g.
// "Przesyłanie towarów  [#####-----------]  1200/27000   4%  12.5/s  left 34:24".
// `seconds` is the time since the work began, when it began at `startDone` items.
std::string progressLine(const std::string& whatUtf8, long done, long total, long startDone, double seconds);

}  // namespace quorvel::host
