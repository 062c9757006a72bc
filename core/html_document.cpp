#include "core/html_document.h"

#include "core/texts.h"
#include "platform/code_page.h"

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

HtmlDocumentParts MakeHtmlDocumentParts(const QString& documentName) {
  HtmlDocumentParts parts;
  QByteArray& h = parts.head;
  h += "<html>\r\n";
  h += "<head>\r\n";
  h += "<meta http-equiv=\"Content-Type\"content=\"text/html; charset=x-sjis\">\r\n";
  h += "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'none'; "
       "object-src 'none'\">\r\n";
  h += "<meta name=\"GENERATOR\" content=\"" + EncodeCodePageForHtml(texts::kProgramName) +
       "\">\r\n";
  h += "<title>" + EncodeCodePageForHtml(EscapeTitle(documentName)) + "</title>\r\n";
  h += "</head>\r\n";
  h += "<body bgcolor=\"#FFFFFF\">\r\n";
  parts.tail = "\r\n</body></html>\r\n";
  return parts;
}

NativeName HtmlDocumentName(const NativeName& logName) {
  // The last four characters are dropped unexamined: the list shows only "*.txt" names.
  return logName.chopped(qMin<qsizetype>(4, logName.size())) + NativeName(".html");
}

}  // namespace parlotrim
