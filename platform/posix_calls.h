// The system calls through which the file store reaches the disk. The real ones by default;
// tests put a subclass in their place to make one of them fail, or to stop the process at a
// named phase of a rewrite, in a way that binds root as much as anyone.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdio>

#include "platform/rewrite_phase.h"

namespace parlotrim {

class PosixCalls {
 public:
  virtual ~PosixCalls() = default;

  virtual int Open(const char* path, int flags, mode_t mode = 0) {
    return ::open(path, flags | O_CLOEXEC, mode);
  }
  virtual ssize_t Pread(int fd, void* data, size_t size, off_t at) {
    return ::pread(fd, data, size, at);
  }
  virtual ssize_t Write(int fd, const void* data, size_t size) { return ::write(fd, data, size); }
  virtual ssize_t Pwrite(int fd, const void* data, size_t size, off_t at) {
    return ::pwrite(fd, data, size, at);
  }
  virtual int Fsync(int fd) { return ::fsync(fd); }
  virtual int Ftruncate(int fd, off_t size) { return ::ftruncate(fd, size); }
  virtual int Rename(const char* from, const char* to) { return ::rename(from, to); }
  virtual int Unlink(const char* path) { return ::unlink(path); }
  // Reserves room in fd without changing its length (fallocate(2), FALLOC_FL_KEEP_SIZE).
  virtual int Reserve(int fd, off_t at, off_t size);
  virtual int Fstatvfs(int fd, struct statvfs* st) { return ::fstatvfs(fd, st); }
  // Takes (F_WRLCK) or gives up (F_UNLCK) a lease on fd; see fcntl(2), F_SETLEASE.
  virtual int SetLease(int fd, int type);
  // The lease on fd as it stands: F_WRLCK while nobody waits to open the file.
  virtual int GetLease(int fd);

  // Called as a rewrite passes each phase.
  virtual void Reached(Phase) {}
};

}  // namespace parlotrim
