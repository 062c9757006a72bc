// A scripted LogWindow: answers message boxes from a queue and keeps what the user would see.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

#include "core/log_window.h"

namespace parlotrim::testing {

struct Box {
  QString title, prompt;
  int buttons = vbOKOnly, pointer = vbDefault;  // the pointer while the box was up
};

// The message boxes a scripted window has shown, answered from a queue.
struct BoxLog {
  int Show(const QString& prompt, int buttons, const QString& title, int pointer = vbDefault) {
    boxes.push_back({title, prompt, buttons, pointer});
    if (onBox) onBox(boxes.back());
    if (buttons != vbOKCancel || answers.empty()) return vbOK;
    const int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  QStringList Titles() const {
    QStringList titles;
    for (const Box& box : boxes) titles << box.title;
    return titles;
  }

  std::deque<int> answers;  // for the next OK/Cancel boxes, in order; none left answers OK
  std::function<void(const Box&)> onBox;  // runs while the box is up
  std::vector<Box> boxes;
};

class FakeWindow : public LogWindow, public BoxLog {
 public:
  int MsgBox(const QString& prompt, int buttons, const QString& title) override {
    return Show(prompt, buttons, title, pointer);
  }
  void Beep() override { ++beeps; }
  void SetMousePointer(int code) override { pointer = code; }
  NativeName File1FileName() const override { return selected; }
  NativeName Text2() const override { return text2; }
  void SetText2(const NativeName& name) override { text2 = name; }
  void SetText1(const QByteArray& workingText, LogEncoding encoding) override {
    text1 = workingText;
    text1Encoding = encoding;
  }
  int Check1Value() const override { return check1; }
  QString Text3() const override { return text3; }
  void SetLabel6(const QString& caption, quint32 colour) override {
    label6 = caption;
    label6Colour = colour;
  }
  void SetEnabled(Control control, bool enabled) override {
    if (control == Control::Command1) command1Enabled = enabled;
    if (control == Control::Command3) command3Enabled = enabled;
  }
  void SetFocus(Control control) override { focus = control; }

  NativeName selected, text2;
  QByteArray text1;
  LogEncoding text1Encoding = LogEncoding::Ansi;
  QString text3, label6;
  quint32 label6Colour = 0;
  bool command1Enabled = false, command3Enabled = false;
  int check1 = 0, pointer = vbDefault, beeps = 0;
  Control focus = Control::File1;
};

}  // namespace parlotrim::testing
