#include "ui/key_codes.h"

#include <QKeyEvent>

#include "core/file1_handlers.h"

namespace parlotrim {

namespace {

constexpr int kUnknownKey = 255;

struct KeyPair {
  int qt;
  int code;
};

constexpr KeyPair kKeys[] = {
    {Qt::Key_Backspace, 8},      {Qt::Key_Tab, kKeyTab},      {Qt::Key_Backtab, kKeyTab},
    {Qt::Key_Return, kKeyEnter}, {Qt::Key_Enter, kKeyEnter},  {Qt::Key_Shift, 16},
    {Qt::Key_Control, 17},       {Qt::Key_Alt, 18},           {Qt::Key_Pause, 19},
    {Qt::Key_CapsLock, 20},      {Qt::Key_Escape, 27},        {Qt::Key_Space, 32},
    {Qt::Key_PageUp, 33},        {Qt::Key_PageDown, 34},      {Qt::Key_End, 35},
    {Qt::Key_Home, 36},          {Qt::Key_Left, 37},          {Qt::Key_Up, 38},
    {Qt::Key_Right, 39},         {Qt::Key_Down, 40},          {Qt::Key_Insert, 45},
    {Qt::Key_Delete, 46},        {Qt::Key_Semicolon, 186},    {Qt::Key_Equal, 187},
    {Qt::Key_Comma, 188},        {Qt::Key_Minus, 189},        {Qt::Key_Period, 190},
    {Qt::Key_Slash, 191},        {Qt::Key_QuoteLeft, 192},    {Qt::Key_BracketLeft, 219},
    {Qt::Key_Backslash, 220},    {Qt::Key_BracketRight, 221}, {Qt::Key_Apostrophe, 222},
};

}  // namespace

int KeyCodeOf(const QKeyEvent& event) {
  const int key = event.key();
  if (key >= Qt::Key_F1 && key <= Qt::Key_F24) return 112 + (key - Qt::Key_F1);
  if ((key >= Qt::Key_A && key <= Qt::Key_Z) || (key >= Qt::Key_0 && key <= Qt::Key_9)) return key;
  for (const KeyPair& pair : kKeys) {
    if (pair.qt == key) return pair.code;
  }
  return kUnknownKey;
}

int ShiftOf(const QKeyEvent& event) {
  const Qt::KeyboardModifiers modifiers = event.modifiers();
  int mask = 0;
  if (modifiers & Qt::ShiftModifier || event.key() == Qt::Key_Backtab) mask |= kShiftMask;
  if (modifiers & Qt::ControlModifier) mask |= kCtrlMask;
  if (modifiers & Qt::AltModifier) mask |= kAltMask;
  return mask;
}

int KeyAsciiOf(const QKeyEvent& event) {
  switch (event.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return kKeyEnter;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
      return kKeyTab;
    default:
      break;
  }
  const QString text = event.text();
  return text.size() == 1 ? text.at(0).unicode() : 0;
}

}  // namespace parlotrim
