// The configuration form of quorvel_elcom ("Konfiguracja kasy").
//
// Plain form logic over the UI layer: which fields, their lists, what is enabled, what is
// refused on "&OK" and what is stored. The front end only draws it; tests drive it through the
// same calls (setChecked, select, setText, confirm).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drivers/elcom/config.h"
#include "plugin/form_fields.h"
#include "plugin/plugin_frame.h"

namespace quorvel::elcom {

class ElcomConfigForm : public plugin::ConfigForm<SUConfig> {
 public:
  // Field indexes, in the order the form shows them.
  enum : std::size_t {
    kPort,
    kSpeed,
    kMuxOn,
    kMuxType,
    kMuxChannel,
    kMaxPlu,
    kRegisterNumber,
    kBinDump,
    kFieldCount
  };

  // The form over a record; `ports` fills the port list (configPortNames()).
  ElcomConfigForm(const SUConfig& config, std::vector<std::string> ports);

  void fieldChanged(std::size_t index) override;
  std::optional<ui::Refusal> validate() override;
  void menuChosen(std::size_t entry) override;
  void store(SUConfig& config) const override;

 private:
  SUConfig base_;  // the record the form was built from: what "&OK" changes
  plugin::MuxGroup mux_;
};

// What "&OK" (and the headless configuration) refuses in a record about to be stored: a
// multiplexer type the form does not offer or a channel beyond its limit (multiplexer on
// only), a register number outside 1 to 99. nullopt when the record may be stored.
std::optional<plugin::FieldRefusal> checkConfig(const SUConfig& config);

// The multiplexer types and the speeds the Elcom form offers.
inline constexpr plugin::Choices kElcomMuxTypes = plugin::kMuxTypesBasic;
inline constexpr const char* kElcomSpeeds[] = {"9600", "38400"};

// opKonfiguracja of quorvel_elcom: the form over the record, saved on "&OK".
int configure(SUConfig& config);

// The headless configuration of quorvel_elcom (quorvel_config_text): the keys port, speed, mux,
// mux-type, mux-channel, max-plu (read only), model (sets max-plu to the model's PLU
// capacity), register and dump, checked as the form checks them.
int configureText(const std::vector<std::string>& settings, std::string& out);

}  // namespace quorvel::elcom
