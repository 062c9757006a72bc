#include "scripted_services.h"

namespace parlotrim::testing {

int ScriptedServices::MsgBox(QWidget*, const QString& prompt, int buttons, const QString& title) {
  boxes.push_back({prompt, buttons, title});
  if (onBox) onBox(boxes.back());
  if (answers.empty()) return 1;
  const int answer = answers.front();
  answers.pop_front();
  return answer;
}

}  // namespace parlotrim::testing
