// The Elcom configuration form without a front end: fields, lists, enabling, the multiplexer
// box's memory, spin ranges, validation, the notices it shows and what "&OK" stores.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "drivers/elcom/config_form.h"
#include "platform/cp1250.h"
#include "platform/ui.h"

using namespace quorvel;
using Form = elcom::ElcomConfigForm;

namespace {

struct Box {
  std::string text, caption;
  ui::Icon icon;
};

// Catches the message boxes the form shows while it lives.
class Boxes {
 public:
  Boxes() {
    previous_ = ui::SetMessageBoxHook([this](const std::string& t, const std::string& c, ui::Icon i) {
      shown.push_back({t, c, i});
    });
  }
  ~Boxes() { ui::SetMessageBoxHook(previous_); }
  std::vector<Box> shown;

 private:
  ui::MessageBoxHook previous_;
};

elcom::SUConfig record() {
  elcom::setModelPluCapacity(10000);
  elcom::SUConfig c;
  elcom::setDefaultConfig(c);
  return c;
}

const std::vector<std::string> kPorts = {"COM1", "COM2", "ttyUSB0", "ttyUSB1"};

}  // namespace

TEST(ElcomForm, ShowsItsFieldsInOrderWithAcceleratorsAndValues) {
  elcom::SUConfig c = record();
  c.speed = 38400;
  c.registerNumber = 7;
  Form f(c, kPorts);
  EXPECT_EQ(f.title, "Konfiguracja kasy");
  EXPECT_EQ(f.frame, "Parametry połączenia"_cp);
  EXPECT_EQ(f.menu, std::vector<std::string>{"&About Driver..."});
  EXPECT_EQ(f.okLabel, "&OK");
  EXPECT_EQ(f.cancelLabel, "&Anuluj");
  struct Row {
    const char* label;
    ui::FieldKind kind;
    const char* text;
  } rows[] = {
      {"&Numer portu:", ui::FieldKind::ComboEdit, "COM1"},
      {"&Prędkość:", ui::FieldKind::DropDown, ""},
      {"Połączenie przez &multiplekser", ui::FieldKind::CheckBox, ""},
      {"&Typ:", ui::FieldKind::DropDown, ""},
      {"&Kanał:", ui::FieldKind::SpinEdit, "1"},
      {"&Maksymalny kod PLU:", ui::FieldKind::ReadOnly, "10000"},
      {"&Numer kasy:", ui::FieldKind::Edit, "7"},
      {"B&inarny zapis transmisji", ui::FieldKind::CheckBox, ""},
  };
  ASSERT_EQ(f.fields.size(), std::size(rows));
  for (std::size_t i = 0; i < std::size(rows); ++i) {
    SCOPED_TRACE(i);
    // Labels are windows-1250, compared here through their UTF-8 spelling.
    std::string want;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(rows[i].label); *p;) {
      std::uint32_t cp = *p++;
      if (cp >= 0xC0) cp = ((cp & 0x1F) << 6) | (*p++ & 0x3F);
      want += static_cast<char>(cp1250::byteOf(cp));
    }
    EXPECT_EQ(f.fields[i].label, want);
    EXPECT_EQ(f.fields[i].kind, rows[i].kind);
    if (*rows[i].text) {
      EXPECT_EQ(f.fields[i].text, rows[i].text);
    }
  }
  EXPECT_EQ(f.fields[Form::kSpeed].items, (std::vector<std::string>{"9600", "38400"}));
  EXPECT_EQ(f.fields[Form::kSpeed].selected, 1);
  EXPECT_EQ(f.fields[Form::kMuxType].items, (std::vector<std::string>{"Elzab 4x", "Falwi", "MPX4s"}));
  EXPECT_EQ(f.fields[Form::kPort].items, kPorts);
  EXPECT_TRUE(f.fields[Form::kRegisterNumber].digitsOnly);
}

TEST(ElcomForm, PortAndSpeedSelectionsFollowTheRecord) {
  struct Case {
    const char* port;
    int speed;
    int portItem;
    const char* shown;
    int speedItem;
  } cases[] = {
      {"COM2", 9600, 1, "COM2", 0},
      {"ttyusb", 38400, 2, "ttyUSB0", 1},      // the first item that begins with it
      {"/dev/ttyS7", 19200, -1, "/dev/ttyS7", 0},  // not in the list: typed text; speed: first entry
      {"", 115200, -1, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    elcom::SUConfig r = record();
    std::strcpy(r.port, c.port);
    r.speed = c.speed;
    Form f(r, kPorts);
    EXPECT_EQ(f.fields[Form::kPort].selected, c.portItem);
    EXPECT_EQ(f.fields[Form::kPort].text, c.shown);
    EXPECT_EQ(f.fields[Form::kSpeed].selected, c.speedItem);
  }
}

TEST(ElcomForm, MultiplexerBoxEnablesTypeAndChannel) {
  elcom::SUConfig r = record();
  r.muxType = 2;
  r.muxChannel = 9;
  Form f(r, kPorts);
  // Cleared at open: the configured values are shown but cannot be changed.
  EXPECT_FALSE(f.fields[Form::kMuxType].enabled);
  EXPECT_FALSE(f.fields[Form::kMuxChannel].enabled);
  EXPECT_EQ(f.fields[Form::kMuxType].selected, 1);
  EXPECT_EQ(f.fields[Form::kMuxChannel].text, "9");
  EXPECT_FALSE(f.select(Form::kMuxType, 0));
  EXPECT_FALSE(f.setText(Form::kMuxChannel, "3"));

  // Ticked before anything was remembered: the fields keep what they show.
  ASSERT_TRUE(f.setChecked(Form::kMuxOn, true));
  EXPECT_TRUE(f.fields[Form::kMuxType].enabled);
  EXPECT_TRUE(f.fields[Form::kMuxChannel].enabled);
  EXPECT_EQ(f.fields[Form::kMuxType].selected, 1);
  EXPECT_EQ(f.fields[Form::kMuxChannel].text, "9");

  // Cleared: remembered, then blanked; ticked again: restored.
  ASSERT_TRUE(f.select(Form::kMuxType, 2));
  ASSERT_TRUE(f.setText(Form::kMuxChannel, "7"));
  ASSERT_TRUE(f.setChecked(Form::kMuxOn, false));
  EXPECT_EQ(f.fields[Form::kMuxType].selected, -1);
  EXPECT_EQ(f.fields[Form::kMuxChannel].text, "");
  EXPECT_FALSE(f.fields[Form::kMuxType].enabled);
  ASSERT_TRUE(f.setChecked(Form::kMuxOn, true));
  EXPECT_EQ(f.fields[Form::kMuxType].selected, 2);
  EXPECT_EQ(f.fields[Form::kMuxChannel].text, "7");
}

TEST(ElcomForm, ChannelSpinRangeFollowsTheSelectedType) {
  elcom::SUConfig r = record();
  r.muxOn = 1;
  Form f(r, kPorts);
  const struct {
    int item;
    int limit;
  } cases[] = {{0, 4}, {1, 15}, {2, 8}, {-1, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.item);
    ASSERT_TRUE(f.select(Form::kMuxType, c.item));
    EXPECT_EQ(f.fields[Form::kMuxChannel].spinMin, 1);
    EXPECT_EQ(f.fields[Form::kMuxChannel].spinMax, c.limit);
    // The spin control stays within the range.
    f.setText(Form::kMuxChannel, "3");
    f.spin(Form::kMuxChannel, +100);
    EXPECT_EQ(f.fields[Form::kMuxChannel].text, std::to_string(c.limit));
    f.spin(Form::kMuxChannel, -100);
    EXPECT_EQ(f.fields[Form::kMuxChannel].text, "1");
  }
}

TEST(ElcomForm, OkRefusesChannelAndRegisterNumberOutsideTheirRanges) {
  struct Case {
    bool muxOn;
    int typeItem;
    const char* channel;
    const char* number;
    bool refused;
    std::size_t field;
    const char* range;
  } cases[] = {
      {true, 0, "4", "1", false, 0, ""},
      {true, 0, "5", "1", true, Form::kMuxChannel, "od 1 do 4"},
      {true, 0, "0", "1", true, Form::kMuxChannel, "od 1 do 4"},
      {true, 0, "", "1", true, Form::kMuxChannel, "od 1 do 4"},
      {true, 1, "15", "99", false, 0, ""},
      {true, 1, "16", "99", true, Form::kMuxChannel, "od 1 do 15"},
      {true, 2, "8", "1", false, 0, ""},
      {true, 2, "9", "1", true, Form::kMuxChannel, "od 1 do 8"},
      {true, 2, "99999999999999", "1", true, Form::kMuxChannel, "od 1 do 8"},
      {false, 0, "77", "1", false, 0, ""},  // cleared box: channel not validated
      {true, 0, "1", "0", true, Form::kRegisterNumber, "od 1 do 99"},
      {true, 0, "1", "100", true, Form::kRegisterNumber, "od 1 do 99"},
      {false, 0, "1", "", true, Form::kRegisterNumber, "od 1 do 99"},
      {true, 0, "9", "0", true, Form::kMuxChannel, "od 1 do 4"},  // the channel comes first
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.channel) + " / " + c.number);
    elcom::SUConfig r = record();
    r.muxOn = 1;
    Form f(r, kPorts);
    f.select(Form::kMuxType, c.typeItem);
    f.fields[Form::kMuxChannel].text = c.channel;  // as typed, past the spin control
    f.setText(Form::kRegisterNumber, c.number);
    f.setChecked(Form::kMuxOn, c.muxOn);
    Boxes boxes;
    const auto refusal = f.confirm();
    ASSERT_EQ(refusal.has_value(), c.refused);
    if (!c.refused) {
      EXPECT_TRUE(boxes.shown.empty());
      continue;
    }
    EXPECT_EQ(refusal->field, c.field);
    EXPECT_NE(refusal->message.find(c.range), std::string::npos) << refusal->message;
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, refusal->message);
    EXPECT_EQ(boxes.shown[0].caption, "Konfiguracja kasy");
    EXPECT_EQ(boxes.shown[0].icon, ui::Icon::Warning);
  }
}

TEST(ElcomForm, TypeTheFormDoesNotOfferMustBeChosenBeforeOk) {
  elcom::SUConfig r = record();
  r.muxOn = 1;
  r.muxType = 16;  // written by the Elzab plug-in
  Form f(r, kPorts);
  EXPECT_EQ(f.fields[Form::kMuxType].selected, -1);
  EXPECT_EQ(f.fields[Form::kMuxChannel].spinMax, 1);
  Boxes boxes;
  const auto refusal = f.confirm();
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->field, Form::kMuxType);
}

TEST(ElcomForm, DigitsOnlyFieldsDropOtherCharacters) {
  Form f(record(), kPorts);
  f.setText(Form::kRegisterNumber, "1a2-");
  EXPECT_EQ(f.fields[Form::kRegisterNumber].text, "12");
  f.setChecked(Form::kMuxOn, true);
  f.setText(Form::kMuxChannel, " 3x");
  EXPECT_EQ(f.fields[Form::kMuxChannel].text, "3");
  // The port accepts any text, cut to what the record holds.
  f.setText(Form::kPort, std::string(300, 'p'));
  EXPECT_EQ(f.fields[Form::kPort].text.size(), 249u);
  EXPECT_FALSE(f.setText(Form::kMaxPlu, "5"));
}

TEST(ElcomForm, TickingTheDumpShowsItsNoticeAndAboutShowsTheDriver) {
  Form f(record(), kPorts);
  Boxes boxes;
  f.setChecked(Form::kBinDump, true);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].caption, "Quorvel");
  EXPECT_EQ(boxes.shown[0].icon, ui::Icon::Information);
  EXPECT_EQ(boxes.shown[0].text,
            "Włączono binarny zapis transmisji.\nSłuży on do celów diagnostycznych - po wykonaniu transmisji należy go wyłączyć."_cp);
  f.setChecked(Form::kBinDump, false);
  EXPECT_EQ(boxes.shown.size(), 1u);

  f.menuChosen(0);
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[1].caption, "Program komunikacyjny");
  EXPECT_EQ(boxes.shown[1].text.find('\n'), std::string::npos);
  EXPECT_NE(boxes.shown[1].text.find("quorvel_elcom"), std::string::npos);
}

TEST(ElcomForm, OkStoresTheFieldsIntoTheRecord) {
  elcom::SUConfig r = record();
  r.align250[1] = 0x33;
  Form f(r, kPorts);
  f.setText(Form::kPort, "ttyUSB1");
  f.select(Form::kSpeed, 1);
  f.setChecked(Form::kMuxOn, true);
  f.select(Form::kMuxType, 2);
  f.setText(Form::kMuxChannel, "6");
  f.setText(Form::kRegisterNumber, "12");
  {
    Boxes quiet;
    f.setChecked(Form::kBinDump, true);
  }
  ASSERT_FALSE(f.confirm());
  elcom::SUConfig out = r;
  f.store(out);
  EXPECT_STREQ(out.port, "ttyUSB1");
  EXPECT_EQ(out.speed, 38400);
  EXPECT_EQ(out.muxOn, 1);
  EXPECT_EQ(out.muxType, 4);
  EXPECT_EQ(out.muxChannel, 6);
  EXPECT_EQ(out.maxPluCode, 10000);
  EXPECT_EQ(out.registerNumber, 12);
  EXPECT_EQ(out.binDump, 1);
  EXPECT_EQ(out.align250[1], 0x33);
}

TEST(ElcomForm, ClearedMultiplexerKeepsTheRecordsTypeAndChannel) {
  elcom::SUConfig r = record();
  r.muxOn = 1;
  r.muxType = 2;
  r.muxChannel = 11;
  Form f(r, kPorts);
  f.setChecked(Form::kMuxOn, false);
  ASSERT_FALSE(f.confirm());
  elcom::SUConfig out = r;
  f.store(out);
  EXPECT_EQ(out.muxOn, 0);
  EXPECT_EQ(out.muxType, 2);
  EXPECT_EQ(out.muxChannel, 11);
}

TEST(ElcomForm, LongConfiguredPortIsStoredWithinTheField) {
  elcom::SUConfig r = record();
  std::memset(r.port, 'x', sizeof r.port);  // no terminating zero in the file
  Form f(r, kPorts);
  EXPECT_EQ(f.fields[Form::kPort].text.size(), 250u);
  elcom::SUConfig out = r;
  f.store(out);
  EXPECT_EQ(std::strlen(out.port), 249u);
}
