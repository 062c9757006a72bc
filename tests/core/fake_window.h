// A scripted LogWindow: answers message boxes from a queue and keeps what the user would see.
#pragma once

#include <QByteArray>
#include <QString>
#include <deque>
#include <vector>

#include "core/log_window.h"

namespace parlotrim::testing {

struct Box {
  QString title;
  QString prompt;
  int pointer;  // the pointer while the box was up
};

class FakeWindow : public LogWindow {
 public:
  int MsgBox(const QString& prompt, int buttons, const QString& title) override;
  void Beep() override { ++beeps; }
  void SetMousePointer(int code) override { pointer = code; }
  QByteArray File1FileName() const override { return selected; }
  QByteArray Text2() const override { return text2; }
  void SetText2(const QByteArray& name) override { text2 = name; }
  void SetText1(const QByteArray& workingText) override { text1 = workingText; }
  int Check1Value() const override { return check1; }
  QString Text3() const override { return text3; }
  void SetLabel6(const QString& caption, quint32 colour) override;
  void SetEnabled(Control control, bool enabled) override;
  void SetFocus(Control control) override { focus = control; }

  QStringList Titles() const;

  std::deque<int> answers;  // for the next OK/Cancel boxes, in order; none left answers OK
  QByteArray selected;
  QByteArray text2;
  QByteArray text1;
  int check1 = 0;
  QString text3;
  QString label6;
  quint32 label6Colour = 0;
  bool command1Enabled = false;
  bool command3Enabled = false;
  int pointer = vbDefault;
  int beeps = 0;
  Control focus = Control::File1;
  std::vector<Box> boxes;
};

}  // namespace parlotrim::testing
