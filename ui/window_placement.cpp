#include "ui/window_placement.h"

#include <cmath>

namespace parlotrim {

QPointF WindowPlaceTwips(float screenWidth, float screenHeight, float windowWidth,
                         float windowHeight) {
  const float left = (screenWidth - windowWidth) / 2.0f;
  const float top = (screenHeight - windowHeight) / 2.0f - 200.0f;
  return QPointF(left, top);
}

int PixelsFromTwips(qreal twips) {
  return static_cast<int>(std::floor(twips / kTwipsPerPixel));
}

NativeName FolderWithSeparator(const NativeName& folder) {
  return folder.endsWith(kFolderSeparator) ? folder : folder + kFolderSeparator;
}

}  // namespace parlotrim
