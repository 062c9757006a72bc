#include <gtest/gtest.h>

#include <QDir>
#include <string>
#include <vector>

#include "core/file1_handlers.h"
#include "core/log_operations.h"
#include "core/texts.h"
#include "tests/core/fake_window.h"
#include "tests/core/test_files.h"

namespace parlotrim {
namespace {

using testing::FakeWindow;
using Calls = std::vector<std::string>;

class Operations : public ::testing::Test {
 protected:
  void Load(const QString& name, int nullAnswer, int lineAnswer) {
    window.selected = name;
    window.answers = {nullAnswer, lineAnswer};
    ops.LoadSequence();
    window.calls.clear();
    window.boxes.clear();
  }

  testing::LogFolder folder;
  FakeWindow window;
  DiskFileStore disk;
  Module1 module;
  LogOperations ops{window, disk, folder.path(), module};
};

TEST_F(Operations, LoadShowsCleanedLogAndEnablesActions) {
  folder.write("log.txt", "a\r\n\r\n----\r\nb");
  module = {true, true};
  window.selected = "log.txt";
  window.answers = {vbCancel, vbOK};
  ops.LoadSequence();
  EXPECT_EQ(window.calls, (Calls{"Text2 log.txt", "Text1 empty",
                                 "MsgBox Ask:Null Delete 1 -> 2", "MsgBox Ask:Line Delete 1 -> 1",
                                 "Pointer 11", "Text1 set", "Label6 Before 255", "Pointer 0",
                                 "Enable Command1", "Enable Command3", "Focus Command1"}));
  EXPECT_EQ(window.boxes[0].first, texts::kAskNullDelete);
  EXPECT_EQ(window.boxes[1].first, texts::kAskLineDelete);
  EXPECT_EQ(window.text1, "\r\na\r\n\r\n\r\nb");
  EXPECT_FALSE(module.NullDelete);
  EXPECT_TRUE(module.LineDelete);
}

TEST_F(Operations, LoadWithoutSelectionKeepsFlagsAndStatus) {
  module = {true, true};
  window.label6 = "After";
  window.text2 = "old.txt";
  window.text1 = "old";
  ops.LoadSequence();
  EXPECT_EQ(window.calls, (Calls{"Text2 ", "Text1 empty", "MsgBox Err:File select 0 -> 1",
                                 "Focus File1"}));
  EXPECT_EQ(window.boxes[0].first, texts::kNoFileSelected);
  EXPECT_TRUE(module.NullDelete && module.LineDelete);
  EXPECT_EQ(window.label6, "After");
}

TEST_F(Operations, LoadOfVanishedLogReportsAndRestoresPointer) {
  window.selected = "gone.txt";
  ops.LoadSequence();
  EXPECT_EQ(window.calls, (Calls{"Text2 gone.txt", "Text1 empty", "MsgBox Ask:Null Delete 1 -> 1",
                                 "MsgBox Ask:Line Delete 1 -> 1", "Pointer 11", "Pointer 0",
                                 "MsgBox Err:File read 0 -> 1", "Focus File1"}));
  EXPECT_TRUE(window.boxes.back().first.contains("gone.txt"));
  EXPECT_TRUE(window.label6.isEmpty());
  EXPECT_FALSE(window.command1Enabled);
}

TEST_F(Operations, ChangeAndSaveRewritesReversedWithStoredFlags) {
  folder.write("log.txt", "A\r\n\r\n--\r\nB\r\nC");
  Load("log.txt", vbCancel, vbOK);
  window.text1 = "whatever the window showed";
  ops.Command1_Click();
  EXPECT_EQ(window.calls, (Calls{"MsgBox Message:Log Change & Save 1 -> 1", "Pointer 11",
                                 "Text1 empty", "Text1 set", "Pointer 0", "Label6 After 16711680",
                                 "MsgBox Complete Massage 0 -> 1"}));
  EXPECT_EQ(window.boxes[0].first, texts::kConfirmChange);
  EXPECT_EQ(window.boxes[1].first, "Text change complete!");
  EXPECT_EQ(window.text1, "C\r\nB\r\n\r\n\r\nA\r\n");
  EXPECT_EQ(folder.read("log.txt"), "C\r\nB\r\n\r\n\r\nA\r\n\r\n");
  EXPECT_EQ(folder.entries(), QStringList{"log.txt"});
}

TEST_F(Operations, ChangeAndSaveOfEmptyResultWritesOneLineEnd) {
  folder.write("log.txt", "\r\n----\r\n");
  Load("log.txt", vbOK, vbOK);
  ops.Command1_Click();
  EXPECT_EQ(window.text1, "");
  EXPECT_EQ(folder.read("log.txt"), "\r\n");
}

TEST_F(Operations, ChangeAndSaveCancelTouchesNothing) {
  folder.write("log.txt", "A\r\nB");
  Load("log.txt", vbOK, vbOK);
  window.answers = {vbCancel};
  ops.Command1_Click();
  EXPECT_EQ(window.calls, (Calls{"MsgBox Message:Log Change & Save 1 -> 2", "Beep",
                                 "MsgBox Message:Log Change & Save 0 -> 1", "Focus File1"}));
  EXPECT_EQ(window.boxes[1].first, texts::kCancelled);
  EXPECT_EQ(window.text1, "\r\nA\r\nB");
  EXPECT_EQ(window.label6, "Before");
  EXPECT_EQ(folder.read("log.txt"), "A\r\nB");
}

TEST_F(Operations, EmptyFileNameNamesTheFolderAndFails) {
  window.text2 = "";
  ops.Command1_Click();
  EXPECT_EQ(window.calls.back(), "MsgBox Err:File read 0 -> 1");
  EXPECT_EQ(window.pointer, vbDefault);
}

const QByteArray kHtmlHead =
    "<html>\r\n<head>\r\n"
    "<meta http-equiv=\"Content-Type\"content=\"text/html; charset=x-sjis\">\r\n"
    "<meta name=\"GENERATOR\" content=\""
    "\x83\x76\x83\x8d\x83\x4f\x83\x89\x83\x80\x96\xbc\x81\x40"
    "\x83\x70\x81\x5b\x83\x8d\x83\x67\x83\x8a\x83\x80 Parlotrim\">\r\n";

TEST_F(Operations, HtmlSaveWritesDocumentBesideLog) {
  folder.write("diary.txt", "AB1\r\n\r\nx<b>\r\nAB2");
  folder.write("diary.html", "old document");
  Load("diary.txt", vbCancel, vbCancel);
  window.check1 = 1;
  window.text3 = "AB";
  ops.Command3_Click();
  EXPECT_EQ(window.calls, (Calls{"MsgBox Message:HTML Change & Save 0 -> 1", "Pointer 11",
                                 "Text1 empty", "Text1 set", "Pointer 0", "Label6 After 16711680",
                                 "MsgBox Complete Massage 0 -> 1"}));
  EXPECT_EQ(window.boxes[0].first, texts::kHtmlOpening);
  EXPECT_EQ(window.boxes[1].first, "HTML change complete!");
  const QByteArray body = "<strong>AB2</strong><br>\r\nx<b><br>\r\n<br>\r\n<strong>AB1</strong><br>\r\n";
  EXPECT_EQ(window.text1, body);
  EXPECT_EQ(folder.read("diary.html"), kHtmlHead +
                                           "<title>diary.html</title>\r\n</head>\r\n"
                                           "<body bgcolor=\"#FFFFFF\">\r\n" +
                                           body + "\r\n</body></html>\r\n");
  EXPECT_EQ(folder.read("diary.txt"), "AB1\r\n\r\nx<b>\r\nAB2");
}

TEST_F(Operations, HtmlSaveOfEmptyLogAndUnencodableKeyword) {
  folder.write("e.txt", "");
  folder.write("k.txt", "x\u00e9\r\ny");
  Load("e.txt", vbOK, vbOK);
  ops.Command3_Click();
  EXPECT_TRUE(folder.read("e.html").endsWith("<body bgcolor=\"#FFFFFF\">\r\n\r\n</body></html>\r\n"));
  EXPECT_EQ(window.text1, "");

  Load("k.txt", vbOK, vbOK);
  window.check1 = 1;
  window.text3 = QStringLiteral("x\u00e9");  // no Shift JIS code: it can begin no line
  ops.Command3_Click();
  EXPECT_EQ(window.text1, "y<br>\r\nx\u00e9<br>\r\n");
}

// The list's key and click handling decides when a load runs.
TEST_F(Operations, File1KeysAndClicks) {
  folder.write("a.txt", "A");
  File1Handlers file1(window, ops);
  struct Step {
    const char* what;
    int key;  // 0: a click notification; -1: the list gets the focus
    int shift;
    bool loads;
    bool toCheck1;
  };
  const std::vector<Step> steps = {
      {"focus", -1, 0, false, false},    {"click loads", 0, 0, true, false},
      {"click after load swallowed", 0, 0, false, false},
      {"next click loads", 0, 0, true, false},
      {"down arrow", 40, 0, false, false},
      {"its selection click swallowed", 0, 0, false, false},
      {"enter loads", 13, 0, true, false},  {"tab loads", 9, 0, true, false},
      {"shift+enter", 13, 1, false, true},  {"shift+tab", 9, 1, false, true},
      {"ctrl+enter", 13, 2, false, false},  {"alt+enter", 13, 4, false, false},
      {"shift+ctrl+enter", 13, 3, false, false},
      {"focus clears", -1, 0, false, false}, {"click loads", 0, 0, true, false},
  };
  window.selected = "a.txt";
  for (const Step& s : steps) {
    window.calls.clear();
    if (s.key == -1) {
      file1.File1_GotFocus();
    } else if (s.key == 0) {
      file1.File1_Click();
    } else {
      int key = s.key;
      file1.File1_KeyDown(key, s.shift);
    }
    const bool loaded = !window.calls.empty() && window.calls.front() == "Text2 a.txt";
    EXPECT_EQ(loaded, s.loads) << s.what;
    EXPECT_EQ(window.calls == Calls{"Focus Check1"}, s.toCheck1) << s.what;
  }
  int ascii = 13;
  File1Handlers::File1_KeyPress(ascii);
  EXPECT_EQ(ascii, 0);
  ascii = 'a';
  File1Handlers::File1_KeyPress(ascii);
  EXPECT_EQ(ascii, 'a');
}

}  // namespace
}  // namespace parlotrim
