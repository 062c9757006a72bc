// Rewriting a log in place on Windows, safely: the steps behind FileStore::RewriteLog, and the
// finishing of a rewrite that a crash cut short.
#pragma once

#include <QString>

#include "platform/file_store.h"
#include "platform/win32/win_files.h"

namespace parlotrim {

// What is left once a rewrite can be told complete: syncing the log once more and removing its
// copy, which may wait until the user has read the news. Finish does them; a crash before
// leaves the copy, from which the next read finishes the rewrite.
struct Tidying {
  QString log;     // the rewritten log, to sync
  QString copy;    // its copy, removed once the log is synced
  void Finish(Win32Calls& calls);
};

FileResult RewriteInPlace(Win32Calls& calls, const QString& folder, const QString& name,
                          const FileStore::BlockSink& sink, const FileStore::Producer& produce,
                          Tidying* later = nullptr);

// Finishes an interrupted rewrite of the log folder + name, or of every log of folder when name
// is empty. A log that cannot be finished now fails to read.
FileResult FinishInterruptedRewrite(Win32Calls& calls, const QString& folder, const QString& name);

}  // namespace parlotrim
