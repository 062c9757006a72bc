// How a log is rewritten in place without ever being lost, on every system:
//
// 1. The log is opened for its rewrite: where another program has it open for writing, this is
//    refused, and a program that opens it later waits (a lease) or is refused (a share mode)
//    until the rewrite is done. Where the file system has no leases, the log is watched for
//    changes instead, and the rewrite stops if it changes before it is touched.
// 2. The log is read whole and the new content made.
// 3. The copy: a new file ".parlotrim-X.tmp" beside the log gets the new content, the old bytes
//    beyond its end, digests of the old bytes, the log's name, both sizes and what identifies
//    the log's file; it is synced and renamed to ".parlotrim-X.new", and the folder synced.
//    Only then do older copies of the log go (their removal must not reach the disk before the
//    new name does). Nothing has touched the log yet.
// 4. The log gets its new length (room for it made sure of first); a log that gets shorter
//    gets the new content and zeros up to its old length instead. It is synced, and the copy
//    renamed to ".parlotrim-X.sized" and the folder synced: the copy's name records that step.
// 5. A log that gets shorter is cut to its new length; any other gets the new content over its
//    first bytes. From here the rewrite is complete: its content is in the log, and safe in
//    the copy.
// 6. The log is synced and the copy removed; where the caller asks, only once the user has
//    been told (Tidying).
//
// The log is written in pieces that begin and end on 4 KiB boundaries, so that a write cut
// short leaves each 512-byte block of it old or new (rewrite_copy.h).
//
// A crash after step 3 leaves the copy, and the next read of the log finishes the rewrite from
// it, keeping whatever other programs have appended to the log since: the copy's name and the
// log's zeros, which no text holds, tell where those bytes begin, never bytes that another
// program could have written (rewrite_copy.h, AppendedFrom).
//
// A copy is applied only to its own log: the same file by its number on the volume where those
// last, and in every case a log whose first bytes are, block by block, the old or the new ones.
// A copy of a log that fails this is left alone with the log, and the load of the log says so;
// so is a copy that cannot be read, with every log of its folder.
#include "platform/log_rewrite.h"

#include <QElapsedTimer>
#include <algorithm>

namespace parlotrim {

namespace {

// A copy of a log's new content, named as complete.
struct Copy : CopyRecord, CopyName {
  NativeName log;  // the log's name, from the record
  NativeName path() const { return stem + AsciiName(sized ? ".sized" : ".new"); }
};

ReadAt Reader(RewriteFile& file, int* error = nullptr) {
  return [&file, error](qint64 at, qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    qint64 got = 0;
    int ignored = 0;
    if (!file.ReadAt(at, bytes.data(), size, &got, error ? error : &ignored)) return QByteArray();
    bytes.truncate(got);
    return bytes;
  };
}

FileResult Failed(RewriteFiles& files, FileResult::Failure failure, int error) {
  return FileResult::Failed(failure, files.Cause(error ? error : files.IoError()));
}

bool ReadCopy(RewriteFiles& files, const CopyName& name, Copy* copy) {
  static_cast<CopyName&>(*copy) = name;
  int error = 0;
  qint64 size = 0;
  const std::unique_ptr<RewriteFile> file = files.OpenToRead(copy->path(), &size, &error);
  return file && copy->Parse(size, Reader(*file)) && files.NameOfRecord(copy->name, &copy->log);
}

// The copies in folder of the log name (of every log, when name is empty); *unreadable, where
// given, gets the first copy that cannot be read, which may be of any log.
QList<Copy> FindCopies(RewriteFiles& files, const NativeName& folder, const NativeName& name,
                       NativeName* unreadable = nullptr) {
  QList<Copy> copies;
  for (const CopyName& found : files.Copies(folder)) {
    Copy copy;
    if (!ReadCopy(files, found, &copy)) {
      if (unreadable && unreadable->isEmpty()) *unreadable = copy.path();
    } else if (name.isEmpty() || copy.log == name) {
      copies.append(copy);
    }
  }
  return copies;
}

// Writes a log from its start, in pieces that begin and end on a multiple of kWriteBlock but
// for the last, whatever the pieces it is given.
class BlockWriter {
 public:
  BlockWriter(RewriteFile& file, int* error) : file_(file), error_(error) {}
  bool Put(QByteArrayView bytes) {
    if (!pending_.isEmpty()) {
      const qsizetype take = qMin<qsizetype>(kWriteBlock - pending_.size(), bytes.size());
      pending_.append(bytes.first(take));
      bytes = bytes.sliced(take);
      if (pending_.size() < kWriteBlock) return true;
      if (!Write(pending_)) return false;
      pending_.clear();
    }
    const qsizetype whole = bytes.size() / kWriteBlock * kWriteBlock;
    if (whole && !Write(bytes.first(whole))) return false;
    pending_ = bytes.sliced(whole).toByteArray();
    return true;
  }
  bool Zeros(qint64 count) {
    const QByteArray zeros(qMin<qint64>(count, 1 << 20), '\0');
    for (qint64 left = count; left > 0; left -= zeros.size())
      if (!Put(QByteArrayView(zeros).first(qMin<qint64>(left, zeros.size())))) return false;
    return true;
  }
  bool Finish() { return pending_.isEmpty() || Write(pending_); }

 private:
  bool Write(QByteArrayView bytes) {
    if (!file_.WriteAt(at_, bytes, error_)) return false;
    at_ += bytes.size();
    return true;
  }
  RewriteFile& file_;
  int* error_;
  qint64 at_ = 0;
  QByteArray pending_;
};

// Removes the copies of a log that a newer one has made needless, once the newer one's name is
// safe on disk: on a file system that does not keep folder changes in order, a removal could
// otherwise outlast a power cut that the rename did not.
void RemoveOlderCopies(RewriteFiles& files, const NativeName& folder, const QList<Copy>& older) {
  if (older.isEmpty()) return;
  for (const Copy& copy : older) files.Remove(copy.path());
  int ignored = 0;
  files.SyncFolder(folder, &ignored);
}

// Steps 3 to 6 of a rewrite, for the log whose present length is oldSize. oldBlocks, where
// given, holds the digests of the whole blocks of the log as it was read.
FileResult WriteInPlace(RewriteFiles& files, const NativeName& folder, const NativeName& name,
                        RewriteLog& log, qint64 oldSize, const QList<QByteArrayView>& pieces,
                        const QList<quint64>& oldBlocks, Tidying* later = nullptr) {
  int error = 0;
  // Older copies of this log go once the new one is complete: it holds all that they hold.
  const QList<Copy> older = FindCopies(files, folder, name);
  const QByteArray recordName = files.RecordName(name);
  if (recordName.isEmpty())  // no copy could be matched to the log again
    return FileResult::Failed(FileResult::Write,
                              QStringLiteral("ログファイルの名前をコピーに記録できません"));
  CopyRecord record = StartRecord(log.Identify(), recordName, oldSize, pieces, NewestStamp(older));
  const qint64 newSize = record.newSize;
  if (!OldDigests(&record, oldBlocks, Reader(log, &error)))
    return Failed(files, FileResult::Read, error);
  files.RemoveStaleTemporaries(folder);
  NativeName stem;
  std::unique_ptr<RewriteFile> temp = files.CreateTemp(folder, &stem, &error);
  if (!temp) return Failed(files, FileResult::Write, error);
  const NativeName tempPath = stem + AsciiName(".tmp");
  QElapsedTimer timer;
  timer.start();
  bool ok = true;
  qint64 at = 0;
  for (QByteArrayView piece : pieces) {
    if (!(ok = temp->WriteAt(at, piece, &error))) break;
    at += piece.size();
  }
  // The old bytes beyond the new end, by which a crash before the log got its new length is
  // told from one after.
  QByteArray block(qMin<qint64>(1 << 20, qMax<qint64>(0, oldSize - newSize)), Qt::Uninitialized);
  for (qint64 from = newSize, got = 0; ok && from < oldSize; from += got, at += got) {
    ok = log.ReadAt(from, block.data(), qMin<qint64>(block.size(), oldSize - from), &got, &error) &&
         got > 0 && temp->WriteAt(at, QByteArrayView(block.data(), got), &error);
    if (!ok && error == 0) error = files.IoError();  // the log got shorter meanwhile
  }
  ok = ok && temp->WriteAt(at, record.Tail(), &error) && temp->Sync(&error);
  temp->Done();
  if (!ok) {
    temp.reset();
    files.Remove(tempPath);
    return Failed(files, FileResult::Write, error);
  }
  files.Reached(Phase::CopyWritten);

  const NativeName complete = stem + AsciiName(".new"), sized = stem + AsciiName(".sized");
  // Gives up before the log is touched: the copy goes, for good.
  auto abandon = [&](const NativeName& path, FileResult result) {
    temp.reset();
    files.Remove(path);
    int ignored = 0;
    files.SyncFolder(folder, &ignored);
    return result;
  };
  if (!files.Rename(tempPath, complete, &error))
    return abandon(tempPath, Failed(files, FileResult::Write, error));
  if (!files.SyncFolder(folder, &error))
    return abandon(complete, Failed(files, FileResult::Write, error));
  RemoveOlderCopies(files, folder, older);
  temp.reset();  // the lock is no longer needed: a complete copy is never taken for stale
  files.Reached(Phase::CopyNamed);
  if (!log.Quiet(timer.elapsed() / 1000.0)) return abandon(complete, LogInUse());

  // From here on a failure leaves the copy, from which the next read finishes the rewrite.
  auto damaged = [&files](int cause) {
    FileResult result = Failed(files, FileResult::Write, cause);
    result.damaged = true;
    return result;
  };
  // The new content, and for a log that gets shorter zeros up to its old length.
  auto writeContent = [&](qint64 zeros) {
    BlockWriter writer(log, &error);
    for (QByteArrayView piece : pieces)
      if (!writer.Put(piece)) return false;
    return writer.Zeros(zeros) && writer.Finish();
  };
  if (newSize > oldSize) {
    bool touched = false;
    if (!log.Lengthen(oldSize, newSize, &touched, &error))
      return touched ? damaged(error) : abandon(complete, Failed(files, FileResult::Write, error));
  } else if (newSize < oldSize && !writeContent(oldSize - newSize)) {
    return damaged(error);
  }
  if (!log.Sync(&error)) return damaged(error);
  files.Reached(Phase::LogSized);
  if (!files.Rename(complete, sized, &error) || !files.SyncFolder(folder, &error))
    return damaged(error);
  files.Reached(Phase::CopySized);
  if (newSize < oldSize ? !log.Cut(newSize, &error) : !writeContent(0)) return damaged(error);
  log.Written();
  if (later) {
    files.Reached(Phase::LogWritten);
    later->copy = sized;
    later->folder = folder;
    return FileResult();
  }
  if (!log.Sync(&error)) return damaged(error);
  files.Reached(Phase::LogWritten);
  // Should the removal not last, the next read finds the copy and finishes the rewrite once
  // more, which changes nothing.
  files.Remove(sized);
  files.SyncFolder(folder, &error);
  return FileResult();
}

// A copy of the log that cannot be told to be this log's: nothing is done with either.
FileResult Unmatched(const Copy& copy) {
  const NativeName path = copy.path();
  return UnmatchedCopy(ShownAscii(path.mid(path.lastIndexOf(kFolderSeparator) + 1)), copy.newSize);
}

FileResult Unreadable(const NativeName& path) {
  return UnreadableCopy(ShownAscii(path.mid(path.lastIndexOf(kFolderSeparator) + 1)));
}

// Finishes the rewrites of the log name whose copies lie in folder, with the log open.
FileResult FinishWithOpenLog(RewriteFiles& files, const NativeName& folder, const NativeName& name,
                             RewriteLog& log) {
  const qint64 size = log.Snapshot();  // what others add from here on stops the finish
  NativeName unreadable;
  const QList<Copy> copies = FindCopies(files, folder, name, &unreadable);
  if (!unreadable.isEmpty()) return Unreadable(unreadable);
  if (copies.isEmpty()) return FileResult();
  const Copy& copy = *std::max_element(copies.begin(), copies.end(),
                                       [](auto& a, auto& b) { return a.stamp < b.stamp; });
  int error = 0;
  qint64 copySize = 0;
  const std::unique_ptr<RewriteFile> copyFile = files.OpenToRead(copy.path(), &copySize, &error);
  if (!copyFile) return Failed(files, FileResult::Read, error);
  QByteArray content(copy.BodySize(), Qt::Uninitialized);
  qint64 got = 0;
  if (!copyFile->ReadAt(0, content.data(), content.size(), &got, &error) || got != content.size())
    return Failed(files, FileResult::Read, error);
  bool unread = false;  // the log could not be read whole
  auto fileBytes = [&](qint64 from, qint64 n) {
    const QByteArray bytes = Reader(log, &error)(from, n);
    unread = unread || bytes.size() != n;
    return bytes;
  };
  // The copy is this log's where the file is the same one and its bytes are those of the
  // rewrite; on a file system whose file numbers do not last, its bytes (and the volume, where
  // it has a lasting id) alone tell.
  const FileIdentity id = log.Identify();
  const bool sameVolume = copy.volume == 0 || id.volume == 0 || copy.volume == id.volume;
  const bool sameFile = copy.file == id.file && copy.generation == id.generation && sameVolume;
  const qint64 from = AppendedFrom(copy, copy.sized, content, size, fileBytes);
  if (unread) return Failed(files, FileResult::Read, error);
  if (from < 0 || !(sameFile || (copy.format > 1 && !id.lasting && sameVolume)))
    return Unmatched(copy);
  const QByteArray appended = size > from ? fileBytes(from, size - from) : QByteArray();
  if (unread) return Failed(files, FileResult::Read, error);
  content.truncate(copy.newSize);
  // The new copy replaces the old ones as soon as it is complete.
  return WriteInPlace(files, folder, name, log, size, {content, appended}, {});
}

}  // namespace

bool ReadInBlocks(RewriteFile& file, qint64 size, const std::function<void(QByteArrayView)>& take,
                  int* error) {
  QByteArray buffer(qMin<qint64>(size, 1 << 20), Qt::Uninitialized);
  for (qint64 at = 0, got = 0; at < size; at += got) {
    if (!file.ReadAt(at, buffer.data(), qMin<qint64>(buffer.size(), size - at), &got, error))
      return false;
    if (got == 0) break;  // the file got shorter meanwhile
    take(QByteArrayView(buffer.constData(), got));
  }
  return true;
}

void RewriteFiles::RemoveStaleTemporaries(const NativeName& folder) {
  constexpr qint64 kStaleSeconds = 10 * 60;
  for (const Temporary& temp : Temporaries(folder)) {
    if (temp.age >= kStaleSeconds) RemoveUnlessHeld(folder + temp.name);
  }
}

void Tidying::Finish(RewriteFiles& files) {
  int error = 0;
  if (log && log->Sync(&error)) {
    files.Remove(copy);
    files.SyncFolder(folder, &error);
  }
  log.reset();
}

FileResult RewriteInPlace(RewriteFiles& files, const NativeName& folder, const NativeName& name,
                          const FileStore::BlockSink& sink, const FileStore::Producer& produce,
                          Tidying* later) {
  FileResult result;
  bool missing = false;
  std::unique_ptr<RewriteLog> log = files.OpenLog(folder + name, &result, &missing);
  if (!log) return result;
  result = FinishWithOpenLog(files, folder, name, *log);
  if (!result.ok()) return result;

  const qint64 size = log->Snapshot();
  BlockDigests digests;  // of the old content, by which a copy is matched to this log
  int error = 0;
  if (!ReadInBlocks(
          *log, size,
          [&](QByteArrayView block) {
            digests.Feed(block);
            sink(block, size);
          },
          &error))
    return FileResult::Failed(FileResult::Read, files.Cause(error));
  result = WriteInPlace(files, folder, name, *log, size, produce(),
                        digests.First(size / kDigestBlock), later);
  if (later && result.ok()) {
    // Other programs may open the log again; they find the new content.
    log->LetOthersIn();
    later->log = std::move(log);
  }
  return result;
}

FileResult FinishInterruptedRewrite(RewriteFiles& files, const NativeName& folder,
                                    const NativeName& name) {
  QList<NativeName> logs;
  NativeName unreadable;
  for (const Copy& copy : FindCopies(files, folder, name, &unreadable)) {
    if (!logs.contains(copy.log)) logs.append(copy.log);
  }
  // A copy that cannot be read may be of this log: it is not read until the user has looked.
  if (!name.isEmpty() && !unreadable.isEmpty()) return Unreadable(unreadable);
  for (const NativeName& logName : logs) {
    // Whether a copy is the log's is told with the log open; a copy of a log that is gone is
    // left alone.
    FileResult result;
    bool missing = false;
    const std::unique_ptr<RewriteLog> log = files.OpenLog(folder + logName, &result, &missing);
    if (log)
      result = FinishWithOpenLog(files, folder, logName, *log);
    else if (missing)
      result = FileResult();
    if (!result.ok() && !name.isEmpty()) return UnfinishedRewrite(result);
  }
  return FileResult();
}

}  // namespace parlotrim
