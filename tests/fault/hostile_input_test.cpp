// Logs no chat program writes: huge, empty, binary, badly encoded, oddly or very long named, not
// files at all, too large for memory, or with a keyword that cannot be encoded. Each must come
// through byte for byte, or be refused with a reason and nothing changed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <random>
#include <string>
#include <vector>

#include "core/texts.h"
#include "platform/code_page.h"
#include "tests/fault/fault_support.h"

namespace parlotrim {
namespace {

using namespace testing;

// The bytes of a literal that may hold NUL bytes.
template <size_t N>
QByteArray Z(const char (&literal)[N]) {
  return QByteArray(literal, N - 1);
}

TEST(Hostile, LogsComeThroughByteForByte) {
  struct Case {
    const char* what;
    QByteArray name;
    QByteArray log;
    bool clean;            // empty lines and separators dropped
    QByteArrayList kept;   // the lines that stay, in order
    QString shown = {};    // the working text as the window shows it, where that matters
    QString keyword = {};  // to emphasise, where there is one
  };
  // Random bytes with no CR in lines ended by CR LF, separators and empty lines between.
  std::mt19937 rng(7);
  QByteArray binary;
  QByteArrayList binaryKept;
  while (binary.size() < (1 << 18)) {
    QByteArray line(rng() % 300, Qt::Uninitialized);
    for (char& c : line) c = char(rng());
    line.replace('\r', '\n');
    binary += line + (rng() % 4 ? "\r\n" : "\r\n--\r\n\r\n");
    if (line.count('-') < line.size()) binaryKept << line;
  }
  // All "-" but its last byte (so that the separator test runs the whole length), with its CR LF
  // astride the 64 MiB piece in which logs are read.
  const QByteArray huge = QByteArray((qsizetype(64) << 20) - 2, '-') + 'x';
  // Cut, unassigned or impossible characters ("-" is never a trail byte).
  const QByteArrayList badShiftJis = {"\x80\xa0\xfd\xfe\xff", "\x81", "\x82\xa0\x82",
                                      "\x85\x40\xeb\x40", "\x83-\x83\x2d"};
  // Lines that begin with what an encoder may put for a character it cannot encode.
  const QByteArrayList substitutes = {"x? line", "x?? line", "x\x1a line", "x\xfc\xfc line", "?"};
  const QByteArrayList nulLines = {Z("\0"), Z("\0\0"), Z("\0\n\0"), Z("-\0-"), Z("\0")};
  std::vector<Case> cases = {
      {"lone CRs", "cr.txt", QByteArray(200000, '\r'), false, QByteArrayList(200000)},
      {"CRs and LFs", "lf.txt", "a\rb\r\rc\n\r\r\n\nd", false, {"a", "b", "", "c\n", "", "\nd"}},
      {"NUL bytes", "nul.txt", Z("\0\r\n\0\0\r\0\n\0\r\n\r\n-\0-\r\n\0"), true, nulLines},
      {"invalid Shift JIS", "sjis.txt", badShiftJis.join("\r\n"), true, badShiftJis,
       QStringLiteral("\r\n\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\r\n\uFFFD\r\n\u3042\uFFFD\r\n"
                      "\uFFFD\uFFFD\r\n\uFFFD-\uFFFD-")},
      {"binary", "bin.txt", binary, true, binaryKept},
      {"a line of 64 MiB", "huge.txt", huge + "\r\ntail", true, {huge, "tail"}},
      {"UTF-8 name", "\xe4\xbc\x9a\xe8\xa9\xb1\xe3\x80\x80.txt", "A\r\nB", false, {"A", "B"}},
      {"Shift JIS name", "\x83\x8d\x83\x4f.txt", "A\r\nB", false, {"A", "B"}},
      {"name exactly .txt", ".txt", "A\r\nB", false, {"A", "B"}},
      {"name of 250 bytes", QByteArray(246, 'n') + ".txt", "A\r\nB", false, {"A", "B"}},
  };
  for (const QString& keyword :
       {QStringLiteral("x\U0001F600"), QString(QChar(0xD800)), QStringLiteral("x\uFFFD")}) {
    cases.push_back(
        {"unencodable keyword", "k.txt", substitutes.join('\r'), false, substitutes, {}, keyword});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what + (" " + c.keyword).toStdString());
    Session s;
    s.folder.write(c.name, c.log);
    ASSERT_TRUE(s.Load(c.name, c.clean));
    s.window.check1 = !c.keyword.isNull();  // an unencodable keyword can begin no line
    s.window.text3 = c.keyword;
    QByteArray working, body, rewritten;
    for (const QByteArray& line : c.kept) working.append("\r\n").append(line);
    for (auto line = c.kept.rbegin(); line != c.kept.rend(); ++line) {
      body.append(*line).append("<br>\r\n");
      rewritten.append(*line).append("\r\n");
    }
    EXPECT_TRUE(s.window.text1 == working);
    EXPECT_TRUE(c.shown.isNull() || DecodeCodePage(s.window.text1) == c.shown);
    const QByteArray document = c.name.chopped(4) + ".html";
    ASSERT_TRUE(s.Run(Op::Html));
    EXPECT_TRUE(s.folder.read(document).endsWith(body + "\r\n</body></html>\r\n"));
    ASSERT_TRUE(s.Run(Op::Change));
    EXPECT_TRUE(s.folder.read(c.name) == rewritten + "\r\n");
    EXPECT_EQ(s.folder.entries(), (QList<QByteArray>{document, c.name}));
  }
}

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
  ASSERT_EQ(::symlink("b.txt", f.file("link.txt").constData()), 0);
  ASSERT_EQ(::symlink("/dev/zero", f.file("zero.txt").constData()), 0);
  ASSERT_EQ(::symlink("nowhere", f.file("dangling.txt").constData()), 0);
  ASSERT_EQ(::mkfifo(f.file("fifo.txt").constData(), 0644), 0);
  ASSERT_EQ(::symlink("fifo.txt", f.file("tofifo.txt").constData()), 0);
  ASSERT_EQ(::mkdir(f.file("folder.txt").constData(), 0755), 0);
  PosixCalls disk;
  EXPECT_EQ(FileStore(disk).ListLogs(f.path()),
            (QList<QByteArray>{"A.TXT", "b.txt", "link.txt", "\x83\x8d.txt"}));
  for (const char* name : {"zero.txt", "fifo.txt", "tofifo.txt", "folder.txt"}) {
    s.window.boxes.clear();
    EXPECT_FALSE(s.Load(name)) << name;
    EXPECT_EQ(s.window.boxes.back().title, texts::kReadErrorTitle) << name;
  }
}

// A document name one byte too long for the file system is refused with a cause a user can
// read; the log itself is rewritten all the same.
TEST(Hostile, NameTooLongForTheDocument) {
  Session s;
  const QByteArray name = QByteArray(251, 'n') + ".txt";
  s.folder.write(name, "A\r\nB");
  ASSERT_TRUE(s.Load(name));
  EXPECT_FALSE(s.Run(Op::Html));
  EXPECT_TRUE(s.window.boxes.back().prompt.contains(QStringLiteral("ファイル名が長すぎます")));
  EXPECT_TRUE(s.Run(Op::Change));
  EXPECT_EQ(s.folder.read(name), "B\r\nA\r\n\r\n");
}

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
  long long used = 0;  // kB of address space the process has now
  QFile status("/proc/self/status");
  if (status.open(QIODevice::ReadOnly))
    used = QString::fromLatin1(status.readAll())
               .split('\n')
               .filter("VmSize:")
               .value(0)
               .mid(7)
               .trimmed()
               .split(' ')[0]
               .toLongLong();
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
      {-1, used * 1024 + (128ll << 20), {}});
  const std::string read = texts::kReadErrorTitle.toStdString() + ",";
  EXPECT_EQ(child.output, read + read + read + read + "then loaded");
  EXPECT_TRUE(s.folder.read("big.txt") == big);
  EXPECT_EQ(s.folder.entries(), (QList<QByteArray>{"big.txt", "small.txt"}));
#endif
}

}  // namespace
}  // namespace parlotrim
