// The configuration form of quorvel_posnet ("Konfiguracja kasy") and its headless keys.
//
// Plain form logic over the UI layer: the connection type enables either the IP address or
// the serial line (port, speed, the three line lists and the multiplexer group); the detailed
// log box warns when ticked. Tests drive it through the same calls as the front end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drivers/posnet/config.h"
#include "plugin/form_fields.h"
#include "plugin/plugin_frame.h"

namespace quorvel::posnet {

class PosnetConfigForm : public plugin::ConfigForm<SUConfig> {
 public:
  // Field indexes, in the order the form shows them.
  enum : std::size_t {
    kConnection,
    kIpAddress,
    kPort,
    kSpeed,
    kDataBits,
    kParity,
    kStopBits,
    kMuxOn,
    kMuxType,
    kMuxChannel,
    kDetailedLog,
    kFieldCount
  };

  PosnetConfigForm(const SUConfig& config, std::vector<std::string> ports);

  void fieldChanged(std::size_t index) override;
  std::optional<ui::Refusal> validate() override;
  void menuChosen(std::size_t entry) override;
  void store(SUConfig& config) const override;

 private:
  void applyConnection();
  bool rs232() const;

  SUConfig base_;
  plugin::MuxGroup mux_;
};

// The lists the form offers.
inline constexpr plugin::Choice kPosnetMuxTypes[] = {{"Elzab", kMuxElzab4x}, {"Falwi", kMuxFalwi}, {"MPX4s", kMuxMpx4s}};
inline constexpr plugin::Choice kConnectionTypes[] = {{"RS-232", kConnectionRs232}, {"Ethernet", kConnectionEthernet}};
inline constexpr const char* kPosnetSpeeds[] = {"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
inline constexpr const char* kDataBitsItems[] = {"7", "8"};
inline constexpr const char* kParityItems[] = {"N", "O", "E"};
inline constexpr const char* kStopBitsItems[] = {"1", "2"};

// The key of the register's address in the headless configuration.
inline constexpr const char* kAddressKey = "ip";

// What "&OK" and the headless configuration refuse: on Ethernet an address that is not
// a.b.c.d or a.b.c.d:port (checkAddress); on RS-232 with the multiplexer on, a
// type the form does not offer or a channel beyond its limit.
std::optional<plugin::FieldRefusal> checkConfig(const SUConfig& config);

// opKonfiguracja of quorvel_posnet.
int configure(SUConfig& config);

// quorvel_config_text of quorvel_posnet: the keys connection, ip, port, speed, data-bits,
// parity, stop-bits, mux, mux-type, mux-channel and log.
int configureText(const std::vector<std::string>& settings, std::string& out);

}  // namespace quorvel::posnet
