#include "drivers/elzab/config_form.h"

#include <cstdio>
#include <cstring>

#include "platform/cp1250.h"
#include "plugin/text_config.h"

namespace quorvel::elzab {

namespace {

constexpr std::size_t kPasswordLength = sizeof(SUConfig::password) - 1;
constexpr std::size_t kPhoneLength = sizeof(SUConfig::phone) - 1;

ui::Field editField(const char* label, const std::string& text, std::size_t maxLength) {
  ui::Field f;
  f.kind = ui::FieldKind::Edit;
  f.label = label;
  f.text = text.substr(0, maxLength);
  f.maxLength = maxLength;
  return f;
}

ui::Field connectorField(std::int32_t connector) {
  ui::Field f;
  f.kind = ui::FieldKind::DropDown;
  f.label = "Numer &złącza:"_cp;
  f.items.assign(std::begin(kConnectors), std::end(kConnectors));
  // The entry that begins with the stored number, else the first.
  const std::string number = std::to_string(connector);
  f.selected = 0;
  for (std::size_t i = 0; i < f.items.size(); ++i)
    if (f.items[i].compare(0, number.size(), number) == 0 &&
        (f.items[i].size() == number.size() || f.items[i][number.size()] == ' ')) {
      f.selected = static_cast<int>(i);
      break;
    }
  return f;
}

// The decimal number at the start of the chosen connector entry.
std::int32_t selectedConnector(const ui::Field& f, std::int32_t fallback) {
  if (f.selected < 0 || f.selected >= static_cast<int>(f.items.size())) return fallback;
  return static_cast<std::int32_t>(std::atoi(f.items[static_cast<std::size_t>(f.selected)].c_str()));
}

// The fields the record's checks refuse, by their configuration keys.
struct FieldKey {
  std::size_t field;
  const char* key;
};
constexpr FieldKey kFieldKeys[] = {{ElzabConfigForm::kTimeout, "timeout"},
                                   {ElzabConfigForm::kMuxType, plugin::kMuxTypeKey},
                                   {ElzabConfigForm::kMuxChannel, plugin::kMuxChannelKey},
                                   {ElzabConfigForm::kPhone, "phone"},
                                   {ElzabConfigForm::kPassword, "password"},
                                   {ElzabConfigForm::kTimeout1, "timeout1"},
                                   {ElzabConfigForm::kTimeout2, "timeout2"},
                                   {ElzabConfigForm::kRepeatCount, "repeat"},
                                   {ElzabConfigForm::kConnector, "connector"},
                                   {ElzabConfigForm::kRegisterNumber, plugin::kRegisterKey}};

plugin::FieldRefusal refusal(std::size_t field, std::string message) {
  for (const FieldKey& k : kFieldKeys)
    if (k.field == field) return {k.key, std::move(message)};
  return {plugin::kRegisterKey, std::move(message)};
}

std::size_t fieldOfKey(std::string_view key) {
  for (const FieldKey& k : kFieldKeys)
    if (key == k.key) return k.field;
  return ElzabConfigForm::kRegisterNumber;
}

// KONFIG.TXT carries the phone number and the password between ':' and tab separators: one of
// them, or a line break, inside either would shift WinIP's fields.
std::optional<plugin::FieldRefusal> modemText(std::size_t field, const std::string& text, const char* what) {
  for (const char c : text) {
    if (c == ':' || static_cast<unsigned char>(c) < 0x20) {
      char message[160];
      std::snprintf(message, sizeof message, "%s nie może zawierać dwukropka ani znaków sterujących."_cp, what);
      return refusal(field, message);
    }
  }
  return std::nullopt;
}

std::optional<plugin::FieldRefusal> inRange(std::size_t field, std::int32_t value, int low, int high) {
  if (auto message = plugin::checkRange(value, low, high)) return refusal(field, std::move(*message));
  return std::nullopt;
}

}  // namespace

std::string plainPassword(const SUConfig& config) {
  char text[sizeof config.password + 1] = {};
  std::memcpy(text, config.password, sizeof config.password);
  scramblePassword(text, sizeof config.password);
  return text;
}

void storePassword(SUConfig& config, const std::string& typed) {
  plugin::storeText(config.password, sizeof config.password, typed);
  scramblePassword(config.password, sizeof config.password);
}

std::optional<std::size_t> unstorablePasswordCharacter(const std::string& typed) {
  const std::size_t n = std::min(typed.size(), kPasswordLength);
  for (std::size_t i = 1; i < n; ++i)
    if (static_cast<unsigned char>(typed[i]) == (14 * i) % 256) return i;
  return std::nullopt;
}

ElzabConfigForm::ElzabConfigForm(const SUConfig& config, std::vector<std::string> ports)
    : base_(config), mux_(kElzabMuxTypes, kMuxOn) {
  fields.resize(kFieldCount);

  fields[kPort] = plugin::portField(plugin::fieldText(config.port, sizeof config.port), std::move(ports),
                                    sizeof config.port - 1);
  fields[kSpeed] = plugin::speedField(kElzabSpeeds, config.speed);
  fields[kTimeout] = plugin::numberField("T&imeout:", config.timeout);
  mux_.build(fields, config.muxOn != 0, config.muxType, config.muxChannel);

  ui::Field& modem = fields[kModemOn];
  modem.kind = ui::FieldKind::CheckBox;
  modem.label = "Połączenie przez mo&dem"_cp;
  modem.checked = config.modemOn != 0;
  fields[kPhone] = editField("N&r telefonu:", plugin::fieldText(config.phone, sizeof config.phone), kPhoneLength);
  fields[kPassword] = editField("&Hasło:"_cp, plainPassword(config), kPasswordLength);
  fields[kTimeout1] = plugin::numberField("Timeout &1:", config.timeout1);
  fields[kTimeout2] = plugin::numberField("Timeout &2:", config.timeout2);
  fields[kRepeatCount] = plugin::numberField("&Ilość powtórzeń:"_cp, config.repeatCount);
  fields[kConnector] = connectorField(config.connector);
  fields[kRegisterNumber] = plugin::numberField("N&umer kasy:", config.registerNumber);
  applyModemEnabling();
}

void ElzabConfigForm::applyModemEnabling() {
  const bool on = fields[kModemOn].checked;
  for (std::size_t i : {kPhone, kPassword, kTimeout1, kTimeout2, kRepeatCount, kConnector}) fields[i].enabled = on;
}

void ElzabConfigForm::fieldChanged(std::size_t index) {
  if (mux_.fieldChanged(fields, index)) return;
  if (index == kModemOn) applyModemEnabling();
}

std::optional<plugin::FieldRefusal> checkConfig(const SUConfig& c) {
  using F = ElzabConfigForm;
  if (auto r = inRange(F::kTimeout, c.timeout, 0, 180)) return r;
  if (auto r = plugin::checkMux(kElzabMuxTypes, c.muxOn != 0, c.muxType, c.muxChannel)) return r;
  if (c.modemOn != 0) {
    if (auto r = modemText(F::kPhone, plugin::fieldText(c.phone, sizeof c.phone), "Numer telefonu")) return r;
    if (auto r = modemText(F::kPassword, plainPassword(c), "Hasło"_cp)) return r;
    if (auto r = inRange(F::kTimeout1, c.timeout1, 0, 180)) return r;
    if (auto r = inRange(F::kTimeout2, c.timeout2, 0, 180)) return r;
    if (auto r = inRange(F::kRepeatCount, c.repeatCount, 0, 50)) return r;
    if (c.connector != 1 && c.connector != 5) return refusal(F::kConnector, "Wybierz numer złącza."_cp);
  }
  return plugin::checkRegisterNumber(c.registerNumber);
}

std::optional<ui::Refusal> ElzabConfigForm::validate() {
  // The password is checked as typed (the headless key checks it as given): in the record a
  // character that scrambles to zero has already cut it short.
  if (fields[kModemOn].checked) {
    if (const auto at = unstorablePasswordCharacter(fields[kPassword].text)) {
      char text[200];
      std::snprintf(text, sizeof text, "Znak na pozycji %u hasła nie może zostać zapisany w konfiguracji. Zmień hasło."_cp,
                    static_cast<unsigned>(*at + 1));
      return ui::Refusal{kPassword, text};
    }
  }
  SUConfig candidate = base_;
  store(candidate);
  if (auto refused = checkConfig(candidate)) return ui::Refusal{fieldOfKey(refused->key), std::move(refused->message)};
  return std::nullopt;
}

void ElzabConfigForm::menuChosen(std::size_t entry) {
  if (entry == 0) ui::MessageBox("quorvel_elzab - sterownik kas fiskalnych Elzab", "Program komunikacyjny", ui::Icon::None);
}

void ElzabConfigForm::store(SUConfig& config) const {
  plugin::storeText(config.port, sizeof config.port, fields[kPort].text);
  config.speed = plugin::selectedSpeed(fields[kSpeed], config.speed);
  config.timeout = static_cast<std::int32_t>(plugin::digitsValue(fields[kTimeout].text));
  mux_.store(fields, config.muxOn, config.muxType, config.muxChannel);
  config.modemOn = fields[kModemOn].checked ? 1 : 0;
  plugin::storeText(config.phone, sizeof config.phone, fields[kPhone].text);
  storePassword(config, fields[kPassword].text);
  config.timeout1 = static_cast<std::int32_t>(plugin::digitsValue(fields[kTimeout1].text));
  config.timeout2 = static_cast<std::int32_t>(plugin::digitsValue(fields[kTimeout2].text));
  config.repeatCount = static_cast<std::int32_t>(plugin::digitsValue(fields[kRepeatCount].text));
  config.connector = selectedConnector(fields[kConnector], config.connector);
  config.registerNumber = static_cast<std::int32_t>(plugin::digitsValue(fields[kRegisterNumber].text));
}

int configure(SUConfig& config) {
  ElzabConfigForm form(config, plugin::configPortNames());
  return plugin::runConfiguration(config, form);
}

namespace {

using Key = plugin::TextKey<SUConfig>;

// A free text of a record field (phone, password): may be empty, no control characters.
std::optional<std::string> freeText(std::string_view v, std::size_t maxLength) {
  if (v.size() > maxLength) return "at most " + std::to_string(maxLength) + " characters";
  for (const char c : v)
    if (static_cast<unsigned char>(c) < 0x20) return std::string("no control characters");
  return std::nullopt;
}

using Rows = plugin::KeyRows<SUConfig>;
const Key kKeys[] = {
    Rows::port(),
    Rows::speed<kElzabSpeeds>(),
    Rows::digits<&SUConfig::timeout>("timeout"),
    Rows::mux(),
    Rows::muxType<kElzabMuxTypes>(),
    Rows::muxChannel(),
    Rows::onOff<&SUConfig::modemOn>("modem"),
    {"phone", [](const SUConfig& c) { return plugin::fieldText(c.phone, sizeof c.phone); },
     [](SUConfig& c, std::string_view v) -> std::optional<std::string> {
       if (auto refusal = freeText(v, kPhoneLength)) return refusal;
       plugin::storeText(c.phone, sizeof c.phone, v);
       return std::nullopt;
     }},
    {"password", [](const SUConfig& c) { return plainPassword(c); },
     [](SUConfig& c, std::string_view v) -> std::optional<std::string> {
       if (auto refusal = freeText(v, kPasswordLength)) return refusal;
       if (const auto at = unstorablePasswordCharacter(std::string(v)))
         return "the character at position " + std::to_string(*at + 1) +
                " cannot be kept in the scrambled field; choose another password";
       storePassword(c, std::string(v));
       return std::nullopt;
     }},
    Rows::digits<&SUConfig::timeout1>("timeout1"),
    Rows::digits<&SUConfig::timeout2>("timeout2"),
    Rows::digits<&SUConfig::repeatCount>("repeat"),
    {"connector", [](const SUConfig& c) { return std::to_string(c.connector); },
     [](SUConfig& c, std::string_view v) -> std::optional<std::string> {
       if (v == "1" || v == "1 - 4") c.connector = 1;
       else if (v == "5" || v == "5 - 8") c.connector = 5;
       else return std::string("must be 1 (connectors 1 - 4) or 5 (connectors 5 - 8)");
       return std::nullopt;
     }},
    Rows::registerNumber(),
};

// The form's checks; values given on the command line are checked even while their group is
// off, since the user asked for them to be stored.
std::optional<plugin::KeyRefusal> checkText(const SUConfig& config, const std::vector<std::string>& given) {
  SUConfig all = config;
  for (const std::string& key : given) {
    if (key == "mux-type" || key == "mux-channel") all.muxOn = 1;
    if (key == "timeout1" || key == "timeout2" || key == "repeat" || key == "connector" || key == "password" ||
        key == "phone")
      all.modemOn = 1;
  }
  return checkConfig(all);
}

}  // namespace

int configureText(const std::vector<std::string>& settings, std::string& out) {
  return plugin::runTextConfig<SUConfig>(kKeys, checkText, settings, out);
}

}  // namespace quorvel::elzab
