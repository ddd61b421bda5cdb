#include "plugin/describe.h"

#include <deque>

namespace quorvel::plugin::describe {

namespace {

// Everything a description points to stays put: a deque never moves what it holds.
std::deque<std::string>& texts() {
  static std::deque<std::string> kept;
  return kept;
}

std::deque<std::vector<QuorvelChoice>>& lists() {
  static std::deque<std::vector<QuorvelChoice>> kept;
  return kept;
}

}  // namespace

const char* keep(std::string text) { return texts().emplace_back(std::move(text)).c_str(); }

std::span<const QuorvelChoice> choices(Choices items) {
  std::vector<QuorvelChoice>& list = lists().emplace_back();
  for (const Choice& c : items) list.push_back({c.name, keep(std::to_string(c.code))});
  return list;
}

std::span<const QuorvelChoice> items(std::span<const char* const> values, std::span<const char* const> aliases) {
  std::vector<QuorvelChoice>& list = lists().emplace_back();
  for (std::size_t i = 0; i < values.size(); ++i) list.push_back({values[i], i < aliases.size() ? aliases[i] : nullptr});
  return list;
}

QuorvelConfigKey choiceKey(const char* name, std::span<const QuorvelChoice> values, const char* defaultValue,
                           const char* help, const char* refusal) {
  return {.name = name, .type = QUORVEL_KEY_CHOICE, .flags = 0, .defaultValue = defaultValue, .minimum = 0,
          .maximum = 0, .choices = values.data(), .choiceCount = values.size(), .help = help, .refusal = refusal};
}

QuorvelConfigKey switchKey(const char* name, const char* help) {
  return {.name = name, .type = QUORVEL_KEY_SWITCH, .flags = 0, .defaultValue = "no", .minimum = 0, .maximum = 1,
          .choices = nullptr, .choiceCount = 0, .help = help, .refusal = nullptr};
}

QuorvelConfigKey numberKey(const char* name, long minimum, long maximum, const char* defaultValue, const char* help,
                           unsigned flags) {
  return {.name = name, .type = QUORVEL_KEY_NUMBER, .flags = flags, .defaultValue = defaultValue,
          .minimum = minimum, .maximum = maximum, .choices = nullptr, .choiceCount = 0, .help = help,
          .refusal = nullptr};
}

QuorvelConfigKey textKey(const char* name, std::size_t size, long minimum, const char* defaultValue,
                         const char* help) {
  return {.name = name, .type = QUORVEL_KEY_TEXT, .flags = 0, .defaultValue = defaultValue, .minimum = minimum,
          .maximum = static_cast<long>(size) - 1, .choices = nullptr, .choiceCount = 0, .help = help,
          .refusal = nullptr};
}

QuorvelConfigKey portKey(std::size_t size, const char* help) {
  QuorvelConfigKey key = textKey("port", size, 1, "COM1", help);
  key.type = QUORVEL_KEY_PATH;
  return key;
}

QuorvelConfigKey speedKey(std::span<const char* const> speeds) {
  return choiceKey("speed", items(speeds), "9600", "bits per second");
}

std::vector<QuorvelConfigKey> muxKeys(Choices types) {
  int widest = 1;
  std::string limits;
  for (const Choice& c : types) {
    widest = std::max(widest, muxChannelLimit(c.code));
    limits += std::string(limits.empty() ? "up to " : ", ") + std::to_string(muxChannelLimit(c.code)) + " (" +
              c.name + ")";
  }
  return {switchKey("mux", "the register is reached through a line multiplexer"),
          choiceKey("mux-type", choices(types), types.front().name, "the multiplexer's type"),
          numberKey("mux-channel", 1, widest, "1", keep("the multiplexer's channel, " + limits),
                    QUORVEL_KEY_RANGE_CONDITIONAL)};
}

QuorvelConfigKey registerKey() { return numberKey("register", 1, 99, "1", "register number on the line"); }

QuorvelDriverDescription description(const char* name, const char* summary, const char* registers) {
  QuorvelDriverDescription d{};
  d.size = sizeof d;
  d.version = QUORVEL_DRIVER_DESCRIPTION_VERSION;
  d.name = name;
  d.summary = summary;
  d.registers = registers;
  return d;
}

}  // namespace quorvel::plugin::describe
