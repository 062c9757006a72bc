// What the fault and hostile-input tests share: part of a test run in a forked child, a disk
// that fails or dies on demand, and a fingerprint of a folder.
#pragma once

#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <csignal>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix_calls.h"
#include "tests/core/test_files.h"

namespace parlotrim::testing {

struct Child {
  int status = -1;  // as waitpid gives it
  std::string output;
  bool NoNobody() const { return WIFEXITED(status) && WEXITSTATUS(status) == 77; }
};

struct Limits {
  long long fileSize = -1;      // RLIMIT_FSIZE: a full disk that binds root too
  long long addressSpace = -1;  // RLIMIT_AS
  QByteArray nobodyReads;       // run as the user nobody, who must be able to read this file
};

// Runs body in a forked child and hands back what it returned.
inline Child RunInChild(const std::function<std::string()>& body, const Limits& limits = {}) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {  // never returns into the test framework
    if (!limits.nobodyReads.isEmpty() &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0 ||
         ::access(limits.nobodyReads.constData(), R_OK) != 0))
      ::_exit(77);
    ::signal(SIGXFSZ, SIG_IGN);  // writes past the limit fail with EFBIG
    for (auto [resource, limit] :
         {std::pair{RLIMIT_FSIZE, limits.fileSize}, std::pair{RLIMIT_AS, limits.addressSpace}}) {
      const rlimit value{rlim_t(limit), rlim_t(limit)};
      if (limit >= 0 && ::setrlimit(resource, &value) != 0) ::_exit(3);
    }
    const std::string out = body();
    ::_exit(::write(fds[1], out.data(), out.size()) == ssize_t(out.size()) ? 0 : 4);
  }
  ::close(fds[1]);
  Child child;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) child.output.append(buffer, n);
  ::close(fds[0]);
  if (pid > 0) ::waitpid(pid, &child.status, 0);
  return child;
}

// The disk with one thing broken for real, or a process that dies at a phase of a rewrite.
class FaultyCalls : public PosixCalls {
 public:
  enum Fault {
    None,
    FileSync,
    FolderSync,
    RenameFails,
    ShortCalls,
    NoLease,
    NoReserve,  // no room is reserved, and a file is not lengthened by truncation
    NoRoom,     // ... and the disk is full
    // Dies at the first unlink, in the state that a file system which does not keep folder
    // changes in order may leave: that unlink lasted, the renames since the folder's last sync
    // did not.
    ReorderedFolder,
  };
  Fault fault = None;
  std::optional<Phase> killAt;

  // Reads and writes that do less than they were asked, as they may.
  ssize_t Read(int fd, void* data, size_t n) override { return PosixCalls::Read(fd, data, Cut(n)); }
  ssize_t Pread(int fd, void* data, size_t n, off_t at) override {
    return PosixCalls::Pread(fd, data, Cut(n), at);
  }
  ssize_t Write(int fd, const void* data, size_t n) override {
    return PosixCalls::Write(fd, data, Cut(n));
  }
  ssize_t Pwrite(int fd, const void* data, size_t n, off_t at) override {
    return PosixCalls::Pwrite(fd, data, Cut(n), at);
  }
  int Fsync(int fd) override {
    struct stat st {};
    ::fstat(fd, &st);
    if (fault == (S_ISDIR(st.st_mode) ? FolderSync : FileSync)) return Fail(EIO);
    if (S_ISDIR(st.st_mode)) unsynced_.clear();
    return PosixCalls::Fsync(fd);
  }
  int Rename(const char* from, const char* to) override {
    if (fault == RenameFails) return Fail(EXDEV);
    const int renamed = PosixCalls::Rename(from, to);
    if (renamed == 0) unsynced_.emplace_back(from, to);
    return renamed;
  }
  int Unlink(const char* path) override {
    if (fault != ReorderedFolder) return PosixCalls::Unlink(path);
    for (auto it = unsynced_.rbegin(); it != unsynced_.rend(); ++it)
      PosixCalls::Rename(it->second.c_str(), it->first.c_str());
    PosixCalls::Unlink(path);
    ::raise(SIGKILL);
    return -1;
  }
  int Reserve(int fd, off_t at, off_t size) override {
    return fault == NoReserve || fault == NoRoom ? Fail(EOPNOTSUPP)
                                                 : PosixCalls::Reserve(fd, at, size);
  }
  int Ftruncate(int fd, off_t size) override {
    struct stat st {};
    return (fault == NoReserve || fault == NoRoom) && ::fstat(fd, &st) == 0 && size > st.st_size
               ? Fail(EPERM)
               : PosixCalls::Ftruncate(fd, size);
  }
  int Fstatvfs(int fd, struct statvfs* st) override {
    const int got = PosixCalls::Fstatvfs(fd, st);
    if (fault == NoRoom) st->f_bavail = 0;
    return got;
  }
  int SetLease(int fd, int type) override {
    return fault == NoLease && type == F_WRLCK ? Fail(EINVAL) : PosixCalls::SetLease(fd, type);
  }
  void Reached(Phase phase) override {
    if (killAt == phase) ::raise(SIGKILL);
  }

 private:
  std::vector<std::pair<std::string, std::string>> unsynced_;  // renames since a folder sync

  size_t Cut(size_t n) const { return fault == ShortCalls && n > 1 ? n / 2 : n; }
  static int Fail(int error) {
    errno = error;
    return -1;
  }
};

// Every entry of folder by name, with the bytes of a file ("/" for a folder).
inline std::map<QByteArray, QByteArray> Snapshot(const LogFolder& folder) {
  std::map<QByteArray, QByteArray> all;
  for (const QByteArray& name : folder.entries()) {
    struct stat st {};
    ::lstat(folder.file(name).constData(), &st);
    all[name] = S_ISDIR(st.st_mode) ? "/" : folder.read(name);
  }
  return all;
}

}  // namespace parlotrim::testing
