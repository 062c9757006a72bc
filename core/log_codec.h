// Text in a log's encoding: decoding the log's bytes to show them, encoding the keyword to
// compare it with them, and encoding the program's own texts of the HTML document. Log lines
// themselves never pass through here on their way to disk.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include "core/log_encoding.h"

namespace parlotrim {

// Decodes bytes for display; what does not decode becomes U+FFFD (for UTF-16 also a lone
// surrogate and an odd last byte).
QString DecodeLog(QByteArrayView bytes, LogEncoding encoding);

// Encodes text for a byte comparison with a log's lines. Sets *ok to false where some
// character has no encoding; the result then matches nothing. In ISO-2022-JP the text ends in
// the character set of its last character, so that it is a prefix of a line that goes on in it.
QByteArray EncodeForLog(const QString& text, LogEncoding encoding, bool* ok = nullptr);

// Encodes the program's own text for an HTML document of a log of this encoding: characters
// without an encoding (in ISO-2022-JP, every one outside ASCII) become character references.
QByteArray EncodeForDocument(const QString& text, LogEncoding encoding);

// The name of the encoding that a document in it declares.
QByteArray CharsetName(LogEncoding encoding);

}  // namespace parlotrim
