// A Form1 on a temporary log folder with scripted window services: message boxes are answered
// and recorded, so a test drives the real window without a modal box ever appearing.
#pragma once

#include <QStringList>
#include <QTest>
#include <functional>
#include <memory>
#include <vector>

#include "platform/file_store.h"
#include "platform/message_box.h"
#include "tests/core/test_files.h"
#include "ui/form1.h"

namespace parlotrim::testing {

struct ShownBox {
  QString prompt;
  int buttons = 0;
  QString title;
};

struct ScriptedServices : WindowServices {
  // Every box is answered OK, as Enter answers it.
  int MsgBox(QWidget*, const QString& prompt, int buttons, const QString& title) override {
    boxes.push_back({prompt, buttons, title});
    if (onBox) onBox(boxes.back());
    return 1;
  }
  void Beep() override {}
  void SetMousePointer(int) override {}
  QStringList Titles() const {  // of the boxes shown, to compare a whole conversation at once
    QStringList titles;
    for (const ShownBox& box : boxes) titles << box.title;
    return titles;
  }

  std::function<void(const ShownBox&)> onBox;  // runs while a box is up
  std::vector<ShownBox> boxes;
};

class FormFixture {
 public:
  // logs: name and bytes of each file put in the folder before the window starts; real: other
  // window services than the scripted ones.
  explicit FormFixture(std::initializer_list<std::pair<QByteArray, QByteArray>> logs = {},
                       WindowServices* real = nullptr) {
    for (const auto& [name, bytes] : logs) folder.write(name, bytes);
    form_ = std::make_unique<Form1>(real ? *real : services, files_, folder.path().chopped(1));
  }
  Form1& form() { return *form_; }
  const Form1Controls& c() const { return form_->Controls(); }
  bool show() {  // false when the window never became active
    form_->show();
    return QTest::qWaitForWindowActive(form_.get());
  }

  LogFolder folder;
  ScriptedServices services;

 private:
  PosixCalls disk_;
  FileStore files_{disk_};
  std::unique_ptr<Form1> form_;
};

}  // namespace parlotrim::testing
