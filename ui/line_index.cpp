#include "ui/line_index.h"

#include <cstring>

#include "core/line_reader.h"

namespace parlotrim {

namespace {

// End of the line that starts at from: the CR of the next CR LF, or end.
const char* LineEnd(const char* from, const char* end) {
  for (;;) {
    if (from == end) return end;  // also for an empty text, whose data may be null
    const auto* cr = static_cast<const char*>(std::memchr(from, '\r', size_t(end - from)));
    if (!cr || (cr + 1 < end && cr[1] == '\n')) return cr ? cr : end;
    from = cr + 1;
  }
}

}  // namespace

void LineIndex::Build(QByteArrayView text) {
  checkpoints_.clear();
  checkpoints_.push_back(0);
  count_ = 1;
  longest_ = 0;
  longestBytes_ = 0;
  const char* const begin = text.data();
  const char* const end = begin + text.size();
  const char* lineStart = begin;
  auto endLine = [&](const char* lineEnd) {
    if (lineEnd - lineStart > longestBytes_) {
      longestBytes_ = lineEnd - lineStart;
      longest_ = count_ - 1;
    }
  };
  ForEachCr(begin, end, [&](const char* at) {
    if (at + 1 < end && at[1] == '\n') {
      endLine(at);
      lineStart = at + 2;
      if (count_ % kStride == 0) checkpoints_.push_back(lineStart - begin);
      ++count_;
    }
  });
  endLine(end);
}

QByteArrayView LineIndex::Line(QByteArrayView text, qsizetype n) const {
  if (n < 0 || n >= count_) return QByteArrayView();
  const char* const end = text.data() + text.size();
  const char* start = text.data() + checkpoints_[size_t(n / kStride)];
  for (qsizetype skip = n % kStride; skip > 0; --skip) start = LineEnd(start, end) + 2;
  return QByteArrayView(start, LineEnd(start, end) - start);
}

}  // namespace parlotrim
