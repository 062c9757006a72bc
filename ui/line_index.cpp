#include "ui/line_index.h"

#include <cstring>

namespace parlotrim {

void LineIndex::Build(QByteArrayView text) {
  starts_.clear();
  size_ = text.size();
  longest_ = 0;
  longestBytes_ = 0;
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* lineStart = begin;
  const char* p = begin;
  starts_.push_back(0);
  auto endLine = [&](const char* lineEnd) {
    const qsizetype bytes = lineEnd - lineStart;
    if (bytes > longestBytes_) {
      longestBytes_ = bytes;
      longest_ = LineCount() - 1;
    }
  };
  while (p < end) {
    const void* cr = std::memchr(p, '\r', static_cast<size_t>(end - p));
    if (!cr) break;
    const char* at = static_cast<const char*>(cr);
    if (at + 1 < end && at[1] == '\n') {
      endLine(at);
      lineStart = at + 2;
      starts_.push_back(lineStart - begin);
    }
    p = at + 1;
  }
  endLine(end);
}

QByteArrayView LineIndex::Line(QByteArrayView text, qsizetype n) const {
  if (n < 0 || n >= LineCount()) return QByteArrayView();
  const qsizetype start = starts_[static_cast<size_t>(n)];
  const qsizetype end = n + 1 < LineCount() ? starts_[static_cast<size_t>(n) + 1] - 2 : size_;
  return text.sliced(start, end - start);
}

}  // namespace parlotrim
