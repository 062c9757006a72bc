#include "core/line_index.h"

#include <cstring>

#include "core/line_reader.h"

namespace parlotrim {

namespace {

// End of the line that starts at from: the CR of the next CR LF, or end.
template <typename Units>
const char* LineEnd(const char* from, const char* end) {
  constexpr qsizetype w = Units::kWidth;
  if constexpr (w == 1) {
    for (;;) {
      if (from == end) return end;  // also for an empty text, whose data may be null
      const auto* cr = static_cast<const char*>(std::memchr(from, '\r', size_t(end - from)));
      if (!cr || (cr + 1 < end && cr[1] == '\n')) return cr ? cr : end;
      from = cr + 1;
    }
  } else {
    for (const char* p = from; end - p >= 2 * w; p += w) {
      if (Units::Is(p, '\r') && Units::Is(p + w, '\n')) return p;
    }
    return end;
  }
}

}  // namespace

void LineIndex::Build(QByteArrayView text, LogEncoding encoding) {
  encoding_ = encoding;
  WithUnits(encoding, [&](auto units) { BuildIn<decltype(units)>(text); });
}

template <typename Units>
void LineIndex::BuildIn(QByteArrayView text) {
  constexpr qsizetype w = Units::kWidth;
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
  ForEachCrUnit<Units>(begin, end, [&](const char* at) {
    if (end - (at + w) >= w && Units::Is(at + w, '\n')) {
      endLine(at);
      lineStart = at + 2 * w;
      if (count_ % kStride == 0) checkpoints_.push_back(lineStart - begin);
      ++count_;
    }
  });
  endLine(end);
}

QByteArrayView LineIndex::Line(QByteArrayView text, qsizetype n) const {
  return WithUnits(encoding_, [&](auto units) { return LineIn<decltype(units)>(text, n); });
}

template <typename Units>
QByteArrayView LineIndex::LineIn(QByteArrayView text, qsizetype n) const {
  constexpr qsizetype w = Units::kWidth;
  if (n < 0 || n >= count_) return QByteArrayView();
  const char* const end = text.data() + text.size();
  const char* start = text.data() + checkpoints_[size_t(n / kStride)];
  for (qsizetype skip = n % kStride; skip > 0; --skip) start = LineEnd<Units>(start, end) + 2 * w;
  return QByteArrayView(start, LineEnd<Units>(start, end) - start);
}

}  // namespace parlotrim
