// The crash table: a rewrite killed at every phase and in the midst of writing the log, and
// the next start killed once more while it finishes it, on a temporary folder or on a real file
// system that is mounted again after each crash. Also what the fault tests share on files.
#pragma once

#include <QByteArray>
#include <QFile>
#include <functional>

#include "tests/fault/fault_support.h"

namespace parlotrim::testing {

struct CrashDisk {
  QByteArray parent;  // the folder in which the logs lie; empty: a temporary folder
  std::function<bool()> remount = [] { return true; };  // between a crash and the next start
  // A real file system, which may fail a write for real, and after a remount may not let a
  // copy be matched with certainty (the load then refuses, and says so).
  bool real = false;
};
void RunCrashTable(const CrashDisk& disk);

inline QString Path(const LogFolder& f, const NativeName& name) {
#ifdef Q_OS_WIN
  return f.file(name);
#else
  return QFile::decodeName(f.file(name));
#endif
}

// Much later: every file's last write dated back by an hour. What a dead process left behind
// is stale once untouched for ten minutes.
void AgeAll(const LogFolder& f);

}  // namespace parlotrim::testing
