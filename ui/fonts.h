// Fonts of the window. Captions use a bold Japanese proportional gothic. When the preferred
// face is missing, a face that really holds Japanese takes its place, so that the captions
// never come out in a Latin-only face with borrowed glyphs.
#pragma once

#include <QFont>
#include <QString>

namespace parlotrim {

// The Japanese proportional gothic face to use; empty when the system has no Japanese face.
QString JapaneseGothicFamily();
// The caption face at pointSize, bold.
QFont TitleFont(qreal pointSize);
// base with the Japanese gothic added as the face for characters that base's face lacks.
QFont WithJapaneseFallback(const QFont& base);

}  // namespace parlotrim
