#include "ui/wrapping_check_box.h"

#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

namespace parlotrim {

WrappingCheckBox::WrappingCheckBox(const QString& text, QWidget* parent)
    : QCheckBox(text, parent) {}

QRect WrappingCheckBox::CaptionRect() const {
  QStyleOptionButton option;
  initStyleOption(&option);
  const int indicator = style()->pixelMetric(QStyle::PM_IndicatorWidth, &option, this);
  const int spacing = style()->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, &option, this);
  return rect().adjusted(indicator + spacing, 0, 0, 0);
}

void WrappingCheckBox::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  const QString caption = option.text;
  option.text.clear();
  option.state &= ~QStyle::State_HasFocus;
  painter.drawControl(QStyle::CE_CheckBox, option);

  const QRect captionRect = CaptionRect();
  const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;
  painter.drawItemText(captionRect, flags, palette(), isEnabled(), caption, QPalette::WindowText);
  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = painter.boundingRect(captionRect, flags, caption).adjusted(-1, 0, 1, 0);
    painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
  }
}

bool WrappingCheckBox::hitButton(const QPoint& pos) const {
  return rect().contains(pos);
}

}  // namespace parlotrim
