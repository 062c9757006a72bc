#include "ui/line_painter.h"

#include <QPainter>
#include <algorithm>

namespace parlotrim {

namespace {

constexpr char16_t kFirstPicture = 0x2400;
constexpr char16_t kDeletePicture = 0x2421;
constexpr int kMarkerPadding = 2;

const char* const kControlNames[] = {
    "NUL", "SOH", "STX", "ETX", "EOT", "ENQ", "ACK", "BEL", "BS",  "HT",  "LF",
    "VT",  "FF",  "CR",  "SO",  "SI",  "DLE", "DC1", "DC2", "DC3", "DC4", "NAK",
    "SYN", "ETB", "CAN", "EM",  "SUB", "ESC", "FS",  "GS",  "RS",  "US",
};

bool IsMarker(char16_t u) {
  return (u >= kFirstPicture && u < kFirstPicture + 32) || u == kDeletePicture;
}

QString MarkerName(char16_t picture) {
  if (picture == kDeletePicture) return QStringLiteral("DEL");
  return QLatin1String(kControlNames[picture - kFirstPicture]);
}

template <typename Run, typename Marker>
void ForEachPiece(const QString& shown, Run run, Marker marker) {
  qsizetype start = 0;
  for (qsizetype i = 0; i < shown.size(); ++i) {
    const char16_t u = shown.at(i).unicode();
    if (!IsMarker(u)) continue;
    if (i > start) run(QStringView(shown).sliced(start, i - start));
    marker(u);
    start = i + 1;
  }
  if (start < shown.size()) run(QStringView(shown).sliced(start));
}

QFont SmallFont(const QFont& font) {
  QFont small = font;
  small.setPointSizeF(std::max(5.0, font.pointSizeF() * 0.7));
  return small;
}

}  // namespace

LinePainter::LinePainter(const QFont& font)
    : font_(font), metrics_(font), small_(SmallFont(font)), smallMetrics_(small_) {}

int LinePainter::LineHeight() const {
  return std::max(1, metrics_.lineSpacing());
}

int LinePainter::MarkerWidth(char16_t picture) const {
  return smallMetrics_.horizontalAdvance(MarkerName(picture)) + 2 * kMarkerPadding + 2;
}

int LinePainter::Width(const QString& shown) const {
  int width = 0;
  ForEachPiece(
      shown, [&](QStringView run) { width += metrics_.horizontalAdvance(run.toString()); },
      [&](char16_t u) { width += MarkerWidth(u); });
  return width;
}

void LinePainter::Draw(QPainter& painter, int x, int top, const QString& shown) const {
  const int baseline = top + metrics_.ascent();
  ForEachPiece(
      shown,
      [&](QStringView run) {
        const QString text = run.toString();
        painter.setFont(font_);
        painter.drawText(x, baseline, text);
        x += metrics_.horizontalAdvance(text);
      },
      [&](char16_t u) {
        const int width = MarkerWidth(u);
        const QRect box(x + 1, top + 1, width - 2, LineHeight() - 2);
        painter.setFont(small_);
        painter.drawRect(box.adjusted(0, 0, -1, -1));
        painter.drawText(box, Qt::AlignCenter, MarkerName(u));
        x += width;
      });
}

}  // namespace parlotrim
