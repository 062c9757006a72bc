#include "ui/form1.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QShowEvent>

#include "platform/code_page.h"
#include "ui/colours.h"
#include "ui/file_list_box.h"
#include "ui/keyword_box.h"
#include "ui/working_text_view.h"
#include "ui/wrapping_check_box.h"

// The resources of a static library are registered by hand.
static void InitUiResources() {
  Q_INIT_RESOURCE(ui_resources);
}

namespace parlotrim {

Form1::Form1(WindowServices& services, FileStore& files, const NativeName& programFolder,
             QWidget* parent)
    : QWidget(parent), services_(services), files_(files), programFolder_(programFolder) {
  InitUiResources();
  c_ = BuildForm1Controls(this);
  Form_Load();
  ConnectControls();
  c_.File1->setFocus();
  // Key preview: the window sees every key before the control that has the focus.
  qApp->installEventFilter(this);
}

Form1::~Form1() {
  qApp->removeEventFilter(this);
}

void Form1::ConnectControls() {
  connect(c_.File1, &FileListBox::Clicked, this, [this] { file1_->File1_Click(); });
  connect(c_.Check1, &QCheckBox::toggled, this, &Form1::Check1_Click);
  connect(c_.Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
  connect(c_.Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
  connect(c_.Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
  connect(c_.Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
  connect(c_.Text3, &KeywordBox::GotFocus, this, &Form1::Text3_GotFocus);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
  switch (event->type()) {
    case QEvent::KeyPress: {
      auto* widget = qobject_cast<QWidget*>(watched);
      if (!widget || widget->window() != this) return false;
      // A key that no control took travels up to the window; it is handled once, where it
      // arrived first.
      QWidget* focus = QApplication::focusWidget();
      if (focus ? widget != focus : widget != this) return false;
      return DispatchKey(widget, static_cast<QKeyEvent*>(event));
    }
    case QEvent::FocusOut: {
      auto* widget = qobject_cast<QWidget*>(watched);
      if (widget && widget->window() == this) file1LostFocusLast_ = watched == c_.File1;
      return false;
    }
    case QEvent::FocusIn: {
      const auto reason = static_cast<QFocusEvent*>(event)->reason();
      // Focus that returns with the window (after a message box) to the control that had it is
      // no new focus. The window may come back with the focus somewhere else: the focus was
      // moved while the window was inactive, and the list gets it anew.
      const bool returns =
          (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) &&
          file1LostFocusLast_;
      if (watched == c_.File1 && !returns) file1_->File1_GotFocus();
      return false;
    }
    case QEvent::MouseButtonRelease:
      return DispatchMouseRelease(watched, static_cast<QMouseEvent*>(event));
    default:
      return false;
  }
}

int Form1::MsgBox(const QString& prompt, int buttons, const QString& title) {
  return services_.MsgBox(this, prompt, buttons, title);
}

void Form1::Beep() {
  services_.Beep();
}

void Form1::SetMousePointer(int code) {
  services_.SetMousePointer(code);
}

NativeName Form1::File1FileName() const {
  return c_.File1->FileName();
}

NativeName Form1::Text2() const {
  return text2Name_;
}

void Form1::SetText2(const NativeName& name) {
  text2Name_ = name;
  c_.Text2->setText(DecodeFileName(name));
  c_.Text2->repaint();
}

void Form1::SetText1(const QByteArray& workingText, LogEncoding encoding) {
  c_.Text1->SetBytes(workingText, encoding);
}

void Form1::SetIndexedText1(const QByteArray& workingText, LogEncoding encoding, LineIndex index) {
  c_.Text1->SetIndexedBytes(workingText, encoding, std::move(index));
}

int Form1::Check1Value() const {
  return c_.Check1->isChecked() ? 1 : 0;
}

QString Form1::Text3() const {
  return c_.Text3->text();
}

void Form1::SetLabel6(const QString& caption, quint32 colour) {
  c_.Label6->setText(caption);
  QPalette palette = c_.Label6->palette();
  palette.setColor(QPalette::WindowText, ColourFromBgr(colour));
  c_.Label6->setPalette(palette);
}

QWidget* Form1::Widget(Control control) const {
  switch (control) {
    case Control::File1:
      return c_.File1;
    case Control::Text2:
      return c_.Text2;
    case Control::Text1:
      return c_.Text1;
    case Control::Command1:
      return c_.Command1;
    case Control::Command3:
      return c_.Command3;
    case Control::Command2:
      return c_.Command2;
    case Control::Command4:
      return c_.Command4;
    case Control::Check1:
      return c_.Check1;
    case Control::Text3:
      return c_.Text3;
  }
  return nullptr;
}

void Form1::SetEnabled(Control control, bool enabled) {
  Widget(control)->setEnabled(enabled);
}

void Form1::SetFocus(Control control) {
  // The window takes the keys as well: after a message box, without a window manager, nothing
  // else gives them back.
  if (!isActiveWindow()) activateWindow();
  Widget(control)->setFocus(Qt::OtherFocusReason);
}

void Form1::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // A window manager would give a new window the keyboard; without one, the window takes it.
  if (!event->spontaneous()) activateWindow();
}

}  // namespace parlotrim
