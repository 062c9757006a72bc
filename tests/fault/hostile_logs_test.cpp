// Hostile logs, keywords and names: through byte for byte, or refused at once with a reason.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/texts.h"
#include "tests/fault/fault_support.h"

namespace parlotrim::testing {

TEST(Hostile, LogsComeThroughByteForByte) {
  struct Case {
    const char* what;
    NativeName name;
    QByteArray log;
    bool clean;            // empty lines and separators dropped
    QByteArrayList kept;   // the lines that stay, in order
    QString keyword = {};  // to emphasise, where there is one
    bool document = true;  // false: the document's name is too long, and the user is told so
  };
  // Random bytes, NUL and lone LF among them but no CR, in CR LF lines; separators and empty lines.
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
  // All "-" but its last byte, with its CR LF astride the 64 MiB piece in which logs are read.
  const QByteArray huge = QByteArray((qsizetype(64) << 20) - 2, '-') + 'x';
  // Cut, unassigned or impossible characters ("-" is never a trail byte).
  const QByteArrayList badShiftJis = {"\x80\xa0\xfd\xfe\xff", "\x81", "\x82\xa0\x82",
                                      "\x85\x40\xeb\x40", "\x83-\x83\x2d"};
  // Lines that begin with what an encoder may put for a character it cannot encode.
  const QByteArrayList substitutes = {"x? line", "x?? line", "x\x1a line", "x\xfc\xfc line", "?"};
  const NativeName japanese(QStringLiteral("会話\u3000.txt").toUtf8());  // UTF-8 on POSIX systems
  std::vector<Case> cases = {
      {"lone CRs", "cr.txt", QByteArray(200000, '\r'), false, QByteArrayList(200000)},
      {"invalid Shift JIS", "sjis.txt", badShiftJis.join("\r\n"), true, badShiftJis},
      {"binary", "bin.txt", binary, true, binaryKept},
      {"a line of 64 MiB", "huge.txt", huge + "\r\ntail", true, {huge, "tail"}},
      {"Japanese name", japanese, "A\r\nB", false, {"A", "B"}},
      {"name exactly .txt", ".txt", "A\r\nB", false, {"A", "B"}},
      {"name of 250 units", NativeName(246, 'n') + ".txt", "A\r\nB", false, {"A", "B"}},
      {"name of 255 units", NativeName(251, 'n') + ".txt", "A\r\nB", false, {"A", "B"}, {}, false},
  };
  for (const QString& keyword :
       {QStringLiteral("x\U0001F600"), QString(QChar(0xD800)), QStringLiteral("x\uFFFD")}) {
    cases.push_back(
        {"unencodable keyword", "k.txt", substitutes.join('\r'), false, substitutes, keyword});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what + (" " + c.keyword).toStdString());
    Session s;
    s.folder.write(c.name, c.log);
    ASSERT_TRUE(s.Load(c.name, c.clean));
    s.window.check1 = !c.keyword.isNull();  // an unencodable keyword can begin no line
    s.window.text3 = c.keyword;
    const QByteArrayList reversed(c.kept.rbegin(), c.kept.rend());
    EXPECT_TRUE(s.window.text1 == "\r\n" + c.kept.join("\r\n"));
    const NativeName document = c.name.chopped(4) + ".html";
    ASSERT_EQ(s.Run(Op::Html), c.document);
    EXPECT_TRUE(c.document ? s.folder.read(document).endsWith(reversed.join("<br>\r\n") +
                                                              "<br>\r\n\r\n</body></html>\r\n")
                           : s.window.boxes.back().prompt.contains(
                                 QStringLiteral("ファイル名が長すぎます")))
        << s.window.boxes.back().prompt.toStdString();
    ASSERT_TRUE(s.Run(Op::Change));
    EXPECT_TRUE(s.folder.read(c.name) == reversed.join("\r\n") + "\r\n\r\n");
    EXPECT_EQ(s.folder.entries(),
              (c.document ? QList<NativeName>{document, c.name} : QList<NativeName>{c.name}));
  }
}

#ifndef Q_OS_WIN
// The list shows regular files only; a name that is no regular file is refused at once.
TEST(Hostile, OnlyRegularFilesAreListedOrRead) {
  Session s;
  const LogFolder& f = s.folder;
  for (const char* name : {"b.txt", "A.TXT", "\x83\x8d.txt", ".hidden.txt", "notes.log"})
    f.write(name, name);
  ASSERT_TRUE(
      f.run("ln -s b.txt link.txt && ln -s /dev/zero zero.txt && ln -s nowhere dangling.txt"
            " && mkfifo fifo.txt && ln -s fifo.txt tofifo.txt && mkdir folder.txt"));
  EXPECT_EQ(FileStore(s.disk).ListLogs(f.path()),
            (QList<QByteArray>{"A.TXT", "b.txt", "link.txt", "\x83\x8d.txt"}));
  for (const char* name : {"zero.txt", "fifo.txt", "tofifo.txt", "folder.txt"}) {
    s.window.boxes.clear();
    EXPECT_FALSE(s.Load(name)) << name;
    EXPECT_EQ(s.window.boxes.back().title, texts::kReadErrorTitle) << name;
  }
}

#endif

// Too large for the memory allowed: refused as unreadable, nothing changed; a smaller one loads.
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

}  // namespace parlotrim::testing
