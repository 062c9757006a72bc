#include "platform/code_page.h"

#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>

namespace parlotrim {

namespace {

#ifdef Q_OS_WIN
QStringDecoder MakeDecoder() {
  return QStringDecoder(QStringConverter::System);
}
QStringEncoder MakeEncoder() {
  return QStringEncoder(QStringConverter::System, QStringConverter::Flag::Stateless);
}
#else
constexpr const char* kCodePage = "windows-31j";
QStringDecoder MakeDecoder() {
  return QStringDecoder(kCodePage);
}
QStringEncoder MakeEncoder() {
  return QStringEncoder(kCodePage, QStringConverter::Flag::Stateless);
}
#endif

}  // namespace

#ifdef Q_OS_WIN
QString DecodeCodePage(QByteArrayView bytes) {
  QStringDecoder decoder = MakeDecoder();
  return decoder.decode(bytes);
}
#else
namespace {

bool IsLeadByte(uchar b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}
bool IsTrailByte(uchar b) {
  return b >= 0x40 && b <= 0xFC && b != 0x7F;
}
bool IsSingleByte(uchar b) {
  return (b >= 0x20 && b < 0x7F) || (b >= 0xA1 && b <= 0xDF);
}

}  // namespace

// The code page converter is given only runs of well-formed characters without control
// codes: on its own it turns stray bytes into U+001A and swaps some control codes, where the
// window wants U+FFFD for what does not decode and each control code as itself.
QString DecodeCodePage(QByteArrayView bytes) {
  QStringDecoder decoder = MakeDecoder();
  QString out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const uchar*>(bytes.data());
  const qsizetype n = bytes.size();
  qsizetype run = 0;  // start of the pending run of well-formed characters
  auto flush = [&](qsizetype end) {
    if (end > run) out += decoder.decode(bytes.sliced(run, end - run));
  };
  qsizetype i = 0;
  while (i < n) {
    const uchar b = p[i];
    if (IsSingleByte(b)) {
      ++i;
    } else if (IsLeadByte(b) && i + 1 < n && IsTrailByte(p[i + 1])) {
      i += 2;
    } else {
      flush(i);
      out += (b < 0x20 || b == 0x7F) ? QChar(b) : QChar(QChar::ReplacementCharacter);
      run = ++i;
    }
  }
  flush(n);
  return out;
}
#endif

QString DecodeFileName(QByteArrayView bytes) {
  QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
  const QString name = utf8.decode(bytes);
  return utf8.hasError() ? DecodeCodePage(bytes) : name;
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
