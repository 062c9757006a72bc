#include "platform/file_store.h"

#include <sys/xattr.h>

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <new>

#include "platform/code_page.h"
#include "platform/file_util.h"
#include "platform/large_buffer.h"
#include "platform/log_rewrite.h"
#include "platform/posix_rewrite_files.h"

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

// Opens a log to read it, once any rewrite of it that a crash cut short is finished.
Fd OpenLog(PosixCalls& calls, RewriteFiles& rewrites, const QByteArray& folder,
           const QByteArray& name, struct stat* st, FileResult* result) {
  *result = FinishInterruptedRewrite(rewrites, folder, name);
  if (!result->ok()) return Fd();
  int error = 0;
  bool exists = false;
  Fd fd = OpenRegular(calls, folder + name, O_RDONLY, st, &error, &exists);
  if (!fd.valid()) *result = FileResult::Failed(FileResult::Read, OpenCause(error));
  return fd;
}

}  // namespace

struct FileStore::Later : Tidying {
  explicit Later(PosixCalls& calls) : files(calls) {}
  PosixRewriteFiles files;
  Fd lingering;  // a replaced document: freeing its space waits for this to close
};

FileStore::FileStore(SystemCalls& calls)
    : calls_(calls), later_(std::make_unique<Later>(calls)) {}

FileStore::~FileStore() {
  Tidy();
}

void FileStore::Tidy() {
  later_->Finish(later_->files);
  later_->lingering = Fd();
}

QList<QByteArray> FileStore::ListLogs(const QByteArray& folder) {
  Tidy();
  QList<QByteArray> logs;
  for (const QByteArray& name : FolderEntries(folder)) {
    struct stat st {};
    if (IsLogName(name) && ::stat((folder + name).constData(), &st) == 0 && S_ISREG(st.st_mode))
      logs.append(name);
  }
  std::sort(logs.begin(), logs.end(), [](const QByteArray& a, const QByteArray& b) {
    const int order = DecodeFileName(a).compare(DecodeFileName(b), Qt::CaseInsensitive);
    return order != 0 ? order < 0 : a < b;
  });
  return logs;
}


FileResult FileStore::ReadAll(const QByteArray& folder, const QByteArray& name, QByteArray* data) {
  struct stat st {};
  FileResult result;
  Tidy();
  const Fd fd = OpenLog(calls_, later_->files, folder, name, &st, &result);
  if (!fd.valid()) return result;
  // Two free bytes in front of the data, where a load puts the CR LF that its text begins with.
  constexpr qsizetype kFrontRoom = 2;
  if (st.st_size > qint64(std::numeric_limits<qsizetype>::max() / 2))
    return FileResult::Failed(FileResult::Read, MemoryCause());
  // The log goes to the back of the buffer, as the text of a save does later; the buffer is
  // large enough for an HTML body of this log to be built in the same memory.
  const qsizetype size = qsizetype(st.st_size);
  *data = LendLargeBuffer(kFrontRoom + size, kFrontRoom + size + size / 2 + 128);
  const qsizetype start = data->size() - size;
  qsizetype at = start;
  while (at < data->size()) {
    const ssize_t got = calls_.Read(fd.get(), data->data() + at,
                                    size_t(qMin<qsizetype>(data->size() - at, 1 << 30)));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      const int error = errno;
      *data = QByteArray();
      return FileResult::Failed(FileResult::Read, Cause(error));
    }
    if (got == 0) break;  // the file got shorter meanwhile
    at += got;
  }
  data->resize(at);
  data->remove(0, start);  // moves the start of the data, not the bytes
  return FileResult();
}

FileResult FileStore::ReadBlocks(const QByteArray& folder, const QByteArray& name,
                                 const BlockSink& sink) {
  struct stat st {};
  FileResult result;
  Tidy();
  const Fd fd = OpenLog(calls_, later_->files, folder, name, &st, &result);
  if (!fd.valid()) return result;
  int error = 0;
  if (!ReadInBlocks(
          calls_, fd.get(), st.st_size, [&](QByteArrayView block) { sink(block, st.st_size); },
          &error))
    return FileResult::Failed(FileResult::Read, Cause(error));
  return FileResult();
}

FileResult FileStore::RewriteLog(const QByteArray& folder, const QByteArray& name,
                                 const BlockSink& sink, const Producer& produce) {
  Tidy();
  return RewriteInPlace(later_->files, folder, name, sink, produce, later_.get());
}

void FileStore::FinishInterruptedRewrites(const QByteArray& folder) {
  Tidy();
  RemoveStaleTemporaries(folder);
  try {
    FinishInterruptedRewrite(later_->files, folder, QByteArray());
  } catch (const std::bad_alloc&) {
    // Too large to finish now: the load of that log tries again, and says why it cannot.
  }
}

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
  RemoveStaleTemporaries(targetFolder);
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
  if (ok && exists)
    later_->lingering = Fd(::open(target.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
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
