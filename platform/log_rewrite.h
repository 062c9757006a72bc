// Rewriting a log in place, safely: the steps behind FileStore::RewriteLog, and the finishing
// of a rewrite that a crash cut short.
#pragma once

#include <QByteArray>

#include "platform/file_store.h"
#include "platform/posix_calls.h"

namespace parlotrim {

FileResult RewriteInPlace(PosixCalls& calls, const QByteArray& folder, const QByteArray& name,
                          const FileStore::BlockSink& sink, const FileStore::Producer& produce);

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
