// Where the lines of the working text start. Lines are separated by CR LF only (in the code
// units of the text's encoding); a lone CR or LF belongs to its line. The index keeps the start
// of every 32nd line and finds the others from there when asked: one sweep over the bytes
// builds it, and it stays small, so a text of a hundred megabytes and millions of lines is
// indexed in a few tens of milliseconds. A load notes the line starts as it joins its text
// instead, with no sweep of its own.
#pragma once

#include <QByteArrayView>
#include <vector>

#include "core/log_encoding.h"

namespace parlotrim {

class LineIndex {
 public:
  LineIndex() { Build(QByteArrayView()); }
  explicit LineIndex(QByteArrayView text, LogEncoding encoding = LogEncoding::Ansi) {
    Build(text, encoding);
  }

  void Build(QByteArrayView text, LogEncoding encoding = LogEncoding::Ansi);

  static constexpr qsizetype kStride = 32;
  // The index of a text whose lines were found elsewhere: count lines, the longest (the first
  // of equals) and its bytes, and startOf(n), the offset of line n, asked for each n that is a
  // multiple of kStride.
  template <typename StartOf>
  static LineIndex Of(LogEncoding encoding, qsizetype count, qsizetype longest,
                      qsizetype longestBytes, StartOf&& startOf) {
    LineIndex index;
    index.encoding_ = encoding;
    index.count_ = count;
    index.longest_ = longest;
    index.longestBytes_ = longestBytes;
    index.checkpoints_.reserve(size_t((count + kStride - 1) / kStride));
    for (qsizetype n = kStride; n < count; n += kStride) index.checkpoints_.push_back(startOf(n));
    return index;
  }

  bool operator==(const LineIndex& other) const {
    return checkpoints_ == other.checkpoints_ && encoding_ == other.encoding_ &&
           count_ == other.count_ && longest_ == other.longest_ &&
           longestBytes_ == other.longestBytes_;
  }

  // Always at least one: an empty text is one empty line.
  qsizetype LineCount() const { return count_; }
  // Bytes of line n, without its CR LF. text is the text the index was built over.
  QByteArrayView Line(QByteArrayView text, qsizetype n) const;
  // Index of the line with the most bytes (the first of equals).
  qsizetype LongestLine() const { return longest_; }

 private:
  template <typename Units>
  void BuildIn(QByteArrayView text);
  template <typename Units>
  QByteArrayView LineIn(QByteArrayView text, qsizetype n) const;

  std::vector<qsizetype> checkpoints_;  // start of lines 0, kStride, 2 * kStride, ...
  LogEncoding encoding_ = LogEncoding::Ansi;
  qsizetype count_ = 0;
  qsizetype longest_ = 0;
  qsizetype longestBytes_ = 0;
};

}  // namespace parlotrim
