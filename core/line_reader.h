// Splits a log into lines. A line ends at CR LF or at a lone CR; the terminator is not part of
// the line. A lone LF is an ordinary byte of its line. A last line without terminator is a
// line; a terminator at the very end makes no further empty line. Every byte value is kept.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace parlotrim {

// Calls found(p) for every CR byte in [p, end), in order. Logs are mostly short lines, where a
// library search per line costs more than one sweep over the buffer in 16-byte blocks.
template <typename Found>
void ForEachCr(const char* p, const char* end, Found&& found) {
#if defined(__SSE2__)
  const __m128i cr = _mm_set1_epi8('\r');
  while (end - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, cr)));
    while (mask) {
      found(p + __builtin_ctz(mask));
      mask &= mask - 1;
    }
    p += 16;
  }
  for (; p != end; ++p) {
    if (*p == '\r') found(p);
  }
#else
  while (p != end) {
    const auto* hit = static_cast<const char*>(std::memchr(p, '\r', static_cast<size_t>(end - p)));
    if (!hit) return;
    found(hit);
    p = hit + 1;
  }
#endif
}

// Splits a whole buffer; the views point into data. A template, so that the per-line call is
// inlined: logs run to millions of lines.
template <typename Sink>
void ForEachLine(QByteArrayView data, Sink&& sink) {
  const char* line = data.data();
  const char* const end = line + data.size();
  ForEachCr(line, end, [&](const char* cr) {
    // A CR right after a CR LF or a lone CR ends an empty line: line == cr then.
    sink(QByteArrayView(line, cr - line));
    line = cr + 1;
    if (line != end && *line == '\n') ++line;
  });
  if (line != end) sink(QByteArrayView(line, end - line));
}

// Incremental splitter: input may arrive in blocks of any size, cut anywhere (also between the
// CR and the LF of a CR LF). Each line goes to sink(QByteArrayView) as soon as its end has
// arrived; lines that lie whole inside one block are handed out without copying, and the view
// is valid only during the call.
class LineSplitter {
 public:
  template <typename Sink>
  void Feed(QByteArrayView block, Sink&& sink) {
    const char* line = block.data();
    const char* const end = line + block.size();
    if (line == end) return;
    if (skipLf_) {
      skipLf_ = false;
      if (*line == '\n' && ++line == end) return;
    }
    ForEachCr(line, end, [&](const char* cr) {
      if (carryOpen_) {
        carry_.append(line, cr - line);
        sink(QByteArrayView(carry_));
        carry_.clear();
        carryOpen_ = false;
      } else {
        sink(QByteArrayView(line, cr - line));
      }
      line = cr + 1;
      if (line == end)
        skipLf_ = true;  // the LF of this CR LF may begin the next block
      else if (*line == '\n')
        ++line;
    });
    if (line != end) {
      carry_.append(line, end - line);
      carryOpen_ = true;
    }
  }

  // Ends the input: hands out a last line that had no terminator.
  template <typename Sink>
  void Finish(Sink&& sink) {
    if (carryOpen_) sink(QByteArrayView(carry_));
    carry_.clear();
    carryOpen_ = false;
    skipLf_ = false;
  }

 private:
  QByteArray carry_;        // start of a line whose end has not arrived yet
  bool carryOpen_ = false;  // carry_ holds a started line (it may still be empty)
  bool skipLf_ = false;     // the previous block ended in CR: a leading LF belongs to it
};

}  // namespace parlotrim
