#include "ui/working_text_view.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <new>
#include <system_error>
#include <utility>

#include "core/log_codec.h"
#include "platform/large_buffer.h"
#include "ui/line_display.h"
#include "ui/line_painter.h"

namespace parlotrim {

namespace {

constexpr int kMargin = 3;  // pixels between the frame and the text
// From this size on a text is indexed on another thread (a few milliseconds per 4 MiB).
constexpr qsizetype kIndexAsideBytes = qsizetype(4) << 20;

}  // namespace

WorkingTextView::WorkingTextView(QWidget* parent) : QAbstractScrollArea(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewport()->setBackgroundRole(QPalette::Base);
  viewport()->setAutoFillBackground(true);
  viewport()->setCursor(Qt::IBeamCursor);
  UpdateScrollBars();
}

void WorkingTextView::SetBytes(QByteArray bytes, LogEncoding encoding) {
  Replace(std::move(bytes), encoding);
  bool indexed = true;
  if (bytes_.size() >= kIndexAsideBytes) {
    try {
      // The thread holds its own reference to the bytes, which nobody changes.
      pendingIndex_ = std::async(std::launch::async,
                                 [text = bytes_, encoding] { return LineIndex(text, encoding); });
      QMetaObject::invokeMethod(this, &WorkingTextView::FitToText, Qt::QueuedConnection);
      indexed = false;
    } catch (const std::system_error&) {
      // No thread to be had: indexed here.
    }
  }
  if (indexed) {
    index_.Build(bytes_, encoding_);
    FitToText();
  }
  ShowFromTop();
}

void WorkingTextView::SetIndexedBytes(QByteArray bytes, LogEncoding encoding, LineIndex index) {
  Replace(std::move(bytes), encoding);
  index_ = std::move(index);
  FitToText();
  ShowFromTop();
}

void WorkingTextView::Replace(QByteArray bytes, LogEncoding encoding) {
  pendingIndex_ = std::future<LineIndex>();  // the index thread lets go of the old text
  index_ = LineIndex();
  QByteArray old = std::exchange(bytes_, std::move(bytes));
  encoding_ = encoding;
  // Emptied before a new text is built: the new one may be built in the memory of this one.
  // Replaced by a new text, it goes, with any memory kept from before.
  if (bytes_.isEmpty())
    KeepLargeBuffer(std::move(old));
  else
    ReleaseLargeBuffer();
  allSelected_ = false;
}

void WorkingTextView::ShowFromTop() {
  verticalScrollBar()->setValue(0);
  horizontalScrollBar()->setValue(0);
  viewport()->update();
}

const LineIndex& WorkingTextView::Index() const {
  if (pendingIndex_.valid()) {
    try {
      index_ = pendingIndex_.get();
    } catch (const std::bad_alloc&) {
      // Too little memory for the index (a small part of the text's size): the text is not
      // shown, which is safe; the file operation that made it is done.
      index_ = LineIndex();
    }
  }
  return index_;
}

void WorkingTextView::FitToText() {
  MeasureWidest();
  UpdateScrollBars();
}

qsizetype WorkingTextView::TopLine() const {
  return verticalScrollBar()->value();
}

void WorkingTextView::SelectAll() {
  allSelected_ = true;
  viewport()->update();
}

void WorkingTextView::Copy() const {
  if (!allSelected_) return;
  QGuiApplication::clipboard()->setText(DecodeLog(bytes_, encoding_));
}

int WorkingTextView::LineHeight() const {
  return LinePainter(font()).LineHeight();
}

int WorkingTextView::FullyVisibleLines() const {
  return std::max(1, (viewport()->height() - kMargin) / LineHeight());
}

void WorkingTextView::MeasureWidest() {
  // The line with the most bytes is, in a double-byte code page, about the widest one; lines
  // found wider while drawing widen the range further.
  const LineIndex& index = Index();
  const QString longest = LineForDisplay(index.Line(bytes_, index.LongestLine()), encoding_);
  widest_ = LinePainter(font()).Width(longest);
}

void WorkingTextView::UpdateScrollBars() {
  const int visible = FullyVisibleLines();
  const qsizetype lines = Index().LineCount();
  QScrollBar* v = verticalScrollBar();
  v->setRange(0, static_cast<int>(std::max<qsizetype>(0, lines - visible)));
  v->setPageStep(visible);
  v->setSingleStep(1);
  QScrollBar* h = horizontalScrollBar();
  const int contentWidth = widest_ + 2 * kMargin;
  h->setRange(0, std::max(0, contentWidth - viewport()->width()));
  h->setPageStep(std::max(1, viewport()->width()));
  h->setSingleStep(std::max(1, fontMetrics().averageCharWidth() * 2));
}

void WorkingTextView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const LinePainter lines(font());
  const int lineHeight = lines.LineHeight();
  const int x = kMargin - horizontalScrollBar()->value();
  const qsizetype first = TopLine();
  const LineIndex& index = Index();
  const qsizetype last = std::min(index.LineCount(), first + viewport()->height() / lineHeight + 2);
  const QPalette& pal = palette();
  painter.setPen(pal.color(allSelected_ ? QPalette::HighlightedText : QPalette::Text));
  int widest = widest_;
  for (qsizetype n = first; n < last; ++n) {
    const int top = kMargin + static_cast<int>(n - first) * lineHeight;
    const QString text = LineForDisplay(index.Line(bytes_, n), encoding_);
    const int width = lines.Width(text);
    widest = std::max(widest, width);
    if (allSelected_) {
      // Empty lines show a sliver of selection so that they read as selected too.
      const int shown = std::max(width, fontMetrics().averageCharWidth());
      painter.fillRect(x, top, shown, lineHeight, pal.color(QPalette::Highlight));
    }
    lines.Draw(painter, x, top, text);
  }
  if (widest > widest_) {
    widest_ = widest;
    QMetaObject::invokeMethod(this, &WorkingTextView::UpdateScrollBars, Qt::QueuedConnection);
  }
}

void WorkingTextView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void WorkingTextView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) FitToText();
}

void WorkingTextView::scrollContentsBy(int, int) {
  viewport()->update();
}

void WorkingTextView::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::SelectAll)) {
    SelectAll();
    return;
  }
  if (event->matches(QKeySequence::Copy)) {
    Copy();
    return;
  }
  QScrollBar* v = verticalScrollBar();
  QScrollBar* h = horizontalScrollBar();
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  switch (event->key()) {
    case Qt::Key_Up:
      v->triggerAction(QAbstractSlider::SliderSingleStepSub);
      break;
    case Qt::Key_Down:
      v->triggerAction(QAbstractSlider::SliderSingleStepAdd);
      break;
    case Qt::Key_PageUp:
      v->triggerAction(QAbstractSlider::SliderPageStepSub);
      break;
    case Qt::Key_PageDown:
      v->triggerAction(QAbstractSlider::SliderPageStepAdd);
      break;
    case Qt::Key_Left:
      h->triggerAction(QAbstractSlider::SliderSingleStepSub);
      break;
    case Qt::Key_Right:
      h->triggerAction(QAbstractSlider::SliderSingleStepAdd);
      break;
    case Qt::Key_Home:
      (ctrl ? v : h)->triggerAction(QAbstractSlider::SliderToMinimum);
      break;
    case Qt::Key_End:
      (ctrl ? v : h)->triggerAction(QAbstractSlider::SliderToMaximum);
      break;
    default:
      QAbstractScrollArea::keyPressEvent(event);
  }
}

}  // namespace parlotrim
