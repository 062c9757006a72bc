#include "core/line_reader.h"

#include <cstring>

namespace parlotrim {

namespace {

const char* FindCr(const char* from, const char* end) {
  return static_cast<const char*>(std::memchr(from, '\r', static_cast<size_t>(end - from)));
}

}  // namespace

void LineSplitter::Feed(QByteArrayView chunk, const LineSink& sink) {
  const char* p = chunk.data();
  const char* const end = p + chunk.size();
  if (p == end) return;
  if (skipLf_) {
    skipLf_ = false;
    if (*p == '\n') ++p;
  }
  while (p != end) {
    const char* cr = FindCr(p, end);
    if (!cr) {
      // No terminator in the rest of the chunk: keep it for the next one.
      carry_.append(p, end - p);
      carryOpen_ = true;
      return;
    }
    if (carryOpen_) {
      carry_.append(p, cr - p);
      sink(QByteArrayView(carry_));
      carry_.clear();
      carryOpen_ = false;
    } else {
      sink(QByteArrayView(p, cr - p));
    }
    p = cr + 1;
    if (p == end) {
      skipLf_ = true;
      return;
    }
    if (*p == '\n') ++p;
  }
}

void LineSplitter::Finish(const LineSink& sink) {
  if (carryOpen_) sink(QByteArrayView(carry_));
  carry_.clear();
  carryOpen_ = false;
  skipLf_ = false;
}

}  // namespace parlotrim
