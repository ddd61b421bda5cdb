#include "plugin/config_store.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
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

  // A file that cannot even hold its checksum word is invalid, whatever its bytes; a failed
  // seek leaves the record unread and must not pass for success either. A stream that fails
  // to read is reported once, as a read error, not also as an invalid file.
  long size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  if (std::ferror(f)) {
    // reported below
  } else if (size < 4) {
    err = SetError(ERR_CONFIG_INVALID, kConfigFileName);
  } else {
    // The checksum covers every byte after the first four, also bytes beyond the record.
    const bool bad = std::fseek(f, 4, SEEK_SET) != 0;
    std::uint32_t computed = 0;
    if (!bad) {
      for (int c; (c = std::fgetc(f)) != EOF;) computed = foldChecksum(computed, static_cast<std::uint8_t>(c));
    }
    std::uint8_t word[4] = {};
    if (std::ferror(f)) {
      // reported below
    } else if (bad || std::fseek(f, 0, SEEK_SET) != 0 || std::fread(word, 1, 4, f) != 4 ||
               std::fseek(f, 4, SEEK_SET) != 0) {
      if (!std::ferror(f)) err = SetError(ERR_CONFIG_INVALID, kConfigFileName);
    } else {
      const auto available = static_cast<unsigned long>(size - 4);
      const std::size_t want = available < image.size() ? available : image.size();
      // Bytes beyond what the file holds keep the caller's values.
      const std::size_t got = std::fread(image.data(), 1, want, f);
      const auto stored = static_cast<std::uint32_t>(getLe32(word));
      if (!std::ferror(f) && (got != want || stored != computed)) err = SetError(ERR_CONFIG_INVALID, kConfigFileName);
    }
  }
  if (std::ferror(f)) err = SetError(ERR_FILE_READ, kConfigFileName);
  return err;
}

int saveConfigImage(std::span<const std::uint8_t> image) {
  // Appending creates a missing file without emptying an existing one before the new bytes are
  // ready; the stream is then reopened for update so that they are written from offset 0.
  std::FILE* f = std::fopen(kConfigFileName, "ab");
  if (f) f = std::freopen(kConfigFileName, "r+b", f);
  if (!f) return SetError(ERR_FILE_CREATE, kConfigFileName);

  // Written from offset 0 over whatever the file holds there.
  const std::string bytes = configFileBytes(image);
  bool bad = std::fseek(f, 0, SEEK_SET) != 0 || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size();
  // Buffered bytes meet the disk at the flush; a failure there is a failed save as well.
  bad = std::fflush(f) != 0 || bad || std::ferror(f);
  bad = std::fclose(f) != 0 || bad;
  // A longer file left by another plug-in's record is cut to this record: the checksum covers
  // every byte after the first four, so a tail left standing would make the file just saved
  // fail its next read.
  if (!bad) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(kConfigFileName, ec);
    if (!ec && size > bytes.size()) {
      std::filesystem::resize_file(kConfigFileName, bytes.size(), ec);
      bad = static_cast<bool>(ec);
    }
  }
  if (bad) return SetError(ERR_FILE_WRITE, kConfigFileName);
  return 0;
}

int replaceConfigImage(std::span<const std::uint8_t> image) {
  // The file aside gets a name of its own, so two runs at once never share it and nothing
  // already lying beside the file (a link under a fixed name) is followed or truncated.
  std::string aside = std::string(kConfigFileName) + ".XXXXXX";
  const int fd = ::mkstemp(aside.data());
  if (fd < 0) return SetError(ERR_FILE_CREATE, kConfigFileName);
  // It takes the mode of the file it replaces (a file the shop made group-writable for the
  // users who run the form stays so); a first file gets the mode of any new file.
  struct stat st;
  mode_t mode = 0;
  if (::stat(kConfigFileName, &st) == 0 && S_ISREG(st.st_mode)) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);  // read and put back at once: `quorvel config` runs no threads
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  const std::string bytes = configFileBytes(image);
  bool bad = ::fchmod(fd, mode) != 0;
  for (std::size_t done = 0; !bad && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) bad = true;
    else done += static_cast<std::size_t>(n);
  }
  // On the disk before it takes the name: a crash must not leave an empty PROG_KOM.CFG.
  bad = ::fsync(fd) != 0 || bad;
  bad = ::close(fd) != 0 || bad;
  if (bad || std::rename(aside.c_str(), kConfigFileName) != 0) {
    std::remove(aside.c_str());
    return SetError(ERR_FILE_WRITE, kConfigFileName);
  }
  return 0;
}

}  // namespace quorvel::plugin
