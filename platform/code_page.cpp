#include "platform/code_page.h"

#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>

namespace parlotrim {

namespace {

#ifdef Q_OS_WIN
QStringDecoder MakeDecoder() { return QStringDecoder(QStringConverter::System); }
QStringEncoder MakeEncoder() {
  return QStringEncoder(QStringConverter::System, QStringConverter::Flag::Stateless);
}
#else
constexpr const char* kCodePage = "windows-31j";
QStringDecoder MakeDecoder() { return QStringDecoder(kCodePage); }
QStringEncoder MakeEncoder() {
  return QStringEncoder(kCodePage, QStringConverter::Flag::Stateless);
}
#endif

}  // namespace

QString DecodeCodePage(QByteArrayView bytes) {
  QStringDecoder decoder = MakeDecoder();
  return decoder.decode(bytes);
}

QByteArray EncodeCodePage(const QString& text, bool* ok) {
  QStringEncoder encoder = MakeEncoder();
  QByteArray bytes = encoder.encode(text);
  if (ok) *ok = encoder.isValid() && !encoder.hasError();
  return bytes;
}

QByteArray EncodeCodePageForHtml(const QString& text) {
  bool ok = false;
  QByteArray whole = EncodeCodePage(text, &ok);
  if (ok) return whole;
  // Encode one character (code point) at a time; what has no encoding becomes a reference.
  QByteArray out;
  for (qsizetype i = 0; i < text.size();) {
    const qsizetype len = (text.at(i).isHighSurrogate() && i + 1 < text.size()) ? 2 : 1;
    const QString one = text.mid(i, len);
    bool oneOk = false;
    QByteArray bytes = EncodeCodePage(one, &oneOk);
    if (oneOk)
      out += bytes;
    else
      out += "&#" + QByteArray::number(one.toUcs4().value(0)) + ";";
    i += len;
  }
  return out;
}

}  // namespace parlotrim
