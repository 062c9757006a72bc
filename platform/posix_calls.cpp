#include "platform/posix_calls.h"

namespace parlotrim {

int PosixCalls::SetLease(int fd, int type) {
  return ::fcntl(fd, F_SETLEASE, type);
}

int PosixCalls::GetLease(int fd) {
  return ::fcntl(fd, F_GETLEASE);
}

}  // namespace parlotrim
