// The file operations of a rewrite in place on Windows: the log opened sharing only reading
// (no other program writes it meanwhile), FlushFileBuffers, renames written through (so no
// folder is synced), and the volume serial number and file index where file indexes last.
#pragma once

#include "platform/rewrite_files.h"
#include "platform/win32/win32_calls.h"

namespace parlotrim {

class Win32RewriteFiles : public RewriteFiles {
 public:
  explicit Win32RewriteFiles(Win32Calls& calls) : calls_(calls) {}

  std::unique_ptr<RewriteLog> OpenLog(const NativeName& path, FileResult* result,
                                      bool* missing) override;
  std::unique_ptr<RewriteFile> OpenCopy(const NativeName& path, qint64* size,
                                        int* error) override;
  std::unique_ptr<RewriteFile> CreateTemp(const NativeName& folder, NativeName* stem,
                                          int* error) override;
  bool Rename(const NativeName& from, const NativeName& to, int* error) override;
  bool SyncFolder(const NativeName&, int*) override { return true; }
  void Remove(const NativeName& path) override;
  QList<CopyName> Copies(const NativeName& folder) override;
  void RemoveStaleTemporaries(const NativeName& folder) override;
  QByteArray RecordName(const NativeName& name) override;
  bool NameOfRecord(const QByteArray& bytes, NativeName* name) override;
  QString Cause(int error) override;
  int IoError() override;
  void Reached(Phase phase) override { calls_.Reached(phase); }

 private:
  Win32Calls& calls_;
};

}  // namespace parlotrim
