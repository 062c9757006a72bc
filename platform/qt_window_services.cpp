#include "platform/qt_window_services.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

namespace parlotrim {

QtWindowServices::~QtWindowServices() {
  if (busy_) QGuiApplication::restoreOverrideCursor();
}

int QtWindowServices::MsgBox(QWidget* parent, const QString& prompt, int buttons,
                             const QString& title) {
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
