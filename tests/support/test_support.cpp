#include "tests/support/test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/cp1250.h"

namespace quorvel::test {

ScratchDir::ScratchDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "quorvel-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
  previous_ = std::filesystem::current_path().string();
  std::filesystem::current_path(path_);
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::current_path(previous_, ec);
  std::filesystem::remove_all(path_, ec);
}

EnvScope::EnvScope(const char* name, const std::string& value) : name_(name) {
  if (const char* old = std::getenv(name)) {
    previous_ = old;
    hadPrevious_ = true;
  }
  ::setenv(name, value.c_str(), 1);
}

EnvScope::~EnvScope() {
  if (hadPrevious_)
    ::setenv(name_.c_str(), previous_.c_str(), 1);
  else
    ::unsetenv(name_.c_str());
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string schemaErrors(const std::string& xmlPath, const std::string& schema) {
  const std::string cmd = "xmllint --noout --schema '" QUORVEL_SCHEMA_DIR "/" + schema + "' '" + xmlPath + "' 2>&1";
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return "cannot run xmllint";
  std::string out;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  const int status = ::pclose(p);
  return status == 0 ? std::string() : out;
}

std::string cp1250ToUtf8(const std::string& bytes) { return quorvel::cp1250::toUtf8(bytes); }

int exitStatusForReport(const std::string& report) {
  const std::string head = "<Status>\r\n\t\t<Typ>";
  std::size_t at = report.find(head);
  if (at == std::string::npos) return 2;
  at += head.size();
  const std::string type = report.substr(at, report.find('<', at) - at);
  return type == "OK" || type == "I" ? 0 : type == "W" ? 1 : 2;
}

bool sanitizerReport(const std::string& output) {
  return output.find("Sanitizer") != std::string::npos || output.find("runtime error:") != std::string::npos;
}

}  // namespace quorvel::test
