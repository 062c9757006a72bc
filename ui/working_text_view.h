// The text window: a read-only view over the working text's bytes. Only the lines on screen
// are decoded and drawn, so showing a text of any size costs one pass of memchr over it. Lines
// are never wrapped; both scroll bars are always there. Ctrl+A selects the whole text and
// Ctrl+C copies it.
#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <future>

#include "core/line_index.h"
#include "core/log_encoding.h"

namespace parlotrim {

class WorkingTextView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit WorkingTextView(QWidget* parent = nullptr);

  // Shows new bytes (CR LF between lines, in the encoding's code units) from the first line and
  // the left edge. A large text is indexed on another thread, so that the caller can go on
  // (write the text to disk) in the meantime; the view waits for the index when it first
  // needs it.
  void SetBytes(QByteArray bytes, LogEncoding encoding = LogEncoding::Ansi);
  // The same, with the index of the bytes' lines made already.
  void SetIndexedBytes(QByteArray bytes, LogEncoding encoding, LineIndex index);
  const QByteArray& Bytes() const { return bytes_; }
  qsizetype LineCount() const { return Index().LineCount(); }
  // The first line on screen.
  qsizetype TopLine() const;
  bool AllSelected() const { return allSelected_; }

  void SelectAll();
  // Puts the selection (the whole text, when selected) on the clipboard.
  void Copy() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void changeEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  // Replaces the text; the index is to be set.
  void Replace(QByteArray bytes, LogEncoding encoding);
  // Shows the new text from the top.
  void ShowFromTop();
  const LineIndex& Index() const;
  // Scroll bars and widest line for the text now shown.
  void FitToText();
  int LineHeight() const;
  int FullyVisibleLines() const;
  void MeasureWidest();
  void UpdateScrollBars();

  QByteArray bytes_;
  LogEncoding encoding_ = LogEncoding::Ansi;
  mutable LineIndex index_;
  mutable std::future<LineIndex> pendingIndex_;  // the index of bytes_ while it is being built
  int widest_ = 0;                               // pixels: the widest line measured so far
  bool allSelected_ = false;
};

}  // namespace parlotrim
