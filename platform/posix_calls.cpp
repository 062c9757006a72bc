#include "platform/posix_calls.h"

#include <csignal>

namespace parlotrim {

int PosixCalls::SetLease(int fd, int type) {
  // The kernel tells the holder of a lease that another program waits to open the file by
  // sending it SIGIO, whose default action ends the process. The store asks instead, so the
  // signal is only made harmless.
  static const bool ignored = [] {
    struct sigaction current {};
    if (::sigaction(SIGIO, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
      ::signal(SIGIO, SIG_IGN);
    return true;
  }();
  (void)ignored;
  return ::fcntl(fd, F_SETLEASE, type);
}

int PosixCalls::GetLease(int fd) {
  return ::fcntl(fd, F_GETLEASE);
}

}  // namespace parlotrim
