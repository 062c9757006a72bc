// The HTML document of HTML Save: nine writes, each followed by CR LF, in the code page.
#pragma once

#include <QByteArray>
#include <QString>

namespace parlotrim {

struct HtmlDocumentParts {
  QByteArray head;  // writes 1 to 7
  QByteArray tail;  // the CR LF of write 8, then write 9
};

// documentName is the document's own file name (base name + ".html"), used as its title.
HtmlDocumentParts MakeHtmlDocumentParts(const QString& documentName);

// Name of the document for a log: the log's name less its last four characters, + ".html".
QString HtmlDocumentName(const QString& logName);

}  // namespace parlotrim
