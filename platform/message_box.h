// Window services that the window asks of the platform: modal message boxes, the system beep
// and the application-wide busy pointer. Tests inject a scripted implementation.
#pragma once

#include <QString>

class QWidget;

namespace parlotrim {

// Message box button codes and results.
inline constexpr int vbOKOnly = 0;
inline constexpr int vbOKCancel = 1;
inline constexpr int vbOK = 1;
inline constexpr int vbCancel = 2;

// Mouse pointer codes.
inline constexpr int vbDefault = 0;
inline constexpr int vbHourglass = 11;

class WindowServices {
 public:
  virtual ~WindowServices() = default;
  // buttons: 0 OK only, 1 OK and Cancel with OK the default. Returns 1 for OK, 2 otherwise
  // (Cancel, Esc, the close box). No icon. CR LF in prompt is a line break.
  virtual int MsgBox(QWidget* parent, const QString& prompt, int buttons, const QString& title) = 0;
  virtual void Beep() = 0;
  // 11 shows the application-wide hourglass, 0 restores the default pointer.
  virtual void SetMousePointer(int code) = 0;
};

}  // namespace parlotrim
