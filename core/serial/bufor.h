// Byte buffer for the frames a driver builds and receives.
//
// Bytes are put at the write position and taken from the read position; the unread bytes are
// those between the two. CRS232::Write of a buffer sends the unread bytes and moves neither
// position. Putting past the capacity drops the byte (and sets the overflow flag); taking past
// the write position gives zero bytes: neither ever touches memory outside the array.
#pragma once

#include <cstdint>
#include <string>

#include "core/currency.h"
#include "platform/api.h"

class QUORVEL_API CBufor {
 public:
  explicit CBufor(std::uint32_t capacity);
  CBufor(const CBufor& other);
  CBufor& operator=(const CBufor& other);
  virtual ~CBufor();

  // Every byte 0, both positions 0.
  virtual void Clear();
  // Stores one byte at the write position and advances it.
  virtual void Put(unsigned char byte);

  void PutBytes(const void* bytes, std::uint32_t count);  // in memory order (integers low byte first)
  void PutText(const char* text, std::uint32_t count);    // zero bytes skipped when DropZero is set
  // printf-style, cut to the room left (capacity - write position), then PutText.
  void PutFormatted(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void PutSum();  // the running sum, low byte first

  // Advances the read position by n when fewer than the unread bytes; otherwise Clear()
  // (which ends every loop that runs while unread bytes remain).
  void Skip(std::uint32_t n);
  void GetBytes(void* out, std::uint32_t n);
  std::uint32_t GetU16();
  std::uint32_t GetU32();
  double GetDouble();
  std::string GetText(std::uint32_t n);    // zero bytes skipped when DropZero is set
  // n packed-decimal bytes as 2n digit characters, high nibble first, leading zeros kept.
  std::string GetPacked(std::uint32_t n);
  CUfCurrency GetPrice();     // u32 hundredths
  CUfCurrency GetValue();     // double holding hundredths, truncated
  CUfCurrency GetQuantity();  // u32 thousandths

  std::uint32_t Capacity() const { return capacity_; }
  std::uint32_t ReadPos() const { return readPos_; }
  std::uint32_t WritePos() const { return writePos_; }
  std::uint32_t Unread() const { return writePos_ > readPos_ ? writePos_ - readPos_ : 0; }
  const unsigned char* Data() const { return bytes_; }
  std::uint16_t Sum() const { return sum_; }
  bool DropZero() const { return dropZero_; }
  void SetDropZero(bool drop) { dropZero_ = drop; }
  bool Overflow() const { return overflow_; }

 protected:
  std::uint32_t capacity_;
  std::uint32_t readPos_ = 0;
  std::uint32_t writePos_ = 0;
  unsigned char* bytes_;
  bool dropZero_ = false;
  std::uint16_t sum_ = 0;
  bool overflow_ = false;

 private:
  unsigned char take();
};

// The frame buffer of a framed register link: Put also keeps the running sum. After each store, an
// unread count of 1 resets the sum and a count of 5 or more adds the byte; so for a frame
// built from read position 0 the sum covers the payload (from index 4 on).
class QUORVEL_API CBuforSum : public CBufor {
 public:
  explicit CBuforSum(std::uint32_t capacity) : CBufor(capacity) {}
  void Put(unsigned char byte) override;
};
