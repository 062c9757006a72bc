// The encoding of a log, told from its bytes. Logs come from old chat clients in the system's
// ANSI code page (Shift JIS), from today's in UTF-8 (with or without a byte order mark), from
// Notepad's "Unicode" in UTF-16 with a byte order mark, and from mail-era tools in
// ISO-2022-JP. The encoding decides how lines are split (bytes, or 16-bit code units in the
// log's byte order), how the window decodes them, how the keyword is encoded and what the HTML
// document declares. The bytes of the lines themselves are never decoded and re-encoded.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>
#include <functional>

namespace parlotrim {

enum class LogEncoding {
  Ansi,  // the system's ANSI code page: Shift JIS (windows-31j) on a Japanese system
  Utf8,
  Utf16Le,
  Utf16Be,
  Iso2022Jp,
};

struct LogFormat {
  LogEncoding encoding = LogEncoding::Ansi;
  qsizetype bomSize = 0;  // bytes of the byte order mark that opens the file (0: none)
  bool operator==(const LogFormat& o) const {
    return encoding == o.encoding && bomSize == o.bomSize;
  }
};

// The byte order mark of an encoding, as it opens a file (empty where it has none).
QByteArrayView ByteOrderMark(LogEncoding encoding);

// Bytes in one code unit of the encoding: 2 for UTF-16, 1 otherwise.
inline qsizetype UnitWidth(LogEncoding encoding) {
  return encoding == LogEncoding::Utf16Le || encoding == LogEncoding::Utf16Be ? 2 : 1;
}

// How much of the start of a log the decision reads.
inline constexpr qsizetype kSniffBytes = 64 * 1024;

// Tells the format from the start of a log (up to kSniffBytes of it). whole: head is the whole
// file, so a multi-byte sequence cut at its end is not valid UTF-8 but a fault. The rule:
//  1. a byte order mark decides (UTF-8, UTF-16 LE, UTF-16 BE);
//  2. UTF-8 where the bytes are valid UTF-8 with a multi-byte sequence, unless every such
//     sequence is of two bytes and the bytes are also well-formed Shift JIS: those are
//     half-width katakana far more often than Latin or Cyrillic letters in a Japanese log;
//  3. ISO-2022-JP where every byte is 7-bit and a Japanese escape sequence is there;
//  4. else the system's ANSI code page.
LogFormat DetectLogFormat(QByteArrayView head, bool whole);

// Holds back the first blocks of a read until the format is known (kSniffBytes, or the whole
// file), then tells it to start and hands every byte after the byte order mark to feed. The
// blocks may be of any size, so a short read never changes the decision.
class LogFormatReader {
 public:
  using Start = std::function<void(const LogFormat& format, qint64 fileSize)>;
  using Feed = std::function<void(QByteArrayView block)>;

  LogFormatReader(Start start, Feed feed) : start_(std::move(start)), feed_(std::move(feed)) {}

  // A block of the read, and the size of the whole file.
  void Add(QByteArrayView block, qint64 fileSize);
  // The read has ended: decides on what came, if it has not yet. Returns the format.
  LogFormat Finish();
  bool Started() const { return started_; }

 private:
  void Begin(QByteArrayView head, bool whole);

  Start start_;
  Feed feed_;
  QByteArray held_;
  qint64 fileSize_ = 0;
  LogFormat format_;
  bool started_ = false;
};

}  // namespace parlotrim
