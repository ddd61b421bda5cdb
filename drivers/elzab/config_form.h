// The configuration form of quorvel_elzab ("Konfiguracja kasy") and its headless keys.
//
// Plain form logic over the UI layer, as every driver's form: the shared port, speed and
// multiplexer fields, the time-out written into KONFIG.TXT, the modem group (enabled by its
// check box) and the register number. The modem password is shown as typed and kept
// scrambled in the record.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drivers/elzab/config.h"
#include "plugin/form_fields.h"
#include "plugin/plugin_frame.h"

namespace quorvel::elzab {

class ElzabConfigForm : public plugin::ConfigForm<SUConfig> {
 public:
  // Field indexes, in the order the form shows them.
  enum : std::size_t {
    kPort,
    kSpeed,
    kTimeout,
    kMuxOn,
    kMuxType,
    kMuxChannel,
    kModemOn,
    kPhone,
    kPassword,
    kTimeout1,
    kTimeout2,
    kRepeatCount,
    kConnector,
    kRegisterNumber,
    kFieldCount
  };

  ElzabConfigForm(const SUConfig& config, std::vector<std::string> ports);

  void fieldChanged(std::size_t index) override;
  std::optional<ui::Refusal> validate() override;
  void menuChosen(std::size_t entry) override;
  void store(SUConfig& config) const override;

 private:
  void applyModemEnabling();

  SUConfig base_;
  plugin::MuxGroup mux_;
};

// What "&OK" and the headless configuration refuse in a record about to be stored: the key of
// the field and the message. nullopt when the record may be stored.
std::optional<plugin::FieldRefusal> checkConfig(const SUConfig& config);

// The five multiplexer types, the speeds and the connector list of the Elzab form.
inline constexpr plugin::Choice kElzabMuxTypes[] = {{"Elzab 4x", kMuxElzab4x},
                                                    {"Falwi", kMuxFalwi},
                                                    {"MPX4s", kMuxMpx4s},
                                                    {"Elzab 8x", kMuxElzab8x},
                                                    {"Elzab 2MX", kMuxElzab2mx}};
inline constexpr const char* kElzabSpeeds[] = {"9600", "19200"};
inline constexpr const char* kConnectors[] = {"1 - 4", "5 - 8"};

// The password as typed, from the record's scrambled field, and the scrambled field of a typed
// password (its first 49 characters).
std::string plainPassword(const SUConfig& config);
void storePassword(SUConfig& config, const std::string& typed);
// The first character of a typed password that the scrambled field cannot hold (it would turn
// into the field's end), and its position; nullopt when every character can be kept.
std::optional<std::size_t> unstorablePasswordCharacter(const std::string& typed);

// opKonfiguracja of quorvel_elzab.
int configure(SUConfig& config);

// The headless configuration (quorvel_config_text): port, speed, timeout, mux, mux-type,
// mux-channel, modem, phone, password, timeout1, timeout2, repeat, connector, register.
int configureText(const std::vector<std::string>& settings, std::string& out);

}  // namespace quorvel::elzab
