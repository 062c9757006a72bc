#include <gtest/gtest.h>

#include <QByteArray>
#include <QList>
#include <random>

#include "core/line_cleaning.h"
#include "core/line_reader.h"

namespace parlotrim {
namespace {

// Whole, and fed in three blocks cut at every pair of places, so that each CR and LF lands on
// a block edge.
TEST(LineReader, SameLinesWholeAndForEveryBlockCut) {
  const QList<std::pair<QByteArray, QList<QByteArray>>> cases = {
      {"", {}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb\r", {"a", "b"}},
      {"a\nb\r\nc", {"a\nb", "c"}},
      {"a\nb\n", {"a\nb\n"}},
      {"\r\n", {""}},
      {"\r\n\r\n\r\n", {"", "", ""}},
      {"\r\r\n", {"", ""}},
      {"\n\r", {"\n"}},
      {"a\r\n\r\n", {"a", ""}},
      {QByteArray("\0\x80\xff\r\n\x81", 6), {QByteArray("\0\x80\xff", 3), "\x81"}},
  };
  for (const auto& [input, lines] : cases) {
    QList<QByteArray> got;
    auto sink = [&](QByteArrayView line) { got.append(line.toByteArray()); };
    ForEachLine(input, sink);
    EXPECT_EQ(got, lines) << input.toHex().constData();
    const QByteArrayView data(input);
    for (qsizetype i = 0; i <= data.size(); ++i) {
      for (qsizetype j = i; j <= data.size(); ++j) {
        got.clear();
        LineSplitter splitter;
        for (QByteArrayView block : {data.first(i), data.sliced(i, j - i), data.sliced(j)})
          splitter.Feed(block, sink);
        splitter.Finish(sink);
        EXPECT_EQ(got, lines) << input.toHex().constData() << " cut " << i << "," << j;
      }
    }
  }
}

// The working text, the converted text, and the HTML body without emphasis, which is the
// converted text with "<br>" before every line end.
TEST(LineCleaning, FlagCombinations) {
  struct Case {
    bool lineDelete, nullDelete;
    QByteArray log, workingText, convertedText;
  };
  const QByteArray log = "a\r\n\r\n----\r\n \r\n-\r\n--- x\r\nx ---\r\n -\r\n<b>&\"</b>";
  const QList<Case> cases = {
      {false, false, log, "\r\na\r\n\r\n----\r\n \r\n-\r\n--- x\r\nx ---\r\n -\r\n<b>&\"</b>",
       "<b>&\"</b>\r\n -\r\nx ---\r\n--- x\r\n-\r\n \r\n----\r\n\r\na\r\n"},
      {true, false, log, "\r\na\r\n\r\n\r\n \r\n\r\n--- x\r\nx ---\r\n -\r\n<b>&\"</b>",
       "<b>&\"</b>\r\n -\r\nx ---\r\n--- x\r\n\r\n \r\n\r\n\r\na\r\n"},
      {false, true, log, "\r\na\r\n----\r\n \r\n-\r\n--- x\r\nx ---\r\n -\r\n<b>&\"</b>",
       "<b>&\"</b>\r\n -\r\nx ---\r\n--- x\r\n-\r\n \r\n----\r\na\r\n"},
      {true, true, log, "\r\na\r\n \r\n--- x\r\nx ---\r\n -\r\n<b>&\"</b>",
       "<b>&\"</b>\r\n -\r\nx ---\r\n--- x\r\n \r\na\r\n"},
      {true, true, "", "", ""},
      {true, true, "\r\n---\r\n\r\n", "", ""},
      {false, false, "A\r\nB\r\n\r\n", "\r\nA\r\nB\r\n", "\r\nB\r\nA\r\n"},
      {true, true, "\x81\x7c\r\n\x81\x5b\r\n==\r\n__", "\r\n\x81\x7c\r\n\x81\x5b\r\n==\r\n__",
       "__\r\n==\r\n\x81\x5b\r\n\x81\x7c\r\n"},  // full-width and other dashes are no separators
  };
  for (const Case& c : cases) {
    const Module1 flags{c.nullDelete, c.lineDelete};
    SCOPED_TRACE(c.log.toStdString() + (c.lineDelete ? " lines" : "") +
                 (c.nullDelete ? " nulls" : ""));
    EXPECT_EQ(BuildWorkingText(c.log, flags), c.workingText);
    EXPECT_EQ(TakeWorkingText(QByteArray(c.log.constData(), c.log.size()), flags), c.workingText);
    EXPECT_EQ(BuildConvertedText(c.log, flags), c.convertedText);
    EXPECT_EQ(BuildHtmlBody(c.log, flags, {}),
              QByteArray(c.convertedText).replace("\r\n", "<br>\r\n"));
  }
}

// In the log's own buffer (given up where lone CRs make the text longer), or from blocks into a
// result that grows where the size was not known: the same bytes as the plain builds.
TEST(LineCleaning, InPlaceAndBlockwiseBuildsMatchWholeOnes) {
  std::mt19937 rng(5);
  const char alphabet[] = {'a', '-', '\r', '\n', 'b', '\r'};
  const Emphasis emphasis{true, "a", true};
  for (int n = 0; n < 500; ++n) {
    QByteArray log;
    for (int i = rng() % (n < 300 ? 40 : 3000); i > 0; --i)
      log += alphabet[rng() % sizeof alphabet];
    const Module1 flags{(n & 1) != 0, (n & 2) != 0};
    QByteArray exactCapacity;
    exactCapacity.reserve(log.size());
    exactCapacity.append(log);
    EXPECT_EQ(TakeWorkingText(exactCapacity, flags), BuildWorkingText(log, flags))
        << log.toHex().constData() << " flags " << (n & 3);
    for (const Emphasis* e : {static_cast<const Emphasis*>(nullptr), &emphasis}) {
      ReversedTextBuilder builder(flags, e, n % 3 == 0 ? 0 : log.size());
      for (qsizetype at = 0, take; at < log.size(); at += take) {
        take = qMin<qsizetype>(1 + rng() % 50, log.size() - at);
        builder.Feed(QByteArrayView(log).sliced(at, take));
      }
      EXPECT_EQ(builder.Finish(),
                e ? BuildHtmlBody(log, flags, *e) : BuildConvertedText(log, flags));
    }
  }
}

// Logs large enough to be built on two threads, read in blocks of many sizes, with short
// lines, lone CRs and LFs, separators and now and then a line longer than a block: the same
// bytes as one thread building from the whole log.
TEST(LineCleaning, TwoThreadsBuildWhatOneBuilds) {
  std::mt19937 rng(11);
  const QByteArray ends[] = {"\r\n", "\r\n", "\r\n", "\r", "\n", ""};
  const Emphasis emphasis{true, "ab", true};
  for (int n = 0; n < 4; ++n) {
    QByteArray log;
    while (log.size() < (qsizetype(9) << 20)) {
      const int kind = int(rng() % 100);
      if (kind < 5)
        log += "----";
      else if (kind == 5)
        log += QByteArray(qsizetype(rng() % (3 << 20)), 'l');
      else if (kind > 10)
        log += QByteArray("abcdefgh").first(rng() % 8) + QByteArray(rng() % 60, 'x');
      log += ends[rng() % std::size(ends)];
    }
    const Module1 flags{(n & 1) != 0, (n & 2) != 0};
    for (const Emphasis* e : {static_cast<const Emphasis*>(nullptr), &emphasis}) {
      ReversedTextBuilder one(flags, e, 0), two(flags, e, log.size());
      one.Feed(log);
      for (qsizetype at = 0, take, blocks = 0; at < log.size(); at += take, ++blocks) {
        take = qMin<qsizetype>((64 << 10) + rng() % (3 << 19), log.size() - at);
        if (blocks % 2 == 1) {  // every other block ends just after a CR
          const qsizetype cr = log.indexOf('\r', at + take);
          if (cr >= 0) take = cr + 1 - at;
        }
        two.Feed(QByteArrayView(log).sliced(at, take));
      }
      EXPECT_TRUE(one.Finish() == two.Finish()) << "log " << n << (e ? " html" : "");
    }
  }
}

TEST(HtmlBody, Emphasis) {
  struct Case {
    const char* name;
    bool lineDelete, on;
    QByteArray keyword, log, body;
  };
  const QList<Case> cases = {
      {"empty keyword marks non-empty lines", false, true, "", "A\r\n\r\nB",
       "<strong>B</strong><br>\r\n<br>\r\n<strong>A</strong><br>\r\n"},
      {"keyword prefix exact", false, true, "AB", "AB\r\nABC\r\nA\r\nab\r\nxAB\r\nAX",
       "AX<br>\r\nxAB<br>\r\nab<br>\r\nA<br>\r\n<strong>ABC</strong><br>\r\n<strong>AB</strong><br>"
       "\r\n"},
      {"dash keyword after separator rule", true, true, "-", "--\r\n-x",
       "<strong>-x</strong><br>\r\n<br>\r\n"},
      {"dash keyword without separator rule", false, true, "-", "--",
       "<strong>--</strong><br>\r\n"},
      {"emphasis off ignores keyword", false, false, "A", "A", "A<br>\r\n"},
      {"shift jis keyword", false, true, "\x83\x70", "\x83\x70\x81\x5b\r\n\x83\x71",
       "\x83\x71<br>\r\n<strong>\x83\x70\x81\x5b</strong><br>\r\n"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(BuildHtmlBody(c.log, {false, c.lineDelete}, {c.on, c.keyword, true}), c.body)
        << c.name;
}

}  // namespace
}  // namespace parlotrim
