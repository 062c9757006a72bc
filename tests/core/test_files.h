// A temporary log folder, its files as bytes, and a scripted window with the log operations to
// run in it.
#pragma once

#include <QByteArray>
#include <QList>
#include <QTemporaryDir>

#include "core/log_operations.h"
#include "tests/core/fake_window.h"
#ifndef Q_OS_WIN
#include "platform/file_util.h"
#endif

namespace parlotrim::testing {

class LogFolder {
 public:
  explicit LogFolder(const QByteArray& parent = {});  // inside parent, or the temporary folder
  ~LogFolder();
  NativeName path() const;  // ends with the separator, as the program forms it
  NativeName file(const NativeName& name) const { return path() + name; }
  void write(const NativeName& name, const QByteArray& bytes) const;
  QByteArray read(const NativeName& name) const;  // "<missing>" when it cannot be read
  QList<NativeName> entries(const NativeName& within = {}) const;  // sorted
  bool mkdir(const NativeName& name) const;
  bool remove(const NativeName& name) const;
  bool run(const QByteArray& command) const;  // a shell command in the folder; true if it did

 private:
  QTemporaryDir dir_;
};

// A name as a Windows user gave it: its Shift JIS bytes on a POSIX system, itself on Windows.
NativeName NameOf(const QString& shown);

enum class Op { Change, Html };

struct Session {
  explicit Session(const QByteArray& parent = {}) : folder(parent) {}  // its folder inside parent

  LogFolder folder;
  FakeWindow window;
  Module1 module;
  SystemCalls disk;

  // Loads name; clean answers OK to both questions. True when the load completed.
  bool Load(const NativeName& name, bool clean = false);
  // Runs op on the disk, or on calls where given. True when it told of completion.
  bool Run(Op op, SystemCalls* calls = nullptr);
};

}  // namespace parlotrim::testing
