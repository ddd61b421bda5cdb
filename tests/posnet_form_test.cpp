// The POSNET configuration form without a front end: its fields and values, the enabling that
// follows the connection type and the multiplexer box, the detailed-log notice, validation,
// and what "&OK" stores, case by case.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "drivers/posnet/config_form.h"
#include "platform/cp1250.h"
#include "platform/ui.h"
#include "tests/support/test_support.h"

using namespace quorvel;
using Form = posnet::PosnetConfigForm;
using quorvel::test::cp1250ToUtf8;

namespace {

const std::vector<std::string> kPorts = {"COM1", "COM2", "ttyUSB0"};

posnet::SUConfig defaults() {
  posnet::SUConfig c;
  posnet::setDefaultConfig(c);
  return c;
}

// Which fields are enabled, one letter per field: the connection list, IP, port, speed, the
// three line lists, the multiplexer box, type and channel, the log box.
std::string enabling(const Form& f) {
  std::string s;
  for (const ui::Field& field : f.fields) s += field.enabled ? 'x' : '.';
  return s;
}

std::string selections(const Form& f) {
  std::string s;
  for (std::size_t i : {Form::kConnection, Form::kSpeed, Form::kDataBits, Form::kParity, Form::kStopBits, Form::kMuxType}) {
    const ui::Field& field = f.fields[i];
    s += (field.selected >= 0 ? field.items[static_cast<std::size_t>(field.selected)] : std::string("-")) + " ";
  }
  return s + f.fields[Form::kIpAddress].text;
}

}  // namespace

TEST(PosnetForm, FieldsFollowTheRecordAndTheConnectionType) {
  struct Case {
    const char* what;
    std::function<void(posnet::SUConfig&)> record;
    std::function<void(Form&)> actions;
    const char* enabled;
    const char* selected;
  } cases[] = {
      {"defaults", [](posnet::SUConfig&) {}, [](Form&) {}, "x.xxxxxx..x", "RS-232 9600 8 N 1 Elzab 10.0.0.1"},
      {"Ethernet record",
       [](posnet::SUConfig& c) {
         c.connectionType = 3;
         c.muxOn = 1;
         std::strcpy(c.ipAddress, "192.168.1.20");
       },
       [](Form&) {}, "xx........x", "Ethernet 9600 8 N 1 Elzab 192.168.1.20"},
      {"switched to Ethernet", [](posnet::SUConfig& c) { c.muxOn = 1; }, [](Form& f) { f.select(Form::kConnection, 1); },
       "xx........x", "Ethernet 9600 8 N 1 Elzab 10.0.0.1"},
      {"and back to RS-232", [](posnet::SUConfig& c) { c.muxOn = 1; },
       [](Form& f) {
         f.select(Form::kConnection, 1);
         f.select(Form::kConnection, 0);
       },
       "x.xxxxxxxxx", "RS-232 9600 8 N 1 Elzab 10.0.0.1"},
      {"configured line values",
       [](posnet::SUConfig& c) {
         c.speed = 115200;
         c.dataBits = 7;
         c.parity = 'E';
         c.stopBits = 2;
         c.muxType = 4;
       },
       [](Form&) {}, "x.xxxxxx..x", "RS-232 115200 7 E 2 MPX4s 10.0.0.1"},
      {"values the lists lack take the first entry",
       [](posnet::SUConfig& c) {
         c.speed = 300;
         c.dataBits = 9;
         c.parity = 'X';
         c.stopBits = 3;
         c.connectionType = 2;
       },
       [](Form&) {}, "x.xxxxxx..x", "RS-232 1200 7 N 1 Elzab 10.0.0.1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    posnet::SUConfig record = defaults();
    c.record(record);
    Form f(record, kPorts);
    c.actions(f);
    EXPECT_EQ(enabling(f), c.enabled);
    EXPECT_EQ(selections(f), c.selected);
  }
}

TEST(PosnetForm, StoresWhatWasChosenAndChecksTheMultiplexer) {
  std::vector<std::string> boxes;
  ui::SetMessageBoxHook([&](const std::string& t, const std::string& caption, ui::Icon) {
    boxes.push_back(caption + ": " + cp1250ToUtf8(t));
  });
  posnet::SUConfig c = defaults();
  Form f(c, kPorts);
  f.select(Form::kConnection, 1);
  f.setText(Form::kIpAddress, "127.0.0.1:40001");
  f.select(Form::kConnection, 0);
  f.select(Form::kPort, 2);
  f.select(Form::kSpeed, 7);
  f.select(Form::kDataBits, 0);
  f.select(Form::kParity, 1);
  f.select(Form::kStopBits, 1);
  f.setChecked(Form::kMuxOn, true);
  f.select(Form::kMuxType, 1);
  f.setText(Form::kMuxChannel, "16");
  f.setChecked(Form::kDetailedLog, true);
  EXPECT_EQ(boxes, std::vector<std::string>{"Quorvel: Włączono szczegółowy zapis transmisji.\nSłuży on do celów "
                                            "diagnostycznych - po wykonaniu transmisji należy go wyłączyć."});
  // Falwi has 15 channels.
  const auto refusal = f.confirm();
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->field, Form::kMuxChannel);
  EXPECT_EQ(cp1250ToUtf8(refusal->message), "Wprowadź liczbę całkowitą z zakresu od 1 do 15.");
  f.setText(Form::kMuxChannel, "15");
  EXPECT_FALSE(f.confirm());
  f.store(c);
  EXPECT_EQ(c.connectionType, 1);
  EXPECT_STREQ(c.ipAddress, "127.0.0.1:40001");
  EXPECT_STREQ(c.port, "ttyUSB0");
  EXPECT_EQ(c.speed, 115200);
  EXPECT_EQ(c.dataBits, 7);
  EXPECT_EQ(c.parity, 'O');
  EXPECT_EQ(c.stopBits, 2);
  EXPECT_EQ(c.muxOn, 1);
  EXPECT_EQ(c.muxType, 2);
  EXPECT_EQ(c.muxChannel, 15);
  EXPECT_EQ(c.detailedLog, 1);
  // On Ethernet the multiplexer is not the form's concern: a record with a foreign type passes.
  posnet::SUConfig e = defaults();
  e.connectionType = 3;
  e.muxOn = 1;
  e.muxType = 16;
  EXPECT_FALSE(posnet::checkConfig(e));
  e.connectionType = 1;
  EXPECT_TRUE(posnet::checkConfig(e));
  ui::SetMessageBoxHook({});
}

// The register's address, as the form's "&OK" and `quorvel config … ip=…` take it: one check,
// one message; an address with its port longer than the record's field keeps the port in the
// record's spare bytes, and reads back whole.
TEST(PosnetForm, AddressesAreCheckedAlikeByTheFormAndTheTextConfiguration) {
  const std::string form = "Wprowadź adres IP w postaci a.b.c.d lub a.b.c.d:port, gdzie a, b, c i d to liczby od 0 do 255.";
  const std::string port = "Numer portu po dwukropku musi być liczbą od 1 do 65535 (adres a.b.c.d:port).";
  struct Case {
    const char* address;
    std::string refusal;  // "" when taken
    const char* ipAddress;  // what the record's text field then holds
    int ipPort;
  } cases[] = {
      {"10.0.0.5", "", "10.0.0.5", 0},
      {"0.0.0.0", "", "0.0.0.0", 0},
      {"255.255.255.255", "", "255.255.255.255", 0},
      {"127.0.0.1:40001", "", "127.0.0.1:40001", 0},  // fits the field whole, as older readers read it
      {"192.168.1.10:6666", "", "192.168.1.10", 6666},
      {"255.255.255.255:65535", "", "255.255.255.255", 65535},
      {"10.0.0.5:1", "", "10.0.0.5:1", 0},
      {"300.1.1.1", form, nullptr, 0},
      {"256.0.0.1", form, nullptr, 0},
      {"10.0.0", form, nullptr, 0},
      {"10.0.0.5.6", form, nullptr, 0},
      {"10..0.5", form, nullptr, 0},
      {"10.0.0.5.", form, nullptr, 0},
      {"1000.0.0.5", form, nullptr, 0},
      {"+1.0.0.5", form, nullptr, 0},
      {" 10.0.0.5", form, nullptr, 0},
      {"kasa.local", form, nullptr, 0},
      {"", form, nullptr, 0},
      {"10.0.0.5:99999", port, nullptr, 0},
      {"10.0.0.5:0", port, nullptr, 0},
      {"10.0.0.5:", port, nullptr, 0},
      {"10.0.0.5:66a", port, nullptr, 0},
      {"10.0.0.5:6666:1", port, nullptr, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.address);
    // The form, on Ethernet.
    posnet::SUConfig record = defaults();
    Form f(record, kPorts);
    f.select(Form::kConnection, 1);
    f.setText(Form::kIpAddress, c.address);
    const auto refusal = f.confirm();
    if (c.refusal.empty()) {
      EXPECT_FALSE(refusal) << cp1250ToUtf8(refusal->message);
      f.store(record);
      EXPECT_STREQ(record.ipAddress, c.ipAddress);
      EXPECT_EQ(record.ipPort, c.ipPort);
      EXPECT_EQ(posnet::addressText(record), c.address);
      EXPECT_EQ(posnet::toImage(record)[250] | posnet::toImage(record)[251] << 8, c.ipPort);
      // Back from the record, the form shows it whole.
      EXPECT_EQ(Form(record, kPorts).fields[Form::kIpAddress].text, c.address);
    } else {
      ASSERT_TRUE(refusal);
      EXPECT_EQ(refusal->field, Form::kIpAddress);
      EXPECT_EQ(cp1250ToUtf8(refusal->message), c.refusal);
    }
    // The text configuration, in a directory of its own.
    test::ScratchDir dir;
    std::string out;
    const int result = posnet::configureText({"connection=Ethernet", std::string("ip=") + c.address}, out);
    if (c.refusal.empty()) {
      EXPECT_EQ(result, 0) << out;
      EXPECT_NE(out.find(std::string("\nip = ") + c.address + "\n"), std::string::npos) << out;
      posnet::SUConfig read{};
      ASSERT_EQ(posnet::readConfig(read, false), 0);
      EXPECT_STREQ(read.ipAddress, c.ipAddress);
      EXPECT_EQ(read.ipPort, c.ipPort);
    } else {
      EXPECT_EQ(result, 1);
      EXPECT_EQ(out, "the value of ip is refused:\n    " + c.refusal);
    }
  }
  // On RS-232 the disabled address is not the form's concern, and is kept as it was.
  posnet::SUConfig record = defaults();
  Form f(record, kPorts);
  f.select(Form::kConnection, 1);
  f.setText(Form::kIpAddress, "kasa.local");
  f.select(Form::kConnection, 0);
  EXPECT_FALSE(f.confirm());
  f.store(record);
  EXPECT_STREQ(record.ipAddress, "10.0.0.1");
}
