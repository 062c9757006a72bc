// Every way a rewrite can fail, forced for real, through the whole operation: after each failure
// the old log (and an old document) must be byte for byte as before, no file may have come or
// gone, and the user must have been told, in an "Err:" box, which file failed and why.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <csignal>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/log_operations.h"
#include "core/texts.h"
#include "tests/core/fake_window.h"
#include "tests/core/test_files.h"
#include "tests/fault/child_process.h"
#include "tests/fault/fault_support.h"

namespace parlotrim {
namespace {

using testing::ChildResult;
using testing::FakeWindow;
using testing::LogFolder;
using testing::Outcome;
using testing::Snapshot;

enum class Op { Change, Html };

const char* OpName(Op op) {
  return op == Op::Change ? "Change and Save" : "HTML Save";
}

void Chmod(const QString& path, mode_t mode) {
  ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), mode), 0) << path.toStdString();
}

// A disk whose sync reports an I/O error, as a failing disk does only at the end.
class FailingSyncStore : public DiskFileStore {
 protected:
  bool Sync(QSaveFile&, QString* error) override {
    *error = QStringLiteral("Input/output error");
    return false;
  }
};

// The final rename fails for real: just before it, the target is put aside and a folder takes
// its name; afterwards the folder goes and the target comes back, so that only the rename
// itself saw anything unusual.
class RenameRefusedStore : public DiskFileStore {
 protected:
  bool Commit(QSaveFile& file, QString* error) override {
    const QString target = file.fileName();
    const QString aside = target + QStringLiteral(".aside");
    const bool existed = QFile::exists(target);
    if (existed && !QFile::rename(target, aside)) return Fail(error, "cannot put target aside");
    if (!QDir().mkpath(target + QStringLiteral("/inside")))
      return Fail(error, "cannot block target");
    const bool committed = DiskFileStore::Commit(file, error);
    QDir(target).removeRecursively();
    if (existed) QFile::rename(aside, target);
    return committed;
  }

 private:
  static bool Fail(QString* error, const char* why) {
    *error = QString::fromLatin1(why);
    return false;
  }
};

enum class Store { Disk, FailingSync, RenameRefused };

std::unique_ptr<FileStore> MakeStore(Store store) {
  switch (store) {
    case Store::Disk:
      return std::make_unique<DiskFileStore>();
    case Store::FailingSync:
      return std::make_unique<FailingSyncStore>();
    case Store::RenameRefused:
      return std::make_unique<RenameRefusedStore>();
  }
  return nullptr;
}

// The file that the error box must name: the log, the document, or whichever one the
// operation writes.
enum class Failing { Log, Document, Target };

struct Fault {
  const char* name;
  std::vector<Op> ops;
  // Breaks something after the log was loaded and before the operation runs.
  std::function<void(const LogFolder&)> inject;
  const char* title;  // of the error box
  Failing failing;
  Store store = Store::Disk;
  long long fileSizeLimit = -1;  // run in a child with this RLIMIT_FSIZE
  qsizetype logSize = 2000;
  bool ordinaryUser = false;  // permissions that bind only ordinary users
  bool ownsDocument = false;  // the fault itself decides whether a document exists

  Fault Using(Store s) const {
    Fault f = *this;
    f.store = s;
    return f;
  }
  Fault DiskFull(long long limit, qsizetype log) const {
    Fault f = *this;
    f.fileSizeLimit = limit;
    f.logSize = log;
    return f;
  }
  Fault AsOrdinaryUser() const {
    Fault f = *this;
    f.ordinaryUser = true;
    return f;
  }
  Fault OwningDocument() const {
    Fault f = *this;
    f.ownsDocument = true;
    return f;
  }
};

const char kRead[] = "Err:File read";
const char kWrite[] = "Err:File write";

std::vector<Fault> Faults() {
  const std::vector<Op> both = {Op::Change, Op::Html};
  auto nothing = [](const LogFolder&) {};
  auto removeLog = [](const LogFolder& f) { ASSERT_TRUE(QFile::remove(f.file("log.txt"))); };
  auto folderAsLog = [](const LogFolder& f) {
    ASSERT_TRUE(QFile::remove(f.file("log.txt")));
    ASSERT_TRUE(QDir().mkpath(f.file("log.txt/inside")));
  };
  auto folderAsDocument = [](const LogFolder& f) {
    ASSERT_TRUE(QDir().mkpath(f.file("log.html/inside")));
  };
  auto readOnlyDocument = [](const LogFolder& f) {
    f.write("log.html", "<html>read-only</html>\r\n");
    Chmod(f.file("log.html"), 0444);
  };
  auto readOnlyLog = [](const LogFolder& f) { Chmod(f.file("log.txt"), 0444); };
  auto readOnlyFolder = [](const LogFolder& f) { Chmod(f.path(), 0555); };
  return {
      {"log deleted after loading", both, removeLog, kRead, Failing::Log},
      {"log replaced by a folder after loading", both, folderAsLog, kRead, Failing::Log},
      // A write far larger than any buffer goes straight to the file and fails there.
      Fault{"disk full, large write", both, nothing, kWrite, Failing::Target}.DiskFull(64 << 10,
                                                                                       1 << 20),
      // Small enough to sit in a buffer: the failure comes only with the final flush.
      Fault{"disk full, buffered write", both, nothing, kWrite, Failing::Target}.DiskFull(2048,
                                                                                          3000),
      Fault{"sync fails", both, nothing, kWrite, Failing::Target}.Using(Store::FailingSync),
      Fault{"rename fails", both, nothing, kWrite, Failing::Target}.Using(Store::RenameRefused),
      Fault{"document name taken by a folder",
            {Op::Html},
            folderAsDocument,
            kWrite,
            Failing::Document}
          .OwningDocument(),
      Fault{"document read-only", {Op::Html}, readOnlyDocument, kWrite, Failing::Document}
          .OwningDocument()
          .AsOrdinaryUser(),
      Fault{"log read-only", {Op::Change}, readOnlyLog, kWrite, Failing::Log}.AsOrdinaryUser(),
      Fault{"folder read-only", both, readOnlyFolder, kWrite, Failing::Target}.AsOrdinaryUser(),
  };
}

// Loads log.txt as the user would, with emphasis on for HTML Save.
void Load(FakeWindow& window, const LogFolder& folder, Module1& module) {
  DiskFileStore disk;
  LogOperations ops(window, disk, folder.path(), module);
  window.selected = QStringLiteral("log.txt");
  window.answers = {vbCancel, vbOK};
  window.check1 = 1;
  window.text3 = QStringLiteral("発言");
  ops.LoadSequence();
  ASSERT_EQ(window.label6, "Before");
  window.calls.clear();
  window.boxes.clear();
}

Outcome RunOp(Op op, FileStore& store, FakeWindow& window, const LogFolder& folder,
              Module1& module) {
  LogOperations ops(window, store, folder.path(), module);
  if (op == Op::Change)
    ops.Command1_Click();
  else
    ops.Command3_Click();
  return testing::OutcomeOf(window);
}

void CheckFault(const Fault& fault, Op op, bool oldDocument) {
  SCOPED_TRACE(std::string(fault.name) + " / " + OpName(op) +
               (oldDocument ? " / old document" : ""));
  // Root ignores permissions: those cases run in a child that has become the user nobody.
  const bool dropToNobody = fault.ordinaryUser && ::geteuid() == 0;

  LogFolder folder;
  folder.write("log.txt", testing::MakeLog(fault.logSize));
  if (oldDocument) folder.write("log.html", "<html>old document</html>\r\n");
  FakeWindow window;
  Module1 module;
  Load(window, folder, module);
  if (dropToNobody) Chmod(folder.path(), 0777);
  fault.inject(folder);
  if (::testing::Test::HasFatalFailure()) return;
  const Snapshot before = testing::TakeSnapshot(folder.path());

  const std::unique_ptr<FileStore> store = MakeStore(fault.store);
  Outcome outcome;
  if (fault.fileSizeLimit >= 0 || dropToNobody) {
    const ChildResult child = testing::RunInChild(
        [&] { return testing::Encode(RunOp(op, *store, window, folder, module)); },
        {fault.fileSizeLimit, dropToNobody,
         QFile::encodeName(folder.file("log.txt")).toStdString()});
    Chmod(folder.path(), 0700);
    if (child.couldNotDropPrivileges)
      GTEST_SKIP() << "permissions do not bind root, and the user nobody cannot be had or "
                      "cannot reach the temporary folder";
    ASSERT_TRUE(child.exited) << "child ended by signal " << child.signal;
    ASSERT_EQ(child.exitCode, 0);
    ASSERT_TRUE(testing::Decode(child.output, &outcome));
  } else {
    outcome = RunOp(op, *store, window, folder, module);
    Chmod(folder.path(), 0700);  // lets the folder be cleaned up after "folder read-only"
  }

  EXPECT_EQ(testing::TakeSnapshot(folder.path()), before);

  const bool logFails =
      fault.failing == Failing::Log || (fault.failing == Failing::Target && op == Op::Change);
  const QString failing = logFails ? QStringLiteral("log.txt") : QStringLiteral("log.html");
  ASSERT_FALSE(outcome.boxes.empty());
  const auto& [prompt, title] = outcome.boxes.back();
  EXPECT_EQ(title, fault.title);
  EXPECT_TRUE(prompt.contains(QDir::toNativeSeparators(folder.file(failing))))
      << prompt.toStdString();
  // The cause follows its label; a failure that reports no cause would leave the label bare.
  EXPECT_TRUE(prompt.contains(texts::kCauseLabel));
  EXPECT_FALSE(prompt.trimmed().endsWith(texts::kCauseLabel.trimmed())) << prompt.toStdString();
  for (const auto& box : outcome.boxes) EXPECT_NE(box.second, texts::kCompleteTitle);
  EXPECT_EQ(outcome.pointer, vbDefault);
  EXPECT_EQ(outcome.label6, "Before");
  for (const std::string& call : outcome.calls) EXPECT_NE(call.rfind("Label6", 0), 0u) << call;
}

// Runs every fault of the table whose ordinaryUser is as given, with each operation it
// applies to, and for HTML Save both with and without an old document.
void CheckFaults(bool ordinaryUser) {
  for (const Fault& fault : Faults()) {
    if (fault.ordinaryUser != ordinaryUser) continue;
    for (Op op : fault.ops) {
      const std::vector<bool> documents = (op == Op::Html && !fault.ownsDocument)
                                              ? std::vector<bool>{false, true}
                                              : std::vector<bool>{false};
      for (bool oldDocument : documents) CheckFault(fault, op, oldDocument);
    }
  }
}

TEST(FaultMatrix, EveryFailureLeavesFilesAndTellsTheUser) {
  CheckFaults(false);
}

// Apart, so that where they must be skipped the rest of the table still counts.
TEST(FaultMatrix, PermissionFailuresLeaveFilesAndTellTheUser) {
  CheckFaults(true);
}

// Where a rewrite is cut short by the death of the process.
enum class KillAt { MidWrite, AfterFlush, AfterSync, AfterCommit };

// Kills its own process at one step of the replacement. Mid-write it first writes half of the
// first large piece and flushes it, so the temporary file really holds part of the new content.
class KillingStore : public DiskFileStore {
 public:
  explicit KillingStore(KillAt at) : at_(at) {}

 protected:
  bool WritePiece(QSaveFile& file, QByteArrayView piece, QString* error) override {
    if (at_ == KillAt::MidWrite && piece.size() >= 4096) {
      DiskFileStore::WritePiece(file, piece.first(piece.size() / 2), error);
      DiskFileStore::Flush(file, error);
      ::raise(SIGKILL);
    }
    return DiskFileStore::WritePiece(file, piece, error);
  }
  bool Flush(QSaveFile& file, QString* error) override {
    const bool ok = DiskFileStore::Flush(file, error);
    if (at_ == KillAt::AfterFlush) ::raise(SIGKILL);
    return ok;
  }
  bool Sync(QSaveFile& file, QString* error) override {
    const bool ok = DiskFileStore::Sync(file, error);
    if (at_ == KillAt::AfterSync) ::raise(SIGKILL);
    return ok;
  }
  bool Commit(QSaveFile& file, QString* error) override {
    const bool ok = DiskFileStore::Commit(file, error);
    if (at_ == KillAt::AfterCommit) ::raise(SIGKILL);
    return ok;
  }

 private:
  KillAt at_;
};

// The process dies at each step of a rewrite. The target is then either entirely old (killed
// before the rename) or entirely new (after it), never a mix. A dead process cannot remove its
// temporary file, so one may be left beside the target: that is acceptable, because it is named
// after the target with a random suffix ("log.txt.Ab12Cd"), so the list of "*.txt" files never
// shows it, it holds only new content, and it is in no one's way: the next rewrite succeeds.
TEST(FaultMatrix, KilledRewriteLeavesOldOrNewNeverAMix) {
  struct Case {
    const char* name;
    KillAt at;
    bool newContent;
  };
  const std::vector<Case> cases = {
      {"mid-write", KillAt::MidWrite, false},
      {"after flush", KillAt::AfterFlush, false},
      {"after sync", KillAt::AfterSync, false},
      {"after rename", KillAt::AfterCommit, true},
  };
  const QByteArray log = testing::MakeLog(64 * 1024);
  const QByteArray oldDocument = "<html>old document</html>\r\n";

  // What an undisturbed run writes.
  QByteArray newLog;
  QByteArray newDocument;
  {
    LogFolder folder;
    folder.write("log.txt", log);
    FakeWindow window;
    Module1 module;
    Load(window, folder, module);
    DiskFileStore disk;
    RunOp(Op::Html, disk, window, folder, module);
    newDocument = folder.read("log.html");
    RunOp(Op::Change, disk, window, folder, module);
    newLog = folder.read("log.txt");
    ASSERT_NE(newLog, log);
  }

  for (Op op : {Op::Change, Op::Html}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(OpName(op)) + " killed " + c.name);
      LogFolder folder;
      folder.write("log.txt", log);
      folder.write("log.html", oldDocument);
      FakeWindow window;
      Module1 module;
      Load(window, folder, module);

      KillingStore killing(c.at);
      const ChildResult child = testing::RunInChild(
          [&] { return testing::Encode(RunOp(op, killing, window, folder, module)); });
      ASSERT_EQ(child.signal, SIGKILL);

      const QString target = op == Op::Change ? "log.txt" : "log.html";
      const QByteArray expectedLog = (op == Op::Change && c.newContent) ? newLog : log;
      const QByteArray expectedDocument =
          (op == Op::Html && c.newContent) ? newDocument : oldDocument;
      EXPECT_EQ(folder.read("log.txt"), expectedLog);
      EXPECT_EQ(folder.read("log.html"), expectedDocument);

      const QByteArray written = op == Op::Change ? newLog : newDocument;
      QStringList leftovers = folder.entries();
      leftovers.removeAll("log.txt");
      leftovers.removeAll("log.html");
      if (c.newContent) {
        EXPECT_TRUE(leftovers.isEmpty()) << leftovers.join(' ').toStdString();
      }
      EXPECT_LE(leftovers.size(), 1);
      for (const QString& name : leftovers) {
        EXPECT_TRUE(name.startsWith(target + ".")) << name.toStdString();
        EXPECT_FALSE(name.endsWith(".txt")) << name.toStdString();
        const QByteArray partial = folder.read(name);
        EXPECT_TRUE(written.startsWith(partial)) << name.toStdString();
        if (c.at == KillAt::MidWrite) {
          EXPECT_LT(partial.size(), written.size());
        }
      }

      // The leftover is in no one's way.
      DiskFileStore disk;
      Load(window, folder, module);
      const Outcome next = RunOp(op, disk, window, folder, module);
      EXPECT_EQ(next.boxes.back().second, texts::kCompleteTitle);
    }
  }
}

}  // namespace
}  // namespace parlotrim
