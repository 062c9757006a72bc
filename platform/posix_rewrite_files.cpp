#include "platform/system_files.h"

#include <dirent.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/statfs.h>

#include <QFile>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <iterator>

#include "platform/file_util.h"

namespace parlotrim {

using namespace files;

namespace {

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

quint64 Generation(int fd) {
  long generation = 0;
  return ::ioctl(fd, FS_IOC_GETVERSION, &generation) == 0 ? quint32(generation) : 0;
}

// An open file, as a copy (Base: RewriteFile) or as the log (RewriteLog).
template <typename Base>
class FileOf : public Base {
 public:
  FileOf(PosixCalls& calls, Fd fd) : calls_(calls), fd_(std::move(fd)) {}
  bool ReadAt(qint64 at, char* data, qint64 size, qint64* got, int* error) override {
    return PreadAll(calls_, fd_.get(), data, size, off_t(at), got, error);
  }
  bool WriteAt(qint64 at, QByteArrayView data, int* error) override {
    return WriteAll(calls_, fd_.get(), data, error, off_t(at));
  }
  bool Sync(int* error) override {
    if (calls_.Fsync(fd_.get()) == 0) return true;
    *error = errno;
    return false;
  }

 protected:
  PosixCalls& calls_;
  Fd fd_;
};

// The log under a write lease: a program that opens it meanwhile waits until the lease is given
// up. Where the file system has no leases, its changes are watched instead.
using File = FileOf<RewriteFile>;

class Log : public FileOf<RewriteLog> {
 public:
  enum Access { Leased, Unleased, Refused };

  // Takes the lease. A program that opens, appends to and closes the log for each line has it
  // open only for moments: a few tries let such moments pass.
  Log(PosixCalls& calls, Fd fd, const struct stat& st)
      : FileOf(calls, std::move(fd)), mode_(st.st_mode) {
    ListenForLeaseBreaks();
    for (int attempt = 0;; ++attempt) {
      if (calls.SetLease(fd_.get(), F_WRLCK) == 0) break;
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

  qint64 Snapshot() override {
    ::fstat(fd_.get(), &snapshot_);
    return snapshot_.st_size;
  }

  // A program that opened the log after the lease was taken waits for the lease to be given
  // up, but the kernel lets it in once the break time has passed since it asked.
  bool Quiet(double secondsLeft) override {
    struct stat now {};
    if (::fstat(fd_.get(), &now) != 0 || now.st_size != snapshot_.st_size ||
        now.st_mtim.tv_sec != snapshot_.st_mtim.tv_sec ||
        now.st_mtim.tv_nsec != snapshot_.st_mtim.tv_nsec ||
        now.st_ctim.tv_sec != snapshot_.st_ctim.tv_sec ||
        now.st_ctim.tv_nsec != snapshot_.st_ctim.tv_nsec)
      return false;
    if (access_ == Unleased) return true;
    const qint64 since = g_breakSince;
    if (calls_.GetLease(fd_.get()) == F_WRLCK && since == 0) return true;
    const double waited = since ? (MonotonicNanoseconds() - since) / 1e9 : 0;
    return LeaseBreakSeconds() - waited > 2 * secondsLeft + 1;
  }

  // Where the file system cannot reserve room, its free space is checked instead; where it
  // will not lengthen a file by truncation, zeros written past the end lengthen it. A log that
  // could not be lengthened is put back to its old length.
  bool Lengthen(qint64 oldSize, qint64 newSize, bool* touched, int* error) override {
    *touched = false;
    const int fd = fd_.get();
    if (calls_.Reserve(fd, off_t(oldSize), off_t(newSize - oldSize)) != 0) {
      if (errno != EOPNOTSUPP && errno != ENOSYS) return Fail(errno, error);
      struct statvfs vfs {};
      if (calls_.Fstatvfs(fd, &vfs) == 0 &&
          quint64(vfs.f_bavail) * vfs.f_frsize < quint64(newSize - oldSize))
        return Fail(ENOSPC, error);
    }
    if (calls_.Ftruncate(fd, off_t(newSize)) == 0) return true;
    if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS) return Fail(errno, error);
    *touched = true;
    // Zeros, in pieces that end on a megabyte but the last, so that a crash leaves them ending
    // on a block or at the new length.
    constexpr qint64 kPiece = 1 << 20;
    const QByteArray zeros(qMin<qint64>(newSize - oldSize, kPiece), '\0');
    for (qint64 at = oldSize, next = 0; at < newSize; at = next) {
      next = qMin(newSize, (at / kPiece + 1) * kPiece);
      const QByteArrayView piece = QByteArrayView(zeros).first(next - at);
      if (!WriteAll(calls_, fd, piece, error, off_t(at))) {
        // Back to the old length, where that works: then nothing has changed.
        *touched = calls_.Ftruncate(fd, off_t(oldSize)) != 0;
        return false;
      }
    }
    return true;
  }

  bool Cut(qint64 size, int* error) override {
    return calls_.Ftruncate(fd_.get(), off_t(size)) == 0 || Fail(errno, error);
  }

  // Its inode number and generation, and the id of its file system. Where the file system
  // numbers inodes afresh at each mount, neither lasts.
  FileIdentity Identify() override {
    struct stat st {};
    struct statfs fs {};
    FileIdentity id;
    if (::fstat(fd_.get(), &st) == 0) id.file = quint64(st.st_ino);
    id.generation = Generation(fd_.get());
    if (::fstatfs(fd_.get(), &fs) == 0) {
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

  // An ordinary user's write clears the setuid and setgid bits: they come back.
  void Written() override {
    struct stat after {};
    if (::fstat(fd_.get(), &after) == 0 && after.st_mode != mode_)
      ::fchmod(fd_.get(), mode_ & 07777);
  }

  void LetOthersIn() override {
    if (access_ == Leased) calls_.SetLease(fd_.get(), F_UNLCK);
  }

 private:
  static bool Fail(int cause, int* error) {
    *error = cause;
    return false;
  }

  const mode_t mode_;
  Access access_ = Leased;
  struct stat snapshot_ {};
};

}  // namespace

std::unique_ptr<RewriteLog> SystemFiles::OpenLog(const NativeName& path, FileResult* result,
                                                       bool* missing) {
  struct stat st {};
  int error = 0;
  bool exists = false;
  Fd fd = OpenRegular(calls_, path, O_RDWR, &st, &error, &exists);
  *missing = !exists;
  if (!fd.valid()) {
    *result = FileResult::Failed(exists && error ? FileResult::Write : FileResult::Read,
                                 OpenCause(error));
    return nullptr;
  }
  auto log = std::make_unique<Log>(calls_, std::move(fd), st);
  if (log->access() != Log::Refused) return log;
  *result = LogInUse();
  return nullptr;
}

std::unique_ptr<RewriteFile> SystemFiles::OpenToRead(const NativeName& path, qint64* size,
                                                         int* error) {
  Fd fd(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st {};
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
    *error = errno;
    return nullptr;
  }
  if (!S_ISREG(st.st_mode)) {
    *error = EINVAL;
    return nullptr;
  }
  *size = st.st_size;
  return std::make_unique<File>(calls_, std::move(fd));
}

std::unique_ptr<RewriteFile> SystemFiles::CreateTemp(const NativeName& folder,
                                                           NativeName* stem, int* error) {
  TempFile temp;
  if (!files::CreateTemp(calls_, folder, &temp, error)) return nullptr;
  *stem = temp.stem;
  return std::make_unique<File>(calls_, std::move(temp.fd));
}

bool SystemFiles::Rename(const NativeName& from, const NativeName& to, int* error) {
  if (calls_.Rename(from.constData(), to.constData()) == 0) return true;
  *error = errno;
  return false;
}

bool SystemFiles::SyncFolder(const NativeName& folder, int* error) {
  return files::SyncFolder(calls_, folder, error);
}

void SystemFiles::Remove(const NativeName& path) {
  calls_.Unlink(path.constData());
}

QList<CopyName> SystemFiles::Copies(const NativeName& folder) {
  QList<CopyName> copies;
  for (const QByteArray& entry : FolderEntries(folder)) {
    CopyName copy;
    copy.sized = IsOwnFile(entry, ".sized", &copy.stem);
    if (copy.sized || IsOwnFile(entry, ".new", &copy.stem)) {
      copy.stem.prepend(folder);
      copies.append(copy);
    }
  }
  return copies;
}

QList<RewriteFiles::Temporary> SystemFiles::Temporaries(const NativeName& folder) {
  QList<Temporary> temporaries;
  for (const QByteArray& name : FolderEntries(folder)) {
    struct stat st {};
    if (IsOwnFile(name, ".tmp") && ::lstat((folder + name).constData(), &st) == 0 &&
        S_ISREG(st.st_mode))
      temporaries.append({name, qint64(std::time(nullptr) - st.st_mtime)});
  }
  return temporaries;
}

// A live writer holds its lock until it has renamed or removed the file.
void SystemFiles::RemoveUnlessHeld(const NativeName& path) {
  const Fd fd(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (fd.valid() && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0) ::unlink(path.constData());
}

QByteArray SystemFiles::RecordName(const NativeName& name) {
  return name;
}

bool SystemFiles::NameOfRecord(const QByteArray& bytes, NativeName* name) {
  *name = bytes;
  return !bytes.isEmpty() && !bytes.contains('/') && !bytes.contains('\0') && bytes != "." &&
         bytes != "..";
}

std::unique_ptr<RewriteFile> SystemFiles::OpenLogToRead(const NativeName& path, qint64* size,
                                                        FileResult* result) {
  struct stat st {};
  int error = 0;
  bool exists = false;
  Fd fd = OpenRegular(calls_, path, O_RDONLY, &st, &error, &exists);
  if (!fd.valid()) {
    *result = FileResult::Failed(FileResult::Read, OpenCause(error));
    return nullptr;
  }
  *size = st.st_size;
  return std::make_unique<File>(calls_, std::move(fd));
}

QList<NativeName> SystemFiles::Logs(const NativeName& folder) {
  QList<NativeName> logs;
  for (const QByteArray& name : FolderEntries(folder)) {
    struct stat st {};
    if (IsLogName(name) && ::stat((folder + name).constData(), &st) == 0 && S_ISREG(st.st_mode))
      logs.append(name);
  }
  return logs;
}

QString SystemFiles::Cause(int error) {
  return files::Cause(error);
}

int SystemFiles::IoError() {
  return EIO;
}

}  // namespace parlotrim
