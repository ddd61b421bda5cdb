#include "core/serial/bufor.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

CBufor::CBufor(std::uint32_t capacity) : capacity_(capacity), bytes_(new unsigned char[capacity ? capacity : 1]) {
  // Not virtual dispatch here: construction always clears with the base Clear.
  CBufor::Clear();
}

CBufor::CBufor(const CBufor& other)
    : capacity_(other.capacity_),
      readPos_(other.readPos_),
      writePos_(other.writePos_),
      bytes_(new unsigned char[other.capacity_ ? other.capacity_ : 1]),
      dropZero_(other.dropZero_),
      sum_(other.sum_),
      overflow_(other.overflow_) {
  std::memcpy(bytes_, other.bytes_, capacity_);
}

CBufor& CBufor::operator=(const CBufor& other) {
  if (this == &other) return *this;
  auto* copy = new unsigned char[other.capacity_ ? other.capacity_ : 1];
  std::memcpy(copy, other.bytes_, other.capacity_);
  delete[] bytes_;
  bytes_ = copy;
  capacity_ = other.capacity_;
  readPos_ = other.readPos_;
  writePos_ = other.writePos_;
  dropZero_ = other.dropZero_;
  sum_ = other.sum_;
  overflow_ = other.overflow_;
  return *this;
}

CBufor::~CBufor() { delete[] bytes_; }

void CBufor::Clear() {
  std::memset(bytes_, 0, capacity_);
  readPos_ = 0;
  writePos_ = 0;
  overflow_ = false;
}

void CBufor::Put(unsigned char byte) {
  if (writePos_ >= capacity_) {
    overflow_ = true;
    return;
  }
  bytes_[writePos_++] = byte;
}

void CBufor::PutBytes(const void* bytes, std::uint32_t count) {
  const auto* p = static_cast<const unsigned char*>(bytes);
  for (std::uint32_t k = 0; k < count; ++k) Put(p[k]);
}

void CBufor::PutText(const char* text, std::uint32_t count) {
  for (std::uint32_t k = 0; k < count; ++k) {
    if (dropZero_ && text[k] == 0) continue;
    Put(static_cast<unsigned char>(text[k]));
  }
}

void CBufor::PutFormatted(const char* format, ...) {
  const std::uint32_t room = writePos_ < capacity_ ? capacity_ - writePos_ : 0;
  std::vector<char> text(static_cast<std::size_t>(room) + 1);
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(text.data(), text.size(), format, args);
  va_end(args);
  if (n <= 0) return;
  PutText(text.data(), static_cast<std::uint32_t>(n) < room ? static_cast<std::uint32_t>(n) : room);
}

void CBufor::PutSum() {
  const std::uint16_t sum = sum_;  // Put may change it
  Put(static_cast<unsigned char>(sum & 0xFF));
  Put(static_cast<unsigned char>(sum >> 8));
}

void CBufor::Skip(std::uint32_t n) {
  if (n < Unread()) readPos_ += n;
  else Clear();
}

unsigned char CBufor::take() { return readPos_ < writePos_ ? bytes_[readPos_++] : 0; }

void CBufor::GetBytes(void* out, std::uint32_t n) {
  auto* p = static_cast<unsigned char*>(out);
  for (std::uint32_t k = 0; k < n; ++k) p[k] = take();
}

std::uint32_t CBufor::GetU16() {
  std::uint32_t v = take();
  v |= static_cast<std::uint32_t>(take()) << 8;
  return v;
}

std::uint32_t CBufor::GetU32() {
  std::uint32_t v = 0;
  for (int k = 0; k < 4; ++k) v |= static_cast<std::uint32_t>(take()) << (8 * k);
  return v;
}

double CBufor::GetDouble() {
  unsigned char raw[8];
  GetBytes(raw, 8);
  double d;
  std::memcpy(&d, raw, sizeof d);
  return d;
}

std::string CBufor::GetText(std::uint32_t n) {
  std::string text;
  for (std::uint32_t k = 0; k < n; ++k) {
    const unsigned char c = take();
    if (dropZero_ && c == 0) continue;
    text += static_cast<char>(c);
  }
  return text;
}

std::string CBufor::GetPacked(std::uint32_t n) {
  std::string digits;
  for (std::uint32_t k = 0; k < n; ++k) {
    const unsigned char b = take();
    digits += static_cast<char>('0' + (b >> 4));
    digits += static_cast<char>('0' + (b & 0x0F));
  }
  return digits;
}

CUfCurrency CBufor::GetPrice() {
  const std::uint32_t p = GetU32();
  return CUfCurrency(static_cast<long>(p / 100), static_cast<long>(p % 100) * 100);
}

CUfCurrency CBufor::GetValue() {
  const double d = GetDouble();
  // A register never sends a count beyond the 64-bit range; a garbage value must not be
  // undefined behaviour, so it becomes an invalid amount.
  if (!(d > -9.2e18 && d < 9.2e18)) {
    CUfCurrency bad;
    bad.SetStatus(CUfCurrency::invalid);
    return bad;
  }
  const auto v = static_cast<std::int64_t>(d);
  return CUfCurrency(static_cast<long>(v / 100), static_cast<long>(v % 100) * 100);
}

CUfCurrency CBufor::GetQuantity() {
  const std::uint32_t q = GetU32();
  return CUfCurrency(static_cast<long>(q / 1000), static_cast<long>(q % 1000) * 10);
}

void CBuforSum::Put(unsigned char byte) {
  const std::uint32_t before = writePos_;
  CBufor::Put(byte);
  if (writePos_ == before) return;  // dropped at the capacity
  const std::uint32_t unread = Unread();
  if (unread == 1) sum_ = 0;
  else if (unread >= 5) sum_ = static_cast<std::uint16_t>(sum_ + byte);
}
