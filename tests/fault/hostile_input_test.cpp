// Logs no chat program writes: huge, empty, binary, badly encoded, oddly named. Each goes through
// the whole load, Change and Save and HTML Save and must come out byte for byte as the rules say.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QString>
#include <random>
#include <string>
#include <vector>

#include "core/line_reader.h"
#include "core/log_operations.h"
#include "core/texts.h"
#include "platform/code_page.h"
#include "tests/core/fake_window.h"
#include "tests/core/test_files.h"
#include "tests/fault/reference_model.h"

namespace parlotrim {
namespace {

using testing::FakeWindow;
using testing::LogFolder;

std::string Std(const QByteArray& bytes) {
  return bytes.toStdString();
}

// Bytes of a literal that may hold NUL bytes.
template <size_t N>
QByteArray Bytes(const char (&literal)[N]) {
  return QByteArray(literal, N - 1);
}

class Hostile : public ::testing::Test {
 protected:
  // Loads name with the given answers; true when the load completed.
  bool Load(const QString& name, bool nullDelete, bool lineDelete) {
    window.selected = name;
    window.answers = {nullDelete ? vbOK : vbCancel, lineDelete ? vbOK : vbCancel};
    window.boxes.clear();
    ops.LoadSequence();
    return window.boxes.size() == 2 && window.label6 == "Before";
  }
  bool Change() {
    window.boxes.clear();
    ops.Command1_Click();
    return Completed();
  }
  bool Html(const QString& keyword = QString(), bool emphasis = false) {
    window.check1 = emphasis ? 1 : 0;
    window.text3 = keyword;
    window.boxes.clear();
    ops.Command3_Click();
    return Completed();
  }
  bool Completed() const {
    return !window.boxes.empty() && window.boxes.back().second == texts::kCompleteTitle;
  }
  // The end of a document: its title (as written), the body block and the closing lines.
  static QByteArray Document(const QByteArray& title, const QByteArray& body) {
    return "<title>" + title + "</title>\r\n</head>\r\n<body bgcolor=\"#FFFFFF\">\r\n" + body +
           "\r\n</body></html>\r\n";
  }

  LogFolder folder;
  FakeWindow window;
  DiskFileStore disk;
  Module1 module;
  LogOperations ops{window, disk, folder.path(), module};
};

// One line of 64 MiB less a byte, all "-" but its last character, so that the separator test
// runs the whole length; its CR LF straddles the 64 MiB block in which logs are read.
TEST_F(Hostile, HugeLineAcrossTheReadBlock) {
  constexpr qsizetype kBlock = qsizetype(64) << 20;
  QByteArray log(kBlock + 5, '-');
  log[kBlock - 2] = 'x';
  log[kBlock - 1] = '\r';
  log[kBlock] = '\n';
  log.replace(kBlock + 1, 4, "tail");
  folder.write("big.txt", log);
  const QByteArrayView line(log.constData(), kBlock - 1);

  ASSERT_TRUE(Load("big.txt", true, true));
  EXPECT_EQ(window.text1.size(), 2 + line.size() + 2 + 4);
  EXPECT_TRUE(window.text1.endsWith("x\r\ntail"));
  ASSERT_TRUE(Change());
  log = QByteArray();
  const QByteArray written = folder.read("big.txt");
  ASSERT_EQ(written.size(), 6 + line.size() + 4);
  EXPECT_TRUE(written.startsWith("tail\r\n---"));
  EXPECT_TRUE(written.endsWith("--x\r\n\r\n"));
  EXPECT_EQ(written.indexOf('\r', 6), 6 + line.size());
}

TEST_F(Hostile, MillionEmptyLines) {
  const QByteArray log = QByteArray("\r\n").repeated(1000000);
  folder.write("empty.txt", log);
  struct Case {
    bool nullDelete;
    QByteArray file;
    QByteArray body;
  };
  const std::vector<Case> cases = {
      {false, log + "\r\n", QByteArray("<br>\r\n").repeated(1000000)},
      {true, "\r\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nullDelete ? "blank lines dropped" : "blank lines kept");
    folder.write("empty.txt", log);
    ASSERT_TRUE(Load("empty.txt", c.nullDelete, true));
    ASSERT_TRUE(Html());
    EXPECT_TRUE(window.text1 == c.body);
    ASSERT_TRUE(Change());
    EXPECT_TRUE(folder.read("empty.txt") == c.file);
  }
}

// Lone CRs each end a line; lone LFs end none. Mixed with CR LF in every order.
TEST_F(Hostile, LoneCarriageReturnsAndLineFeeds) {
  const std::vector<std::pair<const char*, QByteArray>> cases = {
      {"lone CRs", QByteArray(200000, '\r')},
      {"lone LFs", QByteArray(200000, '\n')},
      {"LF CR pairs", QByteArray("\n\r").repeated(50000)},
      {"CR CR LF", QByteArray("\r\r\n").repeated(50000)},
      {"text between lone CRs", QByteArray("a\rb\r\rc\n\r").repeated(20000)},
  };
  for (const auto& [name, log] : cases) {
    for (bool nullDelete : {false, true}) {
      SCOPED_TRACE(std::string(name) + (nullDelete ? ", blank lines dropped" : ""));
      reference::Options options;
      options.nullDelete = nullDelete;
      folder.write("cr.txt", log);
      ASSERT_TRUE(Load("cr.txt", nullDelete, false));
      EXPECT_EQ(Std(window.text1), reference::WorkingText(Std(log), options));
      ASSERT_TRUE(Change());
      EXPECT_EQ(Std(folder.read("cr.txt")), reference::ConvertedText(Std(log), options) + "\r\n");
    }
  }
}

// Every arrangement of CR, LF and an ordinary byte up to seven bytes long, read whole and in
// chunks cut at every place, so that each CR and LF lands on each side of each chunk edge.
TEST(HostileLines, EveryPlaceOfCrAndLf) {
  const char alphabet[] = {'a', '\r', '\n'};
  std::string input;
  auto lines = [](std::string_view data) {
    std::vector<std::string> out;
    for (const reference::Line& line : reference::Split(data)) out.push_back(line.text);
    return out;
  };
  auto check = [&](const std::string& data) {
    const std::vector<std::string> expected = lines(data);
    std::vector<std::string> whole;
    ForEachLine(QByteArrayView(data),
                [&](QByteArrayView l) { whole.emplace_back(l.data(), l.size()); });
    ASSERT_EQ(whole, expected) << ::testing::PrintToString(data);
    // A byte at a time, then every single cut (pairs of cuts are in the core suite).
    for (size_t cut = 0; cut <= data.size(); ++cut) {
      std::vector<std::string> chunked;
      auto sink = [&](QByteArrayView l) { chunked.emplace_back(l.data(), l.size()); };
      LineSplitter splitter;
      if (cut == 0) {
        for (char c : data) splitter.Feed(QByteArrayView(&c, 1), sink);
      } else {
        splitter.Feed(QByteArrayView(data).first(cut - 1), sink);
        splitter.Feed(QByteArrayView(data).sliced(cut - 1), sink);
      }
      splitter.Finish(sink);
      ASSERT_EQ(chunked, expected) << ::testing::PrintToString(data) << " cut " << cut;
    }
  };
  // Counts through all strings of each length in base 3.
  for (size_t length = 0; length <= 7; ++length) {
    std::vector<int> digits(length, 0);
    for (;;) {
      input.clear();
      for (int d : digits) input += alphabet[d];
      check(input);
      if (::testing::Test::HasFatalFailure()) return;
      size_t i = 0;
      while (i < length && ++digits[i] == 3) digits[i++] = 0;
      if (i == length) break;
    }
  }
}

TEST_F(Hostile, NulBytes) {
  const QByteArray log = Bytes("\0\r\n\0\0\r\0\n\0\r\n\r\n-\0-\r\n\0");
  folder.write("nul.txt", log);
  ASSERT_TRUE(Load("nul.txt", true, true));
  EXPECT_EQ(window.text1, Bytes("\r\n\0\r\n\0\0\r\n\0\n\0\r\n-\0-\r\n\0"));
  EXPECT_EQ(DecodeCodePage(window.text1.sliced(2, 1)), QString(QChar(0)));
  ASSERT_TRUE(Html(QString(), true));
  EXPECT_EQ(window.text1.count("<strong>"), 5);
  ASSERT_TRUE(Change());
  EXPECT_EQ(folder.read("nul.txt"), Bytes("\0\r\n-\0-\r\n\0\n\0\r\n\0\0\r\n\0\r\n\r\n"));
}

// Bytes that are no Shift JIS go through unchanged; the window shows U+FFFD for them.
TEST_F(Hostile, InvalidShiftJisKeptByteForByte) {
  struct Case {
    QByteArray bytes;
    QString shown;
  };
  const std::vector<Case> cases = {
      {"\x80\xa0\xfd\xfe\xff", QString(5, QChar::ReplacementCharacter)},
      {"\x81", QStringLiteral("\uFFFD")},                    // lead byte cut off by the line end
      {"\x82\xa0\x82", QStringLiteral("\u3042\uFFFD")},      // a character, then a cut one
      {"\x85\x40\xeb\x40", QStringLiteral("\uFFFD\uFFFD")},  // well-formed, unassigned
      {"\x83-\x83\x2d", QStringLiteral("\uFFFD-\uFFFD-")},   // "-" is never a trail byte
      {"\x81\x7f", QStringLiteral("\uFFFD\u007f")},
  };
  QByteArray log;
  QByteArray reversed;
  for (const Case& c : cases) {
    log += c.bytes + "\r\n";
    reversed.prepend(c.bytes + "\r\n");
    EXPECT_EQ(DecodeCodePage(c.bytes), c.shown) << c.bytes.toHex().constData();
  }
  folder.write("bad.txt", log);
  ASSERT_TRUE(Load("bad.txt", true, true));
  ASSERT_TRUE(Html());
  EXPECT_TRUE(
      folder.read("bad.html").contains("\r\n\x83-\x83\x2d<br>\r\n\x85\x40\xeb\x40<br>\r\n"));
  ASSERT_TRUE(Change());
  EXPECT_EQ(window.text1, reversed);
  EXPECT_EQ(folder.read("bad.txt"), reversed + "\r\n");
}

// A keyword the code page cannot encode begins no line, not even a line that begins with
// whatever the encoder would put in place of the missing characters.
TEST_F(Hostile, UnencodableKeywordMatchesNoLine) {
  const QByteArray log =
      "x\xfc\xfc line\r\nx? line\r\nx "
      "line\r\n\xfc\xfc\r\n?\r\n\x1a\r\n\x81\x48\r\n\x94\xad\x8c\xbe\r\n";
  folder.write("k.txt", log);
  ASSERT_TRUE(Load("k.txt", true, false));
  const std::vector<QString> keywords = {
      QStringLiteral("x\u00e9"), QStringLiteral("\U0001F600"), QString(QChar(0xD800)),
      QStringLiteral("x\u00a5"), QStringLiteral("\u20ac"),     QStringLiteral("x\uFFFD"),
  };
  for (const QString& keyword : keywords) {
    SCOPED_TRACE(keyword.toStdString());
    ASSERT_TRUE(Html(keyword, true));
    EXPECT_FALSE(window.text1.contains("<strong>")) << Std(window.text1);
  }
  // The same log with encodable keywords, for contrast.
  ASSERT_TRUE(Html(QStringLiteral("発言"), true));
  EXPECT_EQ(window.text1.count("<strong>"), 1);
  ASSERT_TRUE(Html(QStringLiteral("x"), true));
  EXPECT_EQ(window.text1.count("<strong>"), 3);
}

TEST_F(Hostile, OddLogNames) {
  struct Case {
    QString log;
    QString document;
    QByteArray title;  // as written in the document
  };
  const std::vector<Case> cases = {
      {QStringLiteral("with  spaces .txt"), QStringLiteral("with  spaces .html"),
       "with  spaces .html"},
      {QStringLiteral("会話ログ　二.txt"), QStringLiteral("会話ログ　二.html"),
       "\x89\xef\x98\x62\x83\x8d\x83\x4f\x81\x40\x93\xf1.html"},
      {QStringLiteral(".txt"), QStringLiteral(".html"), ".html"},
      {QStringLiteral("ｶﾅ.txt"), QStringLiteral("ｶﾅ.html"), "\xb6\xc5.html"},
      {QStringLiteral("caf\u00e9 \U0001F600.txt"), QStringLiteral("caf\u00e9 \U0001F600.html"),
       "caf&#233; &#128512;.html"},
      {QStringLiteral("a&b<i>.txt"), QStringLiteral("a&b<i>.html"), "a&amp;b&lt;i&gt;.html"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log.toStdString());
    folder.write(c.log, "A\r\nB\r\n");
    ASSERT_TRUE(Load(c.log, false, false));
    EXPECT_EQ(window.text2, c.log);
    ASSERT_TRUE(Html());
    EXPECT_TRUE(folder.read(c.document).endsWith(Document(c.title, "B<br>\r\nA<br>\r\n")))
        << Std(folder.read(c.document));
    ASSERT_TRUE(Change());
    EXPECT_EQ(folder.read(c.log), "B\r\nA\r\n\r\n");
  }
  QStringList expected;
  for (const Case& c : cases) expected << c.log << c.document;
  expected.sort();
  EXPECT_EQ(folder.entries(), expected);
}

// Not text at all: random bytes are lines like any others, under every combination of rules.
TEST_F(Hostile, BinaryFile) {
  std::mt19937 rng(20240607);
  QByteArray log(1 << 20, Qt::Uninitialized);
  for (char& c : log) c = static_cast<char>(rng());
  // Some separator and empty lines, so that the rules have something to do.
  for (qsizetype at = 1000; at + 8 < log.size(); at += 7919) log.replace(at, 8, "\r\n--\r\n\r\n");
  for (int rules = 0; rules < 4; ++rules) {
    reference::Options options;
    options.nullDelete = (rules & 1) != 0;
    options.lineDelete = (rules & 2) != 0;
    options.emphasis = true;
    options.keyword = "A";
    SCOPED_TRACE("rules " + std::to_string(rules));
    folder.write("bin.txt", log);
    ASSERT_TRUE(Load("bin.txt", options.nullDelete, options.lineDelete));
    EXPECT_TRUE(Std(window.text1) == reference::WorkingText(Std(log), options));
    ASSERT_TRUE(Html(QStringLiteral("A"), true));
    EXPECT_TRUE(Std(window.text1) == reference::HtmlBody(Std(log), options));
    ASSERT_TRUE(Change());
    EXPECT_TRUE(Std(folder.read("bin.txt")) ==
                reference::ConvertedText(Std(log), options) + "\r\n");
  }
}

}  // namespace
}  // namespace parlotrim
