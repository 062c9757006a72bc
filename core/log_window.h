// The few window operations that the log operations use. Form1 implements it; tests use a
// scripted fake. Nothing in core/ touches a widget except through this interface.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include "core/line_index.h"
#include "core/log_encoding.h"
#include "platform/message_box.h"
#include "platform/native_name.h"

namespace parlotrim {

// Controls of Form1 that the operations address (names as in the window).
enum class Control { File1, Text2, Text1, Command1, Command3, Command2, Command4, Check1, Text3 };

// Colours as 0x00BBGGRR.
inline constexpr quint32 kColourRed = 0x000000FFu;
inline constexpr quint32 kColourBlue = 0x00FF0000u;

class LogWindow {
 public:
  virtual ~LogWindow() = default;

  // Modal message box: buttons vbOKOnly or vbOKCancel (OK is the default), no icon. Returns
  // vbOK, or vbCancel however else the box was closed. Line breaks in prompt are CR LF.
  virtual int MsgBox(const QString& prompt, int buttons, const QString& title) = 0;
  virtual void Beep() = 0;
  // Application-wide pointer: vbHourglass or vbDefault.
  virtual void SetMousePointer(int code) = 0;

  // Bare name of the entry selected in File1, as the file system holds it; empty when
  // none is selected.
  virtual NativeName File1FileName() const = 0;
  // The name that the file-name box shows (the box shows it decoded).
  virtual NativeName Text2() const = 0;
  // Sets the file-name box and repaints it at once.
  virtual void SetText2(const NativeName& name) = 0;
  // Replaces the working text. The bytes are the log's own, in its encoding; the window
  // decodes them only for display.
  virtual void SetText1(const QByteArray& workingText,
                        LogEncoding encoding = LogEncoding::Ansi) = 0;
  // The same, with the index of its lines made already (as a load makes it), which the window
  // would otherwise make from the text.
  virtual void SetIndexedText1(const QByteArray& workingText, LogEncoding encoding, LineIndex) {
    SetText1(workingText, encoding);
  }
  // Tick state of Check1: 1 ticked, 0 not.
  virtual int Check1Value() const = 0;
  virtual QString Text3() const = 0;
  virtual void SetLabel6(const QString& caption, quint32 colour) = 0;
  virtual void SetEnabled(Control control, bool enabled) = 0;
  virtual void SetFocus(Control control) = 0;
};

}  // namespace parlotrim
