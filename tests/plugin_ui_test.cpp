// The UI layer without a terminal: message boxes on standard error (confirmed at once), forms
// reported and not shown; and the field actions the front end performs on a form.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/cp1250.h"
#include "platform/ui.h"

using namespace quorvel;

namespace {

// Everything written to standard error while the object lives.
class StderrCapture {
 public:
  StderrCapture() {
    std::fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    file_ = std::tmpfile();
    dup2(fileno(file_), STDERR_FILENO);
  }
  ~StderrCapture() { restore(); }
  std::string text() {
    restore();
    std::string out;
    std::rewind(file_);
    for (int c; (c = std::fgetc(file_)) != EOF;) out += static_cast<char>(c);
    return out;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
    saved_ = -1;
  }
  int saved_ = -1;
  std::FILE* file_ = nullptr;
};

class NoTerminal : public ::testing::Test {
 protected:
  void SetUp() override { setenv("QUORVEL_UI", "none", 1); }
};

}  // namespace

TEST_F(NoTerminal, MessageBoxGoesToStandardErrorInUtf8) {
  EXPECT_FALSE(ui::HaveTerminal());
  StderrCapture err;
  ui::MessageBox("UWAGA! To jest transmisja z zapisem binarnym."_cp, "Quorvel", ui::Icon::Warning);
  ui::MessageBox("Włączono\nzapis."_cp, "Quorvel", ui::Icon::Information);
  EXPECT_EQ(err.text(),
            "Quorvel (!): UWAGA! To jest transmisja z zapisem binarnym.\n"
            "Quorvel: Włączono\nzapis.\n");
}

TEST_F(NoTerminal, FormIsReportedAndNotShown) {
  ui::Form form;
  form.title = "Konfiguracja kasy";
  StderrCapture err;
  EXPECT_EQ(ui::ShowForm(form), ui::FormResult::NotShown);
  const std::string text = err.text();
  EXPECT_EQ(text.rfind("Konfiguracja kasy: ", 0), 0u) << text;
  EXPECT_NE(text.find("bez terminala"), std::string::npos) << text;
}

TEST(UiLabels, AcceleratorsAreTheLetterAfterTheAmpersand) {
  struct Case {
    const char* label;
    const char* plain;
    char accel;
  } cases[] = {
      {"&Numer portu:", "Numer portu:", 'N'},
      {"B&inarny zapis", "Binarny zapis", 'i'},
      {"Save && &Quit", "Save & Quit", 'Q'},
      {"no accelerator", "no accelerator", 0},
      {"trailing&", "trailing", 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ui::StripAccelerator(c.label), c.plain);
    EXPECT_EQ(ui::AcceleratorOf(c.label), c.accel) << c.label;
  }
  EXPECT_EQ(ui::AcceleratorOf("&Prędkość:"_cp), 'P');
}

TEST(UiForm, FieldActionsRespectKindEnablingAndLimits) {
  struct Counting : ui::Form {
    int changes = 0;
    void fieldChanged(std::size_t) override { ++changes; }
  } f;
  f.fields.resize(4);
  auto field = [](ui::FieldKind kind) {
    ui::Field x;
    x.kind = kind;
    return x;
  };
  f.fields[0] = field(ui::FieldKind::ComboEdit);
  f.fields[0].items = {"COM1", "COM2"};
  f.fields[0].maxLength = 6;
  f.fields[1] = field(ui::FieldKind::SpinEdit);
  f.fields[1].text = "2";
  f.fields[1].spinMin = 1;
  f.fields[1].spinMax = 4;
  f.fields[2] = field(ui::FieldKind::CheckBox);
  f.fields[2].enabled = false;
  f.fields[3] = field(ui::FieldKind::DropDown);
  f.fields[3].items = {"a", "b"};

  EXPECT_TRUE(f.select(0, 1));
  EXPECT_EQ(f.fields[0].text, "COM2");
  EXPECT_TRUE(f.setText(0, "COM1"));
  EXPECT_EQ(f.fields[0].selected, 0);  // typed text naming an item selects it
  EXPECT_TRUE(f.setText(0, "ttyUSB12"));
  EXPECT_EQ(f.fields[0].text, "ttyUSB");
  EXPECT_EQ(f.fields[0].selected, -1);

  EXPECT_TRUE(f.spin(1, +1));
  EXPECT_EQ(f.fields[1].text, "3");
  EXPECT_TRUE(f.spin(1, +5));
  EXPECT_EQ(f.fields[1].text, "4");
  f.setText(1, "");
  EXPECT_TRUE(f.spin(1, -1));
  EXPECT_EQ(f.fields[1].text, "1");
  f.setText(1, "99999999999999999999");
  EXPECT_TRUE(f.spin(1, -1));
  EXPECT_EQ(f.fields[1].text, "3");

  const int before = f.changes;
  EXPECT_FALSE(f.setChecked(2, true));  // disabled
  EXPECT_FALSE(f.select(3, 2));         // no such item
  EXPECT_FALSE(f.setChecked(3, true));  // not a check box
  EXPECT_FALSE(f.spin(0, 1));           // not a spin field
  EXPECT_FALSE(f.select(9, 0));         // no such field
  EXPECT_EQ(f.changes, before);
  EXPECT_FALSE(f.confirm());
}
