#include "core/line_cleaning.h"

#include <cstring>

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
  // A buffer from DiskFileStore::ReadAll has room for these two bytes in front of the data;
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

ReversedTextBuilder::ReversedTextBuilder(const Module1& flags, const Emphasis* emphasis,
                                         qint64 sizeHint)
    : flags_(flags), emphasis_(emphasis) {
  // A log with CR LF line ends converts to its own size (plus one line end where the last
  // line has none); the HTML body adds "<br>" to every line and may emphasise some. Room that
  // is never written costs address space only, not memory.
  const qint64 hint = qMax<qint64>(sizeHint, 0);
  const qint64 room = emphasis ? hint + hint / 2 : hint + hint / 16;
  out_ = QByteArray(qsizetype(room + 64), Qt::Uninitialized);
  PreferHugePages(out_.data(), out_.size());
  free_ = out_.size();
}

void ReversedTextBuilder::Feed(QByteArrayView block) {
  splitter_.Feed(block, [this](QByteArrayView line) { Add(line); });
}

QByteArray ReversedTextBuilder::Finish() {
  splitter_.Finish([this](QByteArrayView line) { Add(line); });
  out_.remove(0, free_);  // moves the start of the text, not its bytes
  free_ = 0;
  return std::move(out_);
}

char* ReversedTextBuilder::Claim(qsizetype n) {
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

void ReversedTextBuilder::Add(QByteArrayView line) {
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
