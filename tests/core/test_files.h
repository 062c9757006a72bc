// Files for tests: a temporary log folder, and reading and writing bytes.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace parlotrim::testing {

class LogFolder {
 public:
  LogFolder();
  // The folder, ending with the separator, as the program forms it.
  QString path() const;
  QString file(const QString& name) const { return path() + name; }
  void write(const QString& name, const QByteArray& bytes) const;
  QByteArray read(const QString& name) const;
  // Names of the entries in the folder, sorted.
  QStringList entries() const;

 private:
  QTemporaryDir dir_;
};

}  // namespace parlotrim::testing
