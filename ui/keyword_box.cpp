#include "ui/keyword_box.h"

#include <QFocusEvent>

namespace parlotrim {

KeywordBox::KeywordBox(QWidget* parent) : QLineEdit(parent) {}

void KeywordBox::focusInEvent(QFocusEvent* event) {
  QLineEdit::focusInEvent(event);
  switch (event->reason()) {
    case Qt::ActiveWindowFocusReason:
    case Qt::PopupFocusReason:
      break;
    case Qt::MouseFocusReason:
      focusByPress_ = true;
      break;
    default:
      emit GotFocus();
  }
}

void KeywordBox::mousePressEvent(QMouseEvent* event) {
  QLineEdit::mousePressEvent(event);
  if (focusByPress_) {
    focusByPress_ = false;
    emit GotFocus();
  }
}

}  // namespace parlotrim
