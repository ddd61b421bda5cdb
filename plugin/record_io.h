// Shared helpers of the three record files: field copies into and out of the byte images and
// the typed read/save over config_store.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/error_state.h"
#include "plugin/config_store.h"

namespace quorvel::plugin::detail {

// A record's fields are listed once, in a generic function over the direction:
//   constexpr auto fields = [](auto& io, auto& c) { io.i32(252, c.speed); ... };
// With a Writer the listed members go into the byte image, with a Reader they come out of it.
template <class Image>
struct Writer {
  Image& image;
  template <class T, std::size_t N>
  void bytes(std::size_t at, const T (&field)[N]) { std::memcpy(image.data() + at, field, sizeof field); }
  void byte(std::size_t at, const char& field) { image[at] = static_cast<std::uint8_t>(field); }
  void i32(std::size_t at, const std::int32_t& v) { putLe32(image.data() + at, v); }
  void u16(std::size_t at, const std::uint16_t& v) {
    image[at] = static_cast<std::uint8_t>(v & 0xFF);
    image[at + 1] = static_cast<std::uint8_t>(v >> 8);
  }
};

template <class Image>
struct Reader {
  const Image& image;
  template <class T, std::size_t N>
  void bytes(std::size_t at, T (&field)[N]) const { std::memcpy(field, image.data() + at, sizeof field); }
  void byte(std::size_t at, char& field) const { field = static_cast<char>(image[at]); }
  void i32(std::size_t at, std::int32_t& v) const { v = getLe32(image.data() + at); }
  void u16(std::size_t at, std::uint16_t& v) const {
    v = static_cast<std::uint16_t>(image[at] | (image[at + 1] << 8));
  }
};

// The byte image of a record, and the record of a byte image, through its field list.
template <class Image, class Record, class Fields>
Image writeImage(const Record& c, Fields fields) {
  Image image{};
  Writer<Image> w{image};
  fields(w, c);
  return image;
}

template <class Record, class Image, class Fields>
Record readImage(const Image& image, Fields fields) {
  Record c{};
  const Reader<Image> r{image};
  fields(r, c);
  return c;
}

// readConfig of every plug-in: the record is overwritten with what the file holds (also when
// the checksum fails), a missing file gives the defaults or error 2.
template <class Record, class ToImage, class FromImage, class Defaults>
int readRecord(Record& config, bool defaultsWhenMissing, ToImage toImage, FromImage fromImage, Defaults defaults) {
  auto image = toImage(config);
  const auto result = readConfigImage(image);
  if (!result) {
    if (defaultsWhenMissing) return defaults(config);
    return SetError(ERR_CONFIG_MISSING, kConfigFileName);
  }
  config = fromImage(image);
  return *result;
}

}  // namespace quorvel::plugin::detail
