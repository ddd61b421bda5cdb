#include "host/progress_bar.h"

#include <algorithm>

#include "core/progress.h"
#include "platform/cp1250.h"
#include "platform/module.h"
#include "platform/process.h"

namespace quorvel::host {
namespace {

constexpr int kBarWidth = 16;
constexpr std::size_t kWhatWidth = 20;  // characters; the line stays within 80 columns

// A rate is shown once the work has run a second (earlier it jumps about too much to be read),
// and for a finished work.
constexpr double kRateAfterSeconds = 1.0;

// Times beyond 99:59:59 are shown as that: they only say "very long".
constexpr double kLongestShown = 99 * 3600 + 59 * 60 + 59;

std::string clockTime(long seconds) {
  char text[32];
  if (seconds >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", seconds / 3600, seconds / 60 % 60, seconds % 60);
  else
    std::snprintf(text, sizeof text, "%ld:%02ld", seconds / 60, seconds % 60);
  return text;
}

// Cut or padded to `width` characters (UTF-8).
std::string fitted(const std::string& utf8, std::size_t width) {
  std::string out;
  std::size_t chars = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto c = static_cast<unsigned char>(utf8[i]);
    if ((c & 0xC0) != 0x80 && chars++ == width) break;
    out += utf8[i];
  }
  if (chars < width) out.append(width - chars, ' ');
  return out;
}

void onProgress(void* context, long done, long total, const char* what) {
  static_cast<ProgressBar*>(context)->update(done, total, what);
}

}  // namespace

std::string progressLine(const std::string& whatUtf8, long done, long total, long startDone, double seconds) {
  // The counts come from a driver, which has them from the register: in floating point, so
  // that no count, however large, overflows the bar, the percentage or the time left.
  const double shownTotal = std::max(static_cast<double>(total), 1.0);
  const double fraction = std::clamp(static_cast<double>(done), 0.0, shownTotal) / shownTotal;
  const int filled = static_cast<int>(fraction * kBarWidth);
  const int percent = static_cast<int>(fraction * 100);
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kBarWidth - filled), '-');

  std::string rate = "--/s";
  std::string left = "--:--";
  const double gained = static_cast<double>(done) - static_cast<double>(startDone);
  if ((seconds >= kRateAfterSeconds || (done >= total && seconds > 0)) && gained > 0) {
    const double perSecond = gained / seconds;
    char text[32];
    std::snprintf(text, sizeof text, perSecond < 10 ? "%.1f/s" : "%.0f/s", perSecond);
    rate = text;
    const double remaining = done < total ? (static_cast<double>(total) - static_cast<double>(done)) / perSecond : 0.0;
    left = clockTime(static_cast<long>(std::min(remaining, kLongestShown) + 0.5));
  }
  const std::string time =
      done >= total ? clockTime(static_cast<long>(std::min(seconds, kLongestShown) + 0.5)) + " in all" : "left " + left;

  char line[256];
  std::snprintf(line, sizeof line, "%s [%s] %ld/%ld %3d%%  %s  %s", fitted(whatUtf8, kWhatWidth).c_str(), bar.c_str(),
                done, total, percent, rate.c_str(), time.c_str());
  return line;
}

ProgressBar::ProgressBar(std::FILE* out) : out_(out), terminal_(quorvel::platform::IsTerminal(out)) {}

void ProgressBar::connect(quorvel::platform::Module* core) {
  if (!terminal_ || !core) return;
  using SetFn = void (*)(QuorvelProgressFn, void*);
  if (auto set = reinterpret_cast<SetFn>(quorvel::platform::FindSymbol(core, "Quorvel_setProgress")))
    set(onProgress, this);
}

void ProgressBar::update(long done, long total, const char* what) {
  if (!terminal_) return;
  const std::string utf8 = quorvel::cp1250::toUtf8(what ? what : "");
  // A work that falls back (begun again) or another work starts a new line. A finished work
  // keeps its line open until then: a register that sends more records than it announced
  // redraws the finished bar instead of adding a line per record.
  if (!lineOpen_ || utf8 != what_ || done < lastDone_) {
    finish();
    what_ = utf8;
    startDone_ = done;
    start_ = Clock::now();
  }
  lastDone_ = done;
  const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
  // \r and "erase to the end of the line": the bar is redrawn in place.
  std::fprintf(out_, "\r%s\033[K", progressLine(what_, done, total, startDone_, seconds).c_str());
  lineOpen_ = true;
  std::fflush(out_);
}

void ProgressBar::finish() {
  if (!lineOpen_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  lineOpen_ = false;
}

}  // namespace quorvel::host
