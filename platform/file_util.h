// Small pieces the file store is built from: an owned descriptor, whole writes and reads,
// folder syncing, the program's temporary files, and causes of failure told in words a user
// understands.
#pragma once

#include <sys/stat.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <functional>

#include "platform/posix_calls.h"

namespace parlotrim::files {

class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd();
  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();

 private:
  int fd_ = -1;
};

// A cause of failure for the user: a short Japanese description with the system's words.
QString Cause(int error);
QString NotRegularCause();
// Why OpenRegular failed, from its *error.
QString OpenCause(int error);
QString MemoryCause();

// Whether a folder entry is one of its logs by name: "*.txt" in any case, not hidden.
bool IsLogName(QByteArrayView name);
bool EndsWithTxt(QByteArrayView name);

// Opens path, which must be a regular file (also through a link): never a device or a FIFO,
// which could block or never end. On failure *error is the cause, or 0 where the path is
// something else than a regular file; *opened tells that the path exists.
Fd OpenRegular(PosixCalls& calls, const QByteArray& path, int flags, struct stat* st, int* error,
               bool* opened);

// Writes all of data, at at, or where the file stands when at is negative: over short writes,
// and a write that makes no progress is a failure.
bool WriteAll(PosixCalls& calls, int fd, QByteArrayView data, int* error, off_t at = -1);
// Reads exactly size bytes at at (fewer only at the end of the file).
bool PreadAll(PosixCalls& calls, int fd, char* data, qint64 size, off_t at, qint64* got,
              int* error);

// Syncs the folder's entries, so that a rename or an unlink in it survives a power cut.
bool SyncFolder(PosixCalls& calls, const QByteArray& folder, int* error);

// The program's own files in a folder: ".parlotrim-" + 16 hex digits + a suffix.
inline constexpr char kPrefix[] = ".parlotrim-";
bool IsOwnFile(QByteArrayView name, QByteArrayView suffix, QByteArray* stem = nullptr);

// A new temporary file ".parlotrim-XXXXXXXXXXXXXXXX.tmp" in folder, private to the user and
// locked for as long as it is open, so that no other process takes it for stale.
struct TempFile {
  Fd fd;
  QByteArray stem;  // folder + ".parlotrim-" + hex digits
  QByteArray path() const { return stem + ".tmp"; }
};
bool CreateTemp(PosixCalls& calls, const QByteArray& folder, TempFile* temp, int* error);

// Names in folder (bytes), every entry but "." and "..".
QList<QByteArray> FolderEntries(const QByteArray& folder);

}  // namespace parlotrim::files
