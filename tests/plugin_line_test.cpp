// The register's line as every driver opens it: what a register sent to a job that was killed
// is gone before the new job's first exchange.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "core/error_state.h"
#include "core/serial/rs232.h"
#include "platform/clock.h"
#include "plugin/plugin_frame.h"

namespace {

TEST(DeviceLine, BytesLeftOnTheLineAreDiscardedWhenItIsOpened) {
  int master = -1, slave = -1;
  char name[128];
  ASSERT_EQ(::openpty(&master, &slave, name, nullptr, nullptr), 0);
  termios raw{};
  ::tcgetattr(slave, &raw);
  ::cfmakeraw(&raw);
  ::tcsetattr(slave, TCSANOW, &raw);
  // The tail of an answer to the killed job, waiting in the line's receive queue.
  ASSERT_EQ(::write(master, "\x02stale", 6), 6);
  pollfd p{slave, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 5000), 1);

  quorvel::platform::UseVirtualClock(true);  // no closing pause
  ClearError("");
  CRS232 port;
  port.SetPort(name);
  port.SetTimeoutRead(200);
  ASSERT_EQ(quorvel::plugin::openDeviceLine(port), 0);
  ASSERT_EQ(::write(master, "\x06", 1), 1);
  char c = 0;
  EXPECT_EQ(port.Read(c), 0);
  EXPECT_EQ(c, '\x06') << "the first byte read must be the register's fresh answer";
  EXPECT_EQ(port.Read(c), ERR_PORT_READ_TIMEOUT);
  port.Close();
  quorvel::platform::UseVirtualClock(false);
  ::close(slave);
  ::close(master);
}

}  // namespace
