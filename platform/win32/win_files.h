// Small pieces the Windows file store is built from: an owned handle, whole reads and writes at
// an offset, the program's own files beside a log, and causes of failure in words a user
// understands.
#pragma once

#include <QList>
#include <QString>
#include <QStringView>
#include <functional>

#include "platform/win32/win32_calls.h"

namespace parlotrim::win {

class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) : handle_(handle) {}
  Handle(Handle&& other) noexcept : handle_(other.release()) {}
  Handle& operator=(Handle&& other) noexcept;
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle();
  HANDLE get() const { return handle_; }
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE release();

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
};

inline const wchar_t* W(const QString& path) {
  return reinterpret_cast<const wchar_t*>(path.utf16());
}

// A cause of failure for the user: a short Japanese description with the system's own message.
QString Cause(DWORD error);
QString NotRegularCause();
QString OpenCause(DWORD error);  // 0: the path is no regular file

bool EndsWithTxt(QStringView name);
// A log of a folder by name and attributes: "*.txt" in any case, not hidden, no folder.
bool IsLogEntry(const WIN32_FIND_DATAW& entry);

// Opens path, which must be a regular file on a disk (also through a link). On failure *error
// is the cause, or 0 where the path is something else; *exists tells that it is there.
Handle OpenRegular(Win32Calls& calls, const QString& path, DWORD access, DWORD share,
                   DWORD* error, bool* exists);

qint64 SizeOf(HANDLE file);

// Writes all of data at at; a write that makes no progress is a failure.
bool WriteAllAt(Win32Calls& calls, HANDLE file, QByteArrayView data, qint64 at, DWORD* error);
// Reads size bytes at at (fewer only at the end of the file); empty on failure.
QByteArray ReadBytesAt(Win32Calls& calls, HANDLE file, qint64 at, qint64 size, DWORD* error);
// The names of folder that match pattern ("*" for all), with their find data.
QList<WIN32_FIND_DATAW> FolderEntries(const QString& folder, const QString& pattern);

// The program's own files in a folder: ".parlotrim-" + 16 hex digits + a suffix.
inline constexpr char16_t kPrefix[] = u".parlotrim-";
bool IsOwnFile(QStringView name, QStringView suffix, QString* stem = nullptr);

// A new temporary file ".parlotrim-XXXXXXXXXXXXXXXX.tmp" in folder, open without sharing for as
// long as it is written, so that no other process deletes it meanwhile.
struct TempFile {
  Handle file;
  QString stem;  // folder + ".parlotrim-" + hex digits
  QString path() const { return stem + QStringLiteral(".tmp"); }
};
bool CreateTemp(Win32Calls& calls, const QString& folder, TempFile* temp, DWORD* error);

// The access list of a file as text (empty where it cannot be read); and a file's access list
// set from such a text.
QString AccessList(const QString& path);
void SetAccessList(const QString& path, const QString& list);

}  // namespace parlotrim::win
