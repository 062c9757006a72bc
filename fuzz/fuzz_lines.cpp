// libFuzzer target for the line reading and the line cleaning.
//
// Input layout (every field is optional; what is missing counts as zero):
//   byte 0        rules: bit 0 NullDelete, bit 1 LineDelete, bit 2 emphasis on,
//                 bit 3 keyword encodable, bit 4 the log is UTF-16 LE (split in 16-bit units)
//   byte 1        keyword length k (taken modulo 8), then k bytes of keyword
//   next byte     number of chunk sizes c (taken modulo 16), then c bytes, each one chunk size
//   the rest      the log; it is also fed to the chunked reader in chunks of the given sizes,
//                 whatever is left over going in one last chunk
//
// Properties checked on every input:
//   - the lines joined with the terminators found after them give back the log exactly;
//   - no line holds a CR, and every line end is CR LF or a lone CR (a lone LF stays in its line);
//     (these two for bytes; UTF-16 logs are checked against the model only)
//   - the chunked reader hands out the same lines as the whole-buffer reader;
//   - the working text (also when built in place), the converted text and the HTML body equal
//     those of a plain model;
//   - decoding for display yields at most one character per byte, and never the converter's
//     U+001A substitute for a byte that was not 0x1A.
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/line_cleaning.h"
#include "core/line_reader.h"
#include "core/log_codec.h"
#include "fuzz/reference_model.h"
#include "platform/code_page.h"

namespace {

using parlotrim::reference::Options;

void Require(bool condition) {
  if (!condition) std::abort();
}

struct Input {
  Options options;
  std::vector<size_t> chunks;
  std::string log;
};

Input Parse(const uint8_t* data, size_t size) {
  size_t at = 0;
  auto next = [&]() -> uint8_t { return at < size ? data[at++] : 0; };
  Input in;
  const uint8_t rules = next();
  in.options.nullDelete = rules & 1;
  in.options.lineDelete = rules & 2;
  in.options.emphasis = rules & 4;
  in.options.keywordEncodable = rules & 8;
  in.options.units.width = rules & 16 ? 2 : 1;
  for (size_t k = next() % 8; k > 0 && at < size; --k) in.options.keyword += char(next());
  for (size_t c = next() % 16; c > 0 && at < size; --c) in.chunks.push_back(next());
  if (at < size) in.log.assign(reinterpret_cast<const char*>(data) + at, size - at);
  return in;
}

// Whole-buffer reading of bytes: the lines, in order, are views into the log; the bytes between
// one line and the next are its terminator.
void CheckByteLines(const std::string& log) {
  const QByteArrayView view(log.data(), qsizetype(log.size()));
  std::vector<std::string> lines;
  std::string joined;
  size_t cursor = 0;
  parlotrim::ForEachLine(view, [&](QByteArrayView line) {
    Require(line.data() == log.data() + cursor);
    Require(line.indexOf('\r') < 0);
    lines.emplace_back(line.data(), size_t(line.size()));
    joined.append(line.data(), size_t(line.size()));
    cursor += size_t(line.size());
    if (cursor < log.size()) {
      Require(log[cursor] == '\r');
      joined += '\r';
      ++cursor;
      if (cursor < log.size() && log[cursor] == '\n') {
        joined += '\n';
        ++cursor;
      }
    }
  });
  Require(cursor == log.size());
  Require(joined == log);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Input in = Parse(data, size);
  const std::string& log = in.log;
  const QByteArrayView view(log.data(), qsizetype(log.size()));

  const parlotrim::LogEncoding encoding =
      in.options.units.width == 2 ? parlotrim::LogEncoding::Utf16Le : parlotrim::LogEncoding::Ansi;
  if (encoding == parlotrim::LogEncoding::Ansi) CheckByteLines(log);

  const std::vector<parlotrim::reference::Line> model =
      parlotrim::reference::Split(log, in.options.units);
  parlotrim::WithUnits(encoding, [&](auto units) {
    using Units = decltype(units);
    std::vector<std::string> lines;
    parlotrim::ForEachLine<Units>(
        view, [&](QByteArrayView line) { lines.emplace_back(line.data(), size_t(line.size())); });
    Require(model.size() == lines.size());
    for (size_t i = 0; i < lines.size(); ++i) Require(model[i].text == lines[i]);

    // Chunked reading gives the same lines.
    std::vector<std::string> chunked;
    auto sink = [&](QByteArrayView line) {
      chunked.emplace_back(line.data(), size_t(line.size()));
    };
    parlotrim::BasicLineSplitter<Units> splitter;
    size_t from = 0;
    for (size_t chunk : in.chunks) {
      const size_t n = std::min(chunk, log.size() - from);
      splitter.Feed(view.sliced(qsizetype(from), qsizetype(n)), sink);
      from += n;
    }
    splitter.Feed(view.sliced(qsizetype(from)), sink);
    splitter.Finish(sink);
    Require(chunked == lines);
  });

  // The three texts built from the cleaned lines.
  parlotrim::Module1 flags;
  flags.NullDelete = in.options.nullDelete;
  flags.LineDelete = in.options.lineDelete;
  parlotrim::Emphasis emphasis;
  emphasis.on = in.options.emphasis;
  emphasis.keyword = QByteArray::fromStdString(in.options.keyword);
  emphasis.keywordEncodable = in.options.keywordEncodable;
  const parlotrim::LogFormat format{encoding, 0};
  const std::string working = parlotrim::reference::WorkingText(log, in.options);
  Require(parlotrim::BuildWorkingText(view, flags, format).toStdString() == working);
  // Built inside a copy of the log's own buffer, as the load does.
  Require(parlotrim::TakeWorkingText(QByteArray(log.data(), qsizetype(log.size())), flags, format)
              .toStdString() == working);
  Require(parlotrim::BuildConvertedText(view, flags, encoding).toStdString() ==
          parlotrim::reference::ConvertedText(log, in.options));
  Require(parlotrim::BuildHtmlBody(view, flags, emphasis, encoding).toStdString() ==
          parlotrim::reference::HtmlBody(log, in.options));

  // Display decoding.
  if (encoding == parlotrim::LogEncoding::Ansi) {
    const QString shown = parlotrim::DecodeCodePage(view);
    Require(shown.size() <= view.size());
    if (!view.contains('\x1a')) Require(!shown.contains(QChar(0x1a)));
  } else {
    const QString shown = parlotrim::DecodeLog(view, encoding);
    // One character a unit at most (and one for an odd last byte), no surrogate left alone.
    Require(shown.size() <= (view.size() + 1) / 2);
    for (qsizetype i = 0; i < shown.size(); ++i) {
      if (shown.at(i).isHighSurrogate())
        Require(i + 1 < shown.size() && shown.at(++i).isLowSurrogate());
      else
        Require(!shown.at(i).isLowSurrogate());
    }
  }
  return 0;
}
