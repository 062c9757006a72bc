// What the key handlers receive for a Qt key event: the key code (9 Tab, 13 Enter, 123 F12,
// 37..40 the arrows, letters and digits as their upper-case ASCII codes...), the modifier mask
// (1 Shift, 2 Ctrl, 4 Alt) and the character the key types, 0 when it types none.
#pragma once

class QKeyEvent;

namespace parlotrim {

// Never 0: every key, known or not, leaves a trace in the handlers that record key codes.
int KeyCodeOf(const QKeyEvent& event);
int ShiftOf(const QKeyEvent& event);
// 13 for Return and Enter, 9 for Tab and Backtab, otherwise the one character the key types.
int KeyAsciiOf(const QKeyEvent& event);

}  // namespace parlotrim
