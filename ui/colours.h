// Colours written as 0x00BBGGRR (blue in the high byte, red in the low one). A value with the
// top bit set, 0x800000nn, names a system colour instead; only the window background of
// editable text fields (0x80000005) is used here.
#pragma once

#include <QColor>
#include <QtGlobal>

namespace parlotrim {

inline constexpr quint32 kWindowColour = 0x00FFC0C0u;        // light blue-violet
inline constexpr quint32 kLightYellow = 0x00C0FFFFu;         // text boxes
inline constexpr quint32 kBlueText = 0x00FF0000u;            // captions
inline constexpr quint32 kSystemWindowColour = 0x80000005u;  // editable field background

QColor ColourFromBgr(quint32 value);

}  // namespace parlotrim
