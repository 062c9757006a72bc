// Logs no chat program writes: huge, empty, binary, badly encoded, oddly named, or with a keyword
// that cannot be encoded. Each goes through the load, HTML Save and Change and Save, and must come
// out byte for byte.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

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
    QString name;
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
  const QByteArray emptyLines = QByteArray("\r\n").repeated(1000000);
  // All "-" but its last byte (so that the separator test runs the whole length), with its CR LF
  // astride the 64 MiB block in which logs are read.
  const QByteArray huge = QByteArray((qsizetype(64) << 20) - 2, '-') + 'x';
  // Cut, unassigned or impossible characters ("-" is never a trail byte).
  const QByteArrayList badShiftJis = {"\x80\xa0\xfd\xfe\xff", "\x81", "\x82\xa0\x82",
                                      "\x85\x40\xeb\x40", "\x83-\x83\x2d"};
  // Lines that begin with what an encoder may put for a character it cannot encode.
  const QByteArrayList substitutes = {"x? line", "x?? line", "x\x1a line", "x\xfc\xfc line", "?"};
  const QByteArrayList nulLines = {Z("\0"), Z("\0\0"), Z("\0\n\0"), Z("-\0-"), Z("\0")};
  std::vector<Case> cases = {
      {"a million empty lines", "e.txt", emptyLines, false, QByteArrayList(1000000)},
      {"a million empty lines dropped", "e.txt", emptyLines, true, {}},
      {"lone CRs", "cr.txt", QByteArray(200000, '\r'), false, QByteArrayList(200000)},
      {"CRs and LFs", "lf.txt", "a\rb\r\rc\n\r\r\n\nd", false, {"a", "b", "", "c\n", "", "\nd"}},
      {"NUL bytes", "nul.txt", Z("\0\r\n\0\0\r\0\n\0\r\n\r\n-\0-\r\n\0"), true, nulLines},
      {"invalid Shift JIS", "sjis.txt", badShiftJis.join("\r\n"), true, badShiftJis,
       QStringLiteral("\r\n\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\r\n\uFFFD\r\n\u3042\uFFFD\r\n"
                      "\uFFFD\uFFFD\r\n\uFFFD-\uFFFD-")},
      {"binary", "bin.txt", binary, true, binaryKept},
      {"a line of 64 MiB", "huge.txt", huge + "\r\ntail", true, {huge, "tail"}},
      {"spaces in the name", "with  spaces .txt", "A\r\nB", false, {"A", "B"}},
      {"Japanese name", QStringLiteral("会話ログ　二.txt"), "A\r\nB", false, {"A", "B"}},
      {"name exactly .txt", ".txt", "A\r\nB", false, {"A", "B"}},
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
    const QString document = c.name.chopped(4) + ".html";
    ASSERT_TRUE(s.Run(Op::Html));
    EXPECT_TRUE(s.folder.read(document).endsWith(body + "\r\n</body></html>\r\n"));
    ASSERT_TRUE(s.Run(Op::Change));
    EXPECT_TRUE(s.folder.read(c.name) == rewritten + "\r\n");
    EXPECT_EQ(s.folder.entries(), (QStringList{document, c.name}));
  }
}

}  // namespace
}  // namespace parlotrim
