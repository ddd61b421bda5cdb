// The configuration file "PROG_KOM.CFG", shared by every plug-in.
//
// Layout: a 4-byte little-endian checksum, then the plug-in's record image (config_records.h).
// The file lies in the current directory of the host process and has the same name for every
// plug-in; a file written by one plug-in is read by another as far as its own record reaches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quorvel::plugin {

inline constexpr const char* kConfigFileName = "PROG_KOM.CFG";

// One step of the checksum: the byte as a signed 8-bit value c, k = (c % 24) & 31 (the
// remainder keeps c's sign), sum XOR (c sign-extended, shifted left by k, cut to 32 bits).
constexpr std::uint32_t foldChecksum(std::uint32_t sum, std::uint8_t byte) {
  const std::int32_t c = static_cast<std::int8_t>(byte);
  const unsigned k = static_cast<unsigned>(c % 24) & 31u;
  return sum ^ (static_cast<std::uint32_t>(c) << k);
}

constexpr std::uint32_t configChecksum(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = 0;
  for (const std::uint8_t b : bytes) sum = foldChecksum(sum, b);
  return sum;
}

// The bytes of PROG_KOM.CFG that hold a record image: its checksum word, then the image.
inline std::string configFileBytes(std::span<const std::uint8_t> image);

// Reads PROG_KOM.CFG into the image. nullopt when the file cannot be opened (nothing is set,
// the image is untouched); otherwise the error number, 0 on success, with the error state set:
//   3 "Nieprawidłowy plik konfiguracji": the file is empty, shorter than its checksum word, a
//     seek fails, or the checksum over every byte after the first four (also bytes beyond the
//     image) differs from the stored word;
//   5 "Błąd odczytu pliku": the stream reported a read error, or the file is not a regular
//     file (a FIFO or a device is refused at once, never waited on).
// The image receives the file's bytes after the checksum word, at most image.size(); bytes
// beyond the file's end keep what the caller had there. A checksum mismatch still fills the
// image.
std::optional<int> readConfigImage(std::span<std::uint8_t> image);

// Writes the checksum word and the image over the file in place (its owner and mode stay). The
// file is created when missing; a longer file, left by another plug-in's longer record, is cut
// to the record just written, since the checksum covers every byte after the first four.
// Errors: 1 "Błąd tworzenia pliku" (cannot create or open for update), 4 "Błąd zapisu pliku".
int saveConfigImage(std::span<const std::uint8_t> image);

// Replaces PROG_KOM.CFG by exactly the checksum word and the image: written to a file of a
// name of its own beside it, with the old file's mode, and renamed over it, so a failure at any
// point leaves the old file as it was and nothing beside it.
// Errors: 1 "Błąd tworzenia pliku" (the file aside cannot be created), 4 "Błąd zapisu pliku"
// (writing it or renaming it failed).
int replaceConfigImage(std::span<const std::uint8_t> image);

// Little-endian fields of the record images.
inline void putLe32(std::uint8_t* at, std::int32_t value) {
  const auto v = static_cast<std::uint32_t>(value);
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
  at[2] = static_cast<std::uint8_t>(v >> 16);
  at[3] = static_cast<std::uint8_t>(v >> 24);
}
inline std::int32_t getLe32(const std::uint8_t* at) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
                                   static_cast<std::uint32_t>(at[2]) << 16 |
                                   static_cast<std::uint32_t>(at[3]) << 24);
}

inline std::string configFileBytes(std::span<const std::uint8_t> image) {
  std::uint8_t word[4];
  putLe32(word, static_cast<std::int32_t>(configChecksum(image)));
  std::string bytes(reinterpret_cast<const char*>(word), sizeof word);
  bytes.append(reinterpret_cast<const char*>(image.data()), image.size());
  return bytes;
}

// Copies text into a fixed zero-terminated record field, cut to size - 1 characters; the rest
// of the field is zeroed.
inline void storeText(char* field, std::size_t size, std::string_view text) {
  const std::size_t n = text.size() < size ? text.size() : size - 1;
  std::memset(field, 0, size);
  std::memcpy(field, text.data(), n);
}

// The text of a zero-terminated record field that might lack its zero.
inline std::string fieldText(const char* field, std::size_t size) { return std::string(field, strnlen(field, size)); }

}  // namespace quorvel::plugin
