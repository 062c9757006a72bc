#include <QApplication>
#include <QFontMetrics>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/colours.h"
#include "ui/file_list_box.h"
#include "ui/fonts.h"
#include "ui/form1_controls.h"
#include "ui/keyword_box.h"
#include "ui/window_placement.h"
#include "ui/working_text_view.h"
#include "ui/wrapping_check_box.h"

namespace parlotrim {

namespace {

constexpr int kClientWidth = 13590;
constexpr int kClientHeight = 7950;
constexpr qreal kTitlePoints = 12.0;
constexpr qreal kKeywordPoints = 9.75;

struct Box {
  int left, top, width, height;  // twips
};

void Place(QWidget* control, const char* name, Box box) {
  control->setObjectName(QLatin1String(name));
  control->setGeometry(Px(box.left), Px(box.top), Px(box.width), Px(box.height));
}

void SetTextColour(QWidget* control, quint32 colour) {
  QPalette palette = control->palette();
  palette.setColor(QPalette::WindowText, ColourFromBgr(colour));
  control->setPalette(palette);
}

enum class Align { Centre, Left };

// Labels draw their caption from the top of their box, never centred up and down; one that is
// lower than a line of its font grows downwards so that the caption is not cut.
QLabel* MakeLabel(QWidget* form, const char* name, const QString& caption, Box box, Align align) {
  auto* label = new QLabel(caption, form);
  label->setTextFormat(Qt::PlainText);
  label->setWordWrap(true);
  label->setAlignment((align == Align::Centre ? Qt::AlignHCenter : Qt::AlignLeft) | Qt::AlignTop);
  Place(label, name, box);
  return label;
}

// A label keeps at least one whole line of its font. A caption of one line that is wider than
// its box in the face at hand (the faces standing in for the Windows one differ in width) grows
// the box sideways, from its aligned edge, rather than wrapping its last word out of sight.
void FitLabel(QLabel* label) {
  const QFontMetrics metrics = label->fontMetrics();
  const int frame = 2 * label->frameWidth();
  const int needed = metrics.height() + frame;
  if (label->height() < needed) label->resize(label->width(), needed);
  const int wide = metrics.horizontalAdvance(label->text()) + frame + 1;
  if (label->height() < 2 * metrics.lineSpacing() && wide > label->width()) {
    const int grow = wide - label->width();
    const bool centred = label->alignment() & Qt::AlignHCenter;
    label->setGeometry(label->x() - (centred ? grow / 2 : 0), label->y(), wide, label->height());
  }
}

QLabel* MakeTitleLabel(QWidget* form, const char* name, const QString& caption, Box box,
                       Align align, qreal points) {
  QLabel* label = MakeLabel(form, name, caption, box, align);
  label->setFont(TitleFont(points));
  SetTextColour(label, kBlueText);
  return label;
}

QPushButton* MakeButton(QWidget* form, const char* name, const QString& caption, Box box) {
  auto* button = new QPushButton(caption, form);
  button->setAutoDefault(false);
  Place(button, name, box);
  return button;
}

QLineEdit* MakeTextBox(QLineEdit* box, const char* name, Box place) {
  Place(box, name, place);
  SetBackColour(box, kLightYellow);
  return box;
}

}  // namespace

void SetBackColour(QWidget* control, unsigned int colour) {
  QPalette palette = control->palette();
  palette.setColor(QPalette::Base, ColourFromBgr(colour));
  control->setPalette(palette);
}

Form1Controls BuildForm1Controls(QWidget* form) {
  form->setObjectName(QStringLiteral("Form1"));
  form->setWindowTitle(QStringLiteral("パーロトリムParlotrim"));
  form->setWindowIcon(QIcon(QStringLiteral(":/parlotrim/parlotrim.ico")));
  form->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
  form->setFixedSize(Px(kClientWidth), Px(kClientHeight));
  form->setFont(WithJapaneseFallback(QApplication::font()));
  QPalette palette = form->palette();
  palette.setColor(QPalette::Window, ColourFromBgr(kWindowColour));
  form->setPalette(palette);
  form->setAutoFillBackground(true);

  Form1Controls c;
  c.Label2 = MakeTitleLabel(form, "Label2", QStringLiteral("Select Log File"),
                            {330, 150, 3015, 495}, Align::Centre, kTitlePoints);
  c.File1 = new FileListBox(form);
  Place(c.File1, "File1", {300, 420, 3105, 1350});
  c.Command4 =
      MakeButton(form, "Command4", QStringLiteral("Product Information"), {3810, 450, 2145, 315});
  c.Label1 = MakeTitleLabel(form, "Label1", QStringLiteral("HTML Option"), {3810, 840, 2145, 285},
                            Align::Centre, kTitlePoints);
  c.Check1 = new WrappingCheckBox(QStringLiteral("特定文字列で開始する行を強調する"), form);
  Place(c.Check1, "Check1", {3810, 1110, 2145, 435});
  c.Check1->setBackgroundRole(QPalette::Window);
  c.Check1->setAutoFillBackground(true);
  c.Label4 = MakeTitleLabel(form, "Label4", QStringLiteral("Keyword"), {3810, 1560, 2145, 315},
                            Align::Centre, kKeywordPoints);
  c.Text3 = new KeywordBox(form);
  MakeTextBox(c.Text3, "Text3", {3780, 1740, 2145, 315});
  c.Text2 = MakeTextBox(new QLineEdit(form), "Text2", {300, 1770, 3090, 315});
  c.Text2->setReadOnly(true);
  c.Label6 = MakeLabel(form, "Label6", QString(), {4770, 2190, 1185, 375}, Align::Centre);
  c.Label6->setFont(TitleFont(kTitlePoints));
  // A plain frame would take the caption's colour; the status colour is for the caption only.
  c.Label6->setStyleSheet(QStringLiteral("QLabel { border: 1px solid black; }"));
  c.Label6->setWordWrap(false);
  c.Label3 = MakeTitleLabel(form, "Label3", QStringLiteral("Text Check Window"),
                            {2190, 2340, 2265, 285}, Align::Left, kTitlePoints);
  c.Text1 = new WorkingTextView(form);
  Place(c.Text1, "Text1", {120, 2640, 13125, 4425});
  SetBackColour(c.Text1, kLightYellow);
  c.Command1 =
      MakeButton(form, "Command1", QStringLiteral("Change and Save"), {300, 7170, 1695, 375});
  c.Command3 = MakeButton(form, "Command3", QStringLiteral("HTML Save"), {2250, 7170, 1695, 375});
  c.Command2 = MakeButton(form, "Command2", QStringLiteral("Quit(F12)"), {4800, 7170, 1185, 375});
  c.Label7 = MakeLabel(form, "Label7", QStringLiteral("Shiftキー+Enterキーで、いっこ前に戻るよ。"),
                       {390, 7650, 4095, 195}, Align::Left);

  // Labels lie beneath every other control, and take no focus.
  for (QLabel* label : {c.Label2, c.Label1, c.Label4, c.Label6, c.Label3, c.Label7}) {
    label->setFocusPolicy(Qt::NoFocus);
    FitLabel(label);
    label->lower();
  }

  QWidget* const tabOrder[] = {c.File1,    c.Text2,    c.Text1,  c.Command1, c.Command3,
                               c.Command2, c.Command4, c.Check1, c.Text3};
  for (size_t i = 1; i < std::size(tabOrder); ++i)
    QWidget::setTabOrder(tabOrder[i - 1], tabOrder[i]);
  return c;
}

}  // namespace parlotrim
