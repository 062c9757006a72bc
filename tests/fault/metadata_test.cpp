// What a successful rewrite keeps of the file it replaces: its permissions, its owner and group,
// and a symbolic link in front of it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <string>
#include <vector>

#include "core/log_operations.h"
#include "core/texts.h"
#include "tests/core/fake_window.h"
#include "tests/core/test_files.h"
#include "tests/fault/child_process.h"

namespace parlotrim {
namespace {

using testing::FakeWindow;
using testing::LogFolder;

struct stat Stat(const QString& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(QFile::encodeName(path).constData(), &st), 0) << path.toStdString();
  return st;
}

class Rewrite : public ::testing::Test {
 protected:
  // Loads name with both cleaning rules off and runs action; true when it completed.
  bool Run(const QString& name, void (LogOperations::*action)()) {
    window.selected = name;
    window.answers = {vbCancel, vbCancel};
    ops.LoadSequence();
    (ops.*action)();
    return !window.boxes.empty() && window.boxes.back().second == texts::kCompleteTitle;
  }

  LogFolder folder;
  FakeWindow window;
  DiskFileStore disk;
  Module1 module;
  LogOperations ops{window, disk, folder.path(), module};
};

// As root the log is first given to another owner, which the rewrite must keep; an ordinary
// user can only check that the file stays theirs. Setuid and setgid bits are in the table
// because changing a file's owner clears them: the mode must be set after the owner.
TEST_F(Rewrite, KeepsModeOwnerAndGroup) {
  const bool root = ::geteuid() == 0;
  const uid_t uid = root ? 12345 : ::geteuid();
  const gid_t gid = root ? 12345 : ::getegid();
  const std::vector<mode_t> modes = {0600, 0644, 0640, 0444, 02750, 04755};
  for (mode_t mode : modes) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    if (mode == 0444 && !root) continue;  // a read-only log cannot be rewritten by its owner
    const QByteArray path = QFile::encodeName(folder.file("log.txt"));
    folder.write("log.txt", "A\r\nB\r\n");
    folder.write("log.html", "old");
    for (const QByteArray& p : {path, QFile::encodeName(folder.file("log.html"))}) {
      if (root) {
        ASSERT_EQ(::chown(p.constData(), uid, gid), 0);
      }
      ASSERT_EQ(::chmod(p.constData(), mode), 0);
    }

    ASSERT_TRUE(Run("log.txt", &LogOperations::Command1_Click));
    EXPECT_EQ(folder.read("log.txt"), "B\r\nA\r\n\r\n");
    ASSERT_TRUE(Run("log.txt", &LogOperations::Command3_Click));
    for (const char* name : {"log.txt", "log.html"}) {
      const struct stat st = Stat(folder.file(name));
      EXPECT_EQ(st.st_mode & 07777, mode) << name;
      EXPECT_EQ(st.st_uid, uid) << name;
      EXPECT_EQ(st.st_gid, gid) << name;
    }
    EXPECT_EQ(folder.entries(), (QStringList{"log.html", "log.txt"}));
  }
}

// An ordinary user's own writes clear the setuid and setgid bits of a file (root's do not), so
// the rewrite must give the mode back after writing. As root this runs as the user nobody.
TEST(RewriteByOrdinaryUser, KeepsSetuidAndSetgidBits) {
  const bool root = ::geteuid() == 0;
  for (mode_t mode : {02750, 04755, 06700}) {
    SCOPED_TRACE("mode " + std::to_string(mode));
    LogFolder folder;
    folder.write("log.txt", "A\r\nB\r\n");
    folder.write("log.html", "old");
    for (const char* name : {"log.txt", "log.html"}) {
      const QByteArray path = QFile::encodeName(folder.file(name));
      if (root) {
        ASSERT_EQ(::chown(path.constData(), 65534, 65534), 0);
      }
      ASSERT_EQ(::chmod(path.constData(), mode), 0);
    }
    auto rewrite = [&] {
      FakeWindow window;
      DiskFileStore disk;
      Module1 module;
      LogOperations ops(window, disk, folder.path(), module);
      window.selected = "log.txt";
      ops.LoadSequence();
      ops.Command1_Click();
      ops.Command3_Click();
      int completed = 0;
      for (const auto& box : window.boxes) completed += box.second == texts::kCompleteTitle;
      return std::to_string(completed);
    };
    std::string completed;
    if (root) {
      ASSERT_EQ(::chmod(QFile::encodeName(folder.path()).constData(), 0777), 0);
      const testing::ChildResult child = testing::RunInChild(
          rewrite, {-1, true, QFile::encodeName(folder.file("log.txt")).toStdString()});
      if (child.couldNotDropPrivileges) GTEST_SKIP() << "the user nobody cannot be had";
      ASSERT_TRUE(child.exited && child.exitCode == 0);
      completed = child.output;
    } else {
      completed = rewrite();
    }
    EXPECT_EQ(completed, "2");
    for (const char* name : {"log.txt", "log.html"})
      EXPECT_EQ(Stat(folder.file(name)).st_mode & 07777, mode) << name;
  }
}

// A log reached through a symbolic link (relative, absolute, or a chain of them) stays a link;
// the file it points to gets the new content, and the document goes beside the link.
TEST_F(Rewrite, SymlinkedLogStaysALink) {
  ASSERT_TRUE(QDir(folder.path()).mkpath("store"));
  struct Case {
    const char* name;
    QStringList links;  // each link points to the next; the last to the real file
  };
  const std::vector<Case> cases = {
      {"relative", {"rel.txt"}},
      {"absolute", {"abs.txt"}},
      {"chain", {"chain.txt", "store/middle.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString real = QStringLiteral("store/%1-real.txt").arg(c.name);
    folder.write(real, "A\r\nB\r\n");
    QStringList chain = c.links;
    chain.append(real);
    for (qsizetype i = 0; i + 1 < chain.size(); ++i) {
      const QString link = folder.file(chain[i]);
      const QString to = std::string(c.name) == "absolute"
                             ? folder.file(chain[i + 1])
                             : QFileInfo(link).dir().relativeFilePath(folder.file(chain[i + 1]));
      ASSERT_EQ(::symlink(QFile::encodeName(to).constData(), QFile::encodeName(link).constData()),
                0);
    }
    const QString name = c.links.first();
    const QString document = name.left(name.size() - 4) + ".html";

    ASSERT_TRUE(Run(name, &LogOperations::Command1_Click));
    ASSERT_TRUE(Run(name, &LogOperations::Command3_Click));
    for (qsizetype i = 0; i + 1 < chain.size(); ++i)
      EXPECT_TRUE(QFileInfo(folder.file(chain[i])).isSymLink()) << chain[i].toStdString();
    EXPECT_EQ(folder.read(real), "B\r\nA\r\n\r\n");
    EXPECT_TRUE(QFileInfo(folder.file(document)).isFile());
    EXPECT_FALSE(QFileInfo(folder.file(document)).isSymLink());
    // HTML Save read the rewritten log back through the link.
    EXPECT_TRUE(folder.read(document).contains("<br>\r\nA<br>\r\nB<br>\r\n"));
  }
  // Nothing but the links, the real files and the documents beside the links.
  EXPECT_EQ(folder.entries(), (QStringList{"abs.html", "abs.txt", "chain.html", "chain.txt",
                                           "rel.html", "rel.txt", "store"}));
  EXPECT_EQ(
      QDir(folder.file("store")).entryList(QDir::Files | QDir::System, QDir::Name),
      (QStringList{"absolute-real.txt", "chain-real.txt", "middle.txt", "relative-real.txt"}));
}

// An existing document that is a link stays one too.
TEST_F(Rewrite, SymlinkedDocumentStaysALink) {
  folder.write("log.txt", "A");
  folder.write("elsewhere.html", "old");
  ASSERT_TRUE(QFile::link("elsewhere.html", folder.file("log.html")));
  ASSERT_TRUE(Run("log.txt", &LogOperations::Command3_Click));
  EXPECT_TRUE(QFileInfo(folder.file("log.html")).isSymLink());
  EXPECT_TRUE(folder.read("elsewhere.html").contains("A<br>\r\n"));
  EXPECT_EQ(folder.entries(), (QStringList{"elsewhere.html", "log.html", "log.txt"}));
}

}  // namespace
}  // namespace parlotrim
