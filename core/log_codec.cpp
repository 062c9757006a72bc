#include "core/log_codec.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include "platform/code_page.h"

namespace parlotrim {

namespace {

constexpr char kEsc = 0x1B;
constexpr char kNotShiftJis = char(0x80);  // no Shift JIS character: decodes to U+FFFD

QStringConverter::Encoding Unicode(LogEncoding encoding) {
  switch (encoding) {
    case LogEncoding::Utf16Le:
      return QStringConverter::Utf16LE;
    case LogEncoding::Utf16Be:
      return QStringConverter::Utf16BE;
    default:
      return QStringConverter::Utf8;
  }
}

// Lone surrogates are kept by the UTF-16 decoder; the window shows U+FFFD for them.
void ReplaceLoneSurrogates(QString& text) {
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text.at(i);
    if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
      ++i;
    else if (c.isSurrogate())
      text[i] = QChar::ReplacementCharacter;
  }
}

// ISO-2022-JP turned into the Shift JIS it stands for, character for character, so that one
// decoder shows both. The escape sequences go; JIS X 0208 pairs become their Shift JIS pairs
// and JIS X 0201 katakana the single bytes; what has no Shift JIS form (JIS X 0212, broken
// pairs) becomes a byte that decodes to U+FFFD.
QByteArray Iso2022JpToShiftJis(QByteArrayView in) {
  enum Set { Ascii, Kana, Kanji, Supplementary } set = Ascii;
  QByteArray out;
  out.reserve(in.size());
  for (qsizetype i = 0; i < in.size(); ++i) {
    const char b = in[i];
    if (b == kEsc) {
      const QByteArrayView rest = in.sliced(i + 1);
      qsizetype skip = 0;
      if (rest.startsWith("(B") || rest.startsWith("(J")) {
        set = Ascii;
        skip = 2;
      } else if (rest.startsWith("(I")) {
        set = Kana;
        skip = 2;
      } else if (rest.startsWith("$B") || rest.startsWith("$@")) {
        set = Kanji;
        skip = 2;
      } else if (rest.startsWith("$(D")) {
        set = Supplementary;
        skip = 3;
      }
      if (skip) {
        i += skip;
        continue;
      }
    }
    const uchar u = uchar(b);
    if (u < 0x21 || u > 0x7E || set == Ascii) {
      out += b;  // control codes and space stand for themselves in every set
    } else if (set == Kana) {
      out += u <= 0x5F ? char(u + 0x80) : kNotShiftJis;
    } else {
      const uchar j2 = i + 1 < in.size() ? uchar(in[i + 1]) : 0;
      if (j2 < 0x21 || j2 > 0x7E) {
        out += kNotShiftJis;
        continue;
      }
      ++i;
      if (set == Supplementary) {
        out += kNotShiftJis;
        continue;
      }
      const uchar s1 = uchar((u + 1) / 2 + (u <= 0x5E ? 0x70 : 0xB0));
      uchar s2;
      if (u & 1)
        s2 = uchar(j2 + (j2 >= 0x60 ? 0x20 : 0x1F));
      else
        s2 = uchar(j2 + 0x7E);
      out += char(s1);
      out += char(s2);
    }
  }
  return out;
}

// Shift JIS turned into ISO-2022-JP; false where a character has no JIS X 0208 or 0201 form.
bool ShiftJisToIso2022Jp(QByteArrayView in, QByteArray* out) {
  enum Set { Ascii, Kana, Kanji } set = Ascii;
  auto enter = [&](Set wanted) {
    if (set == wanted) return;
    *out += wanted == Ascii ? "\x1b(B" : wanted == Kana ? "\x1b(I" : "\x1b$B";
    set = wanted;
  };
  for (qsizetype i = 0; i < in.size(); ++i) {
    const uchar s1 = uchar(in[i]);
    if (s1 < 0x80) {
      enter(Ascii);
      *out += char(s1);
    } else if (s1 >= 0xA1 && s1 <= 0xDF) {
      enter(Kana);
      *out += char(s1 - 0x80);
    } else if (((s1 >= 0x81 && s1 <= 0x9F) || (s1 >= 0xE0 && s1 <= 0xEF)) && i + 1 < in.size()) {
      const uchar s2 = uchar(in[++i]);
      uchar j1 = uchar((s1 - (s1 <= 0x9F ? 0x70 : 0xB0)) * 2);
      uchar j2;
      if (s2 >= 0x9F) {
        j2 = uchar(s2 - 0x7E);
      } else {
        --j1;
        j2 = uchar(s2 - (s2 >= 0x80 ? 0x20 : 0x1F));
      }
      if (j1 < 0x21 || j1 > 0x7E || j2 < 0x21 || j2 > 0x7E) return false;
      enter(Kanji);
      *out += char(j1);
      *out += char(j2);
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

QString DecodeLog(QByteArrayView bytes, LogEncoding encoding) {
  switch (encoding) {
    case LogEncoding::Ansi:
      return DecodeCodePage(bytes);
    case LogEncoding::Iso2022Jp:
      return DecodeShiftJis(Iso2022JpToShiftJis(bytes));
    default: {
      // A byte order mark inside the text is shown as the character it is.
      QStringDecoder decoder(Unicode(encoding), QStringConverter::Flag::Stateless |
                                                    QStringConverter::Flag::ConvertInitialBom);
      if (encoding == LogEncoding::Utf8) return decoder.decode(bytes);
      // An odd last byte is no character; the decoder would drop it without a trace.
      const bool odd = bytes.size() % 2 != 0;
      QString text = decoder.decode(odd ? bytes.chopped(1) : bytes);
      ReplaceLoneSurrogates(text);
      if (odd) text += QChar::ReplacementCharacter;
      return text;
    }
  }
}

QByteArray EncodeForLog(const QString& text, LogEncoding encoding, bool* ok) {
  switch (encoding) {
    case LogEncoding::Ansi:
      return EncodeCodePage(text, ok);
    case LogEncoding::Iso2022Jp: {
      bool encoded = false;
      const QByteArray shiftJis = EncodeShiftJis(text, &encoded);
      QByteArray out;
      encoded = encoded && ShiftJisToIso2022Jp(shiftJis, &out);
      if (ok) *ok = encoded;
      return out;
    }
    default: {
      QStringEncoder encoder(Unicode(encoding), QStringConverter::Flag::Stateless);
      QByteArray bytes = encoder.encode(text);
      if (ok) *ok = !encoder.hasError();
      return bytes;
    }
  }
}

QByteArray EncodeForDocument(const QString& text, LogEncoding encoding) {
  if (encoding == LogEncoding::Ansi) return EncodeCodePageForHtml(text);
  if (encoding != LogEncoding::Iso2022Jp) return EncodeForLog(text, encoding);
  QByteArray out;
  for (qsizetype i = 0; i < text.size(); ++i) {
    const char16_t u = text.at(i).unicode();
    if (u < 0x80) {
      out += char(u);
      continue;
    }
    char32_t code = u;
    if (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
      code = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
      ++i;
    }
    out += "&#" + QByteArray::number(quint32(code)) + ";";
  }
  return out;
}

QByteArray CharsetName(LogEncoding encoding) {
  switch (encoding) {
    case LogEncoding::Ansi:
      return "x-sjis";
    case LogEncoding::Utf8:
      return "UTF-8";
    case LogEncoding::Utf16Le:
      return "UTF-16LE";
    case LogEncoding::Utf16Be:
      return "UTF-16BE";
    case LogEncoding::Iso2022Jp:
      return "ISO-2022-JP";
  }
  return "x-sjis";
}

}  // namespace parlotrim
