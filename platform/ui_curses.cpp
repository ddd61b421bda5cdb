// The ncurses front end of the UI layer: modal forms and message boxes on the terminal.
//
// Keys in a form: Tab / Down and Shift+Tab / Up move between fields and buttons; Space ticks a
// check box, opens a drop-down list or presses the focused button; Left/Right pick the
// previous/next item of a drop-down list or move the cursor in an edit; '+'/'-' or PgUp/PgDn
// step a spin field; F4 or Alt+Down opens the list of a drop-down field; Enter confirms (OK),
// or cancels when the cancel button has the focus; Esc cancels; Alt+letter jumps to the field
// whose label carries that accelerator (a check box is also toggled, a button pressed);
// Alt+Space or F2 opens the window menu.
//
// Texts are windows-1250 inside; they are drawn as wide characters, so that a UTF-8 terminal
// shows the Polish letters, and typed letters are converted back to windows-1250.
#define NCURSES_WIDECHAR 1
#include <curses.h>
#include <langinfo.h>
#include <locale.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <string>
#include <vector>

#include "platform/cp1250.h"
#include "platform/ui.h"

namespace quorvel::ui::curses {

namespace {

// One terminal session, shared by nested boxes (a validation box over its form).
class Session {
 public:
  Session() {
    if (depth_ == 0) {
      const char* current = setlocale(LC_CTYPE, nullptr);
      savedLocale_ = current ? current : "C";
      // Polish letters need the terminal's own code set: the user's locale when it names one
      // (UTF-8, or ISO-8859-2 on an old console); a bare C/POSIX locale, common in containers
      // and services, is taken as UTF-8, the usual terminal today.
      setlocale(LC_CTYPE, "");
      const char* codeset = nl_langinfo(CODESET);
      if (std::strcmp(codeset, "ANSI_X3.4-1968") == 0 || std::strcmp(codeset, "ASCII") == 0)
        setlocale(LC_CTYPE, "C.UTF-8");
      screen_ = newterm(nullptr, stdout, stdin);
      if (!screen_) {
        setlocale(LC_CTYPE, savedLocale_.c_str());
        return;
      }
      set_term(screen_);
      cbreak();
      noecho();
      nonl();
      keypad(stdscr, TRUE);
      set_escdelay(25);
      if (has_colors()) {
        start_color();
        use_default_colors();
        init_pair(1, COLOR_BLACK, COLOR_WHITE);   // dialog
        init_pair(2, COLOR_WHITE, COLOR_RED);     // warning box
        init_pair(3, COLOR_WHITE, COLOR_BLUE);    // focused control
      }
      curs_set(0);
      erase();
      refresh();
    }
    ++depth_;
    ok_ = true;
  }
  ~Session() {
    if (!ok_) return;
    if (--depth_ == 0) {
      endwin();
      delscreen(screen_);
      screen_ = nullptr;
      setlocale(LC_CTYPE, savedLocale_.c_str());
    }
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
  static inline int depth_ = 0;
  static inline SCREEN* screen_ = nullptr;
  static inline std::string savedLocale_;
};

attr_t dialogAttr() { return has_colors() ? COLOR_PAIR(1) : A_NORMAL; }
attr_t focusAttr() { return has_colors() ? COLOR_PAIR(3) | A_BOLD : A_REVERSE; }

wchar_t wideOf(unsigned char b) {
  const std::uint32_t c = cp1250::codePointOf(b);
  return (c == 0 && b != 0) ? L'?' : static_cast<wchar_t>(c);
}

// Windows-1250 byte of a typed character; -1 for characters the code page lacks.
int byteOfTyped(wint_t c) {
  if (c < 32 || c == 127) return -1;
  return cp1250::byteOf(static_cast<std::uint32_t>(c));
}

void putChar(WINDOW* w, int y, int x, wchar_t c, attr_t attr) {
  wchar_t s[2] = {c, 0};
  cchar_t cc;
  setcchar(&cc, s, attr, PAIR_NUMBER(attr), nullptr);
  mvwadd_wch(w, y, x, &cc);
}

// Draws windows-1250 text, at most `width` cells; returns the cells used. With `accel`, the
// character after '&' is underlined and the '&' itself not drawn.
int putText(WINDOW* w, int y, int x, const std::string& text, int width, attr_t attr, bool accel = false) {
  int used = 0;
  for (std::size_t i = 0; i < text.size() && used < width; ++i) {
    attr_t a = attr;
    if (accel && text[i] == '&' && i + 1 < text.size()) {
      ++i;
      if (text[i] != '&') a |= A_UNDERLINE;
    }
    putChar(w, y, x + used, wideOf(static_cast<unsigned char>(text[i])), a);
    ++used;
  }
  return used;
}

int textWidth(const std::string& s) { return static_cast<int>(s.size()); }
int labelWidth(const std::string& s) { return static_cast<int>(StripAccelerator(s).size()); }

void fill(WINDOW* w, int y, int x, int n, attr_t attr) {
  for (int i = 0; i < n; ++i) putChar(w, y, x + i, L' ', attr);
}

// Word-wrapped lines of a text with "\n" breaks.
std::vector<std::string> wrapLines(const std::string& text, int width) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    while (textWidth(line) > width) {
      std::size_t cut = line.rfind(' ', static_cast<std::size_t>(width));
      if (cut == std::string::npos || cut == 0) cut = static_cast<std::size_t>(width);
      out.push_back(line.substr(0, cut));
      line = line.substr(cut + (line[cut] == ' ' ? 1 : 0));
    }
    out.push_back(line);
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

WINDOW* centeredWindow(int height, int width) {
  height = std::min(height, LINES);
  width = std::min(width, COLS);
  WINDOW* w = newwin(height, width, (LINES - height) / 2, (COLS - width) / 2);
  if (w) {
    keypad(w, TRUE);
    wbkgdset(w, ' ' | dialogAttr());
  }
  return w;
}

void drawBorder(WINDOW* w, const std::string& caption, attr_t attr) {
  wattron(w, attr);
  box_set(w, WACS_VLINE, WACS_HLINE);
  wattroff(w, attr);
  if (!caption.empty()) {
    const int width = getmaxx(w);
    const int len = std::min(textWidth(caption) + 2, width - 2);
    const int x = std::max(1, (width - len) / 2);
    putChar(w, 0, x, L' ', attr);
    putText(w, 0, x + 1, caption, len - 2, attr | A_BOLD);
    putChar(w, 0, x + len - 1, L' ', attr);
  }
}

// Reads a key; Esc followed at once by another key is Alt+key (the terminal's meta prefix).
struct Key {
  int status = ERR;  // OK (character), KEY_CODE_YES (function key), ERR
  wint_t code = 0;
  bool alt = false;
};

Key readKey(WINDOW* w) {
  Key k;
  k.status = wget_wch(w, &k.code);
  if (k.status == OK && k.code == 27) {
    wtimeout(w, 40);
    Key next;
    next.status = wget_wch(w, &next.code);
    wtimeout(w, -1);
    if (next.status != ERR) {
      next.alt = true;
      return next;
    }
  }
  return k;
}

bool isEnter(const Key& k) {
  return (k.status == OK && (k.code == '\n' || k.code == '\r')) || (k.status == KEY_CODE_YES && k.code == KEY_ENTER);
}

// A vertical list in a box below (or above) a control; the picked index, or -1.
int popupList(const std::vector<std::string>& items, int current, int y, int x, int minWidth) {
  if (items.empty()) return -1;
  int width = minWidth;
  for (const auto& s : items) width = std::max(width, textWidth(StripAccelerator(s)) + 4);
  const int height = std::min(static_cast<int>(items.size()) + 2, LINES);
  width = std::min(width, COLS);
  if (y + height > LINES) y = std::max(0, LINES - height);
  if (x + width > COLS) x = std::max(0, COLS - width);
  WINDOW* w = newwin(height, width, y, x);
  if (!w) return -1;
  keypad(w, TRUE);
  wbkgdset(w, ' ' | dialogAttr());
  int pos = std::clamp(current, 0, static_cast<int>(items.size()) - 1);
  int top = 0;
  const int rows = height - 2;
  int result = -1;
  for (bool done = false; !done;) {
    if (pos < top) top = pos;
    if (pos >= top + rows) top = pos - rows + 1;
    werase(w);
    drawBorder(w, "", dialogAttr());
    for (int r = 0; r < rows && top + r < static_cast<int>(items.size()); ++r) {
      const attr_t a = (top + r == pos) ? focusAttr() : dialogAttr();
      fill(w, 1 + r, 1, width - 2, a);
      putText(w, 1 + r, 2, items[static_cast<std::size_t>(top + r)], width - 4, a, true);
    }
    wrefresh(w);
    const Key k = readKey(w);
    if (k.status == KEY_CODE_YES) {
      if (k.code == KEY_UP && pos > 0) --pos;
      else if (k.code == KEY_DOWN && pos + 1 < static_cast<int>(items.size())) ++pos;
      else if (k.code == KEY_HOME) pos = 0;
      else if (k.code == KEY_END) pos = static_cast<int>(items.size()) - 1;
      else if (k.code == KEY_ENTER) result = pos, done = true;
    } else if (k.status == ERR) {
      done = true;  // the terminal is gone
    } else if (k.status == OK) {
      if (isEnter(k) || k.code == ' ') result = pos, done = true;
      else if (k.code == 27) done = true;
      else if (k.code == '\t') done = true;
    }
  }
  delwin(w);
  return result;
}

// ---------------------------------------------------------------------------------------------
// The form dialog.

class FormDialog {
 public:
  explicit FormDialog(Form& form) : form_(form) {}

  FormResult run() {
    focus_ = firstFocusable(0, +1);
    cursor_ = focusedTextSize();
    while (true) {
      layout();
      if (!win_) return FormResult::Cancelled;
      draw();
      const Key k = readKey(win_);
      if (k.status == ERR) {
        // A blocking read only fails when the terminal is gone: nobody can answer the form.
        if (++failedReads_ >= 3) return FormResult::Cancelled;
        continue;
      }
      failedReads_ = 0;
      if (const auto r = handle(k)) {
        curs_set(0);
        delwin(win_);
        win_ = nullptr;
        return *r;
      }
      fixFocus();
    }
  }

  ~FormDialog() {
    if (win_) delwin(win_);
  }

 private:
  static constexpr int kControlWidth = 28;

  std::size_t count() const { return form_.fields.size(); }
  std::size_t okIndex() const { return count(); }
  std::size_t cancelIndex() const { return count() + 1; }

  bool focusable(std::size_t i) const {
    if (i >= count()) return i <= cancelIndex();
    const Field& f = form_.fields[i];
    return f.enabled && f.kind != FieldKind::ReadOnly;
  }

  // The neighbour of place i in the focus ring (fields, OK, Cancel), forwards or backwards.
  std::size_t neighbour(std::size_t i, int step) const {
    const std::size_t n = count() + 2;
    return step > 0 ? (i + 1) % n : (i + n - 1) % n;
  }

  std::size_t firstFocusable(std::size_t from, int step) const {
    std::size_t i = from % (count() + 2);
    for (std::size_t tries = 0; tries < count() + 2; ++tries, i = neighbour(i, step))
      if (focusable(i)) return i;
    return okIndex();
  }

  void moveFocus(int step) {
    focus_ = firstFocusable(neighbour(focus_, step), step);
    cursor_ = focusedTextSize();
  }

  void fixFocus() {
    if (!focusable(focus_)) {
      focus_ = firstFocusable(focus_, +1);
      cursor_ = focusedTextSize();
    }
    cursor_ = std::min(cursor_, focusedTextSize());
  }

  bool focusedIsText() const {
    if (focus_ >= count()) return false;
    const FieldKind k = form_.fields[focus_].kind;
    return k == FieldKind::Edit || k == FieldKind::ComboEdit || k == FieldKind::SpinEdit;
  }

  std::size_t focusedTextSize() const { return focus_ < count() ? form_.fields[focus_].text.size() : 0; }

  void layout() {
    labelCol_ = 0;
    int checkWidth = 0;
    for (const Field& f : form_.fields) {
      if (f.kind == FieldKind::CheckBox) checkWidth = std::max(checkWidth, labelWidth(f.label) + 4);
      else labelCol_ = std::max(labelCol_, labelWidth(f.label));
    }
    int inner = std::max({labelCol_ + 1 + kControlWidth, checkWidth, textWidth(form_.title) + 4,
                          labelWidth(form_.okLabel) + labelWidth(form_.cancelLabel) + 12, textWidth(hint())});
    const bool framed = !form_.frame.empty();
    width_ = inner + (framed ? 8 : 4);
    height_ = static_cast<int>(count()) + (framed ? 2 : 0) + 5;
    if (win_ && (getmaxx(win_) != std::min(width_, COLS) || getmaxy(win_) != std::min(height_, LINES))) {
      delwin(win_);
      win_ = nullptr;
    }
    if (!win_) win_ = centeredWindow(height_, width_);
    fieldsTop_ = framed ? 2 : 1;
    fieldsLeft_ = framed ? 4 : 2;
  }

  std::string hint() const {
    return "Tab: pole  Spacja: wybór  Enter: OK  Esc: anuluj"_cp + std::string(form_.menu.empty() ? "" : "  F2: menu");
  }

  void draw() {
    werase(win_);
    const attr_t base = dialogAttr();
    drawBorder(win_, form_.title, base);
    const int w = getmaxx(win_);
    if (!form_.frame.empty()) {
      const int top = 1, bottom = fieldsTop_ + static_cast<int>(count());
      mvwhline_set(win_, top, 3, WACS_HLINE, w - 6);
      mvwhline_set(win_, bottom, 3, WACS_HLINE, w - 6);
      mvwvline_set(win_, top, 2, WACS_VLINE, bottom - top + 1);
      mvwvline_set(win_, top, w - 3, WACS_VLINE, bottom - top + 1);
      mvwadd_wch(win_, top, 2, WACS_ULCORNER);
      mvwadd_wch(win_, top, w - 3, WACS_URCORNER);
      mvwadd_wch(win_, bottom, 2, WACS_LLCORNER);
      mvwadd_wch(win_, bottom, w - 3, WACS_LRCORNER);
      putChar(win_, top, 4, L' ', base);
      const int n = putText(win_, top, 5, form_.frame, w - 10, base);
      putChar(win_, top, 5 + n, L' ', base);
    }
    int cursorY = -1, cursorX = -1;
    for (std::size_t i = 0; i < count(); ++i) {
      const Field& f = form_.fields[i];
      const int y = fieldsTop_ + static_cast<int>(i);
      const bool focused = i == focus_;
      const attr_t labelAttr = f.enabled ? (focused ? base | A_BOLD : base) : base | A_DIM;
      if (f.kind == FieldKind::CheckBox) {
        const attr_t boxAttr = focused ? focusAttr() : labelAttr;
        putText(win_, y, fieldsLeft_, f.checked ? "[x]" : "[ ]", 3, boxAttr);
        putText(win_, y, fieldsLeft_ + 4, f.label, w - fieldsLeft_ - 6, labelAttr, true);
        continue;
      }
      putText(win_, y, fieldsLeft_, f.label, labelCol_, labelAttr, true);
      const int x = fieldsLeft_ + labelCol_ + 1;
      const attr_t ctl = !f.enabled ? base | A_DIM : focused ? focusAttr() : base | A_UNDERLINE;
      switch (f.kind) {
        case FieldKind::ReadOnly:
          putText(win_, y, x, f.text, kControlWidth, labelAttr);
          break;
        case FieldKind::DropDown: {
          const std::string shown = f.selected >= 0 && f.selected < static_cast<int>(f.items.size())
                                        ? f.items[static_cast<std::size_t>(f.selected)]
                                        : std::string();
          fill(win_, y, x, kControlWidth - 2, ctl);
          putText(win_, y, x, shown, kControlWidth - 3, ctl);
          putText(win_, y, x + kControlWidth - 2, "v", 1, f.enabled ? base | A_BOLD : base | A_DIM);
          break;
        }
        default: {
          const int room = kControlWidth - (f.kind == FieldKind::Edit ? 0 : 3);
          // The part of the text that holds the cursor.
          const std::size_t cur = focused ? cursor_ : f.text.size();
          std::size_t first = 0;
          if (static_cast<int>(cur) >= room) first = cur - static_cast<std::size_t>(room) + 1;
          fill(win_, y, x, room, ctl);
          putText(win_, y, x, f.text.substr(first), room, ctl);
          if (f.kind == FieldKind::ComboEdit)
            putText(win_, y, x + room + 1, "v", 1, f.enabled ? base | A_BOLD : base | A_DIM);
          if (f.kind == FieldKind::SpinEdit)
            putText(win_, y, x + room + 1, "+-", 2, f.enabled ? base | A_BOLD : base | A_DIM);
          if (focused) cursorY = y, cursorX = x + static_cast<int>(cur - first);
          break;
        }
      }
    }
    // Buttons, centred.
    const int by = getmaxy(win_) - 3;
    const std::string ok = "< " + form_.okLabel + " >";
    const std::string cancel = "< " + form_.cancelLabel + " >";
    const int total = labelWidth(ok) + 4 + labelWidth(cancel);
    int bx = std::max(1, (w - total) / 2);
    bx += putText(win_, by, bx, ok, w - bx - 1, focus_ == okIndex() ? focusAttr() : base, true) + 4;
    putText(win_, by, bx, cancel, w - bx - 1, focus_ == cancelIndex() ? focusAttr() : base, true);
    putText(win_, getmaxy(win_) - 2, 2, hint(), w - 4, base | A_DIM);
    if (cursorY >= 0) {
      curs_set(1);
      wmove(win_, cursorY, cursorX);
    } else {
      curs_set(0);
    }
    wrefresh(win_);
  }

  void openList() {
    if (focus_ >= count()) return;
    Field& f = form_.fields[focus_];
    if (f.kind != FieldKind::DropDown && f.kind != FieldKind::ComboEdit) return;
    int wy, wx;
    getbegyx(win_, wy, wx);
    const int y = wy + fieldsTop_ + static_cast<int>(focus_) + 1;
    const int x = wx + fieldsLeft_ + labelCol_ + 1;
    const int picked = popupList(f.items, f.selected, y, x, kControlWidth);
    if (picked >= 0) {
      form_.select(focus_, picked);
      cursor_ = focusedTextSize();
    }
  }

  void openMenu() {
    if (form_.menu.empty()) return;
    int wy, wx;
    getbegyx(win_, wy, wx);
    const int picked = popupList(form_.menu, 0, wy + 1, wx + 1, 10);
    draw();
    if (picked >= 0) form_.menuChosen(static_cast<std::size_t>(picked));
  }

  // Alt+letter: the next field or button after the focus whose accelerator is that letter.
  std::optional<FormResult> accelerator(wint_t c) {
    const wint_t want = towlower(c);
    const std::size_t n = count() + 2;
    for (std::size_t step = 1; step <= n; ++step) {
      const std::size_t i = (focus_ + step) % n;
      const std::string& label = i < count() ? form_.fields[i].label : i == okIndex() ? form_.okLabel : form_.cancelLabel;
      const char a = AcceleratorOf(label);
      if (!a || towlower(static_cast<wint_t>(wideOf(static_cast<unsigned char>(a)))) != want) continue;
      if (i < count() && !form_.fields[i].enabled) continue;
      if (i == okIndex()) return pressOk();
      if (i == cancelIndex()) return FormResult::Cancelled;
      if (form_.fields[i].kind == FieldKind::ReadOnly) continue;
      focus_ = i;
      cursor_ = focusedTextSize();
      if (form_.fields[i].kind == FieldKind::CheckBox) form_.setChecked(i, !form_.fields[i].checked);
      return std::nullopt;
    }
    beep();
    return std::nullopt;
  }

  std::optional<FormResult> pressOk() {
    if (const auto refusal = form_.confirm()) {
      if (refusal->field < count()) {
        focus_ = refusal->field;
        cursor_ = focusedTextSize();
      }
      touchwin(win_);
      return std::nullopt;
    }
    return FormResult::Ok;
  }

  void typeChar(wint_t c) {
    if (!focusedIsText()) {
      beep();
      return;
    }
    const int b = byteOfTyped(c);
    if (b < 0) {
      beep();
      return;
    }
    const std::string before = form_.fields[focus_].text;
    std::string text = before;
    text.insert(std::min(cursor_, text.size()), 1, static_cast<char>(b));
    form_.setText(focus_, text);
    if (form_.fields[focus_].text.size() > before.size()) ++cursor_;
    else beep();
  }

  void erase(bool backwards) {
    if (!focusedIsText()) return;
    std::string text = form_.fields[focus_].text;
    if (backwards) {
      if (cursor_ == 0) return;
      text.erase(--cursor_, 1);
    } else {
      if (cursor_ >= text.size()) return;
      text.erase(cursor_, 1);
    }
    form_.setText(focus_, text);
  }

  void step(int delta) {
    if (focus_ >= count()) return;
    Field& f = form_.fields[focus_];
    if (f.kind == FieldKind::SpinEdit) {
      form_.spin(focus_, delta);
      cursor_ = focusedTextSize();
    } else if (f.kind == FieldKind::DropDown && !f.items.empty()) {
      const int next = std::clamp(f.selected + delta, 0, static_cast<int>(f.items.size()) - 1);
      if (next != f.selected) form_.select(focus_, next);
    }
  }

  std::optional<FormResult> handle(const Key& k) {
    if (k.alt) {
      if (k.status == KEY_CODE_YES && k.code == KEY_DOWN) openList();
      else if (k.status == OK && k.code == ' ') openMenu();
      else if (k.status == OK) return accelerator(k.code);
      return std::nullopt;
    }
    if (isEnter(k)) {
      if (focus_ == cancelIndex()) return FormResult::Cancelled;
      return pressOk();
    }
    if (k.status == KEY_CODE_YES) {
      const bool dropDown = focus_ < count() && form_.fields[focus_].kind == FieldKind::DropDown;
      switch (k.code) {
        case KEY_DOWN: moveFocus(+1); break;
        case KEY_UP:
        case KEY_BTAB: moveFocus(-1); break;
        case KEY_LEFT:
          if (dropDown) step(-1);
          else if (cursor_ > 0) --cursor_;
          break;
        case KEY_RIGHT:
          if (dropDown) step(+1);
          else if (cursor_ < focusedTextSize()) ++cursor_;
          break;
        case KEY_HOME: cursor_ = 0; break;
        case KEY_END: cursor_ = focusedTextSize(); break;
        case KEY_PPAGE: step(+1); break;
        case KEY_NPAGE: step(-1); break;
        case KEY_BACKSPACE: erase(true); break;
        case KEY_DC: erase(false); break;
        case KEY_F(4): openList(); break;
        case KEY_F(2): openMenu(); break;
        case KEY_RESIZE:
          // Centred anew on the next round.
          delwin(win_);
          win_ = nullptr;
          clear();
          refresh();
          break;
        default: break;
      }
      return std::nullopt;
    }
    switch (k.code) {
      case 27: return FormResult::Cancelled;
      case '\t': moveFocus(+1); return std::nullopt;
      case 8:
      case 127: erase(true); return std::nullopt;
      default: break;
    }
    if (focus_ == okIndex() && k.code == ' ') return pressOk();
    if (focus_ == cancelIndex() && k.code == ' ') return FormResult::Cancelled;
    if (focus_ < count()) {
      Field& f = form_.fields[focus_];
      if (k.code == ' ' && f.kind == FieldKind::CheckBox) {
        form_.setChecked(focus_, !f.checked);
        return std::nullopt;
      }
      if (k.code == ' ' && f.kind == FieldKind::DropDown) {
        openList();
        return std::nullopt;
      }
      if (f.kind == FieldKind::SpinEdit && (k.code == '+' || k.code == '-')) {
        step(k.code == '+' ? +1 : -1);
        return std::nullopt;
      }
    }
    typeChar(k.code);
    return std::nullopt;
  }

  Form& form_;
  WINDOW* win_ = nullptr;
  std::size_t focus_ = 0;
  std::size_t cursor_ = 0;
  int labelCol_ = 0;
  int width_ = 0;
  int height_ = 0;
  int fieldsTop_ = 1;
  int fieldsLeft_ = 2;
  int failedReads_ = 0;
};

}  // namespace

bool MessageBox(const std::string& text, const std::string& caption, Icon icon) {
  Session session;
  if (!session.ok()) return false;
  const int maxText = std::max(10, COLS - 8);
  const std::string prefix = icon == Icon::Warning ? "(!) " : icon == Icon::Information ? "(i) " : "";
  std::vector<std::string> lines = wrapLines(prefix + text, maxText);
  int width = textWidth(caption) + 6;
  for (const auto& l : lines) width = std::max(width, textWidth(l) + 4);
  width = std::max(width, 12);
  WINDOW* w = centeredWindow(static_cast<int>(lines.size()) + 4, width);
  if (!w) return false;
  const attr_t attr = icon == Icon::Warning && has_colors() ? COLOR_PAIR(2) : dialogAttr();
  wbkgdset(w, ' ' | attr);
  curs_set(0);
  for (bool done = false; !done;) {
    werase(w);
    drawBorder(w, caption, attr);
    for (std::size_t i = 0; i < lines.size(); ++i) putText(w, 1 + static_cast<int>(i), 2, lines[i], width - 4, attr);
    const int by = getmaxy(w) - 2;
    putText(w, by, (getmaxx(w) - 6) / 2, "< OK >", 6, focusAttr());
    wrefresh(w);
    const Key k = readKey(w);
    if (isEnter(k) || k.status == ERR) done = true;
    if (k.status == OK && (k.code == ' ' || k.code == 27 || towlower(k.code) == L'o')) done = true;
  }
  delwin(w);
  touchwin(stdscr);
  wnoutrefresh(stdscr);
  return true;
}

std::optional<FormResult> ShowForm(Form& form) {
  Session session;
  if (!session.ok()) return std::nullopt;
  FormDialog dialog(form);
  const FormResult result = dialog.run();
  return result;
}

}  // namespace quorvel::ui::curses
