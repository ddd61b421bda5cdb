#include "drivers/elcom/config_form.h"

#include "platform/cp1250.h"

namespace quorvel::elcom {

ElcomConfigForm::ElcomConfigForm(const SUConfig& config, std::vector<std::string> ports)
    : base_(config), mux_(kElcomMuxTypes, kMuxOn) {
  title = "Konfiguracja kasy";
  frame = "Parametry połączenia"_cp;
  menu = {"&About Driver..."};
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

std::int32_t ElcomConfigForm::selectedMuxType() const { return mux_.selectedType(fields); }

void ElcomConfigForm::fieldChanged(std::size_t index) {
  if (mux_.fieldChanged(fields, index)) return;
  if (index == kBinDump && fields[kBinDump].checked)
    ui::messageBox(
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
  switch (refusal->field) {
    case plugin::SharedField::muxType: return ui::Refusal{mux_.typeIndex(), refusal->message};
    case plugin::SharedField::muxChannel: return ui::Refusal{mux_.channelIndex(), refusal->message};
    case plugin::SharedField::registerNumber: break;
  }
  return ui::Refusal{kRegisterNumber, refusal->message};
}

void ElcomConfigForm::menuChosen(std::size_t entry) {
  if (entry == 0)
    ui::messageBox("quorvel_elcom - sterownik kas fiskalnych Elcom Euro", "Program komunikacyjny", ui::Icon::None);
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

}  // namespace quorvel::elcom
