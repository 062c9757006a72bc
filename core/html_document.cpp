#include "core/html_document.h"

#include "core/log_codec.h"
#include "core/texts.h"

namespace parlotrim {

namespace {

// The title is the file name: on systems that allow "<" or "&" in file names they are
// escaped, so that a name can never open markup in the head.
QString EscapeTitle(const QString& text) {
  QString out;
  out.reserve(text.size());
  for (QChar c : text) {
    if (c == u'&')
      out += QStringLiteral("&amp;");
    else if (c == u'<')
      out += QStringLiteral("&lt;");
    else if (c == u'>')
      out += QStringLiteral("&gt;");
    else
      out += c;
  }
  return out;
}

}  // namespace

HtmlDocumentParts MakeHtmlDocumentParts(const QString& documentName, LogEncoding encoding) {
  QString h;
  h += QStringLiteral("<html>\r\n");
  h += QStringLiteral("<head>\r\n");
  h += QStringLiteral("<meta http-equiv=\"Content-Type\"content=\"text/html; charset=") +
       QString::fromLatin1(CharsetName(encoding)) + QStringLiteral("\">\r\n");
  h += QStringLiteral(
      "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'none'; "
      "object-src 'none'\">\r\n");
  h += QStringLiteral("<meta name=\"GENERATOR\" content=\"") + texts::kProgramName +
       QStringLiteral("\">\r\n");
  h += QStringLiteral("<title>") + EscapeTitle(documentName) + QStringLiteral("</title>\r\n");
  h += QStringLiteral("</head>\r\n");
  h += QStringLiteral("<body bgcolor=\"#FFFFFF\">\r\n");
  HtmlDocumentParts parts;
  parts.head = EncodeForDocument(h, encoding);
  // A browser tells UTF-16 by its byte order mark, before it reads any declaration.
  if (UnitWidth(encoding) == 2) parts.head.prepend(ByteOrderMark(encoding).toByteArray());
  parts.tail = EncodeForDocument(QStringLiteral("\r\n</body></html>\r\n"), encoding);
  return parts;
}

NativeName HtmlDocumentName(const NativeName& logName) {
  // The last four characters are dropped unexamined: the list shows only "*.txt" names.
  return logName.chopped(qMin<qsizetype>(4, logName.size())) + NativeName(".html");
}

}  // namespace parlotrim
