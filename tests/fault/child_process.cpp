#include "tests/fault/child_process.h"

#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace parlotrim::testing {

namespace {

constexpr int kNoPrivilegeDrop = 77;
constexpr uid_t kNobody = 65534;

bool WriteAll(int fd, const std::string& data) {
  const char* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    const ssize_t n = ::write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

ChildResult RunInChild(const std::function<std::string()>& body, const ChildSetup& setup) {
  ChildResult result;
  int fds[2];
  if (::pipe(fds) != 0) return result;
  const pid_t child = ::fork();
  if (child < 0) {
    ::close(fds[0]);
    ::close(fds[1]);
    return result;
  }
  if (child == 0) {
    ::close(fds[0]);
    if (setup.asNobody) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
        ::_exit(kNoPrivilegeDrop);
      if (!setup.mustRead.empty() && ::access(setup.mustRead.c_str(), R_OK) != 0)
        ::_exit(kNoPrivilegeDrop);
    }
    if (setup.fileSizeLimit >= 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlim_t limit = static_cast<rlim_t>(setup.fileSizeLimit);
      struct rlimit rl {
        limit, limit
      };
      if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(3);
    }
    const std::string output = body();
    ::_exit(WriteAll(fds[1], output) ? 0 : 4);
  }

  ::close(fds[1]);
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.output.append(buffer, static_cast<size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status)) {
    result.exited = true;
    result.exitCode = WEXITSTATUS(status);
    result.couldNotDropPrivileges = setup.asNobody && result.exitCode == kNoPrivilegeDrop;
  } else if (WIFSIGNALED(status)) {
    result.signal = WTERMSIG(status);
  }
  return result;
}

}  // namespace parlotrim::testing
