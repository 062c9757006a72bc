// The file operations of a rewrite in place on POSIX systems: a write lease on the log (or a
// watch for changes where the file system has none), fsync, folder syncs after renames, and
// inode numbers that identify the log where the file system keeps them.
#pragma once

#include "platform/posix_calls.h"
#include "platform/rewrite_files.h"

namespace parlotrim {

class PosixRewriteFiles : public RewriteFiles {
 public:
  explicit PosixRewriteFiles(PosixCalls& calls) : calls_(calls) {}

  std::unique_ptr<RewriteLog> OpenLog(const NativeName& path, FileResult* result,
                                      bool* missing) override;
  std::unique_ptr<RewriteFile> OpenCopy(const NativeName& path, qint64* size,
                                        int* error) override;
  std::unique_ptr<RewriteFile> CreateTemp(const NativeName& folder, NativeName* stem,
                                          int* error) override;
  bool Rename(const NativeName& from, const NativeName& to, int* error) override;
  bool SyncFolder(const NativeName& folder, int* error) override;
  void Remove(const NativeName& path) override;
  QList<CopyName> Copies(const NativeName& folder) override;
  void RemoveStaleTemporaries(const NativeName& folder) override;
  QByteArray RecordName(const NativeName& name) override { return name; }
  bool NameOfRecord(const QByteArray& bytes, NativeName* name) override;
  QString Cause(int error) override;
  int IoError() override;
  void Reached(Phase phase) override { calls_.Reached(phase); }

 private:
  PosixCalls& calls_;
};

}  // namespace parlotrim
