// Window services for tests: message boxes answer from a script and are recorded, the beep is
// counted and the pointer is remembered, so a test can drive the real Form1 without a modal
// box ever appearing.
#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <vector>

#include "platform/message_box.h"

namespace parlotrim::testing {

struct ShownBox {
  QString prompt;
  int buttons = 0;
  QString title;
};

class ScriptedServices : public WindowServices {
 public:
  int MsgBox(QWidget* parent, const QString& prompt, int buttons, const QString& title) override;
  void Beep() override { ++beeps; }
  void SetMousePointer(int code) override { pointer = code; }

  // Answers for the next boxes, in order; a box with none left answers OK (1).
  std::deque<int> answers;
  // Runs while a box is up (to look at the window as the user sees it then).
  std::function<void(const ShownBox&)> onBox;
  std::vector<ShownBox> boxes;
  int beeps = 0;
  int pointer = 0;
};

}  // namespace parlotrim::testing
