#include "tests/core/fake_window.h"

#include <QStringList>

namespace parlotrim::testing {

int FakeWindow::MsgBox(const QString& prompt, int buttons, const QString& title) {
  boxes.push_back({title, prompt, pointer});
  if (buttons != vbOKCancel || answers.empty()) return vbOK;
  const int answer = answers.front();
  answers.pop_front();
  return answer;
}

void FakeWindow::SetLabel6(const QString& caption, quint32 colour) {
  label6 = caption;
  label6Colour = colour;
}

void FakeWindow::SetEnabled(Control control, bool enabled) {
  if (control == Control::Command1) command1Enabled = enabled;
  if (control == Control::Command3) command3Enabled = enabled;
}

QStringList FakeWindow::Titles() const {
  QStringList titles;
  for (const Box& box : boxes) titles << box.title;
  return titles;
}

}  // namespace parlotrim::testing
