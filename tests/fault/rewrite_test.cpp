// Failing disks, dying processes, other writers, lying names: nothing lost, the user told true.
#include <gtest/gtest.h>

#include <QFile>
#include <string>
#include <tuple>
#include <vector>

#include "core/line_cleaning.h"
#include "core/texts.h"
#include "platform/code_page.h"
#include "platform/system_files.h"
#include "tests/fault/fault_support.h"

#ifdef Q_OS_WIN
#include "platform/win32/win_files.h"
#else
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>

#include "platform/file_util.h"
#endif

namespace parlotrim::testing {

namespace {

const NativeName kJapaneseLog(QStringLiteral("ログ.txt").toUtf8());  // UTF-8 on POSIX systems

// A copy as a rewrite of the log from old to new left it, in a format of the program (1: no
// digests, 2: digests of 4 KiB blocks, 3: of 512-byte blocks; 9: one this program does not know).
QByteArray CopyFile(int format, const QByteArray& old, const QByteArray& fresh,
                    const FileIdentity& id, const QByteArray& name) {
  const qint64 block = format == 2 ? 4096 : 512, common = qMin(old.size(), fresh.size());
  QByteArray file = fresh + old.mid(fresh.size());
  const auto put = [&](quint64 value, int size = 8) {  // little-endian
    for (int i = 0; i < size; ++i) file += char(value >> 8 * i);
  };
  qint64 digests = 0;
  for (qint64 at = 0; format > 1 && at < common; at += block, ++digests)
    put(Digest(old.mid(at, qMin(block, common - at))));
  file += name;
  for (qint64 size : {old.size(), fresh.size()}) put(quint64(size));
  for (quint64 field : {quint64(1), id.file, id.generation}) put(field);
  if (format > 1) put(id.volume), put(digests);
  put(name.size(), 4);
  return file + "PRLTRIM" + QByteArray::number(format);
}

struct Fault {
  const char* name;
  std::function<void(const LogFolder&)> setup;  // after the load, before the operation
  QString change, html;                         // the box each ends with; "" where it does not run
  Faults::Fault fault = Faults::None;
  bool clean = false;  // the log gets shorter
  Limits limits = {};
};

}  // namespace

// Each failure in a child: the window shows the log as on disk, ordinary pointer, "Before".
TEST(FaultMatrix, FailureLeavesFilesAndTellsTheUser) {
  const QString read = texts::kReadErrorTitle, write = texts::kWriteErrorTitle;
  const QString done = texts::kCompleteTitle, inUse = texts::kInUseTitle;
  // Boxes of rows that only one system can have: "" (no run) on the other.
  const QString posixWrite = kPosix ? write : "", winWrite = kPosix ? "" : write;
  const Limits fullDisk{2048, -1, false}, asNobody{-1, -1, true};
  const auto none = [](const LogFolder&) {};
  const auto oldDocument = [](const LogFolder& f) { f.write("log.html", "old"); };
  const auto shell = [](const char* command) {
    return [command](const LogFolder& f) { ASSERT_TRUE(f.run(command)); };
  };
  QFile holder;  // another program's hold on the log, open for writing
  const std::vector<Fault> faults = {
      {"log deleted", [](const LogFolder& f) { f.remove("log.txt"); }, read, read},
      {"log replaced by a folder",
       [](const LogFolder& f) { ASSERT_TRUE(f.remove("log.txt") && f.mkdir("log.txt")); }, read,
       read},
      {"another program holds the log open for writing and writes nothing",
       [&](const LogFolder& f) {
         holder.setFileName(Path(f, "log.txt"));
         ASSERT_TRUE(holder.open(QIODevice::Append));
       },
       inUse, done},
      {"disk full", none, posixWrite, posixWrite, Faults::None, false, fullDisk},
      {"file sync fails", none, write, write, Faults::FileSync},
      {"folder sync fails", none, posixWrite, "", Faults::FolderSync},
      {"rename fails", none, write, write, Faults::RenameFails},
      {"short reads and writes", none, done, done, Faults::ShortCalls},
      {"a file written after its cut gets its length back", none, done, "", Faults::CutRegrows,
       true},
      {"no room reserved, no lengthening by truncation", none, done, "", Faults::NoReserve},
      {"the same, on a full disk", none, write, "", Faults::NoRoom},
      {"log read-only", shell(kPosix ? "chmod 777 . && chmod 444 log.txt" : "attrib +r log.txt"),
       write, done, Faults::None, false, asNobody},
      {"document read-only",
       shell(kPosix ? "echo old >log.html && chmod 777 . && chmod 444 log.html"
                    : "echo old>log.html && attrib +r log.html"),
       "", write, Faults::None, false, asNobody},
      {"document replacement fails", oldDocument, "", winWrite, Faults::ReplaceFails},
      {"document replacement fails with the old one gone", oldDocument, "", kPosix ? "" : done,
       Faults::ReplaceLosesOld},
      {"document name is a folder's", [](const LogFolder& f) { f.mkdir("log.html"); }, "", write},
      {"document hard link of a log",
       shell(kPosix ? "ln other.TXT log.html" : "mklink /h log.html other.TXT >nul"), "", write},
      {"document links to the log", shell("ln -s log.txt log.html"), "", posixWrite},
      {"document links to nothing", shell("ln -s nowhere log.html"), "", posixWrite},
      {"document links to a device", shell("ln -s /dev/null log.html"), "", posixWrite},
  };
  for (const Fault& fault : faults) {
    for (Op op : {Op::Change, Op::Html}) {
      const QString expected = op == Op::Change ? fault.change : fault.html;
      if (expected.isEmpty()) continue;
      SCOPED_TRACE(std::string(fault.name) + (op == Op::Change ? ", Change" : ", HTML"));
      Session s;
      const QByteArray log = MakeLog(fault.limits.fileSize >= 0 ? 1 << 20 : 3000);
      s.folder.write("log.txt", log);
      s.folder.write("other.TXT", "another log");
      ASSERT_TRUE(s.Load("log.txt", fault.clean));
      const QByteArray loaded = s.window.text1;
      s.window.check1 = 1;
      s.window.text3 = QStringLiteral("発言");
      fault.setup(s.folder);
      const auto before = Snapshot(s.folder);
      FaultyCalls calls(fault.fault);
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
          fault.limits, s.folder.file("log.txt"));
      holder.close();
      if (child.noNobody) continue;
      EXPECT_EQ(child.output, expected.toStdString());
      if (expected != texts::kCompleteTitle) {
        EXPECT_EQ(Snapshot(s.folder), before);
      } else {  // every byte arrived all the same
        const Emphasis emphasis{true, EncodeCodePage(QStringLiteral("発言")), true};
        EXPECT_TRUE(op == Op::Change
                        ? s.folder.read("log.txt") ==
                              BuildConvertedText(log, Module1{fault.clean, fault.clean}) + "\r\n"
                        : s.folder.read("log.html").contains(BuildHtmlBody(log, {}, emphasis)));
      }
    }
  }
}

// HTML Save that wrote the document but could not finish says so: folder unsynced (POSIX), or
// the document left under its temporary name, given in the box (Windows).
TEST(FaultMatrix, DocumentWrittenButNotFinishedIsTold) {
  Session s;
  s.folder.write("log.txt", "A\r\nB\r\n");
  s.folder.write("log.html", "old");
  ASSERT_TRUE(s.Load("log.txt"));
  FaultyCalls calls(kPosix ? Faults::FolderSync : Faults::ReplaceLosesOldNoRename);
  EXPECT_FALSE(s.Run(Op::Html, &calls));
  EXPECT_EQ(s.window.Titles().last(), texts::kWriteErrorTitle);
  const QList<NativeName> entries = s.folder.entries();  // the new document, then the log
  ASSERT_EQ(entries.size(), 2);
  const NativeName kept = entries.first();
  EXPECT_TRUE(s.folder.read(kept).contains("B<br>\r\nA<br>\r\n"));
  const QString& prompt = s.window.boxes.back().prompt;
  EXPECT_TRUE(kPosix ? prompt.startsWith(texts::kHtmlUnsynced) && kept == "log.html"
                     : prompt.contains(kept));
  EXPECT_EQ(s.window.label6, kPosix ? "After" : "Before");
}

// The crash table on a temporary folder: old or new content, appended lines, no file of its own.
TEST(Crash, NextRunFinishesOrForgetsTheRewrite) {
  RunCrashTable({});
}

// Any mix of old and new 512-byte blocks is a rewrite's; a block of neither is another's doing.
TEST(Crash, EveryStateTheWritesLeaveIsToldApart) {
  const QByteArray old = MakeLog(10000).left(10000), zeros(20000, '\0'), utf16("\0A\0B", 4);
  const auto reader = [](const QByteArray& bytes) {
    return [bytes](qint64 at, qint64 n) { return bytes.mid(at, n); };
  };
  for (qint64 newSize : {5874, 14000}) {
    const bool shrinks = newSize < old.size();
    const QByteArray fresh = QByteArray("\x82\xa0 new line\r\n").repeated(2000).left(newSize);
    CopyRecord record = StartRecord({}, "log.txt", old.size(), {fresh}, 0);
    ASSERT_TRUE(OldDigests(&record, {}, reader(old)));
    const QByteArray body = fresh + old.mid(newSize);
    // A growing log is lengthened with zeros first; a shrinking one gets zeros after, cut later.
    const QByteArray before = shrinks ? old : old + zeros.left(newSize - old.size());
    const QByteArray after = shrinks ? fresh + zeros.left(old.size() - newSize) : fresh;
    const qint64 blocks = (after.size() + 511) / 512, done = shrinks ? old.size() : newSize;
    const auto mixed = [&](const std::function<bool(qint64)>& isNew) {
      QByteArray log = before;
      for (qint64 i = 0; i < blocks; ++i)
        if (isNew(i)) log.replace(i * 512, after.mid(i * 512, 512).size(), after.mid(i * 512, 512));
      return log;
    };
    // What, the log, the copy named as "sized", and where the appended bytes begin.
    std::vector<std::tuple<std::string, QByteArray, bool, qint64>> rows;
    for (qint64 k = 0; k <= blocks; ++k) {
      const std::string at = " up to block " + std::to_string(k);
      rows.push_back({"new" + at, mixed([k](qint64 i) { return i < k; }), !shrinks, done});
      rows.push_back({"old" + at, mixed([k](qint64 i) { return i >= k; }), !shrinks, done});
    }
    rows.push_back(
        {"every other block new", mixed([](qint64 i) { return i % 2; }) + "later", !shrinks, done});
    rows.push_back({"torn inside a block", after.left(5000) + before.mid(5000), !shrinks, -1});
    rows.push_back({"a byte changed", mixed([](qint64 i) { return i < 3; }).replace(2000, 1, "Z"),
                    !shrinks, -1});
    if (shrinks) {
      rows.push_back({"named sized, not cut", after + "later", true, old.size()});
      rows.push_back({"cut", fresh, true, newSize});
      rows.push_back({"cut, and the cut bytes appended", fresh + old.mid(newSize), true, newSize});
      rows.push_back({"named complete, cut by another", fresh + "later", false, -1});
    } else {
      rows.push_back({"not lengthened, a line appended", old + "later", false, old.size()});
      rows.push_back({"not lengthened, a UTF-16 line", old + utf16, false, old.size()});
      rows.push_back({"lengthened", before + "later", false, newSize});
      rows.push_back({"partly lengthened, UTF-16", old + zeros.left(240) + utf16, false, 10240});
      rows.push_back({"named sized, cut by another", before.left(12000), true, -1});
    }
    for (const auto& [what, log, sized, from] : rows) {
      EXPECT_EQ(AppendedFrom(record, sized, body, log.size(), reader(log)), from)
          << (shrinks ? "shrinks, " : "grows, ") << what;
    }
  }
}

// A copy of any format is applied to its own log only; an unreadable one is told of, the log left;
// a temporary file a live program holds stays.
TEST(Crash, CopiesAreMatchedToTheirLog) {
  const QByteArray utf16("\xed\x30\xb0\x30.\0t\0x\0t\0", 12);  // as Windows once recorded it
  const QByteArray utf8 = QStringLiteral("ログ.txt").toUtf8();
  const struct {
    const char* what;
    int format;
    QByteArray name;
    bool readable;
    bool damaged = false;  // the record lost its first byte
    bool another = false;  // of another file, with other bytes, that took the log's name since
  } copies[] = {{"first format", 1, utf8, true},
                {"second, from Windows", 2, utf16, true},
                {"second, from a POSIX system", 2, utf8, true},
                {"third, from either", 3, utf8, true},
                {"a newer format", 9, utf8, false},
                {"a damaged record", 3, utf8, false, true},
                {"another file's", 3, utf8, false, false, true}};
  for (const auto& copy : copies) {
    SCOPED_TRACE(copy.what);
    Session s;
    const LogFolder& f = s.folder;
    f.write(kJapaneseLog, "A\r\nB\r\n");
    FileResult opened;
    bool missing = false;
    FileIdentity id =
        SystemFiles(s.disk).OpenLog(f.file(kJapaneseLog), &opened, &missing)->Identify();
    id.file += copy.another;
    const QByteArray old = copy.another ? "X\r\nY\r\n" : "A\r\nB\r\n";
    QByteArray bytes = CopyFile(copy.format, old, "B\r\nA\r\n\r\n", id, copy.name);
    if (copy.damaged) bytes.remove(0, 1);
    f.write(AsciiName(".parlotrim-00000000000000aa.new"), bytes);
    const auto before = Snapshot(f);
    FileStore(s.disk).FinishInterruptedRewrites(f.path());
    EXPECT_EQ(s.Load(kJapaneseLog), copy.readable);
    if (copy.readable) {
      EXPECT_EQ(f.read(kJapaneseLog), "B\r\nA\r\n\r\n");
      EXPECT_EQ(f.entries(), QList<NativeName>{kJapaneseLog});
    } else {
      EXPECT_EQ(s.window.Titles().last(), texts::kReadErrorTitle);
      EXPECT_TRUE(s.window.boxes.back().prompt.contains(".parlotrim-00000000000000aa.new"));
      EXPECT_EQ(Snapshot(f), before);
    }
  }
  Session s;
  const LogFolder& f = s.folder;
  f.write("log.txt", "A\r\nB\r\n");
  const NativeName held = AsciiName(".parlotrim-00000000000000bb.tmp");
  f.write(held, "x");
  AgeAll(f);
#ifdef Q_OS_WIN
  win::Handle holder(
      ::CreateFileW(win::W(f.file(held)), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
#else
  files::Fd holder(::open(f.file(held).constData(), O_RDWR | O_CLOEXEC));
  ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
#endif
  FileStore(s.disk).FinishInterruptedRewrites(f.path());
  // A document replaced by rename is new once renamed, synced folder or not; held stays.
  f.write("log.html", "old");
  ASSERT_TRUE(s.Load("log.txt"));
  FaultyCalls calls(Faults::None, Phase::DocumentNamed);
  RunInChild([&] { return std::to_string(s.Run(Op::Html, &calls)); });
  EXPECT_TRUE(f.read("log.html").endsWith("</body></html>\r\n"));
  EXPECT_EQ(f.entries(), (QList<NativeName>{held, "log.html", "log.txt"}));
}

TEST(Concurrency, NoLineAnotherProgramWritesIsLost) {
  const QString done = texts::kCompleteTitle, inUse = texts::kInUseTitle;
  // The boxes Change and Save may end with while the writer opens the log for each line.
  const std::pair<Faults::Fault, QStringList> cases[] = {{Faults::None, {done}},
                                                         {Faults::NoLease, {done, inUse}}};
  for (const auto& [fault, outcomes] : cases) {
    if (!kPosix && fault == Faults::NoLease) continue;  // Windows has no leases to lack
    SCOPED_TRACE(fault == Faults::NoLease ? "without leases" : "with leases");
    Session s;
    const QByteArray log = MakeLog(4 << 20);
    s.folder.write("log.txt", log);
    Writer writer(s.folder.file("log.txt"));
    ASSERT_TRUE(writer.WaitUntilWriting());
    ASSERT_TRUE(s.Load("log.txt"));
    FaultyCalls calls(fault);
    s.Run(Op::Change, &calls);
    writer.Stop();
    const QString outcome = s.window.Titles().last();
    EXPECT_TRUE(outcomes.contains(outcome)) << outcome.toStdString();
    const QByteArray now = s.folder.read("log.txt");
    EXPECT_TRUE(outcome != inUse || now.startsWith(log));
    EXPECT_GT(Writer::LinesIn(now), 20);
  }
}

#ifdef Q_OS_WIN
// The log keeps its ACL, attributes, hard links and streams; the document the old one's ACL etc.
TEST(Metadata, RewriteKeepsAttributesLinksAndStreams) {
  Session s;
  s.folder.write("log.txt", "A\r\nB\r\n");
  s.folder.write("log.html", "old");
  ASSERT_TRUE(s.folder.run("mklink /h link.dat log.txt >nul"));
  const QString stream = s.folder.file("log.txt") + QStringLiteral(":Zone.Identifier");
  // Where streams are missing (Wine on a POSIX file system), the name makes a file of its own.
  const bool streams = QFile(stream).open(QIODevice::WriteOnly) && s.folder.entries().size() == 3;
  if (streams) {
    QFile zone(stream);
    ASSERT_TRUE(zone.open(QIODevice::WriteOnly | QIODevice::Truncate));
    zone.write("[ZoneTransfer]\r\nZoneId=3\r\n");
  }
  ASSERT_TRUE(s.folder.run("attrib +a log.txt && attrib +h log.html"));
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

#else
// Mode, owner, group, attribute and ACL of the files behind the links.
std::string Describe(const LogFolder& f) {
  QByteArray all;
  for (const char* name : {"store/real.txt", "store/page.html"}) {
    struct stat st {};
    ::stat(f.file(name).constData(), &st);
    all += QByteArray("; ") + name + ": 0" + QByteArray::number(st.st_mode, 8) + ' ' +
           QByteArray::number(st.st_uid) + ':' + QByteArray::number(st.st_gid);
    for (const char* key : {"user.origin", "system.posix_acl_access"}) {
      QByteArray value(4096, '\0');
      const ssize_t n = ::getxattr(f.file(name).constData(), key, value.data(), value.size());
      all += ' ' + value.left(qMax<ssize_t>(n, 0)).toHex();
    }
  }
  return all.toStdString();
}

// The log stays the same file behind its links; the document's target is replaced; both keep
// mode, owner (not root's: as root they are another's), group, ACL and attributes. The last row
// runs as nobody, whose writes clear the setuid and setgid bits.
TEST(Metadata, RewriteKeepsLinksModeOwnersAndAttributes) {
  const bool root = ::geteuid() == 0;
  bool attributes = true;
  for (mode_t mode : {0600, 0644, 06755, 06750}) {
    const bool asNobody = root && mode == 06750;
    SCOPED_TRACE("mode 0" + QByteArray::number(mode, 8).toStdString());
    const char* owner = !root ? "$(id -u):$(id -g)" : asNobody ? "65534:65534" : "12345:12345";
    Session s;
    const LogFolder& f = s.folder;
    ASSERT_TRUE(
        f.run("mkdir store && ln -s store/real.txt log.txt && ln -s store/page.html log.html"));
    for (const char* name : {"store/real.txt", "store/page.html"}) {
      f.write(name, "A\r\nB\r\n");
      attributes = attributes &&
                   f.run("setfacl -m u:65534:rw " + QByteArray(name) + " 2>/dev/null") &&
                   ::setxattr(f.file(name).constData(), "user.origin", "chat", 4, 0) == 0;
    }
    ASSERT_TRUE(f.run((QString("chown ") + owner + " store/*.* && chmod " +
                       QString::number(mode, 8) + " store/*.* && ln store/real.txt store/hard" +
                       (asNobody ? " && chmod 777 . store" : ""))
                          .toUtf8()));
    const std::string before = Describe(f);
    const Child child = RunInChild(
        [&] { return std::to_string(s.Load("log.txt") && s.Run(Op::Change) && s.Run(Op::Html)); },
        {-1, -1, asNobody}, f.file("log.txt"));
    if (child.noNobody) continue;
    EXPECT_EQ(child.output, "1");
    EXPECT_TRUE(f.run("test -L log.txt && test -L log.html"));
    EXPECT_EQ(f.read("store/hard"), "B\r\nA\r\n\r\n");
    EXPECT_TRUE(f.read("store/page.html").endsWith("<br>\r\n\r\n</body></html>\r\n"));
    EXPECT_EQ(f.entries(), (QList<QByteArray>{"log.html", "log.txt", "store"}));
    EXPECT_EQ(f.entries("store"), (QList<QByteArray>{"hard", "page.html", "real.txt"}));
    EXPECT_EQ(Describe(f), before);
  }
  if (!attributes)
    GTEST_SKIP() << "modes, owners and links checked; ACLs and extended attributes not: no "
                    "setfacl, or none on this file system";
}

#endif

}  // namespace parlotrim::testing
