// What Change and Save and HTML Save leave behind when things go wrong, forced for real: the
// disk fails, the process dies, another program writes the log, the names lie. Nothing may be
// lost: after a failure every file is as it was (or as the user was told), after a crash the
// next run ends with the old or the complete new content, and no line another program wrote
// goes missing.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <QFile>
#include <string>
#include <vector>

#include "core/line_cleaning.h"
#include "core/texts.h"
#include "platform/code_page.h"
#include "platform/file_util.h"
#include "tests/fault/fault_support.h"

namespace parlotrim {
namespace {

using namespace testing;

QByteArray MakeLog(qsizetype size) {
  return QByteArray("\x94\xad\x8c\xbe line\r\n\r\n----\r\n").repeated(size / 18 + 1);
}

int Call(int result) {
  EXPECT_EQ(result, 0) << std::strerror(errno);
  return result;
}

struct Fault {
  const char* name;
  std::function<bool(const LogFolder&)> inject;  // after the load, before the operation
  QString change, html;                          // the box each ends with; "" where it does not run
  FaultyCalls::Fault fault = FaultyCalls::None;
  Limits limits = {};
};

std::vector<Fault> Faults() {
  const QString read = texts::kReadErrorTitle, write = texts::kWriteErrorTitle;
  const QString done = texts::kCompleteTitle;
  auto nothing = [](const LogFolder&) { return true; };
  auto make = [](const char* path) {
    return [path](const LogFolder& f) { return QDir().mkpath(QFile::decodeName(f.file(path))); };
  };
  auto link = [](const char* target, const char* name) {
    return [=](const LogFolder& f) { return ::symlink(target, f.file(name).constData()) == 0; };
  };
  auto removed = [](const LogFolder& f) { return ::unlink(f.file("log.txt").constData()) == 0; };
  auto readOnly = [](const char* name) {
    return [name](const LogFolder& f) {
      if (QByteArray(name) == "log.html") f.write(name, "<html>old</html>");
      return ::chmod(f.path().constData(), 0777) == 0 &&
             ::chmod(f.file(name).constData(), 0444) == 0;
    };
  };
  return {
      {"log deleted", removed, read, read},
      {"log replaced by a folder",
       [](const LogFolder& f) {
         return ::unlink(f.file("log.txt").constData()) == 0 &&
                ::mkdir(f.file("log.txt").constData(), 0755) == 0;
       },
       read, read},
      {"disk full", nothing, write, write, FaultyCalls::None, {2048, -1, {}}},
      {"file sync fails", nothing, write, write, FaultyCalls::FileSync},
      {"rename fails", nothing, write, write, FaultyCalls::RenameFails},
      {"folder sync fails", nothing, write, "", FaultyCalls::FolderSync},
      {"short reads and writes", nothing, done, done, FaultyCalls::ShortCalls},
      {"log read-only", readOnly("log.txt"), write, "", FaultyCalls::None, {-1, -1, "log.txt"}},
      {"document read-only",
       readOnly("log.html"),
       "",
       write,
       FaultyCalls::None,
       {-1, -1, "log.txt"}},
      {"document name taken by a folder", make("log.html/in"), "", write},
      {"document links to the log", link("log.txt", "log.html"), "", write},
      {"document links to another log", link("other.TXT", "log.html"), "", write},
      {"document hard link of a log",
       [](const LogFolder& f) {
         return ::link(f.file("other.TXT").constData(), f.file("log.html").constData()) == 0;
       },
       "", write},
      {"document links to nothing", link("nowhere", "log.html"), "", write},
      {"document links to a device", link("/dev/null", "log.html"), "", write},
  };
}

// Each failure in a child, which may die or have a limit. The window must show the log as it
// is on disk again, with the ordinary pointer under the box and the status still "Before".
TEST(FaultMatrix, FailureLeavesFilesAndTellsTheUser) {
  for (const Fault& fault : Faults()) {
    for (Op op : {Op::Change, Op::Html}) {
      const QString expected = op == Op::Change ? fault.change : fault.html;
      if (expected.isEmpty()) continue;
      SCOPED_TRACE(std::string(fault.name) + (op == Op::Change ? ", Change" : ", HTML"));
      Session s;
      const QByteArray log = MakeLog(fault.limits.fileSize >= 0 ? 1 << 20 : 3000);
      s.folder.write("log.txt", log);
      s.folder.write("other.TXT", "another log");
      ASSERT_TRUE(s.Load("log.txt"));
      const QByteArray loaded = s.window.text1;
      s.window.check1 = 1;
      s.window.text3 = QStringLiteral("発言");
      ASSERT_TRUE(fault.inject(s.folder));
      const auto before = Snapshot(s.folder);
      Limits limits = fault.limits;
      if (!limits.nobodyReads.isEmpty()) limits.nobodyReads = s.folder.file(limits.nobodyReads);
      if (limits.nobodyReads.isEmpty() || ::geteuid() != 0) limits.nobodyReads.clear();
      FaultyCalls calls;
      calls.fault = fault.fault;
      const Child child = RunInChild(
          [&] {
            s.Run(op, &calls);
            const Box& box = s.window.boxes.back();
            return box.title.toStdString() + (box.pointer == vbDefault ? "" : " under hourglass") +
                   (box.title == texts::kCompleteTitle || s.window.label6 == "Before"
                        ? ""
                        : " status changed") +
                   (box.title == texts::kCompleteTitle || s.window.text1 == loaded ||
                            (s.window.text1.isEmpty() && box.title == texts::kReadErrorTitle)
                        ? ""
                        : " text not restored");
          },
          limits);
      if (child.NoNobody()) continue;  // the user nobody cannot be had here
      EXPECT_EQ(child.output, expected.toStdString());
      if (expected == texts::kCompleteTitle) {  // every byte arrived all the same
        const Emphasis emphasis{true, EncodeCodePage(QStringLiteral("発言")), true};
        EXPECT_TRUE(op == Op::Change
                        ? s.folder.read("log.txt") == BuildConvertedText(log, {}) + "\r\n"
                        : s.folder.read("log.html").contains(BuildHtmlBody(log, {}, emphasis)));
        continue;
      }
      EXPECT_EQ(Snapshot(s.folder), before);
    }
  }
}

// A document whose folder cannot be synced after the rename is written all the same: the user
// is told that it may not survive a power cut.
TEST(FaultMatrix, UnsyncedDocumentIsWrittenAndTold) {
  Session s;
  s.folder.write("log.txt", "A\r\nB\r\n");
  ASSERT_TRUE(s.Load("log.txt"));
  FaultyCalls calls;
  calls.fault = FaultyCalls::FolderSync;
  EXPECT_FALSE(s.Run(Op::Html, &calls));
  EXPECT_EQ(s.window.Titles().last(), texts::kWriteErrorTitle);
  EXPECT_TRUE(s.window.boxes.back().prompt.startsWith(texts::kHtmlUnsynced));
  EXPECT_TRUE(s.folder.read("log.html").contains("B<br>\r\nA<br>\r\n"));
}

// Killed at every phase of a rewrite, with and without lines that another program appended to
// the log after the crash, for a log that grows and one that shrinks: the next start of the
// program ends with the old or the complete new content, those lines after it, and no file of
// its own left behind.
TEST(Crash, NextRunFinishesOrForgetsTheRewrite) {
  const QByteArray log = "A\r\n\r\nB\r\n";
  const std::vector<std::pair<Phase, bool>> phases = {{Phase::CopyWritten, false},
                                                      {Phase::CopyNamed, true},
                                                      {Phase::LogSized, true},
                                                      {Phase::LogWritten, true}};
  for (const auto& [phase, finished] : phases) {
    for (bool clean : {false, true}) {
      for (const QByteArray& appended : {QByteArray(), QByteArray("\r\nlater\r\n")}) {
        SCOPED_TRACE(std::to_string(int(phase)) + (clean ? " shrinks" : " grows") +
                     (appended.isEmpty() ? "" : " appended"));
        Session s;
        s.folder.write("log.txt", log);
        ASSERT_TRUE(s.Load("log.txt", clean));
        FaultyCalls calls;
        calls.killAt = phase;
        const Child child = RunInChild([&] { return std::to_string(s.Run(Op::Change, &calls)); });
        EXPECT_TRUE(WIFSIGNALED(child.status) && WTERMSIG(child.status) == SIGKILL);
        if (!appended.isEmpty()) {
          const files::Fd fd(::open(s.folder.file("log.txt").constData(), O_WRONLY | O_APPEND));
          ASSERT_EQ(::write(fd.get(), appended.constData(), appended.size()), appended.size());
        }
        // A temporary file untouched for an hour is one that nobody writes any more.
        for (const QByteArray& name : s.folder.entries()) {
          const timespec old[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
          ::utimensat(AT_FDCWD, s.folder.file(name).constData(), old, 0);
        }
        PosixCalls disk;
        FileStore(disk).FinishInterruptedRewrites(s.folder.path());
        const QByteArray rewritten = clean ? "B\r\nA\r\n\r\n" : "B\r\n\r\nA\r\n\r\n";
        EXPECT_EQ(s.folder.read("log.txt"), (finished ? rewritten : log) + appended);
        EXPECT_EQ(s.folder.entries(), QList<QByteArray>{"log.txt"});
      }
    }
  }
  // A document replaced by rename is new once renamed, synced folder or not.
  Session s;
  s.folder.write("log.txt", log);
  s.folder.write("log.html", "old");
  ASSERT_TRUE(s.Load("log.txt"));
  FaultyCalls calls;
  calls.killAt = Phase::DocumentNamed;
  RunInChild([&] { return std::to_string(s.Run(Op::Html, &calls)); });
  EXPECT_TRUE(s.folder.read("log.html").endsWith("</body></html>\r\n"));
  EXPECT_EQ(s.folder.entries(), (QList<QByteArray>{"log.html", "log.txt"}));
}

// A child that writes numbered lines to the log every two milliseconds, until told to stop:
// holding the log open in append mode, or opening, appending and closing it for each line.
class Writer {
 public:
  Writer(const QByteArray& path, bool holds) {
    if (::pipe(ready_) != 0 || ::pipe(stop_) != 0 || ::pipe(count_) != 0) return;
    pid_ = ::fork();
    if (pid_ != 0) return;
    ::close(ready_[0]);
    ::close(stop_[1]);
    ::close(count_[0]);
    files::Fd held(holds ? ::open(path.constData(), O_WRONLY | O_APPEND) : -1);
    int n = 0;
    pollfd stop{stop_[0], POLLIN, 0};
    while (n < 3000 && ::poll(&stop, 1, 2) == 0) {
      const QByteArray line = "line " + QByteArray::number(++n) + "\r\n";
      files::Fd fd(holds ? -1 : ::open(path.constData(), O_WRONLY | O_APPEND));
      if (::write(holds ? held.get() : fd.get(), line.constData(), line.size()) != line.size())
        ::_exit(2);
      if (n == 20) ::close(ready_[1]);
    }
    ::_exit(::write(count_[1], &n, sizeof n) == sizeof n ? 0 : 3);
  }
  // Returns once the writer has written its first lines.
  void WaitUntilWriting() {
    ::close(ready_[1]);
    char c;
    while (::read(ready_[0], &c, 1) > 0) {
    }
  }
  // Stops the writer; the number of lines it wrote.
  int Stop() {
    ::close(stop_[1]);
    ::close(count_[1]);
    int n = 0;
    if (::read(count_[0], &n, sizeof n) != sizeof n) n = -1;
    ::waitpid(pid_, nullptr, 0);
    return n;
  }

 private:
  int ready_[2], stop_[2], count_[2];
  pid_t pid_ = -1;
};

TEST(Concurrency, NoLineAnotherProgramWritesIsLost) {
  struct Case {
    const char* what;
    bool holds;
    FaultyCalls::Fault fault;
    QStringList outcomes;  // the boxes Change and Save may end with
  };
  const std::vector<Case> cases = {
      {"writer holds the log open", true, FaultyCalls::None, {texts::kInUseTitle}},
      {"writer opens it for each line", false, FaultyCalls::None, {texts::kCompleteTitle}},
      {"the same, without leases",
       false,
       FaultyCalls::NoLease,
       {texts::kCompleteTitle, texts::kInUseTitle}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Session s;
    const QByteArray log = MakeLog(4 << 20);
    s.folder.write("log.txt", log);
    Writer writer(s.folder.file("log.txt"), c.holds);
    writer.WaitUntilWriting();
    ASSERT_TRUE(s.Load("log.txt"));
    FaultyCalls calls;
    calls.fault = c.fault;
    s.Run(Op::Change, &calls);
    const int lines = writer.Stop();
    ASSERT_GT(lines, 20);
    EXPECT_TRUE(c.outcomes.contains(s.window.Titles().last()))
        << s.window.Titles().last().toStdString();
    const QByteArray now = s.folder.read("log.txt");
    if (s.window.Titles().last() == texts::kInUseTitle) {
      EXPECT_TRUE(now.startsWith(log));
    }
    std::map<QByteArray, int> seen;
    for (const QByteArray& line : now.split('\n')) {
      if (line.startsWith("line ")) ++seen[line];
    }
    EXPECT_EQ(seen.size(), size_t(lines));
    for (int n = 1; n <= lines; ++n)
      ASSERT_EQ(seen["line " + QByteArray::number(n) + "\r"], 1) << n;
  }
}

struct stat Stat(const QByteArray& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.constData(), &st), 0) << path.toStdString();
  return st;
}

QByteArray Attribute(const QByteArray& path, const char* name) {
  QByteArray value(4096, '\0');
  const ssize_t n = ::getxattr(path.constData(), name, value.data(), value.size());
  return n < 0 ? QByteArray() : value.left(n);
}

// As root the files first go to another owner, as root's new file would be root's. A change of
// owner clears the setuid and setgid bits, and so does an ordinary user's write (root's do not):
// the mode must come back after both. Root runs that last row as the user nobody.
TEST(Metadata, RewriteKeepsModeOwnerAndGroup) {
  const bool root = ::geteuid() == 0;
  for (mode_t mode : {0600, 0644, 06755, 06750}) {
    const bool asNobody = root && mode == 06750;
    SCOPED_TRACE("mode 0" + QByteArray::number(mode, 8).toStdString());
    const uid_t uid = !root ? ::geteuid() : asNobody ? 65534 : 12345;
    const gid_t gid = !root ? ::getegid() : asNobody ? 65534 : 12345;
    Session s;
    for (const char* name : {"log.txt", "log.html"}) {
      s.folder.write(name, "A\r\nB\r\n");
      ASSERT_EQ(::chown(s.folder.file(name).constData(), uid, gid), 0);
      ASSERT_EQ(::chmod(s.folder.file(name).constData(), mode), 0);
    }
    if (asNobody) ::chmod(s.folder.path().constData(), 0777);
    const Child child = RunInChild(
        [&] { return std::to_string(s.Load("log.txt") && s.Run(Op::Change) && s.Run(Op::Html)); },
        {-1, -1, asNobody ? s.folder.file("log.txt") : QByteArray()});
    if (child.NoNobody()) continue;
    EXPECT_EQ(child.output, "1");
    EXPECT_EQ(s.folder.read("log.txt"), "B\r\nA\r\n\r\n");
    for (const char* name : {"log.txt", "log.html"}) {
      const struct stat st = Stat(s.folder.file(name));
      EXPECT_EQ(st.st_mode & 07777, mode) << name;
      EXPECT_EQ(st.st_uid, uid) << name;
      EXPECT_EQ(st.st_gid, gid) << name;
    }
  }
}

// The log stays the same file: its hard links, ACL and extended attributes stay, and so does a
// link in front of it; the document keeps its ACL and attributes through its replacement.
TEST(Metadata, RewriteKeepsLinksAclsAndAttributes) {
  Session s;
  ASSERT_EQ(::mkdir(s.folder.file("store").constData(), 0755), 0);
  s.folder.write("store/real.txt", "A\r\nB\r\n");
  s.folder.write("log.html", "old");
  Call(::symlink("store/real.txt", s.folder.file("log.txt").constData()));
  Call(
      ::link(s.folder.file("store/real.txt").constData(), s.folder.file("store/hard").constData()));
  bool attributes = true;
  for (const char* name : {"store/real.txt", "log.html"}) {
    attributes =
        attributes && ::setxattr(s.folder.file(name).constData(), "user.origin", "chat", 4, 0) == 0;
    const QByteArray acl = "setfacl -m u:65534:rw " + s.folder.file(name) + " 2>/dev/null";
    attributes = attributes && std::system(acl.constData()) == 0;
  }
  const QByteArray acl = Attribute(s.folder.file("log.html"), "system.posix_acl_access");
  ASSERT_TRUE(s.Load("log.txt") && s.Run(Op::Change) && s.Run(Op::Html));
  EXPECT_TRUE(S_ISLNK(Stat(s.folder.file("log.txt")).st_mode));
  EXPECT_EQ(s.folder.read("store/hard"), "B\r\nA\r\n\r\n");
  EXPECT_TRUE(S_ISREG(Stat(s.folder.file("log.html")).st_mode));
  EXPECT_EQ(s.folder.entries(), (QList<QByteArray>{"log.html", "log.txt", "store"}));
  if (!attributes) GTEST_SKIP() << "no setfacl, or no extended attributes on this file system";
  for (const char* name : {"store/real.txt", "log.html"}) {
    EXPECT_EQ(Attribute(s.folder.file(name), "user.origin"), "chat") << name;
    EXPECT_EQ(Attribute(s.folder.file(name), "system.posix_acl_access"), acl) << name;
  }
}

}  // namespace
}  // namespace parlotrim
