// The configuration fields every driver's form shares: the port list, the speed list, the
// multiplexer group and the register number, with their value lists, ranges and messages.
//
// The checks work on plain values, not on the UI: the form runs them over what it would
// store, and the headless configuration (text_config.h) runs the very same checks over the
// values typed on the command line, so both refuse the same values with the same messages.
// Texts are windows-1250.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui.h"
#include "plugin/config_records.h"

namespace quorvel::plugin {

// One item of a fixed list: the text shown and the value the record stores.
struct Choice {
  const char* name;
  std::int32_t code;
};
using Choices = std::span<const Choice>;

// The three multiplexer types most forms offer; a driver's form may offer all five or name
// them its own way.
inline constexpr Choice kMuxTypesBasic[] = {{"Elzab 4x", kMuxElzab4x}, {"Falwi", kMuxFalwi}, {"MPX4s", kMuxMpx4s}};

// The value of a digits-only text; -1 when it is empty, holds anything but the digits 0-9,
// or is too long (over 9 digits) to be any valid value.
long digitsValue(std::string_view text);

// The validation message for a number outside [low, high] (the form's warning box).
std::string rangeMessage(int low, int high);

// nullopt when low <= value <= high, otherwise rangeMessage(low, high).
std::optional<std::string> checkRange(long value, int low, int high);

// Index of the item with `code`, -1 when none carries it.
int choiceIndex(Choices choices, std::int32_t code);
// The item a user names: by its text (letter case ignored) or by its code in decimal.
std::optional<std::int32_t> choiceNamed(Choices choices, std::string_view text);
// The texts of the items, "a, b, c", for messages.
std::string choiceNames(Choices choices);

// The configuration keys of the fields every record shares, as `quorvel config` names them.
inline constexpr const char* kMuxTypeKey = "mux-type";
inline constexpr const char* kMuxChannelKey = "mux-channel";
inline constexpr const char* kRegisterKey = "register";

// What a check of a record refuses: the field it concerns, by the field's configuration key,
// and the message. The form shows the message at the field of that key, the headless
// configuration after the key; every driver's checks give this one type.
struct FieldRefusal {
  std::string key;
  std::string message;
};

// The multiplexer values as the form confirms them: with the multiplexer on, the type must be
// one the form offers ("Wybierz typ multipleksera." otherwise: a type written by another
// plug-in has no item to store) and the channel within 1 to the type's channel limit. With it
// off nothing is checked: the record keeps its previous type and channel.
std::optional<FieldRefusal> checkMux(Choices types, bool on, std::int32_t type, std::int32_t channel);
// The register number on the line: 1 to 99.
std::optional<FieldRefusal> checkRegisterNumber(std::int32_t number);

// ---- Building the form ---------------------------------------------------------------------

// "&Numer portu:": an editable list of `ports` showing the configured name; the item that
// begins with it (letter case ignored) is selected and shown, a name no item begins with stays
// as typed text. At most `maxLength` characters may be typed.
ui::Field portField(const std::string& configured, std::vector<std::string> ports, std::size_t maxLength);

// "&Prędkość:": the speeds as texts; the configured speed is selected, otherwise the first.
ui::Field speedField(std::span<const char* const> speeds, std::int32_t configured);
// The speed of the selected item; `fallback` when nothing is selected.
std::int32_t selectedSpeed(const ui::Field& speed, std::int32_t fallback);

// A digits-only edit showing a number (the register number).
ui::Field numberField(const char* label, std::int32_t value);

// The multiplexer group: the check box "Połączenie przez &multiplekser", the type list "&Typ:"
// and the channel spin "&Kanał:", three consecutive fields of a form from `first` on. The
// check box enables the other two; clearing it remembers and blanks them, ticking it again in
// the same form brings back what was remembered; the channel's spin range follows the type.
class MuxGroup {
 public:
  MuxGroup(Choices types, std::size_t first) : types_(types), first_(first) {}

  std::size_t onIndex() const { return first_; }
  std::size_t typeIndex() const { return first_ + 1; }
  std::size_t channelIndex() const { return first_ + 2; }
  // The form field of a refusal's key when it is the type's or the channel's.
  std::optional<std::size_t> indexOfKey(std::string_view key) const {
    if (key == kMuxTypeKey) return typeIndex();
    if (key == kMuxChannelKey) return channelIndex();
    return std::nullopt;
  }

  // Fills the three fields (the vector already holds them) from the record's values.
  void build(std::vector<ui::Field>& fields, bool on, std::int32_t type, std::int32_t channel) const;
  // Reacts to a change of field `index`; false when the field is not one of the group's.
  bool fieldChanged(std::vector<ui::Field>& fields, std::size_t index);
  // The type code of the selected item; 0 when nothing is selected.
  std::int32_t selectedType(const std::vector<ui::Field>& fields) const;
  // What the form stores: the on flag always, type and channel only while the box is ticked
  // (an empty or non-numeric channel text is stored as -1, which checkMux refuses).
  void store(const std::vector<ui::Field>& fields, std::int32_t& on, std::int32_t& type, std::int32_t& channel) const;

  Choices types() const { return types_; }

 private:
  void applyEnabling(std::vector<ui::Field>& fields) const;
  void applyChannelRange(std::vector<ui::Field>& fields) const;

  Choices types_;
  std::size_t first_;
  // The type selection and channel text remembered when the box was cleared.
  bool remembered_ = false;
  int rememberedType_ = -1;
  std::string rememberedChannel_;
};

}  // namespace quorvel::plugin
