// A Form1 on a temporary log folder, shown and active, with scripted message boxes; and small
// helpers to reach its controls by name and to write and read logs.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <initializer_list>
#include <memory>

#include "platform/file_store.h"
#include "scripted_services.h"
#include "ui/form1.h"

namespace parlotrim::testing {

class FormFixture {
 public:
  // logs: file name and bytes of each file to put in the folder before the window starts.
  explicit FormFixture(std::initializer_list<std::pair<QString, QByteArray>> logs = {});
  ~FormFixture();

  Form1& form() { return *form_; }
  const Form1Controls& c() const { return form_->Controls(); }
  QString folder() const { return dir_.path() + QLatin1Char('/'); }
  QByteArray read(const QString& name) const;
  // Names in the folder, sorted.
  QStringList entries() const;
  // Shows the window and waits until it is active; false when it never became active.
  bool show();

  ScriptedServices services;

 private:
  QTemporaryDir dir_;
  DiskFileStore files_;
  std::unique_ptr<Form1> form_;
};

// The file names and titles of the boxes shown, for comparing a whole conversation at once.
QStringList Titles(const ScriptedServices& services);

}  // namespace parlotrim::testing
