// Splits a log into lines. A line ends at CR LF or at a lone CR; the terminator is not part of
// the line. A lone LF is an ordinary code unit of its line. A last line without terminator is
// a line; a terminator at the very end makes no further empty line. Every byte value is kept.
// Lines are split in the log's code units: bytes (Shift JIS, UTF-8, ISO-2022-JP), or 16-bit
// units of UTF-16 in the log's byte order, where an odd last byte stays with the last line.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <cstring>

#include "core/log_encoding.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace parlotrim {

// Code units of one byte.
struct ByteUnits {
  static constexpr qsizetype kWidth = 1;
  static bool Is(const char* p, char ascii) { return *p == ascii; }
};

// 16-bit code units of UTF-16 in one byte order.
template <bool BigEndian>
struct Utf16Units {
  static constexpr qsizetype kWidth = 2;
  static constexpr bool kBigEndian = BigEndian;
  static bool Is(const char* p, char ascii) {
    return BigEndian ? p[0] == 0 && p[1] == ascii : p[0] == ascii && p[1] == 0;
  }
};
using Utf16LeUnits = Utf16Units<false>;
using Utf16BeUnits = Utf16Units<true>;

// Calls f(Units{}) with the code units of an encoding.
template <typename F>
decltype(auto) WithUnits(LogEncoding encoding, F&& f) {
  if (encoding == LogEncoding::Utf16Le) return f(Utf16LeUnits{});
  if (encoding == LogEncoding::Utf16Be) return f(Utf16BeUnits{});
  return f(ByteUnits{});
}

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

// The same in code units: found(p) for every CR unit that starts a whole unit counted from p.
template <typename Units, typename Found>
void ForEachCrUnit(const char* p, const char* end, Found&& found) {
  if constexpr (Units::kWidth == 1) {
    ForEachCr(p, end, found);
  } else {
    end = p + (end - p) / 2 * 2;  // an odd last byte is no unit
#if defined(__SSE2__)
    // Lanes of 16 bits from p, compared with CR as the bytes of the log's order put it.
    const __m128i cr = _mm_set1_epi16(Units::kBigEndian ? 0x0D00 : 0x000D);
    while (end - p >= 16) {
      const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(block, cr)));
      mask &= 0x5555u;  // one bit a lane
      while (mask) {
        found(p + __builtin_ctz(mask));
        mask &= mask - 1;
      }
      p += 16;
    }
#endif
    for (; p != end; p += 2) {
      if (Units::Is(p, '\r')) found(p);
    }
  }
}

// The same from the end: found(p) for every CR unit in [begin, end), last first, the units
// counted from begin (an odd last byte is no unit).
template <typename Units, typename Found>
void ForEachCrUnitBackward(const char* begin, const char* end, Found&& found) {
  constexpr qsizetype w = Units::kWidth;
  const char* p = begin + (end - begin) / w * w;
#if defined(__SSE2__)
  __m128i cr;
  if constexpr (w == 1)
    cr = _mm_set1_epi8('\r');
  else
    cr = _mm_set1_epi16(Units::kBigEndian ? 0x0D00 : 0x000D);
  while (p - begin >= 16) {
    p -= 16;
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned mask;
    if constexpr (w == 1)
      mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, cr)));
    else
      mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi16(block, cr))) & 0x5555u;
    while (mask) {
      const int bit = 31 - __builtin_clz(mask);
      found(p + bit);
      mask &= ~(1u << bit);
    }
  }
#endif
  while (p != begin) {
    p -= w;
    if (Units::Is(p, '\r')) found(p);
  }
}

// Splits a whole buffer; the views point into data. A template, so that the per-line call is
// inlined: logs run to millions of lines.
template <typename Units = ByteUnits, typename Sink>
void ForEachLine(QByteArrayView data, Sink&& sink) {
  constexpr qsizetype w = Units::kWidth;
  const char* line = data.data();
  const char* const end = line + data.size();
  ForEachCrUnit<Units>(line, end, [&](const char* cr) {
    // A CR right after a CR LF or a lone CR ends an empty line: line == cr then.
    sink(QByteArrayView(line, cr - line));
    line = cr + w;
    if (end - line >= w && Units::Is(line, '\n')) line += w;
  });
  if (line != end) sink(QByteArrayView(line, end - line));
}

// Incremental splitter: input may arrive in blocks of any size, cut anywhere (also between the
// CR and the LF of a CR LF, or inside a code unit). Each line goes to sink(QByteArrayView) as
// soon as its end has arrived; lines that lie whole inside one block are handed out without
// copying, and the view is valid only during the call.
template <typename Units>
class BasicLineSplitter {
 public:
  using UnitsType = Units;

  template <typename Sink>
  void Feed(QByteArrayView block, Sink&& sink) {
    if constexpr (Units::kWidth == 2) {
      // A unit cut by the end of a block is completed by the first byte of the next one.
      if (block.isEmpty()) return;
      if (holding_) {
        const char unit[2] = {held_, block.front()};
        holding_ = false;
        FeedUnits(QByteArrayView(unit, 2), sink);
        block = block.sliced(1);
      }
      if (block.size() % 2) {
        held_ = block.back();
        holding_ = true;
        block.chop(1);
      }
    }
    FeedUnits(block, sink);
  }

  // Ends the input: hands out a last line that had no terminator (with an odd last byte).
  template <typename Sink>
  void Finish(Sink&& sink) {
    if (holding_) {
      carry_.append(held_);
      carryOpen_ = true;
      holding_ = false;
    }
    if (carryOpen_) sink(QByteArrayView(carry_));
    carry_.clear();
    carryOpen_ = false;
    skipLf_ = false;
  }

 private:
  // Feeds whole code units.
  template <typename Sink>
  void FeedUnits(QByteArrayView block, Sink&& sink) {
    constexpr qsizetype w = Units::kWidth;
    const char* line = block.data();
    const char* const end = line + block.size();
    if (line == end) return;
    if (skipLf_) {
      skipLf_ = false;
      if (Units::Is(line, '\n') && (line += w) == end) return;
    }
    ForEachCrUnit<Units>(line, end, [&](const char* cr) {
      if (carryOpen_) {
        carry_.append(line, cr - line);
        sink(QByteArrayView(carry_));
        carry_.clear();
        carryOpen_ = false;
      } else {
        sink(QByteArrayView(line, cr - line));
      }
      line = cr + w;
      if (line == end)
        skipLf_ = true;  // the LF of this CR LF may begin the next block
      else if (Units::Is(line, '\n'))
        line += w;
    });
    if (line != end) {
      carry_.append(line, end - line);
      carryOpen_ = true;
    }
  }

  QByteArray carry_;        // start of a line whose end has not arrived yet
  bool carryOpen_ = false;  // carry_ holds a started line (it may still be empty)
  bool skipLf_ = false;     // the previous block ended in CR: a leading LF belongs to it
  bool holding_ = false;    // held_ is the first byte of a unit cut by the end of a block
  char held_ = 0;
};

using LineSplitter = BasicLineSplitter<ByteUnits>;

}  // namespace parlotrim
