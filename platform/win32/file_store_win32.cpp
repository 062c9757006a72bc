// The Windows file store's own part: a document replaced with ReplaceFileW, which keeps the old
// one's access list, attributes and streams, and the program's folder.
#include <QCoreApplication>
#include <QDir>
#include <algorithm>
#include <new>

#include "platform/file_store.h"
#include "platform/file_store_later.h"
#include "platform/win32/win_files.h"

namespace parlotrim {

using namespace win;

namespace {

struct FileKey {
  quint64 volume = 0, index = 0;
  bool operator==(const FileKey& other) const {
    return volume == other.volume && index == other.index;
  }
};

bool KeyOf(const QString& path, FileKey* key) {
  const Handle file(::CreateFileW(W(path), FILE_READ_ATTRIBUTES,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.valid() || !::GetFileInformationByHandle(file.get(), &info)) return false;
  key->volume = info.dwVolumeSerialNumber;
  key->index = (quint64(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

// Whether key is one of the "*.txt" files of folder, under any name (a hard link).
bool IsTxtOfFolder(const QString& folder, const FileKey& key) {
  for (const WIN32_FIND_DATAW& entry : FolderEntries(folder, QStringLiteral("*"))) {
    const QString name = QString::fromWCharArray(entry.cFileName);
    FileKey other;
    if (EndsWithTxt(name) && KeyOf(folder + name, &other) && other == key) return true;
  }
  return false;
}

// The path a link or junction stands for, or path itself.
QString FinalPath(const QString& path) {
  const Handle file(::CreateFileW(W(path), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) return QString();
  wchar_t buffer[32768];
  const DWORD n = ::GetFinalPathNameByHandleW(file.get(), buffer, 32768, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= 32768) return QString();
  QString final = QString::fromWCharArray(buffer, int(n));
  if (final.startsWith(QLatin1String("\\\\?\\UNC\\")))
    final = QStringLiteral("\\\\") + final.mid(8);
  else if (final.startsWith(QLatin1String("\\\\?\\")))
    final = final.mid(4);
  return final;
}

QString Parent(const QString& path) {
  const qsizetype slash = path.lastIndexOf(u'\\');
  return slash < 0 ? QString() : path.first(slash + 1);
}

// The longest name the file system of folder keeps (255 on NTFS, FAT and exFAT).
DWORD MaxNameLength(const QString& folder) {
  wchar_t root[MAX_PATH + 1] = {};
  DWORD longest = 0;
  if (::GetVolumePathNameW(W(folder), root, MAX_PATH + 1) &&
      ::GetVolumeInformationW(root, nullptr, 0, nullptr, &longest, nullptr, nullptr, 0) &&
      longest > 0)
    return longest;
  return 255;
}

}  // namespace

FileResult FileStore::ReplaceDocument(const NativeName& folder, const NativeName& name,
                                      const QList<QByteArrayView>& pieces) {
  Tidy();
  // A name longer than the folder's file system keeps is refused before anything is written,
  // with the reason the user can act on (Wine reports such a name as not found).
  if (name.size() > qsizetype(MaxNameLength(folder)))
    return FileResult::Failed(FileResult::Write, Cause(ERROR_FILENAME_EXCED_RANGE));
  QString target = folder + name;
  bool exists = false;
  DWORD attributes = ::GetFileAttributesW(W(target));
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) return FileResult::Failed(FileResult::Write, Cause(error));
  } else {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // The file at the end of the link is replaced, and the link stays.
      target = FinalPath(target);
      attributes = target.isEmpty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(W(target));
    }
    FileKey key;
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) ||
        !KeyOf(target, &key))
      return FileResult::Failed(FileResult::Write, NotRegularCause());
    // A document the user made read-only stays as it is.
    if (attributes & FILE_ATTRIBUTE_READONLY)
      return FileResult::Failed(FileResult::Write, Cause(ERROR_ACCESS_DENIED));
    if (EndsWithTxt(QStringView(target).sliced(target.lastIndexOf(u'\\') + 1)) ||
        IsTxtOfFolder(folder, key))
      return FileResult::Failed(
          FileResult::Write, QStringLiteral("この名前はテキストファイル（ログ）を指しているため、"
                                            "上書きしませんでした"));
    exists = true;
  }
  const QString accessList = exists ? AccessList(target) : QString();

  const QString targetFolder = Parent(target);
  later_->files.RemoveStaleTemporaries(targetFolder);
  TempFile temp;
  DWORD error = 0;
  if (!CreateTemp(calls_, targetFolder, &temp, &error))
    return FileResult::Failed(FileResult::Write, Cause(error));
  bool ok = true;
  qint64 at = 0;
  for (QByteArrayView piece : pieces) {
    if (!(ok = WriteAllAt(calls_, temp.file.get(), piece, at, &error))) break;
    at += piece.size();
  }
  if (ok && !calls_.Flush(temp.file.get())) {
    ok = false;
    error = ::GetLastError();
  }
  temp.file = Handle();
  // The old document keeps its place in the folder, its ACL, attributes and streams; the new
  // content takes them over in one step.
  if (ok && !(exists ? calls_.Replace(W(target), W(temp.path()))
                     : calls_.Move(W(temp.path()), W(target)))) {
    ok = false;
    error = ::GetLastError();
    // ReplaceFileW may fail after the old document is gone, leaving the new one under its
    // temporary name: then it is renamed into place, or kept where it is and named to the user,
    // so that one of the two documents always survives.
    if (exists && error == ERROR_UNABLE_TO_MOVE_REPLACEMENT &&
        ::GetFileAttributesW(W(target)) == INVALID_FILE_ATTRIBUTES &&
        ::GetLastError() == ERROR_FILE_NOT_FOUND) {
      if (calls_.Move(W(temp.path()), W(target))) {
        ok = true;
      } else {
        return FileResult::Failed(
            FileResult::Write, Cause(::GetLastError()) + QStringLiteral("（新しいHTMLファイルは ") +
                                   QDir::toNativeSeparators(temp.path()) +
                                   QStringLiteral(" に残っています。名前を変えてお使いください）"));
      }
    }
  }
  if (!ok) {
    calls_.Delete(W(temp.path()));
    return FileResult::Failed(FileResult::Write, Cause(error));
  }
  // Not every implementation of the replacement carries the attributes and access list over.
  constexpr DWORD kKept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                          FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
  if (exists && (attributes & kKept) != (::GetFileAttributesW(W(target)) & kKept))
    ::SetFileAttributesW(W(target), (attributes & kKept) ? attributes & kKept
                                                          : FILE_ATTRIBUTE_NORMAL);
  if (!accessList.isEmpty() && AccessList(target) != accessList) SetAccessList(target, accessList);
  calls_.Reached(Phase::DocumentNamed);
  return FileResult();
}

NativeName ProgramFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
    if (n == 0) return QCoreApplication::applicationDirPath().replace(u'/', u'\\') + u'\\';
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  return Parent(QString::fromStdWString(buffer));
}

}  // namespace parlotrim
