// The logs and documents on disk. Names are the file system's own (NativeName): a log whose
// name is not valid UTF-8 on a POSIX system (a Shift JIS name copied from Windows) is listed,
// read and rewritten by its real name. One body serves every system (file_store.cpp, with the
// rewrite in log_rewrite.cpp), over the system's file operations (SystemFiles), which reach
// the disk through injectable calls (SystemCalls); only the replacement of a document is each
// system's own.
//
// A log is rewritten in place, so that it stays the same file: its permissions, owner, ACLs,
// extended attributes or streams, hard links and the handles other programs hold all stay. The
// rewrite first writes the new content to a synced copy beside the log, so that a crash at any
// moment leaves either the old content or the complete new content on disk; the next read of
// the log finishes a rewrite that was cut short. No other program may write the log meanwhile:
// one that has it open for writing makes the rewrite refuse, and one that opens it during the
// rewrite waits (POSIX) or is refused (Windows).
//
// A document is replaced: written to a temporary file in its folder, synced, given the old
// document's owner, permissions and attributes, put in the old one's place in one step, and
// the folder synced.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

#include "platform/native_name.h"
#include "platform/system_calls.h"

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

  explicit FileStore(SystemCalls& calls);
  ~FileStore();

  // The names of the logs of folder: regular files, directly or through a link, not hidden,
  // whose names end in ".txt" in any case; sorted by their shown names, ignoring case.
  QList<NativeName> ListLogs(const NativeName& folder);

  // Reads the whole file folder + name, as it is when it is opened: bytes a writer adds
  // meanwhile are not waited for. The data has two bytes of room in front of it.
  FileResult ReadAll(const NativeName& folder, const NativeName& name, QByteArray* data);
  // The same, block by block, with one buffer of a megabyte.
  FileResult ReadBlocks(const NativeName& folder, const NativeName& name, const BlockSink& sink);

  // Rewrites the log folder + name in place: reads it whole into sink, then writes what
  // produce gives, only while no other program has it open.
  FileResult RewriteLog(const NativeName& folder, const NativeName& name, const BlockSink& sink,
                        const Producer& produce);

  // Writes the document folder + name, replacing an existing one (through a link, the file at
  // its end). Refuses, writing nothing, where the name stands for anything but a regular file,
  // or for a "*.txt" file: a document never replaces a log.
  FileResult ReplaceDocument(const NativeName& folder, const NativeName& name,
                             const QList<QByteArrayView>& pieces);

  // Finishes every rewrite of a log of folder that a crash cut short, and removes temporary
  // files that a dead process left there.
  void FinishInterruptedRewrites(const NativeName& folder);

  // A rewrite or a document is complete, and safe on disk, when its call returns; syncing the
  // log once more, removing the rewrite's copy and freeing a replaced document wait for this
  // (or the next call, or the end of the store), so that the user need not wait for them.
  void Tidy();

 private:
  struct Later;

  SystemCalls& calls_;
  std::unique_ptr<Later> later_;
};

// The folder of the running program, with its separator at the end.
NativeName ProgramFolder();

}  // namespace parlotrim
