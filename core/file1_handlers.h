// How the file list reacts to keys and clicks. Enter (or Tab) loads the selected log, Shift+Enter
// moves to the emphasis switch, a mouse click on an entry loads it, and a change of selection
// made with the keyboard loads nothing: the key-down of that key is remembered, and the click
// notification that the list raises for the keyboard selection change is swallowed.
#pragma once

#include <QtGlobal>

namespace parlotrim {

class LogOperations;
class LogWindow;

inline constexpr int kKeyTab = 9;
inline constexpr int kKeyEnter = 13;
inline constexpr int kKeyF12 = 123;
inline constexpr int kShiftMask = 1;
inline constexpr int kCtrlMask = 2;
inline constexpr int kAltMask = 4;

class File1Handlers {
 public:
  File1Handlers(LogWindow& window, LogOperations& operations);

  void File1_KeyDown(int& keyCode, int shift);
  void File1_Click();
  void File1_GotFocus();
  static void File1_KeyPress(int& keyAscii);

  qint16 IgnoreFileClick() const { return ignoreFileClick_; }

 private:
  LogWindow& window_;
  LogOperations& operations_;
  qint16 ignoreFileClick_ = 0;  // last key code seen by the list; non-zero swallows one click
};

}  // namespace parlotrim
