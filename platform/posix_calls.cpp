#include "platform/posix_calls.h"

#include <linux/falloc.h>

namespace parlotrim {

int PosixCalls::SetLease(int fd, int type) {
  return ::fcntl(fd, F_SETLEASE, type);
}

int PosixCalls::Reserve(int fd, off_t at, off_t size) {
  return ::fallocate(fd, FALLOC_FL_KEEP_SIZE, at, size);
}

int PosixCalls::GetLease(int fd) {
  return ::fcntl(fd, F_GETLEASE);
}

}  // namespace parlotrim
