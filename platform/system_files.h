// The file operations of the system at hand, behind the rewrite (RewriteFiles) and the file
// store: one declaration, implemented once for POSIX systems (posix_rewrite_files.cpp: a write
// lease on the log or a watch for changes, fsync, folder syncs after renames, inode numbers)
// and once for Windows (win32/win32_rewrite_files.cpp: the log shared only for reading,
// FlushFileBuffers, renames written through, volume serial numbers and file indexes).
#pragma once

#include "platform/rewrite_files.h"
#include "platform/system_calls.h"

namespace parlotrim {

class SystemFiles : public RewriteFiles {
 public:
  explicit SystemFiles(SystemCalls& calls) : calls_(calls) {}

  std::unique_ptr<RewriteLog> OpenLog(const NativeName& path, FileResult* result,
                                      bool* missing) override;
  std::unique_ptr<RewriteFile> OpenToRead(const NativeName& path, qint64* size,
                                          int* error) override;
  std::unique_ptr<RewriteFile> CreateTemp(const NativeName& folder, NativeName* stem,
                                          int* error) override;
  bool Rename(const NativeName& from, const NativeName& to, int* error) override;
  bool SyncFolder(const NativeName& folder, int* error) override;
  void Remove(const NativeName& path) override;
  QList<CopyName> Copies(const NativeName& folder) override;
  QList<Temporary> Temporaries(const NativeName& folder) override;
  void RemoveUnlessHeld(const NativeName& path) override;
  QByteArray RecordName(const NativeName& name) override;
  bool NameOfRecord(const QByteArray& bytes, NativeName* name) override;
  QString Cause(int error) override;
  int IoError() override;
  void Reached(Phase phase) override { calls_.Reached(phase); }

  // The log path opened to read it, through a link, as a regular file (never a device or a
  // FIFO, which could block or never end), or why it cannot be.
  std::unique_ptr<RewriteFile> OpenLogToRead(const NativeName& path, qint64* size,
                                             FileResult* result);
  // The names of folder's logs, in no order: regular files, also through a link, not hidden,
  // whose names end in ".txt" in any case.
  QList<NativeName> Logs(const NativeName& folder);

 private:
  SystemCalls& calls_;
};

}  // namespace parlotrim
