// Rewriting a log in place, safely: the steps behind FileStore::RewriteLog, and the finishing
// of a rewrite that a crash cut short.
#pragma once

#include <QByteArray>

#include "platform/file_store.h"
#include "platform/file_util.h"
#include "platform/posix_calls.h"

namespace parlotrim {

// What is left to do once a rewrite can be told complete: the new content is in the log and
// safe in its synced copy, so the log's own sync and the copy's removal may wait until the
// user has read the news. Finish does them; a crash before leaves the copy, from which the next
// read finishes the rewrite.
struct Tidying {
  files::Fd log;        // the rewritten log, to sync
  QByteArray copy;      // its copy, removed once the log is synced
  QByteArray folder;    // where the copy lies
  files::Fd lingering;  // a replaced file: freeing its space waits for this to close
  void Finish(PosixCalls& calls);
};

// later, where given, takes the last steps of the rewrite instead of doing them at once.
FileResult RewriteInPlace(PosixCalls& calls, const QByteArray& folder, const QByteArray& name,
                          const FileStore::BlockSink& sink, const FileStore::Producer& produce,
                          Tidying* later = nullptr);

// Finishes an interrupted rewrite of the log folder + name, or of every log of folder when name
// is empty. A log that cannot be finished now (another program has it open) fails to read.
FileResult FinishInterruptedRewrite(PosixCalls& calls, const QByteArray& folder,
                                    const QByteArray& name);

// Where the bytes that other programs appended to a log after a crash begin, for a rewrite
// from oldSize to newSize bytes that left its copy named as complete but not yet as "sized":
// the log's length changed, or not, and its first bytes are the old ones. oldTail holds the
// old bytes from newSize to oldSize; fileBytes(from, size) reads the log as it is now.
qint64 AppendedFrom(qint64 oldSize, qint64 newSize, QByteArrayView oldTail, qint64 fileSize,
                    const std::function<QByteArray(qint64, qint64)>& fileBytes);

}  // namespace parlotrim
