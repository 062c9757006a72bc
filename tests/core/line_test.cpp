#include <gtest/gtest.h>

#include <QByteArray>
#include <QList>
#include <random>

#include "core/line_cleaning.h"
#include "core/line_reader.h"

namespace parlotrim {
namespace {

QList<QByteArray> Lines(QByteArrayView data) {
  QList<QByteArray> lines;
  ForEachLine(data, [&](QByteArrayView line) { lines.append(line.toByteArray()); });
  return lines;
}

QList<QByteArray> LinesInChunks(QByteArrayView data, const QList<qsizetype>& cuts) {
  QList<QByteArray> lines;
  LineSplitter splitter;
  auto sink = [&](QByteArrayView line) { lines.append(line.toByteArray()); };
  qsizetype from = 0;
  for (qsizetype cut : cuts) {
    splitter.Feed(data.sliced(from, cut - from), sink);
    from = cut;
  }
  splitter.Feed(data.sliced(from), sink);
  splitter.Finish(sink);
  return lines;
}

struct ReadCase {
  const char* name;
  QByteArray input;
  QList<QByteArray> lines;
};

const QList<ReadCase>& ReadCases() {
  static const QList<ReadCase> cases = {
      {"empty file", "", {}},
      {"crlf ends", "a\r\nb\r\n", {"a", "b"}},
      {"lone cr ends", "a\rb\r", {"a", "b"}},
      {"lone lf is a character", "a\nb\r\nc", {"a\nb", "c"}},
      {"only lf", "a\nb\n", {"a\nb\n"}},
      {"no final terminator", "a\r\nb", {"a", "b"}},
      {"single terminator", "\r\n", {""}},
      {"empty lines", "\r\n\r\n\r\n", {"", "", ""}},
      {"cr then crlf", "\r\r\n", {"", ""}},
      {"lf cr", "\n\r", {"\n"}},
      {"crlf crlf end", "a\r\n\r\n", {"a", ""}},
      {"nul and high bytes",
       QByteArray("\0\x80\xff\r\n\x81", 6),
       {QByteArray("\0\x80\xff", 3), "\x81"}},
      {"shift jis with cr", "\x83\x70\r\x83\x70", {"\x83\x70", "\x83\x70"}},
  };
  return cases;
}

TEST(LineReader, SplitsWholeBuffer) {
  for (const ReadCase& c : ReadCases()) {
    EXPECT_EQ(Lines(c.input), c.lines) << c.name;
  }
}

TEST(LineReader, SameLinesForEveryChunkCut) {
  // Every single cut and every pair of cuts, so each CR and LF lands on a chunk edge.
  for (const ReadCase& c : ReadCases()) {
    const qsizetype n = c.input.size();
    for (qsizetype i = 0; i <= n; ++i) {
      for (qsizetype j = i; j <= n; ++j) {
        EXPECT_EQ(LinesInChunks(c.input, {i, j}), c.lines) << c.name << " cut " << i << "," << j;
      }
    }
  }
}

struct CleanCase {
  const char* name;
  bool lineDelete;
  bool nullDelete;
  QByteArray log;
  QByteArray workingText;
  QByteArray convertedText;
};

TEST(LineCleaning, FlagCombinations) {
  const QByteArray log = "a\r\n\r\n----\r\n \r\n-\r\n--- x\r\nx ---\r\n -\r\nz";
  const QList<CleanCase> cases = {
      {"keep all", false, false, log, "\r\na\r\n\r\n----\r\n \r\n-\r\n--- x\r\nx ---\r\n -\r\nz",
       "z\r\n -\r\nx ---\r\n--- x\r\n-\r\n \r\n----\r\n\r\na\r\n"},
      {"separators emptied", true, false, log,
       "\r\na\r\n\r\n\r\n \r\n\r\n--- x\r\nx ---\r\n -\r\nz",
       "z\r\n -\r\nx ---\r\n--- x\r\n\r\n \r\n\r\n\r\na\r\n"},
      {"blanks dropped", false, true, log, "\r\na\r\n----\r\n \r\n-\r\n--- x\r\nx ---\r\n -\r\nz",
       "z\r\n -\r\nx ---\r\n--- x\r\n-\r\n \r\n----\r\na\r\n"},
      {"both", true, true, log, "\r\na\r\n \r\n--- x\r\nx ---\r\n -\r\nz",
       "z\r\n -\r\nx ---\r\n--- x\r\n \r\na\r\n"},
      {"empty log", true, true, "", "", ""},
      {"all dropped", true, true, "\r\n---\r\n\r\n", "", ""},
      {"last line empty", false, false, "A\r\nB\r\n\r\n", "\r\nA\r\nB\r\n", "\r\nB\r\nA\r\n"},
      {"full-width and other dashes are no separators", true, true,
       "\x81\x7c\r\n\x81\x5b\r\n==\r\n__", "\r\n\x81\x7c\r\n\x81\x5b\r\n==\r\n__",
       "__\r\n==\r\n\x81\x5b\r\n\x81\x7c\r\n"},
  };
  for (const CleanCase& c : cases) {
    Module1 flags{c.nullDelete, c.lineDelete};
    EXPECT_EQ(BuildWorkingText(c.log, flags), c.workingText) << c.name;
    EXPECT_EQ(TakeWorkingText(QByteArray(c.log.constData(), c.log.size()), flags), c.workingText)
        << c.name;
    EXPECT_EQ(BuildConvertedText(c.log, flags), c.convertedText) << c.name;
  }
}

// The in-place build must give the same bytes as the copying one, also where it has to give up
// part way (lone CRs make the text longer than the log) or grow the buffer.
TEST(LineCleaning, InPlaceWorkingTextMatchesCopy) {
  QList<QByteArray> logs = {"",        "a",        "a\r\n",     "a\rb\rc",      "\r\r\r",
                            "ab\r\nc", "\r\n\r\n", "x\ry\r\nz", "--\r--\r\n--", "\n\r\n"};
  std::mt19937 rng(11);
  const char alphabet[] = {'a', '-', '\r', '\n', '\r'};
  for (int n = 0; n < 300; ++n) {
    QByteArray log;
    for (int i = rng() % 40; i > 0; --i) log += alphabet[rng() % sizeof alphabet];
    logs.append(log);
  }
  for (const QByteArray& log : logs) {
    for (int f = 0; f < 4; ++f) {
      const Module1 flags{(f & 1) != 0, (f & 2) != 0};
      QByteArray exactCapacity;
      exactCapacity.reserve(log.size());
      exactCapacity.append(log);
      EXPECT_EQ(TakeWorkingText(exactCapacity, flags), BuildWorkingText(log, flags))
          << log.toHex().constData() << " flags " << f;
    }
  }
}

// Change and Save and HTML Save build their text while the log arrives in blocks, and the result
// grows when the log's size was not known or was too small a guess.
TEST(LineCleaning, ReversedTextFromBlocksMatchesWhole) {
  std::mt19937 rng(5);
  const char alphabet[] = {'a', '-', '\r', '\n', 'b', '\r'};
  for (int n = 0; n < 200; ++n) {
    QByteArray log;
    for (int i = rng() % 3000; i > 0; --i) log += alphabet[rng() % sizeof alphabet];
    const Module1 flags{(n & 1) != 0, (n & 2) != 0};
    const Emphasis emphasis{true, "a", true};
    for (const Emphasis* e : {static_cast<const Emphasis*>(nullptr), &emphasis}) {
      ReversedTextBuilder builder(flags, e, n % 3 == 0 ? 0 : log.size());
      for (qsizetype at = 0; at < log.size();) {
        const qsizetype take = qMin<qsizetype>(1 + rng() % 50, log.size() - at);
        builder.Feed(QByteArrayView(log).sliced(at, take));
        at += take;
      }
      EXPECT_EQ(builder.Finish(),
                e ? BuildHtmlBody(log, flags, *e) : BuildConvertedText(log, flags));
    }
  }
}

struct BodyCase {
  const char* name;
  bool lineDelete;
  bool nullDelete;
  bool emphasis;
  QByteArray keyword;
  QByteArray log;
  QByteArray body;
};

TEST(HtmlBody, CleaningAndEmphasis) {
  const QList<BodyCase> cases = {
      {"plain reversed", false, false, false, "", "A\r\nB\r\nC\r\n", "C<br>\r\nB<br>\r\nA<br>\r\n"},
      {"empty log", false, false, true, "", "", ""},
      {"blank kept", false, false, false, "", "A\r\n\r\nB", "B<br>\r\n<br>\r\nA<br>\r\n"},
      {"blank dropped", false, true, false, "", "A\r\n\r\nB", "B<br>\r\nA<br>\r\n"},
      {"separator emptied", true, false, false, "", "A\r\n--\r\nB", "B<br>\r\n<br>\r\nA<br>\r\n"},
      {"separator dropped", true, true, false, "", "A\r\n--\r\nB", "B<br>\r\nA<br>\r\n"},
      {"empty keyword marks non-empty lines", false, false, true, "", "A\r\n\r\nB",
       "<strong>B</strong><br>\r\n<br>\r\n<strong>A</strong><br>\r\n"},
      {"keyword prefix exact", false, false, true, "AB", "AB\r\nABC\r\nA\r\nab\r\nxAB",
       "xAB<br>\r\nab<br>\r\nA<br>\r\n<strong>ABC</strong><br>\r\n<strong>AB</strong><br>\r\n"},
      {"dash keyword after separator rule", true, false, true, "-", "--\r\n-x",
       "<strong>-x</strong><br>\r\n<br>\r\n"},
      {"dash keyword without separator rule", false, false, true, "-", "--",
       "<strong>--</strong><br>\r\n"},
      {"emphasis off ignores keyword", false, false, false, "A", "A", "A<br>\r\n"},
      {"markup passes unescaped", false, false, false, "", "<b>&\"</b>", "<b>&\"</b><br>\r\n"},
      {"shift jis keyword", false, false, true, "\x83\x70", "\x83\x70\x81\x5b\r\n\x83\x71",
       "\x83\x71<br>\r\n<strong>\x83\x70\x81\x5b</strong><br>\r\n"},
  };
  for (const BodyCase& c : cases) {
    Module1 flags{c.nullDelete, c.lineDelete};
    Emphasis emphasis{c.emphasis, c.keyword, true};
    EXPECT_EQ(BuildHtmlBody(c.log, flags, emphasis), c.body) << c.name;
  }
}

}  // namespace
}  // namespace parlotrim
