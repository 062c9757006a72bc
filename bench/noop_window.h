// A window that does nothing: every message box is answered with OK, the file list always has
// the log selected, and the working text handed over is kept (so that building it cannot be
// optimised away and its memory counts). A box titled "Err:" marks the run as failed.
#pragma once

#include <QByteArray>
#include <QString>
#include <utility>

#include "core/log_window.h"

namespace parlotrim::bench {

class NoopWindow : public LogWindow {
 public:
  explicit NoopWindow(NativeName logName) : logName_(logName), text2_(std::move(logName)) {}

  int MsgBox(const QString& prompt, int, const QString& title) override {
    if (title.startsWith(QStringLiteral("Err:")) && !failed) {
      failed = true;
      failure = title + QStringLiteral(": ") + prompt;
    }
    return vbOK;
  }
  void Beep() override {}
  void SetMousePointer(int) override {}
  NativeName File1FileName() const override { return logName_; }
  NativeName Text2() const override { return text2_; }
  void SetText2(const NativeName& name) override { text2_ = name; }
  void SetText1(const QByteArray& workingText, LogEncoding) override { text1 = workingText; }
  int Check1Value() const override { return check1; }
  QString Text3() const override { return text3; }
  void SetLabel6(const QString&, quint32) override {}
  void SetEnabled(Control, bool) override {}
  void SetFocus(Control) override {}

  QByteArray text1;  // the last working text handed over
  int check1 = 0;
  QString text3;
  bool failed = false;
  QString failure;  // title and prompt of the first "Err:" box

 private:
  NativeName logName_;
  NativeName text2_;
};

}  // namespace parlotrim::bench
