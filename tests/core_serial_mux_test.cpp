// CRS232 over the scripted line: the exact order of line changes and pauses of the three
// multiplexer types, every refusal, the port's error mapping, close pause, break and status.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "core/error_state.h"
#include "core/serial/mux.h"
#include "core/serial/rs232.h"
#include "platform/clock.h"
#include "platform/cp1250.h"
#include "platform/serial_backend.h"
#include "tests/support/test_support.h"

using quorvel::platform::ScriptedSerialBackend;
using quorvel::platform::SerialIo;
using quorvel::platform::SerialOpenError;
using Log = std::vector<std::string>;

namespace {

class SerialScript : public ::testing::Test {
 protected:
  void SetUp() override {
    quorvel::platform::SetSerialBackend(&device);
    ClearError("");
  }
  void TearDown() override { quorvel::platform::SetSerialBackend(nullptr); }

  // Opens `port` on the scripted line and forgets the log of the opening.
  void openPort() {
    port.SetPort("COM3");
    ASSERT_EQ(port.Open(), 0);
    device.log.clear();
  }

  quorvel::platform::VirtualClockScope clock;
  ScriptedSerialBackend device;
  CRS232 port;
};

bool endsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// The log entries of one Falwi step that did not find the channel.
void appendFalwiStep(Log& log) {
  for (const char* e : {"sleep 3", "msr", "dtr 0", "sleep 3", "dtr 1"}) log.push_back(e);
}

}  // namespace

TEST_F(SerialScript, ElzabChannelsAreDtrAndRtsLevelsThenHalfASecond) {
  const struct {
    int channel;
    Log log;
  } cases[] = {
      {1, {"dtr 0", "rts 1", "sleep 500"}},
      {2, {"dtr 1", "rts 1", "sleep 500"}},
      {3, {"dtr 0", "rts 0", "sleep 500"}},
      {4, {"dtr 1", "rts 0", "sleep 500"}},
  };
  openPort();
  for (const auto& c : cases) {
    device.log.clear();
    EXPECT_EQ(port.SetMux(MUX_ELZAB_4X, c.channel), 0) << c.channel;
    EXPECT_EQ(device.log, c.log) << "channel " << c.channel;
  }
}

TEST_F(SerialScript, ChannelOutsideTheTypesRangeIsRefusedWithLinesUntouched) {
  const struct {
    int type, channel;
  } cases[] = {{1, 0}, {1, 5}, {2, 0}, {2, 16}, {4, 0}, {4, 9}};
  openPort();
  for (const auto& c : cases) {
    ClearError("");
    EXPECT_EQ(port.SetMux(c.type, c.channel), ERR_MUX_CHANNEL) << c.type << "/" << c.channel;
    const std::string tail = " (CH=" + std::to_string(c.channel) + ")";
    EXPECT_TRUE(endsWith(GetErrorMsg(), tail)) << GetErrorMsg();
    EXPECT_EQ(std::string(GetErrorMsg()).rfind("Nieprawidłowy kanał multipleksera"_cp, 0), 0u) << GetErrorMsg();
    EXPECT_TRUE(device.log.empty()) << c.type << "/" << c.channel;
  }
}

TEST_F(SerialScript, UnknownTypesAreRefusedWith1011AndElzab8xByItsText) {
  openPort();
  for (const int type : {0, 3, 5, 16, -1, 1000}) {
    ClearError("");
    EXPECT_EQ(port.SetMux(type, 1), ERR_MUX_TYPE) << type;
    EXPECT_TRUE(endsWith(GetErrorMsg(), " (MX=" + std::to_string(type) + ")")) << GetErrorMsg();
  }
  ClearError("");
  EXPECT_EQ(port.SetMux(MUX_ELZAB_8X, 1), -1);
  EXPECT_EQ(GetErrorNum(), -1);
  EXPECT_STREQ(GetErrorMsg(), "Brak obsługi multipleksera Elzab 8x"_cp);
  EXPECT_TRUE(device.log.empty());
}

TEST_F(SerialScript, FalwiShowingTheChannelAtOnceNeedsNoPulse) {
  openPort();
  device.modemStatus = 7 << 4;
  EXPECT_EQ(port.SetMux(MUX_FALWI, 7), 0);
  EXPECT_EQ(device.log, (Log{"dtr 1", "rts 1", "sleep 3", "rts 0", "sleep 3", "msr", "rts 1", "sleep 20"}));
}

TEST_F(SerialScript, FalwiIsSteppedByDtrPulsesUntilItReportsTheChannel) {
  // A multiplexer that starts on channel `start` and moves to the next of its 15 channels at
  // every DTR pulse.
  for (const int start : {1, 9, 15}) {
    for (const int target : {1, 2, 8, 15}) {
      device.log.clear();
      // Each DTR pulse (low, then high again) is one step; count them in the line log.
      int channel = start;
      device.modemStatusSource = [&](std::uint8_t& status) {
        const auto pulses = std::count(device.log.begin(), device.log.end(), "dtr 0");
        channel = static_cast<int>((start - 1 + pulses) % 15) + 1;
        status = static_cast<std::uint8_t>(channel << 4);
        return true;
      };
      CRS232 mux(5);
      device.log.clear();
      ClearError("");
      ASSERT_EQ(mux.SetMux(MUX_FALWI, target), 0) << start << "->" << target;
      const int pulses = (target - start + 15) % 15;
      Log expected{"dtr 1", "rts 1", "sleep 3", "rts 0"};
      for (int k = 0; k < pulses; ++k) appendFalwiStep(expected);
      for (const char* e : {"sleep 3", "msr", "rts 1", "sleep 20"}) expected.push_back(e);
      EXPECT_EQ(device.log, expected) << start << "->" << target;
      EXPECT_EQ(channel, target);
    }
  }
}

TEST_F(SerialScript, FalwiThatNeverReportsTheChannelFailsAfter32Steps) {
  openPort();
  device.modemStatus = 0x30;  // stuck on channel 3
  EXPECT_EQ(port.SetMux(MUX_FALWI, 4), ERR_MUX_INIT);
  EXPECT_STREQ(GetErrorMsg(), "Błąd inicjalizacji multipleksera"_cp);
  Log expected{"dtr 1", "rts 1", "sleep 3", "rts 0"};
  for (int k = 0; k < 32; ++k) appendFalwiStep(expected);
  expected.push_back("rts 1");
  EXPECT_EQ(device.log, expected);
}

TEST_F(SerialScript, FalwiWithUnreadableStatusFailsLikeAWrongChannel) {
  openPort();
  device.modemStatusSource = [](std::uint8_t&) { return false; };
  EXPECT_EQ(port.SetMux(MUX_FALWI, 1), ERR_MUX_INIT);
}

TEST_F(SerialScript, Mpx4sSendsDollarsAndTheChannelAsOneBlockThenPauses) {
  openPort();
  for (int channel = 1; channel <= 8; ++channel) {
    device.log.clear();
    EXPECT_EQ(port.SetMux(MUX_MPX4S, channel), 0);
    char write[32];
    std::snprintf(write, sizeof write, "write 24 24 24 %02X", channel);
    EXPECT_EQ(device.log, (Log{write, "sleep 100"}));
  }
}

TEST_F(SerialScript, Mpx4sWriteFailureIsTheResult) {
  const struct {
    SerialIo failure;
    int error;
  } cases[] = {{SerialIo::Failed, ERR_PORT_WRITE}, {SerialIo::Timeout, ERR_PORT_WRITE_TIMEOUT}};
  openPort();
  for (const auto& c : cases) {
    device.log.clear();
    device.writes = 0;
    device.failWriteNumber = 1;
    device.writeFailure = c.failure;
    ClearError("");
    EXPECT_EQ(port.SetMux(MUX_MPX4S, 2), c.error);
    EXPECT_EQ(device.log, (Log{"write 24 24 24 02", "sleep 100"}));
    EXPECT_TRUE(port.IsOpen());
  }
}

TEST_F(SerialScript, ForeignHandleServesTheLinesAndIsNeverClosed) {
  {
    CRS232 wrapped(42);
    EXPECT_TRUE(wrapped.IsOpen());
    EXPECT_EQ(wrapped.GetHandle(), 42);
    EXPECT_EQ(wrapped.SetMux(MUX_ELZAB_4X, 3), 0);
    EXPECT_EQ(wrapped.Close(), 0);
    EXPECT_FALSE(wrapped.IsOpen());
    EXPECT_EQ(wrapped.Close(), 0);  // a second Close does nothing
  }
  // No closing pause, no restoring: the line is only let go.
  EXPECT_EQ(device.log, (Log{"wrap 42", "dtr 0", "rts 0", "sleep 500", "release"}));
}

TEST_F(SerialScript, OpenFailuresMapToTheirErrorNumbersWithThePortName) {
  const struct {
    SerialOpenError why;
    bool configureFails;
    int error;
  } cases[] = {
      {SerialOpenError::Missing, false, ERR_PORT_MISSING},
      {SerialOpenError::Access, false, ERR_PORT_ACCESS},
      {SerialOpenError::Other, false, ERR_PORT_OPEN},
      {SerialOpenError::None, true, ERR_PORT_OPEN},
  };
  for (const auto& c : cases) {
    device.openError = c.why;
    device.configureFails = c.configureFails;
    device.log.clear();
    ClearError("");
    CRS232 p;
    p.SetPort("COM7");
    EXPECT_EQ(p.Open(), c.error);
    EXPECT_FALSE(p.IsOpen());
    EXPECT_TRUE(endsWith(GetErrorMsg(), " COM7")) << GetErrorMsg();
    if (c.configureFails) {  // the line is given back at once
      EXPECT_EQ(device.log.back(), "close");
    }
  }
}

TEST_F(SerialScript, OpenAppliesSettingsThenTimeoutsAndCloseWaitsASecondFirst) {
  port.SetPort("COM2");
  port.SetSpeed(19200);
  port.SetNrDataBits(7);
  port.SetParity(2);
  port.SetNrStopBits(2);
  port.SetTimeoutRead(120000);  // capped
  port.SetTimeoutWrite(2000);
  EXPECT_EQ(port.GetTimeoutRead(), 60000u);
  EXPECT_TRUE(device.log.empty());  // before Open the time-outs are only stored
  EXPECT_EQ(GetErrorNum(), 0);
  ASSERT_EQ(port.Open(), 0);
  port.SetTimeoutRead(5000);  // applied to the open port at once
  EXPECT_EQ(port.Close(), 0);
  EXPECT_EQ(port.Close(), 0);
  EXPECT_EQ(device.log, (Log{"open COM2", "configure 19200 7 2 2", "timeouts 60000 2000", "timeouts 5000 2000",
                             "sleep 1000", "close"}));
}

TEST_F(SerialScript, DefaultsAreCom1At9600EightNoneOne) {
  CRS232 p;
  EXPECT_EQ(p.GetPort(), "COM1");
  ASSERT_EQ(p.Open(), 0);
  EXPECT_EQ(device.log, (Log{"open COM1", "configure 9600 8 0 0", "timeouts 60000 60000"}));
}

TEST_F(SerialScript, DestroyingAnOpenPortClosesItWithThePause) {
  {
    CRS232 p;
    ASSERT_EQ(p.Open(), 0);
    device.log.clear();
  }
  EXPECT_EQ(device.log, (Log{"sleep 1000", "close"}));
}

TEST_F(SerialScript, ReadAndWriteFailuresGiveTheirNumbersAndLeaveThePortOpen) {
  openPort();
  char c = 'x';
  device.readFailure = SerialIo::Timeout;
  EXPECT_EQ(port.Read(c), ERR_PORT_READ_TIMEOUT);
  device.readFailure = SerialIo::Failed;
  EXPECT_EQ(port.Read(c), ERR_PORT_READ);
  EXPECT_EQ(c, 'x');
  device.input = {0x41};
  EXPECT_EQ(port.Read(c), 0);
  EXPECT_EQ(c, 'A');

  device.failWriteNumber = 1;
  device.writeFailure = SerialIo::Timeout;
  EXPECT_EQ(port.Write('a'), ERR_PORT_WRITE_TIMEOUT);
  device.failWriteNumber = 2;
  device.writeFailure = SerialIo::Failed;
  EXPECT_EQ(port.Write("ab"), ERR_PORT_WRITE);
  EXPECT_TRUE(endsWith(GetErrorMsg(), " COM3"));
  EXPECT_TRUE(port.IsOpen());
  EXPECT_EQ(port.Write("cd"), 0);
  EXPECT_EQ(std::string(device.written.begin(), device.written.end()), "cd");
}

TEST_F(SerialScript, EmptyWritesSendNothing) {
  openPort();
  EXPECT_EQ(port.Write(""), 0);
  EXPECT_EQ(port.Write(static_cast<const char*>(nullptr)), 0);
  EXPECT_EQ(port.Write("abc", 0), 0);
  EXPECT_TRUE(device.log.empty());
}

TEST_F(SerialScript, IoOnAPortThatIsNotOpenFailsWithoutTouchingAnything) {
  CRS232 closed;
  char c;
  EXPECT_EQ(closed.Read(c), ERR_PORT_READ);
  EXPECT_EQ(closed.Write('a'), ERR_PORT_WRITE);
  EXPECT_EQ(closed.GetMSR(), 0);
  EXPECT_FALSE(closed.GetCTS());
  closed.SetDTR();
  closed.Purge();
  EXPECT_TRUE(device.log.empty());
}

TEST_F(SerialScript, BreakHoldsTheLineThenPauses) {
  openPort();
  port.CommBreak(15, 20);
  port.CommBreak(15, 0);
  EXPECT_EQ(device.log, (Log{"break 1", "sleep 15", "break 0", "sleep 20", "break 1", "sleep 15", "break 0"}));
}

TEST_F(SerialScript, ModemStatusBitsAndLines) {
  openPort();
  const struct {
    std::uint8_t status;
    bool cts, dsr, dcd;
  } cases[] = {{0x90, true, false, true}, {0x20, false, true, false}, {0x40, false, false, false}, {0xF0, true, true, true}};
  for (const auto& c : cases) {
    device.modemStatus = c.status;
    EXPECT_EQ(port.GetMSR(), c.status);
    EXPECT_EQ(port.GetCTS(), c.cts);
    EXPECT_EQ(port.GetDSR(), c.dsr);
    EXPECT_EQ(port.GetDCD(), c.dcd);
  }
  device.modemStatusSource = [](std::uint8_t&) { return false; };
  EXPECT_EQ(port.GetMSR(), 0);
  EXPECT_FALSE(port.GetDCD());
  device.log.clear();
  port.SetDTR();
  port.ClrRTS();
  port.ClrDTR();
  port.SetRTS();
  port.Purge();
  EXPECT_EQ(device.log, (Log{"dtr 1", "rts 0", "dtr 0", "rts 1", "purge"}));
}

TEST_F(SerialScript, BufferWriteSendsTheUnreadPartAndKeepsThePositions) {
  openPort();
  CBufor frame(16);
  frame.PutBytes("\x01\x02\x03\x04\x05", 5);
  frame.Skip(2);
  EXPECT_EQ(port.Write(frame), 0);
  EXPECT_EQ(device.log, (Log{"write 03 04 05"}));
  EXPECT_EQ(frame.ReadPos(), 2u);
  EXPECT_EQ(frame.WritePos(), 5u);
}
