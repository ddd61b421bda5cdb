// The codec's register code page gives byte for byte what the core's conversions give with the
// Elcom device table, so the simulator and the driver agree with every other user of CEncoding.
#include <gtest/gtest.h>

#include <string>

#include "core/encoding.h"
#include "drivers/elcom/records.h"
#include "platform/cp1250.h"

using namespace quorvel::elcom;

TEST(ElcomCharset, SameAsTheCoresConversionsForEveryByte) {
  const char letters[] = "\x7C\x7E\x80\x82\x84\x86\x88\x8A\x8C\x7B\x7D\x7F\x81\x83\x85\x87\x89\x8B";
  const CEncoding elcom(letters, "", "");
  for (int b = 1; b < 256; ++b) {
    const char c[2] = {static_cast<char>(b), 0};
    EXPECT_EQ(std::string(1, toDeviceChar(c[0])), internal2dev(c, elcom, kNoLimit)) << b;
    EXPECT_EQ(std::string(1, fromDeviceChar(c[0])), dev2internal(c, elcom, kNoLimit)) << b;
  }
  // Whole names: cut to the field, converted, and back.
  const std::string name = "Żółć gęślą jaźń ĄĘ"_cp;
  const Bytes dev = nameToDevice(name, 14);
  EXPECT_EQ(std::string(dev.begin(), dev.end()), internal2dev(name.c_str(), elcom, 14));
  EXPECT_EQ(nameFromDevice(dev), dev2internal(internal2dev(name.c_str(), elcom, 14).c_str(), elcom, kNoLimit));
}
