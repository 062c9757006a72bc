#include "bench/bench_system.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <psapi.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace parlotrim::bench {

namespace {
int g_childExitCode = 0;
}  // namespace

int ChildExitCode() {
  return g_childExitCode;
}

#ifdef _WIN32

namespace {

std::wstring Wide(const QString& text) {
  return QDir::toNativeSeparators(text).toStdWString();
}

PROCESS_MEMORY_COUNTERS Counters() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) counters = {};
  return counters;
}

bool FlushHandle(HANDLE file) {
  const bool ok = file != INVALID_HANDLE_VALUE && ::FlushFileBuffers(file);
  if (file != INVALID_HANDLE_VALUE) ::CloseHandle(file);
  return ok;
}

HANDLE OpenForFlush(const QString& path) {
  return ::CreateFileW(Wide(path).c_str(), GENERIC_WRITE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// An argument of a command line as the C run-time splits it again.
std::wstring Quoted(const std::wstring& arg) {
  std::wstring out = L"\"";
  size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    out.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(2 * slashes, L'\\');
  return out + L"\"";
}

}  // namespace

long ResidentKb() {
  return long(Counters().WorkingSetSize / 1024);
}

long PeakResidentKb() {
  return long(Counters().PeakWorkingSetSize / 1024);
}

bool SyncFile(const QString& path) {
  return FlushHandle(OpenForFlush(path));
}

bool CopySynced(const QString& from, const QString& to) {
  return ::CopyFileW(Wide(from).c_str(), Wide(to).c_str(), FALSE) && SyncFile(to);
}

void SettleFolder(const QString& folder) {
  for (const QFileInfo& file : QDir(folder).entryInfoList(QDir::Files | QDir::Hidden))
    SyncFile(file.filePath());
}

bool RunChild(ChildBody, const QStringList& args, void* out, size_t size) {
  wchar_t program[MAX_PATH * 4];
  const DWORD length = ::GetModuleFileNameW(nullptr, program, DWORD(std::size(program)));
  if (length == 0 || length >= std::size(program)) return false;
  static int children = 0;
  const QString result = QDir::temp().filePath(
      QStringLiteral("bench-%1-%2.out").arg(::GetCurrentProcessId()).arg(++children));
  QFile::remove(result);
  std::wstring line = Quoted(program) + L" --child " + Quoted(Wide(result));
  for (const QString& arg : args) line += L" " + Quoted(arg.toStdWString());

  // The child prints where this process does.
  std::fflush(stdout);
  std::fflush(stderr);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  for (HANDLE h : {startup.hStdInput, startup.hStdOutput, startup.hStdError})
    if (h && h != INVALID_HANDLE_VALUE) ::SetHandleInformation(h, HANDLE_FLAG_INHERIT, 1);
  PROCESS_INFORMATION process{};
  std::vector<wchar_t> command(line.begin(), line.end());
  command.push_back(0);
  if (!::CreateProcessW(program, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &process))
    return false;
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  ::GetExitCodeProcess(process.hProcess, &code);
  ::CloseHandle(process.hThread);
  ::CloseHandle(process.hProcess);
  QFile file(result);
  const bool read = file.open(QIODevice::ReadOnly) &&
                    file.read(static_cast<char*>(out), qint64(size)) == qint64(size);
  file.close();
  QFile::remove(result);
  return code == 0 && read;
}

bool ChildMain(int argc, char** argv, ChildBody body, size_t size) {
  if (argc < 3 || std::strcmp(argv[1], "--child") != 0) return false;
  QStringList args;
  for (int i = 3; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
  std::vector<char> out(size);
  body(args, out.data(), size);
  std::fflush(stdout);
  QFile file(QString::fromLocal8Bit(argv[2]));
  g_childExitCode = file.open(QIODevice::WriteOnly) &&
                            file.write(out.data(), qint64(size)) == qint64(size)
                        ? 0
                        : 3;
  return true;
}

double FloorSeconds(bool save, const QString& log, const QString& to) {
  const Clock::time_point start = Clock::now();
  const HANDLE in = ::CreateFileW(Wide(log).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (in == INVALID_HANDLE_VALUE) return -1;
  LARGE_INTEGER size{};
  char* block = nullptr;
  qint64 got = 0;
  bool ok = ::GetFileSizeEx(in, &size) != 0;
  if (ok && size.QuadPart > 0)
    block = static_cast<char*>(
        ::VirtualAlloc(nullptr, SIZE_T(size.QuadPart), MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
  ok = ok && (block || size.QuadPart == 0);
  while (ok && got < size.QuadPart) {
    DWORD done = 0;
    const DWORD ask = DWORD(std::min<qint64>(size.QuadPart - got, 1 << 30));
    ok = ::ReadFile(in, block + got, ask, &done, nullptr) && done > 0;
    got += done;
  }
  ::CloseHandle(in);
  if (ok && save) {
    const std::wstring target = Wide(to), temporary = target + L".tmp";
    const HANDLE out = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
    ok = out != INVALID_HANDLE_VALUE;
    for (qint64 at = 0; ok && at < got;) {
      DWORD done = 0;
      const DWORD piece = DWORD(std::min<qint64>(got - at, 1 << 20));
      ok = ::WriteFile(out, block + at, piece, &done, nullptr) && done == piece;
      at += done;
    }
    ok = ok && ::FlushFileBuffers(out);
    if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
    ok = ok && ::MoveFileExW(temporary.c_str(), target.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  }
  if (block) ::VirtualFree(block, 0, MEM_RELEASE);
  const double seconds = SecondsSince(start);
  return ok ? seconds : -1;
}

#else

namespace {

// A "VmHWM:"-style field of /proc/self/status, in kB.
long StatusKb(const char* field) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly | QIODevice::Text)) return -1;
  for (QByteArray line; !(line = status.readLine()).isEmpty();)
    if (line.startsWith(field)) return std::atol(line.constData() + std::strlen(field));
  return -1;
}

}  // namespace

long ResidentKb() {
  return StatusKb("VmRSS:");
}

long PeakResidentKb() {
  return StatusKb("VmHWM:");
}

bool SyncFile(const QString& path) {
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool CopySynced(const QString& from, const QString& to) {
  const int in = ::open(QFile::encodeName(from).constData(), O_RDONLY);
  const int out = ::open(QFile::encodeName(to).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ssize_t copied = 1;
  while (in >= 0 && out >= 0 && copied > 0)
    copied = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
  const bool ok = copied == 0 && ::fsync(out) == 0;
  if (in >= 0) ::close(in);
  if (out >= 0) ::close(out);
  return ok;
}

void SettleFolder(const QString& folder) {
  const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::syncfs(fd);
  ::close(fd);
}

bool RunChild(ChildBody body, const QStringList& args, void* out, size_t size) {
  int fds[2];
  if (::pipe(fds) != 0) return false;
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::vector<char> filled(size);
    body(args, filled.data(), size);
    std::fflush(stdout);
    const char* p = filled.data();
    size_t left = size;
    while (left > 0) {
      const ssize_t wrote = ::write(fds[1], p, left);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) ::_exit(3);
      p += wrote;
      left -= size_t(wrote);
    }
    ::_exit(0);
  }
  ::close(fds[1]);
  size_t got = 0;
  while (pid > 0 && got < size) {
    const ssize_t n = ::read(fds[0], static_cast<char*>(out) + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += size_t(n);
  }
  ::close(fds[0]);
  int status = 0;
  while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return pid > 0 && got == size && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool ChildMain(int, char**, ChildBody, size_t) {
  return false;
}

#endif

}  // namespace parlotrim::bench
