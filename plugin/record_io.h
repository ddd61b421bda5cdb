// Shared helpers of the three record files: field copies into and out of the byte images and
// the typed read/save over config_store.
#pragma once

#include <cstdint>
#include <cstring>

#include "core/error_state.h"
#include "plugin/config_store.h"

namespace quorvel::plugin::detail {

template <class Image>
struct Writer {
  Image& image;
  void bytes(std::size_t at, const void* from, std::size_t n) { std::memcpy(image.data() + at, from, n); }
  void i32(std::size_t at, std::int32_t v) { putLe32(image.data() + at, v); }
};

template <class Image>
struct Reader {
  const Image& image;
  void bytes(std::size_t at, void* to, std::size_t n) const { std::memcpy(to, image.data() + at, n); }
  std::int32_t i32(std::size_t at) const { return getLe32(image.data() + at); }
};

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

// Copies text into a fixed zero-terminated field, cut to leave room for the zero.
inline void copyText(char* field, std::size_t size, const char* text) {
  std::size_t n = std::strlen(text);
  if (n >= size) n = size - 1;
  std::memset(field, 0, size);
  std::memcpy(field, text, n);
}

}  // namespace quorvel::plugin::detail
