// Splits a log into lines. A line ends at CR LF or at a lone CR; the terminator is not part of
// the line. A lone LF is an ordinary byte of its line. A last line without terminator is a
// line; a terminator at the very end makes no further empty line. Every byte value is kept.
#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <functional>

namespace parlotrim {

// Receives each line; the view is valid only during the call.
using LineSink = std::function<void(QByteArrayView line)>;

// Incremental splitter: input may arrive in chunks of any size, cut anywhere (also between the
// CR and the LF of a CR LF). Lines that lie whole inside one chunk are handed out without
// copying.
class LineSplitter {
 public:
  void Feed(QByteArrayView chunk, const LineSink& sink);
  // Ends the input: hands out a last line that had no terminator.
  void Finish(const LineSink& sink);

 private:
  QByteArray carry_;        // start of a line whose end has not arrived yet
  bool carryOpen_ = false;  // carry_ holds a started line (it may still be empty)
  bool skipLf_ = false;     // the previous chunk ended in CR: a leading LF belongs to it
};

// Splits a whole buffer; the views point into data.
void ForEachLine(QByteArrayView data, const LineSink& sink);

}  // namespace parlotrim
