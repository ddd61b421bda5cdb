#include "platform/ui.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/cp1250.h"

namespace quorvel::ui {

// The ncurses front end (ui_curses.cpp). False when the terminal could not be set up.
namespace curses {
bool MessageBox(const std::string& text, const std::string& caption, Icon icon);
std::optional<FormResult> ShowForm(Form& form);
}  // namespace curses

namespace {

MessageBoxHook& hookSlot() {
  static MessageBoxHook hook;
  return hook;
}

std::string toUtf8(const std::string& cp) { return cp1250::toUtf8(cp); }

void boxToStderr(const std::string& text, const std::string& caption, Icon icon) {
  const char* kind = icon == Icon::Warning ? " (!)" : "";
  std::fprintf(stderr, "%s%s: %s\n", toUtf8(caption).c_str(), kind, toUtf8(text).c_str());
  std::fflush(stderr);
}

}  // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook) {
  MessageBoxHook previous = std::move(hookSlot());
  hookSlot() = std::move(hook);
  return previous;
}

bool HaveTerminal() {
  const char* mode = std::getenv("QUORVEL_UI");
  if (mode && std::strcmp(mode, "none") == 0) return false;
  return ::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO);
}

// A terminal has no tone generator of its own: BEL on the controlling terminal is the nearest
// thing to the short beep. Without a terminal (a service, CI) there is nothing to sound.
void Bell() {
  const int fd = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  [[maybe_unused]] const ssize_t written = ::write(fd, "\a", 1);
  ::close(fd);
}

void MessageBox(const std::string& text, const std::string& caption, Icon icon) {
  if (hookSlot()) {
    hookSlot()(text, caption, icon);
    return;
  }
  if (HaveTerminal() && curses::MessageBox(text, caption, icon)) return;
  boxToStderr(text, caption, icon);
}

FormResult ShowForm(Form& form) {
  if (HaveTerminal()) {
    if (const auto result = curses::ShowForm(form)) return *result;
  }
  std::fprintf(stderr, "%s: %s\n", toUtf8(form.title).c_str(),
               toUtf8("formularza nie można wyświetlić bez terminala; nic nie zmieniono"_cp).c_str());
  std::fflush(stderr);
  return FormResult::NotShown;
}

std::string StripAccelerator(const std::string& label) {
  std::string out;
  for (std::size_t i = 0; i < label.size(); ++i) {
    if (label[i] == '&' && i + 1 < label.size()) ++i;
    else if (label[i] == '&') continue;
    out += label[i];
  }
  return out;
}

char AcceleratorOf(const std::string& label) {
  for (std::size_t i = 0; i + 1 < label.size(); ++i) {
    if (label[i] != '&') continue;
    if (label[i + 1] != '&') return label[i + 1];
    ++i;
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------

Form::~Form() = default;
void Form::fieldChanged(std::size_t) {}
std::optional<Refusal> Form::validate() { return std::nullopt; }
void Form::menuChosen(std::size_t) {}

bool Form::setChecked(std::size_t index, bool checked) {
  if (index >= fields.size() || !fields[index].enabled || fields[index].kind != FieldKind::CheckBox) return false;
  fields[index].checked = checked;
  fieldChanged(index);
  return true;
}

bool Form::select(std::size_t index, int item) {
  if (index >= fields.size() || !fields[index].enabled) return false;
  Field& f = fields[index];
  if (f.kind != FieldKind::DropDown && f.kind != FieldKind::ComboEdit) return false;
  if (item < -1 || item >= static_cast<int>(f.items.size())) return false;
  f.selected = item;
  if (f.kind == FieldKind::ComboEdit && item >= 0) f.text = f.items[static_cast<std::size_t>(item)];
  fieldChanged(index);
  return true;
}

bool Form::setText(std::size_t index, const std::string& text) {
  if (index >= fields.size() || !fields[index].enabled) return false;
  Field& f = fields[index];
  if (f.kind != FieldKind::Edit && f.kind != FieldKind::ComboEdit && f.kind != FieldKind::SpinEdit) return false;
  std::string kept;
  const bool digits = f.digitsOnly || f.kind == FieldKind::SpinEdit;
  for (const char c : text) {
    if (digits && (c < '0' || c > '9')) continue;
    if (f.maxLength && kept.size() >= f.maxLength) break;
    kept += c;
  }
  f.text = kept;
  if (f.kind == FieldKind::ComboEdit) {
    // A typed text picks the list item it names, as an editable list shows it.
    f.selected = -1;
    for (std::size_t i = 0; i < f.items.size(); ++i)
      if (f.items[i] == kept) f.selected = static_cast<int>(i);
  }
  fieldChanged(index);
  return true;
}

bool Form::spin(std::size_t index, int delta) {
  if (index >= fields.size() || !fields[index].enabled || fields[index].kind != FieldKind::SpinEdit) return false;
  Field& f = fields[index];
  long value = f.text.empty() ? f.spinMin : std::strtol(f.text.c_str(), nullptr, 10);
  if (f.text.size() > 9) value = f.spinMax;  // a runaway digit string spins from the top
  value += delta;
  if (value < f.spinMin) value = f.spinMin;
  if (value > f.spinMax) value = f.spinMax;
  f.text = std::to_string(value);
  fieldChanged(index);
  return true;
}

std::optional<Refusal> Form::confirm() {
  auto refusal = validate();
  if (refusal) MessageBox(refusal->message, title, Icon::Warning);
  return refusal;
}

}  // namespace quorvel::ui
