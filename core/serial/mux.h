// Line multiplexers: several registers on one serial port, one channel talking at a time.
// CRS232::SetMux(type, channel) switches the multiplexer before a driver talks to a register.
//
//   type 1  "Elzab 4x"  channels 1-4   DTR/RTS levels, then 500 ms
//   type 2  "Falwi"     channels 1-15  DTR pulses, channel read back on CTS/DSR/RI/DCD
//   type 4  "MPX4s"     channels 1-8   the bytes "$$$" and the channel, then 100 ms
//   type 8  "Elzab 8x"  refused with the text "Brak obsługi multipleksera Elzab 8x" (-1)
//   other               error 1011 (type 16, "Elzab 2MX", is switched by the Elzab library)
// A channel outside the type's range is error 1012 with the lines untouched; a Falwi
// multiplexer that does not report the channel within 32 steps is error 1013.
#pragma once

#include "core/serial/rs232.h"

enum MuxType : int {
  MUX_ELZAB_4X = 1,
  MUX_FALWI = 2,
  MUX_MPX4S = 4,
  MUX_ELZAB_8X = 8,
  MUX_ELZAB_2MX = 16,
};
