#include "ui/colours.h"

#include <QApplication>
#include <QPalette>

namespace parlotrim {

QColor ColourFromBgr(quint32 value) {
  if (value == kSystemWindowColour) return QApplication::palette().color(QPalette::Base);
  return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                static_cast<int>((value >> 16) & 0xFF));
}

}  // namespace parlotrim
