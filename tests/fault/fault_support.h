// What the fault, hostile-input and metadata tests share: a log folder with a scripted window
// to run the operations in, and a way to run part of a test in a forked child process.
#pragma once

#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QFile>
#include <csignal>
#include <functional>
#include <string>

#include "core/log_operations.h"
#include "core/texts.h"
#include "tests/core/fake_window.h"
#include "tests/core/test_files.h"

namespace parlotrim::testing {

enum class Op { Change, Html };

struct Session {
  LogFolder folder;
  FakeWindow window;
  Module1 module;

  // Loads name, with empty lines and separators dropped if clean; true when it was loaded.
  bool Load(const QString& name, bool clean = false) {
    DiskFileStore disk;
    window.selected = name;
    window.answers = {clean ? vbOK : vbCancel, clean ? vbOK : vbCancel};
    window.calls.clear();
    LogOperations(window, disk, folder.path(), module).LoadSequence();
    return window.calls.back() == "Focus Command1";
  }
  // Runs op with store (the disk if none); true when it completed.
  bool Run(Op op, FileStore* store = nullptr) {
    DiskFileStore disk;
    LogOperations ops(window, store ? *store : disk, folder.path(), module);
    window.calls.clear();
    window.boxes.clear();
    (ops.*(op == Op::Change ? &LogOperations::Command1_Click : &LogOperations::Command3_Click))();
    return window.boxes.back().second == texts::kCompleteTitle;
  }
};

struct Child {
  int status = -1;  // as waitpid gives it: 0 when body returned
  std::string output;
  bool NoNobody() const { return WIFEXITED(status) && WEXITSTATUS(status) == 77; }
};

// Runs body in a forked child and hands back what it returned. With sizeLimit >= 0 the child has
// that RLIMIT_FSIZE, a full disk that binds root too (SIGXFSZ ignored: writes fail with EFBIG).
// With nobodyReads it runs as the user nobody, who must be able to read that file.
inline Child RunInChild(const std::function<std::string()>& body, long long sizeLimit = -1,
                        const QString& nobodyReads = {}) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {  // never returns into the test framework
    if (!nobodyReads.isEmpty() &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0 ||
         ::access(QFile::encodeName(nobodyReads).constData(), R_OK) != 0))
      ::_exit(77);
    const rlimit limit{rlim_t(sizeLimit), rlim_t(sizeLimit)};
    ::signal(SIGXFSZ, SIG_IGN);
    if (sizeLimit >= 0 && ::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(3);
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

}  // namespace parlotrim::testing
