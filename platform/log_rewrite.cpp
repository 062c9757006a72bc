// How a log is rewritten in place without ever being lost:
//
// 1. The log is opened for writing and a write lease is taken: there is none while another
//    program has the log open (the rewrite is refused), and a program that opens it later waits
//    until the lease is given up. Where the file system has no leases, the log is watched for
//    changes instead, and the rewrite stops if it changes before it is touched.
// 2. The log is read whole and the new content made.
// 3. The copy: a new file ".parlotrim-X.tmp" beside the log gets the new content, the old bytes
//    beyond its end, digests of the old bytes, the log's name, both sizes and what identifies
//    the log's file; it is synced and renamed to ".parlotrim-X.new", and the folder synced.
//    Only then do older copies of the log go (their removal must not reach the disk before the
//    new name does). Nothing has touched the log yet.
// 4. The log gets its new length (room for it made sure of first) and is synced; the copy is
//    renamed to ".parlotrim-X.sized".
// 5. The new content is written over the log's first bytes. From here the rewrite is complete:
//    its content is in the log, and safe in the copy. (A log that gets shorter is written
//    before it is cut, in step 4.)
// 6. The log is synced and the copy removed; where the caller asks, only once the user has
//    been told (Tidying).
//
// A crash after step 3 leaves the copy, and the next read of the log finishes the rewrite from
// it, keeping whatever other programs have appended to the log since. While the copy is named
// ".sized", those bytes begin at the new length; while it is ".new", the log's first bytes are
// still its old ones and its length is the old or the new one, which its bytes tell apart.
//
// A copy is applied only to its own log: the same file by inode number where those last, and
// in every case a log whose first bytes are, block by block, the old or the new ones. A copy of
// a log that fails this is left alone with the log, and the load of the log says so.
#include "platform/log_rewrite.h"

#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/statfs.h>

#include <QElapsedTimer>
#include <QFile>
#include <QtEndian>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <cstring>
#include <iterator>

#include "platform/file_util.h"
#include "platform/rewrite_copy.h"

namespace parlotrim {

using namespace files;

namespace {

FileResult InUse() {
  return FileResult::Failed(
      FileResult::InUse,
      QStringLiteral("ほかのプログラムがこのログファイルを開いているか、書き込んでいます"));
}

// A copy of a log's new content, named as complete.
struct Copy : CopyRecord {
  QByteArray stem;  // folder + ".parlotrim-" + hex digits
  bool sized = false;
  QByteArray path() const { return stem + (sized ? ".sized" : ".new"); }
};

ReadAt Reader(PosixCalls& calls, int fd, int* error = nullptr) {
  return [&calls, fd, error](qint64 at, qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    qint64 got = 0;
    int ignored = 0;
    if (!PreadAll(calls, fd, bytes.data(), size, at, &got, error ? error : &ignored))
      return QByteArray();
    return bytes.first(got);
  };
}

bool ReadCopy(PosixCalls& calls, const QByteArray& stem, bool sized, Copy* copy) {
  copy->stem = stem;
  copy->sized = sized;
  const Fd fd(::open(copy->path().constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  // A name the program could not have written is no log of this folder.
  return fd.valid() && ::fstat(fd.get(), &st) == 0 && S_ISREG(st.st_mode) &&
         copy->Parse(st.st_size, Reader(calls, fd.get())) && !copy->name.contains('/') &&
         !copy->name.contains('\0') && copy->name != "." && copy->name != "..";
}

quint64 Generation(int fd) {
  long generation = 0;
  return ::ioctl(fd, FS_IOC_GETVERSION, &generation) == 0 ? quint32(generation) : 0;
}

// What tells the file open as fd from another: its inode number and generation, and the id of
// its file system. Where the file system numbers inodes afresh at each mount, neither lasts.
FileIdentity Identify(int fd) {
  struct stat st {};
  struct statfs fs {};
  FileIdentity id;
  if (::fstat(fd, &st) == 0) id.file = quint64(st.st_ino);
  id.generation = Generation(fd);
  if (::fstatfs(fd, &fs) == 0) {
    // FAT, exFAT, FUSE, SMB and the shared folders of virtual machines make inode numbers up
    // as files are looked at.
    constexpr unsigned long kMadeUp[] = {0x4d44,     0x2011BAB0, 0x65735546, 0xFF534D42,
                                         0xFE534D42, 0x786f4256, 0x01021997};
    const auto type = static_cast<unsigned long>(fs.f_type);
    id.lasting = std::find(std::begin(kMadeUp), std::end(kMadeUp), type) == std::end(kMadeUp);
    quint32 halves[2];
    static_assert(sizeof halves == sizeof fs.f_fsid);
    std::memcpy(halves, &fs.f_fsid, sizeof halves);
    id.volume = id.lasting ? (quint64(halves[0]) << 32 | halves[1]) : 0;
  }
  return id;
}

// The copies in folder of the log name (of every log, when name is empty).
QList<Copy> FindCopies(PosixCalls& calls, const QByteArray& folder, const QByteArray& name) {
  QList<Copy> copies;
  for (const QByteArray& entry : FolderEntries(folder)) {
    QByteArray stem;
    const bool sized = IsOwnFile(entry, ".sized", &stem);
    Copy copy;
    if ((sized || IsOwnFile(entry, ".new", &stem)) &&
        ReadCopy(calls, folder + stem, sized, &copy) && (name.isEmpty() || copy.name == name))
      copies.append(copy);
  }
  return copies;
}

// Removes the copies of a log that a newer one has made needless, once the newer one's name is
// safe on disk: on a file system that does not keep folder changes in order, an unlink could
// otherwise outlast a power cut that the rename did not.
void RemoveOlderCopies(PosixCalls& calls, const QByteArray& folder, const QList<Copy>& older) {
  if (older.isEmpty()) return;
  for (const Copy& copy : older) calls.Unlink(copy.path().constData());
  int ignored = 0;
  SyncFolder(calls, folder, &ignored);
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

// Gives a log that grows its new length, with room for it checked before the log changes.
// Where the file system cannot reserve room, its free space is checked instead; where it will
// not lengthen a file by truncation, zeros written past the end lengthen it. A log that could
// not be lengthened is put back to its old length. Returns 0, or the cause of the failure;
// *touched tells that the log may have changed.
int Lengthen(PosixCalls& calls, int fd, qint64 oldSize, qint64 newSize, bool* touched) {
  *touched = false;
  if (calls.Reserve(fd, oldSize, newSize - oldSize) != 0) {
    if (errno != EOPNOTSUPP && errno != ENOSYS) return errno;
    struct statvfs vfs {};
    if (calls.Fstatvfs(fd, &vfs) == 0 &&
        quint64(vfs.f_bavail) * vfs.f_frsize < quint64(newSize - oldSize))
      return ENOSPC;
  }
  if (calls.Ftruncate(fd, newSize) == 0) return 0;
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return errno;
  *touched = true;
  int error = 0;
  const QByteArray zeros(qMin<qint64>(newSize - oldSize, 1 << 20), '\0');
  for (qint64 at = oldSize; at < newSize; at += zeros.size()) {
    const QByteArrayView piece = QByteArrayView(zeros).first(qMin(zeros.size(), newSize - at));
    if (!WriteAll(calls, fd, piece, &error, off_t(at))) {
      // Back to the old length, where that works: then nothing has changed.
      *touched = calls.Ftruncate(fd, oldSize) != 0;
      return error;
    }
  }
  return 0;
}

// Steps 3 to 6 of a rewrite, for a log opened as fd whose present length is oldSize. oldBlocks,
// where given, holds the digests of the whole blocks of the log as it was read.
FileResult WriteInPlace(PosixCalls& calls, const QByteArray& folder, const QByteArray& name, int fd,
                        Watch& watch, qint64 oldSize, const QList<QByteArrayView>& pieces,
                        const QList<quint64>& oldBlocks, Tidying* later = nullptr) {
  int error = 0;
  struct stat before {};
  ::fstat(fd, &before);
  // Older copies of this log go once the new one is complete: it holds all that they hold.
  const QList<Copy> older = FindCopies(calls, folder, name);
  CopyRecord record = StartRecord(Identify(fd), name, oldSize, pieces, NewestStamp(older));
  const qint64 newSize = record.newSize;
  if (!OldDigests(&record, oldBlocks, Reader(calls, fd, &error)))
    return FileResult::Failed(FileResult::Read, Cause(error ? error : EIO));
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
  ok = ok && WriteAll(calls, temp.fd.get(), record.Tail(), &error);
  if (ok && calls.Fsync(temp.fd.get()) != 0) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    calls.Unlink(temp.path().constData());
    return FileResult::Failed(FileResult::Write, Cause(error));
  }
  calls.Reached(Phase::CopyWritten);

  const QByteArray complete = temp.stem + ".new", sized = temp.stem + ".sized";
  // Gives up before the log is touched: the copy goes, for good.
  auto abandon = [&](const QByteArray& path, FileResult result) {
    calls.Unlink(path.constData());
    int ignored = 0;
    SyncFolder(calls, folder, &ignored);
    return result;
  };
  const bool named = calls.Rename(temp.path().constData(), complete.constData()) == 0;
  if (!named) return abandon(temp.path(), FileResult::Failed(FileResult::Write, Cause(errno)));
  if (!SyncFolder(calls, folder, &error))
    return abandon(complete, FileResult::Failed(FileResult::Write, Cause(error)));
  RemoveOlderCopies(calls, folder, older);
  temp.fd = Fd();  // the lock is no longer needed: a complete copy is never taken for stale
  calls.Reached(Phase::CopyNamed);
  if (!watch.Quiet(timer.elapsed() / 1000.0)) return abandon(complete, InUse());

  // From here on a failure leaves the copy, from which the next read finishes the rewrite.
  auto damaged = [](int cause) {
    FileResult result = FileResult::Failed(FileResult::Write, Cause(cause));
    result.damaged = true;
    return result;
  };
  off_t at = 0;
  auto writeContent = [&] {
    for (QByteArrayView piece : pieces) {
      if (!WriteAll(calls, fd, piece, &error, at)) return false;
      at += piece.size();
    }
    return true;
  };
  if (newSize > oldSize) {
    bool touched = false;
    if (const int failed = Lengthen(calls, fd, oldSize, newSize, &touched))
      return touched ? damaged(failed)
                     : abandon(complete, FileResult::Failed(FileResult::Write, Cause(failed)));
  } else if (newSize < oldSize) {
    // A log that gets shorter is written before it is cut (FAT through FUSE lengthens a file
    // again that is written after it was cut). Until it is cut, its old bytes past the new end
    // tell the next run where bytes that others append begin.
    if (!writeContent()) return damaged(error);
    if (calls.Fsync(fd) != 0) return damaged(errno);
    if (calls.Ftruncate(fd, newSize) != 0) return damaged(errno);
  }
  if (calls.Fsync(fd) != 0) return damaged(errno);
  calls.Reached(Phase::LogSized);
  if (calls.Rename(complete.constData(), sized.constData()) != 0) return damaged(errno);
  if (!SyncFolder(calls, folder, &error)) return damaged(error);
  if (newSize >= oldSize && !writeContent()) return damaged(error);
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
  calls.Unlink(sized.constData());
  SyncFolder(calls, folder, &error);
  return FileResult();
}

// A copy of the log that cannot be told to be this log's: nothing is done with either.
FileResult Unmatched(const Copy& copy) {
  const QByteArray file = copy.path().mid(copy.path().lastIndexOf('/') + 1);
  return UnmatchedCopy(QString::fromLatin1(file), copy.newSize);
}

// Finishes the rewrites of the log name whose copies lie in folder, with the log open as fd.
FileResult FinishWithOpenLog(PosixCalls& calls, const QByteArray& folder, const QByteArray& name,
                             int fd, Watch& watch) {
  const struct stat st = watch.Snapshot();  // what others add from here on stops the finish
  const QList<Copy> copies = FindCopies(calls, folder, name);
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
  // The copy is this log's where the file is the same one and its bytes are those of the
  // rewrite; on a file system whose inode numbers do not last, its bytes alone tell.
  const FileIdentity id = Identify(fd);
  const bool sameFile = copy.file == id.file && copy.generation == id.generation &&
                        (copy.volume == 0 || id.volume == 0 || copy.volume == id.volume);
  const bool fits =
      copy.legacy ? sameFile
                  : LogFitsCopy(copy, QByteArrayView(content).first(copy.newSize), st.st_size,
                                Reader(calls, fd, &error));
  if (!fits && error) return FileResult::Failed(FileResult::Read, Cause(error));
  if (!fits || !(sameFile || !id.lasting)) return Unmatched(copy);
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
  return WriteInPlace(calls, folder, name, fd, watch, st.st_size, {content, appended}, {});
}

}  // namespace

void Tidying::Finish(PosixCalls& calls) {
  if (log.valid() && calls.Fsync(log.get()) == 0) {
    calls.Unlink(copy.constData());
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
  BlockDigests digests;  // of the old content, by which a copy is matched to this log
  if (!ReadInBlocks(
          calls, fd.get(), st.st_size,
          [&](QByteArrayView block) {
            digests.Feed(block);
            sink(block, st.st_size);
          },
          &error))
    return FileResult::Failed(FileResult::Read, Cause(error));
  const FileResult result =
      WriteInPlace(calls, folder, name, fd.get(), watch, st.st_size, produce(),
                   digests.First(st.st_size / kDigestBlock), later);
  if (later && result.ok()) {
    // Other programs may open the log again; they find the new content.
    if (watch.access() == Watch::Leased) calls.SetLease(fd.get(), F_UNLCK);
    later->log = std::move(fd);
  }
  return result;
}

FileResult FinishInterruptedRewrite(PosixCalls& calls, const QByteArray& folder,
                                    const QByteArray& name) {
  QList<QByteArray> logs;
  for (const Copy& copy : FindCopies(calls, folder, name)) {
    if (!logs.contains(copy.name)) logs.append(copy.name);
  }
  for (const QByteArray& log : logs) {
    // Whether a copy is the log's is told with the log open; a copy of a log that is gone is
    // left alone.
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
      result = FileResult::Failed(FileResult::Read, OpenCause(error));
    }
    if (!result.ok() && !name.isEmpty()) return UnfinishedRewrite(result);
  }
  return FileResult();
}

}  // namespace parlotrim
