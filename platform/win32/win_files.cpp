#include "platform/win32/win_files.h"

#include <aclapi.h>
#include <sddl.h>

#include <QRandomGenerator>

namespace parlotrim::win {

Handle& Handle::operator=(Handle&& other) noexcept {
  if (this != &other) {
    if (valid()) ::CloseHandle(handle_);
    handle_ = other.release();
  }
  return *this;
}

Handle::~Handle() {
  if (valid()) ::CloseHandle(handle_);
}

HANDLE Handle::release() {
  const HANDLE handle = handle_;
  handle_ = INVALID_HANDLE_VALUE;
  return handle;
}

namespace {

QString SystemMessage(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  QString message = n ? QString::fromWCharArray(text, int(n)).trimmed() : QString();
  if (text) ::LocalFree(text);
  return message.isEmpty() ? QStringLiteral("エラー %1").arg(error) : message;
}

}  // namespace

QString Cause(DWORD error) {
  const char* what = nullptr;
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      what = "ファイルまたはフォルダーが見つかりません";
      break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      what = "アクセスが許可されていません";
      break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      what = "ディスクの空き容量が足りません";
      break;
    case ERROR_FILE_TOO_LARGE:
      what = "ファイルが大きすぎます";
      break;
    case ERROR_FILENAME_EXCED_RANGE:
      what = "ファイル名が長すぎます";
      break;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
      what = "ディスクの読み書きでエラーが起きました";
      break;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      what = "メモリが足りません";
      break;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      what = "ほかのプログラムが使用中です";
      break;
    default:
      break;
  }
  const QString system = SystemMessage(error);
  return what ? QString::fromUtf8(what) + QStringLiteral(" (") + system + QLatin1Char(')') : system;
}

QString NotRegularCause() {
  return QStringLiteral("通常のファイルではありません");
}

QString OpenCause(DWORD error) {
  return error ? Cause(error) : NotRegularCause();
}

bool EndsWithTxt(QStringView name) {
  return name.size() >= 4 && name.endsWith(u".txt", Qt::CaseInsensitive);
}

bool IsLogEntry(const WIN32_FIND_DATAW& entry) {
  constexpr DWORD kNot = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                         FILE_ATTRIBUTE_DEVICE;
  return !(entry.dwFileAttributes & kNot) &&
         EndsWithTxt(QString::fromWCharArray(entry.cFileName));
}

Handle OpenRegular(Win32Calls& calls, const QString& path, DWORD access, DWORD share,
                   DWORD* error, bool* exists) {
  *exists = false;
  const DWORD attributes = ::GetFileAttributesW(W(path));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *error = ::GetLastError();
    return Handle();
  }
  *exists = true;
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) {
    *error = 0;
    return Handle();
  }
  // Windows refuses to write a read-only file; so does this store, for every user.
  if ((access & GENERIC_WRITE) && (attributes & FILE_ATTRIBUTE_READONLY)) {
    *error = ERROR_ACCESS_DENIED;
    return Handle();
  }
  Handle file(calls.Open(W(path), access, share, OPEN_EXISTING));
  if (!file.valid()) {
    *error = ::GetLastError();
    return file;
  }
  if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
    *error = 0;
    return Handle();
  }
  return file;
}

qint64 SizeOf(HANDLE file) {
  LARGE_INTEGER size{};
  return ::GetFileSizeEx(file, &size) ? size.QuadPart : -1;
}

bool WriteAllAt(Win32Calls& calls, HANDLE file, QByteArrayView data, qint64 at, DWORD* error) {
  constexpr qint64 kWrite = 1 << 20;
  while (!data.isEmpty()) {
    DWORD wrote = 0;
    if (!calls.WriteAt(file, data.data(), DWORD(qMin<qint64>(data.size(), kWrite)), at, &wrote) ||
        wrote == 0) {
      *error = wrote == 0 && ::GetLastError() == ERROR_SUCCESS ? ERROR_WRITE_FAULT
                                                               : ::GetLastError();
      return false;
    }
    data = data.sliced(wrote);
    at += wrote;
  }
  return true;
}

QByteArray ReadBytesAt(Win32Calls& calls, HANDLE file, qint64 at, qint64 size, DWORD* error) {
  QByteArray bytes(size, Qt::Uninitialized);
  qint64 got = 0;
  while (got < size) {
    DWORD n = 0;
    if (!calls.ReadAt(file, bytes.data() + got, DWORD(qMin<qint64>(size - got, 1 << 30)),
                      at + got, &n)) {
      *error = ::GetLastError();
      return QByteArray();
    }
    if (n == 0) break;
    got += n;
  }
  bytes.truncate(got);
  return bytes;
}

QList<WIN32_FIND_DATAW> FolderEntries(const QString& folder, const QString& pattern) {
  QList<WIN32_FIND_DATAW> entries;
  WIN32_FIND_DATAW entry{};
  const HANDLE find = ::FindFirstFileExW(W(folder + pattern), FindExInfoBasic, &entry,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (find == INVALID_HANDLE_VALUE) return entries;
  do {
    const QString name = QString::fromWCharArray(entry.cFileName);
    if (name != QLatin1String(".") && name != QLatin1String("..")) entries.append(entry);
  } while (::FindNextFileW(find, &entry));
  ::FindClose(find);
  return entries;
}

bool IsOwnFile(QStringView name, QStringView suffix, QString* stem) {
  const QStringView prefix(kPrefix);
  if (name.size() != prefix.size() + 16 + suffix.size() || !name.startsWith(prefix) ||
      !name.endsWith(suffix))
    return false;
  for (QChar c : name.sliced(prefix.size(), 16)) {
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return false;
  }
  if (stem) *stem = name.first(prefix.size() + 16).toString();
  return true;
}

bool CreateTemp(Win32Calls& calls, const QString& folder, TempFile* temp, DWORD* error) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    temp->stem = folder + QString::fromUtf16(kPrefix) +
                 QString::number(QRandomGenerator::system()->generate64(), 16)
                     .rightJustified(16, u'0');
    temp->file = Handle(calls.Open(W(temp->path()), GENERIC_READ | GENERIC_WRITE | DELETE, 0,
                                   CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
    if (temp->file.valid()) return true;
    if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS) break;
  }
  *error = ::GetLastError();
  return false;
}

QString AccessList(const QString& path) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetNamedSecurityInfoW(W(path), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS)
    return {};
  wchar_t* text = nullptr;
  ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1,
                                                         DACL_SECURITY_INFORMATION, &text, nullptr);
  const QString list = text ? QString::fromWCharArray(text) : QString();
  ::LocalFree(text);
  ::LocalFree(descriptor);
  return list;
}

void SetAccessList(const QString& path, const QString& list) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(W(list), SDDL_REVISION_1,
                                                             &descriptor, nullptr))
    ::SetFileSecurityW(W(path), DACL_SECURITY_INFORMATION, descriptor);
  ::LocalFree(descriptor);
}

}  // namespace parlotrim::win
