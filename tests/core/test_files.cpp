#include "tests/core/test_files.h"

#include <QFile>
#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "core/texts.h"
#include "platform/file_util.h"

namespace parlotrim::testing {

LogFolder::LogFolder() {
  if (!dir_.isValid()) throw std::runtime_error("no temporary folder");
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

QList<QByteArray> LogFolder::entries() const {
  QList<QByteArray> names = files::FolderEntries(path());
  std::sort(names.begin(), names.end());
  return names;
}

bool LogFolder::run(const QByteArray& command) const {
  return std::system("cd '" + path() + "' && " + command) == 0;
}

bool Session::Load(const QByteArray& name, bool clean) {
  FileStore files(disk);
  window.selected = name;
  window.answers = {clean ? vbOK : vbCancel, clean ? vbOK : vbCancel};
  LogOperations(window, files, folder.path(), module).LoadSequence();
  return window.focus == Control::Command1;
}

bool Session::Run(Op op, PosixCalls* calls) {
  FileStore files(calls ? *calls : disk);
  LogOperations ops(window, files, folder.path(), module);
  window.boxes.clear();
  (ops.*(op == Op::Change ? &LogOperations::Command1_Click : &LogOperations::Command3_Click))();
  return !window.boxes.empty() && window.boxes.back().title == texts::kCompleteTitle;
}

}  // namespace parlotrim::testing
