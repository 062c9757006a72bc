#include "tests/core/test_files.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "core/texts.h"
#include "platform/code_page.h"

namespace parlotrim::testing {

LogFolder::LogFolder(const QByteArray& parent)
    : dir_(parent.isEmpty() ? QString()
                            : QFile::decodeName(parent) + QStringLiteral("/log-XXXXXX")) {
  if (!dir_.isValid()) throw std::runtime_error("no temporary folder");
}

#ifdef Q_OS_WIN
LogFolder::~LogFolder() {
  run("attrib -r -h -s /s /d * >nul 2>nul");  // read-only files stay behind a plain removal
}

QString LogFolder::path() const {
  return QDir::toNativeSeparators(dir_.path()) + u'\\';
}

void LogFolder::write(const QString& name, const QByteArray& bytes) const {
  QFile file(this->file(name));
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
    throw std::runtime_error("cannot write test file " + file.fileName().toStdString() + ": " +
                             file.errorString().toStdString());
}

QByteArray LogFolder::read(const QString& name) const {
  QFile file(this->file(name));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QList<QString> LogFolder::entries(const QString& within) const {
  QList<QString> names = QDir(within.isEmpty() ? dir_.path() : file(within)).entryList(
      QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
  std::sort(names.begin(), names.end());
  return names;
}

bool LogFolder::mkdir(const QString& name) const {
  return QDir().mkdir(file(name));
}

bool LogFolder::remove(const QString& name) const {
  return QFile::remove(file(name));
}

NativeName NameOf(const QString& shown) {
  return shown;
}

bool LogFolder::run(const QByteArray& command) const {
  return std::system("cd /d \"" + path().toLocal8Bit() + "\" && " + command) == 0;
}
#else
LogFolder::~LogFolder() {
  run("find . -mindepth 1 -delete");  // also names that are no UTF-8
}

QByteArray LogFolder::path() const {
  return QFile::encodeName(dir_.path()) + '/';
}

void LogFolder::write(const QByteArray& name, const QByteArray& bytes) const {
  files::Fd fd(::open(file(name).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.valid() || ::write(fd.get(), bytes.constData(), size_t(bytes.size())) != bytes.size())
    throw std::runtime_error("cannot write test file");
}

QByteArray LogFolder::read(const QByteArray& name) const {
  files::Fd fd(::open(file(name).constData(), O_RDONLY | O_CLOEXEC));
  QByteArray bytes;
  char buffer[1 << 16];
  for (ssize_t n; fd.valid() && (n = ::read(fd.get(), buffer, sizeof buffer)) > 0;)
    bytes.append(buffer, n);
  return fd.valid() ? bytes : QByteArray("<missing>");
}

QList<QByteArray> LogFolder::entries(const QByteArray& within) const {
  QList<QByteArray> names = files::FolderEntries(within.isEmpty() ? path() : file(within));
  std::sort(names.begin(), names.end());
  return names;
}

bool LogFolder::mkdir(const QByteArray& name) const {
  return ::mkdir(file(name).constData(), 0755) == 0;
}

bool LogFolder::remove(const QByteArray& name) const {
  return ::unlink(file(name).constData()) == 0;
}

NativeName NameOf(const QString& shown) {
  return EncodeCodePage(shown);
}

bool LogFolder::run(const QByteArray& command) const {
  return std::system("cd '" + path() + "' && " + command) == 0;
}
#endif

bool Session::Load(const NativeName& name, bool clean) {
  FileStore files(disk);
  window.selected = name;
  window.answers = {clean ? vbOK : vbCancel, clean ? vbOK : vbCancel};
  LogOperations(window, files, folder.path(), module).LoadSequence();
  return window.focus == Control::Command1;
}

bool Session::Run(Op op, SystemCalls* calls) {
  FileStore files(calls ? *calls : disk);
  LogOperations ops(window, files, folder.path(), module);
  window.boxes.clear();
  (ops.*(op == Op::Change ? &LogOperations::Command1_Click : &LogOperations::Command3_Click))();
  return !window.boxes.empty() && window.boxes.back().title == texts::kCompleteTitle;
}

}  // namespace parlotrim::testing
