// How a log is rewritten in place without ever being lost:
//
// 1. The log is opened for writing and a write lease is taken: there is none while another
//    program has the log open (the rewrite is refused), and a program that opens it later waits
//    until the lease is given up. Where the file system has no leases, the log is watched for
//    changes instead, and the rewrite stops if it changes before it is touched.
// 2. The log is read whole and the new content made.
// 3. The copy: a new file ".parlotrim-X.tmp" beside the log gets the new content, the old bytes
//    beyond its end, the log's name and both sizes; it is synced and renamed to
//    ".parlotrim-X.new", and the folder synced. Nothing has touched the log yet.
// 4. The log gets its new length and is synced; the copy is renamed to ".parlotrim-X.sized".
// 5. The new content is written over the log's first bytes. From here the rewrite is complete:
//    its content is in the log, and safe in the copy.
// 6. The log is synced and the copy removed; where the caller asks, only once the user has
//    been told (Tidying).
//
// A crash after step 3 leaves the copy, and the next read of the log finishes the rewrite from
// it, keeping whatever other programs have appended to the log since. While the copy is named
// ".sized", those bytes begin at the new length; while it is ".new", the log's first bytes are
// still its old ones and its length is the old or the new one, which its bytes tell apart.
#include "platform/log_rewrite.h"

#include <QElapsedTimer>
#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <cerrno>
#include <ctime>
#include <map>

#include "platform/file_util.h"

namespace parlotrim {

using namespace files;

namespace {

constexpr QByteArrayView kMagic("PRLTRIM1");
constexpr qsizetype kTrailerSize = 8 + 8 + 8 + 4 + 8;

FileResult Failed(FileResult::Failure failure, const QString& cause) {
  FileResult result;
  result.failure = failure;
  result.cause = cause;
  return result;
}

FileResult InUse() {
  return Failed(
      FileResult::InUse,
      QStringLiteral("ほかのプログラムがこのログファイルを開いているか、書き込んでいます"));
}

// A copy of a log's new content, named as complete.
struct Copy {
  QByteArray stem;  // folder + ".parlotrim-" + hex digits
  bool sized = false;
  qint64 oldSize = 0, newSize = 0;
  quint64 stamp = 0;  // when it was made: the newest copy of a log wins
  QByteArray name;    // of the log, in the same folder
  QByteArray path() const { return stem + (sized ? ".sized" : ".new"); }
};

QByteArray Trailer(const QByteArray& name, qint64 oldSize, qint64 newSize) {
  QByteArray trailer(kTrailerSize, '\0');
  char* p = trailer.data();
  qToLittleEndian<quint64>(quint64(oldSize), p);
  qToLittleEndian<quint64>(quint64(newSize), p + 8);
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  qToLittleEndian<quint64>(quint64(now.tv_sec) * 1000000000ull + quint64(now.tv_nsec), p + 16);
  qToLittleEndian<quint32>(quint32(name.size()), p + 24);
  std::copy(kMagic.begin(), kMagic.end(), p + 28);
  return name + trailer;
}

bool ReadCopy(const QByteArray& stem, bool sized, Copy* copy) {
  copy->stem = stem;
  copy->sized = sized;
  const Fd fd(::open(copy->path().constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  char t[kTrailerSize];
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
      st.st_size < kTrailerSize ||
      ::pread(fd.get(), t, kTrailerSize, st.st_size - kTrailerSize) != kTrailerSize ||
      QByteArrayView(t + 28, 8) != kMagic)
    return false;
  copy->oldSize = qint64(qFromLittleEndian<quint64>(t));
  copy->newSize = qint64(qFromLittleEndian<quint64>(t + 8));
  copy->stamp = qFromLittleEndian<quint64>(t + 16);
  const qint64 nameSize = qFromLittleEndian<quint32>(t + 24);
  const qint64 body = copy->newSize + qMax<qint64>(0, copy->oldSize - copy->newSize);
  if (copy->oldSize < 0 || copy->newSize < 0 || body + nameSize + kTrailerSize != st.st_size)
    return false;
  copy->name.resize(nameSize);
  return ::pread(fd.get(), copy->name.data(), size_t(nameSize), body) == nameSize;
}

// The copies in folder, of the log name (of every log, when name is empty).
QList<Copy> FindCopies(const QByteArray& folder, const QByteArray& name) {
  QList<Copy> copies;
  for (const QByteArray& entry : FolderEntries(folder)) {
    QByteArray stem;
    const bool sized = IsOwnFile(entry, ".sized", &stem);
    Copy copy;
    if ((sized || IsOwnFile(entry, ".new", &stem)) && ReadCopy(folder + stem, sized, &copy) &&
        (name.isEmpty() || copy.name == name))
      copies.append(copy);
  }
  return copies;
}

int LeaseBreakSeconds() {
  QFile file(QStringLiteral("/proc/sys/fs/lease-break-time"));
  bool ok = false;
  const int seconds = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt(&ok) : 0;
  return ok ? seconds : 45;
}

// Whether other programs leave the log alone, as far as can be told.
class Watch {
 public:
  enum Access { Leased, Unleased, Refused };

  // Takes the lease. A program that opens, appends to and closes the log for each line has it
  // open only for moments: a few tries let such moments pass.
  Watch(PosixCalls& calls, int fd) : calls_(calls), fd_(fd) {
    for (int attempt = 0;; ++attempt) {
      if (calls.SetLease(fd, F_WRLCK) == 0) break;
      if (errno != EAGAIN) {
        access_ = Unleased;
        break;
      }
      if (attempt == 20) {
        access_ = Refused;
        break;
      }
      ::usleep(5000);
    }
    Snapshot();
  }
  Access access() const { return access_; }
  // Notes the log as it is now; a change from here on is another program's.
  void Snapshot() { ::fstat(fd_, &snapshot_); }

  // True while nobody else has written to the log, and the lease holds for the seconds that
  // the rest of the rewrite may take. A program that opened the log after the lease was taken
  // waits for the lease to be given up; the kernel lets it in after the break time.
  bool Quiet(double secondsLeft) {
    if (access_ == Unleased) {
      struct stat now {};
      return ::fstat(fd_, &now) == 0 && now.st_size == snapshot_.st_size &&
             now.st_mtim.tv_sec == snapshot_.st_mtim.tv_sec &&
             now.st_mtim.tv_nsec == snapshot_.st_mtim.tv_nsec &&
             now.st_ctim.tv_sec == snapshot_.st_ctim.tv_sec &&
             now.st_ctim.tv_nsec == snapshot_.st_ctim.tv_nsec;
    }
    if (calls_.GetLease(fd_) == F_WRLCK) return true;
    if (!breakSeen_.isValid()) breakSeen_.start();
    return LeaseBreakSeconds() - breakSeen_.elapsed() / 1000.0 > 2 * secondsLeft + 1;
  }

 private:
  PosixCalls& calls_;
  const int fd_;
  Access access_ = Leased;
  struct stat snapshot_ {};
  QElapsedTimer breakSeen_;
};

// Steps 3 to 6 of a rewrite, for a log opened as fd whose present length is oldSize.
FileResult WriteInPlace(PosixCalls& calls, const QByteArray& folder, const QByteArray& name, int fd,
                        Watch& watch, qint64 oldSize, const QList<QByteArrayView>& pieces,
                        Tidying* later = nullptr) {
  qint64 newSize = 0;
  for (QByteArrayView piece : pieces) newSize += piece.size();
  int error = 0;
  struct stat before {};
  ::fstat(fd, &before);
  RemoveStaleTemporaries(folder);
  TempFile temp;
  if (!CreateTemp(calls, folder, &temp, &error)) return Failed(FileResult::Write, Cause(error));
  QElapsedTimer timer;
  timer.start();
  bool ok = true;
  for (QByteArrayView piece : pieces) {
    if (!(ok = WriteAll(calls, temp.fd.get(), piece, &error))) break;
  }
  // The old bytes beyond the new end, by which a crash before the log got its new length is
  // told from one after.
  QByteArray block(qMin<qint64>(1 << 20, qMax<qint64>(0, oldSize - newSize)), Qt::Uninitialized);
  for (qint64 at = newSize, got = 0; ok && at < oldSize; at += got) {
    ok = PreadAll(calls, fd, block.data(), qMin<qint64>(block.size(), oldSize - at), at, &got,
                  &error) &&
         got > 0 && WriteAll(calls, temp.fd.get(), QByteArrayView(block.data(), got), &error);
    if (ok && got == 0) error = EIO;
  }
  ok = ok && WriteAll(calls, temp.fd.get(), Trailer(name, oldSize, newSize), &error);
  if (ok && calls.Fsync(temp.fd.get()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temp.path().constData());
    return Failed(FileResult::Write, Cause(error));
  }
  calls.Reached(Phase::CopyWritten);

  const QByteArray complete = temp.stem + ".new", sized = temp.stem + ".sized";
  const bool named = calls.Rename(temp.path().constData(), complete.constData()) == 0;
  if (!named) error = errno;
  if (!named || !SyncFolder(calls, folder, &error)) {
    ::unlink((named ? complete : temp.path()).constData());
    return Failed(FileResult::Write, Cause(error));
  }
  temp.fd = Fd();  // the lock is no longer needed: a complete copy is never taken for stale
  calls.Reached(Phase::CopyNamed);
  if (!watch.Quiet(timer.elapsed() / 1000.0)) {
    ::unlink(complete.constData());
    SyncFolder(calls, folder, &error);
    return InUse();
  }

  // From here on a failure leaves the copy, from which the next read finishes the rewrite.
  auto damaged = [](int cause) {
    FileResult result = Failed(FileResult::Write, Cause(cause));
    result.damaged = true;
    return result;
  };
  if (newSize > oldSize) {
    // The room is taken first, so that a full disk shows before the log changes.
    if (::fallocate(fd, 0, oldSize, newSize - oldSize) != 0 &&
        (errno != EOPNOTSUPP || calls.Ftruncate(fd, newSize) != 0)) {
      error = errno;
      calls.Ftruncate(fd, oldSize);
      ::unlink(complete.constData());
      return Failed(FileResult::Write, Cause(error));
    }
  } else if (newSize < oldSize && calls.Ftruncate(fd, newSize) != 0) {
    error = errno;
    ::unlink(complete.constData());
    return Failed(FileResult::Write, Cause(error));
  }
  if (calls.Fsync(fd) != 0) return damaged(errno);
  calls.Reached(Phase::LogSized);
  if (calls.Rename(complete.constData(), sized.constData()) != 0) return damaged(errno);
  if (!SyncFolder(calls, folder, &error)) return damaged(error);

  off_t at = 0;
  for (QByteArrayView piece : pieces) {
    if (!WriteAll(calls, fd, piece, &error, at)) return damaged(error);
    at += piece.size();
  }
  // An ordinary user's write clears the setuid and setgid bits: they come back.
  struct stat after {};
  if (::fstat(fd, &after) == 0 && after.st_mode != before.st_mode)
    ::fchmod(fd, before.st_mode & 07777);
  if (later) {
    calls.Reached(Phase::LogWritten);
    later->copy = sized;
    later->folder = folder;
    return FileResult();
  }
  if (calls.Fsync(fd) != 0) return damaged(errno);
  calls.Reached(Phase::LogWritten);
  // Should the removal not last, the next read finds the copy and finishes the rewrite once
  // more, which changes nothing.
  ::unlink(sized.constData());
  SyncFolder(calls, folder, &error);
  return FileResult();
}

// Finishes the rewrites of the log name whose copies lie in folder, with the log open as fd.
FileResult FinishWithOpenLog(PosixCalls& calls, const QByteArray& folder, const QByteArray& name,
                             int fd, Watch& watch) {
  const QList<Copy> copies = FindCopies(folder, name);
  if (copies.isEmpty()) return FileResult();
  const Copy& copy = *std::max_element(copies.begin(), copies.end(),
                                       [](auto& a, auto& b) { return a.stamp < b.stamp; });
  const Fd copyFd(::open(copy.path().constData(), O_RDONLY | O_CLOEXEC));
  struct stat st {};
  if (!copyFd.valid() || ::fstat(fd, &st) != 0) return Failed(FileResult::Read, Cause(errno));
  const qint64 oldTailSize = qMax<qint64>(0, copy.oldSize - copy.newSize);
  QByteArray content(copy.newSize + oldTailSize, Qt::Uninitialized);
  qint64 got = 0;
  int error = 0;
  if (!PreadAll(calls, copyFd.get(), content.data(), content.size(), 0, &got, &error) ||
      got != content.size())
    return Failed(FileResult::Read, Cause(error ? error : EIO));
  auto fileBytes = [&](qint64 from, qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    qint64 n = 0;
    PreadAll(calls, fd, bytes.data(), size, from, &n, &error);
    bytes.truncate(n);
    return bytes;
  };
  const qint64 from = copy.sized ? copy.newSize
                                 : AppendedFrom(copy.oldSize, copy.newSize,
                                                QByteArrayView(content).sliced(copy.newSize),
                                                st.st_size, fileBytes);
  const QByteArray appended = st.st_size > from ? fileBytes(from, st.st_size - from) : QByteArray();
  content.truncate(copy.newSize);
  watch.Snapshot();
  FileResult result = WriteInPlace(calls, folder, name, fd, watch, st.st_size, {content, appended});
  if (!result.ok()) return result;
  for (const Copy& done : copies) ::unlink(done.path().constData());
  SyncFolder(calls, folder, &error);
  return result;
}

}  // namespace

qint64 AppendedFrom(qint64 oldSize, qint64 newSize, QByteArrayView oldTail, qint64 fileSize,
                    const std::function<QByteArray(qint64, qint64)>& fileBytes) {
  if (oldSize > newSize) {
    // Not cut to length: the old bytes are still there.
    return fileSize >= oldSize && fileBytes(newSize, oldSize - newSize) == oldTail ? oldSize
                                                                                   : newSize;
  }
  if (oldSize < newSize && fileSize >= newSize) {
    // Lengthened: the new room still holds nothing but zeros.
    const QByteArray room = fileBytes(oldSize, newSize - oldSize);
    if (room.size() == newSize - oldSize && room.count('\0') == room.size()) return newSize;
  }
  return oldSize;
}

void Tidying::Finish(PosixCalls& calls) {
  if (log.valid() && calls.Fsync(log.get()) == 0) {
    ::unlink(copy.constData());
    int error = 0;
    SyncFolder(calls, folder, &error);
  }
  log = Fd();
  lingering = Fd();
}

FileResult RewriteInPlace(PosixCalls& calls, const QByteArray& folder, const QByteArray& name,
                          const FileStore::BlockSink& sink, const FileStore::Producer& produce,
                          Tidying* later) {
  struct stat st {};
  int error = 0;
  bool exists = false;
  Fd fd = OpenRegular(calls, folder + name, O_RDWR, &st, &error, &exists);
  if (!fd.valid())
    return Failed(exists && error ? FileResult::Write : FileResult::Read,
                  error ? Cause(error) : NotRegularCause());
  Watch watch(calls, fd.get());
  if (watch.access() == Watch::Refused) return InUse();
  FileResult finished = FinishWithOpenLog(calls, folder, name, fd.get(), watch);
  if (!finished.ok()) return finished;

  watch.Snapshot();
  if (::fstat(fd.get(), &st) != 0) return Failed(FileResult::Read, Cause(errno));
  QByteArray buffer(1 << 20, Qt::Uninitialized);
  for (qint64 at = 0, got = 0; at < st.st_size; at += got) {
    if (!PreadAll(calls, fd.get(), buffer.data(), qMin<qint64>(buffer.size(), st.st_size - at), at,
                  &got, &error))
      return Failed(FileResult::Read, Cause(error));
    if (got == 0) break;
    sink(QByteArrayView(buffer.constData(), got), st.st_size);
  }
  buffer = QByteArray();
  const FileResult result =
      WriteInPlace(calls, folder, name, fd.get(), watch, st.st_size, produce(), later);
  if (later && result.ok()) {
    // Other programs may open the log again; they find the new content.
    if (watch.access() == Watch::Leased) calls.SetLease(fd.get(), F_UNLCK);
    later->log = std::move(fd);
  }
  return result;
}

FileResult FinishInterruptedRewrite(PosixCalls& calls, const QByteArray& folder,
                                    const QByteArray& name) {
  std::map<QByteArray, int> logs;
  for (const Copy& copy : FindCopies(folder, name)) logs[copy.name] = 0;
  for (const auto& [log, unused] : logs) {
    struct stat st {};
    int error = 0;
    bool exists = false;
    const Fd fd = OpenRegular(calls, folder + log, O_RDWR, &st, &error, &exists);
    FileResult result;
    if (fd.valid()) {
      Watch watch(calls, fd.get());
      result = watch.access() == Watch::Refused
                   ? InUse()
                   : FinishWithOpenLog(calls, folder, log, fd.get(), watch);
    } else if (exists) {
      result = Failed(FileResult::Read, error ? Cause(error) : NotRegularCause());
    }
    if (!result.ok() && !name.isEmpty()) {
      result.cause = QStringLiteral("前回中断された書き換えを完了できません: ") + result.cause;
      result.failure = FileResult::Read;
      return result;
    }
  }
  return FileResult();
}

}  // namespace parlotrim
