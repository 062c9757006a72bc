#include "platform/qt_window_services.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace parlotrim {

QtWindowServices::~QtWindowServices() {
  if (busy_) QGuiApplication::restoreOverrideCursor();
}

namespace {

// Hands the keyboard back to the window a closed box belonged to, and in it to the control that
// had it. A window manager would activate the window again; without one (a bare X server) the
// keyboard focus stays nowhere and the next key is lost. The control gets it back as focus that
// returns with the window, not as a new focus.
void GiveKeysBack(QWidget* window, QWidget* focus) {
  if (!window || !window->isVisible()) return;
  window->activateWindow();
  if (focus && focus->window() == window) focus->setFocus(Qt::ActiveWindowFocusReason);
}

}  // namespace

int QtWindowServices::MsgBox(QWidget* parent, const QString& prompt, int buttons,
                             const QString& title) {
  // A box without a parent takes the keyboard from the window that has it.
  const QPointer<QWidget> window = parent ? parent->window() : QApplication::activeWindow();
  const QPointer<QWidget> focus = window ? window->focusWidget() : nullptr;
  QMessageBox box(parent);
  box.setIcon(QMessageBox::NoIcon);
  box.setWindowTitle(title);
  // Prompts are plain text (file names may hold '<' or '&'); CR LF separates their lines.
  box.setTextFormat(Qt::PlainText);
  QString text = prompt;
  text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
  box.setText(text);
  QPushButton* ok = box.addButton(QMessageBox::Ok);
  if (buttons == vbOKCancel) {
    QPushButton* cancel = box.addButton(QMessageBox::Cancel);
    box.setEscapeButton(cancel);
  } else {
    box.setEscapeButton(ok);
  }
  box.setDefaultButton(ok);
  box.exec();
  GiveKeysBack(window, focus);
  return box.clickedButton() == ok ? vbOK : vbCancel;
}

void QtWindowServices::Beep() {
  QApplication::beep();
}

void QtWindowServices::SetMousePointer(int code) {
  const bool busy = code == vbHourglass;
  if (busy == busy_) return;
  busy_ = busy;
  if (busy)
    QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
  else
    QGuiApplication::restoreOverrideCursor();
}

}  // namespace parlotrim
