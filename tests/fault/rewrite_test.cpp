// What a rewrite by Change and Save or HTML Save leaves behind. Every way it can fail is forced
// for real: after each, the old log (and an old document) must be byte for byte as before, no
// file may have come or gone, and the user must have read an "Err:" box naming the file and the
// cause, with the pointer back to normal and the status still "Before". A successful rewrite
// keeps the mode, owner and group of the file it replaces, and a symbolic link in front of it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSaveFile>
#include <map>
#include <string>
#include <vector>

#include "tests/fault/fault_support.h"

namespace parlotrim {
namespace {

using namespace testing;

// A disk with one step of the replacement broken for real: the sync reports an I/O error, or a
// folder holds the target's name while it is renamed; or the process dies after a step (at
// Write, halfway through the first large piece, with that half flushed).
enum class Step { None, Write, Sync, Commit };

class FaultyStore : public DiskFileStore {
 public:
  Step failAt = Step::None;
  Step killAt = Step::None;

 protected:
  bool WritePiece(QSaveFile& file, QByteArrayView piece, QString* error) override {
    if (killAt == Step::Write && piece.size() >= 4096) {
      DiskFileStore::WritePiece(file, piece.first(piece.size() / 2), error);
      DiskFileStore::Flush(file, error);
      ::raise(SIGKILL);
    }
    return DiskFileStore::WritePiece(file, piece, error);
  }
  bool Sync(QSaveFile& file, QString* error) override {
    if (failAt != Step::Sync) return DieAt(Step::Sync, DiskFileStore::Sync(file, error));
    *error = QStringLiteral("Input/output error");
    return false;
  }
  bool Commit(QSaveFile& file, QString* error) override {
    if (failAt != Step::Commit) return DieAt(Step::Commit, DiskFileStore::Commit(file, error));
    const QString target = file.fileName(), aside = target + ".aside";
    QFile::rename(target, aside);  // where there is a target
    QDir().mkpath(target + "/inside");
    const bool committed = DiskFileStore::Commit(file, error);
    QDir(target).removeRecursively();
    QFile::rename(aside, target);
    return committed;
  }
  bool DieAt(Step step, bool ok) const {
    if (killAt == step) ::raise(SIGKILL);
    return ok;
  }
};

QByteArray MakeLog(qsizetype size) {
  return QByteArray("\x94\xad\x8c\xbe line\r\n\r\n----\r\n").repeated(size / 18 + 1);
}

// Every entry under folder by relative path, with the SHA-256 of a file's bytes ("" for a folder).
std::map<std::string, std::string> Snapshot(const QString& folder) {
  std::map<std::string, std::string> all;
  QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                  QDirIterator::Subdirectories);
  while (it.hasNext()) {
    QFile file(it.next());
    std::string& entry = all[QDir(folder).relativeFilePath(file.fileName()).toStdString()];
    if (!file.open(QIODevice::ReadOnly)) continue;
    entry =
        QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex().toStdString();
  }
  return all;
}

// What the user saw of a failed operation on file, in a line that can also cross from a child.
std::string Seen(const FakeWindow& window, const QString& file) {
  const auto& [prompt, title] = window.boxes.back();
  return title.toStdString() + (prompt.contains(QDir::toNativeSeparators(file)) ? "" : " unnamed") +
         (prompt.section(texts::kCauseLabel, 1).trimmed().isEmpty() ? " without a cause" : "") +
         ", pointer " + std::to_string(window.pointer) + ", " + window.label6.toStdString();
}

struct Fault {
  const char* name;
  std::function<bool(const LogFolder&)> inject;  // after the load, before the operation
  QString title;
  Step failAt = Step::None;
  qsizetype diskFullLog = 0;  // run with a log of this size and 2 KiB of disk
  bool htmlOnly = false;      // a fault of the document, which makes the document itself
  bool asUser = false;        // binds only ordinary users: root runs it as the user nobody
};

std::vector<Fault> Faults() {
  const QString read = texts::kReadErrorTitle, write = texts::kWriteErrorTitle;
  auto nothing = [](const LogFolder&) { return true; };
  auto removeLog = [](const LogFolder& f) { return QFile::remove(f.file("log.txt")); };
  auto folderAsLog = [](const LogFolder& f) {
    return QFile::remove(f.file("log.txt")) && QDir().mkpath(f.file("log.txt/inside"));
  };
  auto folderAsDocument = [](const LogFolder& f) { return QDir().mkpath(f.file("log.html/in")); };
  auto readOnlyDocument = [](const LogFolder& f) {
    f.write("log.html", "<html>read-only</html>\r\n");
    return ::chmod(QFile::encodeName(f.file("log.html")).constData(), 0444) == 0;
  };
  return {
      {"log deleted", removeLog, read},
      {"log replaced by a folder", folderAsLog, read},
      // Far larger than any buffer, it goes straight to the file and fails there.
      {"disk full, large write", nothing, write, Step::None, 1 << 20},
      // Small enough to wait in a buffer: only the final flush fails.
      {"disk full, buffered write", nothing, write, Step::None, 3000},
      {"sync fails", nothing, write, Step::Sync},
      {"rename fails", nothing, write, Step::Commit},
      {"document name taken by a folder", folderAsDocument, write, Step::None, 0, true},
      {"document read-only", readOnlyDocument, write, Step::None, 0, true, true},
  };
}

void Check(const Fault& fault, Op op, bool oldDocument) {
  SCOPED_TRACE(std::string(fault.name) + (op == Op::Change ? ", Change" : ", HTML") +
               (oldDocument ? ", old document" : ""));
  Session s;
  s.folder.write("log.txt", MakeLog(fault.diskFullLog ? fault.diskFullLog : 3000));
  if (oldDocument) s.folder.write("log.html", "<html>old</html>\r\n");
  ASSERT_TRUE(s.Load("log.txt"));
  s.window.check1 = 1;
  s.window.text3 = QStringLiteral("発言");
  const bool asNobody = fault.asUser && ::geteuid() == 0;
  if (asNobody) ::chmod(QFile::encodeName(s.folder.path()).constData(), 0777);
  ASSERT_TRUE(fault.inject(s.folder));
  const auto before = Snapshot(s.folder.path());

  FaultyStore store;
  store.failAt = fault.failAt;
  const QString named = s.folder.file(
      fault.title == texts::kReadErrorTitle || op == Op::Change ? "log.txt" : "log.html");
  const Child child =
      RunInChild([&] { return s.Run(op, &store) ? "completed" : Seen(s.window, named); },
                 fault.diskFullLog ? 2048 : -1, asNobody ? s.folder.file("log.txt") : QString());
  if (child.NoNobody()) GTEST_SKIP() << "the user nobody cannot be had or reach the folder";
  EXPECT_EQ(child.status, 0);
  EXPECT_EQ(Snapshot(s.folder.path()), before);
  EXPECT_EQ(child.output,
            fault.title.toStdString() + ", pointer " + std::to_string(vbDefault) + ", Before");
}

// Each operation in a child, with and without an old document. A row that must be skipped (the
// user nobody cannot be had) is skipped alone, and the last.
TEST(FaultMatrix, FailureLeavesFilesAndTellsTheUser) {
  for (const Fault& fault : Faults()) {
    for (Op op : {Op::Change, Op::Html}) {
      for (bool oldDocument : {false, true}) {
        if (!fault.htmlOnly || (op == Op::Html && !oldDocument)) Check(fault, op, oldDocument);
      }
    }
  }
}

// A rewrite killed at any step leaves the target entirely old (before the rename) or entirely
// new (after it). Before the rename the dead process's temporary file may stay, named after the
// target with a random suffix: never "*.txt", so never listed as a log.
TEST(FaultMatrix, KilledRewriteLeavesOldOrNewNeverAMix) {
  const QByteArray log = MakeLog(64 << 10), oldDocument = "<html>old</html>\r\n";
  for (Op op : {Op::Change, Op::Html}) {
    const QString target = op == Op::Change ? "log.txt" : "log.html";
    Session undisturbed;
    undisturbed.folder.write("log.txt", log);
    ASSERT_TRUE(undisturbed.Load("log.txt") && undisturbed.Run(op));
    const QByteArray written = undisturbed.folder.read(target);
    for (Step step : {Step::Write, Step::Sync, Step::Commit}) {
      SCOPED_TRACE(target.toStdString() + " killed at step " + std::to_string(int(step)));
      Session s;
      s.folder.write("log.txt", log);
      s.folder.write("log.html", oldDocument);
      ASSERT_TRUE(s.Load("log.txt"));
      FaultyStore store;
      store.killAt = step;
      const Child child = RunInChild([&] { return std::to_string(s.Run(op, &store)); });
      EXPECT_TRUE(WIFSIGNALED(child.status) && WTERMSIG(child.status) == SIGKILL);
      const bool renamed = step == Step::Commit;
      EXPECT_TRUE(s.folder.read("log.txt") == (op == Op::Change && renamed ? written : log));
      EXPECT_TRUE(s.folder.read("log.html") == (op == Op::Html && renamed ? written : oldDocument));
      for (const QString& name : s.folder.entries()) {
        EXPECT_TRUE(name == "log.txt" || name == "log.html" ||
                    (!renamed && name.startsWith(target + ".") && !name.endsWith(".txt")))
            << name.toStdString();
      }
    }
  }
}

struct stat Stat(const QString& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
  return st;
}

// As root the files first go to another owner, as root's new file would be root's. A change of
// owner clears the setuid and setgid bits, and so does an ordinary user's write (root's do not):
// the mode must come back after both. Root runs that last row as the user nobody.
TEST(Metadata, RewriteKeepsModeOwnerAndGroup) {
  const bool root = ::geteuid() == 0;
  for (mode_t mode : {0600, 0644, 06755, 06750}) {
    const bool asNobody = root && mode == 06750;
    SCOPED_TRACE("mode 0" + QByteArray::number(mode, 8).toStdString() +
                 (asNobody ? " as nobody" : ""));
    const uid_t uid = !root ? ::geteuid() : asNobody ? 65534 : 12345;
    const gid_t gid = !root ? ::getegid() : asNobody ? 65534 : 12345;
    Session s;
    for (const char* name : {"log.txt", "log.html"}) {
      s.folder.write(name, "A\r\nB\r\n");
      const QByteArray path = QFile::encodeName(s.folder.file(name));
      ASSERT_EQ(::chown(path.constData(), uid, gid), 0);
      ASSERT_EQ(::chmod(path.constData(), mode), 0);
    }
    if (asNobody) ::chmod(QFile::encodeName(s.folder.path()).constData(), 0777);
    const Child child = RunInChild(
        [&] { return std::to_string(s.Load("log.txt") && s.Run(Op::Change) && s.Run(Op::Html)); },
        -1, asNobody ? s.folder.file("log.txt") : QString());
    if (child.NoNobody()) GTEST_SKIP() << "the user nobody cannot be had or reach the folder";
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

// A log reached through a chain of relative links stays a link: the file at its end gets the new
// content and keeps its mode, and the document goes beside the first link.
TEST(Metadata, SymlinkedLogStaysALink) {
  Session s;
  ASSERT_TRUE(QDir(s.folder.path()).mkdir("store"));
  s.folder.write("store/real.txt", "A\r\nB\r\n");
  ASSERT_EQ(::chmod(QFile::encodeName(s.folder.file("store/real.txt")).constData(), 0640), 0);
  ASSERT_TRUE(QFile::link("real.txt", s.folder.file("store/middle.txt")));
  ASSERT_TRUE(QFile::link("store/middle.txt", s.folder.file("log.txt")));
  ASSERT_TRUE(s.Load("log.txt") && s.Run(Op::Change) && s.Run(Op::Html));
  EXPECT_TRUE(QFileInfo(s.folder.file("log.txt")).isSymLink());
  EXPECT_TRUE(QFileInfo(s.folder.file("store/middle.txt")).isSymLink());
  EXPECT_EQ(s.folder.read("store/real.txt"), "B\r\nA\r\n\r\n");
  EXPECT_EQ(Stat(s.folder.file("store/real.txt")).st_mode & 07777, 0640u);
  EXPECT_TRUE(S_ISREG(Stat(s.folder.file("log.html")).st_mode));
  EXPECT_TRUE(s.folder.read("log.html").contains("<br>\r\nA<br>\r\nB<br>\r\n"));
  EXPECT_EQ(s.folder.entries(), (QStringList{"log.html", "log.txt", "store"}));
  EXPECT_EQ(QDir(s.folder.file("store")).entryList(QDir::Files | QDir::System | QDir::Hidden),
            (QStringList{"middle.txt", "real.txt"}));
}

}  // namespace
}  // namespace parlotrim
