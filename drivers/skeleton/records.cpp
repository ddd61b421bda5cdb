#include "drivers/skeleton/records.h"

namespace quorvel::skeleton {

namespace {
constexpr std::string_view kHello = "HELLO";
constexpr std::string_view kOk = "OK ";
}  // namespace

std::string helloRequest() { return std::string(kHello) + kLineEnd; }

bool isHelloRequest(std::string_view line) { return line == kHello; }

std::string helloAnswer(std::string_view model) { return std::string(kOk) + std::string(model) + kLineEnd; }

std::optional<std::string> parseHelloAnswer(std::string_view line) {
  if (line.size() <= kOk.size() || line.substr(0, kOk.size()) != kOk) return std::nullopt;
  const std::string_view model = line.substr(kOk.size());
  for (const char c : model)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::nullopt;
  return std::string(model);
}

}  // namespace quorvel::skeleton
