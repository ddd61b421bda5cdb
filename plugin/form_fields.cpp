#include "plugin/form_fields.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "platform/cp1250.h"

namespace quorvel::plugin {

namespace {

bool equalNoCase(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

bool startsWithNoCase(std::string_view item, std::string_view prefix) {
  if (prefix.size() > item.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (!equalNoCase(item[i], prefix[i])) return false;
  return true;
}

}  // namespace

long digitsValue(std::string_view text) {
  if (text.empty() || text.size() > 9) return -1;
  long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::string rangeMessage(int low, int high) {
  char text[128];
  std::snprintf(text, sizeof text, "Wprowadź liczbę całkowitą z zakresu od %d do %d."_cp, low, high);
  return text;
}

std::optional<std::string> checkRange(long value, int low, int high) {
  if (value < low || value > high) return rangeMessage(low, high);
  return std::nullopt;
}

int choiceIndex(Choices choices, std::int32_t code) {
  for (std::size_t i = 0; i < choices.size(); ++i)
    if (choices[i].code == code) return static_cast<int>(i);
  return -1;
}

std::optional<std::int32_t> choiceNamed(Choices choices, std::string_view text) {
  for (const Choice& c : choices) {
    const std::string_view name = c.name;
    if (name.size() == text.size() && startsWithNoCase(name, text)) return c.code;
  }
  const long code = digitsValue(text);
  if (code >= 0 && choiceIndex(choices, static_cast<std::int32_t>(code)) >= 0) return static_cast<std::int32_t>(code);
  return std::nullopt;
}

std::string choiceNames(Choices choices) {
  std::string names;
  for (const Choice& c : choices) {
    if (!names.empty()) names += ", ";
    names += c.name;
  }
  return names;
}

std::optional<FieldRefusal> checkMux(Choices types, bool on, std::int32_t type, std::int32_t channel) {
  if (!on) return std::nullopt;
  if (choiceIndex(types, type) < 0) return FieldRefusal{kMuxTypeKey, "Wybierz typ multipleksera."_cp};
  if (auto message = checkRange(channel, 1, muxChannelLimit(type)))
    return FieldRefusal{kMuxChannelKey, std::move(*message)};
  return std::nullopt;
}

std::optional<FieldRefusal> checkRegisterNumber(std::int32_t number) {
  if (auto message = checkRange(number, 1, 99)) return FieldRefusal{kRegisterKey, std::move(*message)};
  return std::nullopt;
}

ui::Field portField(const std::string& configured, std::vector<std::string> ports, std::size_t maxLength) {
  ui::Field port;
  port.kind = ui::FieldKind::ComboEdit;
  port.label = "&Numer portu:";
  port.items = std::move(ports);
  port.maxLength = maxLength;
  port.text = configured;
  if (!port.text.empty()) {
    for (std::size_t i = 0; i < port.items.size(); ++i) {
      if (startsWithNoCase(port.items[i], port.text)) {
        port.selected = static_cast<int>(i);
        port.text = port.items[i];
        break;
      }
    }
  }
  return port;
}

ui::Field speedField(std::span<const char* const> speeds, std::int32_t configured) {
  ui::Field speed;
  speed.kind = ui::FieldKind::DropDown;
  speed.label = "&Prędkość:"_cp;
  speed.items.assign(speeds.begin(), speeds.end());
  speed.selected = 0;
  for (std::size_t i = 0; i < speed.items.size(); ++i)
    if (speed.items[i] == std::to_string(configured)) speed.selected = static_cast<int>(i);
  return speed;
}

std::int32_t selectedSpeed(const ui::Field& speed, std::int32_t fallback) {
  if (speed.selected < 0 || speed.selected >= static_cast<int>(speed.items.size())) return fallback;
  return static_cast<std::int32_t>(std::strtol(speed.items[static_cast<std::size_t>(speed.selected)].c_str(), nullptr, 10));
}

ui::Field numberField(const char* label, std::int32_t value) {
  ui::Field number;
  number.kind = ui::FieldKind::Edit;
  number.label = label;
  number.digitsOnly = true;
  number.maxLength = 9;
  number.text = std::to_string(value);
  return number;
}

void MuxGroup::build(std::vector<ui::Field>& fields, bool on, std::int32_t type, std::int32_t channel) const {
  ui::Field& box = fields[onIndex()];
  box.kind = ui::FieldKind::CheckBox;
  box.label = "Połączenie przez &multiplekser"_cp;
  box.checked = on;

  ui::Field& list = fields[typeIndex()];
  list.kind = ui::FieldKind::DropDown;
  list.label = "&Typ:";
  for (const Choice& c : types_) list.items.emplace_back(c.name);
  list.selected = choiceIndex(types_, type);

  ui::Field& spin = fields[channelIndex()];
  spin.kind = ui::FieldKind::SpinEdit;
  spin.label = "&Kanał:"_cp;
  spin.digitsOnly = true;
  spin.maxLength = 9;
  spin.text = std::to_string(channel);

  applyEnabling(fields);
  applyChannelRange(fields);
}

std::int32_t MuxGroup::selectedType(const std::vector<ui::Field>& fields) const {
  const int s = fields[typeIndex()].selected;
  if (s < 0 || s >= static_cast<int>(types_.size())) return 0;
  return types_[static_cast<std::size_t>(s)].code;
}

void MuxGroup::applyEnabling(std::vector<ui::Field>& fields) const {
  const bool on = fields[onIndex()].checked;
  fields[typeIndex()].enabled = on;
  fields[channelIndex()].enabled = on;
}

void MuxGroup::applyChannelRange(std::vector<ui::Field>& fields) const {
  fields[channelIndex()].spinMin = 1;
  fields[channelIndex()].spinMax = muxChannelLimit(selectedType(fields));
}

bool MuxGroup::fieldChanged(std::vector<ui::Field>& fields, std::size_t index) {
  if (index == onIndex()) {
    ui::Field& type = fields[typeIndex()];
    ui::Field& channel = fields[channelIndex()];
    if (fields[onIndex()].checked) {
      // Ticked again: the selection and text remembered when it was cleared come back;
      // before anything was remembered the fields keep what they show.
      if (remembered_) {
        type.selected = rememberedType_;
        channel.text = rememberedChannel_;
      }
    } else {
      remembered_ = true;
      rememberedType_ = type.selected;
      rememberedChannel_ = channel.text;
      type.selected = -1;
      channel.text.clear();
    }
    applyEnabling(fields);
    applyChannelRange(fields);
    return true;
  }
  if (index == typeIndex()) {
    applyChannelRange(fields);
    return true;
  }
  return index == channelIndex();
}

void MuxGroup::store(const std::vector<ui::Field>& fields, std::int32_t& on, std::int32_t& type,
                     std::int32_t& channel) const {
  on = fields[onIndex()].checked ? 1 : 0;
  if (on) {
    type = selectedType(fields);
    channel = static_cast<std::int32_t>(digitsValue(fields[channelIndex()].text));
  }
}

}  // namespace quorvel::plugin
