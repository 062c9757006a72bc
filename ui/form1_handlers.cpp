// The start-up sequence and the click handlers of the window.
#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

#include "ui/colours.h"
#include "ui/file_list_box.h"
#include "ui/form1.h"
#include "ui/keyword_box.h"
#include "ui/product_information.h"
#include "ui/window_placement.h"
#include "ui/working_text_view.h"
#include "ui/wrapping_check_box.h"

namespace parlotrim {

namespace {

// The frame of the window as designed (3 pixels at the sides and bottom, 22 with the title
// bar at the top), for placing the window before the system has framed it.
constexpr QMargins kDesignedFrame(3, 22, 3, 3);

}  // namespace

void Form1::Form_Load() {
  logFolder_ = FolderWithSeparator(programFolder_);
  operations_ = std::make_unique<LogOperations>(*this, files_, logFolder_, module_);
  file1_ = std::make_unique<File1Handlers>(*this, *operations_);
  files_.FinishInterruptedRewrites(logFolder_);
  c_.File1->SetNames(files_.ListLogs(logFolder_));
  PlaceWindow();
  c_.Command1->setEnabled(false);
  c_.Command3->setEnabled(false);
  c_.Check1->setChecked(false);
  c_.Text3->setEnabled(false);
  c_.Text1->SetBytes(QByteArray());
  SetText2(NativeName());
  c_.Text3->setText(QString());
  c_.Label6->setText(QString());
}

void Form1::PlaceWindow() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->geometry();
  const QRect outer =
      frameGeometry() != geometry() ? frameGeometry() : geometry().marginsAdded(kDesignedFrame);
  const QPointF place = WindowPlaceTwips(static_cast<float>(area.width() * kTwipsPerPixel),
                                         static_cast<float>(area.height() * kTwipsPerPixel),
                                         static_cast<float>(outer.width() * kTwipsPerPixel),
                                         static_cast<float>(outer.height() * kTwipsPerPixel));
  move(area.topLeft() + QPoint(PixelsFromTwips(place.x()), PixelsFromTwips(place.y())));
}

void Form1::Check1_Click() {
  if (Check1Value() == 1) {
    c_.Text3->setEnabled(true);
    SetBackColour(c_.Text3, kSystemWindowColour);
  } else {
    c_.Text3->setText(QString());
    c_.Text3->setEnabled(false);
    SetBackColour(c_.Text3, kLightYellow);
  }
}

void Form1::Command1_Click() {
  operations_->Command1_Click();
}

void Form1::Command2_Click() {
  close();
}

void Form1::Command3_Click() {
  operations_->Command3_Click();
}

void Form1::Command4_Click() {
  MsgBox(ProductInformation(), vbOKOnly, kProductInformationTitle);
}

void Form1::Label4_Click() {
  MsgBox(ShortProductInformation(), vbOKOnly, kProductInformationTitle);
}

}  // namespace parlotrim
