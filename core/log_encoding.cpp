#include "core/log_encoding.h"

#include <utility>

namespace parlotrim {

namespace {

constexpr QByteArrayView kBomUtf8("\xEF\xBB\xBF", 3);
constexpr QByteArrayView kBomUtf16Le("\xFF\xFE", 2);
constexpr QByteArrayView kBomUtf16Be("\xFE\xFF", 2);

struct Utf8Verdict {
  bool valid = true;
  bool multiByte = false;   // at least one sequence of two or more bytes
  bool onlyTwoByte = true;  // every multi-byte sequence is of two bytes
};

// RFC 3629 UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF. A sequence cut by
// the end of the head is allowed unless the head is the whole file.
Utf8Verdict CheckUtf8(QByteArrayView head, bool whole) {
  Utf8Verdict v;
  const auto* p = reinterpret_cast<const uchar*>(head.data());
  const qsizetype n = head.size();
  for (qsizetype i = 0; i < n;) {
    const uchar b = p[i];
    if (b < 0x80) {
      ++i;
      continue;
    }
    qsizetype length;
    uchar low = 0x80, high = 0xBF;  // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
      length = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
      length = 3;
      if (b == 0xE0) low = 0xA0;
      if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
      length = 4;
      if (b == 0xF0) low = 0x90;
      if (b == 0xF4) high = 0x8F;
    } else {
      v.valid = false;
      return v;
    }
    for (qsizetype k = 1; k < length; ++k) {
      if (i + k == n) {
        v.valid = !whole;
        return v;
      }
      const uchar c = p[i + k];
      if (k == 1 ? (c < low || c > high) : (c < 0x80 || c > 0xBF)) {
        v.valid = false;
        return v;
      }
    }
    v.multiByte = true;
    if (length != 2) v.onlyTwoByte = false;
    i += length;
  }
  return v;
}

// Well-formed Shift JIS as Windows extends it (code page 932): single bytes, and lead bytes
// followed by a trail byte.
bool IsShiftJis(QByteArrayView head, bool whole) {
  const auto* p = reinterpret_cast<const uchar*>(head.data());
  const qsizetype n = head.size();
  for (qsizetype i = 0; i < n;) {
    const uchar b = p[i];
    if (b < 0x80 || (b >= 0xA1 && b <= 0xDF)) {
      ++i;
    } else if ((b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC)) {
      if (i + 1 == n) return !whole;
      const uchar t = p[i + 1];
      if (t < 0x40 || t == 0x7F || t > 0xFC) return false;
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

// Seven bits only, with an escape sequence into a Japanese character set.
bool IsIso2022Jp(QByteArrayView head) {
  bool escaped = false;
  for (qsizetype i = 0; i < head.size(); ++i) {
    const uchar b = uchar(head[i]);
    if (b >= 0x80) return false;
    if (b == 0x1B && !escaped) {
      const QByteArrayView rest = head.sliced(i + 1);
      escaped = rest.startsWith("$B") || rest.startsWith("$@") || rest.startsWith("$(D") ||
                rest.startsWith("(J") || rest.startsWith("(I");
    }
  }
  return escaped;
}

}  // namespace

QByteArrayView ByteOrderMark(LogEncoding encoding) {
  switch (encoding) {
    case LogEncoding::Utf8:
      return kBomUtf8;
    case LogEncoding::Utf16Le:
      return kBomUtf16Le;
    case LogEncoding::Utf16Be:
      return kBomUtf16Be;
    default:
      return {};
  }
}

LogFormat DetectLogFormat(QByteArrayView head, bool whole) {
  if (head.size() > kSniffBytes) {
    head = head.first(kSniffBytes);
    whole = false;
  }
  if (head.startsWith(kBomUtf8)) return {LogEncoding::Utf8, kBomUtf8.size()};
  if (head.startsWith(kBomUtf16Le)) return {LogEncoding::Utf16Le, kBomUtf16Le.size()};
  if (head.startsWith(kBomUtf16Be)) return {LogEncoding::Utf16Be, kBomUtf16Be.size()};
  const Utf8Verdict utf8 = CheckUtf8(head, whole);
  if (utf8.valid && utf8.multiByte && !(utf8.onlyTwoByte && IsShiftJis(head, whole)))
    return {LogEncoding::Utf8, 0};
  if (IsIso2022Jp(head)) return {LogEncoding::Iso2022Jp, 0};
  return {LogEncoding::Ansi, 0};
}

void LogFormatReader::Begin(QByteArrayView head, bool whole) {
  format_ = DetectLogFormat(head, whole);
  started_ = true;
  start_(format_, fileSize_);
  if (head.size() > format_.bomSize) feed_(head.sliced(format_.bomSize));
}

void LogFormatReader::Add(QByteArrayView block, qint64 fileSize) {
  fileSize_ = fileSize;
  if (started_) {
    if (!block.isEmpty()) feed_(block);
    return;
  }
  if (held_.isEmpty() && (block.size() >= kSniffBytes || block.size() >= fileSize)) {
    Begin(block, block.size() >= fileSize);  // the usual case: the first block decides
    return;
  }
  held_.append(block);
  if (held_.size() >= kSniffBytes || held_.size() >= fileSize) {
    const QByteArray head = std::exchange(held_, QByteArray());
    Begin(head, head.size() >= fileSize);
  }
}

LogFormat LogFormatReader::Finish() {
  if (!started_) {
    const QByteArray head = std::exchange(held_, QByteArray());
    Begin(head, true);
  }
  return format_;
}

}  // namespace parlotrim
