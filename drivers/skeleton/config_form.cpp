#include "drivers/skeleton/config_form.h"

#include "plugin/text_config.h"

namespace quorvel::skeleton {

SkeletonConfigForm::SkeletonConfigForm(const SUConfig& config, std::vector<std::string> ports) {
  fields.resize(kFieldCount);
  fields[kPort] = plugin::portField(plugin::fieldText(config.port, sizeof config.port), std::move(ports),
                                    sizeof config.port - 1);
  fields[kSpeed] = plugin::speedField(kSkeletonSpeeds, config.speed);
}

// No field depends on another; a multiplexer group would be switched here.
void SkeletonConfigForm::fieldChanged(std::size_t) {}

// Nothing to refuse: the port is any text and the speed comes from the list. A record with
// ranges checks them here, as the headless configuration does (checkText below).
std::optional<ui::Refusal> SkeletonConfigForm::validate() { return std::nullopt; }

void SkeletonConfigForm::menuChosen(std::size_t entry) {
  if (entry == 0)
    ui::MessageBox("quorvel_skeleton - szkielet sterownika kasy", "Program komunikacyjny", ui::Icon::None);
}

void SkeletonConfigForm::store(SUConfig& config) const {
  plugin::storeText(config.port, sizeof config.port, fields[kPort].text);
  config.speed = plugin::selectedSpeed(fields[kSpeed], config.speed);
}

int configure(SUConfig& config) {
  SkeletonConfigForm form(config, plugin::configPortNames());
  return plugin::runConfiguration(config, form);
}

namespace {

// One row per key of `quorvel config`, in the order it prints them: how to show the field and
// how to take a value for it. The rows every driver shares come from plugin::KeyRows; a field of
// the driver's own gets a row written out (see plugin::TextKey). The description
// (description.cpp) lists the same keys.
using Key = plugin::TextKey<SUConfig>;
using Rows = plugin::KeyRows<SUConfig>;
const Key kKeys[] = {
    Rows::port(),
    Rows::speed<kSkeletonSpeeds>(),
};

// The checks of the whole record the form runs on "&OK"; the skeleton's record has none.
std::optional<plugin::KeyRefusal> checkText(const SUConfig&, const std::vector<std::string>&) {
  return std::nullopt;
}

}  // namespace

int configureText(const std::vector<std::string>& settings, std::string& out) {
  return plugin::runTextConfig<SUConfig>(kKeys, checkText, settings, out);
}

}  // namespace quorvel::skeleton
