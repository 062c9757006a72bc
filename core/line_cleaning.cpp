#include "core/line_cleaning.h"

#include <array>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "core/line_index.h"
#include "core/line_reader.h"
#include "platform/large_buffer.h"

namespace parlotrim {

namespace {

// An ASCII text in code units: as it is for bytes, each character widened to 16 bits in the
// byte order of UTF-16.
template <typename Units, size_t N>
constexpr std::array<char, (N - 1) * Units::kWidth> InUnits(const char (&ascii)[N]) {
  std::array<char, (N - 1) * Units::kWidth> out{};
  for (size_t i = 0; i + 1 < N; ++i) {
    if constexpr (Units::kWidth == 1) {
      out[i] = ascii[i];
    } else {
      out[2 * i + (Units::kBigEndian ? 1 : 0)] = ascii[i];
    }
  }
  return out;
}

// The line end and the markup of the converted text and the HTML body, in code units.
template <typename Units>
struct Markup {
  static constexpr auto kCrLfUnits = InUnits<Units>("\r\n");
  static constexpr auto kStrongOpenUnits = InUnits<Units>("<strong>");
  static constexpr auto kStrongCloseUnits = InUnits<Units>("</strong>");
  static constexpr auto kBrUnits = InUnits<Units>("<br>\r\n");
  static QByteArrayView CrLf() { return View(kCrLfUnits); }
  static QByteArrayView StrongOpen() { return View(kStrongOpenUnits); }
  static QByteArrayView StrongClose() { return View(kStrongCloseUnits); }
  static QByteArrayView Br() { return View(kBrUnits); }

 private:
  template <size_t N>
  static QByteArrayView View(const std::array<char, N>& units) {
    return QByteArrayView(units.data(), qsizetype(N));
  }
};

// A line of one or more "-" (U+002D) and nothing else, in code units.
template <typename Units>
bool IsSeparator(QByteArrayView line) {
  constexpr qsizetype w = Units::kWidth;
  if (line.isEmpty() || line.size() % w != 0) return false;
  for (const char* p = line.data(); p != line.data() + line.size(); p += w) {
    if (!Units::Is(p, '-')) return false;
  }
  return true;
}

// Whether line begins with prefix. Most lines differ in the first byte, which is tested here
// before the library compare is called: this runs for every line of the log.
bool BeginsWith(QByteArrayView line, QByteArrayView prefix) {
  if (prefix.isEmpty()) return true;
  return line.size() >= prefix.size() && line.front() == prefix.front() &&
         std::memcmp(line.data(), prefix.data(), size_t(prefix.size())) == 0;
}

// Copies the n bytes of a line at from to to, which lies before from or in another buffer, never
// after from in the same one. Lines are mostly short, and a call of the C run-time's memmove for
// each of millions of them can cost more than the copy (the run-time of a Windows program under
// Wine copies a line that moves down by fewer than 16 bytes one byte at a time): short lines
// are copied here, forward, 16 bytes at a time, each block read before it is written.
template <size_t N>
void CopyBlock(char* to, const char* from) {
  char block[N];
  std::memcpy(block, from, N);
  std::memcpy(to, block, N);
}

void CopyLine(char* to, const char* from, size_t n) {
  if (n > 256) {
    std::memmove(to, from, n);
    return;
  }
  for (; n >= 16; n -= 16, to += 16, from += 16) CopyBlock<16>(to, from);
  if (n & 8) CopyBlock<8>(to, from), to += 8, from += 8;
  if (n & 4) CopyBlock<4>(to, from), to += 4, from += 4;
  if (n & 2) CopyBlock<2>(to, from), to += 2, from += 2;
  if (n & 1) *to = *from;
}

// Puts one line through the separator rule, the emphasis and the blank rule, and calls
// visit(line, emphasised) when it is kept.
template <typename Units, typename Visit>
void KeepLine(QByteArrayView line, const Module1& flags, const Emphasis* emphasis, Visit&& visit) {
  if (flags.LineDelete && IsSeparator<Units>(line)) line = QByteArrayView(line.data(), 0);
  const bool strong = emphasis && emphasis->on && !line.isEmpty() && emphasis->keywordEncodable &&
                      BeginsWith(line, emphasis->keyword);
  if (flags.NullDelete && line.isEmpty()) return;
  visit(line, strong);
}

// Calls visit(line, emphasised) for every line of log that is kept, in file order.
template <typename Units, typename Visit>
void ForEachKeptLine(QByteArrayView log, const Module1& flags, const Emphasis* emphasis,
                     Visit&& visit) {
  ForEachLine<Units>(log,
                     [&](QByteArrayView line) { KeepLine<Units>(line, flags, emphasis, visit); });
}

// Moves n bytes down (to before from in the same buffer) or to another buffer: forward, 16
// bytes at a time, each block read before it is written. Also the long runs of lines that a
// load moves, which the run-time's memmove under Wine copies a byte at a time when they move
// by fewer than 16 bytes.
void CopyDown(char* to, const char* from, size_t n) {
  for (; n >= 16; n -= 16, to += 16, from += 16) CopyBlock<16>(to, from);
  if (n & 8) CopyBlock<8>(to, from), to += 8, from += 8;
  if (n & 4) CopyBlock<4>(to, from), to += 4, from += 4;
  if (n & 2) CopyBlock<2>(to, from), to += 2, from += 2;
  if (n & 1) *to = *from;
}

// The same up (to after from): backward from the end.
void CopyUp(char* to, const char* from, size_t n) {
  to += n, from += n;
  for (; n >= 16; n -= 16) to -= 16, from -= 16, CopyBlock<16>(to, from);
  if (n & 8) to -= 8, from -= 8, CopyBlock<8>(to, from);
  if (n & 4) to -= 4, from -= 4, CopyBlock<4>(to, from);
  if (n & 2) to -= 2, from -= 2, CopyBlock<2>(to, from);
  if (n & 1) to[-1] = from[-1];
}

// The kept lines of one part of a log, joined with CR LF in the log's own buffer: no CR LF
// before the first or after the last. Where a line would overtake the reading (lone CRs make
// the text longer than the log), the join stops and leaves the rest of the part as it was.
struct JoinedPart {
  qsizetype begin = 0, end = 0;  // the joined lines
  qsizetype lines = 0;           // how many
  // The rest of the part, not joined, in the log's buffer: where the join stopped (as it began
  // when it did not stop).
  qsizetype restBegin = 0, restEnd = 0;
  // The start of each joined line from the part's base, in the order they were joined (from
  // the end for a backward join); empty unless asked for.
  std::vector<quint32> starts;
  qsizetype longest = -1, longestBytes = 0;  // in that order; the first of equals in the file
};

// Room for the line starts of size bytes of log: enough for lines of 16 bytes on average, so
// that the list never grows (and copies) in a chat log. Room never written costs address
// space only, not memory.
size_t StartsRoom(qsizetype size) {
  return size_t(size / 16 + 16);
}

// What the separator and blank rules make of line [s, e): its end (s where a separator is
// emptied), or -1 where it goes.
template <typename Units>
qsizetype KeptEnd(const char* data, qsizetype s, qsizetype e, const Module1& flags) {
  if (s != e && flags.LineDelete && IsSeparator<Units>(QByteArrayView(data + s, e - s))) e = s;
  return e == s && flags.NullDelete ? -1 : e;
}

// Joins the lines of [from, to) forward from from. The kept lines move down by the bytes of the
// lines dropped so far; consecutive kept lines that end in CR LF move as one run, with their
// line ends.
template <typename Units>
void JoinForward(char* data, qsizetype from, qsizetype to, const Module1& flags, bool record,
                 JoinedPart* part) {
  constexpr qsizetype w = Units::kWidth, u = 2 * w;
  const QByteArrayView crLf = Markup<Units>::CrLf();
  if (record) part->starts.reserve(StartsRoom(to - from));
  qsizetype at = from;                     // end of the lines moved so far
  qsizetype runFrom = from, runTo = from;  // kept lines still to move, to at
  bool extends = false;  // the line before was kept whole and ended in CR LF: the run goes on
  bool stopped = false;
  qsizetype lines = 0;
  auto line = [&](qsizetype s, qsizetype e, qsizetype term) {
    const qsizetype kept = KeptEnd<Units>(data, s, e, flags);
    if (kept < 0) {
      extends = false;
      return;
    }
    if (!extends) {
      if (at != runFrom) CopyDown(data + at, data + runFrom, size_t(runTo - runFrom));
      at += runTo - runFrom;
      if (lines > 0) {
        if (at + u > s) {
          stopped = true;
          part->restBegin = s;
          return;
        }
        std::memcpy(data + at, crLf.data(), size_t(u));
        at += u;
      }
      runFrom = s;
    }
    runTo = kept;
    if (record) part->starts.push_back(quint32(at + (s - runFrom) - from));
    if (kept - s > part->longestBytes) part->longestBytes = kept - s, part->longest = lines;
    ++lines;
    extends = term == u && kept == e;
  };
  qsizetype s = from;
  ForEachCrUnit<Units>(data + from, data + to, [&](const char* cr) {
    if (stopped) return;
    const qsizetype c = cr - data;
    const qsizetype term = to - (c + w) >= w && Units::Is(cr + w, '\n') ? u : w;
    line(s, c, term);
    s = c + term;
  });
  if (!stopped && s != to) line(s, to, 0);
  if (!stopped) {
    if (at != runFrom) CopyDown(data + at, data + runFrom, size_t(runTo - runFrom));
    at += runTo - runFrom;
    part->restBegin = to;
  }
  part->begin = from;
  part->end = at;
  part->lines = lines;
  part->restEnd = to;
}

// Joins the lines of [from, to), which ends in CR LF, backward from to: each kept line followed
// by CR LF, the last one's own, so that the joined lines end at to - CR LF. They move up.
template <typename Units>
void JoinBackward(char* data, qsizetype from, qsizetype to, const Module1& flags, bool record,
                  JoinedPart* part) {
  constexpr qsizetype w = Units::kWidth, u = 2 * w;
  const QByteArrayView crLf = Markup<Units>::CrLf();
  if (record) part->starts.reserve(StartsRoom(to - from));
  qsizetype at = to;                   // start of the lines moved so far
  qsizetype runFrom = to, runTo = to;  // kept lines still to move, to end at at
  bool extends = false;  // the line after was kept from its start: a line that ends in CR LF
                         // and is kept whole goes in front of the run
  bool stopped = false;
  qsizetype lines = 0;
  auto line = [&](qsizetype s, qsizetype e, qsizetype term) {
    const qsizetype kept = KeptEnd<Units>(data, s, e, flags);
    if (kept < 0) {
      extends = false;
      return;
    }
    if (!extends || term != u || kept != e) {
      if (at != runTo)
        CopyUp(data + at - (runTo - runFrom), data + runFrom, size_t(runTo - runFrom));
      at -= runTo - runFrom;
      if (term == u && kept == e) {
        runTo = e + u;  // its own CR LF comes along
      } else {
        if (at - u < kept) {
          stopped = true;
          part->restEnd = e + term;
          return;
        }
        std::memcpy(data + at - u, crLf.data(), size_t(u));
        at -= u;
        runTo = kept;
      }
    }
    runFrom = s;
    if (record) part->starts.push_back(quint32(at - (runTo - s) - from));
    if (kept - s > 0 && kept - s >= part->longestBytes)
      part->longestBytes = kept - s, part->longest = lines;
    ++lines;
    extends = true;
  };
  qsizetype e = to - u;
  qsizetype term = u;
  ForEachCrUnitBackward<Units>(data + from, data + e, [&](const char* cr) {
    if (stopped) return;
    const qsizetype c = cr - data;
    const qsizetype t = Units::Is(cr + w, '\n') ? u : w;
    line(c + t, e, term);
    e = c;
    term = t;
  });
  if (!stopped) line(from, e, term);
  if (!stopped) {
    if (at != runTo) CopyUp(data + at - (runTo - runFrom), data + runFrom, size_t(runTo - runFrom));
    at -= runTo - runFrom;
    part->restEnd = from;
  }
  part->begin = at;
  part->end = lines > 0 ? to - u : to;
  part->lines = lines;
  part->restBegin = from;
}

// From this size on, the two parts of a load's log are joined on two threads.
constexpr qsizetype kJoinAsideFrom = qsizetype(1) << 20;

// Where the log is cut in two for the join: just after the first CR LF from its middle on, in
// code units counted from bom; bom where there is none.
template <typename Units>
qsizetype JoinCut(QByteArrayView log, qsizetype bom) {
  constexpr qsizetype w = Units::kWidth;
  const char* const data = log.data();
  const qsizetype units = (log.size() - bom) / w;
  qsizetype c = bom + units / 2 * w;
  const char* const end = data + bom + units * w;
  for (;;) {
    const char* cr = nullptr;
    if constexpr (w == 1) {
      cr = static_cast<const char*>(std::memchr(data + c, '\r', size_t(end - (data + c))));
    } else {
      for (const char* p = data + c; p != end; p += w)
        if (Units::Is(p, '\r')) {
          cr = p;
          break;
        }
    }
    if (!cr || end - cr < 2 * w) return bom;
    if (Units::Is(cr + w, '\n')) return cr + 2 * w - data;
    c = cr + w - data;
  }
}

template <typename Units>
QByteArray TakeWorkingTextIn(QByteArray log, const Module1& flags, qsizetype bom,
                             LogEncoding encoding, LineIndex* index) {
  // The log is cut in two after a CR LF near its middle. The first part is joined backward,
  // each kept line followed by CR LF, so that it ends where the second part begins, which is
  // joined forward: the two meet, and nothing moves the second part after. Then CR LF is put
  // in front of the whole, over the room before it (the byte order mark and the buffer's
  // room in front). Line starts are noted as the lines are joined, for the index.
  constexpr qsizetype u = 2 * Units::kWidth;
  const QByteArrayView crLf = Markup<Units>::CrLf();
  char* const data = log.data();
  const qsizetype size = log.size();
  const qsizetype cut = JoinCut<Units>(log, bom);
  const bool record = index && qMax(cut - bom, size - cut) <= qsizetype(UINT32_MAX);
  JoinedPart first, second;
  first.restBegin = first.restEnd = first.begin = first.end = bom;
  auto joinFirst = [&] {
    if (cut > bom) JoinBackward<Units>(data, bom, cut, flags, record, &first);
  };
  auto joinSecond = [&] { JoinForward<Units>(data, cut, size, flags, record, &second); };
  std::exception_ptr failure;
  std::optional<std::thread> aside;
  if (size >= kJoinAsideFrom && cut > bom) {
    try {
      aside.emplace([&] {
        try {
          joinSecond();
        } catch (...) {
          failure = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      // No thread to be had: one joins both parts.
    }
  }
  if (aside) {
    try {
      joinFirst();
    } catch (...) {
      aside->join();  // the other thread is done with the buffer before it goes
      throw;
    }
    aside->join();
    if (failure) std::rethrow_exception(failure);
  } else {
    joinFirst();
    joinSecond();
  }
  if (first.lines + second.lines == 0 && first.restBegin == first.restEnd &&
      second.restBegin == second.restEnd) {
    if (index) *index = LineIndex(QByteArrayView(), encoding);
    return QByteArray();
  }
  if (first.restBegin != first.restEnd || second.restBegin != second.restEnd) {
    // A join stopped: the text is put together in a new buffer, from what was joined and the
    // rest as it was.
    QByteArray out;
    out.reserve(size + u + (size - bom) / 2);
    auto rest = [&](qsizetype from, qsizetype to) {
      ForEachKeptLine<Units>(QByteArrayView(data + from, to - from), flags, nullptr,
                             [&](QByteArrayView line, bool) {
                               out.append(crLf);
                               out.append(line);
                             });
    };
    auto joinedLines = [&](const JoinedPart& part) {
      if (part.lines == 0) return;
      out.append(crLf);
      out.append(data + part.begin, part.end - part.begin);
    };
    rest(first.restBegin, first.restEnd);
    joinedLines(first);
    joinedLines(second);
    rest(second.restBegin, second.restEnd);
    if (index) index->Build(out, encoding);
    return out;
  }
  // The text: CR LF, the first part's lines, the CR LF that follows them, the second part's.
  const qsizetype begin = first.lines > 0 ? first.begin : cut;
  const qsizetype end = second.lines > 0 ? second.end : cut - u;
  const qsizetype textStart = begin - u;  // before the buffer where the room is too small
  if (index && record) {
    const qsizetype firstLines = first.lines;
    auto startOf = [&](qsizetype n) {
      return n <= firstLines
                 ? bom + qsizetype(first.starts[size_t(firstLines - n)]) - textStart
                 : cut + qsizetype(second.starts[size_t(n - firstLines - 1)]) - textStart;
    };
    qsizetype longest = 0, longestBytes = 0;
    if (first.longestBytes > 0 && first.longestBytes >= second.longestBytes)
      longest = firstLines - first.longest, longestBytes = first.longestBytes;
    else if (second.longestBytes > 0)
      longest = firstLines + 1 + second.longest, longestBytes = second.longestBytes;
    *index =
        LineIndex::Of(encoding, 1 + first.lines + second.lines, longest, longestBytes, startOf);
  }
  first.starts = std::vector<quint32>();
  second.starts = std::vector<quint32>();
  log.truncate(end);
  // A buffer from FileStore::ReadAll has room for two bytes in front of the data; elsewhere,
  // and where the room before the text is too small, the prepend moves the text.
  const qsizetype inPlace = qMin(begin, u);
  std::memcpy(data + begin - inPlace, crLf.data() + u - inPlace, size_t(inPlace));
  log.remove(0, begin - inPlace);  // moves the start of the text, not its bytes
  if (inPlace < u) log.prepend(crLf.first(u - inPlace));
  if (index && !record) index->Build(log, encoding);
  return log;
}

}  // namespace

QByteArrayView LineEnd(LogEncoding encoding) {
  return WithUnits(encoding, [](auto units) { return Markup<decltype(units)>::CrLf(); });
}

QByteArray BuildWorkingText(QByteArrayView log, const Module1& flags, const LogFormat& format) {
  return WithUnits(format.encoding, [&](auto units) {
    using Units = decltype(units);
    QByteArray out;
    out.reserve(log.size() + 4);
    ForEachKeptLine<Units>(log.sliced(qMin(format.bomSize, log.size())), flags, nullptr,
                           [&](QByteArrayView line, bool) {
                             out.append(Markup<Units>::CrLf());
                             out.append(line);
                           });
    return out;
  });
}

QByteArray TakeWorkingText(QByteArray log, const Module1& flags, const LogFormat& format,
                           LineIndex* index) {
  const qsizetype bom = qMin(format.bomSize, log.size());
  QByteArray text = WithUnits(format.encoding, [&](auto units) {
    return TakeWorkingTextIn<decltype(units)>(std::move(log), flags, bom, format.encoding, index);
  });
  return text;
}

QByteArray BuildConvertedText(QByteArrayView log, const Module1& flags, LogEncoding encoding) {
  ReversedTextBuilder builder(flags, nullptr, log.size(), encoding);
  builder.Feed(log);
  return builder.Finish();
}

QByteArray BuildHtmlBody(QByteArrayView log, const Module1& flags, const Emphasis& emphasis,
                         LogEncoding encoding) {
  ReversedTextBuilder builder(flags, &emphasis, log.size(), encoding);
  builder.Feed(log);
  return builder.Finish();
}

namespace {

// A log from this size on is built on two threads.
constexpr qint64 kHelperFrom = qint64(8) << 20;
// Blocks from this size on are shared with the helper thread.
constexpr qsizetype kShareFrom = qsizetype(64) << 10;

// Room for the text built from size bytes of log. With CR LF line ends the converted text is
// as long as the log (plus one line end where the last line has none); the HTML body adds
// "<br>" to every line and may emphasise some. Room that is never written costs address space
// only, not memory.
qsizetype Room(qint64 size, bool html) {
  const qint64 hint = qMax<qint64>(size, 0);
  return qsizetype((html ? hint + hint / 2 : hint + hint / 16) + 64);
}

// Where a block is cut for the two threads: just after the first line end from its middle on,
// so that the second part starts a line; 0 where there is no such place. A CR that is the
// block's last unit is no such place: its LF may begin the next block. The block's code units
// begin at phase (a UTF-16 unit may be cut by the end of the block before).
template <typename Units>
qsizetype CutPoint(QByteArrayView block, qsizetype phase) {
  constexpr qsizetype w = Units::kWidth;
  if (block.size() < kShareFrom) return 0;
  const char* const begin = block.data();
  const char* const end = begin + block.size();
  const char* middle = begin + phase + (block.size() / 2) / w * w;
  const char* cr = nullptr;
  if constexpr (w == 1) {
    cr = static_cast<const char*>(std::memchr(middle, '\r', size_t(end - middle)));
  } else {
    for (const char* p = middle; end - p >= w; p += w) {
      if (Units::Is(p, '\r')) {
        cr = p;
        break;
      }
    }
  }
  if (!cr || end - (cr + w) < w) return 0;
  const char* next = cr + w;
  if (Units::Is(next, '\n')) next += w;
  return end - next < w ? 0 : next - begin;
}

}  // namespace

// The helper thread: splits and builds one part of a block at a time, from a fresh start of a
// line, into its own text. The splitter it ends with carries what is left of the block over to
// the next one.
class ReversedTextBuilder::Helper {
 public:
  Helper(const Module1& flags, const Emphasis* emphasis, LogEncoding encoding)
      : text_(flags, emphasis),
        encoding_(encoding),
        splitter_(MakeSplitter(encoding)),
        html_(emphasis != nullptr),
        thread_([this] { Run(); }) {}

  ~Helper() {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  void Start(QByteArrayView part) {
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      part_ = part;
      busy_ = true;
    }
    changed_.notify_all();
  }

  // Waits until the part is built; throws what building it threw.
  void Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    if (failure_) std::rethrow_exception(std::exchange(failure_, nullptr));
  }

  // Valid after Wait.
  QByteArrayView Built() const { return text_.Built(); }
  Splitter TakeSplitter() { return std::exchange(splitter_, MakeSplitter(encoding_)); }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return busy_ || quit_; });
      if (quit_) return;
      lock.unlock();
      try {
        text_.Reset(Room(part_.size(), html_));
        std::visit(
            [this](auto& splitter) {
              using Units = typename std::decay_t<decltype(splitter)>::UnitsType;
              splitter.Feed(part_, [this](QByteArrayView line) { text_.Add<Units>(line); });
            },
            splitter_);
      } catch (...) {
        failure_ = std::current_exception();
      }
      lock.lock();
      busy_ = false;
      changed_.notify_all();
    }
  }

  Backwards text_;
  const LogEncoding encoding_;
  Splitter splitter_;
  const bool html_;
  std::mutex mutex_;
  std::condition_variable changed_;
  QByteArrayView part_;
  bool busy_ = false, quit_ = false;
  std::exception_ptr failure_;
  std::thread thread_;  // last: it starts once the rest is ready
};

ReversedTextBuilder::Splitter ReversedTextBuilder::MakeSplitter(LogEncoding encoding) {
  if (encoding == LogEncoding::Utf16Le) return BasicLineSplitter<Utf16LeUnits>();
  if (encoding == LogEncoding::Utf16Be) return BasicLineSplitter<Utf16BeUnits>();
  return BasicLineSplitter<ByteUnits>();
}

ReversedTextBuilder::ReversedTextBuilder(const Module1& flags, const Emphasis* emphasis,
                                         qint64 sizeHint, LogEncoding encoding)
    : flags_(flags), splitter_(MakeSplitter(encoding)), text_(flags_, emphasis) {
  text_.Reset(Room(sizeHint, emphasis != nullptr));
  if (sizeHint >= kHelperFrom) {
    try {
      helper_ = std::make_unique<Helper>(flags_, emphasis, encoding);
    } catch (const std::system_error&) {
      // No thread to be had: one does all the work.
    }
  }
}

ReversedTextBuilder::~ReversedTextBuilder() = default;

void ReversedTextBuilder::Feed(QByteArrayView block) {
  std::visit([&](auto& splitter) { FeedIn(splitter, block); }, splitter_);
  fed_ += block.size();
}

template <typename Units>
void ReversedTextBuilder::FeedIn(BasicLineSplitter<Units>& splitter, QByteArrayView block) {
  auto add = [this](QByteArrayView line) { text_.Add<Units>(line); };
  const qsizetype cut = helper_ ? CutPoint<Units>(block, qsizetype(fed_ % Units::kWidth)) : 0;
  if (cut == 0) {
    splitter.Feed(block, add);
    return;
  }
  // The lines of the second part come first in the result: they are put in front of those of
  // the first part once both are built. The helper reads the block, so it must be done with it
  // before this returns, also when building the first part throws.
  helper_->Start(block.sliced(cut));
  std::exception_ptr failure;
  try {
    splitter.Feed(block.first(cut), add);
  } catch (...) {
    failure = std::current_exception();
  }
  helper_->Wait();
  if (failure) std::rethrow_exception(failure);
  const QByteArrayView built = helper_->Built();
  if (!built.isEmpty()) std::memcpy(text_.Claim(built.size()), built.data(), size_t(built.size()));
  splitter_ = helper_->TakeSplitter();  // replaces the splitter given: nothing uses it after
}

QByteArray ReversedTextBuilder::Finish() {
  std::visit(
      [this](auto& splitter) {
        using Units = typename std::decay_t<decltype(splitter)>::UnitsType;
        splitter.Finish([this](QByteArrayView line) { text_.Add<Units>(line); });
      },
      splitter_);
  return text_.Take();
}

void ReversedTextBuilder::Backwards::Reset(qsizetype size) {
  if (out_.size() < size) {
    free_ = 0;
    out_ = QByteArray();           // a smaller buffer goes before a larger one is taken
    out_ = LendLargeBuffer(size);  // all of it is used, from the back
  }
  free_ = out_.size();
}

QByteArray ReversedTextBuilder::Backwards::Take() {
  out_.remove(0, free_);  // moves the start of the text, not its bytes
  free_ = 0;
  return std::move(out_);
}

char* ReversedTextBuilder::Backwards::Claim(qsizetype n) {
  if (free_ < n) {
    const qsizetype used = out_.size() - free_;
    const qsizetype size = qMax(out_.size() * 2, used + n);
    QByteArray bigger(size, Qt::Uninitialized);
    std::memcpy(bigger.data() + size - used, out_.constData() + free_, size_t(used));
    out_ = std::move(bigger);
    free_ = size - used;
  }
  free_ -= n;
  return out_.data() + free_;
}

template <typename Units>
void ReversedTextBuilder::Backwards::Add(QByteArrayView line) {
  using M = Markup<Units>;
  KeepLine<Units>(line, flags_, emphasis_, [this](QByteArrayView kept, bool strong) {
    auto put = [](char* at, QByteArrayView piece) {
      CopyLine(at, piece.data(), size_t(piece.size()));
      return at + piece.size();
    };
    if (!emphasis_) {
      char* at = Claim(kept.size() + M::CrLf().size());
      put(put(at, kept), M::CrLf());
      return;
    }
    const qsizetype size = kept.size() + M::Br().size() +
                           (strong ? M::StrongOpen().size() + M::StrongClose().size() : 0);
    char* at = Claim(size);
    if (strong) at = put(at, M::StrongOpen());
    at = put(at, kept);
    if (strong) at = put(at, M::StrongClose());
    put(at, M::Br());
  });
}

}  // namespace parlotrim
