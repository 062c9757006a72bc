// The three operations against a scripted window and a real temporary folder: what the user sees
// (boxes, text window, status, buttons, focus) and what is on disk afterwards.
#include <gtest/gtest.h>

#include <QDir>
#include <vector>

#include "core/file1_handlers.h"
#include "core/html_document.h"
#include "core/texts.h"
#include "platform/code_page.h"
#include "tests/core/test_files.h"

namespace parlotrim {
namespace {

using namespace testing;

const QStringList kLoadTitles = {"Ask:Null Delete", "Ask:Line Delete"};

TEST(Load, ShowsCleanedLogWithTheAnswersGiven) {
  struct Case {
    QByteArray log;
    int nullAnswer, lineAnswer;
    QByteArray shown;
  };
  const std::vector<Case> cases = {
      {"a\r\n\r\n----\r\nb", vbCancel, vbOK, "\r\na\r\n\r\n\r\nb"},
      {"a\r\n\r\n----\r\nb", vbOK, vbCancel, "\r\na\r\n----\r\nb"},
      {"", vbOK, vbOK, ""},
  };
  for (const Case& c : cases) {
    Session s;
    s.module = {true, true};
    s.folder.write("log.txt", c.log);
    s.window.selected = "log.txt";
    s.window.answers = {c.nullAnswer, c.lineAnswer};
    FileStore files(s.disk);
    LogOperations(s.window, files, s.folder.path(), s.module).LoadSequence();
    EXPECT_EQ(s.window.text1, c.shown) << c.log.toStdString();
    EXPECT_EQ(s.window.Titles(), kLoadTitles);
    EXPECT_EQ(s.module.NullDelete, c.nullAnswer == vbOK);
    EXPECT_EQ(s.module.LineDelete, c.lineAnswer == vbOK);
    EXPECT_EQ(s.window.label6, "Before");
    EXPECT_EQ(s.window.label6Colour, kColourRed);
    EXPECT_TRUE(s.window.command1Enabled && s.window.command3Enabled);
    EXPECT_EQ(s.window.focus, Control::Command1);
    EXPECT_EQ(s.window.pointer, vbDefault);
  }
}

TEST(Load, WithoutSelectionOrLogChangesNothingElse) {
  for (const QByteArray& selected : {QByteArray(), QByteArray("gone.txt")}) {
    Session s;
    s.module = {true, true};
    s.window.label6 = "After";
    s.window.text1 = "old";
    s.window.focus = Control::Command1;
    s.Load(selected);
    EXPECT_TRUE(s.window.text1.isEmpty());
    EXPECT_EQ(s.window.text2, selected);
    EXPECT_EQ(s.window.boxes.back().title,
              selected.isEmpty() ? "Err:File select" : "Err:File read");
    EXPECT_EQ(s.window.boxes.back().pointer, vbDefault);
    EXPECT_TRUE(selected.isEmpty() || s.window.boxes.back().prompt.contains("gone.txt"));
    EXPECT_EQ(s.module.NullDelete, selected.isEmpty());  // the questions came before the read
    EXPECT_EQ(s.window.label6, "After");
    EXPECT_FALSE(s.window.command1Enabled);
    EXPECT_EQ(s.window.focus, Control::File1);
  }
}

TEST(ChangeAndSave, RewritesReversedWithTheStoredAnswers) {
  struct Case {
    QByteArray log;
    bool clean;
    QByteArray file;
  };
  const std::vector<Case> cases = {
      {"A\r\nB\r\nC\r\n", false, "C\r\nB\r\nA\r\n\r\n"},
      {"A\r\n\r\n--\r\nB\r\nC", true, "C\r\nB\r\nA\r\n\r\n"},
      {"\r\n----\r\n", true, "\r\n"},
  };
  for (const Case& c : cases) {
    Session s;
    s.folder.write("log.txt", c.log);
    ASSERT_TRUE(s.Load("log.txt", c.clean));
    s.window.text1 = "whatever the window showed";
    ASSERT_TRUE(s.Run(Op::Change));
    EXPECT_EQ(s.folder.read("log.txt"), c.file) << c.log.toStdString();
    EXPECT_EQ(s.window.text1, c.file.chopped(2));
    EXPECT_EQ(s.window.Titles(), (QStringList{"Message:Log Change & Save", "Complete Massage"}));
    EXPECT_EQ(s.window.boxes[0].prompt, texts::kConfirmChange);
    EXPECT_EQ(s.window.boxes[1].prompt, "Text change complete!");
    EXPECT_EQ(s.window.boxes[1].pointer, vbDefault);
    EXPECT_EQ(s.window.label6, "After");
    EXPECT_EQ(s.window.label6Colour, kColourBlue);
    EXPECT_EQ(s.folder.entries(), QList<QByteArray>{"log.txt"});
  }
}

TEST(ChangeAndSave, TwiceRestoresTheOrderAndCancelTouchesNothing) {
  Session s;
  s.folder.write("log.txt", "A\r\nB\r\nC\r\n");
  ASSERT_TRUE(s.Load("log.txt", true));
  ASSERT_TRUE(s.Run(Op::Change) && s.Run(Op::Change));
  EXPECT_EQ(s.folder.read("log.txt"), "A\r\nB\r\nC\r\n\r\n");

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
  EXPECT_EQ(s.folder.read("log.txt"), "A\r\nB\r\nC\r\n\r\n");
}

// プログラム名　パーロトリム Parlotrim in Shift JIS.
const QByteArray kGenerator =
    "\x83\x76\x83\x8d\x83\x4f\x83\x89\x83\x80\x96\xbc\x81\x40"
    "\x83\x70\x81\x5b\x83\x8d\x83\x67\x83\x8a\x83\x80 Parlotrim";

TEST(HtmlSave, WritesTheDocumentBesideTheLog) {
  Session s;
  s.folder.write("diary.txt", "AB1\r\n\r\nx<b>\r\nAB2");
  s.folder.write("diary.html", "old document");
  ASSERT_TRUE(s.Load("diary.txt"));
  s.window.check1 = 1;
  s.window.text3 = "AB";
  ASSERT_TRUE(s.Run(Op::Html));
  const QByteArray body =
      "<strong>AB2</strong><br>\r\nx<b><br>\r\n<br>\r\n<strong>AB1</strong><br>\r\n";
  EXPECT_EQ(s.window.text1, body);
  EXPECT_EQ(s.folder.read("diary.html"),
            "<html>\r\n<head>\r\n"
            "<meta http-equiv=\"Content-Type\"content=\"text/html; charset=x-sjis\">\r\n"
            "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'none'; "
            "object-src 'none'\">\r\n"
            "<meta name=\"GENERATOR\" content=\"" +
                kGenerator +
                "\">\r\n<title>diary.html</title>\r\n</head>\r\n<body bgcolor=\"#FFFFFF\">\r\n" +
                body + "\r\n</body></html>\r\n");
  EXPECT_EQ(s.window.Titles(), (QStringList{"Message:HTML Change & Save", "Complete Massage"}));
  EXPECT_EQ(s.window.boxes[0].prompt, texts::kHtmlOpening);
  EXPECT_EQ(s.window.boxes[1].prompt, "HTML change complete!");
  EXPECT_EQ(s.window.label6, "After");
  EXPECT_EQ(s.folder.read("diary.txt"), "AB1\r\n\r\nx<b>\r\nAB2");
}

// The keyword is compared in the log's code page; one that has no code there begins no line.
TEST(HtmlSave, KeywordInTheCodePage) {
  Session s;
  s.folder.write("log.txt", "\x98\x41\x97\x8d: x\r\nx\xc3\xa9\r\n");
  ASSERT_TRUE(s.Load("log.txt", true));
  s.window.check1 = 1;
  for (const QString& keyword : {QStringLiteral("連絡"), QStringLiteral("x\u00e9")}) {
    s.window.text3 = keyword;
    ASSERT_TRUE(s.Run(Op::Html));
    EXPECT_EQ(s.window.text1, keyword == QStringLiteral("連絡")
                                  ? "x\xc3\xa9<br>\r\n<strong>\x98\x41\x97\x8d: x</strong><br>\r\n"
                                  : "x\xc3\xa9<br>\r\n\x98\x41\x97\x8d: x<br>\r\n");
  }
}

TEST(HtmlDocument, NamesAndTitles) {
  const std::vector<std::pair<QByteArray, QByteArray>> names = {
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

TEST(CodePage, DecodingForDisplayAndEncoding) {
  const std::vector<std::pair<QByteArray, QString>> cases = {
      {"\x83\x70\x81\x5b", QStringLiteral("パー")},
      {"\xb1\x5c~", QStringLiteral("ｱ\\~")},
      {"a\x80"
       "b\xa0\xfd\xff",
       QStringLiteral("a\uFFFDb\uFFFD\uFFFD\uFFFD")},
      {"\x83 x", QStringLiteral("\uFFFD x")},  // lead byte without its trail byte
      {"x\x83", QStringLiteral("x\uFFFD")},    // lead byte at the end
      {"\x85\x40", QStringLiteral("\uFFFD")},  // well-formed but unassigned
      {QByteArray("\0\x1a\x1c\n\x7f", 5), QStringLiteral("\u0000\u001a\u001c\n\u007f")},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(DecodeCodePage(bytes), text);
  // File names: UTF-8 where they are valid UTF-8, else Shift JIS.
  EXPECT_EQ(DecodeFileName("\xe3\x83\xad.txt"), QStringLiteral("ロ.txt"));
  EXPECT_EQ(DecodeFileName("\x83\x8d\x83\x4f.txt"), QStringLiteral("ログ.txt"));
  EXPECT_EQ(DecodeFileName("\x83\xff.txt"), QStringLiteral("\uFFFD\uFFFD.txt"));
  bool ok = false;
  EXPECT_EQ(EncodeCodePage(QStringLiteral("パ～"), &ok), "\x83\x70\x81\x60");
  EXPECT_TRUE(ok);
  EncodeCodePage(QStringLiteral("x\u00e9"), &ok);
  EXPECT_FALSE(ok);
}

// The list's key and click handling decides when a load runs.
TEST(File1, KeysAndClicks) {
  Session s;
  s.folder.write("a.txt", "A");
  FileStore files(s.disk);
  LogOperations ops(s.window, files, s.folder.path(), s.module);
  File1Handlers file1(s.window, ops);
  struct Step {
    const char* what;
    int key;  // 0: a click notification; -1: the list gets the focus
    int shift;
    bool loads;
    bool toCheck1;
  };
  const std::vector<Step> steps = {
      {"focus", -1, 0, false, false},
      {"click loads", 0, 0, true, false},
      {"click after load swallowed", 0, 0, false, false},
      {"next click loads", 0, 0, true, false},
      {"down arrow", 40, 0, false, false},
      {"its selection click swallowed", 0, 0, false, false},
      {"enter loads", 13, 0, true, false},
      {"tab loads", 9, 0, true, false},
      {"shift+enter", 13, 1, false, true},
      {"shift+tab", 9, 1, false, true},
      {"ctrl+enter", 13, 2, false, false},
      {"alt+enter", 13, 4, false, false},
      {"shift+ctrl+enter", 13, 3, false, false},
      {"focus clears", -1, 0, false, false},
      {"click loads", 0, 0, true, false},
  };
  s.window.selected = "a.txt";
  for (const Step& step : steps) {
    s.window.boxes.clear();
    s.window.focus = Control::Text1;
    if (step.key == -1) {
      file1.File1_GotFocus();
    } else if (step.key == 0) {
      file1.File1_Click();
    } else {
      int key = step.key;
      file1.File1_KeyDown(key, step.shift);
    }
    EXPECT_EQ(s.window.Titles() == kLoadTitles, step.loads) << step.what;
    EXPECT_EQ(s.window.focus == Control::Check1, step.toCheck1) << step.what;
  }
  for (auto [in, out] : {std::pair{13, 0}, {9, 0}, {'a', 'a'}}) {
    int ascii = in;
    File1Handlers::File1_KeyPress(ascii);
    EXPECT_EQ(ascii, out);
  }
}

}  // namespace
}  // namespace parlotrim
