// A temporary log folder, its files as bytes, and a scripted window with the log operations to
// run in it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QTemporaryDir>

#include "core/log_operations.h"
#include "platform/file_util.h"
#include "tests/core/fake_window.h"

namespace parlotrim::testing {

class LogFolder {
 public:
  LogFolder();
  ~LogFolder() { run("find . -mindepth 1 -delete"); }  // also names that are no UTF-8
  QByteArray path() const;  // ends with the separator, as the program forms it
  QByteArray file(const QByteArray& name) const { return path() + name; }
  void write(const QByteArray& name, const QByteArray& bytes) const;
  QByteArray read(const QByteArray& name) const;  // "<missing>" when it cannot be read
  QList<QByteArray> entries() const;              // sorted
  bool run(const QByteArray& command) const;      // a shell command in the folder; true if it did

 private:
  QTemporaryDir dir_;
};

enum class Op { Change, Html };

struct Session {
  LogFolder folder;
  FakeWindow window;
  Module1 module;
  PosixCalls disk;

  // Loads name; clean answers OK to both questions. True when the load completed.
  bool Load(const QByteArray& name, bool clean = false);
  // Runs op on the disk, or on calls where given. True when it told of completion.
  bool Run(Op op, PosixCalls* calls = nullptr);
};

}  // namespace parlotrim::testing
