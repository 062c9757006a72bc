#include "platform/file_util.h"

#include <dirent.h>
#include <sys/file.h>

#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <ctime>

namespace parlotrim::files {

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.release();
  }
  return *this;
}

Fd::~Fd() {
  if (fd_ >= 0) ::close(fd_);
}

int Fd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

QString Cause(int error) {
  const char* what = nullptr;
  switch (error) {
    case ENOENT:
      what = "ファイルまたはフォルダーが見つかりません";
      break;
    case EACCES:
    case EPERM:
      what = "アクセスが許可されていません";
      break;
    case ENOSPC:
    case EDQUOT:
      what = "ディスクの空き容量が足りません";
      break;
    case EFBIG:
      what = "ファイルが大きすぎます";
      break;
    case ENAMETOOLONG:
      what = "ファイル名が長すぎます";
      break;
    case EROFS:
      what = "読み取り専用のドライブです";
      break;
    case EIO:
      what = "ディスクの読み書きでエラーが起きました";
      break;
    case EISDIR:
      what = "同じ名前のフォルダーがあります";
      break;
    case ENOTDIR:
      what = "フォルダーではないものがパスの途中にあります";
      break;
    case ENOMEM:
      what = "メモリが足りません";
      break;
    case ETXTBSY:
    case EBUSY:
      what = "ほかのプログラムが使用中です";
      break;
    default:
      break;
  }
  const QString system = QString::fromLocal8Bit(std::strerror(error));
  return what ? QString::fromUtf8(what) + QStringLiteral(" (") + system + QLatin1Char(')') : system;
}

QString NotRegularCause() {
  return QStringLiteral("通常のファイルではありません");
}

QString OpenCause(int error) {
  return error ? Cause(error) : NotRegularCause();
}

QString MemoryCause() {
  return QStringLiteral("メモリが足りません");
}

bool EndsWithTxt(QByteArrayView name) {
  if (name.size() < 4) return false;
  const QByteArrayView tail = name.last(4);
  return tail[0] == '.' && (tail[1] | 0x20) == 't' && (tail[2] | 0x20) == 'x' &&
         (tail[3] | 0x20) == 't';
}

bool IsLogName(QByteArrayView name) {
  return !name.isEmpty() && name[0] != '.' && EndsWithTxt(name);
}

Fd OpenRegular(PosixCalls& calls, const QByteArray& path, int flags, struct stat* st, int* error,
               bool* opened) {
  *opened = false;
  struct stat before {};
  if (::stat(path.constData(), &before) != 0) {
    *error = errno;
    return Fd();
  }
  *opened = true;  // it exists: what fails from here on is no read failure of a missing file
  if (!S_ISREG(before.st_mode)) {
    *error = 0;
    return Fd();
  }
  // Without blocking, in case something else took the name since the stat.
  Fd fd(calls.Open(path.constData(), flags | O_NONBLOCK | O_NOCTTY));
  if (!fd.valid()) {
    *error = errno;
    return fd;
  }
  if (::fstat(fd.get(), st) != 0 || !S_ISREG(st->st_mode) || st->st_ino != before.st_ino ||
      st->st_dev != before.st_dev) {
    *error = 0;
    return Fd();
  }
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
  return fd;
}

bool WriteAll(PosixCalls& calls, int fd, QByteArrayView data, int* error, off_t at) {
  // Writes of a megabyte: larger ones make the page cache ask for large blocks of memory, and
  // then and again wait for them to be put together. Every 8 MiB, the disk starts writing them
  // back at once, so that the sync at the end waits for little more than the last ones.
  constexpr qint64 kWrite = 1 << 20, kWriteBack = 8 << 20;
  const bool large = data.size() > kWriteBack;
  off_t position = at >= 0 ? at : large ? ::lseek(fd, 0, SEEK_CUR) : 0;
  off_t writtenBack = position;
  const char* p = data.data();
  qint64 left = data.size();
  while (left > 0) {
    const size_t want = size_t(qMin(left, kWrite));
    const ssize_t wrote = at >= 0 ? calls.Pwrite(fd, p, want, position) : calls.Write(fd, p, want);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      *error = wrote < 0 ? errno : EIO;
      return false;
    }
    p += wrote;
    position += wrote;
    left -= wrote;
    if (large && (position - writtenBack >= kWriteBack || left == 0)) {
      ::sync_file_range(fd, writtenBack, position - writtenBack, SYNC_FILE_RANGE_WRITE);
      writtenBack = position;
    }
  }
  return true;
}

bool PreadAll(PosixCalls& calls, int fd, char* data, qint64 size, off_t at, qint64* got,
              int* error) {
  *got = 0;
  while (*got < size) {
    const ssize_t n =
        calls.Pread(fd, data + *got, size_t(qMin<qint64>(size - *got, 1 << 30)), at + *got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = errno;
      return false;
    }
    if (n == 0) break;
    *got += n;
  }
  return true;
}

bool SyncFolder(PosixCalls& calls, const QByteArray& folder, int* error) {
  Fd dir(calls.Open(folder.isEmpty() ? "." : folder.constData(), O_RDONLY | O_DIRECTORY));
  if (!dir.valid() || calls.Fsync(dir.get()) != 0) {
    *error = errno;
    return false;
  }
  return true;
}

bool IsOwnFile(QByteArrayView name, QByteArrayView suffix, QByteArray* stem) {
  constexpr qsizetype kPrefixSize = sizeof kPrefix - 1;
  if (name.size() != kPrefixSize + 16 + suffix.size() || !name.startsWith(kPrefix) ||
      !name.endsWith(suffix))
    return false;
  for (char c : name.sliced(kPrefixSize, 16)) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  if (stem) *stem = name.first(kPrefixSize + 16).toByteArray();
  return true;
}

bool CreateTemp(PosixCalls& calls, const QByteArray& folder, TempFile* temp, int* error) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    temp->stem =
        folder + kPrefix +
        QByteArray::number(QRandomGenerator::system()->generate64(), 16).rightJustified(16, '0');
    temp->fd = Fd(calls.Open(temp->path().constData(), O_RDWR | O_CREAT | O_EXCL, 0600));
    if (temp->fd.valid()) {
      ::flock(temp->fd.get(), LOCK_EX | LOCK_NB);
      return true;
    }
    if (errno != EEXIST) break;
  }
  *error = errno;
  return false;
}

QList<QByteArray> FolderEntries(const QByteArray& folder) {
  QList<QByteArray> names;
  DIR* dir = ::opendir(folder.isEmpty() ? "." : folder.constData());
  if (!dir) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const QByteArray name(entry->d_name);
    if (name != "." && name != "..") names.append(name);
  }
  ::closedir(dir);
  return names;
}

}  // namespace parlotrim::files
