// The disk fails, the process dies, another program writes the log, the names lie: nothing is
// lost, and the user is told what is true.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/xattr.h>

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

struct Fault {
  const char* name;
  const char* setup;     // a shell command in the folder after the load, before the operation
  QString change, html;  // the box each ends with; "" where it does not run
  FaultyCalls::Fault fault = FaultyCalls::None;
  Limits limits = {};
};

std::vector<Fault> Faults() {
  const QString read = texts::kReadErrorTitle, write = texts::kWriteErrorTitle;
  const QString done = texts::kCompleteTitle;
  const Limits asNobody = {-1, -1, "log.txt"};
  return {
      {"log deleted", "rm log.txt", read, read},
      {"log replaced by a folder", "rm log.txt && mkdir log.txt", read, read},
      {"disk full", "true", write, write, FaultyCalls::None, {2048, -1, {}}},
      {"file sync fails", "true", write, write, FaultyCalls::FileSync},
      {"rename fails", "true", write, write, FaultyCalls::RenameFails},
      {"folder sync fails", "true", write, "", FaultyCalls::FolderSync},
      {"short reads and writes", "true", done, done, FaultyCalls::ShortCalls},
      {"no room reserved, no lengthening by truncation", "true", done, "", FaultyCalls::NoReserve},
      {"the same, on a full disk", "true", write, "", FaultyCalls::NoRoom},
      {"log read-only", "chmod 777 . && chmod 444 log.txt", write, "", FaultyCalls::None, asNobody},
      {"document read-only", "echo old >log.html && chmod 777 . && chmod 444 log.html", "", write,
       FaultyCalls::None, asNobody},
      {"document name taken by a folder", "mkdir -p log.html/in", "", write},
      {"document links to the log", "ln -s log.txt log.html", "", write},
      {"document links to another log", "ln -s other.TXT log.html", "", write},
      {"document hard link of a log", "ln other.TXT log.html", "", write},
      {"document links to nothing", "ln -s nowhere log.html", "", write},
      {"document links to a device", "ln -s /dev/null log.html", "", write},
  };
}

// Each failure in a child, which may die or have a limit. The window shows the log as it is on
// disk again, with the ordinary pointer under the box and the status still "Before".
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
      ASSERT_TRUE(s.folder.run(fault.setup));
      const auto before = Snapshot(s.folder);
      Limits limits = fault.limits;
      if (!limits.nobodyReads.isEmpty())
        limits.nobodyReads = ::geteuid() == 0 ? s.folder.file(limits.nobodyReads) : QByteArray();
      FaultyCalls calls;
      calls.fault = fault.fault;
      const Child child = RunInChild(
          [&] {
            s.Run(op, &calls);
            const Box& box = s.window.boxes.back();
            const bool failed = box.title != texts::kCompleteTitle;
            const QByteArray shown = box.title == texts::kReadErrorTitle ? QByteArray() : loaded;
            return box.title.toStdString() + (box.pointer == vbDefault ? "" : " under hourglass") +
                   (failed && s.window.label6 != "Before" ? " status changed" : "") +
                   (failed && s.window.text1 != shown ? " text not restored" : "");
          },
          limits);
      if (child.NoNobody()) continue;  // the user nobody cannot be had here
      EXPECT_EQ(child.output, expected.toStdString());
      if (expected != texts::kCompleteTitle) {
        EXPECT_EQ(Snapshot(s.folder), before);
      } else if (op == Op::Change) {  // every byte arrived all the same
        EXPECT_TRUE(s.folder.read("log.txt") == BuildConvertedText(log, {}) + "\r\n");
      } else {
        const Emphasis emphasis{true, EncodeCodePage(QStringLiteral("発言")), true};
        EXPECT_TRUE(s.folder.read("log.html").contains(BuildHtmlBody(log, {}, emphasis)));
      }
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
  EXPECT_EQ(s.window.label6, "After");
  EXPECT_TRUE(s.folder.read("log.html").contains("B<br>\r\nA<br>\r\n"));
}

// Killed at every phase of a rewrite that grows or shrinks the log, lines appended after the crash
// or not: the next start ends with the old or the new content, those lines, and no file of its own.
TEST(Crash, NextRunFinishesOrForgetsTheRewrite) {
  const QByteArray log = "A\r\n\r\n--\r\nB\r\n";
  const std::vector<std::pair<Phase, bool>> phases = {{Phase::CopyWritten, false},
                                                      {Phase::CopyNamed, true},
                                                      {Phase::LogSized, true},
                                                      {Phase::LogWritten, true}};
  for (const auto& [phase, finished] : phases) {
    for (bool clean : {false, true}) {
      for (const QByteArray& appended : {QByteArray(), QByteArray("\r\nlater\r\n")}) {
        const bool reordered = appended.isEmpty() == clean;
        SCOPED_TRACE(std::to_string(int(phase)) + (clean ? " shrinks" : " grows") +
                     (appended.isEmpty() ? "" : " appended") + (reordered ? " reordered" : ""));
        Session s;
        s.folder.write("log.txt", log);
        ASSERT_TRUE(s.Load("log.txt", clean));
        FaultyCalls calls;
        calls.killAt = phase;
        const Child child = RunInChild([&] { return std::to_string(s.Run(Op::Change, &calls)); });
        EXPECT_TRUE(WIFSIGNALED(child.status) && WTERMSIG(child.status) == SIGKILL);
        // A temporary file untouched for an hour is one that nobody writes any more.
        ASSERT_TRUE(s.folder.run("printf '" + appended + "' >>log.txt && find . -mindepth 1 " +
                                 "-exec touch -m -d '1 hour ago' {} +"));
        // The next run dies too: once its own copy is complete, or as it removes the older copy,
        // on a disk that kept the removal and not its new copy's name unless that was synced.
        FaultyCalls dies;
        dies.killAt = Phase::CopyNamed;
        if (reordered) dies.fault = FaultyCalls::ReorderedFolder;
        RunInChild([&] {
          FileStore(dies).FinishInterruptedRewrites(s.folder.path());
          return std::string();
        });
        FaultyCalls next;  // the run after, on a disk whose reads and writes come short
        next.fault = FaultyCalls::ShortCalls;
        FileStore(next).FinishInterruptedRewrites(s.folder.path());
        const QByteArray rewritten = clean ? "B\r\nA\r\n\r\n" : "B\r\n--\r\n\r\nA\r\n\r\n";
        EXPECT_EQ(s.folder.read("log.txt"), (finished ? rewritten : log) + appended);
        EXPECT_EQ(s.folder.entries(), QList<QByteArray>{"log.txt"});
      }
    }
  }
  // A copy is never applied to another file that took the log's name since, nor to its log once
  // another program changed the bytes that the rewrite had left: the load says so and changes
  // nothing.
  for (const QByteArray& change : {QByteArray("rm log.txt && printf 'fresh' >log.txt"),
                                   QByteArray("printf 'Z' | dd of=log.txt conv=notrunc status=none")}) {
    SCOPED_TRACE(change.toStdString());
    Session r;
    r.folder.write("log.txt", log);
    ASSERT_TRUE(r.Load("log.txt"));
    FaultyCalls killed;
    killed.killAt = Phase::LogSized;
    RunInChild([&] { return std::to_string(r.Run(Op::Change, &killed)); });
    ASSERT_TRUE(r.folder.run(change));
    const auto before = Snapshot(r.folder);
    FileStore(r.disk).FinishInterruptedRewrites(r.folder.path());
    EXPECT_FALSE(r.Load("log.txt"));
    EXPECT_EQ(r.window.Titles().last(), texts::kReadErrorTitle);
    EXPECT_TRUE(r.window.boxes.back().prompt.contains(".parlotrim-"));
    EXPECT_EQ(Snapshot(r.folder), before);
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

// A child that appends "line 1", "line 2", ... to the log every two milliseconds, holding it
// open or opening it for each line; once stopped, "end" and the number of lines it wrote.
class Writer {
 public:
  Writer(const QByteArray& path, bool holds) {
    if (::pipe(ready_) != 0 || ::pipe(stop_) != 0 || (pid_ = ::fork()) != 0) return;
    ::close(ready_[0]);
    ::close(stop_[1]);
    const files::Fd held(holds ? ::open(path.constData(), O_WRONLY | O_APPEND) : -1);
    pollfd stop{stop_[0], POLLIN, 0};
    for (int n = 1, end = 0; !end; ++n) {
      end = n > 3000 || ::poll(&stop, 1, 2) != 0;
      const QByteArray line =
          (end ? "end " : "line ") + QByteArray::number(end ? n - 1 : n) + "\r\n";
      const files::Fd fd(holds ? -1 : ::open(path.constData(), O_WRONLY | O_APPEND));
      if (::write(holds ? held.get() : fd.get(), line.constData(), line.size()) != line.size())
        ::_exit(2);
      if (n == 20) ::close(ready_[1]);
    }
    ::_exit(0);
  }
  // Returns once the writer has written its first lines.
  void WaitUntilWriting() {
    ::close(ready_[1]);
    char c;
    while (::read(ready_[0], &c, 1) > 0) {
    }
  }
  void Stop() {
    ::close(stop_[1]);
    ::waitpid(pid_, nullptr, 0);
  }

 private:
  int ready_[2], stop_[2];
  pid_t pid_ = -1;
};

TEST(Concurrency, NoLineAnotherProgramWritesIsLost) {
  struct Case {
    const char* what;
    bool holds;
    FaultyCalls::Fault fault;
    QStringList outcomes;  // the boxes Change and Save may end with
  };
  const QString done = texts::kCompleteTitle, inUse = texts::kInUseTitle;
  const std::vector<Case> cases = {
      {"writer holds the log open", true, FaultyCalls::None, {inUse}},
      {"writer opens it for each line", false, FaultyCalls::None, {done}},
      {"the same, without leases", false, FaultyCalls::NoLease, {done, inUse}},
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
    writer.Stop();
    const QString outcome = s.window.Titles().last();
    EXPECT_TRUE(c.outcomes.contains(outcome)) << outcome.toStdString();
    const QByteArray now = s.folder.read("log.txt");
    EXPECT_TRUE(outcome != inUse || now.startsWith(log));
    const WrittenLines lines = LinesWritten(now);
    ASSERT_GT(lines.written, 20);
    QList<int> all;
    for (int n = 1; n <= lines.written; ++n) all << n;
    EXPECT_EQ(lines.found, all);
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

// The log stays the same file behind its link, with its hard links; both files keep mode, owner,
// group, ACL and attributes. As root they belong to another user first (root's new file would be
// root's), and the last row runs as nobody, whose writes clear the setuid and setgid bits.
TEST(Metadata, RewriteKeepsLinksModeOwnersAndAttributes) {
  const bool root = ::geteuid() == 0;
  bool attributesChecked = true;
  for (mode_t mode : {0600, 0644, 06755, 06750}) {
    const bool asNobody = root && mode == 06750;
    SCOPED_TRACE("mode 0" + QByteArray::number(mode, 8).toStdString());
    const uid_t uid = !root ? ::geteuid() : asNobody ? 65534 : 12345;
    const gid_t gid = !root ? ::getegid() : asNobody ? 65534 : 12345;
    Session s;
    const LogFolder& f = s.folder;
    ASSERT_TRUE(f.run("mkdir store && ln -s store/real.txt log.txt"));
    bool attributes = f.run("true");
    for (const char* name : {"store/real.txt", "log.html"}) {
      f.write(name, "A\r\nB\r\n");
      attributes = attributes &&
                   f.run("setfacl -m u:65534:rw " + QByteArray(name) + " 2>/dev/null") &&
                   ::setxattr(f.file(name).constData(), "user.origin", "chat", 4, 0) == 0;
    }
    ASSERT_TRUE(f.run(QString("chown %1:%2 store/real.txt log.html && chmod %3 store/real.txt "
                              "log.html && ln store/real.txt store/hard")
                          .arg(uid)
                          .arg(gid)
                          .arg(mode, 0, 8)
                          .toUtf8()));
    const QByteArray acl = Attribute(f.file("log.html"), "system.posix_acl_access");
    attributesChecked = attributesChecked && attributes;
    if (asNobody) ::chmod(f.path().constData(), 0777);
    const Child child = RunInChild(
        [&] { return std::to_string(s.Load("log.txt") && s.Run(Op::Change) && s.Run(Op::Html)); },
        {-1, -1, asNobody ? f.file("log.txt") : QByteArray()});
    if (child.NoNobody()) continue;
    EXPECT_EQ(child.output, "1");
    EXPECT_TRUE(S_ISLNK(Stat(f.file("log.txt")).st_mode));
    EXPECT_EQ(f.read("store/hard"), "B\r\nA\r\n\r\n");
    EXPECT_EQ(f.entries(), (QList<QByteArray>{"log.html", "log.txt", "store"}));
    for (const char* name : {"store/real.txt", "log.html"}) {
      const struct stat st = Stat(f.file(name));
      EXPECT_EQ(st.st_mode, S_IFREG | mode) << name;
      EXPECT_EQ(st.st_uid, uid) << name;
      EXPECT_EQ(st.st_gid, gid) << name;
      EXPECT_TRUE(!attributes || Attribute(f.file(name), "user.origin") == "chat") << name;
      EXPECT_TRUE(!attributes || Attribute(f.file(name), "system.posix_acl_access") == acl) << name;
    }
  }
  if (!attributesChecked)
    GTEST_SKIP() << "modes, owners and links checked; ACLs and extended attributes not: no "
                    "setfacl, or none on this file system";
}

}  // namespace
}  // namespace parlotrim
