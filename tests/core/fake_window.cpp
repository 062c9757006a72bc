#include "tests/core/fake_window.h"

namespace parlotrim::testing {

const char* ControlName(Control control) {
  switch (control) {
    case Control::File1: return "File1";
    case Control::Text2: return "Text2";
    case Control::Text1: return "Text1";
    case Control::Command1: return "Command1";
    case Control::Command3: return "Command3";
    case Control::Command2: return "Command2";
    case Control::Command4: return "Command4";
    case Control::Check1: return "Check1";
    case Control::Text3: return "Text3";
  }
  return "?";
}

int FakeWindow::MsgBox(const QString& prompt, int buttons, const QString& title) {
  int answer = vbOK;
  if (buttons == vbOKCancel && !answers.empty()) {
    answer = answers.front();
    answers.pop_front();
  }
  boxes.emplace_back(prompt, title);
  calls.push_back("MsgBox " + title.toStdString() + " " + std::to_string(buttons) + " -> " +
                  std::to_string(answer));
  return answer;
}

void FakeWindow::Beep() { calls.push_back("Beep"); }

void FakeWindow::SetMousePointer(int code) {
  pointer = code;
  calls.push_back("Pointer " + std::to_string(code));
}

void FakeWindow::SetText2(const QString& name) {
  text2 = name;
  calls.push_back("Text2 " + name.toStdString());
}

void FakeWindow::SetText1(const QByteArray& workingText) {
  text1 = workingText;
  calls.push_back(workingText.isEmpty() ? "Text1 empty" : "Text1 set");
}

void FakeWindow::SetLabel6(const QString& caption, quint32 colour) {
  label6 = caption;
  label6Colour = colour;
  calls.push_back("Label6 " + caption.toStdString() + " " + std::to_string(colour));
}

void FakeWindow::SetEnabled(Control control, bool enabled) {
  if (control == Control::Command1) command1Enabled = enabled;
  if (control == Control::Command3) command3Enabled = enabled;
  calls.push_back(std::string(enabled ? "Enable " : "Disable ") + ControlName(control));
}

void FakeWindow::SetFocus(Control control) {
  calls.push_back(std::string("Focus ") + ControlName(control));
}

}  // namespace parlotrim::testing
