// The configuration form of quorvel_elcom ("Konfiguracja kasy").
//
// Plain form logic over the UI layer: which fields, their lists, what is enabled, what is
// refused on "&OK" and what is stored. The front end only draws it; tests drive it through the
// same calls (setChecked, select, setText, confirm).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/config_records.h"
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

  // Multiplexer type code of the selected "&Typ:" item; 0 when nothing is selected.
  std::int32_t selectedMuxType() const;

 private:
  void applyMuxEnabling();
  void applyChannelRange();

  // The type selection and channel text remembered when the multiplexer box was cleared.
  bool remembered_ = false;
  int rememberedType_ = -1;
  std::string rememberedChannel_;
};

// opKonfiguracja of quorvel_elcom: the form over the record, saved on "&OK".
int configure(SUConfig& config);

}  // namespace quorvel::elcom
