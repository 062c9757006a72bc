// The Windows file store when the disk fails, the process dies, another program writes the log,
// memory runs out, the names lie: nothing is lost, and the user is told what is true. A process
// that dies is stood in for by an exception at the phase: as at a kill, every handle closes and
// nothing after that point runs.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <atomic>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/line_cleaning.h"
#include "core/texts.h"
#include "platform/code_page.h"
#include "platform/win32/win_files.h"
#include "tests/core/test_files.h"

namespace parlotrim {
namespace {

using namespace testing;

struct Killed {};

// The disk with one thing broken, or a process that dies at a phase of a rewrite.
class FaultyCalls : public Win32Calls {
 public:
  enum Fault { None, FlushFails, MoveFails, ReplaceFails, ShortCalls, NoReserve, NoRoom };
  Fault fault = None;
  std::optional<Phase> killAt;

  bool ReadAt(HANDLE file, void* data, DWORD size, qint64 at, DWORD* done) override {
    return Win32Calls::ReadAt(file, data, Cut(size), at, done);
  }
  bool WriteAt(HANDLE file, const void* data, DWORD size, qint64 at, DWORD* done) override {
    return Win32Calls::WriteAt(file, data, Cut(size), at, done);
  }
  bool Flush(HANDLE file) override {
    return fault == FlushFails ? Fail(ERROR_WRITE_FAULT) : Win32Calls::Flush(file);
  }
  bool Move(const wchar_t* from, const wchar_t* to) override {
    return fault == MoveFails ? Fail(ERROR_NOT_SAME_DEVICE) : Win32Calls::Move(from, to);
  }
  bool Replace(const wchar_t* target, const wchar_t* replacement) override {
    return fault == ReplaceFails ? Fail(ERROR_UNABLE_TO_MOVE_REPLACEMENT)
                            : Win32Calls::Replace(target, replacement);
  }
  bool Reserve(HANDLE file, qint64 size) override {
    return fault == NoReserve || fault == NoRoom ? Fail(ERROR_INVALID_PARAMETER)
                                                 : Win32Calls::Reserve(file, size);
  }
  bool FreeBytes(const wchar_t* folder, quint64* bytes) override {
    const bool got = Win32Calls::FreeBytes(folder, bytes);
    if (fault == NoRoom) *bytes = 0;
    return got;
  }
  void Reached(Phase phase) override {
    if (killAt == phase) throw Killed();
  }

 private:
  DWORD Cut(DWORD n) const { return fault == ShortCalls && n > 1 ? n / 2 : n; }
  static bool Fail(DWORD error) {
    ::SetLastError(error);
    return false;
  }
};

QByteArray MakeLog(qsizetype size) {
  return QByteArray("\x94\xad\x8c\xbe line\r\n\r\n----\r\n").repeated(size / 18 + 1);
}

std::map<QString, QByteArray> Snapshot(const LogFolder& folder) {
  std::map<QString, QByteArray> all;
  for (const QString& name : folder.entries())
    all[name] = QFileInfo(folder.file(name)).isDir() ? "/" : folder.read(name);
  return all;
}

void SetAttributes(const QString& path, DWORD add) {
  ::SetFileAttributesW(win::W(path), ::GetFileAttributesW(win::W(path)) | add);
}

struct Fault {
  const char* name;
  std::function<void(const LogFolder&)> setup;  // after the load, before the operation
  QString change, html;                         // the box each ends with; "" where it does not run
  FaultyCalls::Fault fault = FaultyCalls::None;
};

TEST(FaultMatrix, FailureLeavesFilesAndTellsTheUser) {
  const QString read = texts::kReadErrorTitle, write = texts::kWriteErrorTitle;
  const QString done = texts::kCompleteTitle, inUse = texts::kInUseTitle;
  const auto none = [](const LogFolder&) {};
  win::Handle writer;  // another program's handle, open for writing
  const std::vector<Fault> faults = {
      {"log deleted", [](const LogFolder& f) { f.remove("log.txt"); }, read, read},
      {"log replaced by a folder",
       [](const LogFolder& f) {
         f.remove("log.txt");
         f.mkdir("log.txt");
       },
       read, read},
      {"another program has the log open for writing",
       [&](const LogFolder& f) {
         writer = win::Handle(::CreateFileW(win::W(f.file("log.txt")), FILE_APPEND_DATA,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
       },
       inUse, done},
      {"flush fails", none, write, write, FaultyCalls::FlushFails},
      {"rename fails", none, write, write, FaultyCalls::MoveFails},
      {"short reads and writes", none, done, done, FaultyCalls::ShortCalls},
      {"no room reserved", none, done, "", FaultyCalls::NoReserve},
      {"the same, on a full disk", none, write, "", FaultyCalls::NoRoom},
      {"log read-only", [](const LogFolder& f) { SetAttributes(f.file("log.txt"), FILE_ATTRIBUTE_READONLY); },
       write, done},
      {"document read-only",
       [](const LogFolder& f) {
         f.write("log.html", "old");
         SetAttributes(f.file("log.html"), FILE_ATTRIBUTE_READONLY);
       },
       "", write},
      {"document replacement fails", [](const LogFolder& f) { f.write("log.html", "old"); }, "",
       write, FaultyCalls::ReplaceFails},
      {"document name taken by a folder", [](const LogFolder& f) { f.mkdir("log.html"); }, "",
       write},
      {"document hard link of a log",
       [](const LogFolder& f) {
         ::CreateHardLinkW(win::W(f.file("log.html")), win::W(f.file("other.TXT")), nullptr);
       },
       "", write},
  };
  for (const Fault& fault : faults) {
    for (Op op : {Op::Change, Op::Html}) {
      const QString expected = op == Op::Change ? fault.change : fault.html;
      if (expected.isEmpty()) continue;
      SCOPED_TRACE(std::string(fault.name) + (op == Op::Change ? ", Change" : ", HTML"));
      Session s;
      const QByteArray log = MakeLog(3000);
      s.folder.write("log.txt", log);
      s.folder.write("other.TXT", "another log");
      ASSERT_TRUE(s.Load("log.txt"));
      fault.setup(s.folder);
      const auto before = Snapshot(s.folder);
      FaultyCalls calls;
      calls.fault = fault.fault;
      s.Run(op, &calls);
      writer = win::Handle();
      const Box& box = s.window.boxes.back();
      EXPECT_EQ(box.title, expected);
      EXPECT_EQ(box.pointer, vbDefault);
      if (expected != done) {
        EXPECT_EQ(Snapshot(s.folder), before);
        EXPECT_EQ(s.window.label6, "Before");
      } else if (op == Op::Change) {
        EXPECT_TRUE(s.folder.read("log.txt") == BuildConvertedText(log, {}) + "\r\n");
      }
    }
  }
}

// Killed at every phase of a rewrite that grows or shrinks the log, and once more while the
// next start finishes it: the run after ends with the old or the new content and no file of
// its own.
TEST(Crash, NextRunFinishesOrForgetsTheRewrite) {
  const QByteArray log = "A\r\n\r\n--\r\nB\r\n";
  const std::vector<std::pair<Phase, bool>> phases = {{Phase::CopyWritten, false},
                                                      {Phase::CopyNamed, true},
                                                      {Phase::LogSized, true},
                                                      {Phase::LogWritten, true}};
  for (const auto& [phase, finished] : phases) {
    for (bool clean : {false, true}) {
      SCOPED_TRACE(std::to_string(int(phase)) + (clean ? " shrinks" : " grows"));
      Session s;
      s.folder.write("log.txt", log);
      ASSERT_TRUE(s.Load("log.txt", clean));
      FaultyCalls calls;
      calls.killAt = phase;
      EXPECT_THROW(s.Run(Op::Change, &calls), Killed);
      FaultyCalls dies;
      dies.killAt = Phase::CopyNamed;
      try {
        FileStore(dies).FinishInterruptedRewrites(s.folder.path());
      } catch (const Killed&) {
      }
      // What a dead process left unfinished is stale once untouched for ten minutes.
      for (const QString& name : s.folder.entries()) {
        QFile file(s.folder.file(name));
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.setFileTime(QDateTime(QDate(2001, 1, 1), QTime()), QFileDevice::FileModificationTime);
      }
      FaultyCalls next;
      next.fault = FaultyCalls::ShortCalls;
      FileStore(next).FinishInterruptedRewrites(s.folder.path());
      const QByteArray rewritten = clean ? "B\r\nA\r\n\r\n" : "B\r\n--\r\n\r\nA\r\n\r\n";
      EXPECT_EQ(s.folder.read("log.txt"), finished ? rewritten : log);
      EXPECT_EQ(s.folder.entries(), QList<QString>{"log.txt"});
    }
  }
}

// Another program that appends "line 1", "line 2", ... to the log every two milliseconds, holding
// it open for writing or opening it for each line, until told to stop; then "end" and the number
// of lines it wrote. While the log is being rewritten its opens are refused, and it tries again.
// It runs as this test program started with --append, so that it is a process of its own.
int AppendLines(const wchar_t* path, bool holds, const wchar_t* ready, const wchar_t* stop) {
  const win::Handle readyEvent(::OpenEventW(EVENT_MODIFY_STATE, FALSE, ready));
  const win::Handle stopEvent(::OpenEventW(SYNCHRONIZE, FALSE, stop));
  auto open = [&] {
    for (;;) {
      win::Handle file(::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
      if (file.valid() || ::GetLastError() != ERROR_SHARING_VIOLATION) return file;
      ::Sleep(1);
    }
  };
  win::Handle held = holds ? open() : win::Handle();
  for (int n = 1, end = 0; !end; ++n) {
    end = n > 3000 || ::WaitForSingleObject(stopEvent.get(), 2) == WAIT_OBJECT_0;
    const QByteArray line = (end ? "end " : "line ") + QByteArray::number(end ? n - 1 : n) + "\r\n";
    const win::Handle each = holds ? win::Handle() : open();
    DWORD written = 0;
    if (!::WriteFile(holds ? held.get() : each.get(), line.constData(), DWORD(line.size()),
                     &written, nullptr) ||
        written != DWORD(line.size()))
      return 2;
    if (n == 20) ::SetEvent(readyEvent.get());
  }
  return 0;
}

class Writer {
 public:
  Writer(const QString& path, bool holds) {
    static int made = 0;
    const QString tag = QStringLiteral("parlotrim-%1-%2").arg(::GetCurrentProcessId()).arg(++made);
    ready_ = win::Handle(::CreateEventW(nullptr, TRUE, FALSE, win::W(tag + QStringLiteral("-ready"))));
    stop_ = win::Handle(::CreateEventW(nullptr, TRUE, FALSE, win::W(tag + QStringLiteral("-stop"))));
    wchar_t self[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = QStringLiteral("\"%1\" --append \"%2\" %3 %4-ready %4-stop")
                               .arg(QString::fromWCharArray(self), path, QString(holds ? "1" : "0"), tag)
                               .toStdWString();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (::CreateProcessW(self, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                         &startup, &started)) {
      ::CloseHandle(started.hThread);
      process_ = win::Handle(started.hProcess);
    }
  }
  // Returns once the writer has written its first lines.
  bool WaitUntilWriting() {
    const HANDLE either[] = {ready_.get(), process_.get()};
    return process_.valid() &&
           ::WaitForMultipleObjects(2, either, FALSE, 60000) == WAIT_OBJECT_0;
  }
  void Stop() {
    ::SetEvent(stop_.get());
    ::WaitForSingleObject(process_.get(), INFINITE);
  }

 private:
  win::Handle ready_, stop_, process_;
};

TEST(Concurrency, NoLineAnotherProgramWritesIsLost) {
  const QString done = texts::kCompleteTitle, inUse = texts::kInUseTitle;
  for (const auto& [what, holds, outcome] :
       {std::tuple{"writer holds the log open", true, inUse},
        std::tuple{"writer opens it for each line", false, done}}) {
    SCOPED_TRACE(what);
    Session s;
    const QByteArray log = MakeLog(4 << 20);
    s.folder.write("log.txt", log);
    Writer writer(s.folder.file("log.txt"), holds);
    ASSERT_TRUE(writer.WaitUntilWriting());
    ASSERT_TRUE(s.Load("log.txt"));
    s.Run(Op::Change);
    writer.Stop();
    EXPECT_EQ(s.window.Titles().last(), outcome);
    const QByteArray now = s.folder.read("log.txt");
    EXPECT_TRUE(outcome != inUse || now.startsWith(log));
    const WrittenLines lines = LinesWritten(now);
    ASSERT_GT(lines.written, 20);
    QList<int> all;
    for (int n = 1; n <= lines.written; ++n) all << n;
    EXPECT_EQ(lines.found, all);
  }
}

// Wine puts no limit on the memory of a process (neither a job's nor one from outside), so
// this program's blocks come from a wrapper of the C library's allocator (linked with --wrap)
// that, while a test asks for it, refuses every block above a size, as a process near its
// commit limit gets no large block.
std::atomic<size_t> largestBlock{std::numeric_limits<size_t>::max()};

}  // namespace
}  // namespace parlotrim

extern "C" {
void* __real_malloc(size_t size);
void* __real_calloc(size_t count, size_t size);
void* __real_realloc(void* block, size_t size);
void* __wrap_malloc(size_t size) {
  return size > parlotrim::largestBlock ? nullptr : __real_malloc(size);
}
void* __wrap_calloc(size_t count, size_t size) {
  return size && count > parlotrim::largestBlock / size ? nullptr : __real_calloc(count, size);
}
void* __wrap_realloc(void* block, size_t size) {
  return size > parlotrim::largestBlock ? nullptr : __real_realloc(block, size);
}
}

namespace parlotrim {
namespace {

class MemoryLimited {
 public:
  explicit MemoryLimited(size_t largest) { largestBlock = largest; }
  ~MemoryLimited() { largestBlock = std::numeric_limits<size_t>::max(); }
};

// A log too large for the memory the program may have is refused as unreadable, nothing
// changes, and the program goes on to load a smaller one. The log is written and checked in
// pieces below the limit.
TEST(Hostile, LogTooLargeForMemory) {
  Session s;
  const QByteArray piece = QByteArray("\x82\xa0 line\r\n").repeated(1 << 20);  // 8 MiB
  constexpr int kPieces = 32;                                                    // 256 MiB
  {
    QFile big(s.folder.file("big.txt"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    for (int i = 0; i < kPieces; ++i) ASSERT_EQ(big.write(piece), piece.size());
  }
  s.folder.write("small.txt", "A\r\nB");
  const MemoryLimited limited(64 << 20);
  for (Op op : {Op::Change, Op::Html}) {
    for (bool load : {true, false}) {
      SCOPED_TRACE(std::string(op == Op::Change ? "Change" : "HTML") + (load ? ", load" : ""));
      if (load) {
        EXPECT_FALSE(s.Load("big.txt"));
      } else {
        s.window.text2 = "big.txt";
        s.Run(op);
      }
      EXPECT_EQ(s.window.boxes.back().title, texts::kReadErrorTitle);
      EXPECT_TRUE(s.window.boxes.back().prompt.contains(texts::kNoMemory))
          << s.window.boxes.back().prompt.toStdString();
    }
  }
  EXPECT_TRUE(s.Load("small.txt"));
  QFile big(s.folder.file("big.txt"));
  ASSERT_TRUE(big.open(QIODevice::ReadOnly));
  for (int i = 0; i < kPieces; ++i) ASSERT_TRUE(big.read(piece.size()) == piece) << i;
  EXPECT_TRUE(big.atEnd());
  EXPECT_EQ(s.folder.entries(), (QList<QString>{"big.txt", "small.txt"}));
}

// The log stays the same file: its access list, attributes, hard links and streams (the mark of
// a downloaded file) stay; the document keeps the old one's access list and attributes.
TEST(Metadata, RewriteKeepsAttributesLinksAndStreams) {
  Session s;
  s.folder.write("log.txt", "A\r\nB\r\n");
  s.folder.write("log.html", "old");
  ASSERT_TRUE(::CreateHardLinkW(win::W(s.folder.file("link.dat")), win::W(s.folder.file("log.txt")),
                                nullptr));
  const QString stream = s.folder.file("log.txt") + QStringLiteral(":Zone.Identifier");
  // Where streams are missing (Wine on a POSIX file system), the name makes a file of its own.
  const bool streams = QFile(stream).open(QIODevice::WriteOnly) && s.folder.entries().size() == 3;
  if (streams) {
    QFile zone(stream);
    ASSERT_TRUE(zone.open(QIODevice::WriteOnly | QIODevice::Truncate));
    zone.write("[ZoneTransfer]\r\nZoneId=3\r\n");
  }
  SetAttributes(s.folder.file("log.txt"), FILE_ATTRIBUTE_ARCHIVE);
  SetAttributes(s.folder.file("log.html"), FILE_ATTRIBUTE_HIDDEN);
  std::map<QString, QString> lists;
  for (const char* name : {"log.txt", "log.html"}) {
    // One of its own, not inherited from the folder: everyone may do anything.
    win::SetAccessList(s.folder.file(name), QStringLiteral("D:P(A;;FA;;;WD)"));
    lists[name] = win::AccessList(s.folder.file(name));
    EXPECT_TRUE(lists[name].contains(QLatin1String(";;;WD)"))) << lists[name].toStdString();
  }
  ASSERT_TRUE(s.Load("log.txt"));
  ASSERT_TRUE(s.Run(Op::Change));
  ASSERT_TRUE(s.Run(Op::Html));
  EXPECT_EQ(s.folder.read("link.dat"), "B\r\nA\r\n\r\n");
  EXPECT_TRUE(::GetFileAttributesW(win::W(s.folder.file("log.txt"))) & FILE_ATTRIBUTE_ARCHIVE);
  EXPECT_TRUE(::GetFileAttributesW(win::W(s.folder.file("log.html"))) & FILE_ATTRIBUTE_HIDDEN);
  for (const auto& [name, list] : lists) {
    EXPECT_EQ(win::AccessList(s.folder.file(name)).toStdString(), list.toStdString())
        << name.toStdString();
  }
  if (streams) {
    QFile zone(stream);
    ASSERT_TRUE(zone.open(QIODevice::ReadOnly));
    EXPECT_EQ(zone.readAll(), "[ZoneTransfer]\r\nZoneId=3\r\n");
  } else {
    GTEST_SKIP() << "attributes and links checked; streams not: this file system has none";
  }
}

}  // namespace
}  // namespace parlotrim

int main(int argc, char** argv) {
  const QStringList arguments = [] {
    int count = 0;
    wchar_t** all = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    QStringList list;
    for (int i = 0; i < count; ++i) list << QString::fromWCharArray(all[i]);
    ::LocalFree(all);
    return list;
  }();
  if (arguments.size() == 6 && arguments[1] == QLatin1String("--append"))
    return parlotrim::AppendLines(parlotrim::win::W(arguments[2]), arguments[3] == u'1',
                                  parlotrim::win::W(arguments[4]), parlotrim::win::W(arguments[5]));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
