// The Elzab configuration form without a front end, and the headless keys over PROG_KOM.CFG:
// fields and enabling, the connector list, the password shown as typed and stored scrambled,
// the ranges refused, and what is stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drivers/elzab/config_form.h"
#include "platform/cp1250.h"
#include "plugin/config_store.h"
#include "plugin/text_config.h"
#include "tests/support/test_support.h"

using namespace quorvel;
using Form = elzab::ElzabConfigForm;

namespace {

elzab::SUConfig record() {
  elzab::SUConfig c;
  elzab::setDefaultConfig(c);
  return c;
}

const std::vector<std::string> kPorts = {"COM1", "COM2"};

}  // namespace

TEST(ElzabForm, FieldsEnablingAndWhatOkStores) {
  elzab::SUConfig c = record();
  c.connector = 5;
  elzab::storePassword(c, "ab");
  Form f(c, kPorts);
  std::vector<std::string> labels;
  for (const auto& field : f.fields) labels.push_back(test::cp1250ToUtf8(field.label));
  EXPECT_EQ(labels, (std::vector<std::string>{"&Numer portu:", "&Prędkość:", "T&imeout:", "Połączenie przez &multiplekser",
                                              "&Typ:", "&Kanał:", "Połączenie przez mo&dem", "N&r telefonu:", "&Hasło:",
                                              "Timeout &1:", "Timeout &2:", "&Ilość powtórzeń:", "Numer &złącza:",
                                              "N&umer kasy:"}));
  EXPECT_EQ(f.fields[Form::kSpeed].items, (std::vector<std::string>{"9600", "19200"}));
  EXPECT_EQ(f.fields[Form::kMuxType].items.size(), 5u);
  EXPECT_EQ(f.fields[Form::kConnector].items, (std::vector<std::string>{"1 - 4", "5 - 8"}));
  EXPECT_EQ(f.fields[Form::kConnector].selected, 1);
  EXPECT_EQ(f.fields[Form::kPassword].text, "ab");  // shown as typed
  EXPECT_EQ(f.fields[Form::kPassword].maxLength, 49u);
  EXPECT_EQ(f.fields[Form::kPhone].maxLength, 249u);

  // The modem box enables its six fields.
  for (std::size_t i : {Form::kPhone, Form::kPassword, Form::kTimeout1, Form::kTimeout2, Form::kRepeatCount, Form::kConnector})
    EXPECT_FALSE(f.fields[i].enabled) << i;
  EXPECT_TRUE(f.setChecked(Form::kModemOn, true));
  for (std::size_t i : {Form::kPhone, Form::kPassword, Form::kTimeout1, Form::kTimeout2, Form::kRepeatCount, Form::kConnector})
    EXPECT_TRUE(f.fields[i].enabled) << i;
  EXPECT_TRUE(f.setText(Form::kPhone, "0 22 555"));
  EXPECT_TRUE(f.setText(Form::kPassword, "sezam"));
  EXPECT_TRUE(f.select(Form::kConnector, 0));
  EXPECT_TRUE(f.select(Form::kSpeed, 1));
  EXPECT_TRUE(f.setText(Form::kTimeout, "180"));
  EXPECT_TRUE(f.setText(Form::kRegisterNumber, "12"));
  EXPECT_TRUE(f.setChecked(Form::kMuxOn, true));
  EXPECT_TRUE(f.select(Form::kMuxType, 4));  // Elzab 2MX
  EXPECT_TRUE(f.setText(Form::kMuxChannel, "8"));
  ASSERT_FALSE(f.validate());
  elzab::SUConfig stored = c;
  f.store(stored);
  EXPECT_EQ(stored.modemOn, 1);
  EXPECT_EQ(plugin::fieldText(stored.phone, sizeof stored.phone), "0 22 555");
  EXPECT_EQ(stored.password[0], 's');
  EXPECT_EQ(stored.password[1], static_cast<char>('e' ^ 14));
  EXPECT_EQ(elzab::plainPassword(stored), "sezam");
  EXPECT_EQ(stored.connector, 1);
  EXPECT_EQ(stored.speed, 19200);
  EXPECT_EQ(stored.timeout, 180);
  EXPECT_EQ(stored.registerNumber, 12);
  EXPECT_EQ(stored.muxOn, 1);
  EXPECT_EQ(stored.muxType, 16);
  EXPECT_EQ(stored.muxChannel, 8);
}

TEST(ElzabForm, RefusedValues) {
  struct Case {
    std::size_t field;
    const char* text;
    bool modem;
    std::size_t refused;  // kFieldCount: accepted
  } cases[] = {
      {Form::kTimeout, "181", false, Form::kTimeout},
      {Form::kTimeout, "0", false, Form::kFieldCount},
      {Form::kTimeout1, "181", true, Form::kTimeout1},
      {Form::kTimeout1, "181", false, Form::kFieldCount},  // modem off: not checked
      {Form::kTimeout2, "", true, Form::kTimeout2},
      {Form::kRepeatCount, "51", true, Form::kRepeatCount},
      {Form::kRepeatCount, "50", true, Form::kFieldCount},
      {Form::kRegisterNumber, "100", false, Form::kRegisterNumber},
      {Form::kRegisterNumber, "0", true, Form::kRegisterNumber},
      // '*' at position 3 (from 0) is 14 x 3: scrambled it would become the field's end.
      {Form::kPassword, "abc*", true, Form::kPassword},
      {Form::kPassword, "*abc", true, Form::kFieldCount},
      {Form::kPassword, "ab:c", true, Form::kPassword},
      {Form::kPhone, "0 22:555", true, Form::kPhone},
      {Form::kPhone, "0 22:555", false, Form::kFieldCount},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(std::to_string(k.field) + " " + k.text);
    Form f(record(), kPorts);
    f.setChecked(Form::kModemOn, k.modem);
    f.setText(k.field, k.text);
    const auto refusal = f.validate();
    EXPECT_EQ(refusal ? refusal->field : Form::kFieldCount, k.refused);
    if (refusal) {
      EXPECT_FALSE(refusal->message.empty());
    }
  }
}

TEST(ElzabForm, HeadlessKeysStoreWhatTheFormStores) {
  test::ScratchDir dir;
  std::string out;
  ASSERT_EQ(elzab::configureText({"port=COM2", "speed=19200", "modem=yes", "phone=0 22 555 01 02", "password=sezam",
                                  "connector=5 - 8", "register=7", "mux=yes", "mux-type=Elzab 2MX", "mux-channel=5"},
                                 out),
            0)
      << out;
  EXPECT_EQ(out,
            "port = COM2\nspeed = 19200\ntimeout = 3\nmux = yes\nmux-type = Elzab 2MX\nmux-channel = 5\nmodem = yes\n"
            "phone = 0 22 555 01 02\npassword = sezam\ntimeout1 = 60\ntimeout2 = 40\nrepeat = 4\nconnector = 5\n"
            "register = 7\n");
  const std::string file = test::readFile("PROG_KOM.CFG");
  ASSERT_EQ(file.size(), 604u);
  EXPECT_EQ(file.substr(4 + 530, 6), std::string("s") + static_cast<char>('e' ^ 14) + static_cast<char>('z' ^ 28) +
                                         static_cast<char>('a' ^ 42) + static_cast<char>('m' ^ 56) + '\0');

  struct Refused {
    const char* setting;
    const char* says;
  } refused[] = {
      {"timeout=181", "the value of timeout is refused:\n    "},
      {"repeat=51", "the value of repeat is refused:\n    "},
      {"connector=3", "the value of connector is refused:\n    must be"},
      {"password=abc*", "the value of password is refused:\n    the character at position 4"},
      {"speed=38400", "the value of speed is refused:\n    "},
      {"mux-channel=9", "the value of mux-channel is refused:\n    "},
      {"register=0", "the value of register is refused:\n    "},
      {"phone=a\tb", "the value of phone is refused:\n    no control"},
  };
  for (const Refused& r : refused) {
    SCOPED_TRACE(r.setting);
    EXPECT_EQ(elzab::configureText({r.setting}, out), plugin::kTextConfigRefused);
    EXPECT_EQ(out.rfind(r.says, 0), 0u) << out;
  }
  EXPECT_EQ(test::readFile("PROG_KOM.CFG"), file);
}
