// Runs part of a test in a forked child, for what must not happen in the test process itself:
// a file-size limit (a full disk that holds for root too), dropped privileges (permissions that
// hold only for ordinary users), or a process that kills itself in the middle of a rewrite.
#pragma once

#include <functional>
#include <string>

namespace parlotrim::testing {

struct ChildSetup {
  // RLIMIT_FSIZE for the child, with SIGXFSZ ignored so that writes past it fail with EFBIG.
  long long fileSizeLimit = -1;
  // Run as the unprivileged user "nobody" (uid and gid 65534).
  bool asNobody = false;
  // With asNobody: a file that nobody must be able to read (the temporary folder may lie where
  // that user cannot reach); otherwise the child counts as unable to drop privileges.
  std::string mustRead;
};

struct ChildResult {
  bool exited = false;  // ended through _exit (and not by a signal)
  int exitCode = -1;
  int signal = 0;                       // the signal that ended it, if any
  std::string output;                   // what body returned (empty if the child died first)
  bool couldNotDropPrivileges = false;  // asNobody was asked for and could not be had
};

// Forks, applies setup in the child, runs body there and hands what it returns back through a
// pipe. The child never returns into the test framework: it ends with _exit.
ChildResult RunInChild(const std::function<std::string()>& body, const ChildSetup& setup = {});

}  // namespace parlotrim::testing
