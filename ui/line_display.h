// How one line of the working text appears on screen. The bytes are decoded from the log's
// encoding; a tab advances to the next column of eight; every other control character (a lone
// LF, a lone CR, ESC, DEL...) is shown as its visible control picture, so it never breaks the
// line. A line longer than kMaxShownBytes is cut there and ends in an ellipsis.
#pragma once

#include <QByteArrayView>
#include <QString>

#include "core/log_encoding.h"

namespace parlotrim {

inline constexpr qsizetype kMaxShownBytes = 32 * 1024;

QString LineForDisplay(QByteArrayView line, LogEncoding encoding = LogEncoding::Ansi);

}  // namespace parlotrim
