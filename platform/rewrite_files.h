// The file operations that the rewrite of a log in place (log_rewrite.h) is made of. Each system
// implements them over its own calls; the rewrite, its order of syncs, renames and removals,
// and the finishing after a crash exist once, above them.
//
// Errors are the system's own codes (errno, or GetLastError), told to the user through Cause.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <functional>
#include <memory>

#include "platform/file_store.h"
#include "platform/native_name.h"
#include "platform/rewrite_copy.h"
#include "platform/rewrite_phase.h"

namespace parlotrim {

// An open file: a copy, or the new copy being written.
class RewriteFile {
 public:
  virtual ~RewriteFile() = default;
  // Reads size bytes at at into data; *got is fewer only at the end of the file.
  virtual bool ReadAt(qint64 at, char* data, qint64 size, qint64* got, int* error) = 0;
  virtual bool WriteAt(qint64 at, QByteArrayView data, int* error) = 0;
  virtual bool Sync(int* error) = 0;
  // No more writes follow: a system that cannot rename an open file closes it.
  virtual void Done() {}
};

// Reads the first size bytes of file (fewer, where it got shorter meanwhile) in blocks of a
// megabyte, handing each to take; the view lasts for the call.
bool ReadInBlocks(RewriteFile& file, qint64 size, const std::function<void(QByteArrayView)>& take,
                  int* error);

// The log, open for its rewrite: while it is, no other program writes to it, as far as the
// system can tell (a lease, or a share mode).
class RewriteLog : public RewriteFile {
 public:
  // Notes the log as it is now and returns its length; a change from here on is another
  // program's.
  virtual qint64 Snapshot() = 0;
  // True while no other program wrote to the log since the snapshot, and none can for the
  // seconds that the rest of the rewrite may take.
  virtual bool Quiet(double secondsLeft) = 0;
  // Gives the log the length newSize > oldSize, with room for it made sure of before the log
  // changes. On failure *touched tells that the log may have changed.
  virtual bool Lengthen(qint64 oldSize, qint64 newSize, bool* touched, int* error) = 0;
  virtual bool Cut(qint64 size, int* error) = 0;
  virtual FileIdentity Identify() = 0;
  // The new content is written: what the system's writes took from the file comes back
  // (an ordinary user's write clears the setuid and setgid bits).
  virtual void Written() {}
  // Other programs may open and write the log again; Sync still syncs it.
  virtual void LetOthersIn() = 0;
};

// A copy beside a log, named as complete: folder + ".parlotrim-" + hex digits, and whether it
// is named as ".sized" or as ".new".
struct CopyName {
  NativeName stem;
  bool sized = false;
};

class RewriteFiles {
 public:
  virtual ~RewriteFiles() = default;

  // Opens the log path for its rewrite. On failure *result says why: another program has it
  // open, it cannot be read, or it cannot be written; *missing, that there is no such file.
  virtual std::unique_ptr<RewriteLog> OpenLog(const NativeName& path, FileResult* result,
                                              bool* missing) = 0;
  // Opens a file to read it (a copy): a regular file, not through a link.
  virtual std::unique_ptr<RewriteFile> OpenToRead(const NativeName& path, qint64* size,
                                                int* error) = 0;
  // A new file ".parlotrim-X.tmp" in folder, that no other process takes for stale while it is
  // open; *stem is its path without ".tmp".
  virtual std::unique_ptr<RewriteFile> CreateTemp(const NativeName& folder, NativeName* stem,
                                                  int* error) = 0;
  // Renames, replacing what had the new name.
  virtual bool Rename(const NativeName& from, const NativeName& to, int* error) = 0;
  // Makes the renames and removals in folder last (a system whose renames are written through
  // has nothing left to do).
  virtual bool SyncFolder(const NativeName& folder, int* error) = 0;
  virtual void Remove(const NativeName& path) = 0;
  // The copies in folder, by name.
  virtual QList<CopyName> Copies(const NativeName& folder) = 0;
  // The program's temporary files in folder (".parlotrim-X.tmp", regular files), with the
  // seconds since each was last written.
  struct Temporary {
    NativeName name;
    qint64 age = 0;
  };
  virtual QList<Temporary> Temporaries(const NativeName& folder) = 0;
  // Removes path unless a live process holds it (its writer, until it renames or removes it).
  virtual void RemoveUnlessHeld(const NativeName& path) = 0;
  // Removes the temporary files that dead processes left in folder: those that no live
  // process holds, untouched for ten minutes.
  void RemoveStaleTemporaries(const NativeName& folder);

  // A log's name as a copy's record holds it, in UTF-8 on every system (a POSIX name that is
  // not UTF-8 as its bytes; empty for a name that has none), and back: false for a name that
  // this system cannot have (no plain name of a file in the copy's folder).
  virtual QByteArray RecordName(const NativeName& name) = 0;
  virtual bool NameOfRecord(const QByteArray& bytes, NativeName* name) = 0;

  virtual QString Cause(int error) = 0;
  virtual int IoError() = 0;  // a read or write that failed without saying why
  // Called as a rewrite passes each phase.
  virtual void Reached(Phase phase) = 0;
};

}  // namespace parlotrim
