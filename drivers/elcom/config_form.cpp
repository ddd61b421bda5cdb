#include "drivers/elcom/config_form.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "platform/cp1250.h"

namespace quorvel::elcom {

namespace {

constexpr const char* kSpeeds[] = {"9600", "38400"};

struct MuxChoice {
  const char* name;
  std::int32_t code;
};
constexpr MuxChoice kMuxChoices[] = {{"Elzab 4x", kMuxElzab4x}, {"Falwi", kMuxFalwi}, {"MPX4s", kMuxMpx4s}};

// The value of a digits-only field; -1 when empty or too long to be any valid value.
long digitsValue(const std::string& text) {
  if (text.empty() || text.size() > 9) return -1;
  return std::strtol(text.c_str(), nullptr, 10);
}

bool startsWithNoCase(const std::string& item, const std::string& prefix) {
  if (prefix.size() > item.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(item[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

std::string rangeMessage(int low, int high) {
  char text[128];
  std::snprintf(text, sizeof text, "Wprowadź liczbę całkowitą z zakresu od %d do %d."_cp, low, high);
  return text;
}

}  // namespace

ElcomConfigForm::ElcomConfigForm(const SUConfig& config, std::vector<std::string> ports) {
  title = "Konfiguracja kasy";
  frame = "Parametry połączenia"_cp;
  menu = {"&About Driver..."};
  fields.resize(kFieldCount);

  ui::Field& port = fields[kPort];
  port.kind = ui::FieldKind::ComboEdit;
  port.label = "&Numer portu:";
  port.items = std::move(ports);
  port.maxLength = sizeof config.port - 1;
  port.text = plugin::fieldText(config.port, sizeof config.port);
  // The list item that begins with the configured name is selected (and shown); a name that
  // no item begins with stays as typed text.
  if (!port.text.empty()) {
    for (std::size_t i = 0; i < port.items.size(); ++i) {
      if (startsWithNoCase(port.items[i], port.text)) {
        port.selected = static_cast<int>(i);
        port.text = port.items[i];
        break;
      }
    }
  }

  ui::Field& speed = fields[kSpeed];
  speed.kind = ui::FieldKind::DropDown;
  speed.label = "&Prędkość:"_cp;
  speed.items.assign(std::begin(kSpeeds), std::end(kSpeeds));
  speed.selected = 0;
  for (std::size_t i = 0; i < speed.items.size(); ++i)
    if (speed.items[i] == std::to_string(config.speed)) speed.selected = static_cast<int>(i);

  ui::Field& muxOn = fields[kMuxOn];
  muxOn.kind = ui::FieldKind::CheckBox;
  muxOn.label = "Połączenie przez &multiplekser"_cp;
  muxOn.checked = config.muxOn != 0;

  ui::Field& type = fields[kMuxType];
  type.kind = ui::FieldKind::DropDown;
  type.label = "&Typ:";
  for (const MuxChoice& c : kMuxChoices) {
    type.items.emplace_back(c.name);
    if (c.code == config.muxType) type.selected = static_cast<int>(type.items.size()) - 1;
  }

  ui::Field& channel = fields[kMuxChannel];
  channel.kind = ui::FieldKind::SpinEdit;
  channel.label = "&Kanał:"_cp;
  channel.digitsOnly = true;
  channel.maxLength = 9;
  channel.text = std::to_string(config.muxChannel);

  ui::Field& maxPlu = fields[kMaxPlu];
  maxPlu.kind = ui::FieldKind::ReadOnly;
  maxPlu.label = "&Maksymalny kod PLU:";
  maxPlu.text = std::to_string(config.maxPluCode);

  ui::Field& number = fields[kRegisterNumber];
  number.kind = ui::FieldKind::Edit;
  number.label = "&Numer kasy:";
  number.digitsOnly = true;
  number.maxLength = 9;
  number.text = std::to_string(config.registerNumber);

  ui::Field& dump = fields[kBinDump];
  dump.kind = ui::FieldKind::CheckBox;
  dump.label = "B&inarny zapis transmisji";
  dump.checked = config.binDump != 0;

  applyMuxEnabling();
  applyChannelRange();
}

std::int32_t ElcomConfigForm::selectedMuxType() const {
  const int s = fields[kMuxType].selected;
  if (s < 0 || s >= static_cast<int>(std::size(kMuxChoices))) return 0;
  return kMuxChoices[s].code;
}

void ElcomConfigForm::applyMuxEnabling() {
  const bool on = fields[kMuxOn].checked;
  fields[kMuxType].enabled = on;
  fields[kMuxChannel].enabled = on;
}

void ElcomConfigForm::applyChannelRange() {
  fields[kMuxChannel].spinMin = 1;
  fields[kMuxChannel].spinMax = muxChannelLimit(selectedMuxType());
}

void ElcomConfigForm::fieldChanged(std::size_t index) {
  switch (index) {
    case kMuxOn:
      if (fields[kMuxOn].checked) {
        // Ticked again: the selection and text remembered when it was cleared come back;
        // before anything was remembered the fields keep what they show.
        if (remembered_) {
          fields[kMuxType].selected = rememberedType_;
          fields[kMuxChannel].text = rememberedChannel_;
        }
      } else {
        remembered_ = true;
        rememberedType_ = fields[kMuxType].selected;
        rememberedChannel_ = fields[kMuxChannel].text;
        fields[kMuxType].selected = -1;
        fields[kMuxChannel].text.clear();
      }
      applyMuxEnabling();
      applyChannelRange();
      break;
    case kMuxType:
      applyChannelRange();
      break;
    case kBinDump:
      if (fields[kBinDump].checked)
        ui::messageBox(
            "Włączono binarny zapis transmisji.\nSłuży on do celów diagnostycznych - po wykonaniu transmisji należy go wyłączyć."_cp,
            "Quorvel", ui::Icon::Information);
      break;
    default:
      break;
  }
}

std::optional<ui::Refusal> ElcomConfigForm::validate() {
  if (fields[kMuxOn].checked) {
    // A type the form does not offer (e.g. one written by another plug-in) has no code to
    // store: it must be chosen before the record can take the multiplexer.
    if (selectedMuxType() == 0) return ui::Refusal{kMuxType, "Wybierz typ multipleksera."_cp};
    const int limit = muxChannelLimit(selectedMuxType());
    const long channel = digitsValue(fields[kMuxChannel].text);
    if (channel < 1 || channel > limit) return ui::Refusal{kMuxChannel, rangeMessage(1, limit)};
  }
  const long number = digitsValue(fields[kRegisterNumber].text);
  if (number < 1 || number > 99) return ui::Refusal{kRegisterNumber, rangeMessage(1, 99)};
  return std::nullopt;
}

void ElcomConfigForm::menuChosen(std::size_t entry) {
  if (entry == 0)
    ui::messageBox("quorvel_elcom - sterownik kas fiskalnych Elcom Euro", "Program komunikacyjny", ui::Icon::None);
}

void ElcomConfigForm::store(SUConfig& config) const {
  plugin::storeText(config.port, sizeof config.port, fields[kPort].text);
  const ui::Field& speed = fields[kSpeed];
  if (speed.selected >= 0 && speed.selected < static_cast<int>(speed.items.size()))
    config.speed = static_cast<std::int32_t>(std::strtol(speed.items[static_cast<std::size_t>(speed.selected)].c_str(), nullptr, 10));
  config.muxOn = fields[kMuxOn].checked ? 1 : 0;
  if (fields[kMuxOn].checked) {
    config.muxType = selectedMuxType();
    config.muxChannel = static_cast<std::int32_t>(digitsValue(fields[kMuxChannel].text));
  }
  config.registerNumber = static_cast<std::int32_t>(digitsValue(fields[kRegisterNumber].text));
  config.binDump = fields[kBinDump].checked ? 1 : 0;
}

int configure(SUConfig& config) {
  ElcomConfigForm form(config, plugin::configPortNames());
  return plugin::runConfiguration(config, form);
}

}  // namespace quorvel::elcom
