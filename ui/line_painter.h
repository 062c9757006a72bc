// Draws lines made by LineForDisplay. A control picture (U+2400..U+2421) is drawn as its short
// name ("LF", "CR", "ESC"...) in a small framed box, so that it is visible whatever fonts the
// system has; everything else is drawn as text.
#pragma once

#include <QFont>
#include <QFontMetrics>
#include <QString>

class QPainter;

namespace parlotrim {

class LinePainter {
 public:
  explicit LinePainter(const QFont& font);

  int Width(const QString& shown) const;
  // Draws shown with its top-left corner at (x, top), in the painter's pen colour.
  void Draw(QPainter& painter, int x, int top, const QString& shown) const;
  int LineHeight() const;

 private:
  int MarkerWidth(char16_t picture) const;

  QFont font_;
  QFontMetrics metrics_;
  QFont small_;
  QFontMetrics smallMetrics_;
};

}  // namespace parlotrim
