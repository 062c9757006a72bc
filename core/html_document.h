// The HTML document of HTML Save, in the log's encoding: the head, the body block taken from
// the working text, and the tail. A document of a log in the ANSI code page declares "x-sjis";
// any other declares its own encoding, and a UTF-16 one opens with its byte order mark. Every line
// ends with CR LF. The body block is the log's lines as they are, markup included; a content
// security policy in the head keeps script in a chat line from ever running.
#pragma once

#include <QByteArray>
#include <QString>

#include "core/log_encoding.h"
#include "platform/native_name.h"

namespace parlotrim {

struct HtmlDocumentParts {
  QByteArray head;  // up to and including the <body> line
  QByteArray tail;  // the CR LF of write 8, then write 9
};

// documentName is the document's own file name (base name + ".html"), used as its title.
HtmlDocumentParts MakeHtmlDocumentParts(const QString& documentName,
                                        LogEncoding encoding = LogEncoding::Ansi);

// Name of the document for a log: the log's name less its last four characters (".txt"), + ".html".
NativeName HtmlDocumentName(const NativeName& logName);

}  // namespace parlotrim
