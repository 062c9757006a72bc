// Shared by the fault tests: a failing disk, a dying process, another writer, the crash table.
#pragma once

#include <QByteArray>
#include <QFile>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/system_calls.h"
#ifdef Q_OS_WIN
#include "platform/win32/win_files.h"
#else
#include <sys/stat.h>
#endif
#include "tests/core/test_files.h"

namespace parlotrim::testing {

#ifdef Q_OS_WIN
constexpr bool kPosix = false;
#else
constexpr bool kPosix = true;
#endif

// A kill on Windows, which cannot fork a child: every handle closes and nothing after it runs.
struct Killed {};

struct Limits {
  long long fileSize = -1;  // a full disk that binds root too (POSIX)
  long long memory = -1;    // the memory the process may have, above what it has now
  bool asNobody = false;    // run as the user nobody, who must be able to read the log (POSIX)
};

struct Child {
  bool killed = false;
  bool noNobody = false;  // the user nobody cannot be had here
  std::string output;     // what body returned
};

// Runs body as a process that may die or have limits; log is what the user nobody must read.
Child RunInChild(const std::function<std::string()>& body, const Limits& limits = {},
                 const NativeName& log = {});

// Chat in Shift JIS, every line another, with empty lines and separators: at least size bytes.
inline QByteArray MakeLog(qsizetype size) {
  QByteArray log;
  for (int i = 0; log.size() < size; ++i)
    log += "\x94\xad\x8c\xbe " + QByteArray::number(i) + " \x82\xb1\x82\xf1\x82\xc9\x82\xbf\r\n" +
           (i % 3 ? "" : "\r\n") + (i % 7 ? "" : "----\r\n");
  return log;
}

inline std::map<NativeName, QByteArray> Snapshot(const LogFolder& folder) {
  std::map<NativeName, QByteArray> all;
  for (const NativeName& name : folder.entries()) all[name] = folder.read(name);
  return all;
}

// One thing broken, or death at a phase or write; faults a system cannot have change nothing.
struct Faults {
  enum Fault {
    None,
    FileSync,
    FolderSync,  // POSIX: Windows syncs no folder
    RenameFails,
    ReplaceFails,  // Windows: the replacement of a document
    // Windows: fails with the old document gone, the new one under its temporary name
    // (ERROR_UNABLE_TO_MOVE_REPLACEMENT); with ...NoRename no rename works.
    ReplaceLosesOld,
    ReplaceLosesOldNoRename,
    ShortCalls,  // reads and writes that do less than they were asked, as they may
    NoLease,     // POSIX: the file system has no leases
    NoReserve,   // no room is reserved, and a file is not lengthened by truncation
    NoRoom,      // ... and the disk is full
    // A file that is written after it was cut gets its old length back (FAT through FUSE).
    CutRegrows,
    // POSIX: dies at the first removal; it lasted, renames since the folder's last sync did not.
    ReorderedFolder,
  };
  explicit Faults(Fault f = None, std::optional<Phase> at = {}, int atLogWrite = 0)
      : fault(f), killAt(at), killAtLogWrite(atLogWrite) {}
  Fault fault;
  std::optional<Phase> killAt;
  int killAtLogWrite;  // dies as it is about to make this write over the log (from 1)

 protected:
  std::vector<std::pair<NativeName, NativeName>> unsynced;  // renames since a folder sync
  int logWrites = 0;
  bool logTouched = false;  // the copy is named: writes from here on are over the log

  void Reached(Phase phase) {
    if (phase == Phase::CopyNamed) logTouched = true;
    if (killAt == phase) Die();
  }
  void BeforeWrite() {
    if (logTouched && ++logWrites == killAtLogWrite) Die();
  }
  static void Die();
};

#ifdef Q_OS_WIN
class FaultyCalls : public Win32Calls, public Faults {
 public:
  using Faults::Faults;
  bool ReadAt(HANDLE file, void* data, DWORD size, qint64 at, DWORD* done) override {
    return Win32Calls::ReadAt(file, data, Cut(size), at, done);
  }
  bool WriteAt(HANDLE file, const void* data, DWORD size, qint64 at, DWORD* done) override {
    BeforeWrite();
    const bool wrote = Win32Calls::WriteAt(file, data, Cut(size), at, done);
    if (fault == CutRegrows && cutFrom_.count(file)) Win32Calls::SetSize(file, cutFrom_[file]);
    return wrote;
  }
  bool Flush(HANDLE file) override {
    return fault == FileSync ? Fail(ERROR_WRITE_FAULT) : Win32Calls::Flush(file);
  }
  bool Move(const wchar_t* from, const wchar_t* to) override {
    return fault == RenameFails || fault == ReplaceLosesOldNoRename ? Fail(ERROR_NOT_SAME_DEVICE)
                                                                    : Win32Calls::Move(from, to);
  }
  bool Replace(const wchar_t* target, const wchar_t* replacement) override {
    if (fault == ReplaceLosesOld || fault == ReplaceLosesOldNoRename) ::DeleteFileW(target);
    return fault == ReplaceFails || fault == ReplaceLosesOld || fault == ReplaceLosesOldNoRename
               ? Fail(ERROR_UNABLE_TO_MOVE_REPLACEMENT)
               : Win32Calls::Replace(target, replacement);
  }
  bool SetSize(HANDLE file, qint64 size) override {
    LARGE_INTEGER now{};
    if (fault == CutRegrows && ::GetFileSizeEx(file, &now) && size < now.QuadPart)
      cutFrom_[file] = now.QuadPart;
    return Win32Calls::SetSize(file, size);
  }
  bool Reserve(HANDLE file, qint64 size) override {
    return fault == NoReserve || fault == NoRoom ? Fail(ERROR_INVALID_PARAMETER)
                                                 : Win32Calls::Reserve(file, size);
  }
  bool FreeBytes(const wchar_t* folder, quint64* bytes) override {
    const bool got = Win32Calls::FreeBytes(folder, bytes);
    if (fault == NoRoom) *bytes = 0;
    return got;
  }
  void Reached(Phase phase) override { Faults::Reached(phase); }

 private:
  std::map<HANDLE, qint64> cutFrom_;  // files cut, and their length before
  DWORD Cut(DWORD n) const { return fault == ShortCalls && n > 1 ? n / 2 : n; }
  static bool Fail(DWORD error) {
    ::SetLastError(error);
    return false;
  }
};
#else
class FaultyCalls : public PosixCalls, public Faults {
 public:
  using Faults::Faults;
  ssize_t Pread(int fd, void* data, size_t n, off_t at) override {
    return PosixCalls::Pread(fd, data, Cut(n), at);
  }
  ssize_t Write(int fd, const void* data, size_t n) override {
    return PosixCalls::Write(fd, data, Cut(n));
  }
  ssize_t Pwrite(int fd, const void* data, size_t n, off_t at) override {
    BeforeWrite();
    const ssize_t wrote = PosixCalls::Pwrite(fd, data, Cut(n), at);
    if (fault == CutRegrows && cutFrom_.count(fd)) PosixCalls::Ftruncate(fd, cutFrom_[fd]);
    return wrote;
  }
  int Fsync(int fd) override {
    struct stat st {};
    ::fstat(fd, &st);
    if (fault == (S_ISDIR(st.st_mode) ? FolderSync : FileSync)) return Fail(EIO);
    if (S_ISDIR(st.st_mode)) unsynced.clear();
    return PosixCalls::Fsync(fd);
  }
  int Rename(const char* from, const char* to) override {
    if (fault == RenameFails) return Fail(EXDEV);
    const int renamed = PosixCalls::Rename(from, to);
    if (renamed == 0) unsynced.emplace_back(from, to);
    return renamed;
  }
  int Unlink(const char* path) override {
    if (fault != ReorderedFolder) return PosixCalls::Unlink(path);
    for (auto it = unsynced.rbegin(); it != unsynced.rend(); ++it)
      PosixCalls::Rename(it->second.constData(), it->first.constData());
    PosixCalls::Unlink(path);
    Die();
    return -1;
  }
  int Reserve(int fd, off_t at, off_t size) override {
    return fault == NoReserve || fault == NoRoom ? Fail(EOPNOTSUPP)
                                                 : PosixCalls::Reserve(fd, at, size);
  }
  int Ftruncate(int fd, off_t size) override {
    struct stat st {};
    ::fstat(fd, &st);
    if ((fault == NoReserve || fault == NoRoom) && size > st.st_size) return Fail(EPERM);
    if (fault == CutRegrows && size < st.st_size) cutFrom_[fd] = st.st_size;
    return PosixCalls::Ftruncate(fd, size);
  }
  int Fstatvfs(int fd, struct statvfs* st) override {
    const int got = PosixCalls::Fstatvfs(fd, st);
    if (fault == NoRoom) st->f_bavail = 0;
    return got;
  }
  int SetLease(int fd, int type) override {
    return fault == NoLease && type == F_WRLCK ? Fail(EINVAL) : PosixCalls::SetLease(fd, type);
  }
  void Reached(Phase phase) override { Faults::Reached(phase); }

 private:
  std::map<int, off_t> cutFrom_;  // files cut, and their length before
  size_t Cut(size_t n) const { return fault == ShortCalls && n > 1 ? n / 2 : n; }
  static int Fail(int error) {
    errno = error;
    return -1;
  }
};
#endif

// Another program (forked, or this one with --append on Windows) appends "line N" every 2 ms,
// reopening the log each time, until stopped; then "end" and the count.
class Writer {
 public:
  explicit Writer(const NativeName& log);
  ~Writer();
  bool WaitUntilWriting();  // true once it has written its first lines
  void Stop();
  // How many lines it wrote, where log holds each of them once and its end; -1 where it does not.
  static int LinesIn(const QByteArray& log);

 private:
  struct Process;
  std::unique_ptr<Process> process_;
};

#ifdef Q_OS_WIN
// Runs the test program as the writer, where its arguments say so; -1 where they do not.
int RunWriter();
#endif

// The crash table: a rewrite killed at every phase and write, then the next start finishing it.
struct CrashDisk {
  QByteArray parent;  // the folder in which the logs lie; empty: a temporary folder
  std::function<bool()> remount = [] { return true; };  // between a crash and the next start
  // A real file system: writes may fail, a remounted copy may go unmatched (the load refuses).
  bool real = false;
};
void RunCrashTable(const CrashDisk& disk);

inline QString Path(const LogFolder& f, const NativeName& name) {  // for QFile
  return QFile::decodeName(QFile::encodeName(f.file(name)));
}

// Every file's last write an hour back: what a dead process left is stale after ten minutes.
void AgeAll(const LogFolder& f);

}  // namespace parlotrim::testing
