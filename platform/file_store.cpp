#include "platform/file_store.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace parlotrim {

namespace {

// Gives the new file the old one's owner, group and mode before it takes its place. A change
// of owner is refused to ordinary users; the file then stays theirs. This comes after the last
// write, because a write by an ordinary user clears the setuid and setgid bits, and the mode
// after the owner, because a change of owner clears them too.
bool KeepOwnerAndMode(QSaveFile& file, const QString& path, QString* error) {
#ifdef Q_OS_UNIX
  struct stat old;
  const QByteArray target = QFile::encodeName(QFileInfo(path).canonicalFilePath());
  if (target.isEmpty() || ::stat(target.constData(), &old) != 0) return true;  // a new file
  [[maybe_unused]] int ignored = ::fchown(file.handle(), old.st_uid, old.st_gid);
  if (::fchmod(file.handle(), old.st_mode & 07777) == 0) return true;
  *error = QString::fromLocal8Bit(std::strerror(errno));
  return false;
#else
  Q_UNUSED(file);
  Q_UNUSED(path);
  Q_UNUSED(error);
  return true;
#endif
}

}  // namespace

ReadResult DiskFileStore::ReadAll(const QString& path) {
  ReadResult result;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    result.error = file.errorString();
    return result;
  }
  // The size is only a hint: the file may change while it is read, and some files report no
  // size at all. The bytes go straight into one buffer of that size, and reading goes on until
  // the end. The buffer keeps two free bytes in front of the data, where a load puts the CR LF
  // that its text begins with, without moving a log of any size.
  constexpr qsizetype kFrontRoom = 2;
  const qint64 hint = qMax<qint64>(file.size(), 0);
  result.data.reserve(kFrontRoom + hint);
  result.data.fill('\0', kFrontRoom);
  constexpr qint64 kBlock = 64 * 1024 * 1024;
  for (;;) {
    const qsizetype at = result.data.size();
    qint64 got = 0;
    if (at < kFrontRoom + hint) {
      const qint64 want = qMin<qint64>(kFrontRoom + hint - at, kBlock);
      result.data.resize(at + want);
      got = file.read(result.data.data() + at, want);
      result.data.resize(at + qMax<qint64>(got, 0));
    } else {
      char more[64 * 1024];
      got = file.read(more, sizeof more);
      if (got > 0) result.data.append(more, got);
    }
    if (got < 0) {
      result.error = file.errorString();
      result.data = QByteArray();
      return result;
    }
    if (got == 0) break;
  }
  result.data.remove(0, kFrontRoom);  // moves the start of the data, not the bytes
  result.ok = true;
  return result;
}

ReadResult FileStore::ReadBlocks(const QString& path, const BlockSink& block) {
  ReadResult read = ReadAll(path);
  if (read.ok && !read.data.isEmpty()) block(read.data, read.data.size());
  read.data = QByteArray();
  return read;
}

ReadResult DiskFileStore::ReadBlocks(const QString& path, const BlockSink& block) {
  ReadResult result;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) {
    result.error = file.errorString();
    return result;
  }
  const qint64 size = file.size();
  // One buffer, used again for every block: the file never lies whole in memory.
  QByteArray buffer(1024 * 1024, Qt::Uninitialized);
  for (;;) {
    const qint64 got = file.read(buffer.data(), buffer.size());
    if (got < 0) {
      result.error = file.errorString();
      return result;
    }
    if (got == 0) break;
    block(QByteArrayView(buffer.constData(), got), size);
  }
  result.ok = true;
  return result;
}

bool DiskFileStore::WritePiece(QSaveFile& file, QByteArrayView piece, QString* error) {
  // QFileDevice::write may accept less than asked without setting an error: loop, and treat
  // a write that makes no progress as a failure.
  // Large pieces go in slices, and on Linux the disk starts writing each slice back at once,
  // so that the sync at the end waits for little more than the last slice.
  constexpr qint64 kSlice = 8 * 1024 * 1024;
  const char* data = piece.data();
  qint64 left = piece.size();
  while (left > 0) {
    const qint64 wrote = file.write(data, qMin(left, kSlice));
#ifdef Q_OS_LINUX
    if (wrote == kSlice && file.flush())
      ::sync_file_range(file.handle(), file.pos() - wrote, wrote, SYNC_FILE_RANGE_WRITE);
#endif
    if (wrote <= 0) {
      *error = file.errorString();
      if (file.error() == QFileDevice::NoError || error->isEmpty())
        *error = QStringLiteral("write failed");
      return false;
    }
    data += wrote;
    left -= wrote;
  }
  return true;
}

bool DiskFileStore::Flush(QSaveFile& file, QString* error) {
  if (file.flush() && file.error() == QFileDevice::NoError) return true;
  *error = file.errorString();
  return false;
}

bool DiskFileStore::Sync(QSaveFile& file, QString* error) {
#ifdef Q_OS_UNIX
  // QSaveFile's own sync ignores a failure, so the data is synced and checked here.
  if (::fsync(file.handle()) != 0) {
    *error = QString::fromLocal8Bit(std::strerror(errno));
    return false;
  }
#else
  Q_UNUSED(file);
  Q_UNUSED(error);
#endif
  return true;
}

bool DiskFileStore::Commit(QSaveFile& file, QString* error) {
  if (file.commit()) return true;
  *error = file.errorString();
  return false;
}

WriteResult DiskFileStore::Replace(const QString& path, const QList<QByteArrayView>& pieces) {
  WriteResult result;
  QSaveFile file(path);  // resolves a symbolic link: the link stays, its target is replaced
  file.setDirectWriteFallback(false);
  if (!file.open(QIODevice::WriteOnly)) {
    result.error = file.errorString();
    return result;
  }

  QString error;
  bool ok = true;
  for (QByteArrayView piece : pieces) {
    if (!(ok = WritePiece(file, piece, &error))) break;
  }
  ok = ok && Flush(file, &error) && KeepOwnerAndMode(file, path, &error) && Sync(file, &error);
  if (!ok) {
    file.cancelWriting();
    // The temporary file goes when the QSaveFile does; nothing has touched the target.
    result.error = error;
    return result;
  }
  if (!Commit(file, &error)) {
    result.error = error;
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace parlotrim
