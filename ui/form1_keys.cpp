// The keyboard side of the window: Enter walks a fixed focus chain, Shift+Enter walks it
// back, Tab is mostly a second Enter, Enter on a button runs it, F12 quits from anywhere. A
// click in the text window or the file-name box hands the focus on.
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>

#include "ui/file_list_box.h"
#include "ui/form1.h"
#include "ui/key_codes.h"
#include "ui/keyword_box.h"
#include "ui/working_text_view.h"
#include "ui/wrapping_check_box.h"

namespace parlotrim {

namespace {

// Tab and Enter type nothing in the controls of the chain: their key-down did the work.
void DiscardTabAndEnter(int& keyAscii) {
  if (keyAscii == kKeyTab || keyAscii == kKeyEnter) keyAscii = 0;
}

bool IsLeftClickInside(QWidget* widget, QMouseEvent* event) {
  return event->button() == Qt::LeftButton && widget->rect().contains(event->position().toPoint());
}

}  // namespace

bool Form1::DispatchKey(QWidget* control, QKeyEvent* event) {
  int keyCode = KeyCodeOf(*event);
  const int shift = ShiftOf(*event);
  Form_KeyDown(keyCode, shift);
  if (keyCode == kKeyF12) return true;

  void (Form1::*keyPress)(int&) = nullptr;
  if (control == c_.File1) {
    file1_->File1_KeyDown(keyCode, shift);
  } else if (control == c_.Check1) {
    Check1_KeyDown(keyCode, shift);
    keyPress = &Form1::Check1_KeyPress;
  } else if (control == c_.Command1) {
    Command1_KeyDown(keyCode, shift);
    keyPress = &Form1::Command1_KeyPress;
  } else if (control == c_.Command2) {
    Command2_KeyDown(keyCode, shift);
    keyPress = &Form1::Command2_KeyPress;
  } else if (control == c_.Text3) {
    Text3_KeyDown(keyCode, shift);
    keyPress = &Form1::Text3_KeyPress;
  } else if (control == c_.Command3 || control == c_.Command4) {
    // Enter presses the focused button as Space does; with Ctrl or Alt it is no Enter.
    if (keyCode != kKeyEnter || (shift & (kCtrlMask | kAltMask)) != 0) return false;
    static_cast<QPushButton*>(control)->click();
    return true;
  } else {
    return false;  // the other controls keep the toolkit's own handling
  }

  int keyAscii = KeyAsciiOf(*event);
  if (keyAscii == 0) return false;
  if (control == c_.File1)
    File1Handlers::File1_KeyPress(keyAscii);
  else
    (this->*keyPress)(keyAscii);
  return keyAscii == 0;
}

bool Form1::DispatchMouseRelease(QObject* watched, QMouseEvent* event) {
  if (watched == c_.Label4 && IsLeftClickInside(c_.Label4, event))
    Label4_Click();
  else if (watched == c_.Text1->viewport() && IsLeftClickInside(c_.Text1->viewport(), event))
    Text1_Click();
  else if (watched == c_.Text2 && IsLeftClickInside(c_.Text2, event))
    Text2_Click();
  return false;
}

void Form1::Form_KeyDown(int& keyCode, int) {
  if (keyCode == kKeyF12) Command2_Click();
}

void Form1::Check1_KeyDown(int& keyCode, int shift) {
  if (keyCode == kKeyTab) keyCode = kKeyEnter;
  if (keyCode == kKeyEnter && shift == 0) {
    SetFocus(Check1Value() == 1 ? Control::Text3 : Control::File1);
  } else if (keyCode == kKeyEnter && shift == kShiftMask) {
    SetFocus(Control::File1);
  }
}

void Form1::Command1_KeyDown(int& keyCode, int shift) {
  if (keyCode == kKeyTab && shift == 0) {
    SetFocus(Control::Command2);
  } else if (keyCode == kKeyTab && shift == kShiftMask) {
    SetFocus(Control::File1);
  }
  if (keyCode == kKeyEnter && shift == 0) {
    Command1_Click();
  } else if (keyCode == kKeyEnter && shift == kShiftMask) {
    SetFocus(Control::File1);
  }
}

void Form1::Command2_KeyDown(int& keyCode, int shift) {
  const Control back = c_.Command1->isEnabled() ? Control::Command1 : Control::File1;
  if (keyCode == kKeyTab && shift == 0) {
    SetFocus(Control::Command2);
  } else if (keyCode == kKeyTab && shift == kShiftMask) {
    SetFocus(back);
  }
  if (keyCode == kKeyEnter && shift == 0) {
    Command2_Click();
  } else if (keyCode == kKeyEnter && shift == kShiftMask) {
    SetFocus(back);
  }
}

void Form1::Text3_KeyDown(int& keyCode, int shift) {
  if (keyCode == kKeyTab) keyCode = kKeyEnter;
  if (keyCode == kKeyEnter && shift == 0) {
    SetFocus(c_.Command1->isEnabled() ? Control::Command1 : Control::File1);
  } else if (keyCode == kKeyEnter && shift == kShiftMask) {
    SetFocus(Control::Check1);
  }
}

void Form1::Check1_KeyPress(int& keyAscii) {
  DiscardTabAndEnter(keyAscii);
}

void Form1::Command1_KeyPress(int& keyAscii) {
  DiscardTabAndEnter(keyAscii);
}

void Form1::Command2_KeyPress(int& keyAscii) {
  DiscardTabAndEnter(keyAscii);
}

void Form1::Text3_KeyPress(int& keyAscii) {
  DiscardTabAndEnter(keyAscii);
}

void Form1::Text1_Click() {
  SetFocus(LoadedLogControl());
}

void Form1::Text2_Click() {
  SetFocus(LoadedLogControl());
}

Control Form1::LoadedLogControl() const {
  // After a load that failed to read, the name is shown but Change and Save is still off and
  // cannot take the focus: the list gets it, to pick a log again.
  return !Text2().isEmpty() && c_.Command1->isEnabled() ? Control::Command1 : Control::File1;
}

void Form1::Text3_GotFocus() {
  c_.Text3->setSelection(0, static_cast<int>(Text3().size()));
}

}  // namespace parlotrim
