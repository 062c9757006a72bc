#include "tests/fault/fault_support.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <limits>

#ifdef Q_OS_WIN
#include <shellapi.h>
#else
#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#endif

namespace parlotrim::testing {

namespace {

// The writer's loop; ready and stop are files it makes, and looks for, beside the log.
int AppendLines(const QString& log, const QString& ready, const QString& stop) {
  for (int n = 1, end = 0; !end; ++n) {
    end = n > 3000 || QFile::exists(stop);
    const QByteArray line = (end ? "end " : "line ") + QByteArray::number(end ? n - 1 : n) + "\r\n";
    QFile each(log);
    // While the log is being rewritten, Windows refuses to open it for writing: try again.
    while (!each.open(QIODevice::Append | QIODevice::Unbuffered)) QThread::msleep(1);
    if (each.write(line) != line.size()) return 2;
    each.close();
    if (n == 20) QFile(ready).open(QIODevice::WriteOnly);
    if (!end) QThread::msleep(2);
  }
  return 0;
}

}  // namespace

struct Writer::Process {
  QString ready, stop;
#ifdef Q_OS_WIN
  win::Handle handle;
#else
  pid_t pid = -1;
#endif
};

Writer::Writer(const NativeName& log) : process_(std::make_unique<Process>()) {
  const QString path = QFile::decodeName(QFile::encodeName(log));
  process_->ready = path + QStringLiteral(".writer-ready");
  process_->stop = path + QStringLiteral(".writer-stop");
#ifdef Q_OS_WIN
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring command =
      QStringLiteral("\"%1\" --append \"%2\" \"%3\" \"%4\"")
          .arg(QString::fromWCharArray(self), path, process_->ready, process_->stop)
          .toStdWString();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (::CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                       &started)) {
    ::CloseHandle(started.hThread);
    process_->handle = win::Handle(started.hProcess);
  }
#else
  if ((process_->pid = ::fork()) == 0) ::_exit(AppendLines(path, process_->ready, process_->stop));
#endif
}

Writer::~Writer() {
  Stop();
}

bool Writer::WaitUntilWriting() {
  for (int i = 0; i < 60000 && !QFile::exists(process_->ready); ++i) QThread::msleep(1);
  return QFile::exists(process_->ready);
}

void Writer::Stop() {
  if (!QFile(process_->stop).open(QIODevice::WriteOnly)) return;
#ifdef Q_OS_WIN
  if (process_->handle.valid()) ::WaitForSingleObject(process_->handle.get(), INFINITE);
  process_->handle = win::Handle();
#else
  if (process_->pid > 0) ::waitpid(process_->pid, nullptr, 0);
  process_->pid = -1;
#endif
  QFile::remove(process_->ready);
  QFile::remove(process_->stop);
}

int Writer::LinesIn(const QByteArray& log) {
  QList<int> found;
  for (const QByteArray& line : log.split('\n'))
    if (line.startsWith("line ")) found << line.mid(5).trimmed().toInt();
  std::sort(found.begin(), found.end());
  for (int n = 0; n < found.size(); ++n)
    if (found[n] != n + 1) return -1;
  return log.endsWith("end " + QByteArray::number(found.size()) + "\r\n") ? int(found.size()) : -1;
}

#ifdef Q_OS_WIN
int RunWriter() {
  int count = 0;
  wchar_t** all = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  QStringList arguments;
  for (int i = 0; i < count; ++i) arguments << QString::fromWCharArray(all[i]);
  ::LocalFree(all);
  if (arguments.size() != 5 || arguments[1] != QLatin1String("--append")) return -1;
  return AppendLines(arguments[2], arguments[3], arguments[4]);
}

}  // namespace parlotrim::testing

// Wine limits no process's memory: a --wrap of the allocator refuses, while a test asks, every
// block above a size, as a process near its commit limit gets no large block.
static std::atomic<size_t> largestBlock{std::numeric_limits<size_t>::max()};

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* block, size_t size);
void* __wrap_malloc(size_t size) {
  return size > largestBlock ? nullptr : __real_malloc(size);
}
void* __wrap_calloc(size_t count, size_t size) {
  return size && count > largestBlock / size ? nullptr : __real_calloc(count, size);
}
void* __wrap_realloc(void* block, size_t size) {
  return size > largestBlock ? nullptr : __real_realloc(block, size);
}
}

namespace parlotrim::testing {

void Faults::Die() {
  throw Killed();
}

Child RunInChild(const std::function<std::string()>& body, const Limits& limits,
                 const NativeName&) {
  Child child;
  if (limits.memory >= 0) largestBlock = size_t(limits.memory);
  try {
    child.output = body();
  } catch (const Killed&) {
    child.killed = true;
  }
  largestBlock = std::numeric_limits<size_t>::max();
  return child;
}
#else
void Faults::Die() {
  ::raise(SIGKILL);
}

Child RunInChild(const std::function<std::string()>& body, const Limits& limits,
                 const NativeName& log) {
  int fds[2];
  if (::pipe(fds) != 0) return {};
  long long pages = 0;  // of address space the process has now
  std::ifstream("/proc/self/statm") >> pages;
  const pid_t pid = ::fork();
  if (pid == 0) {  // never returns into the test framework
    if (limits.asNobody && ::geteuid() == 0 &&
        (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0 ||
         ::access(log.constData(), R_OK) != 0))
      ::_exit(77);
    ::signal(SIGXFSZ, SIG_IGN);  // writes past the limit fail with EFBIG
    const long long memory =
        limits.memory < 0 ? -1 : pages * ::sysconf(_SC_PAGESIZE) + limits.memory;
    for (auto [resource, limit] :
         {std::pair{RLIMIT_FSIZE, limits.fileSize}, std::pair{RLIMIT_AS, memory}}) {
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
  int status = -1;
  if (pid > 0) ::waitpid(pid, &status, 0);
  child.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  child.noNobody = WIFEXITED(status) && WEXITSTATUS(status) == 77;
  return child;
}
#endif

}  // namespace parlotrim::testing

int main(int argc, char** argv) {
#ifdef Q_OS_WIN
  // The writer of the concurrency tests is this program again (POSIX systems fork it).
  if (const int writer = parlotrim::testing::RunWriter(); writer >= 0) return writer;
#endif
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
