#include "form_fixture.h"

#include <QDir>
#include <QFile>
#include <QTest>

namespace parlotrim::testing {

FormFixture::FormFixture(std::initializer_list<std::pair<QString, QByteArray>> logs) {
  for (const auto& [name, bytes] : logs) {
    QFile file(dir_.filePath(name));
    if (file.open(QIODevice::WriteOnly)) file.write(bytes);
  }
  form_ = std::make_unique<Form1>(services, files_, dir_.path());
}

FormFixture::~FormFixture() = default;

QByteArray FormFixture::read(const QString& name) const {
  QFile file(dir_.filePath(name));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList FormFixture::entries() const {
  return QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::Name);
}

bool FormFixture::show() {
  form_->show();
  return QTest::qWaitForWindowActive(form_.get());
}

QStringList Titles(const ScriptedServices& services) {
  QStringList titles;
  for (const ShownBox& box : services.boxes) titles << box.title;
  return titles;
}

}  // namespace parlotrim::testing
