// A scripted LogWindow: answers message boxes from a queue and records every call as a line of
// text, so a test can compare the whole conversation with the window in one assertion.
#pragma once

#include <QByteArray>
#include <QString>
#include <deque>
#include <string>
#include <vector>

#include "core/log_window.h"

namespace parlotrim::testing {

class FakeWindow : public LogWindow {
 public:
  int MsgBox(const QString& prompt, int buttons, const QString& title) override;
  void Beep() override;
  void SetMousePointer(int code) override;
  QString File1FileName() const override { return selected; }
  QString Text2() const override { return text2; }
  void SetText2(const QString& name) override;
  void SetText1(const QByteArray& workingText) override;
  int Check1Value() const override { return check1; }
  QString Text3() const override { return text3; }
  void SetLabel6(const QString& caption, quint32 colour) override;
  void SetEnabled(Control control, bool enabled) override;
  void SetFocus(Control control) override;

  // Answers for the next message boxes, in order; a box with none left answers OK.
  std::deque<int> answers;
  // Window state.
  QString selected;
  QString text2;
  QByteArray text1;
  int check1 = 0;
  QString text3;
  QString label6;
  quint32 label6Colour = 0;
  bool command1Enabled = false;
  bool command3Enabled = false;
  int pointer = vbDefault;
  // Everything that happened, one entry per call (text1 changes are noted by size only).
  std::vector<std::string> calls;
  // The prompts and titles of the message boxes shown, in order.
  std::vector<std::pair<QString, QString>> boxes;
};

const char* ControlName(Control control);

}  // namespace parlotrim::testing
