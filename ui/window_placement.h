// Where the window goes and which folder it works on. Sizes on screen are in twips (1/1440
// inch); at 96 dots per inch 15 twips make one (device-independent) pixel.
#pragma once

#include <QPointF>
#include <QString>

#include "platform/native_name.h"

namespace parlotrim {

inline constexpr int kTwipsPerPixel = 15;

constexpr int Px(int twips) {
  return twips / kTwipsPerPixel;
}

// Centred across the screen and 200 twips above the vertical centre, in single precision and
// without clamping: a window larger than the screen gets a negative place.
QPointF WindowPlaceTwips(float screenWidth, float screenHeight, float windowWidth,
                         float windowHeight);

// A pixel place for a twip place (rounded down, also below zero).
int PixelsFromTwips(qreal twips);

// The folder with the native separator at its end, which is not doubled when it is there.
NativeName FolderWithSeparator(const NativeName& folder);

}  // namespace parlotrim
