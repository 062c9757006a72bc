// Times what the user waits for in the real window (offscreen, every message box answered OK at
// once) on a large Shift JIS chat log, against the fastest safe way to do the same job from a
// shell (through /bin/sh, timed whole), window and shell runs taking turns:
//   load             Enter on the file list to the text painted;  tac log > /dev/null
//   Change and Save  Enter on Command1 to the completion box;  tac log > tmp && sync tmp &&
//                    mv tmp log
//   HTML Save        Space on Command3 to the completion box;  the same into the document
// Before each run that writes, the log is restored and the disk settled, outside the timing.
// Each operation runs in a child process; its net peak memory is its VmHWM less the VmHWM it had
// with the window shown, before the first load.
// Usage: bench_window [MB] [runs] [detail]  (default 100 MB of 10^6 bytes, 5 runs; needs about
// 4.5 times the log size free in TMPDIR, else /tmp). With "detail", each timed save also prints
// where its time went: reads, writes, syncs, renames and the rest (building the text, the window).
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/texts.h"
#include "platform/file_store.h"
#include "platform/message_box.h"
#include "ui/file_list_box.h"
#include "ui/form1.h"
#include "ui/keyword_box.h"
#include "ui/working_text_view.h"
#include "ui/wrapping_check_box.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kMB = 1e6;
constexpr int kMaxRuns = 64;
constexpr double kSaveVsShell = 1.0, kLoadVsTac = 1.0, kSlowestVsFastest = 1.3, kPeakVsSize = 1.5;

double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

enum class Operation { Load, ChangeAndSave, HtmlSave };
constexpr Operation kOperations[] = {Operation::Load, Operation::ChangeAndSave,
                                     Operation::HtmlSave};

const char* const kNames[] = {"load", "Change and Save", "HTML Save"};  // by Operation

struct Paths {
  std::string folder, log, pristine, html;
};

// Answers every box with OK at once, as Enter would, and notes when the completion box came up.
struct AnswerOk : parlotrim::WindowServices {
  int MsgBox(QWidget*, const QString&, int, const QString& title) override {
    if (title == parlotrim::texts::kCompleteTitle) completed = Clock::now();
    if (title.startsWith(QStringLiteral("Err:"))) failed = true;
    return parlotrim::vbOK;
  }
  void Beep() override {}
  void SetMousePointer(int) override {}

  Clock::time_point completed;
  bool failed = false;
};

// The real system calls, each timed and added to a total by kind, for the detail lines.
struct TimedCalls : parlotrim::PosixCalls {
  enum Kind { kRead, kWrite, kSync, kRename, kTruncate, kKinds };
  static constexpr const char* kKindNames[kKinds] = {"read", "write", "sync", "rename", "trunc"};

  template <typename Call>
  auto Timed(Kind kind, Call call) {
    const Clock::time_point start = Clock::now();
    auto result = call();
    const double took = SecondsSince(start);
    total[kind] += took;
    if (spans.empty() || spans.back().kind != kind)
      spans.push_back({kind, std::chrono::duration<double>(start - begun).count(), 0, 0});
    spans.back().took += took;
    spans.back().until = SecondsSince(begun);
    return result;
  }
  ssize_t Pread(int fd, void* data, size_t size, off_t at) override {
    return Timed(kRead, [&] { return PosixCalls::Pread(fd, data, size, at); });
  }
  ssize_t Write(int fd, const void* data, size_t size) override {
    return Timed(kWrite, [&] { return PosixCalls::Write(fd, data, size); });
  }
  ssize_t Pwrite(int fd, const void* data, size_t size, off_t at) override {
    return Timed(kWrite, [&] { return PosixCalls::Pwrite(fd, data, size, at); });
  }
  int Fsync(int fd) override {
    return Timed(kSync, [&] { return PosixCalls::Fsync(fd); });
  }
  int Ftruncate(int fd, off_t size) override {
    return Timed(kTruncate, [&] { return PosixCalls::Ftruncate(fd, size); });
  }
  int Rename(const char* from, const char* to) override {
    return Timed(kRename, [&] { return PosixCalls::Rename(from, to); });
  }

  // Calls of one kind in a row, from when the first began: the timeline of a run.
  struct Span {
    Kind kind;
    double at, took, until;
  };
  Clock::time_point begun;
  std::vector<Span> spans;
  double total[kKinds] = {};
};

// A chat log of short lines: a time, a speaker and a message in Shift JIS, with a blank line
// or a separator now and then.
void PutLine(unsigned n, QByteArray& log) {
  static const QByteArray speakers[] = {"\x82\xb3\x82\xad\x82\xe7", "\x83\x5e\x83\x8d\x83\x45",
                                        "guest"};
  static const QByteArray words[] = {"\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd", "\x97\xb9\x89\xf0",
                                     "\x8d\xa1\x93\xfa\x82\xcd", "ok", "\x83\x65\x83\x58\x83\x67"};
  if (n % 37 == 0) {
    log += "\r\n";
  } else if (n % 53 == 0) {
    log += "----\r\n";
  } else {
    log += "[" + QByteArray::number(n % 24) + ":" + QByteArray::number(n % 60) + "] ";
    log += speakers[n % 3] + "\x81\x84" + words[n % 5] + words[(n / 5) % 5] + "\r\n";
  }
}

// Writes whole lines, a block at a time, until the file holds at least `bytes`; syncs it.
bool WriteLog(const std::string& path, qint64 bytes) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::WriteOnly)) return false;
  QByteArray block;
  qint64 written = 0;
  for (unsigned n = 1; written + block.size() < bytes; ++n) {
    PutLine(n, block);
    if (block.size() < (1 << 20)) continue;
    if (file.write(block) != block.size()) return false;
    written += block.size();
    block.clear();
  }
  return file.write(block) == block.size() && file.flush() && ::fsync(file.handle()) == 0;
}

// Waits for what the last run left for the disk, so that none of it lands in the next timing.
void Settle(const Paths& p) {
  const int fd = ::open(p.folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  ::syncfs(fd);
  ::close(fd);
}

// Puts the pristine log back in place, synced.
bool Restore(const Paths& p) {
  const int in = ::open(p.pristine.c_str(), O_RDONLY);
  const int out = ::open(p.log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ssize_t copied = 1;
  while (in >= 0 && out >= 0 && copied > 0)
    copied = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
  const bool ok = copied == 0 && ::fsync(out) == 0;
  if (in >= 0) ::close(in);
  if (out >= 0) ::close(out);
  Settle(p);
  return ok;
}

// Runs a command through /bin/sh; its time, or -1 when it failed.
double ShellSeconds(std::string command) {
  char sh[] = "sh", c[] = "-c";
  char* argv[] = {sh, c, command.data(), nullptr};
  const Clock::time_point start = Clock::now();
  pid_t pid = 0;
  if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv, environ) != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  const double seconds = SecondsSince(start);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

std::string Quoted(const std::string& path) {
  return "'" + path + "'";
}

// tac alone for the load; for the saves, the safe rewrite `tac log > to.tmp && sync to.tmp &&
// mv to.tmp to`, into the log or the document.
std::string ShellCommand(Operation op, const Paths& p) {
  if (op == Operation::Load) return "tac " + Quoted(p.log) + " > /dev/null";
  const std::string& to = op == Operation::ChangeAndSave ? p.log : p.html;
  const std::string tmp = Quoted(to + ".tmp");
  return "tac " + Quoted(p.log) + " > " + tmp + " && sync " + tmp + " && mv " + tmp + " " +
         Quoted(to);
}

// Before each run, untimed: the pristine log back for Change and Save, a quiet disk for both
// saves.
bool Prepare(Operation op, const Paths& p) {
  if (op == Operation::ChangeAndSave) return Restore(p);
  if (op == Operation::HtmlSave) Settle(p);
  return true;
}

// Gives the control the focus and lets the window catch up, so that nothing is left to do
// when the timing starts.
bool FocusOn(QWidget* control) {
  control->setFocus();
  QApplication::processEvents();
  return QApplication::focusWidget() == control;
}

// Enter on the file list (the log selected) to the text painted in the text window.
double WindowLoad(const parlotrim::Form1Controls& c) {
  if (!FocusOn(c.File1)) return -1;
  const Clock::time_point start = Clock::now();
  QTest::keyClick(c.File1, Qt::Key_Return);
  c.Text1->viewport()->repaint();
  const double seconds = SecondsSince(start);
  return c.Text1->LineCount() > 1 ? seconds : -1;
}

// The key on the button to the moment the completion box is asked for.
double WindowSave(AnswerOk& services, QPushButton* button, Qt::Key key, TimedCalls& disk,
                  bool detail) {
  if (!FocusOn(button)) return -1;
  disk.spans.clear();
  std::fill(std::begin(disk.total), std::end(disk.total), 0.0);
  services.completed = Clock::time_point();
  services.failed = false;
  const Clock::time_point start = Clock::now();
  disk.begun = start;
  QTest::keyClick(button, key);
  if (services.failed || services.completed == Clock::time_point()) return -1;
  const double seconds = std::chrono::duration<double>(services.completed - start).count();
  if (detail) {
    double rest = seconds;
    std::printf("    %.3f s:", seconds);
    for (int kind = 0; kind < TimedCalls::kKinds; ++kind) {
      std::printf(" %s %.3f", TimedCalls::kKindNames[kind], disk.total[kind]);
      rest -= disk.total[kind];
    }
    std::printf(", rest %.3f\n     ", rest);
    for (const TimedCalls::Span& span : disk.spans)
      std::printf(" %s %.3f-%.3f (%.3f)", TimedCalls::kKindNames[span.kind], span.at, span.until,
                  span.took);
    std::printf("\n");
  }
  return seconds;
}

double WindowRun(Operation op, AnswerOk& services, const parlotrim::Form1Controls& c,
                 TimedCalls& disk, bool detail) {
  if (op == Operation::Load) return WindowLoad(c);
  if (op == Operation::ChangeAndSave)
    return WindowSave(services, c.Command1, Qt::Key_Return, disk, detail);
  return WindowSave(services, c.Command3, Qt::Key_Space, disk, detail);
}

// What a child hands back to the parent.
struct Outcome {
  double window[kMaxRuns] = {}, shell[kMaxRuns] = {};
  long shownKb = 0, peakKb = 0;
  char failure[128] = {};
};

void Fail(Outcome* out, const std::string& what) {
  std::snprintf(out->failure, sizeof out->failure, "%s", what.c_str());
}

long StatusKb(const char* field) {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly | QIODevice::Text)) return -1;
  for (QByteArray line; !(line = status.readLine()).isEmpty();)
    if (line.startsWith(field)) return std::atol(line.constData() + std::strlen(field));
  return -1;
}

// In the child: the window, one untimed round to warm up, then the timed rounds.
void RunOperation(Operation op, const Paths& p, int runs, bool detail, Outcome* out) {
  int argc = 1;
  char name[] = "bench_window";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  AnswerOk services;
  TimedCalls disk;
  parlotrim::FileStore files(disk);
  parlotrim::Form1 form(services, files, QByteArray::fromStdString(p.folder));
  form.show();
  const parlotrim::Form1Controls& c = form.Controls();
  if (!QTest::qWaitForWindowActive(&form)) return Fail(out, "the window never became active");
  out->shownKb = StatusKb("VmHWM:");
  QTest::keyClick(c.File1, Qt::Key_Down);  // selects the log; loads nothing
  if (op != Operation::Load && WindowLoad(c) < 0) return Fail(out, "the first load failed");
  if (op == Operation::HtmlSave) {  // the lines of one hour in bold
    c.Check1->setChecked(true);
    c.Text3->setText(QStringLiteral("[12:"));
  }
  if (detail && op != Operation::Load)
    std::printf(
        "\n%s: where each run's time went, in seconds; then the calls in order, as\n"
        "kind start-end (time inside the calls)\n",
        kNames[int(op)]);
  for (int run = -1; run < runs; ++run) {
    const double window =
        Prepare(op, p) ? WindowRun(op, services, c, disk, detail && run >= 0) : -1;
    const double shell = Prepare(op, p) ? ShellSeconds(ShellCommand(op, p)) : -1;
    if (window < 0 || shell < 0)
      return Fail(out, std::string(window < 0 ? "window" : "shell") + " run " +
                           std::to_string(run + 1) + " failed");
    if (run >= 0) out->window[run] = window, out->shell[run] = shell;
  }
  out->peakKb = StatusKb("VmHWM:");
}

Outcome RunInChild(Operation op, const Paths& p, int runs, bool detail) {
  Outcome out;
  int fds[2];
  if (::pipe(fds) != 0) return Fail(&out, "no pipe"), out;
  std::fflush(stdout);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    RunOperation(op, p, runs, detail, &out);
    std::fflush(stdout);
    ::_exit(::write(fds[1], &out, sizeof out) == sizeof out ? 0 : 3);
  }
  ::close(fds[1]);
  size_t got = 0;
  while (pid > 0 && got < sizeof out) {
    const ssize_t n = ::read(fds[0], reinterpret_cast<char*>(&out) + got, sizeof out - got);
    if (n <= 0) break;
    got += size_t(n);
  }
  ::close(fds[0]);
  int status = 0;
  if (pid > 0) ::waitpid(pid, &status, 0);
  if (got != sizeof out || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    Fail(&out, "the child process did not finish");
  return out;
}

struct Spread {
  double median = 0, fastest = 0, slowest = 0;
};

Spread SpreadOf(const double* times, int runs) {
  std::vector<double> sorted(times, times + runs);
  std::sort(sorted.begin(), sorted.end());
  const int half = runs / 2;
  const double median = runs % 2 ? sorted[half] : (sorted[half - 1] + sorted[half]) / 2;
  return {median, sorted.front(), sorted.back()};
}

void PrintRuns(const char* who, const double* times, int runs) {
  const Spread s = SpreadOf(times, runs);
  std::printf("  %-7s", who);
  for (int run = 0; run < runs; ++run) std::printf(" %.3f", times[run]);
  std::printf("  | median %.3f, fastest %.3f, slowest %.3f, slowest/fastest %.2f\n", s.median,
              s.fastest, s.slowest, s.slowest / s.fastest);
}

double Mb(long kb) {
  return static_cast<double>(kb) * 1024 / kMB;
}

double NetPeakPerSize(const Outcome& o, qint64 logBytes) {
  return Mb(o.peakKb - o.shownKb) * kMB / double(logBytes);
}

void PrintOutcome(Operation op, const Outcome& o, int runs, qint64 logBytes) {
  std::printf("\n%s (s)\n", kNames[int(op)]);
  PrintRuns("window", o.window, runs);
  PrintRuns(op == Operation::Load ? "tac" : "shell", o.shell, runs);
  std::printf("  median window / median %s: %.2f\n", op == Operation::Load ? "tac" : "shell",
              SpreadOf(o.window, runs).median / SpreadOf(o.shell, runs).median);
  std::printf(
      "  peak memory: VmHWM %.1f MB, %.1f MB with the window shown; net %.1f MB = %.2f x "
      "the log\n",
      Mb(o.peakKb), Mb(o.shownKb), Mb(o.peakKb - o.shownKb), NetPeakPerSize(o, logBytes));
}

bool PrintTarget(Operation op, const char* what, double value, double limit) {
  const bool met = value <= limit;
  std::printf("  %-16s %-32s %5.2f x  (<= %.1f)  %s\n", kNames[int(op)], what, value, limit,
              met ? "met" : "MISSED");
  return met;
}

// Prints the targets; returns whether all were met.
bool PrintTargets(const Outcome* outcomes, int runs, qint64 logBytes) {
  std::printf("\ntargets\n");
  bool all = true;
  for (Operation op : kOperations) {
    const Outcome& o = outcomes[int(op)];
    const Spread w = SpreadOf(o.window, runs), s = SpreadOf(o.shell, runs);
    if (op == Operation::Load) {
      all &= PrintTarget(op, "median / tac median", w.median / s.median, kLoadVsTac);
    } else {
      all &= PrintTarget(op, "median / safe rewrite median", w.median / s.median, kSaveVsShell);
      all &= PrintTarget(op, "slowest / fastest", w.slowest / w.fastest, kSlowestVsFastest);
    }
    all &= PrintTarget(op, "net peak memory / log size", NetPeakPerSize(o, logBytes), kPeakVsSize);
  }
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 100;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  const bool detail = argc > 3 && std::strcmp(argv[3], "detail") == 0;
  if (!(megabytes > 0) || runs < 1 || runs > kMaxRuns) {
    std::fprintf(stderr, "usage: bench_window [MB] [runs, 1 to %d] [detail]\n", kMaxRuns);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir root;  // the pristine copy stays out of the log folder and its list
  const std::string top = root.path().toStdString();
  const Paths p{top + "/logs/", top + "/logs/chat.txt", top + "/pristine.dat",
                top + "/logs/chat.html"};
  if (!root.isValid() || ::mkdir(p.folder.c_str(), 0755) != 0 ||
      !WriteLog(p.pristine, qint64(megabytes * kMB)) || !Restore(p)) {
    std::fprintf(stderr, "bench_window: cannot make the log in %s\n", top.c_str());
    return 2;
  }
  const qint64 logBytes = QFile(QString::fromStdString(p.pristine)).size();
  std::printf("%lld-byte log, %d runs each\n", static_cast<long long>(logBytes), runs);

  Outcome outcomes[3];
  for (Operation op : kOperations) {
    outcomes[int(op)] = RunInChild(op, p, runs, detail);
    if (outcomes[int(op)].failure[0]) {
      std::fprintf(stderr, "bench_window: %s: %s\n", kNames[int(op)], outcomes[int(op)].failure);
      return 1;
    }
    PrintOutcome(op, outcomes[int(op)], runs, logBytes);
    if (!Restore(p)) return 1;
  }
  const bool all = PrintTargets(outcomes, runs, logBytes);
  std::printf("\nall targets %s\n", all ? "met" : "NOT met");
  return 0;
}
