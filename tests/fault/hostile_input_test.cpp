// Names that are no logs' and logs too large for memory: refused at once, with a reason, and
// nothing changed.
#include <gtest/gtest.h>

#include <QFile>
#include <string>
#include <vector>

#include "core/texts.h"
#include "tests/fault/fault_support.h"

namespace parlotrim {
namespace {

using namespace testing;

#ifndef Q_OS_WIN
// The list shows regular files only: nothing it shows can block the program or read without
// end. A name that is no regular file, picked all the same, is refused at once.
TEST(Hostile, OnlyRegularFilesAreListedOrRead) {
  Session s;
  const LogFolder& f = s.folder;
  f.write("b.txt", "b");
  f.write("A.TXT", "a");
  f.write("\x83\x8d.txt", "sjis");
  f.write(".hidden.txt", "h");
  f.write("notes.log", "n");
  ASSERT_TRUE(
      f.run("ln -s b.txt link.txt && ln -s /dev/zero zero.txt && ln -s nowhere dangling.txt"
            " && mkfifo fifo.txt && ln -s fifo.txt tofifo.txt && mkdir folder.txt"));
  PosixCalls disk;
  EXPECT_EQ(FileStore(disk).ListLogs(f.path()),
            (QList<QByteArray>{"A.TXT", "b.txt", "link.txt", "\x83\x8d.txt"}));
  for (const char* name : {"zero.txt", "fifo.txt", "tofifo.txt", "folder.txt"}) {
    s.window.boxes.clear();
    EXPECT_FALSE(s.Load(name)) << name;
    EXPECT_EQ(s.window.boxes.back().title, texts::kReadErrorTitle) << name;
  }
}

#endif

// A log too large for the memory the program may use is refused as unreadable, nothing changes,
// and the program goes on to load a smaller one.
TEST(Hostile, LogTooLargeForMemory) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer needs more address space than any limit leaves";
#else
  Session s;
  const QByteArray big = QByteArray("\x82\xa0 line\r\n").repeated(32 << 20);  // 256 MiB
  s.folder.write("big.txt", big);
  s.folder.write("small.txt", "A\r\nB");
  const Child child = RunInChild(
      [&] {
        std::string seen;
        for (Op op : {Op::Change, Op::Html}) {
          auto last = [&] {
            const Box& box = s.window.boxes.back();
            return box.title.toStdString() + (box.prompt.contains(texts::kNoMemory) ? "," : "?,");
          };
          s.Load("big.txt");
          seen += last();
          s.window.text2 = "big.txt";
          s.Run(op);
          seen += last();
        }
        return seen + (s.Load("small.txt") ? "then loaded" : "then failed");
      },
      {-1, 128ll << 20, false});
  const std::string read = texts::kReadErrorTitle.toStdString() + ",";
  EXPECT_EQ(child.output, read + read + read + read + "then loaded");
  EXPECT_TRUE(s.folder.read("big.txt") == big);
  EXPECT_EQ(s.folder.entries(), (QList<NativeName>{"big.txt", "small.txt"}));
#endif
}

}  // namespace
}  // namespace parlotrim
