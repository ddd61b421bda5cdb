#include "plugin/config_store.h"

#include <cstdio>
#include <string>

#include "core/error_state.h"
#include "platform/job_dir.h"

namespace quorvel::plugin {

namespace {

// Closes the stream on every way out.
struct File {
  std::FILE* f = nullptr;
  ~File() {
    if (f) std::fclose(f);
  }
};

}  // namespace

std::optional<int> readConfigImage(std::span<std::uint8_t> image) {
  // A FIFO or a device in place of the file is refused as unreadable, not waited on.
  platform::ReadOpenError why;
  File file{platform::OpenRegularFileForReading(kConfigFileName, why)};
  if (why == platform::ReadOpenError::NotRegular) return SetError(ERR_FILE_READ, kConfigFileName);
  if (!file.f) return std::nullopt;
  std::FILE* f = file.f;
  int err = 0;
  bool readFailed = false;
  const auto read = [&](void* bytes, std::size_t size) {
    return platform::ReadFromFile(f, bytes, size, kConfigFileName, readFailed);
  };

  // A file that cannot even hold its checksum word is invalid, whatever its bytes; a failed
  // seek leaves the record unread and must not pass for success either. A stream that fails
  // to read is reported once, as a read error, not also as an invalid file.
  long size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  if (std::ferror(f)) {
    readFailed = true;  // reported below
  } else if (size < 4) {
    err = SetError(ERR_CONFIG_INVALID, kConfigFileName);
  } else {
    // The checksum covers every byte after the first four, also bytes beyond the record.
    const bool bad = std::fseek(f, 4, SEEK_SET) != 0;
    std::uint32_t computed = 0;
    if (!bad) {
      std::uint8_t chunk[4096];
      for (std::size_t n; !readFailed && (n = read(chunk, sizeof chunk)) > 0;)
        for (std::size_t i = 0; i < n; ++i) computed = foldChecksum(computed, chunk[i]);
    }
    std::uint8_t word[4] = {};
    if (readFailed) {
      // reported below
    } else if (bad || std::fseek(f, 0, SEEK_SET) != 0 || read(word, 4) != 4 || std::fseek(f, 4, SEEK_SET) != 0) {
      if (!readFailed) err = SetError(ERR_CONFIG_INVALID, kConfigFileName);
    } else {
      const auto available = static_cast<unsigned long>(size - 4);
      const std::size_t want = available < image.size() ? available : image.size();
      // Bytes beyond what the file holds keep the caller's values.
      const std::size_t got = read(image.data(), want);
      const auto stored = static_cast<std::uint32_t>(getLe32(word));
      if (!readFailed && (got != want || stored != computed)) err = SetError(ERR_CONFIG_INVALID, kConfigFileName);
    }
  }
  if (readFailed) err = SetError(ERR_FILE_READ, kConfigFileName);
  return err;
}

int saveConfigImage(std::span<const std::uint8_t> image) {
  // Opened without emptying an existing file before the new bytes are ready, and written from
  // offset 0 over whatever the file holds there.
  std::FILE* f = platform::OpenFileForUpdate(kConfigFileName);
  if (!f) return SetError(ERR_FILE_CREATE, kConfigFileName);
  // Buffered bytes meet the disk at the flush; a failure there is a failed save as well.
  const std::string bytes = configFileBytes(image);
  bool bad = !platform::WriteToFile(f, bytes.data(), bytes.size(), kConfigFileName);
  bad = !platform::CloseFile(f, kConfigFileName) || bad;
  // A longer file left by another plug-in's record is cut to this record: the checksum covers
  // every byte after the first four, so a tail left standing would make the file just saved
  // fail its next read.
  if (!bad) bad = !platform::ShortenFile(kConfigFileName, bytes.size());
  if (bad) return SetError(ERR_FILE_WRITE, kConfigFileName);
  return 0;
}

int replaceConfigImage(std::span<const std::uint8_t> image) {
  // A crash or a full disk leaves either the old file or the new one under the name, never a
  // half-written one.
  const std::string bytes = configFileBytes(image);
  switch (platform::ReplaceFileWhole(kConfigFileName, bytes.data(), bytes.size())) {
    case platform::ReplaceError::None:
      return 0;
    case platform::ReplaceError::Create:
      return SetError(ERR_FILE_CREATE, kConfigFileName);
    case platform::ReplaceError::Write:
      break;
  }
  return SetError(ERR_FILE_WRITE, kConfigFileName);
}

}  // namespace quorvel::plugin
