// The window as it starts: controls, layout, colours, fonts, the log folder, the file list,
// the window's place, and the emphasis switch.
#include <QCheckBox>
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>

#include "form_fixture.h"
#include "ui/file_list_box.h"
#include "ui/keyword_box.h"
#include "ui/window_placement.h"
#include "ui/working_text_view.h"
#include "ui/wrapping_check_box.h"

using namespace parlotrim;
using parlotrim::testing::FormFixture;

namespace {

const QColor kLightYellow(255, 255, 192);
const QColor kWindow(192, 192, 255);
const QColor kBlue(0, 0, 255);

QColor Base(QWidget* w, QPalette::ColorGroup group = QPalette::Active) {
  return w->palette().color(group, QPalette::Base);
}

}  // namespace

class Form1StartupTest : public QObject {
  Q_OBJECT

 private slots:
  void startsWithNothingLoaded() {
    FormFixture f({{QStringLiteral("a.txt"), "x"}});
    QVERIFY(f.show());
    const Form1Controls& c = f.c();
    QCOMPARE(f.form().windowTitle(), QStringLiteral("パーロトリムParlotrim"));
    QCOMPARE(f.form().size(), QSize(906, 530));
    QCOMPARE(f.form().minimumSize(), f.form().maximumSize());
    QVERIFY(!c.Command1->isEnabled());
    QVERIFY(!c.Command3->isEnabled());
    QVERIFY(c.Command2->isEnabled());
    QVERIFY(c.Command4->isEnabled());
    QVERIFY(!c.Check1->isChecked());
    QVERIFY(!c.Text3->isEnabled());
    QVERIFY(c.Text3->text().isEmpty());
    QCOMPARE(Base(c.Text3, QPalette::Disabled), kLightYellow);
    QVERIFY(c.Text1->Bytes().isEmpty());
    QVERIFY(c.Text2->text().isEmpty());
    QVERIFY(c.Text2->isReadOnly());
    QVERIFY(c.Label6->text().isEmpty());
    QCOMPARE(c.File1->count(), 1);
    QVERIFY(c.File1->selectedItems().isEmpty());
    QVERIFY(f.form().File1FileName().isEmpty());
    QCOMPARE(QApplication::focusWidget(), c.File1);
    QCOMPARE(f.form().Flags().NullDelete, false);
    QCOMPARE(f.form().Flags().LineDelete, false);
    QCOMPARE(f.form().IgnoreFileClick(), 0);
    QVERIFY(f.form().windowIcon().availableSizes().contains(QSize(32, 32)));
  }

  void controlsSitWhereDesigned_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("box");
    QTest::addColumn<QString>("caption");
    // Labels may be taller than designed (never shorter), to fit a line of their font.
    QTest::newRow("Label2") << "Label2" << QRect(22, 10, 201, 33) << "Select Log File";
    QTest::newRow("File1") << "File1" << QRect(20, 28, 207, 90) << "";
    QTest::newRow("Command4") << "Command4" << QRect(254, 30, 143, 21) << "Product Information";
    QTest::newRow("Label1") << "Label1" << QRect(254, 56, 143, 19) << "HTML Option";
    QTest::newRow("Check1") << "Check1" << QRect(254, 74, 143, 29)
                            << "特定文字列で開始する行を強調する";
    QTest::newRow("Label4") << "Label4" << QRect(254, 104, 143, 21) << "Keyword";
    QTest::newRow("Text3") << "Text3" << QRect(252, 116, 143, 21) << "";
    QTest::newRow("Text2") << "Text2" << QRect(20, 118, 206, 21) << "";
    QTest::newRow("Label6") << "Label6" << QRect(318, 146, 79, 25) << "";
    QTest::newRow("Label3") << "Label3" << QRect(146, 156, 151, 19) << "Text Check Window";
    QTest::newRow("Text1") << "Text1" << QRect(8, 176, 875, 295) << "";
    QTest::newRow("Command1") << "Command1" << QRect(20, 478, 113, 25) << "Change and Save";
    QTest::newRow("Command3") << "Command3" << QRect(150, 478, 113, 25) << "HTML Save";
    QTest::newRow("Command2") << "Command2" << QRect(320, 478, 79, 25) << "Quit(F12)";
    QTest::newRow("Label7") << "Label7" << QRect(26, 510, 273, 13)
                            << "Shiftキー+Enterキーで、いっこ前に戻るよ。";
  }
  void controlsSitWhereDesigned() {
    QFETCH(QString, name);
    QFETCH(QRect, box);
    QFETCH(QString, caption);
    FormFixture f;
    auto* w = f.form().findChild<QWidget*>(name);
    QVERIFY(w);
    QCOMPARE(w->parentWidget(), &f.form());
    if (auto* label = qobject_cast<QLabel*>(w)) {
      QCOMPARE(w->geometry().topLeft(), box.topLeft());
      QCOMPARE(w->width(), box.width());
      QVERIFY(w->height() >= box.height());
      QVERIFY(w->geometry().bottom() < f.form().height());
      QCOMPARE(label->text(), caption);
      QVERIFY(label->alignment() & Qt::AlignTop);
      QCOMPARE(label->focusPolicy(), Qt::NoFocus);
    } else {
      QCOMPARE(w->geometry(), box);
    }
    if (auto* button = qobject_cast<QAbstractButton*>(w)) QCOMPARE(button->text(), caption);
  }

  void labelsLieBeneathControls() {
    FormFixture f;
    const QObjectList& children = f.form().children();
    const qsizetype label4 = children.indexOf(f.c().Label4);
    const qsizetype text3 = children.indexOf(f.c().Text3);
    QVERIFY(label4 >= 0 && label4 < text3);  // later children are drawn on top
  }

  void coloursAndFonts() {
    FormFixture f;
    const Form1Controls& c = f.c();
    QCOMPARE(f.form().palette().color(QPalette::Window), kWindow);
    QVERIFY(f.form().autoFillBackground());
    QCOMPARE(c.Check1->palette().color(c.Check1->backgroundRole()), kWindow);
    QCOMPARE(Base(c.Text1), kLightYellow);
    QCOMPARE(Base(c.Text2), kLightYellow);
    for (QLabel* label : {c.Label1, c.Label2, c.Label3, c.Label4})
      QCOMPARE(label->palette().color(QPalette::WindowText), kBlue);
    for (QLabel* label : {c.Label1, c.Label2, c.Label3, c.Label6}) {
      QCOMPARE(label->font().pointSizeF(), 12.0);
      QCOMPARE(label->font().weight(), QFont::Bold);
    }
    QCOMPARE(c.Label4->font().pointSizeF(), 9.75);
    QCOMPARE(c.Label4->font().weight(), QFont::Bold);
    QCOMPARE(c.Label6->frameShape(), QFrame::Box);
    QVERIFY(c.Label6->alignment() & Qt::AlignHCenter);
    QCOMPARE(c.Label3->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignLeft);
    // The caption face holds Japanese (the set-up installs one), so no glyph is borrowed.
    const QString family = QFontInfo(c.Label1->font()).family();
    QVERIFY2(QFontDatabase::writingSystems(family).contains(QFontDatabase::Japanese),
             qPrintable(family));
  }

  void tabOrderFollowsTheDesign() {
    FormFixture f;
    const Form1Controls& c = f.c();
    const QList<QWidget*> order = {c.File1,    c.Text2,    c.Text1,  c.Command1, c.Command3,
                                   c.Command2, c.Command4, c.Check1, c.Text3};
    for (qsizetype i = 1; i < order.size(); ++i) {
      QWidget* next = order[i - 1]->nextInFocusChain();
      while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
      QCOMPARE(next->objectName(), order[i]->objectName());
    }
  }

  void logFolderEndsWithOneSeparator_data() {
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("logFolder");
    const QString s = QDir::separator();
    QTest::newRow("ordinary folder")
        << "/opt/parlotrim" << QDir::toNativeSeparators("/opt/parlotrim") + s;
    QTest::newRow("root") << "/" << QDir::toNativeSeparators("/");
    QTest::newRow("already ends with separator")
        << "/opt/x/" << QDir::toNativeSeparators("/opt/x/");
  }
  void logFolderEndsWithOneSeparator() {
    QFETCH(QString, folder);
    QFETCH(QString, logFolder);
    QCOMPARE(FolderWithSeparator(folder), logFolder);
  }

  void formTakesItsFolder() {
    FormFixture f;
    QCOMPARE(f.form().LogFolder(), QDir::toNativeSeparators(f.folder()));
  }

  void listsTxtFilesOfAnyCaseSortedByName() {
    FormFixture f({{"b.txt", ""},
                   {"A.TXT", ""},
                   {"e.Txt", ""},
                   {"c.txt.bak", ""},
                   {"d.log", ""},
                   {"txt", ""},
                   {"ログ 1.txt", ""}});
    QDir(f.folder()).mkdir(QStringLiteral("dir.txt"));
    FileListBox list;
    list.SetFolder(f.folder());
    QStringList names;
    for (int i = 0; i < list.count(); ++i) names << list.item(i)->text();
    QCOMPARE(names, (QStringList{"A.TXT", "b.txt", "e.Txt", "ログ 1.txt"}));
    QVERIFY(list.FileName().isEmpty());
  }

  void emptyFolderStartsNormally() {
    FormFixture f;
    QVERIFY(f.show());
    QCOMPARE(f.c().File1->count(), 0);
    QCOMPARE(QApplication::focusWidget(), f.c().File1);
  }

  void placementFormula_data() {
    QTest::addColumn<float>("screenW");
    QTest::addColumn<float>("screenH");
    QTest::addColumn<float>("windowW");
    QTest::addColumn<float>("windowH");
    QTest::addColumn<QPointF>("place");
    QTest::newRow("1024x768") << 15360.f << 11520.f << 13680.f << 8325.f << QPointF(840, 1397.5);
    QTest::newRow("taller than the screen")
        << 15360.f << 6000.f << 13680.f << 8325.f << QPointF(840, -1362.5);
    QTest::newRow("wider than the screen")
        << 12000.f << 9000.f << 13680.f << 8325.f << QPointF(-840, 137.5);
  }
  void placementFormula() {
    QFETCH(float, screenW);
    QFETCH(float, screenH);
    QFETCH(float, windowW);
    QFETCH(float, windowH);
    QFETCH(QPointF, place);
    QCOMPARE(WindowPlaceTwips(screenW, screenH, windowW, windowH), place);
  }

  void windowIsPlacedWithoutClamping() {
    // The offscreen screen is 800 x 600: narrower than the framed window.
    FormFixture f;
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const int outerW = (906 + 6) * 15, outerH = (530 + 25) * 15;
    const QPointF twips =
        WindowPlaceTwips(screen.width() * 15.f, screen.height() * 15.f, outerW, outerH);
    const QPoint expected =
        screen.topLeft() + QPoint(PixelsFromTwips(twips.x()), PixelsFromTwips(twips.y()));
    QCOMPARE(f.form().pos(), expected);
    if (screen.width() < 912) QVERIFY(f.form().x() < screen.left());
  }

  void emphasisSwitchOnOffOn() {
    FormFixture f;
    QVERIFY(f.show());
    const Form1Controls& c = f.c();
    QWidget* focus = QApplication::focusWidget();
    const QColor system = QApplication::palette().color(QPalette::Base);

    c.Check1->setChecked(true);
    QVERIFY(c.Text3->isEnabled());
    QCOMPARE(Base(c.Text3), system);
    QCOMPARE(QApplication::focusWidget(), focus);
    c.Text3->insert(QStringLiteral("連絡"));  // as an input method commits it
    QCOMPARE(f.form().Text3(), QStringLiteral("連絡"));

    c.Check1->setChecked(false);
    QVERIFY(!c.Text3->isEnabled());
    QVERIFY(c.Text3->text().isEmpty());
    QCOMPARE(Base(c.Text3, QPalette::Disabled), kLightYellow);
    QCOMPARE(f.form().Check1Value(), 0);

    QTest::mouseClick(c.Check1, Qt::LeftButton, {}, QPoint(5, c.Check1->height() / 2));
    QCOMPARE(f.form().Check1Value(), 1);
    QVERIFY(c.Text3->isEnabled());
    QVERIFY(c.Text3->text().isEmpty());  // the keyword is gone for good
    QCOMPARE(Base(c.Text3), system);
  }

  void wrappedCaptionTakesClicks() {
    FormFixture f;
    QVERIFY(f.show());
    // A click on the second line of the caption, at the right edge, still ticks the box.
    auto* check = f.c().Check1;
    QTest::mouseClick(check, Qt::LeftButton, {}, QPoint(check->width() - 3, check->height() - 3));
    QVERIFY(check->isChecked());
  }
};

QTEST_MAIN(Form1StartupTest)
#include "form1_startup_test.moc"
