// Transmission dump: every byte that passes a serial port, in both directions, recorded in a
// ".dmp" file beside the job files.
//
// File: the plain 4-byte header "DMP" 01, then the records, enciphered as one RC4 keystream
// (fixed key) that starts with the first byte after the header. Records before encipherment:
//   01 b          a byte received from the device
//   02 b          a single byte sent to the device
//   04 n(4, LE) … a block of n bytes sent to the device
// The writer (CDumpSComm) and the decoder (`quorvel dump`) share the codec below; it is
// inline because the `quorvel` program decodes dumps without loading the core.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/api.h"

namespace quorvel::dump {

inline constexpr unsigned char kHeader[4] = {'D', 'M', 'P', 0x01};
inline constexpr unsigned char kReceived = 0x01;
inline constexpr unsigned char kSentByte = 0x02;
inline constexpr unsigned char kSentBlock = 0x04;

// The RC4 state: the permutation as the key schedule left it, the working permutation and
// the two indices.
struct Cipher {
  unsigned char keyed[256];
  unsigned char s[256];
  unsigned char i;
  unsigned char j;
};

struct Record {
  unsigned char kind = 0;  // kReceived, kSentByte or kSentBlock
  std::string bytes;
};

// What a dump file holds. `error` is empty for a whole, well-formed file; otherwise it tells
// what went wrong and at which byte offset of the file, and `records` holds everything that
// was read before.
struct Contents {
  std::vector<Record> records;
  std::string error;
};

// The fixed key: a GUID in its 36-character text form and the text's terminating zero.
inline constexpr char kKey[] = "5d2e9a40-3c71-4f8b-a6d0-1e7b94c2f385";
inline constexpr std::size_t kKeyLength = sizeof kKey;  // 37, the zero included
static_assert(kKeyLength == 37);

// Keys the cipher afresh with the fixed key (37 bytes: the key text and its zero).
inline void CipherInit(Cipher& c) {
  for (int k = 0; k < 256; ++k) c.keyed[k] = static_cast<unsigned char>(k);
  unsigned j = 0;
  for (unsigned k = 0; k < 256; ++k) {
    j = (j + c.keyed[k] + static_cast<unsigned char>(kKey[k % kKeyLength])) & 0xFF;
    std::swap(c.keyed[k], c.keyed[j]);
  }
  std::memcpy(c.s, c.keyed, sizeof c.s);
  c.i = 0;
  c.j = 0;
}

// XORs count bytes in place with the next keystream bytes (enciphers and deciphers alike).
inline void CipherApply(Cipher& c, unsigned char* bytes, std::size_t count) {
  for (std::size_t n = 0; n < count; ++n) {
    c.i = static_cast<unsigned char>(c.i + 1);
    c.j = static_cast<unsigned char>(c.j + c.s[c.i]);
    std::swap(c.s[c.i], c.s[c.j]);
    bytes[n] ^= c.s[static_cast<unsigned char>(c.s[c.i] + c.s[c.j])];
  }
}

// Deciphers and parses the bytes of a whole dump file. Never reads past the end; a block
// record is accepted only when all its announced bytes are present.
inline Contents Decode(const std::string& fileBytes) {
  Contents out;
  if (fileBytes.size() < sizeof kHeader || std::memcmp(fileBytes.data(), kHeader, sizeof kHeader) != 0) {
    if (fileBytes.empty()) out.error = "empty file, not a transmission dump";
    else if (fileBytes.size() < sizeof kHeader && std::memcmp(fileBytes.data(), kHeader, fileBytes.size()) == 0)
      out.error = "file cut inside the header";
    else out.error = "not a transmission dump (no DMP header)";
    return out;
  }
  std::string body = fileBytes.substr(sizeof kHeader);
  Cipher cipher;
  CipherInit(cipher);
  CipherApply(cipher, reinterpret_cast<unsigned char*>(body.data()), body.size());

  const std::size_t size = body.size();
  std::size_t at = 0;
  auto where = [](std::size_t bodyOffset) { return std::to_string(bodyOffset + sizeof kHeader); };
  while (at < size) {
    const std::size_t start = at;
    Record r;
    r.kind = static_cast<unsigned char>(body[at++]);
    if (r.kind == kReceived || r.kind == kSentByte) {
      if (at >= size) {
        out.error = "file cut inside the record at offset " + where(start);
        return out;
      }
      r.bytes.assign(1, body[at++]);
    } else if (r.kind == kSentBlock) {
      if (size - at < 4) {
        out.error = "file cut inside the record at offset " + where(start);
        return out;
      }
      std::uint32_t n = 0;
      for (int k = 3; k >= 0; --k) n = (n << 8) | static_cast<unsigned char>(body[at + static_cast<std::size_t>(k)]);
      at += 4;
      if (n > size - at) {
        out.error = "block record at offset " + where(start) + " announces " + std::to_string(n) + " bytes, " +
                    std::to_string(size - at) + " remain";
        return out;
      }
      r.bytes = body.substr(at, n);
      at += n;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "%02X", r.kind);
      out.error = std::string("unknown record kind ") + hex + " at offset " + where(start);
      return out;
    }
    out.records.push_back(std::move(r));
  }
  return out;
}

}  // namespace quorvel::dump

// The dump writer a CRS232 owns once SetBinDump switched the dump on. Failures (the file
// cannot be created or written) only stop the recording; the serial I/O is never affected.
class QUORVEL_API CDumpSComm {
 public:
  CDumpSComm();
  virtual ~CDumpSComm();
  CDumpSComm(const CDumpSComm&) = delete;
  CDumpSComm& operator=(const CDumpSComm&) = delete;

  // Starts a new file: closes an open one, keys the cipher afresh, creates the file named by
  // the file name (a default name when it is empty), truncating it, and writes the header.
  // Returns whether the stream is good.
  virtual bool Open();
  virtual void Close();
  // The record operations return true while the stream is good. Empty or null input writes
  // nothing and returns false.
  virtual bool OnRead(unsigned char byte);
  virtual bool OnWrite(const void* bytes, unsigned count);
  virtual bool OnWrite(const char* text);
  virtual bool OnWrite(unsigned char byte);

  // Windows-1250 file name; the file is created under its UTF-8 form.
  void SetFileName(const std::string& name) { fileName_ = name; }
  const std::string& GetFileName() const { return fileName_; }

 private:
  bool writeEnciphered(const unsigned char* bytes, std::size_t count);

  std::string fileName_;
  std::ofstream file_;
  quorvel::dump::Cipher cipher_;
  unsigned char* scratch_ = nullptr;
  std::size_t scratchSize_ = 0;
};

// "%y%m%d%H%M%S_" of the local time, then name, then ".dmp" (no folder: the current one).
QUORVEL_API std::string GetDumpFileName(const std::string& name);
