#include "ui/line_display.h"

#include "core/log_codec.h"

namespace parlotrim {

namespace {

constexpr int kTabColumns = 8;
constexpr char16_t kControlPictures = 0x2400;  // U+2400..U+241F picture C0 controls
constexpr char16_t kDeletePicture = 0x2421;
constexpr char16_t kReplacement = 0xFFFD;
constexpr char16_t kEllipsis = 0x2026;

bool NeedsCare(const QString& text) {
  for (QChar c : text) {
    const char16_t u = c.unicode();
    if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0x2028 || u == 0x2029) return true;
  }
  return false;
}

}  // namespace

QString LineForDisplay(QByteArrayView line, LogEncoding encoding) {
  const bool cut = line.size() > kMaxShownBytes;
  qsizetype shownBytes = kMaxShownBytes;  // even: whole UTF-16 units
  if (cut && encoding == LogEncoding::Utf8) {
    // Not inside a character: back to the start of the sequence the cut falls in.
    for (int back = 0; back < 3 && (uchar(line[shownBytes]) & 0xC0) == 0x80; ++back) --shownBytes;
  }
  QString decoded = DecodeLog(cut ? line.first(shownBytes) : line, encoding);
  if (cut) decoded += QChar(kEllipsis);
  if (!NeedsCare(decoded)) return decoded;

  QString shown;
  shown.reserve(decoded.size() + kTabColumns);
  for (QChar c : decoded) {
    const char16_t u = c.unicode();
    if (u == '\t') {
      do shown += QLatin1Char(' ');
      while (shown.size() % kTabColumns != 0);
    } else if (u < 0x20) {
      shown += QChar(static_cast<char16_t>(kControlPictures + u));
    } else if (u == 0x7F) {
      shown += QChar(kDeletePicture);
    } else if ((u >= 0x80 && u <= 0x9F) || u == 0x2028 || u == 0x2029) {
      shown += QChar(kReplacement);
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace parlotrim
