// The logs and documents on disk. Paths are bytes, as the file system holds them: a log whose
// name is not valid UTF-8 (a Shift JIS name copied from Windows) is listed, read and rewritten
// by its real name.
//
// A log is rewritten in place, so that it stays the same file: its permissions, owner, ACLs,
// extended attributes, hard links and the descriptors other programs hold all stay. The rewrite
// first writes the new content to a synced copy beside the log, so that a crash at any moment
// leaves either the old content or the complete new content on disk; the next read of the log
// finishes a rewrite that was cut short. It holds a write lease on the log, which another
// program cannot have open meanwhile: one that opens the log waits until the rewrite is done,
// and then finds the new content.
//
// A document is replaced: written to a temporary file in its folder, synced, given the old
// document's owner, mode and extended attributes, renamed over it, and the folder synced.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

#include "platform/file_util.h"
#include "platform/posix_calls.h"

namespace parlotrim {

struct FileResult {
  enum Failure {
    None,
    Read,      // the log could not be read (it is unchanged)
    Write,     // the file could not be written (it is unchanged, unless damaged is set)
    InUse,     // another program has the log open (it is unchanged)
    Unsynced,  // the file was written, but its folder could not be synced
  };
  Failure failure = None;
  QString cause;         // what went wrong, for the user
  bool damaged = false;  // a rewrite failed halfway: the next run completes it from the copy
  bool ok() const { return failure == None; }
  static FileResult Failed(Failure failure, const QString& cause) { return {failure, cause}; }
};

class FileStore {
 public:
  // Reads the bytes of a block, and the size of the whole file; the view lasts for the call.
  using BlockSink = std::function<void(QByteArrayView block, qint64 fileSize)>;
  // The new content of a log, once it has been read whole.
  using Producer = std::function<QList<QByteArrayView>()>;

  explicit FileStore(PosixCalls& calls);
  ~FileStore();

  // The names of the logs of folder: regular files, directly or through a link, not hidden,
  // whose names end in ".txt" in any case; sorted by their shown names, ignoring case.
  QList<QByteArray> ListLogs(const QByteArray& folder);

  // Reads the whole file folder + name, as it is when it is opened: bytes a writer adds
  // meanwhile are not waited for. The data has two bytes of room in front of it.
  FileResult ReadAll(const QByteArray& folder, const QByteArray& name, QByteArray* data);
  // The same, block by block, with one buffer of a megabyte.
  FileResult ReadBlocks(const QByteArray& folder, const QByteArray& name, const BlockSink& sink);

  // Rewrites the log folder + name in place: reads it whole into sink, then writes what
  // produce gives, only while no other program has it open.
  FileResult RewriteLog(const QByteArray& folder, const QByteArray& name, const BlockSink& sink,
                        const Producer& produce);

  // Writes the document folder + name, replacing an existing one (through a link, the file at
  // its end). Refuses, writing nothing, where the name stands for anything but a regular file,
  // or for a "*.txt" file: a document never replaces a log.
  FileResult ReplaceDocument(const QByteArray& folder, const QByteArray& name,
                             const QList<QByteArrayView>& pieces);

  // Finishes every rewrite of a log of folder that a crash cut short, and removes temporary
  // files that a dead process left there.
  void FinishInterruptedRewrites(const QByteArray& folder);

  // A rewrite or a document is complete, and safe on disk, when its call returns; syncing the
  // log once more, removing the rewrite's copy and freeing a replaced document wait for this
  // (or the next call, or the end of the store), so that the user need not wait for them.
  void Tidy();

 private:
  struct Later;
  files::Fd OpenLog(const QByteArray& folder, const QByteArray& name, struct stat* st,
                    FileResult* result);

  PosixCalls& calls_;
  std::unique_ptr<Later> later_;
};

// The folder of the running program, with its separator at the end.
QByteArray ProgramFolder();

}  // namespace parlotrim
