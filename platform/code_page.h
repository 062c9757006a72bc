// The code page of logs and documents: the system ANSI code page on Windows, windows-31j
// (Shift JIS as Windows extends it) elsewhere. Only used to show log bytes in the window and to
// encode the keyword and the program's own texts; log lines themselves are never re-encoded.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace parlotrim {

// Decodes bytes for display; bytes that do not decode become U+FFFD.
QString DecodeCodePage(QByteArrayView bytes);
// The same in Shift JIS (code page 932) whatever the system's code page: what ISO-2022-JP
// text is turned into to be shown.
QString DecodeShiftJis(QByteArrayView bytes);

// A file name (or path) as the file system holds it, for display: UTF-8 where it is valid
// UTF-8, else Shift JIS (names copied from Windows), with U+FFFD for what does not decode.
QString DecodeFileName(QByteArrayView bytes);
#ifdef Q_OS_WIN
// Windows holds names as UTF-16: shown as they are.
inline QString DecodeFileName(const QString& name) {
  return name;
}
#endif

// Encodes text. Returns false in *ok (when given) if some character has no encoding; the
// result is then unusable for comparisons.
QByteArray EncodeCodePage(const QString& text, bool* ok = nullptr);
// The same in Shift JIS (code page 932) whatever the system's code page.
QByteArray EncodeShiftJis(const QString& text, bool* ok = nullptr);

// Encodes text for an HTML document: characters without an encoding become numeric character
// references (&#NNNN;).
QByteArray EncodeCodePageForHtml(const QString& text);

}  // namespace parlotrim
