#include "platform/code_page.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#include <QList>
#include <QStringDecoder>
#include <QStringEncoder>

namespace parlotrim {

namespace {

#ifdef Q_OS_WIN
QStringDecoder MakeDecoder() {
  return QStringDecoder(QStringConverter::System);
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

#ifdef Q_OS_WIN
// A run of well-formed characters of code page 932. The system's converter turns a character
// the code page leaves unassigned into a katakana middle dot: those become U+FFFD, as elsewhere.
struct RunDecoder {
  QString decode(QByteArrayView run) const {
    const int n =
        ::MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, run.data(), int(run.size()), nullptr, 0);
    if (n > 0) {
      QString out(n, Qt::Uninitialized);
      ::MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, run.data(), int(run.size()),
                            reinterpret_cast<wchar_t*>(out.data()), n);
      return out;
    }
    QString out;
    for (qsizetype i = 0; i < run.size();) {
      const qsizetype size = IsLeadByte(uchar(run[i])) && i + 1 < run.size() ? 2 : 1;
      wchar_t wide[2];
      const int got =
          ::MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, run.data() + i, int(size), wide, 2);
      out += got > 0 ? QString::fromWCharArray(wide, got) : QString(QChar::ReplacementCharacter);
      i += size;
    }
    return out;
  }
};
#endif

// The code page converter is given only runs of well-formed characters without control
// codes: on its own it turns stray bytes into U+001A and swaps some control codes, where the
// window wants U+FFFD for what does not decode and each control code as itself.
template <typename Decoder>
QString DecodeRuns(QByteArrayView bytes, Decoder& decoder) {
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

}  // namespace

QString DecodeCodePage(QByteArrayView bytes) {
#ifdef Q_OS_WIN
  // The lead and trail bytes below are those of code page 932; other code pages decode whole.
  if (::GetACP() != 932) {
    QStringDecoder whole = MakeDecoder();
    return whole.decode(bytes);
  }
#endif
  return DecodeShiftJis(bytes);
}

QString DecodeShiftJis(QByteArrayView bytes) {
#ifdef Q_OS_WIN
  const RunDecoder decoder;
#else
  QStringDecoder decoder = MakeDecoder();
#endif
  return DecodeRuns(bytes, decoder);
}

QString DecodeFileName(QByteArrayView bytes) {
  QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
  const QString name = utf8.decode(bytes);
  return utf8.hasError() ? DecodeCodePage(bytes) : name;
}

namespace {

#ifdef Q_OS_WIN
// Without best fit, which would encode "é" as "e": a character the code page lacks is told.
QByteArray EncodeWith(UINT codePage, const QString& text, bool* ok) {
  if (text.isEmpty()) {
    if (ok) *ok = true;
    return QByteArray();
  }
  const auto* wide = reinterpret_cast<const wchar_t*>(text.utf16());
  BOOL lacking = FALSE;
  const int n = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, int(text.size()),
                                      nullptr, 0, nullptr, &lacking);
  QByteArray bytes(qMax(n, 0), Qt::Uninitialized);
  if (n > 0)
    ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, int(text.size()), bytes.data(), n,
                          nullptr, &lacking);
  if (ok) *ok = n > 0 && !lacking;
  return bytes;
}
#else
QByteArray EncodeWith(const QString& text, bool* ok) {
  QStringEncoder encoder = MakeEncoder();
  QByteArray bytes = encoder.encode(text);
  if (ok) *ok = encoder.isValid() && !encoder.hasError();
  return bytes;
}
#endif

}  // namespace

QByteArray EncodeCodePage(const QString& text, bool* ok) {
#ifdef Q_OS_WIN
  return EncodeWith(CP_ACP, text, ok);
#else
  return EncodeWith(text, ok);
#endif
}

QByteArray EncodeShiftJis(const QString& text, bool* ok) {
#ifdef Q_OS_WIN
  return EncodeWith(932, text, ok);
#else
  return EncodeWith(text, ok);
#endif
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
