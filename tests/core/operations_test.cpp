// The operations against a scripted window and a real temporary folder: what the user sees
// (boxes, text window, status, buttons, focus) and what is on disk afterwards.
#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "core/html_document.h"
#include "core/log_codec.h"
#include "core/texts.h"
#include "platform/code_page.h"
#include "tests/core/test_files.h"

namespace parlotrim {
namespace {

using namespace testing;

// A log read is shown cleaned with the answers given; without a selection or a log the user is
// told why, and the rest stays (without a selection, also the answers of a load before).
TEST(Load, ShowsCleanedLogOrTellsWhyNot) {
  const QString asked = "Ask:Line Delete";
  // The selected name, the answers to the two questions, the last box, the text shown.
  const std::tuple<QByteArray, int, int, QString, QByteArray> cases[] = {
      {"log.txt", vbCancel, vbOK, asked, "\r\na\r\n\r\n\r\nb"},
      {"log.txt", vbOK, vbCancel, asked, "\r\na\r\n----\r\nb"},
      {"empty.txt", vbOK, vbOK, asked, ""},
      {"", vbOK, vbOK, "Err:File select", ""},
      {"gone.txt", vbCancel, vbOK, "Err:File read", ""},
  };
  for (const auto& [selected, nullAnswer, lineAnswer, last, shown] : cases) {
    SCOPED_TRACE(selected.toStdString() + " " + shown.toStdString());
    Session s;
    s.folder.write("log.txt", "a\r\n\r\n----\r\nb");
    s.folder.write("empty.txt", "");
    s.module = {nullAnswer != vbOK, lineAnswer != vbOK};
    s.window.focus = Control::Text1;
    s.window.label6 = "After";
    s.window.text1 = "old";
    s.window.selected = selected;
    s.window.answers = {nullAnswer, lineAnswer};
    FileStore files(s.disk);
    LogOperations(s.window, files, s.folder.path(), s.module).LoadSequence();
    const bool read = last == asked, asks = !selected.isEmpty();
    EXPECT_EQ(s.window.text1, shown);
    EXPECT_EQ(s.window.text2, selected);
    EXPECT_EQ(s.window.Titles().first(), asks ? "Ask:Null Delete" : last);
    EXPECT_EQ(s.window.Titles().last(), last);
    EXPECT_TRUE(read || !asks || s.window.boxes.back().prompt.contains(selected));
    EXPECT_EQ(s.module.NullDelete, (nullAnswer == vbOK) == asks);
    EXPECT_EQ(s.module.LineDelete, (lineAnswer == vbOK) == asks);
    EXPECT_EQ(s.window.label6, read ? "Before" : "After");
    EXPECT_EQ(s.window.label6Colour, read ? kColourRed : 0);
    EXPECT_EQ(s.window.command1Enabled && s.window.command3Enabled, read);
    EXPECT_EQ(s.window.focus, read ? Control::Command1 : Control::File1);
    EXPECT_EQ(s.window.pointer, vbDefault);
    EXPECT_EQ(s.window.boxes.back().pointer, vbDefault);
  }
}

// Change and Save with the answers of the load, again (which restores the order), cancelled;
// then HTML Save over an old document, which leaves the log as it was.
TEST(Saves, ChangeTwiceCancelThenHtml) {
  Session s;
  s.folder.write("diary.txt", "AB1\r\n\r\n--\r\nx<b>\r\nAB2");
  s.folder.write("diary.html", "old document");
  ASSERT_TRUE(s.Load("diary.txt", true));
  s.window.text1 = "whatever the window showed";
  ASSERT_TRUE(s.Run(Op::Change));
  EXPECT_EQ(s.folder.read("diary.txt"), "AB2\r\nx<b>\r\nAB1\r\n\r\n");
  EXPECT_EQ(s.window.text1, "AB2\r\nx<b>\r\nAB1\r\n");
  EXPECT_EQ(s.window.boxes[0].prompt, texts::kConfirmChange);
  EXPECT_EQ(s.window.boxes[1].prompt, "Text change complete!");
  EXPECT_EQ(s.window.boxes[1].pointer, vbDefault);
  EXPECT_EQ(s.window.label6Colour, kColourBlue);
  EXPECT_EQ(s.folder.entries(), (QList<NativeName>{"diary.html", "diary.txt"}));
  ASSERT_TRUE(s.Run(Op::Change));
  const QByteArray log = "AB1\r\nx<b>\r\nAB2\r\n\r\n";
  EXPECT_EQ(s.folder.read("diary.txt"), log);

  const QByteArray shown = s.window.text1;
  s.window.answers = {vbCancel};
  s.window.label6 = "Before";
  s.window.focus = Control::Command1;
  EXPECT_FALSE(s.Run(Op::Change));
  EXPECT_EQ(s.window.Titles(),
            (QStringList{"Message:Log Change & Save", "Message:Log Change & Save"}));
  EXPECT_EQ(s.window.boxes[1].prompt, texts::kCancelled);
  EXPECT_EQ(s.window.beeps, 1);
  EXPECT_EQ(s.window.focus, Control::File1);
  EXPECT_EQ(s.window.label6, "Before");
  EXPECT_EQ(s.window.text1, shown);
  EXPECT_EQ(s.folder.read("diary.txt"), log);

  s.window.check1 = 1;
  s.window.text3 = "AB";
  ASSERT_TRUE(s.Run(Op::Html));
  const QByteArray body = "<strong>AB2</strong><br>\r\nx<b><br>\r\n<strong>AB1</strong><br>\r\n";
  EXPECT_EQ(s.window.text1, body);
  // The generator is プログラム名　パーロトリム Parlotrim in Shift JIS.
  EXPECT_EQ(s.folder.read("diary.html"),
            "<html>\r\n<head>\r\n"
            "<meta http-equiv=\"Content-Type\"content=\"text/html; charset=x-sjis\">\r\n"
            "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'none'; "
            "object-src 'none'\">\r\n<meta name=\"GENERATOR\" content=\""
            "\x83\x76\x83\x8d\x83\x4f\x83\x89\x83\x80\x96\xbc\x81\x40"
            "\x83\x70\x81\x5b\x83\x8d\x83\x67\x83\x8a\x83\x80 Parlotrim\">\r\n"
            "<title>diary.html</title>\r\n</head>\r\n<body bgcolor=\"#FFFFFF\">\r\n" +
                body + "\r\n</body></html>\r\n");
  EXPECT_EQ(s.window.Titles(), (QStringList{"Message:HTML Change & Save", "Complete Massage"}));
  EXPECT_EQ(s.window.boxes[0].prompt, texts::kHtmlOpening);
  EXPECT_EQ(s.window.boxes[1].prompt, "HTML change complete!");
  EXPECT_EQ(s.window.label6, "After");
  EXPECT_EQ(s.folder.read("diary.txt"), log);
}

// Logs of one format the load and the saves must not take for another, and logs whose bytes
// are kept whatever they are: Change and Save writes what it read, reversed, byte for byte.
TEST(Encodings, HostileLogsKeepEveryByte) {
  // What, the log, the log rewritten by Change and Save, and the encoding it is shown in.
  const std::tuple<const char*, QByteArray, QByteArray, LogEncoding> cases[] = {
      {"bom alone", "\xff\xfe", QByteArray("\xff\xfe\r\0\n\0", 6), LogEncoding::Utf16Le},
      {"bom and a separator", QByteArray("\xfe\xff\0-\0-\0-\0-", 10),
       QByteArray("\xfe\xff\0\r\0\n", 6), LogEncoding::Utf16Be},
      {"utf-8 bom alone", "\xef\xbb\xbf", "\xef\xbb\xbf\r\n", LogEncoding::Utf8},
      {"utf-8 cut by the end of the file", "\xe3\x81\x9f\xe3\x81", "\xe3\x81\x9f\xe3\x81\r\n\r\n",
       LogEncoding::Ansi},
      // The odd last byte stays with its line.
      {"utf-16 odd byte count", QByteArray("\xff\xfe\x61\0\r\0\n\0\x62\0\x01", 11),
       QByteArray("\xff\xfe\x62\0\x01\r\0\n\0\x61\0\r\0\n\0\r\0\n\0", 19), LogEncoding::Utf16Le},
      {"utf-16 unpaired surrogate", QByteArray("\xff\xfe\x00\xd8\r\0\n\0z\0", 10),
       QByteArray("\xff\xfe\x7a\0\r\0\n\0\x00\xd8\r\0\n\0\r\0\n\0", 18), LogEncoding::Utf16Le},
  };
  for (const auto& [name, log, rewritten, shown] : cases) {
    SCOPED_TRACE(name);
    Session s;
    s.folder.write("log.txt", log);
    ASSERT_TRUE(s.Load("log.txt", true));
    EXPECT_EQ(s.window.text1Encoding, shown);
    ASSERT_TRUE(s.Run(Op::Change));
    EXPECT_TRUE(s.folder.read("log.txt") == rewritten)
        << s.folder.read("log.txt").toHex().constData();
  }
}

TEST(HtmlDocument, NamesAndTitles) {
  const std::vector<std::pair<NativeName, NativeName>> names = {
      {"diary.txt", "diary.html"}, {"a.b.TXT", "a.b.html"}, {".txt", ".html"}, {"ab", ".html"}};
  for (const auto& [log, document] : names) EXPECT_EQ(HtmlDocumentName(log), document);
  const std::vector<std::pair<QString, QByteArray>> titles = {
      {QStringLiteral("ログ 1.html"), "<title>\x83\x8d\x83\x4f 1.html</title>"},
      {QStringLiteral("a&b<c>.html"), "<title>a&amp;b&lt;c&gt;.html</title>"},
      {QStringLiteral("caf\u00e9\U0001F600.html"), "<title>caf&#233;&#128512;.html</title>"},
  };
  for (const auto& [name, title] : titles)
    EXPECT_TRUE(MakeHtmlDocumentParts(name).head.contains(title)) << title.toStdString();
}

// Log bytes as the window shows them in each encoding, and the keyword as it is compared.
TEST(LogCodec, DecodingForDisplayAndEncoding) {
  constexpr LogEncoding kAnsi = LogEncoding::Ansi, kJis = LogEncoding::Iso2022Jp;
  const std::vector<std::tuple<LogEncoding, QByteArray, QString>> shown = {
      {kAnsi, "\x83\x70\x81\x5b\xb1\x5c~", QStringLiteral("パーｱ\\~")},
      {kAnsi, "a\x80\x62\xa0\xfd\xff", QStringLiteral("a\uFFFDb\uFFFD\uFFFD\uFFFD")},
      // A lead byte without its trail byte, a well-formed but unassigned pair, a lead byte last.
      {kAnsi, "\x83 x\x85\x40x\x83", QStringLiteral("\uFFFD x\uFFFDx\uFFFD")},
      {kAnsi, QByteArray("\0\x1a\x1c\n\x7f", 5), QStringLiteral("\u0000\u001a\u001c\n\u007f")},
      {LogEncoding::Utf8, "\xe3\x81\x9f\xef\xbb\xbf!\xff", QStringLiteral("た\uFEFF!\uFFFD")},
      {LogEncoding::Utf16Le, QByteArray("\x5f\x30\x00\xd8!\0\x3d\xd8\x00\xde\x01", 11),
       QStringLiteral("た\uFFFD!\U0001F600\uFFFD")},
      {LogEncoding::Utf16Be, QByteArray("\x30\x5f\xdc\x00", 4), QStringLiteral("た\uFFFD")},
      {kJis, "a\x1b$B$?%Q\x1b(IB\x1b(Bc\x1b$(D01\x1b(B\x1b$B$",
       QStringLiteral("aたパﾂc\uFFFD\uFFFD")},
  };
  for (const auto& [encoding, bytes, text] : shown) EXPECT_EQ(DecodeLog(bytes, encoding), text);
#ifndef Q_OS_WIN
  // File names as bytes: UTF-8 where they are valid UTF-8, else Shift JIS.
  EXPECT_EQ(DecodeFileName("\xe3\x83\xad.txt"), QStringLiteral("ロ.txt"));
  EXPECT_EQ(DecodeFileName("\x83\x8d\x83\x4f.txt"), QStringLiteral("ログ.txt"));
  EXPECT_EQ(DecodeFileName("\x83\xff.txt"), QStringLiteral("\uFFFD\uFFFD.txt"));
#endif
  const std::vector<std::tuple<LogEncoding, QString, QByteArray, bool>> keywords = {
      {kAnsi, QStringLiteral("パ～"), "\x83\x70\x81\x60", true},
      {kAnsi, QStringLiteral("x\u00e9"), "", false},
      {LogEncoding::Utf8, QStringLiteral("たa"), "\xe3\x81\x9f\x61", true},
      {LogEncoding::Utf16Be, QStringLiteral("た"), "\x30\x5f", true},
      {kJis, QStringLiteral("aたﾂ"), "a\x1b$B$?\x1b(I\x42", true},
      {kJis, QStringLiteral("\u00e9"), "", false},
  };
  for (const auto& [encoding, keyword, bytes, encodable] : keywords) {
    bool ok = !encodable;
    const QByteArray got = EncodeForLog(keyword, encoding, &ok);
    EXPECT_EQ(ok, encodable);
    EXPECT_TRUE(!encodable || got == bytes) << got.toHex().constData();
  }
}

}  // namespace
}  // namespace parlotrim
