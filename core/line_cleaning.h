// The one rule of the program for blank and separator lines, and the three texts built from a
// cleaned log: the working text of a load, the converted text of Change and Save and the body
// block of HTML Save.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <memory>
#include <variant>

#include "core/line_reader.h"
#include "core/log_encoding.h"
#include "core/module1.h"

namespace parlotrim {

class LineIndex;

// The texts below are in the log's code units: CR LF, "<br>" and the emphasis are written in
// them. Their input is the log without its byte order mark, except for the working text of a
// load, which is given the whole file and its format.

// Working text of a load: CR LF before each kept line, in file order.
QByteArray BuildWorkingText(QByteArrayView log, const Module1& flags, const LogFormat& format = {});

// The same, built inside the log's own buffer where it fits (the usual case: CR LF line ends),
// which saves a second buffer of the log's size; otherwise copied as above. A large log is
// joined on two threads. index, when given, gets the index of the text's lines, noted as they
// are joined.
QByteArray TakeWorkingText(QByteArray log, const Module1& flags, const LogFormat& format = {},
                           LineIndex* index = nullptr);

// Converted text of Change and Save: each kept line followed by CR LF, last line first.
QByteArray BuildConvertedText(QByteArrayView log, const Module1& flags,
                              LogEncoding encoding = LogEncoding::Ansi);

// CR LF in the code units of an encoding.
QByteArrayView LineEnd(LogEncoding encoding);

// Emphasis of HTML Save: when set, a non-empty line that begins with keyword is wrapped in
// <strong></strong>. An empty keyword begins every line.
struct Emphasis {
  bool on = false;
  QByteArray keyword;            // in the log's encoding
  bool keywordEncodable = true;  // false: the keyword matches no line at all
};

// Body block of HTML Save: each kept line (emphasised where it applies) followed by "<br>" and
// CR LF, last line first. The separator rule runs before the emphasis, the blank rule after.
QByteArray BuildHtmlBody(QByteArrayView log, const Module1& flags, const Emphasis& emphasis,
                         LogEncoding encoding = LogEncoding::Ansi);

// Builds the converted text (no emphasis given) or the HTML body block (emphasis given) from a
// log that arrives in blocks, as it is read: each kept line goes straight to its place from the
// back of the result, so the log itself is never held whole. A large log is built on two
// threads: the second half of each block on a helper thread, into a small buffer of its own.
class ReversedTextBuilder {
 public:
  // sizeHint: the log's size, if known; the result is sized from it and grows if needed. The
  // blocks are the log's bytes after its byte order mark, split in the encoding's code units.
  ReversedTextBuilder(const Module1& flags, const Emphasis* emphasis, qint64 sizeHint,
                      LogEncoding encoding = LogEncoding::Ansi);
  ~ReversedTextBuilder();
  ReversedTextBuilder(const ReversedTextBuilder&) = delete;
  ReversedTextBuilder& operator=(const ReversedTextBuilder&) = delete;

  void Feed(QByteArrayView block);
  QByteArray Finish();

 private:
  // Text built from the back of a buffer, kept line by line.
  class Backwards {
   public:
    Backwards(const Module1& flags, const Emphasis* emphasis)
        : flags_(flags), emphasis_(emphasis) {}
    // Makes room for size bytes (growing later if they do not fit) and forgets what was built.
    void Reset(qsizetype size);
    template <typename Units>
    void Add(QByteArrayView line);
    // Room for n more bytes in front of the text built so far; returns where they go.
    char* Claim(qsizetype n);
    QByteArrayView Built() const { return QByteArrayView(out_).sliced(free_); }
    QByteArray Take();

   private:
    const Module1& flags_;
    const Emphasis* const emphasis_;
    QByteArray out_;
    qsizetype free_ = 0;  // out_[free_, size) holds the text built so far
  };
  class Helper;
  using Splitter = std::variant<BasicLineSplitter<ByteUnits>, BasicLineSplitter<Utf16LeUnits>,
                                BasicLineSplitter<Utf16BeUnits>>;
  static Splitter MakeSplitter(LogEncoding encoding);
  template <typename Units>
  void FeedIn(BasicLineSplitter<Units>& splitter, QByteArrayView block);

  const Module1 flags_;
  Splitter splitter_;
  qint64 fed_ = 0;  // bytes fed so far: where the code units of a block begin
  Backwards text_;
  std::unique_ptr<Helper> helper_;  // only for a large log
};

}  // namespace parlotrim
