// The program's one window. Form1 builds its controls, runs the start-up sequence, and routes
// every user action to the handler named after its control and event; the log operations
// reach the controls back through LogWindow.
#pragma once

#include <QWidget>
#include <memory>

#include "core/file1_handlers.h"
#include "core/log_operations.h"
#include "core/log_window.h"
#include "core/module1.h"
#include "platform/file_store.h"
#include "platform/message_box.h"
#include "ui/form1_controls.h"

namespace parlotrim {

class Form1 : public QWidget, public LogWindow {
  Q_OBJECT

 public:
  // programFolder is the folder of the executable; the logs are its "*.txt" files.
  Form1(WindowServices& services, FileStore& files, const NativeName& programFolder,
        QWidget* parent = nullptr);
  ~Form1() override;

  const NativeName& LogFolder() const { return logFolder_; }
  qint16 IgnoreFileClick() const { return file1_->IgnoreFileClick(); }
  const Form1Controls& Controls() const { return c_; }

  // LogWindow.
  int MsgBox(const QString& prompt, int buttons, const QString& title) override;
  void Beep() override;
  void SetMousePointer(int code) override;
  NativeName File1FileName() const override;
  NativeName Text2() const override;
  void SetText2(const NativeName& name) override;
  void SetText1(const QByteArray& workingText, LogEncoding encoding) override;
  void SetIndexedText1(const QByteArray& workingText, LogEncoding encoding,
                       LineIndex index) override;
  int Check1Value() const override;
  QString Text3() const override;
  void SetLabel6(const QString& caption, quint32 colour) override;
  void SetEnabled(Control control, bool enabled) override;
  void SetFocus(Control control) override;

  // Handlers.
  void Form_Load();
  void Check1_Click();
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();
  void Command4_Click();
  void Label4_Click();

  // Keys (key-down with key code and modifier mask, key-press with the typed character).
  void Form_KeyDown(int& keyCode, int shift);
  void Check1_KeyDown(int& keyCode, int shift);
  void Command1_KeyDown(int& keyCode, int shift);
  void Command2_KeyDown(int& keyCode, int shift);
  void Text3_KeyDown(int& keyCode, int shift);
  void Check1_KeyPress(int& keyAscii);
  void Command1_KeyPress(int& keyAscii);
  void Command2_KeyPress(int& keyAscii);
  void Text3_KeyPress(int& keyAscii);
  void Text1_Click();
  void Text2_Click();
  void Text3_GotFocus();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void ConnectControls();
  void PlaceWindow();
  QWidget* Widget(Control control) const;
  // Where a click in the text window or the file-name box sends the focus: Change and Save
  // once a log is loaded, else the file list.
  Control LoadedLogControl() const;
  // Runs the window's and then the control's key handlers for a key pressed in control;
  // true when the key is used up and the control must not see it.
  bool DispatchKey(QWidget* control, QKeyEvent* event);
  bool DispatchMouseRelease(QObject* watched, QMouseEvent* event);

  WindowServices& services_;
  FileStore& files_;
  const NativeName programFolder_;
  Module1 module_;
  NativeName logFolder_;
  NativeName text2Name_;  // the name the file-name box shows
  Form1Controls c_;
  std::unique_ptr<LogOperations> operations_;
  std::unique_ptr<File1Handlers> file1_;
  bool file1LostFocusLast_ = false;  // the list is the last control of the window to lose focus
};

}  // namespace parlotrim
