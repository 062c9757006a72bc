// The window services on Qt Widgets: message boxes, the system beep and the busy pointer.
#pragma once

#include "platform/message_box.h"

namespace parlotrim {

class QtWindowServices : public WindowServices {
 public:
  QtWindowServices() = default;
  QtWindowServices(const QtWindowServices&) = delete;
  QtWindowServices& operator=(const QtWindowServices&) = delete;
  ~QtWindowServices() override;

  // A modal box without icon. OK is the default button, so Enter answers OK; Esc and the
  // title bar's close box answer Cancel where there is one. When it closes, the window it
  // belongs to is active again, with the focus where it was.
  int MsgBox(QWidget* parent, const QString& prompt, int buttons, const QString& title) override;
  void Beep() override;
  // The busy pointer is one application-wide override, never stacked: setting it twice and
  // clearing it once leaves the ordinary pointer.
  void SetMousePointer(int code) override;

 private:
  bool busy_ = false;
};

}  // namespace parlotrim
