#include "tests/core/test_files.h"

#include <QDir>
#include <QFile>
#include <stdexcept>

namespace parlotrim::testing {

LogFolder::LogFolder() {
  if (!dir_.isValid()) throw std::runtime_error("no temporary folder");
}

QString LogFolder::path() const { return dir_.path() + QLatin1Char('/'); }

void LogFolder::write(const QString& name, const QByteArray& bytes) const {
  QFile f(file(name));
  if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
    throw std::runtime_error("cannot write test file");
}

QByteArray LogFolder::read(const QString& name) const {
  QFile f(file(name));
  if (!f.open(QIODevice::ReadOnly)) return QByteArray("<missing>");
  return f.readAll();
}

QStringList LogFolder::entries() const {
  return QDir(dir_.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                         QDir::NoDotAndDotDot,
                                     QDir::Name);
}

}  // namespace parlotrim::testing
