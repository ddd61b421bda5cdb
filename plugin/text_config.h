// Headless configuration: a plug-in's record in PROG_KOM.CFG shown and changed as `key = value`
// lines (`quorvel config`), with the same value lists, ranges and messages as its form.
//
// A driver lists its keys once (TextKey) with a checker over the whole record (the checks of
// plugin/form_fields.h that its form runs), and exports quorvel_config_text
// (core/plugin_contract.h), which calls runTextConfig. The settings come and the lines go as the
// terminal has them (UTF-8); the record's texts, the keys' setters and the form's messages are
// windows-1250, and runTextConfig converts between the two, except for a path (the serial
// port), which is a file name of this system and is stored and shown byte for byte, as the
// form's port list gives it.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/error_state.h"
#include "platform/cp1250.h"
#include "plugin/config_store.h"
#include "plugin/form_fields.h"
#include "plugin/key_text.h"

namespace quorvel::plugin {

// One key of a record.
template <class Record>
struct TextKey {
  const char* key;
  // The value as printed; nullptr for a key that can only be set (it sets other fields).
  std::string (*show)(const Record&);
  // Takes the value from the text: nullopt, or why the text is refused. nullptr: read only.
  std::optional<std::string> (*set)(Record&, std::string_view);
  // Why the key cannot be set (read-only keys only).
  const char* readOnlyWhy = nullptr;
  // The value is a path (a device name): taken and shown byte for byte, never converted.
  bool path = false;
};

// A refusal of the whole record: the key it is about and the message (the form's refusal).
using KeyRefusal = FieldRefusal;

// Check boxes as text: "yes"/"no" printed; yes, no, on, off, true, false, 1, 0 taken
// (parseSwitch, plugin/key_text.h).
const char* switchText(bool on);
std::optional<std::string> setSwitch(std::int32_t& field, std::string_view text);
// A text field of `size` bytes: at most size - 1 bytes, not empty, no control characters (a
// line break would end the printed `key = value` line, and no port name holds one).
std::optional<std::string> setText(char* field, std::size_t size, std::string_view text);
// A speed from a list of texts ("9600", "38400"): one of them, written the same way.
std::optional<std::string> setSpeed(std::int32_t& field, std::span<const char* const> speeds, std::string_view text);
// A list: the value by its text or code; the refusal names the items.
std::optional<std::string> setChoice(std::int32_t& field, Choices choices, std::string_view text);
// The text of the item with the code; the code in decimal when no item carries it.
std::string choiceText(Choices choices, std::int32_t code);
// A digits-only number as the form's edit takes it: anything but digits is stored as -1, which
// the record's checker refuses with the form's range message.
void setDigits(std::int32_t& field, std::string_view text);

// The rows of the keys every record shares, for a driver's key list: the serial port (a path),
// the speed from the form's list, the multiplexer's switch, type and channel, the register
// number, and switches and digits-only numbers of any field. The record names these fields
// alike in every driver (port, speed, muxOn, muxType, muxChannel, registerNumber).
template <class Record>
struct KeyRows {
  using Key = TextKey<Record>;

  static Key port() {
    return {"port", [](const Record& c) { return fieldText(c.port, sizeof c.port); },
            [](Record& c, std::string_view v) { return setText(c.port, sizeof c.port, v); }, nullptr, /*path=*/true};
  }
  template <const auto& speeds>
  static Key speed() {
    return {"speed", [](const Record& c) { return std::to_string(c.speed); },
            [](Record& c, std::string_view v) { return setSpeed(c.speed, speeds, v); }};
  }
  // A check box: "yes"/"no".
  template <std::int32_t Record::*field>
  static Key onOff(const char* key) {
    return {key, [](const Record& c) { return std::string(switchText(c.*field != 0)); },
            [](Record& c, std::string_view v) { return setSwitch(c.*field, v); }};
  }
  // A digits-only edit; its range is the record checker's.
  template <std::int32_t Record::*field>
  static Key digits(const char* key) {
    return {key, [](const Record& c) { return std::to_string(c.*field); },
            [](Record& c, std::string_view v) -> std::optional<std::string> {
              setDigits(c.*field, v);
              return std::nullopt;
            }};
  }
  static Key mux() { return onOff<&Record::muxOn>("mux"); }
  template <const auto& types>
  static Key muxType() {
    return {kMuxTypeKey, [](const Record& c) { return choiceText(types, c.muxType); },
            [](Record& c, std::string_view v) { return setChoice(c.muxType, types, v); }};
  }
  static Key muxChannel() { return digits<&Record::muxChannel>(kMuxChannelKey); }
  static Key registerNumber() { return digits<&Record::registerNumber>(kRegisterKey); }
};

// Results of runTextConfig.
inline constexpr int kTextConfigOk = 0;
inline constexpr int kTextConfigRefused = 1;   // an unknown key or a bad value; file untouched
inline constexpr int kTextConfigFileError = 2; // PROG_KOM.CFG could not be read or written

namespace detail {
std::string describeKeys(std::span<const std::string_view> keys);
}

// Reads PROG_KOM.CFG of the current directory (the defaults when there is none) and, with no
// settings, puts its `key = value` lines into `out`. With settings ("key=value" each, UTF-8,
// applied in order) every value is taken, then `check` runs over the whole record together
// with the keys given; only when everything passes is the file replaced (written aside and
// renamed), and `out` receives the new lines. Otherwise `out` holds the reason (a refused
// value as refusedValue words it, plugin/key_text.h), the file is untouched, and the result
// says why. `out` is UTF-8. Nothing is thrown: running out of memory is a file error with its
// message.
template <class Record, class Check>
int runTextConfig(std::span<const TextKey<Record>> keys, Check check, const std::vector<std::string>& settings,
                  std::string& out) try {
  Record config;
  setDefaultConfig(config);
  if (readConfig(config, true) != 0) {
    out = cp1250::toUtf8(GetErrorMsg());
    return kTextConfigFileError;
  }
  std::vector<std::string> given;
  for (const std::string& setting : settings) {
    const auto eq = setting.find('=');
    const std::string key = setting.substr(0, eq);
    const TextKey<Record>* found = nullptr;
    for (const auto& k : keys)
      if (key == k.key) found = &k;
    if (!found) {
      std::vector<std::string_view> names;
      for (const auto& k : keys) names.push_back(k.key);
      out = "unknown key '" + key + "'; the keys are " + detail::describeKeys(names);
      return kTextConfigRefused;
    }
    if (eq == std::string::npos) {
      out = key + ": a value is missing (write " + key + "=VALUE)";
      return kTextConfigRefused;
    }
    if (!found->set) {
      out = refusedValue(key, found->readOnlyWhy);
      return kTextConfigRefused;
    }
    const std::string_view typed = std::string_view(setting).substr(eq + 1);
    if (auto refusal = found->set(config, found->path ? std::string(typed) : cp1250::fromUtf8(typed))) {
      out = refusedValue(key, cp1250::toUtf8(*refusal));
      return kTextConfigRefused;
    }
    given.push_back(key);
  }
  if (!settings.empty()) {
    if (const std::optional<KeyRefusal> refusal = check(config, given)) {
      out = refusedValue(refusal->key, cp1250::toUtf8(refusal->message));
      return kTextConfigRefused;
    }
    if (replaceConfigImage(toImage(config)) != 0) {
      out = cp1250::toUtf8(GetErrorMsg());
      return kTextConfigFileError;
    }
  }
  out.clear();
  for (const auto& k : keys)
    if (k.show) out += std::string(k.key) + " = " + (k.path ? k.show(config) : cp1250::toUtf8(k.show(config))) + "\n";
  return kTextConfigOk;
} catch (...) {
  // Nothing may leave the plug-in; what throws here is running out of memory.
  out = err2msg(ERR_NO_MEMORY);
  return kTextConfigFileError;
}

}  // namespace quorvel::plugin
