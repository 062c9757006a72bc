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

#include <linux/fs.h>
#include <sys/ioctl.h>

#include <QElapsedTimer>
#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <map>

#include "platform/file_util.h"

namespace parlotrim {

using namespace files;

namespace {

constexpr QByteArrayView kMagic("PRLTRIM1");
constexpr qsizetype kTrailerSize = 8 + 8 + 8 + 8 + 8 + 4 + 8;

FileResult InUse() {
  return FileResult::Failed(
      FileResult::InUse,
      QStringLiteral("ほかのプログラムがこのログファイルを開いているか、書き込んでいます"));
}

// A copy of a log's new content, named as complete.
struct Copy {
  QByteArray stem;  // folder + ".parlotrim-" + hex digits
  bool sized = false;
  qint64 oldSize = 0, newSize = 0;
  quint64 stamp = 0;  // counts up from copy to copy of a log: the newest wins
  // The log's inode and its generation (which changes when the inode is used anew): a copy is
  // never applied to another file of the same name.
  quint64 inode = 0, generation = 0;
  QByteArray name;  // of the log, in the same folder
  QByteArray path() const { return stem + (sized ? ".sized" : ".new"); }
};

QByteArray Trailer(const QByteArray& name, qint64 oldSize, qint64 newSize, quint64 stamp,
                   quint64 inode, quint64 generation) {
  QByteArray trailer(kTrailerSize, '\0');
  char* p = trailer.data();
  qToLittleEndian<quint64>(quint64(oldSize), p);
  qToLittleEndian<quint64>(quint64(newSize), p + 8);
  qToLittleEndian<quint64>(stamp, p + 16);
  qToLittleEndian<quint64>(inode, p + 24);
  qToLittleEndian<quint64>(generation, p + 32);
  qToLittleEndian<quint32>(quint32(name.size()), p + 40);
  std::copy(kMagic.begin(), kMagic.end(), p + 44);
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
      QByteArrayView(t + 44, 8) != kMagic)
    return false;
  copy->oldSize = qint64(qFromLittleEndian<quint64>(t));
  copy->newSize = qint64(qFromLittleEndian<quint64>(t + 8));
  copy->stamp = qFromLittleEndian<quint64>(t + 16);
  copy->inode = qFromLittleEndian<quint64>(t + 24);
  copy->generation = qFromLittleEndian<quint64>(t + 32);
  const qint64 nameSize = qFromLittleEndian<quint32>(t + 40);
  const qint64 body = copy->newSize + qMax<qint64>(0, copy->oldSize - copy->newSize);
  if (copy->oldSize < 0 || copy->newSize < 0 || body + nameSize + kTrailerSize != st.st_size)
    return false;
  copy->name.resize(nameSize);
  // A name the program could not have written is no log of this folder.
  return ::pread(fd.get(), copy->name.data(), size_t(nameSize), body) == nameSize &&
         !copy->name.isEmpty() && !copy->name.contains('/') && !copy->name.contains('\0') &&
         copy->name != "." && copy->name != "..";
}

quint64 Generation(int fd) {
  long generation = 0;
  return ::ioctl(fd, FS_IOC_GETVERSION, &generation) == 0 ? quint32(generation) : 0;
}

// The copies in folder, of the log name (of every log, when name is empty), made of the file
// open as fd (of any file, when fd is negative).
QList<Copy> FindCopies(const QByteArray& folder, const QByteArray& name, int fd = -1) {
  struct stat st {};
  const bool any = fd < 0 || ::fstat(fd, &st) != 0;
  const quint64 generation = any ? 0 : Generation(fd);
  QList<Copy> copies;
  for (const QByteArray& entry : FolderEntries(folder)) {
    QByteArray stem;
    const bool sized = IsOwnFile(entry, ".sized", &stem);
    Copy copy;
    if ((sized || IsOwnFile(entry, ".new", &stem)) && ReadCopy(folder + stem, sized, &copy) &&
        (name.isEmpty() || copy.name == name) &&
        (any || (copy.inode == quint64(st.st_ino) && copy.generation == generation)))
      copies.append(copy);
  }
  return copies;
}

// The kernel tells the holder of a lease that another program waits to open the file with
// SIGIO, whose default action would end the process. The handler notes when the first such
// news came, for the kernel lets the waiting program in once the break time has passed.
std::atomic<qint64> g_breakSince{0};  // monotonic nanoseconds; 0 while no break came

qint64 MonotonicNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void NoteLeaseBreak(int) {
  qint64 none = 0;
  g_breakSince.compare_exchange_strong(none, MonotonicNanoseconds());
}

void ListenForLeaseBreaks() {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = NoteLeaseBreak;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGIO, &action, nullptr) == 0;
  }();
  (void)installed;
  g_breakSince = 0;
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
    ListenForLeaseBreaks();
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
  const struct stat& Snapshot() {
    ::fstat(fd_, &snapshot_);
    return snapshot_;
  }

  // True while nobody else has written to the log since the snapshot, and the lease holds for
  // the seconds that the rest of the rewrite may take. A program that opened the log after the
  // lease was taken waits for the lease to be given up, but the kernel lets it in once the
  // break time has passed since it asked.
  bool Quiet(double secondsLeft) {
    struct stat now {};
    if (::fstat(fd_, &now) != 0 || now.st_size != snapshot_.st_size ||
        now.st_mtim.tv_sec != snapshot_.st_mtim.tv_sec ||
        now.st_mtim.tv_nsec != snapshot_.st_mtim.tv_nsec ||
        now.st_ctim.tv_sec != snapshot_.st_ctim.tv_sec ||
        now.st_ctim.tv_nsec != snapshot_.st_ctim.tv_nsec)
      return false;
    if (access_ == Unleased) return true;
    const qint64 since = g_breakSince;
    if (calls_.GetLease(fd_) == F_WRLCK && since == 0) return true;
    const double waited = since ? (MonotonicNanoseconds() - since) / 1e9 : 0;
    return LeaseBreakSeconds() - waited > 2 * secondsLeft + 1;
  }

 private:
  PosixCalls& calls_;
  const int fd_;
  Access access_ = Leased;
  struct stat snapshot_ {};
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
  // Older copies of this log go once the new one is complete: it holds all that they hold.
  const QList<Copy> older = FindCopies(folder, name, fd);
  quint64 stamp = 1;
  for (const Copy& copy : older) stamp = qMax(stamp, copy.stamp + 1);
  RemoveStaleTemporaries(folder);
  TempFile temp;
  if (!CreateTemp(calls, folder, &temp, &error))
    return FileResult::Failed(FileResult::Write, Cause(error));
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
    if (!ok && error == 0) error = EIO;  // the log got shorter meanwhile
  }
  ok =
      ok && WriteAll(calls, temp.fd.get(),
                     Trailer(name, oldSize, newSize, stamp, before.st_ino, Generation(fd)), &error);
  if (ok && calls.Fsync(temp.fd.get()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    ::unlink(temp.path().constData());
    return FileResult::Failed(FileResult::Write, Cause(error));
  }
  calls.Reached(Phase::CopyWritten);

  const QByteArray complete = temp.stem + ".new", sized = temp.stem + ".sized";
  // Gives up before the log is touched: the copy goes, for good.
  auto abandon = [&](const QByteArray& path, FileResult result) {
    ::unlink(path.constData());
    int ignored = 0;
    SyncFolder(calls, folder, &ignored);
    return result;
  };
  const bool named = calls.Rename(temp.path().constData(), complete.constData()) == 0;
  if (!named) return abandon(temp.path(), FileResult::Failed(FileResult::Write, Cause(errno)));
  for (const Copy& copy : older) ::unlink(copy.path().constData());
  if (!SyncFolder(calls, folder, &error))
    return abandon(complete, FileResult::Failed(FileResult::Write, Cause(error)));
  temp.fd = Fd();  // the lock is no longer needed: a complete copy is never taken for stale
  calls.Reached(Phase::CopyNamed);
  if (!watch.Quiet(timer.elapsed() / 1000.0)) return abandon(complete, InUse());

  // From here on a failure leaves the copy, from which the next read finishes the rewrite.
  auto damaged = [](int cause) {
    FileResult result = FileResult::Failed(FileResult::Write, Cause(cause));
    result.damaged = true;
    return result;
  };
  // The room is taken first, without changing the length, so that a full disk shows before
  // the log changes; then the length changes in one step.
  if (newSize > oldSize && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, oldSize, newSize - oldSize) != 0 &&
      errno != EOPNOTSUPP)
    return abandon(complete, FileResult::Failed(FileResult::Write, Cause(errno)));
  if (newSize != oldSize && calls.Ftruncate(fd, newSize) != 0)
    return abandon(complete, FileResult::Failed(FileResult::Write, Cause(errno)));
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
  const struct stat st = watch.Snapshot();  // what others add from here on stops the finish
  const QList<Copy> copies = FindCopies(folder, name, fd);
  if (copies.isEmpty()) return FileResult();
  const Copy& copy = *std::max_element(copies.begin(), copies.end(),
                                       [](auto& a, auto& b) { return a.stamp < b.stamp; });
  const Fd copyFd(::open(copy.path().constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!copyFd.valid()) return FileResult::Failed(FileResult::Read, Cause(errno));
  const qint64 oldTailSize = qMax<qint64>(0, copy.oldSize - copy.newSize);
  QByteArray content(copy.newSize + oldTailSize, Qt::Uninitialized);
  qint64 got = 0;
  int error = 0;
  if (!PreadAll(calls, copyFd.get(), content.data(), content.size(), 0, &got, &error) ||
      got != content.size())
    return FileResult::Failed(FileResult::Read, Cause(error ? error : EIO));
  bool unread = false;  // the log could not be read whole
  auto fileBytes = [&](qint64 from, qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    qint64 n = 0;
    unread = !PreadAll(calls, fd, bytes.data(), size, from, &n, &error) || n != size || unread;
    return bytes.first(n);
  };
  const qint64 from = copy.sized ? copy.newSize
                                 : AppendedFrom(copy.oldSize, copy.newSize,
                                                QByteArrayView(content).sliced(copy.newSize),
                                                st.st_size, fileBytes);
  const QByteArray appended = st.st_size > from ? fileBytes(from, st.st_size - from) : QByteArray();
  if (unread) return FileResult::Failed(FileResult::Read, Cause(error ? error : EIO));
  content.truncate(copy.newSize);
  // The new copy replaces the old ones as soon as it is complete.
  return WriteInPlace(calls, folder, name, fd, watch, st.st_size, {content, appended});
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
    return FileResult::Failed(exists && error ? FileResult::Write : FileResult::Read,
                              OpenCause(error));
  Watch watch(calls, fd.get());
  if (watch.access() == Watch::Refused) return InUse();
  FileResult finished = FinishWithOpenLog(calls, folder, name, fd.get(), watch);
  if (!finished.ok()) return finished;

  st = watch.Snapshot();
  if (!ReadInBlocks(
          calls, fd.get(), st.st_size, [&](QByteArrayView block) { sink(block, st.st_size); },
          &error))
    return FileResult::Failed(FileResult::Read, Cause(error));
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
  std::map<QByteArray, QList<quint64>> logs;  // the inodes each name's copies were made of
  for (const Copy& copy : FindCopies(folder, name)) logs[copy.name].append(copy.inode);
  for (const auto& [log, inodes] : logs) {
    // A copy belongs to the file it was made of; one whose name now stands for another file (or
    // none) is left alone.
    struct stat st {};
    if (::stat((folder + log).constData(), &st) != 0 || !inodes.contains(quint64(st.st_ino)))
      continue;
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
      result = FileResult::Failed(FileResult::Read, OpenCause(error));
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
