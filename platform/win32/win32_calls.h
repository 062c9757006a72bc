// The Win32 calls through which the file store reaches the disk. The real ones by default; tests
// put a subclass in their place to make one of them fail (SetLastError and a false return), or
// to end the process at a named phase of a rewrite.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <QtGlobal>

#include "platform/rewrite_phase.h"

namespace parlotrim {

class Win32Calls {
 public:
  virtual ~Win32Calls() = default;

  // CreateFileW with the usual attributes; INVALID_HANDLE_VALUE and GetLastError on failure.
  virtual HANDLE Open(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                      DWORD flags = FILE_ATTRIBUTE_NORMAL);
  // Reads or writes at an offset; *done is what was read or written (0 at the end of a file).
  virtual bool ReadAt(HANDLE file, void* data, DWORD size, qint64 at, DWORD* done);
  virtual bool WriteAt(HANDLE file, const void* data, DWORD size, qint64 at, DWORD* done);
  virtual bool Flush(HANDLE file) { return ::FlushFileBuffers(file) != 0; }
  // The end of the file, and room reserved for it without changing its length.
  virtual bool SetSize(HANDLE file, qint64 size);
  virtual bool Reserve(HANDLE file, qint64 size);
  virtual bool FreeBytes(const wchar_t* folder, quint64* bytes);
  // Renames, replacing what has the new name, once the rename is on disk.
  virtual bool Move(const wchar_t* from, const wchar_t* to) {
    return ::MoveFileExW(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }
  // Puts replacement in the place of target, which keeps its ACL, attributes and streams.
  virtual bool Replace(const wchar_t* target, const wchar_t* replacement) {
    return ::ReplaceFileW(target, replacement, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                          nullptr) != 0;
  }
  virtual bool Delete(const wchar_t* path) { return ::DeleteFileW(path) != 0; }

  // Called as a rewrite passes each phase.
  virtual void Reached(Phase) {}
};

}  // namespace parlotrim
