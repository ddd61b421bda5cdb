#include "core/serial/mux.h"

#include <cstdio>

#include "core/error_state.h"
#include "platform/clock.h"
#include "platform/cp1250.h"

using quorvel::platform::SleepMs;

namespace {

int errorWithNumber(int number, const char* format, int value) {
  char detail[32];
  std::snprintf(detail, sizeof detail, format, value);
  return SetError(number, detail);
}

}  // namespace

int CRS232::SetMux(int type, int channel) {
  switch (type) {
    case MUX_ELZAB_4X:
      return mxElzab_set_channel(channel);
    case MUX_FALWI:
      return mxFalwi_set_channel(static_cast<unsigned char>(channel));
    case MUX_MPX4S:
      return mxMpx4s_set_channel(channel);
    case MUX_ELZAB_8X:
      return SetError("Brak obsługi multipleksera Elzab 8x"_cp);
    default:
      return errorWithNumber(ERR_MUX_TYPE, " (MX=%d)", type);
  }
}

// The channel is the pair of levels on DTR and RTS; the multiplexer needs half a second to
// switch over.
int CRS232::mxElzab_set_channel(int channel) {
  static constexpr bool kDtr[] = {false, true, false, true};
  static constexpr bool kRts[] = {true, true, false, false};
  if (channel < 1 || channel > 4) return errorWithNumber(ERR_MUX_CHANNEL, " (CH=%d)", channel);
  if (kDtr[channel - 1]) SetDTR();
  else ClrDTR();
  if (kRts[channel - 1]) SetRTS();
  else ClrRTS();
  SleepMs(500);
  return 0;
}

// Falwi: a falling RTS with DTR high starts the selection; each DTR pulse steps the
// multiplexer to its next channel, which it shows on the four status lines (CTS 1, DSR 2,
// RI 4, DCD 8). Rising RTS ends the selection.
int CRS232::mxFalwi_set_channel(unsigned char channel) {
  if (channel < 1 || channel > 15) return errorWithNumber(ERR_MUX_CHANNEL, " (CH=%d)", channel);
  SetDTR();
  SetRTS();
  SleepMs(3);
  ClrRTS();
  bool found = false;
  for (int attempt = 0; attempt < 32; ++attempt) {
    SleepMs(3);
    if ((GetMSR() >> 4) == channel) {
      found = true;
      break;
    }
    ClrDTR();
    SleepMs(3);
    SetDTR();
  }
  SetRTS();
  if (!found) return SetError(ERR_MUX_INIT, "");
  SleepMs(20);
  return 0;
}

// MPX4s listens for "$$$" followed by the channel number as one byte.
int CRS232::mxMpx4s_set_channel(int channel) {
  if (channel < 1 || channel > 8) return errorWithNumber(ERR_MUX_CHANNEL, " (CH=%d)", channel);
  const unsigned char command[4] = {0x24, 0x24, 0x24, static_cast<unsigned char>(channel)};
  Write(command, sizeof command);
  SleepMs(100);
  return GetErrorNum();
}
