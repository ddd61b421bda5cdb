#include "plugin/text_config.h"

namespace quorvel::plugin {

const char* switchText(bool on) { return on ? "yes" : "no"; }

std::optional<std::string> setSwitch(std::int32_t& field, std::string_view text) {
  const std::optional<bool> on = parseSwitch(text);
  if (!on) return "write yes or no";
  field = *on ? 1 : 0;
  return std::nullopt;
}

std::optional<std::string> setText(char* field, std::size_t size, std::string_view text) {
  if (text.empty()) return std::string("may not be empty");
  for (const char c : text)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::string("may not hold control characters");
  if (text.size() > size - 1) return "at most " + std::to_string(size - 1) + " characters";
  storeText(field, size, text);
  return std::nullopt;
}

std::optional<std::string> setSpeed(std::int32_t& field, std::span<const char* const> speeds, std::string_view text) {
  std::string names;
  for (const char* speed : speeds) {
    if (text == speed) {
      field = static_cast<std::int32_t>(digitsValue(text));
      return std::nullopt;
    }
    names += names.empty() ? "" : ", ";
    names += speed;
  }
  return "must be one of " + names;
}

std::optional<std::string> setChoice(std::int32_t& field, Choices choices, std::string_view text) {
  const std::optional<std::int32_t> code = choiceNamed(choices, text);
  if (!code) return "must be one of " + choiceNames(choices);
  field = *code;
  return std::nullopt;
}

std::string choiceText(Choices choices, std::int32_t code) {
  const int i = choiceIndex(choices, code);
  return i >= 0 ? choices[static_cast<std::size_t>(i)].name : std::to_string(code);
}

void setDigits(std::int32_t& field, std::string_view text) { field = static_cast<std::int32_t>(digitsValue(text)); }

namespace detail {

std::string describeKeys(std::span<const std::string_view> keys) {
  std::string names;
  for (const std::string_view k : keys) {
    if (!names.empty()) names += ", ";
    names += k;
  }
  return names;
}

}  // namespace detail

}  // namespace quorvel::plugin
