// Times what the user waits for in the real window (every message box answered OK at once) on a
// large Shift JIS chat log, against the fastest safe way to do the same job, the window's and
// the floor's runs taking turns. On Linux the window is offscreen and the floor is the shell
// (through /bin/sh, timed whole):
//   load             Enter on the file list to the text painted;  tac log > /dev/null
//   Change and Save  Enter on Command1 to the completion box;  tac log > tmp && sync tmp &&
//                    mv tmp log
//   HTML Save        Space on Command3 to the completion box;  the same into the document
// On Windows the window is a real one, and the floor is this program in a child process of its
// own, timed from its first call to its last (FloorSeconds): ReadFile of the whole log into one
// block for the load; then for the saves WriteFile to a new file, FlushFileBuffers and
// MoveFileExW over the log or the document.
// Before each run that writes, the log is restored and the disk settled, outside the timing.
// Each operation runs in a child process; its net peak memory is its peak resident set less
// that of a child that does the same with an empty log.
// Usage: bench_window [MB] [runs] [detail|profile]  (default 100 MB of 10^6 bytes, 5 runs; needs
// about 4.5 times the log size free in TMPDIR, else /tmp). With "detail", each timed save also
// prints where its time went: reads, writes, syncs, renames and the rest (building the text, the
// window). With "profile", it times instead the steps of a load one after the other: the read,
// the working text with its line index, the lines on screen decoded, and the text shown and
// painted.
#ifndef _WIN32
#include <spawn.h>
#include <sys/wait.h>
#endif

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "bench/bench_system.h"
#include "core/line_cleaning.h"
#include "core/line_index.h"
#include "core/log_encoding.h"
#include "core/module1.h"
#include "core/texts.h"
#include "platform/file_store.h"
#include "platform/message_box.h"
#include "ui/file_list_box.h"
#include "ui/form1.h"
#include "ui/keyword_box.h"
#include "ui/line_display.h"
#include "ui/working_text_view.h"
#include "ui/wrapping_check_box.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace {

using parlotrim::bench::Clock;
using parlotrim::bench::SecondsSince;
constexpr double kMB = 1e6;
constexpr int kMaxRuns = 64;
#ifdef _WIN32
// Under Wine, whose runs spread more: the saves at most twice the floor, and no target for
// the spread.
constexpr double kSaveVsShell = 2.0, kLoadVsTac = 1.0, kSlowestVsFastest = 0, kPeakVsSize = 1.6;
const char* const kFloorName = "floor", * const kLoadFloorName = "floor";
#else
constexpr double kSaveVsShell = 1.0, kLoadVsTac = 1.0, kSlowestVsFastest = 1.3, kPeakVsSize = 1.5;
const char* const kFloorName = "shell", * const kLoadFloorName = "tac";
#endif

enum class Operation { Load, ChangeAndSave, HtmlSave };
constexpr Operation kOperations[] = {Operation::Load, Operation::ChangeAndSave,
                                     Operation::HtmlSave};

const char* const kNames[] = {"load", "Change and Save", "HTML Save"};  // by Operation

struct Paths {
  QString folder, log, pristine, html;  // the folder ends with a separator
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
struct TimedCalls : parlotrim::SystemCalls {
  enum Kind { kRead, kWrite, kSync, kRename, kTruncate, kKinds };
  static constexpr const char* kKindNames[kKinds] = {"read", "write", "sync", "rename", "trunc"};

  // A large log is read on two threads: the times are noted one at a time.
  template <typename Call>
  auto Timed(Kind kind, Call call) {
    const Clock::time_point start = Clock::now();
    auto result = call();
    const double took = SecondsSince(start);
    const std::lock_guard<std::mutex> lock(mutex);
    total[kind] += took;
    if (spans.empty() || spans.back().kind != kind)
      spans.push_back({kind, std::chrono::duration<double>(start - begun).count(), 0, 0});
    spans.back().took += took;
    spans.back().until = SecondsSince(begun);
    return result;
  }
  using Base = parlotrim::SystemCalls;
#ifdef _WIN32
  bool ReadAt(HANDLE file, void* data, DWORD size, qint64 at, DWORD* done) override {
    return Timed(kRead, [&] { return Base::ReadAt(file, data, size, at, done); });
  }
  bool WriteAt(HANDLE file, const void* data, DWORD size, qint64 at, DWORD* done) override {
    return Timed(kWrite, [&] { return Base::WriteAt(file, data, size, at, done); });
  }
  bool Flush(HANDLE file) override {
    return Timed(kSync, [&] { return Base::Flush(file); });
  }
  bool SetSize(HANDLE file, qint64 size) override {
    return Timed(kTruncate, [&] { return Base::SetSize(file, size); });
  }
  bool Move(const wchar_t* from, const wchar_t* to) override {
    return Timed(kRename, [&] { return Base::Move(from, to); });
  }
  bool Replace(const wchar_t* target, const wchar_t* replacement) override {
    return Timed(kRename, [&] { return Base::Replace(target, replacement); });
  }
#else
  ssize_t Pread(int fd, void* data, size_t size, off_t at) override {
    return Timed(kRead, [&] { return Base::Pread(fd, data, size, at); });
  }
  ssize_t Write(int fd, const void* data, size_t size) override {
    return Timed(kWrite, [&] { return Base::Write(fd, data, size); });
  }
  ssize_t Pwrite(int fd, const void* data, size_t size, off_t at) override {
    return Timed(kWrite, [&] { return Base::Pwrite(fd, data, size, at); });
  }
  int Fsync(int fd) override {
    return Timed(kSync, [&] { return Base::Fsync(fd); });
  }
  int Ftruncate(int fd, off_t size) override {
    return Timed(kTruncate, [&] { return Base::Ftruncate(fd, size); });
  }
  int Rename(const char* from, const char* to) override {
    return Timed(kRename, [&] { return Base::Rename(from, to); });
  }
#endif

  // Calls of one kind in a row, from when the first began: the timeline of a run.
  struct Span {
    Kind kind;
    double at, took, until;
  };
  Clock::time_point begun;
  std::vector<Span> spans;
  double total[kKinds] = {};
  std::mutex mutex;
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
bool WriteLog(const QString& path, qint64 bytes) {
  QFile file(path);
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
  if (file.write(block) != block.size() || !file.flush()) return false;
  file.close();
  return parlotrim::bench::SyncFile(path);
}

// Waits for what the last run left for the disk, so that none of it lands in the next timing.
void Settle(const Paths& p) {
  parlotrim::bench::SettleFolder(p.folder);
}

// Puts the pristine log back in place, synced.
bool Restore(const Paths& p) {
  const bool ok = parlotrim::bench::CopySynced(p.pristine, p.log);
  Settle(p);
  return ok;
}

#ifndef _WIN32
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

std::string Quoted(const QString& path) {
  return "'" + path.toStdString() + "'";
}

// tac alone for the load; for the saves, the safe rewrite `tac log > to.tmp && sync to.tmp &&
// mv to.tmp to`, into the log or the document.
std::string ShellCommand(Operation op, const Paths& p) {
  if (op == Operation::Load) return "tac " + Quoted(p.log) + " > /dev/null";
  const QString& to = op == Operation::ChangeAndSave ? p.log : p.html;
  const std::string tmp = Quoted(to + ".tmp");
  return "tac " + Quoted(p.log) + " > " + tmp + " && sync " + tmp + " && mv " + tmp + " " +
         Quoted(to);
}
#endif

double FloorRun(Operation op, const Paths& p);

// In the child that runs the window on an empty log, for the memory it takes without a text.
bool g_emptyLog = false;

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
  return c.Text1->LineCount() > 1 || g_emptyLog ? seconds : -1;
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

// The folder as the file store names it.
parlotrim::NativeName NativeFolder(const QString& folder) {
#ifdef _WIN32
  return QDir::toNativeSeparators(folder);
#else
  return QFile::encodeName(folder);
#endif
}

// In the child: the window, one untimed round to warm up, then the timed rounds. With floor
// false (the empty log), the window's runs only.
void RunOperation(Operation op, const Paths& p, int runs, bool detail, bool floor, Outcome* out) {
  int argc = 1;
  char name[] = "bench_window";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  AnswerOk services;
  TimedCalls disk;
  parlotrim::FileStore files(disk);
  parlotrim::Form1 form(services, files, NativeFolder(p.folder));
  form.show();
  const parlotrim::Form1Controls& c = form.Controls();
  if (!QTest::qWaitForWindowActive(&form)) return Fail(out, "the window never became active");
  out->shownKb = parlotrim::bench::PeakResidentKb();
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
    const double shell = !floor ? 0 : Prepare(op, p) ? FloorRun(op, p) : -1;
    if (window < 0 || shell < 0)
      return Fail(out, std::string(window < 0 ? "window" : kFloorName) + " run " +
                           std::to_string(run + 1) + " failed");
    if (run >= 0) out->window[run] = window, out->shell[run] = shell;
  }
  out->peakKb = parlotrim::bench::PeakResidentKb();
}

// In the child: the steps of a load, one after the other, each timed; one untimed round first.
// Prints the median of each step.
void ProfileLoad(const Paths& p, int runs, Outcome* out) {
  int argc = 1;
  char name[] = "bench_window";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  AnswerOk services;
  parlotrim::SystemCalls calls;
  parlotrim::FileStore files(calls);
  parlotrim::Form1 form(services, files, NativeFolder(p.folder));
  form.show();
  const parlotrim::Form1Controls& c = form.Controls();
  if (!QTest::qWaitForWindowActive(&form)) return Fail(out, "the window never became active");
  parlotrim::Module1 module;  // OK to both questions
  module.NullDelete = module.LineDelete = true;
  const parlotrim::NativeName folder = NativeFolder(p.folder);
  const parlotrim::NativeName log = NativeFolder(QFileInfo(p.log).fileName());
  enum { kRead, kDetect, kText, kDecode, kShow, kRepaint, kSteps };
  const char* const steps[kSteps] = {
      "read (FileStore::ReadAll)",
      "encoding told",
      "working text and its line index",
      "decode the lines on screen",
      "show and paint",
      "paint again",
  };
  std::vector<double> took[kSteps];
  for (int run = -1; run < runs; ++run) {
    Clock::time_point start = Clock::now();
    double times[kSteps];
    auto lap = [&](int step) {
      times[step] = SecondsSince(start);
      start = Clock::now();
    };
    c.Text1->SetBytes(QByteArray());  // as a load does: the old text's memory is used again
    QByteArray data;
    if (!files.ReadAll(folder, log, &data).ok()) return Fail(out, "the read failed");
    lap(kRead);
    const parlotrim::LogFormat format = parlotrim::DetectLogFormat(data, true);
    lap(kDetect);
    parlotrim::LineIndex index;
    QByteArray text = parlotrim::TakeWorkingText(std::move(data), module, format, &index);
    lap(kText);
    qsizetype shown = 0;
    for (qsizetype n = 0; n < std::min<qsizetype>(index.LineCount(), 64); ++n)
      shown += parlotrim::LineForDisplay(index.Line(text, n), format.encoding).size();
    lap(kDecode);
    c.Text1->SetIndexedBytes(text, format.encoding, std::move(index));
    c.Text1->viewport()->repaint();
    lap(kShow);
    c.Text1->viewport()->repaint();
    lap(kRepaint);
    if (shown == 0 || c.Text1->LineCount() < 2) return Fail(out, "nothing was shown");
    if (run >= 0)
      for (int step = 0; step < kSteps; ++step) took[step].push_back(times[step]);
  }
  std::printf("\nthe steps of a load, one after the other: median of %d runs (s)\n", runs);
  double total = 0;
  for (int step = 0; step < kSteps; ++step) {
    std::sort(took[step].begin(), took[step].end());
    const double median = took[step][took[step].size() / 2];
    if (step != kRepaint) total += median;
    std::printf("  %-40s %.3f\n", steps[step], median);
  }
  std::printf("  %-40s %.3f\n", "all but the second paint", total);
}

// A child's arguments: what it runs, then the operation and the paths; for the window the runs
// and the options, for the floor nothing more.
QStringList ChildArgs(const char* what, Operation op, const Paths& p) {
  return {QString::fromLatin1(what), QString::number(int(op)), p.folder, p.log, p.pristine,
          p.html};
}

void ChildBody(const QStringList& args, void* memory, size_t) {
  Outcome* out = new (memory) Outcome;
  if (args.size() < 6) return Fail(out, "bad arguments");
  const Operation op = kOperations[std::clamp(args[1].toInt(), 0, 2)];
  const Paths p{args[2], args[3], args[4], args[5]};
  if (args[0] == QLatin1String("floor")) {
#ifdef _WIN32
    out->shell[0] = parlotrim::bench::FloorSeconds(op != Operation::Load, p.log,
                                                   op == Operation::ChangeAndSave ? p.log : p.html);
#endif
    return;
  }
  if (args[0] == QLatin1String("profile"))
    return ProfileLoad(p, std::clamp(args.value(6).toInt(), 1, kMaxRuns), out);
  g_emptyLog = args.value(8) == QLatin1String("empty");
  RunOperation(op, p, std::clamp(args.value(6).toInt(), 1, kMaxRuns),
               args.value(7) == QLatin1String("detail"), !g_emptyLog, out);
}

Outcome RunInChild(const QStringList& args) {
  Outcome out;
  if (!parlotrim::bench::RunChild(ChildBody, args, &out, sizeof out))
    Fail(&out, "the child process did not finish");
  return out;
}

// The window's runs of op; on the empty log, one run after the untimed one.
Outcome RunWindow(Operation op, const Paths& p, int runs, bool detail, bool empty) {
  return RunInChild(ChildArgs("window", op, p)
                    << QString::number(empty ? 1 : runs)
                    << QString::fromLatin1(detail && !empty ? "detail" : "-")
                    << QString::fromLatin1(empty ? "empty" : "-"));
}

double FloorRun(Operation op, const Paths& p) {
#ifdef _WIN32
  // In a process of its own, so that its memory is not the window's.
  const Outcome out = RunInChild(ChildArgs("floor", op, p));
  return out.failure[0] ? -1 : out.shell[0];
#else
  return ShellSeconds(ShellCommand(op, p));
#endif
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

// The peak above the empty log's, against the log's size.
double NetPeakPerSize(const Outcome& o, const Outcome& empty, qint64 logBytes) {
  return Mb(o.peakKb - empty.peakKb) * kMB / double(logBytes);
}

void PrintOutcome(Operation op, const Outcome& o, const Outcome& empty, int runs,
                  qint64 logBytes) {
  std::printf("\n%s (s)\n", kNames[int(op)]);
  PrintRuns("window", o.window, runs);
  PrintRuns(op == Operation::Load ? kLoadFloorName : kFloorName, o.shell, runs);
  std::printf("  median window / median %s: %.2f\n",
              op == Operation::Load ? kLoadFloorName : kFloorName,
              SpreadOf(o.window, runs).median / SpreadOf(o.shell, runs).median);
  std::printf(
      "  peak memory: %.1f MB (%.1f MB with the window shown), %.1f MB with an empty log; net "
      "%.1f MB = %.2f x the log\n",
      Mb(o.peakKb), Mb(o.shownKb), Mb(empty.peakKb), Mb(o.peakKb - empty.peakKb),
      NetPeakPerSize(o, empty, logBytes));
}

bool PrintTarget(Operation op, const char* what, double value, double limit) {
  const bool met = value <= limit;
  std::printf("  %-16s %-32s %5.2f x  (<= %.1f)  %s\n", kNames[int(op)], what, value, limit,
              met ? "met" : "MISSED");
  return met;
}

// Prints the targets; returns whether all were met.
bool PrintTargets(const Outcome* outcomes, const Outcome* empty, int runs, qint64 logBytes) {
  std::printf("\ntargets\n");
  bool all = true;
  char what[64];
  for (Operation op : kOperations) {
    const Outcome& o = outcomes[int(op)];
    const Spread w = SpreadOf(o.window, runs), s = SpreadOf(o.shell, runs);
    if (op == Operation::Load) {
      std::snprintf(what, sizeof what, "median / %s median", kLoadFloorName);
      all &= PrintTarget(op, what, w.median / s.median, kLoadVsTac);
    } else {
      std::snprintf(what, sizeof what, "median / %s median", kFloorName);
      all &= PrintTarget(op, what, w.median / s.median, kSaveVsShell);
      if (kSlowestVsFastest > 0)
        all &= PrintTarget(op, "slowest / fastest", w.slowest / w.fastest, kSlowestVsFastest);
    }
    all &= PrintTarget(op, "net peak memory / log size",
                       NetPeakPerSize(o, empty[int(op)], logBytes), kPeakVsSize);
  }
  return all;
}

}  // namespace

int main(int argc, char** argv) {
  if (parlotrim::bench::ChildMain(argc, argv, ChildBody, sizeof(Outcome)))
    return parlotrim::bench::ChildExitCode();
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 100;
  const int runs = argc > 2 ? std::atoi(argv[2]) : 5;
  const bool detail = argc > 3 && std::strcmp(argv[3], "detail") == 0;
  const bool profile = argc > 3 && std::strcmp(argv[3], "profile") == 0;
  if (!(megabytes > 0) || runs < 1 || runs > kMaxRuns) {
    std::fprintf(stderr, "usage: bench_window [MB] [runs, 1 to %d] [detail|profile]\n",
                 kMaxRuns);
    return 2;
  }
#ifndef _WIN32
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
  QTemporaryDir root;  // the pristine copy stays out of the log folder and its list
  const QString top = root.path();
  const Paths p{top + "/logs/", top + "/logs/chat.txt", top + "/pristine.dat",
                top + "/logs/chat.html"};
  // The same window on an empty log, for the memory that is not the log's.
  const Paths none{top + "/empty/", top + "/empty/chat.txt", top + "/pristine-empty.dat",
                   top + "/empty/chat.html"};
  if (!root.isValid() || !QDir().mkdir(p.folder) || !QDir().mkdir(none.folder) ||
      !WriteLog(p.pristine, qint64(megabytes * kMB)) || !Restore(p) ||
      !WriteLog(none.pristine, 0) || !Restore(none)) {
    std::fprintf(stderr, "bench_window: cannot make the log in %s\n", qPrintable(top));
    return 2;
  }
  const qint64 logBytes = QFile(p.pristine).size();
  std::printf("%lld-byte log, %d runs each\n", static_cast<long long>(logBytes), runs);

  if (profile) {
    const Outcome out =
        RunInChild(ChildArgs("profile", Operation::Load, p) << QString::number(runs));
    if (out.failure[0]) std::fprintf(stderr, "bench_window: profile: %s\n", out.failure);
    return out.failure[0] ? 1 : 0;
  }
  Outcome outcomes[3], empty[3];
  for (Operation op : kOperations) {
    empty[int(op)] = RunWindow(op, none, runs, detail, true);
    outcomes[int(op)] = RunWindow(op, p, runs, detail, false);
    for (const Outcome* o : {&empty[int(op)], &outcomes[int(op)]}) {
      if (o->failure[0]) {
        std::fprintf(stderr, "bench_window: %s%s: %s\n", kNames[int(op)],
                     o == &empty[int(op)] ? " (empty log)" : "", o->failure);
        return 1;
      }
    }
    PrintOutcome(op, outcomes[int(op)], empty[int(op)], runs, logBytes);
    if (!Restore(p)) return 1;
  }
  const bool all = PrintTargets(outcomes, empty, runs, logBytes);
  std::printf("\nall targets %s\n", all ? "met" : "NOT met");
  return 0;
}
