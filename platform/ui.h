// Dialogs and message boxes: the one small UI layer of the system.
//
// A form is a plain description (fields, their values and enabled state) plus the plug-in's
// logic, which reacts to changes and validates on confirmation. The front end only draws it
// and turns keys into the same calls that tests make directly:
//   - with a terminal (standard input and output are terminals): a modal ncurses dialog;
//   - without one (a service, CI, or QUORVEL_UI=none in the environment): message boxes go to
//     standard error and count as confirmed; a form cannot be shown, which is reported on
//     standard error and ends as FormResult::NotShown (treated as a cancel).
// All texts are windows-1250 bytes; the front end shows them in the terminal's encoding.
// In labels, '&' marks the accelerator letter that follows ("&&" is a plain '&').
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/api.h"

namespace quorvel::ui {

enum class Icon { None, Information, Warning };

// A modal box with an OK button; returns when the user has closed it. "\n" breaks lines.
QUORVEL_API void MessageBox(const std::string& text, const std::string& caption, Icon icon);

// Receives every message box instead of the front end while set (tests watch the boxes of
// form logic here). Returns the previous hook; an empty function restores the front end.
using MessageBoxHook = std::function<void(const std::string& text, const std::string& caption, Icon icon)>;
QUORVEL_API MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// True when dialogs are drawn on a terminal.
QUORVEL_API bool HaveTerminal();

// The short audible signal: BEL on the controlling terminal; nothing without one.
QUORVEL_API void Bell();

enum class FieldKind {
  Edit,       // one line of text
  ComboEdit,  // editable drop-down list: any text, or an item picked from the list
  DropDown,   // one item of the list
  CheckBox,
  SpinEdit,   // digits-only edit with a spin control over [spinMin, spinMax]
  ReadOnly,   // a value shown, not editable
};

struct Field {
  FieldKind kind = FieldKind::Edit;
  std::string label;               // with its '&' accelerator
  std::string text;                // Edit, ComboEdit, SpinEdit, ReadOnly
  std::vector<std::string> items;  // ComboEdit, DropDown
  int selected = -1;               // ComboEdit, DropDown: chosen item, -1 = none
  bool checked = false;            // CheckBox
  bool enabled = true;
  bool digitsOnly = false;         // Edit: only the digits 0-9 may be typed (SpinEdit always)
  std::size_t maxLength = 0;       // longest text that may be typed; 0 = no limit
  int spinMin = 0;
  int spinMax = 0;
};

// A refused confirmation: the message shown (a warning box) and the field that gets the focus.
struct Refusal {
  std::size_t field = 0;
  std::string message;
};

class QUORVEL_API Form {
 public:
  virtual ~Form();

  std::string title;
  std::string frame;                // caption of the frame around the fields; "" = no frame
  std::vector<Field> fields;
  std::vector<std::string> menu;    // extra entries of the window menu, after a separator
  std::string okLabel = "&OK";
  std::string cancelLabel = "&Anuluj";

  // Called after the user changed field `index` (ticked, picked an item, typed).
  virtual void fieldChanged(std::size_t index);
  // Called when the user confirms; a refusal keeps the form open.
  virtual std::optional<Refusal> validate();
  // Called when the user picks extra menu entry `entry`.
  virtual void menuChosen(std::size_t entry);

  // The user's actions, as the front end performs them (each ends in fieldChanged).
  // Changes to a disabled field are ignored and return false.
  bool setChecked(std::size_t index, bool checked);
  bool select(std::size_t index, int item);  // ComboEdit: the item's text becomes the text
  bool setText(std::size_t index, const std::string& text);  // digits-only fields drop other characters
  bool spin(std::size_t index, int delta);   // SpinEdit: value + delta, kept in range
  // OK pressed: validate; a refusal shows its warning box (caption: the title) and gives the
  // refusal back; nullopt means the form may close.
  std::optional<Refusal> confirm();
};

enum class FormResult { Ok, Cancelled, NotShown };

// Shows the form modally until OK (validated) or Cancel.
QUORVEL_API FormResult ShowForm(Form& form);

// "&Numer" -> "Numer"; "&&" -> "&".
QUORVEL_API std::string StripAccelerator(const std::string& label);
// The accelerator byte of a label (as written, windows-1250), 0 when none.
QUORVEL_API char AcceleratorOf(const std::string& label);

}  // namespace quorvel::ui
