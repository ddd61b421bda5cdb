// The frame buffer: the running payload sum on the link's own frame examples, positions,
// bounds (never outside the array), and the record value conversions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/serial/bufor.h"

namespace {

std::string bytesOf(const CBufor& b) {
  return std::string(reinterpret_cast<const char*>(b.Data()) + b.ReadPos(), b.Unread());
}

}  // namespace

TEST(Bufor, SumCoversThePayloadOfACommandFrame) {
  // Command 157 with arguments 0 and 2000 for model code 10.
  CBuforSum frame(12);
  const unsigned char head[] = {0xFE, 0x01, 0x06, 0x00};
  frame.PutBytes(head, 4);
  frame.Put(10);
  frame.Put(157);
  const std::uint16_t a1 = 0, a2 = 2000;
  frame.PutBytes(&a1, 2);
  frame.PutBytes(&a2, 2);
  frame.PutSum();
  EXPECT_EQ(bytesOf(frame), std::string("\xFE\x01\x06\x00\x0A\x9D\x00\x00\xD0\x07\x7E\x01", 12));
}

TEST(Bufor, SumOfAPluRecordFrame) {
  CBuforSum frame(64);
  const std::string payload = std::string("\x00\x00\x01\x00", 4) + std::string("\x00\x00\x00\x00\x00\x01\x23", 7) +
                              "Chleb" + std::string(9, '\0') + std::string("\x18\x00\x1F\xFA\x00\x00\x00", 7);
  ASSERT_EQ(payload.size(), 32u);
  frame.PutBytes("\xFE\x02\x20\x00", 4);
  frame.PutBytes(payload.data(), 32);
  frame.PutSum();
  EXPECT_EQ(bytesOf(frame).substr(36), "\x34\x03");
  // Clearing restarts the sum with the next frame's first byte.
  frame.Clear();
  frame.PutBytes("\xFE\x03\x01\x00\x05", 5);
  EXPECT_EQ(frame.Sum(), 5);
}

TEST(Bufor, PutsPastTheCapacityAreDroppedAndReadsPastTheEndGiveZeros) {
  CBuforSum b(6);
  b.PutBytes("\xFE\x02\x02\x00\x10\x20\x30", 7);
  EXPECT_TRUE(b.Overflow());
  EXPECT_EQ(b.WritePos(), 6u);
  EXPECT_EQ(b.Sum(), 0x30);  // the dropped byte is not counted
  b.Skip(4);
  EXPECT_EQ(b.GetU32(), 0x2010u);
  EXPECT_EQ(b.GetU16(), 0u);
  EXPECT_EQ(b.GetText(3), std::string(3, '\0'));
  EXPECT_EQ(b.ReadPos(), 6u);
}

TEST(Bufor, SkipAtOrPastTheUnreadCountClears) {
  CBufor b(8);
  b.PutBytes("abcdef", 6);
  b.Skip(2);
  EXPECT_EQ(bytesOf(b), "cdef");
  b.Skip(4);
  EXPECT_EQ(b.Unread(), 0u);
  EXPECT_EQ(b.WritePos(), 0u);
  EXPECT_EQ(b.Data()[0], 0);
}

TEST(Bufor, TextsDropZerosOnlyWhenAsked) {
  CBufor b(32);
  b.PutText("a\0b", 3);
  b.SetDropZero(true);
  b.PutText("c\0d", 3);
  EXPECT_EQ(bytesOf(b), std::string("a\0bcd", 5));
  EXPECT_EQ(b.GetText(5), "abcd");
  b.Clear();
  b.SetDropZero(false);
  b.PutBytes("x\0y", 3);
  EXPECT_EQ(b.GetText(3), std::string("x\0y", 3));
}

TEST(Bufor, FormattedTextIsCutToTheRoomLeft) {
  CBufor b(8);
  b.PutBytes("ab", 2);
  b.PutFormatted("%dusuni%s", 70000, "ety");
  EXPECT_EQ(bytesOf(b), "ab70000u");
  EXPECT_FALSE(b.Overflow());
}

TEST(Bufor, RecordValues) {
  CBufor b(64);
  const std::uint32_t price = 1234, quantity = 1500;
  const double value = 250.0;
  b.PutBytes(&price, 4);
  b.PutBytes(&value, 8);
  b.PutBytes(&quantity, 4);
  b.PutBytes("\x00\x00\x00\x00\x00\x01\x23", 7);
  EXPECT_EQ(b.GetPrice().GetCurrency(), 123400);   // 12.34
  EXPECT_EQ(b.GetValue().GetCurrency(), 25000);    // 2.50
  EXPECT_EQ(b.GetQuantity().GetCurrency(), 15000); // 1.5
  EXPECT_EQ(b.GetPacked(7), "00000000000123");
}

TEST(Bufor, AGarbageSalesValueIsAnInvalidAmountNotACrash) {
  CBufor b(16);
  const double huge = 1e300;
  b.PutBytes(&huge, 8);
  EXPECT_EQ(b.GetValue().GetStatus(), CUfCurrency::invalid);
}
