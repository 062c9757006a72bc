#include <gtest/gtest.h>

#include <QByteArray>
#include <QList>
#include <random>
#include <tuple>

#include "core/line_cleaning.h"
#include "core/line_index.h"
#include "core/line_reader.h"
#include "core/log_encoding.h"

namespace parlotrim {
namespace {

constexpr LogEncoding kAnsi = LogEncoding::Ansi, kUtf8 = LogEncoding::Utf8,
                      kLe = LogEncoding::Utf16Le, kBe = LogEncoding::Utf16Be;

// Each byte as a code unit of the encoding: ASCII text in UTF-16, and a stand-in for any other
// character, so that one table of logs serves every encoding.
QByteArray In(LogEncoding encoding, QByteArrayView bytes) {
  if (UnitWidth(encoding) == 1) return bytes.toByteArray();
  QByteArray out;
  for (char b : bytes) {
    if (encoding == kBe) out += '\0';
    out += b;
    if (encoding == kLe) out += '\0';
  }
  return out;
}
QList<QByteArray> In(LogEncoding encoding, QList<QByteArray> lines) {
  for (QByteArray& line : lines) line = In(encoding, line);
  return lines;
}

// Whole, and fed in three blocks cut at every pair of places, so that each CR and LF (and each
// byte of a UTF-16 unit) lands on a block edge. Every shared row in bytes and in UTF-16 of both
// byte orders, and rows of UTF-16 of its own.
TEST(LineReader, SameLinesWholeAndForEveryBlockCut) {
  struct Case {
    LogEncoding encoding;
    QByteArray input;
    QList<QByteArray> lines;  // in the encoding's code units
  };
  // CR and LF bytes inside other characters (U+0D0A, U+0A0D, U+0D00) end no line.
  const QByteArray crLfInsideLe("\x0a\x0d\x0d\x0a\x00\x0d", 6),
      crLfInsideBe("\x0d\x0a\x0a\x0d\x0d\x00", 6);
  QList<Case> cases = {
      {kLe, crLfInsideLe, {crLfInsideLe}},
      {kBe, crLfInsideBe, {crLfInsideBe}},
      // An odd last byte stays with the last line, or makes one after the last line end.
      {kLe, QByteArray("a\0\r\0\n\0b\0x", 9), {QByteArray("a\0", 2), QByteArray("b\0x", 3)}},
      {kBe, QByteArray("\0a\0\r\0\nx", 7), {QByteArray("\0a", 2), "x"}},
      {kLe, QByteArray("\r\0x", 3), {"", "x"}},
      // An unpaired surrogate is kept as it is.
      {kLe,
       QByteArray("\x00\xd8\r\0\x00\xdc", 6),
       {QByteArray("\x00\xd8", 2), QByteArray("\x00\xdc", 2)}},
  };
  const QList<std::pair<QByteArray, QList<QByteArray>>> shared = {
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
  for (const auto& [input, lines] : shared)
    for (LogEncoding e : {kAnsi, kLe, kBe}) cases.append({e, In(e, input), In(e, lines)});
  for (const Case& c : cases) {
    WithUnits(c.encoding, [&](auto units) {
      using Units = decltype(units);
      const std::string trace =
          c.input.toHex().toStdString() + " in " + std::to_string(int(c.encoding));
      QList<QByteArray> got;
      auto sink = [&](QByteArrayView line) { got.append(line.toByteArray()); };
      ForEachLine<Units>(c.input, sink);
      EXPECT_EQ(got, c.lines) << trace;
      const QByteArrayView data(c.input);
      for (qsizetype i = 0; i <= data.size(); ++i) {
        for (qsizetype j = i; j <= data.size(); ++j) {
          got.clear();
          BasicLineSplitter<Units> splitter;
          for (QByteArrayView block : {data.first(i), data.sliced(i, j - i), data.sliced(j)})
            splitter.Feed(block, sink);
          splitter.Finish(sink);
          EXPECT_EQ(got, c.lines) << trace << " cut " << i << "," << j;
        }
      }
    });
  }
}

// The working text, the converted text, and the HTML body without emphasis, which is the
// converted text with "<br>" before every line end.
TEST(LineCleaning, FlagCombinations) {
  const QByteArray all = "a\r\n\r\n----\r\n \r\n-\r\n--- x\r\nx ---\r\n -\r\n<b>&\"</b>";
  // The separator rule, the empty-line rule, the log, its working text and converted text.
  const std::tuple<bool, bool, QByteArray, QByteArray, QByteArray> cases[] = {
      {false, false, all, "\r\na\r\n\r\n----\r\n \r\n-\r\n--- x\r\nx ---\r\n -\r\n<b>&\"</b>",
       "<b>&\"</b>\r\n -\r\nx ---\r\n--- x\r\n-\r\n \r\n----\r\n\r\na\r\n"},
      {true, false, all, "\r\na\r\n\r\n\r\n \r\n\r\n--- x\r\nx ---\r\n -\r\n<b>&\"</b>",
       "<b>&\"</b>\r\n -\r\nx ---\r\n--- x\r\n\r\n \r\n\r\n\r\na\r\n"},
      {false, true, all, "\r\na\r\n----\r\n \r\n-\r\n--- x\r\nx ---\r\n -\r\n<b>&\"</b>",
       "<b>&\"</b>\r\n -\r\nx ---\r\n--- x\r\n-\r\n \r\n----\r\na\r\n"},
      {true, true, all, "\r\na\r\n \r\n--- x\r\nx ---\r\n -\r\n<b>&\"</b>",
       "<b>&\"</b>\r\n -\r\nx ---\r\n--- x\r\n \r\na\r\n"},
      {true, true, "", "", ""},
      {true, true, "\r\n---\r\n\r\n", "", ""},
      {false, false, "A\r\nB\r\n\r\n", "\r\nA\r\nB\r\n", "\r\nB\r\nA\r\n"},
      {true, true, "\x81\x7c\r\n\x81\x5b\r\n==\r\n__", "\r\n\x81\x7c\r\n\x81\x5b\r\n==\r\n__",
       "__\r\n==\r\n\x81\x5b\r\n\x81\x7c\r\n"},  // full-width and other dashes are no separators
  };
  // Each log also with a byte order mark, which is no part of its first line: the working
  // text of a load is made from the whole file, the other texts from what follows the mark.
  const QList<std::pair<LogFormat, QByteArray>> formats = {
      {{kAnsi, 0}, ""},
      {{kUtf8, 3}, "\xef\xbb\xbf"},
      {{kLe, 2}, "\xff\xfe"},
      {{kBe, 2}, "\xfe\xff"},
  };
  for (const auto& [lineDelete, nullDelete, bytes, workingText, convertedText] : cases) {
    for (const auto& [format, bom] : formats) {
      const Module1 flags{nullDelete, lineDelete};
      const LogEncoding e = format.encoding;
      SCOPED_TRACE(bytes.toStdString() + (lineDelete ? " lines" : "") +
                   (nullDelete ? " nulls" : "") + " in " + std::to_string(int(e)));
      const QByteArray log = In(e, bytes), file = bom + log, working = In(e, workingText),
                       converted = In(e, convertedText);
      EXPECT_EQ(BuildWorkingText(file, flags, format), working);
      QByteArray inPlace = "room" + file;  // the log's own buffer, with room before it
      inPlace.remove(0, 4);
      EXPECT_EQ(TakeWorkingText(inPlace, flags, format), working);
      EXPECT_EQ(BuildConvertedText(log, flags, e), converted);
      EXPECT_EQ(BuildHtmlBody(log, flags, {}, e),
                QByteArray(converted).replace(In(e, "\r\n"), In(e, "<br>\r\n")));
    }
  }
}

// In the log's own buffer (given up where lone CRs make the text longer), from blocks into a
// result that grows where the size was not known, or on two threads for a log large enough: the
// same bytes as one thread building from the whole log. 800 logs of a few characters, fed in
// blocks of up to 50 bytes; then 6 large ones with short lines, lone CRs and LFs, separators and
// now and then a line longer than a block, fed in blocks of many sizes.
TEST(LineCleaning, EveryBuildMatchesOneThreadBuildingTheWholeLog) {
  std::mt19937 rng(5);
  const char alphabet[] = {'a', '-', '\r', '\n', 'b', '\r'};
  const QByteArray ends[] = {"\r\n", "\r\n", "\r\n", "\r", "\n", ""};
  for (int n = 0; n < 806; ++n) {
    const bool large = n >= 800;
    const LogEncoding encoding = (large ? n < 804 : n < 500) ? kAnsi : n % 2 ? kLe : kBe;
    QByteArray log;
    for (int i = large ? 0 : rng() % (n % 500 < 300 ? 40 : 3000); i > 0; --i)
      log += alphabet[rng() % sizeof alphabet];
    while (large && log.size() < (qsizetype(9) << (encoding == kAnsi ? 20 : 19))) {
      const int kind = int(rng() % 100);
      if (kind < 5)
        log += "----";
      else if (kind == 5)
        log += QByteArray(qsizetype(rng() % (3 << 20)), 'l');
      else if (kind > 10)
        log += QByteArray("abcdefgh").first(rng() % 8) + QByteArray(rng() % 60, 'x');
      log += ends[rng() % std::size(ends)];
    }
    log = In(encoding, log);
    if (n % 7 == 0) log += 'z';  // an odd last byte in UTF-16
    const Module1 flags{(n & 1) != 0, (n & 2) != 0};
    const std::string trace = "log " + std::to_string(n) + " flags " + std::to_string(n & 3);
    QByteArray exactCapacity;
    exactCapacity.reserve(log.size());
    exactCapacity.append(log);
    const QByteArray working = BuildWorkingText(log, flags, {encoding, 0});
    LineIndex index;  // noted by the load as it joins
    EXPECT_TRUE(TakeWorkingText(exactCapacity, flags, {encoding, 0}, &index) == working &&
                index == LineIndex(working, encoding))
        << trace;
    const Emphasis narrow{true, "ab", true}, wide{true, In(encoding, "ab"), true};
    for (const Emphasis* e : {static_cast<const Emphasis*>(nullptr), &narrow, &wide}) {
      ReversedTextBuilder one(flags, e, 0, encoding);
      ReversedTextBuilder blocks(flags, e, large || n % 3 ? log.size() : 0, encoding);
      one.Feed(log);
      for (qsizetype at = 0, take, count = 0; at < log.size(); at += take, ++count) {
        take = qMin<qsizetype>(large ? (64 << 10) + rng() % (3 << 19) : 1 + rng() % 50,
                               log.size() - at);
        const qsizetype cr = large && count % 2 ? log.indexOf('\r', at + take) : -1;
        if (cr >= 0) take = cr + 1 - at;  // every other large block ends just after a CR
        blocks.Feed(QByteArrayView(log).sliced(at, take));
      }
      EXPECT_TRUE(one.Finish() == blocks.Finish()) << trace << (e ? " html" : "");
    }
  }
}

TEST(HtmlBody, Emphasis) {
  // What, the separator rule, emphasis on, the keyword, the log and its body.
  const std::tuple<const char*, bool, bool, QByteArray, QByteArray, QByteArray> cases[] = {
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
      // ISO-2022-JP: "パ" as the keyword, which ends in JIS X 0208, begins "パー" and not "パ".
      {"iso-2022-jp keyword", false, true, "\x1b$B%Q",
       "\x1b$B%Q!<\x1b(B\r\n\x1b$B%Q\x1b(B\r\n\x1b$B%R\x1b(B",
       "\x1b$B%R\x1b(B<br>\r\n<strong>\x1b$B%Q\x1b(B</strong><br>\r\n"
       "<strong>\x1b$B%Q!<\x1b(B</strong><br>\r\n"},
  };
  for (const auto& [name, lineDelete, on, keyword, log, body] : cases)
    EXPECT_EQ(BuildHtmlBody(log, {false, lineDelete}, {on, keyword, true}), body) << name;
}

// The encoding of a log, from its first bytes; where the decision needs more than one block,
// whatever blocks the read brings give the same one.
TEST(LogFormat, ToldFromTheBytes) {
  const QByteArray utf8 = "\xe3\x81\x9f\xe3\x82\x8d\xe3\x81\x86";  // たろう
  const QByteArray longAscii(kSniffBytes - 4, 'a');  // たろう cut after た and one byte
  const std::tuple<const char*, QByteArray, LogFormat> cases[] = {
      {"empty", "", {kAnsi, 0}},
      {"ascii", "hello\r\n", {kAnsi, 0}},
      {"utf-8 bom", "\xef\xbb\xbfhello", {kUtf8, 3}},
      {"utf-8 bom alone", "\xef\xbb\xbf", {kUtf8, 3}},
      {"utf-16 le bom", "\xff\xfe", {kLe, 2}},
      {"utf-16 be bom", "\xfe\xff\0a", {kBe, 2}},
      {"utf-8", "x " + utf8 + "\r\n", {kUtf8, 0}},
      {"shift jis", "\x82\xbd\x82\xeb\x82\xa4\r\n", {kAnsi, 0}},  // たろう
      // ﾃｽ in Shift JIS is also ý in UTF-8: half-width katakana, as in a Japanese log.
      {"shift jis valid as utf-8", "\xc3\xbd\r\n", {kAnsi, 0}},
      {"two-byte utf-8 not shift jis", "caf\xc3\xa9 \xc3\xa0\xc3\x80\r\n", {kUtf8, 0}},
      {"utf-8 cut at the end of the file", "x" + utf8.first(2), {kAnsi, 0}},
      {"utf-8 cut by the end of the head", longAscii + utf8, {kUtf8, 0}},
      {"utf-8 for 100 KiB, then shift jis",
       utf8 + QByteArray(100 * 1024, 'a') + "\x82\xbd",
       {kUtf8, 0}},
      {"overlong utf-8", "\xc0\xaf\xe0\x80\xaf", {kAnsi, 0}},
      {"iso-2022-jp", "\x1b$B$?$m$&\x1b(B\r\n", {LogEncoding::Iso2022Jp, 0}},
      {"ascii with a colour escape", "\x1b[31mred\x1b[0m", {kAnsi, 0}},
  };
  for (const auto& [name, log, format] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(DetectLogFormat(log, true), format);
    for (qsizetype block : {qsizetype(1), qsizetype(4096), qsizetype(1) << 20}) {
      LogFormat started{LogEncoding::Iso2022Jp, 99};
      QByteArray fed;
      LogFormatReader reader([&](const LogFormat& f, qint64) { started = f; },
                             [&](QByteArrayView b) { fed += b; });
      for (qsizetype at = 0; at < log.size(); at += block)
        reader.Add(QByteArrayView(log).sliced(at, qMin(block, log.size() - at)), log.size());
      EXPECT_EQ(reader.Finish(), format);
      EXPECT_EQ(started, format) << block;
      EXPECT_TRUE(fed == log.sliced(format.bomSize)) << block;
    }
  }
}

}  // namespace
}  // namespace parlotrim
