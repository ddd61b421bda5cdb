// Helpers shared by the test programs: scratch job directories, whole-file reads and writes,
// and schema validation of the files the system writes.
#pragma once

#include <string>

namespace quorvel::test {

// A fresh directory under the system's temporary folder, made the current directory for the
// lifetime of the object (exchange files land in the current directory), removed afterwards.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
  std::string previous_;
};

// An environment variable set for the lifetime of the object (QUORVEL_LIBRARY_PATH naming the
// vendor-library stand-ins, for one), restored or removed afterwards.
class EnvScope {
 public:
  EnvScope(const char* name, const std::string& value);
  ~EnvScope();
  EnvScope(const EnvScope&) = delete;
  EnvScope& operator=(const EnvScope&) = delete;

 private:
  std::string name_;
  std::string previous_;
  bool hadPrevious_ = false;
};

std::string readFile(const std::string& path);   // whole file as bytes; "" when missing
bool fileExists(const std::string& path);
void writeFile(const std::string& path, const std::string& bytes);

// Validates an XML file with xmllint against schemas/<schema> (e.g. "Raport.xsd").
// Returns "" when valid, otherwise xmllint's complaint.
std::string schemaErrors(const std::string& xmlPath, const std::string& schema);

// Converts windows-1250 bytes to UTF-8 (for readable assertion messages).
std::string cp1250ToUtf8(const std::string& bytes);

// The exit status `quorvel run` owes the report RAPORT.XML (its bytes or their UTF-8 text): 0 for
// OK or I, 1 for W, 2 for E or no status at all.
int exitStatusForReport(const std::string& report);

// A sanitizer's report in a child process's output (its exit status alone may look like a
// warning's).
bool sanitizerReport(const std::string& output);

}  // namespace quorvel::test
