#include "core/line_cleaning.h"

#include <cstring>

#include "core/line_reader.h"

namespace parlotrim {

namespace {

constexpr QByteArrayView kCrLf("\r\n");
constexpr QByteArrayView kStrongOpen("<strong>");
constexpr QByteArrayView kStrongClose("</strong>");
constexpr QByteArrayView kBr("<br>\r\n");

// Calls visit(line, emphasised) for every line that survives the cleaning, in file order.
template <typename Visit>
void ForEachKeptLine(QByteArrayView log, const Module1& flags, const Emphasis* emphasis,
                     Visit&& visit) {
  ForEachLine(log, [&](QByteArrayView line) {
    if (flags.LineDelete && IsSeparatorLine(line)) line = QByteArrayView(line.data(), 0);
    const bool strong = emphasis && emphasis->on && !line.isEmpty() && emphasis->keywordEncodable &&
                        line.startsWith(emphasis->keyword);
    if (flags.NullDelete && line.isEmpty()) return;
    visit(line, strong);
  });
}

// Copies pieces into out at *at and moves *at past them.
void Put(char* out, qsizetype* at, QByteArrayView piece) {
  if (piece.isEmpty()) return;
  std::memcpy(out + *at, piece.data(), static_cast<size_t>(piece.size()));
  *at += piece.size();
}

// Builds the text whose pieces for one line are given by pieces(line, strong), in file order
// (reversed == false) or last line first (reversed == true). The log is scanned twice: once to
// size the result exactly, once to fill it, so no line index is kept in memory.
template <typename Pieces>
QByteArray Assemble(QByteArrayView log, const Module1& flags, const Emphasis* emphasis,
                    bool reversed, Pieces&& pieces) {
  qsizetype total = 0;
  ForEachKeptLine(log, flags, emphasis, [&](QByteArrayView line, bool strong) {
    pieces(line, strong, [&](QByteArrayView piece) { total += piece.size(); });
  });
  QByteArray out(total, Qt::Uninitialized);
  char* const data = out.data();
  qsizetype end = total;  // reversed: the next line goes just before end
  qsizetype at = 0;       // forward: the next line goes at at
  ForEachKeptLine(log, flags, emphasis, [&](QByteArrayView line, bool strong) {
    if (reversed) {
      qsizetype size = 0;
      pieces(line, strong, [&](QByteArrayView piece) { size += piece.size(); });
      end -= size;
      qsizetype put = end;
      pieces(line, strong, [&](QByteArrayView piece) { Put(data, &put, piece); });
    } else {
      pieces(line, strong, [&](QByteArrayView piece) { Put(data, &at, piece); });
    }
  });
  return out;
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
  return Assemble(log, flags, nullptr, false, [](QByteArrayView line, bool, auto&& put) {
    put(kCrLf);
    put(line);
  });
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
  return Assemble(log, flags, nullptr, true, [](QByteArrayView line, bool, auto&& put) {
    put(line);
    put(kCrLf);
  });
}

QByteArray BuildHtmlBody(QByteArrayView log, const Module1& flags, const Emphasis& emphasis) {
  return Assemble(log, flags, &emphasis, true, [](QByteArrayView line, bool strong, auto&& put) {
    if (strong) put(kStrongOpen);
    put(line);
    if (strong) put(kStrongClose);
    put(kBr);
  });
}

}  // namespace parlotrim
