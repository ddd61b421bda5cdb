// The configuration form of quorvel_skeleton ("Konfiguracja kasy") and its key table for
// `quorvel config`.
//
// Plain form logic over the UI layer: which fields, their lists, what is refused on "&OK" and
// what is stored. Replace the fields with the record's own (plugin/form_fields.h has the
// multiplexer group, the register number and their checks) and list each of them once more in
// the key table of config_form.cpp.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "drivers/skeleton/config.h"
#include "plugin/form_fields.h"
#include "plugin/plugin_frame.h"

namespace quorvel::skeleton {

class SkeletonConfigForm : public plugin::ConfigForm<SUConfig> {
 public:
  // Field indexes, in the order the form shows them.
  enum : std::size_t { kPort, kSpeed, kFieldCount };

  // The form over a record; `ports` fills the port list (configPortNames()).
  SkeletonConfigForm(const SUConfig& config, std::vector<std::string> ports);

  void fieldChanged(std::size_t index) override;
  std::optional<ui::Refusal> validate() override;
  void menuChosen(std::size_t entry) override;
  void store(SUConfig& config) const override;
};

// The speeds the form offers.
inline constexpr const char* kSkeletonSpeeds[] = {"9600", "19200"};

// opKonfiguracja of quorvel_skeleton: the form over the record, saved on "&OK".
int configure(SUConfig& config);

// The headless configuration of quorvel_skeleton (quorvel_config_text): the keys port and speed.
int configureText(const std::vector<std::string>& settings, std::string& out);

}  // namespace quorvel::skeleton
