// The POSIX file store's own part: a document replaced by rename with the old one's owner,
// mode, ACLs and extended attributes, and the program's folder.
#include "platform/file_store.h"

#include <sys/xattr.h>

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>

#include "platform/file_util.h"
#include "platform/file_store_later.h"

namespace parlotrim {

using namespace files;

namespace {

QByteArray Parent(const QByteArray& path) {
  const qsizetype slash = path.lastIndexOf('/');
  return slash < 0 ? QByteArray() : path.first(slash + 1);
}

// Whether st is one of the "*.txt" files of folder, under any name, through any link.
bool IsTxtOfFolder(const QByteArray& folder, const struct stat& st) {
  for (const QByteArray& name : FolderEntries(folder)) {
    struct stat other {};
    if (EndsWithTxt(name) && ::stat((folder + name).constData(), &other) == 0 &&
        other.st_dev == st.st_dev && other.st_ino == st.st_ino)
      return true;
  }
  return false;
}

// Gives the replacement the extended attributes (ACLs among them) of the file it replaces,
// and no others: a new file may have inherited a folder's default ACL.
bool KeepExtendedAttributes(const QByteArray& from, int to, int* error) {
  auto names = [](ssize_t size, const QByteArray& list) {
    return size > 0 ? list.first(size - 1).split('\0') : QList<QByteArray>();
  };
  QByteArray list(64 * 1024, '\0');
  const ssize_t size = ::listxattr(from.constData(), list.data(), size_t(list.size()));
  if (size < 0 && errno != ENOTSUP) {
    *error = errno;
    return false;
  }
  const QList<QByteArray> wanted = names(size, list);
  QByteArray value(64 * 1024, '\0'), present(64 * 1024, '\0');
  for (const QByteArray& name : wanted) {
    const ssize_t n = ::getxattr(from.constData(), name.constData(), value.data(), value.size());
    if (n < 0) continue;  // gone meanwhile, or not ours to read
    const ssize_t m = ::fgetxattr(to, name.constData(), present.data(), present.size());
    if (m == n && std::equal(value.data(), value.data() + n, present.data())) continue;
    if (::fsetxattr(to, name.constData(), value.constData(), size_t(n), 0) != 0) {
      *error = errno;
      return false;
    }
  }
  const ssize_t own = ::flistxattr(to, list.data(), size_t(list.size()));
  for (const QByteArray& name : names(own, list)) {
    if (!wanted.contains(name) && ::fremovexattr(to, name.constData()) != 0 && errno != ENODATA) {
      *error = errno;
      return false;
    }
  }
  return true;
}

// Owner and group first (which clear the setuid and setgid bits), the attributes, then the
// mode, all after the last write (an ordinary user's write clears those bits too).
bool KeepMetadata(int fd, const QByteArray& old, const struct stat& st, int* error) {
  [[maybe_unused]] const int refused = ::fchown(fd, st.st_uid, st.st_gid);
  if (!KeepExtendedAttributes(old, fd, error)) return false;
  if (::fchmod(fd, st.st_mode & 07777) == 0) return true;
  *error = errno;
  return false;
}

}  // namespace

FileResult FileStore::ReplaceDocument(const QByteArray& folder, const QByteArray& name,
                                      const QList<QByteArrayView>& pieces) {
  Tidy();
  QByteArray target = folder + name;
  struct stat old {};
  bool exists = false;
  int error = 0;
  if (::lstat(target.constData(), &old) != 0) {
    if (errno != ENOENT) return FileResult::Failed(FileResult::Write, Cause(errno));
  } else {
    if (S_ISLNK(old.st_mode)) {
      // The file at the end of the link is replaced, and the link stays.
      char* real = ::realpath(target.constData(), nullptr);
      if (!real) return FileResult::Failed(FileResult::Write, NotRegularCause());
      target = QByteArray(real);
      std::free(real);
    }
    if (::stat(target.constData(), &old) != 0 || !S_ISREG(old.st_mode))
      return FileResult::Failed(FileResult::Write, NotRegularCause());
    // A document the user made read-only stays as it is.
    if (::access(target.constData(), W_OK) != 0)
      return FileResult::Failed(FileResult::Write, Cause(errno));
    if (EndsWithTxt(target.mid(target.lastIndexOf('/') + 1)) || IsTxtOfFolder(folder, old))
      return FileResult::Failed(
          FileResult::Write, QStringLiteral("この名前はテキストファイル（ログ）を指しているため、"
                                            "上書きしませんでした"));
    exists = true;
  }

  const QByteArray targetFolder = Parent(target);
  later_->files.RemoveStaleTemporaries(targetFolder);
  TempFile temp;
  if (!CreateTemp(calls_, targetFolder, &temp, &error))
    return FileResult::Failed(FileResult::Write, Cause(error));
  bool ok = true;
  for (QByteArrayView piece : pieces) {
    if (!(ok = WriteAll(calls_, temp.fd.get(), piece, &error))) break;
  }
  ok = ok && (!exists || KeepMetadata(temp.fd.get(), target, old, &error));
  if (ok && calls_.Fsync(temp.fd.get()) != 0) {
    ok = false;
    error = errno;
  }
  // The replaced document's space is freed when the last hold on it goes: later.
  if (ok && exists) {
    qint64 size = 0;
    int ignored = 0;
    later_->lingering = later_->files.OpenToRead(target, &size, &ignored);
  }
  if (ok && calls_.Rename(temp.path().constData(), target.constData()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temp.path().constData());
    return FileResult::Failed(FileResult::Write, Cause(error));
  }
  calls_.Reached(Phase::DocumentNamed);
  if (!SyncFolder(calls_, targetFolder, &error))
    return FileResult::Failed(FileResult::Unsynced, Cause(error));
  return FileResult();
}

QByteArray ProgramFolder() {
  char buffer[PATH_MAX + 1];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  QByteArray path =
      n > 0 ? QByteArray(buffer, n) : QFile::encodeName(QCoreApplication::applicationFilePath());
  return Parent(path);
}

}  // namespace parlotrim
