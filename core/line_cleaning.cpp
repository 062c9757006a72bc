#include "core/line_cleaning.h"

#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "core/line_reader.h"
#include "platform/large_buffer.h"

namespace parlotrim {

namespace {

constexpr QByteArrayView kCrLf("\r\n");
constexpr QByteArrayView kStrongOpen("<strong>");
constexpr QByteArrayView kStrongClose("</strong>");
constexpr QByteArrayView kBr("<br>\r\n");

// Whether line begins with prefix. Most lines differ in the first byte, which is tested here
// before the library compare is called: this runs for every line of the log.
bool BeginsWith(QByteArrayView line, QByteArrayView prefix) {
  if (prefix.isEmpty()) return true;
  return line.size() >= prefix.size() && line.front() == prefix.front() &&
         std::memcmp(line.data(), prefix.data(), size_t(prefix.size())) == 0;
}

// Puts one line through the separator rule, the emphasis and the blank rule, and calls
// visit(line, emphasised) when it is kept.
template <typename Visit>
void KeepLine(QByteArrayView line, const Module1& flags, const Emphasis* emphasis, Visit&& visit) {
  if (flags.LineDelete && IsSeparatorLine(line)) line = QByteArrayView(line.data(), 0);
  const bool strong = emphasis && emphasis->on && !line.isEmpty() && emphasis->keywordEncodable &&
                      BeginsWith(line, emphasis->keyword);
  if (flags.NullDelete && line.isEmpty()) return;
  visit(line, strong);
}

// Calls visit(line, emphasised) for every line of log that is kept, in file order.
template <typename Visit>
void ForEachKeptLine(QByteArrayView log, const Module1& flags, const Emphasis* emphasis,
                     Visit&& visit) {
  ForEachLine(log, [&](QByteArrayView line) { KeepLine(line, flags, emphasis, visit); });
}

}  // namespace

bool IsSeparatorLine(QByteArrayView line) {
  if (line.isEmpty()) return false;
  for (char c : line) {
    if (c != '-') return false;
  }
  return true;
}

QByteArray BuildWorkingText(QByteArrayView log, const Module1& flags) {
  QByteArray out;
  out.reserve(log.size() + 2);
  ForEachKeptLine(log, flags, nullptr, [&](QByteArrayView line, bool) {
    out.append(kCrLf);
    out.append(line);
  });
  return out;
}

QByteArray TakeWorkingText(QByteArray log, const Module1& flags) {
  // The kept lines are joined with CR LF towards the front of the buffer, then CR LF is put in
  // front of the whole. Joining never overtakes the reading while every
  // line so far ended in CR LF; at the first line for which it would (after lone CRs), the
  // rest goes on in a new buffer.
  char* const data = log.data();
  const char* const end = data + log.size();
  qsizetype at = 0;  // end of the joined text
  qsizetype kept = 0;
  QByteArray copy;
  bool copying = false;
  ForEachKeptLine(log, flags, nullptr, [&](QByteArrayView line, bool) {
    const qsizetype start = line.data() - data;
    if (!copying && kept > 0 && at + 2 > start) {
      copying = true;
      copy.reserve(2 + at + (end - line.data()) + 2);
      copy.append(kCrLf);
      copy.append(data, at);
    }
    if (copying) {
      copy.append(kCrLf);
      copy.append(line);
    } else {
      if (kept > 0) {
        data[at++] = '\r';
        data[at++] = '\n';
      }
      if (at != start) std::memmove(data + at, line.data(), static_cast<size_t>(line.size()));
      at += line.size();
    }
    ++kept;
  });
  if (copying) return copy;
  if (kept == 0) return QByteArray();
  // A buffer from FileStore::ReadAll has room for these two bytes in front of the data;
  // elsewhere the prepend moves the text.
  log.truncate(at);
  log.prepend(kCrLf);
  return log;
}

QByteArray BuildConvertedText(QByteArrayView log, const Module1& flags) {
  ReversedTextBuilder builder(flags, nullptr, log.size());
  builder.Feed(log);
  return builder.Finish();
}

QByteArray BuildHtmlBody(QByteArrayView log, const Module1& flags, const Emphasis& emphasis) {
  ReversedTextBuilder builder(flags, &emphasis, log.size());
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
// block's last byte is no such place: its LF may begin the next block.
qsizetype CutPoint(QByteArrayView block) {
  if (block.size() < kShareFrom) return 0;
  const char* const begin = block.data();
  const char* const end = begin + block.size();
  const char* middle = begin + block.size() / 2;
  const auto* cr = static_cast<const char*>(std::memchr(middle, '\r', size_t(end - middle)));
  if (!cr || cr + 1 == end) return 0;
  const char* next = cr + 1;
  if (*next == '\n') ++next;
  return next == end ? 0 : next - begin;
}

}  // namespace

// The helper thread: splits and builds one part of a block at a time, from a fresh start of a
// line, into its own text. The splitter it ends with carries what is left of the block over to
// the next one.
class ReversedTextBuilder::Helper {
 public:
  Helper(const Module1& flags, const Emphasis* emphasis)
      : text_(flags, emphasis), html_(emphasis != nullptr), thread_([this] { Run(); }) {}

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
  LineSplitter TakeSplitter() { return std::exchange(splitter_, LineSplitter()); }

 private:
  void Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [this] { return busy_ || quit_; });
      if (quit_) return;
      lock.unlock();
      try {
        text_.Reset(Room(part_.size(), html_));
        splitter_.Feed(part_, [this](QByteArrayView line) { text_.Add(line); });
      } catch (...) {
        failure_ = std::current_exception();
      }
      lock.lock();
      busy_ = false;
      changed_.notify_all();
    }
  }

  Backwards text_;
  LineSplitter splitter_;
  const bool html_;
  std::mutex mutex_;
  std::condition_variable changed_;
  QByteArrayView part_;
  bool busy_ = false, quit_ = false;
  std::exception_ptr failure_;
  std::thread thread_;  // last: it starts once the rest is ready
};

ReversedTextBuilder::ReversedTextBuilder(const Module1& flags, const Emphasis* emphasis,
                                         qint64 sizeHint)
    : flags_(flags), text_(flags_, emphasis) {
  text_.Reset(Room(sizeHint, emphasis != nullptr));
  if (sizeHint >= kHelperFrom) {
    try {
      helper_ = std::make_unique<Helper>(flags_, emphasis);
    } catch (const std::system_error&) {
      // No thread to be had: one does all the work.
    }
  }
}

ReversedTextBuilder::~ReversedTextBuilder() = default;

void ReversedTextBuilder::Feed(QByteArrayView block) {
  auto add = [this](QByteArrayView line) { text_.Add(line); };
  const qsizetype cut = helper_ ? CutPoint(block) : 0;
  if (cut == 0) {
    splitter_.Feed(block, add);
    return;
  }
  // The lines of the second part come first in the result: they are put in front of those of
  // the first part once both are built. The helper reads the block, so it must be done with it
  // before this returns, also when building the first part throws.
  helper_->Start(block.sliced(cut));
  std::exception_ptr failure;
  try {
    splitter_.Feed(block.first(cut), add);
  } catch (...) {
    failure = std::current_exception();
  }
  helper_->Wait();
  if (failure) std::rethrow_exception(failure);
  const QByteArrayView built = helper_->Built();
  if (!built.isEmpty()) std::memcpy(text_.Claim(built.size()), built.data(), size_t(built.size()));
  splitter_ = helper_->TakeSplitter();
}

QByteArray ReversedTextBuilder::Finish() {
  splitter_.Finish([this](QByteArrayView line) { text_.Add(line); });
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

void ReversedTextBuilder::Backwards::Add(QByteArrayView line) {
  KeepLine(line, flags_, emphasis_, [this](QByteArrayView kept, bool strong) {
    auto put = [](char* at, QByteArrayView piece) {
      if (!piece.isEmpty()) std::memcpy(at, piece.data(), size_t(piece.size()));
      return at + piece.size();
    };
    if (!emphasis_) {
      char* at = Claim(kept.size() + 2);
      put(put(at, kept), kCrLf);
      return;
    }
    const qsizetype size =
        kept.size() + kBr.size() + (strong ? kStrongOpen.size() + kStrongClose.size() : 0);
    char* at = Claim(size);
    if (strong) at = put(at, kStrongOpen);
    at = put(at, kept);
    if (strong) at = put(at, kStrongClose);
    put(at, kBr);
  });
}

}  // namespace parlotrim
