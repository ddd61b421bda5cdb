// The text of the progress bar for counts at the edges: whatever a driver passes (an unknown
// total, a count below zero or past the total, counts near the range of long), the bar stays
// within its width and no arithmetic overflows.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "host/progress_bar.h"

namespace {

TEST(ProgressLine, CountsAtTheEdgesGiveAWholeLine) {
  const struct {
    long done, total, startDone;
    double seconds;
    const char* expected;
  } cases[] = {
      {0, 0, 0, 0.0, "Odczyt [----------------] 0/0   0%  --/s  0:00 in all"},
      {-5, 10, -5, 0.5, "Odczyt [----------------] -5/10   0%  --/s  left --:--"},
      {15, 10, 0, 3.0, "Odczyt [################] 15/10 100%  5.0/s  0:03 in all"},
      {LONG_MAX, LONG_MAX, 0, 2.0,
       "Odczyt [################] 9223372036854775807/9223372036854775807 100%  4611686018427387904/s  0:02 in all"},
      {LONG_MAX / 2, LONG_MAX, 0, 2.0,
       "Odczyt [########--------] 4611686018427387903/9223372036854775807  50%  2305843009213693952/s  left 0:02"},
      {1, LONG_MAX, 0, 10.0, "Odczyt [----------------] 1/9223372036854775807   0%  0.1/s  left 99:59:59"},
      {LONG_MIN, LONG_MAX, LONG_MAX, 5.0, "Odczyt [----------------] -9223372036854775808/9223372036854775807   0%  --/s  left --:--"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.done) + " of " + std::to_string(c.total));
    std::string line = quorvel::host::progressLine("Odczyt", c.done, c.total, c.startDone, c.seconds);
    // The work's name is padded to its column.
    ASSERT_EQ(line.compare(0, 21, "Odczyt               "), 0) << line;
    EXPECT_EQ("Odczyt" + line.substr(20), c.expected);
  }
}

}  // namespace
