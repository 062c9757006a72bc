#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <csignal>

#include "platform/file_store.h"
#include "tests/core/test_files.h"

namespace parlotrim {
namespace {

mode_t Mode(const QString& path) {
  struct stat st {};
  ::stat(QFile::encodeName(path).constData(), &st);
  return st.st_mode & 07777;
}

TEST(DiskFileStore, ReadsBytesUnchanged) {
  testing::LogFolder folder;
  QByteArray all;
  for (int i = 0; i < 256; ++i) all += char(i);
  all = all.repeated(1000);
  folder.write("a.txt", all);
  const ReadResult read = DiskFileStore().ReadAll(folder.file("a.txt"));
  ASSERT_TRUE(read.ok);
  EXPECT_EQ(read.data, all);
}

TEST(DiskFileStore, ReadFailuresCarryACause) {
  testing::LogFolder folder;
  QDir(folder.path()).mkdir("dir.txt");
  for (const QString& path : {folder.file("missing.txt"), folder.file("dir.txt"), folder.path()}) {
    const ReadResult read = DiskFileStore().ReadAll(path);
    EXPECT_FALSE(read.ok) << path.toStdString();
    EXPECT_FALSE(read.error.isEmpty()) << path.toStdString();
  }
}

TEST(DiskFileStore, ReplaceKeepsModeAndWritesPieces) {
  for (mode_t mode : {0600, 0644, 0640, 0755}) {
    testing::LogFolder folder;
    folder.write("log.txt", "old");
    ::chmod(QFile::encodeName(folder.file("log.txt")).constData(), mode);
    const WriteResult w = DiskFileStore().Replace(folder.file("log.txt"), {"ab", "", "c\r\n"});
    ASSERT_TRUE(w.ok) << w.error.toStdString();
    EXPECT_EQ(folder.read("log.txt"), "abc\r\n");
    EXPECT_EQ(Mode(folder.file("log.txt")), mode);
    EXPECT_EQ(folder.entries(), QStringList{"log.txt"});
  }
}

TEST(DiskFileStore, ReplaceThroughSymlinkRewritesTarget) {
  testing::LogFolder folder;
  QDir(folder.path()).mkdir("real");
  folder.write("real/log.txt", "old");
  ASSERT_TRUE(QFile::link(folder.file("real/log.txt"), folder.file("link.txt")));
  ASSERT_TRUE(DiskFileStore().Replace(folder.file("link.txt"), {"new"}).ok);
  EXPECT_TRUE(QFileInfo(folder.file("link.txt")).isSymLink());
  EXPECT_EQ(folder.read("real/log.txt"), "new");
  EXPECT_EQ(folder.entries(), (QStringList{"link.txt", "real"}));
}

TEST(DiskFileStore, ReplaceOntoFolderFailsAndLeavesIt) {
  testing::LogFolder folder;
  QDir(folder.path()).mkdir("doc.html");
  const WriteResult w = DiskFileStore().Replace(folder.file("doc.html"), {"x"});
  EXPECT_FALSE(w.ok);
  EXPECT_FALSE(w.error.isEmpty());
  EXPECT_TRUE(QFileInfo(folder.file("doc.html")).isDir());
  EXPECT_EQ(folder.entries(), QStringList{"doc.html"});
}

// A full disk, forced with a file-size limit that holds for root too: in a child process,
// writes past the limit fail with EFBIG. Both a write that goes straight to the file and one
// small enough to wait in a buffer until the final flush must fail and leave the old file.
TEST(DiskFileStore, FullDiskLeavesOldFile) {
  for (qsizetype size : {qsizetype(3000), qsizetype(8) << 20}) {
    testing::LogFolder folder;
    const QByteArray old(1500, 'o');
    folder.write("log.txt", old);
    const pid_t child = ::fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      struct rlimit limit {2048, 2048};
      ::setrlimit(RLIMIT_FSIZE, &limit);
      const WriteResult w = DiskFileStore().Replace(folder.file("log.txt"), {QByteArray(size, 'n')});
      ::_exit(w.ok ? 0 : (w.error.isEmpty() ? 2 : 1));
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1) << "size " << size;
    EXPECT_EQ(folder.read("log.txt"), old) << "size " << size;
    EXPECT_EQ(folder.entries(), QStringList{"log.txt"}) << "size " << size;
  }
}

}  // namespace
}  // namespace parlotrim
