#include "core/serial/dump.h"

#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "platform/cp1250.h"


namespace {

// Dump file names carry windows-1250 letters (the operation's name); on disk they are UTF-8.
std::string cp1250ToUtf8Name(const std::string& name) {
  return quorvel::cp1250::toUtf8(name, '_');  // the five bytes without a character: '_'
}

}  // namespace

CDumpSComm::CDumpSComm() { quorvel::dump::CipherInit(cipher_); }

CDumpSComm::~CDumpSComm() {
  Close();
  delete[] scratch_;
}

bool CDumpSComm::Open() {
  if (file_.is_open()) file_.close();
  file_.clear();
  quorvel::dump::CipherInit(cipher_);
  const std::string name = fileName_.empty() ? std::string("Binarny zapis transmisji z urządzeniem.dmp"_cp) : fileName_;
  file_.open(cp1250ToUtf8Name(name), std::ios::out | std::ios::binary | std::ios::trunc);
  if (file_.good()) {
    file_.write(reinterpret_cast<const char*>(quorvel::dump::kHeader), sizeof quorvel::dump::kHeader);
    file_.flush();
  }
  return file_.good();
}

void CDumpSComm::Close() {
  if (file_.is_open()) file_.close();
}

bool CDumpSComm::writeEnciphered(const unsigned char* bytes, std::size_t count) {
  // A file that was never opened (or closed with the port) drops records silently.
  if (!file_.is_open() || !file_.good()) return false;
  if (count > scratchSize_) {
    auto* grown = new (std::nothrow) unsigned char[count];
    if (!grown) return false;
    delete[] scratch_;
    scratch_ = grown;
    scratchSize_ = count;
  }
  std::memcpy(scratch_, bytes, count);
  quorvel::dump::CipherApply(cipher_, scratch_, count);
  file_.write(reinterpret_cast<const char*>(scratch_), static_cast<std::streamsize>(count));
  // Flushed at once: a dump is read after the program died as often as after a clean end.
  file_.flush();
  return file_.good();
}

bool CDumpSComm::OnRead(unsigned char byte) {
  const unsigned char record[2] = {quorvel::dump::kReceived, byte};
  return writeEnciphered(record, sizeof record);
}

bool CDumpSComm::OnWrite(unsigned char byte) {
  const unsigned char record[2] = {quorvel::dump::kSentByte, byte};
  return writeEnciphered(record, sizeof record);
}

bool CDumpSComm::OnWrite(const void* bytes, unsigned count) {
  if (!bytes || count == 0) return false;
  // Marker, length and data go through the keystream in file order, written as one block.
  std::string record(5 + static_cast<std::size_t>(count), '\0');
  record[0] = static_cast<char>(quorvel::dump::kSentBlock);
  for (int k = 0; k < 4; ++k) record[1 + static_cast<std::size_t>(k)] = static_cast<char>((count >> (8 * k)) & 0xFF);
  std::memcpy(record.data() + 5, bytes, count);
  return writeEnciphered(reinterpret_cast<const unsigned char*>(record.data()), record.size());
}

bool CDumpSComm::OnWrite(const char* text) {
  if (!text || !*text) return false;
  return OnWrite(static_cast<const void*>(text), static_cast<unsigned>(std::strlen(text)));
}

std::string GetDumpFileName(const std::string& name) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%y%m%d%H%M%S_", &local);
  return stamp + name + ".dmp";
}
