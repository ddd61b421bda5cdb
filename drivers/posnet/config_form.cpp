#include "drivers/posnet/config_form.h"

#include <iterator>

#include "platform/cp1250.h"
#include "plugin/text_config.h"

namespace quorvel::posnet {

namespace {

// A drop-down list of fixed texts showing `current`, else its first entry.
template <std::size_t N>
ui::Field listField(const char* label, const char* const (&items)[N], const std::string& current) {
  ui::Field f;
  f.kind = ui::FieldKind::DropDown;
  f.label = label;
  f.items.assign(std::begin(items), std::end(items));
  f.selected = 0;
  for (std::size_t i = 0; i < N; ++i)
    if (current == items[i]) f.selected = static_cast<int>(i);
  return f;
}

std::string selectedText(const ui::Field& f) {
  if (f.selected < 0 || f.selected >= static_cast<int>(f.items.size())) return {};
  return f.items[static_cast<std::size_t>(f.selected)];
}

}  // namespace

PosnetConfigForm::PosnetConfigForm(const SUConfig& config, std::vector<std::string> ports)
    : base_(config), mux_(kPosnetMuxTypes, kMuxOn) {
  fields.resize(kFieldCount);

  ui::Field& connection = fields[kConnection];
  connection.kind = ui::FieldKind::DropDown;
  connection.label = "&Typ:";
  for (const plugin::Choice& c : kConnectionTypes) connection.items.emplace_back(c.name);
  connection.selected = config.connectionType == kConnectionEthernet ? 1 : 0;

  ui::Field& ip = fields[kIpAddress];
  ip.kind = ui::FieldKind::Edit;
  ip.label = "&Adres IP:";
  ip.maxLength = kAddressTextMax;
  ip.text = addressText(config);

  fields[kPort] = plugin::portField(plugin::fieldText(config.port, sizeof config.port), std::move(ports),
                                    sizeof config.port - 1);
  fields[kSpeed] = plugin::speedField(kPosnetSpeeds, config.speed);
  fields[kDataBits] = listField("&Bity danych, parzystości i stopu:"_cp, kDataBitsItems, std::to_string(config.dataBits));
  fields[kParity] = listField("", kParityItems, std::string(1, config.parity));
  fields[kStopBits] = listField("", kStopBitsItems, std::to_string(config.stopBits));
  mux_.build(fields, config.muxOn != 0, config.muxType, config.muxChannel);

  ui::Field& log = fields[kDetailedLog];
  log.kind = ui::FieldKind::CheckBox;
  log.label = "S&zczegółowy zapis transmisji"_cp;
  log.checked = config.detailedLog != 0;

  applyConnection();
}

bool PosnetConfigForm::rs232() const { return fields[kConnection].selected != 1; }

// The serial line's fields are enabled only for RS-232, the IP address only for Ethernet; the
// multiplexer's type and channel also follow its check box.
void PosnetConfigForm::applyConnection() {
  const bool serial = rs232();
  fields[kIpAddress].enabled = !serial;
  for (const std::size_t i : {kPort, kSpeed, kDataBits, kParity, kStopBits, kMuxOn}) fields[i].enabled = serial;
  const bool muxFields = serial && fields[kMuxOn].checked;
  fields[kMuxType].enabled = muxFields;
  fields[kMuxChannel].enabled = muxFields;
}

void PosnetConfigForm::fieldChanged(std::size_t index) {
  if (index == kConnection) {
    applyConnection();
    return;
  }
  if (mux_.fieldChanged(fields, index)) return;
  if (index == kDetailedLog && fields[kDetailedLog].checked)
    ui::MessageBox(
        "Włączono szczegółowy zapis transmisji.\nSłuży on do celów diagnostycznych - po wykonaniu transmisji należy go wyłączyć."_cp,
        "Quorvel", ui::Icon::Information);
}

std::optional<plugin::FieldRefusal> checkConfig(const SUConfig& config) {
  if (config.connectionType == kConnectionEthernet) {
    if (auto message = checkAddress(addressText(config))) return plugin::FieldRefusal{kAddressKey, std::move(*message)};
  }
  if (config.connectionType != kConnectionRs232) return std::nullopt;
  return plugin::checkMux(kPosnetMuxTypes, config.muxOn != 0, config.muxType, config.muxChannel);
}

std::optional<ui::Refusal> PosnetConfigForm::validate() {
  // The address as typed, before the record could hold it.
  if (!rs232()) {
    if (auto message = checkAddress(fields[kIpAddress].text)) return ui::Refusal{kIpAddress, std::move(*message)};
  }
  SUConfig candidate = base_;
  store(candidate);
  const auto refusal = checkConfig(candidate);
  if (!refusal) return std::nullopt;
  return ui::Refusal{mux_.indexOfKey(refusal->key).value_or(mux_.typeIndex()), refusal->message};
}

void PosnetConfigForm::menuChosen(std::size_t entry) {
  if (entry == 0)
    ui::MessageBox("quorvel_posnet - sterownik kas fiskalnych POSNET", "Program komunikacyjny", ui::Icon::None);
}

void PosnetConfigForm::store(SUConfig& config) const {
  config.connectionType = kConnectionTypes[rs232() ? 0 : 1].code;
  // An address the form would refuse (left in the disabled field on RS-232) stays as it was.
  if (!checkAddress(fields[kIpAddress].text)) storeAddress(config, fields[kIpAddress].text);
  plugin::storeText(config.port, sizeof config.port, fields[kPort].text);
  config.speed = plugin::selectedSpeed(fields[kSpeed], config.speed);
  config.dataBits = selectedText(fields[kDataBits]) == "7" ? 7 : 8;
  const std::string parity = selectedText(fields[kParity]);
  config.parity = parity.empty() ? 'N' : parity[0];
  config.stopBits = selectedText(fields[kStopBits]) == "2" ? 2 : 1;
  mux_.store(fields, config.muxOn, config.muxType, config.muxChannel);
  config.detailedLog = fields[kDetailedLog].checked ? 1 : 0;
}

int configure(SUConfig& config) {
  PosnetConfigForm form(config, plugin::configPortNames());
  return plugin::runConfiguration(config, form);
}

namespace {

// One of a few fixed texts, stored as a number.
template <std::size_t N>
std::optional<std::string> setFromItems(std::int32_t& field, const char* const (&items)[N], std::string_view text) {
  std::string names;
  for (const char* item : items) {
    if (text == item) {
      field = static_cast<std::int32_t>(plugin::digitsValue(text));
      return std::nullopt;
    }
    names += std::string(names.empty() ? "" : ", ") + item;
  }
  return "must be one of " + names;
}

using Key = plugin::TextKey<SUConfig>;
using Rows = plugin::KeyRows<SUConfig>;
const Key kKeys[] = {
    {"connection", [](const SUConfig& c) { return plugin::choiceText(kConnectionTypes, c.connectionType); },
     [](SUConfig& c, std::string_view v) { return plugin::setChoice(c.connectionType, kConnectionTypes, v); }},
    {kAddressKey, [](const SUConfig& c) { return addressText(c); },
     [](SUConfig& c, std::string_view v) -> std::optional<std::string> {
       if (auto message = checkAddress(v)) return message;
       storeAddress(c, v);
       return std::nullopt;
     }},
    Rows::port(),
    Rows::speed<kPosnetSpeeds>(),
    {"data-bits", [](const SUConfig& c) { return std::to_string(c.dataBits); },
     [](SUConfig& c, std::string_view v) { return setFromItems(c.dataBits, kDataBitsItems, v); }},
    {"parity", [](const SUConfig& c) { return std::string(1, c.parity); },
     [](SUConfig& c, std::string_view v) -> std::optional<std::string> {
       for (const char* item : kParityItems) {
         if (v.size() == 1 && (v[0] == item[0] || v[0] == item[0] + ('a' - 'A'))) {
           c.parity = item[0];
           return std::nullopt;
         }
       }
       return std::string("must be one of N, O, E");
     }},
    {"stop-bits", [](const SUConfig& c) { return std::to_string(c.stopBits); },
     [](SUConfig& c, std::string_view v) { return setFromItems(c.stopBits, kStopBitsItems, v); }},
    Rows::mux(),
    Rows::muxType<kPosnetMuxTypes>(),
    Rows::muxChannel(),
    Rows::onOff<&SUConfig::detailedLog>("log"),
};

// The form's checks; a multiplexer type or channel given on the command line is checked even
// with the multiplexer off or on Ethernet, since the user asked for it to be stored.
std::optional<plugin::KeyRefusal> checkText(const SUConfig& config, const std::vector<std::string>& given) {
  for (const std::string& key : given) {
    if (key == "mux-type" || key == "mux-channel") {
      if (auto refusal = plugin::checkMux(kPosnetMuxTypes, true, config.muxType, config.muxChannel))
        return refusal;
    }
  }
  return checkConfig(config);
}

}  // namespace

int configureText(const std::vector<std::string>& settings, std::string& out) {
  return plugin::runTextConfig<SUConfig>(kKeys, checkText, settings, out);
}

}  // namespace quorvel::posnet
