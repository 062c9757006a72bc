#include "ui/window_placement.h"

#include <QDir>
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

QByteArray FolderWithSeparator(const QByteArray& folder) {
  const char separator = QDir::separator().toLatin1();
  return folder.endsWith(separator) ? folder : folder + separator;
}

}  // namespace parlotrim
