// Logs no chat program writes, and keywords that cannot be encoded: each comes through byte for
// byte, on both systems, or is refused with a reason and nothing changed.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "tests/core/test_files.h"

namespace parlotrim {
namespace {

using namespace testing;

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
  // Random bytes with no CR (NUL bytes and lone LFs among them) in lines ended by CR LF,
  // separators and empty lines between.
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
  std::vector<Case> cases = {
      {"lone CRs", "cr.txt", QByteArray(200000, '\r'), false, QByteArrayList(200000)},
      {"invalid Shift JIS", "sjis.txt", badShiftJis.join("\r\n"), true, badShiftJis},
      {"binary", "bin.txt", binary, true, binaryKept},
      {"a line of 64 MiB", "huge.txt", huge + "\r\ntail", true, {huge, "tail"}},
#ifdef Q_OS_WIN
      {"Japanese name", QStringLiteral("会話\u3000.txt"), "A\r\nB", false, {"A", "B"}},
#else
      {"UTF-8 name", "\xe4\xbc\x9a\xe8\xa9\xb1\xe3\x80\x80.txt", "A\r\nB", false, {"A", "B"}},
#endif
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
    QByteArray working, body, rewritten;
    for (const QByteArray& line : c.kept) working.append("\r\n").append(line);
    for (auto line = c.kept.rbegin(); line != c.kept.rend(); ++line) {
      body.append(*line).append("<br>\r\n");
      rewritten.append(*line).append("\r\n");
    }
    EXPECT_TRUE(s.window.text1 == working);
    const NativeName document = c.name.chopped(4) + ".html";
    ASSERT_EQ(s.Run(Op::Html), c.document);
    EXPECT_TRUE(c.document ? s.folder.read(document).endsWith(body + "\r\n</body></html>\r\n")
                           : s.window.boxes.back().prompt.contains(
                                 QStringLiteral("ファイル名が長すぎます")))
        << s.window.boxes.back().prompt.toStdString();
    ASSERT_TRUE(s.Run(Op::Change));
    EXPECT_TRUE(s.folder.read(c.name) == rewritten + "\r\n");
    EXPECT_EQ(s.folder.entries(),
              (c.document ? QList<NativeName>{document, c.name} : QList<NativeName>{c.name}));
  }
}

}  // namespace
}  // namespace parlotrim
