// A Form1 on a temporary log folder with scripted window services: message boxes are answered
// OK and recorded, so a test drives the real window without a modal box ever appearing.
#pragma once


#include <QTest>
#include <memory>

#include "platform/file_store.h"
#include "platform/message_box.h"
#include "tests/core/test_files.h"
#include "ui/form1.h"

namespace parlotrim::testing {

struct ScriptedServices : WindowServices, BoxLog {
  int MsgBox(QWidget*, const QString& prompt, int buttons, const QString& title) override {
    return Show(prompt, buttons, title);
  }
  void Beep() override {}
  void SetMousePointer(int) override {}
};

class FormFixture {
 public:
  // logs: name and bytes of each file put in the folder before the window starts; real: other
  // window services than the scripted ones; within: a folder inside the temporary one, where
  // the program (and so its logs) lies.
  explicit FormFixture(std::initializer_list<std::pair<NativeName, QByteArray>> logs = {},
                       WindowServices* real = nullptr, const NativeName& within = {}) {
    if (!within.isEmpty()) folder.mkdir(within);
    for (const auto& [name, bytes] : logs) folder.write(within + name, bytes);
    form_ =
        std::make_unique<Form1>(real ? *real : services, files_,
                                within.isEmpty() ? folder.path().chopped(1) : folder.file(within));
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
  SystemCalls disk_;
  FileStore files_{disk_};
  std::unique_ptr<Form1> form_;
};

}  // namespace parlotrim::testing
