#include "drivers/elcom/config_form.h"

#include "drivers/elcom/protocol.h"
#include "platform/cp1250.h"
#include "plugin/text_config.h"

namespace quorvel::elcom {

ElcomConfigForm::ElcomConfigForm(const SUConfig& config, std::vector<std::string> ports)
    : base_(config), mux_(kElcomMuxTypes, kMuxOn) {
  fields.resize(kFieldCount);

  fields[kPort] = plugin::portField(plugin::fieldText(config.port, sizeof config.port), std::move(ports),
                                    sizeof config.port - 1);
  fields[kSpeed] = plugin::speedField(kElcomSpeeds, config.speed);
  mux_.build(fields, config.muxOn != 0, config.muxType, config.muxChannel);

  ui::Field& maxPlu = fields[kMaxPlu];
  maxPlu.kind = ui::FieldKind::ReadOnly;
  maxPlu.label = "&Maksymalny kod PLU:";
  maxPlu.text = std::to_string(config.maxPluCode);

  fields[kRegisterNumber] = plugin::numberField("&Numer kasy:", config.registerNumber);

  ui::Field& dump = fields[kBinDump];
  dump.kind = ui::FieldKind::CheckBox;
  dump.label = "B&inarny zapis transmisji";
  dump.checked = config.binDump != 0;
}

void ElcomConfigForm::fieldChanged(std::size_t index) {
  if (mux_.fieldChanged(fields, index)) return;
  if (index == kBinDump && fields[kBinDump].checked)
    ui::MessageBox(
        "Włączono binarny zapis transmisji.\nSłuży on do celów diagnostycznych - po wykonaniu transmisji należy go wyłączyć."_cp,
        "Quorvel", ui::Icon::Information);
}

std::optional<plugin::FieldRefusal> checkConfig(const SUConfig& config) {
  if (auto refusal = plugin::checkMux(kElcomMuxTypes, config.muxOn != 0, config.muxType, config.muxChannel))
    return refusal;
  return plugin::checkRegisterNumber(config.registerNumber);
}

std::optional<ui::Refusal> ElcomConfigForm::validate() {
  // The record as "&OK" would store it, checked as the headless configuration checks it.
  SUConfig candidate = base_;
  store(candidate);
  const auto refusal = checkConfig(candidate);
  if (!refusal) return std::nullopt;
  return ui::Refusal{mux_.indexOfKey(refusal->key).value_or(kRegisterNumber), refusal->message};
}

void ElcomConfigForm::menuChosen(std::size_t entry) {
  if (entry == 0)
    ui::MessageBox("quorvel_elcom - sterownik kas fiskalnych Elcom Euro", "Program komunikacyjny", ui::Icon::None);
}

void ElcomConfigForm::store(SUConfig& config) const {
  plugin::storeText(config.port, sizeof config.port, fields[kPort].text);
  config.speed = plugin::selectedSpeed(fields[kSpeed], config.speed);
  mux_.store(fields, config.muxOn, config.muxType, config.muxChannel);
  config.registerNumber = static_cast<std::int32_t>(plugin::digitsValue(fields[kRegisterNumber].text));
  config.binDump = fields[kBinDump].checked ? 1 : 0;
}

int configure(SUConfig& config) {
  ElcomConfigForm form(config, plugin::configPortNames());
  return plugin::runConfiguration(config, form);
}

namespace {

std::optional<std::string> setModel(SUConfig& config, std::string_view name) {
  const Model& model = modelByJobName(name);
  if (model.number == 0) {
    std::string names;
    for (int i = 1; i <= kModelCount; ++i) names += std::string(i > 1 ? ", " : "") + modelByNumber(i).jobName;
    return "must be one of " + names;
  }
  config.maxPluCode = model.pluCapacity;
  return std::nullopt;
}

using Key = plugin::TextKey<SUConfig>;
using Rows = plugin::KeyRows<SUConfig>;
const Key kKeys[] = {
    Rows::port(),
    Rows::speed<kElcomSpeeds>(),
    Rows::mux(),
    Rows::muxType<kElcomMuxTypes>(),
    Rows::muxChannel(),
    {"max-plu", [](const SUConfig& c) { return std::to_string(c.maxPluCode); }, nullptr,
     "read only: the PLU capacity of the register model; set it with model=NAME"},
    {"model", nullptr, setModel},
    Rows::registerNumber(),
    Rows::onOff<&SUConfig::binDump>("dump"),
};

// The form's checks; a multiplexer type or channel given on the command line is checked even
// with the multiplexer off, since the user asked for it to be stored.
std::optional<plugin::KeyRefusal> checkText(const SUConfig& config, const std::vector<std::string>& given) {
  for (const std::string& key : given) {
    if (key == "mux-type" || key == "mux-channel") {
      if (auto refusal = plugin::checkMux(kElcomMuxTypes, true, config.muxType, config.muxChannel))
        return refusal;
    }
  }
  return checkConfig(config);
}

}  // namespace

int configureText(const std::vector<std::string>& settings, std::string& out) {
  return plugin::runTextConfig<SUConfig>(kKeys, checkText, settings, out);
}

}  // namespace quorvel::elcom
