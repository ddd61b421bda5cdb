#include "drivers/elzab/link.h"

#include <cstdio>
#include <memory>
#include <vector>

#include "core/error_state.h"
#include "core/progress.h"
#include "core/serial/rs232.h"
#include "drivers/elzab/binding.h"
#include "platform/cp1250.h"
#include "platform/job_dir.h"
#include "plugin/config_store.h"
#include "plugin/plugin_frame.h"
#include "plugin/session.h"

namespace quorvel::elzab {

namespace {


// A text file of the job directory written as WinIP reads it: every "\n" as CR LF. A file
// rewritten before every call is written over and cut to its new length rather than emptied
// first (platform::OpenFileForRewriting says why). A link or anything but a regular file under
// the name is never written through: the file cannot be created then.
class TextFile {
 public:
  enum Mode { kCreate, kRewrite };
  explicit TextFile(const char* name, Mode mode = kCreate) : name_(name), rewrite_(mode == kRewrite) {
    platform::WriteOpenError why = platform::WriteOpenError::None;
    file_ = platform::OpenResultFileForWriting(name, why, !rewrite_);
  }
  ~TextFile() { close(); }
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  bool isOpen() const { return file_ != nullptr; }
  // False once a write has failed.
  bool write(const std::string& text) {
    if (!file_) return false;
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (const char c : text) {
      if (c == '\n') out += '\r';
      out += c;
    }
    if (!failed_ && !out.empty() && !platform::WriteToFile(file_, out.data(), out.size(), name_)) failed_ = true;
    return !failed_;
  }
  // Closes the file; false when a write or the close failed.
  bool close() {
    if (!file_) return !failed_;
    if (rewrite_ && !failed_ && !platform::CutFileHere(file_)) failed_ = true;
    if (!platform::CloseFile(file_, name_)) failed_ = true;
    file_ = nullptr;
    return !failed_;
  }

 private:
  const char* name_;
  std::FILE* file_ = nullptr;
  bool rewrite_;
  bool failed_ = false;
};

// Creates `name` and writes `text`; errors 1 and 4 with the file's name.
int writeWholeFile(const char* name, const std::string& text) {
  TextFile f(name);
  if (!f.isOpen()) return SetError(ERR_FILE_CREATE, name);
  f.write(text);
  if (!f.close()) return SetError(ERR_FILE_WRITE, name);
  return GetErrorNum();
}

}  // namespace

Link& link() { return plugin::Session<Link>::get(); }

void releaseLink() { plugin::Session<Link>::release(); }

int writeKonfig() {
  if (GetErrorNum() != 0) return GetErrorNum();
  TextFile f(kKonfigFile);
  if (!f.isOpen()) return SetError(ERR_FILE_CREATE, kKonfigFile);
  const KonfigLine k = konfigLine(link().config);
  // What precedes a refusal stays in the file, which WinIP then cannot use.
  f.write(k.line);
  if (!k.refusal.empty()) {
    f.close();
    return SetError(k.refusal.c_str());
  }
  if (!f.close()) return SetError(ERR_FILE_WRITE, kKonfigFile);
  return GetErrorNum();
}

int writeSkonfig() {
  if (GetErrorNum() != 0) return GetErrorNum();
  return writeWholeFile(kSkonfigFile, skonfigText());
}

int writeModkonf() {
  if (GetErrorNum() != 0 || link().config.modemOn != 1) return GetErrorNum();
  // A modem configuration of the shop's own is never replaced; anything under the name that
  // is not a regular file (a FIFO) is not read, waited on or replaced either.
  platform::ReadOpenError why = platform::ReadOpenError::None;
  if (std::FILE* existing = platform::OpenRegularFileForReading(kModkonfFile, why)) {
    std::fclose(existing);
    return GetErrorNum();
  }
  if (why == platform::ReadOpenError::NotRegular) return GetErrorNum();
  return writeWholeFile(kModkonfFile, modkonfText());
}

int switchForeignMultiplexer() {
  const SUConfig& c = link().config;
  if (c.muxOn != 1 || (c.muxType != kMuxFalwi && c.muxType != kMuxMpx4s)) return GetErrorNum();
  CRS232 port;
  plugin::setSerialLine(port, plugin::fieldText(c.port, sizeof c.port), static_cast<unsigned long>(c.speed),
                        5000, 2000);
  if (const int e = port.Open()) return e;
  int result = port.SetMux(c.muxType, c.muxChannel);
  port.Close();
  if (result == 0) result = GetErrorNum();
  return result;
}

std::string registerLockName(int com) { return "elzab-COM" + std::to_string(com); }

int lockRegister() {
  Link& l = link();
  const SUConfig& c = l.config;
  const int com = comPortNumber(plugin::fieldText(c.port, sizeof c.port));
  const std::string port = "COM" + std::to_string(com);
  struct Wanted {
    std::string name;      // of the lock file
    std::string register_;  // the register in words
  };
  std::vector<Wanted> wanted{{registerLockName(com), "Kasa Elzab na porcie "_cp + port}};
  if (c.modemOn == 1) {
    std::string phone;
    for (const char ch : plugin::fieldText(c.phone, sizeof c.phone))
      if (ch != ' ' && ch != '\t' && ch != '-') phone += ch;
    wanted.push_back({"elzab-modem-" + phone, "Kasa Elzab pod numerem telefonu "_cp + phone});
  }
  for (const Wanted& w : wanted) {
    auto lock = std::make_unique<platform::RegisterLock>();
    switch (lock->LockNamed(w.name)) {
      case platform::RegisterLock::Result::Held:
      case platform::RegisterLock::Result::NoDevice:
        l.locks.push_back(std::move(lock));
        break;
      case platform::RegisterLock::Result::Busy:
        l.locks.clear();
        return SetError((w.register_ + " jest zajęta przez "_cp + lock->HolderText() + "; blokada "_cp + lock->LockFile())
                            .c_str());
      case platform::RegisterLock::Result::Unavailable:
        l.locks.clear();
        return SetError((w.register_ + ": " + lock->UnavailableText()).c_str());
    }
  }
  return GetErrorNum();
}

int prepareConnection() {
  if (const int e = writeKonfig()) return e;
  if (const int e = writeSkonfig()) return e;
  if (const int e = writeModkonf()) return e;
  if (const int e = lockRegister()) return e;
  if (!loadWinIP()) return GetErrorNum();
  return switchForeignMultiplexer();
}

int writeInputFile(const std::string& dataLines) {
  TextFile f(kInputFile, TextFile::kRewrite);
  if (!f.isOpen()) return SetError(ERR_FILE_CREATE, kInputFile);
  if (!f.write(inputHeader(link().config.registerNumber))) {
    f.close();
    return SetError(ERR_FILE_WRITE, kInputFile);
  }
  f.write(dataLines);
  if (!f.close()) return SetError(ERR_FILE_WRITE, kInputFile);
  return 0;
}

int readResultFile(const char* name, const char* work, const ResultParser::OnRecord& onRecord) {
  platform::ReadOpenError why = platform::ReadOpenError::None;
  std::FILE* file = platform::OpenRegularFileForReading(name, why);
  if (!file) return SetError(why == platform::ReadOpenError::NotRegular ? ERR_FILE_READ : ERR_FILE_MISSING, name);
  long size = 0;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) {
    std::fclose(file);
    return SetError(ERR_FILE_READ, name);
  }
  long consumed = 0;
  QuorvelProgress(0, size, work);
  ResultParser parser([&](unsigned line, const RecordFields& fields) {
    QuorvelProgress(consumed, size, work);
    return onRecord(line, fields);
  });
  std::vector<char> buffer(64 * 1024);
  ResultParser::Stop stop = ResultParser::Stop::kNone;
  bool readFailed = false;
  while (stop == ResultParser::Stop::kNone) {
    const std::size_t n = platform::ReadFromFile(file, buffer.data(), buffer.size(), name, readFailed);
    if (n == 0 || readFailed) break;
    consumed += static_cast<long>(n);
    stop = parser.feed(std::string_view(buffer.data(), n));
  }
  std::fclose(file);
  if (stop == ResultParser::Stop::kNone && !readFailed) stop = parser.finish();
  char text[512];
  switch (stop) {
    case ResultParser::Stop::kNone:
      if (readFailed) return SetError(ERR_FILE_READ, name);
      QuorvelProgress(size, size, work);
      return GetErrorNum();
    case ResultParser::Stop::kSyntax:
      std::snprintf(text, sizeof text, "Nieprawidłowa składnia pliku '%s' w linii %u."_cp, name, parser.line());
      return SetError(text);
    case ResultParser::Stop::kTooLong:
      std::snprintf(text, sizeof text, "Linia %u pliku '%s' jest dłuższa niż %u znaków."_cp, parser.line(), name,
                    static_cast<unsigned>(kMaxLineLength));
      return SetError(text);
    case ResultParser::Stop::kControl:
      std::snprintf(text, sizeof text, "%s, linia %u: znak sterujący 0x%02X"_cp, name, parser.line(),
                    static_cast<unsigned>(parser.controlByte()));
      return SetError(ERR_DEVICE_DATA, text);
    case ResultParser::Stop::kNoHeader:
      if (parser.line() == 0)
        std::snprintf(text, sizeof text, "%s, linia 1: plik jest pusty", name);
      else
        std::snprintf(text, sizeof text, "%s, linia %u: brak nagłówka"_cp, name, parser.line() + 1);
      return SetError(ERR_DEVICE_DATA, text);
    case ResultParser::Stop::kStopped:
      break;
  }
  return GetErrorNum();
}

int reportFieldFault(const FieldFault& fault, const char* file, unsigned line) {
  if (fault.kind == FieldFault::kMissing) {
    char text[256];
    std::snprintf(text, sizeof text, "Niekompletny rekord w pliku '%s' w linii %u."_cp, file, line);
    return SetError(text);
  }
  const int number = fault.kind == FieldFault::kNotNumber   ? ERR_INT_INVALID
                     : fault.kind == FieldFault::kBelowRange ? ERR_INT_BELOW
                                                             : ERR_INT_ABOVE;
  // The field as read, cut so that the message keeps its place and line.
  const std::string shown = fault.text.substr(0, 64);
  char detail[256];
  std::snprintf(detail, sizeof detail, "'%s' w pliku '%s' w linii %u."_cp, shown.c_str(), file, line);
  return SetError(number, detail);
}

void driverInit() {
  Link& l = link();
  if (l.configuring || l.config.modemOn != 1 || !winIPLoaded() || l.modemStarted) return;
  if (writeInputFile(std::string()) != 0) return;
  callWinIP(WinIP::ModStart);
  if (GetErrorNum() == 0) l.modemStarted = true;
}

void driverFree() {
  Link& l = link();
  if (l.config.modemOn != 1 || !l.modemStarted) return;
  if (writeInputFile(std::string()) == 0) callWinIP(WinIP::ModStop);
  l.modemStarted = false;
}

int checkConnection() {
  if (const int e = writeInputFile(std::string())) return e;
  return callWinIP(WinIP::OBajty);
}

int probeWinIP(int com, long speed, unsigned timeoutMs) {
  Link& l = link();
  setDefaultConfig(l.config);
  plugin::storeText(l.config.port, sizeof l.config.port, "COM" + std::to_string(com));
  l.config.speed = static_cast<std::int32_t>(speed);
  l.config.timeout = static_cast<std::int32_t>((timeoutMs + 999) / 1000);
  int result = prepareConnection();
  if (result == 0) result = checkConnection();
  l.locks.clear();
  return result;
}

}  // namespace quorvel::elzab
