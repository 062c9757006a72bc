// The file list on real key and mouse events: walking with the keyboard loads nothing, Enter
// and a click load, and a click after a key that changed nothing is swallowed once.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "form_fixture.h"
#include "ui/file_list_box.h"
#include "ui/wrapping_check_box.h"

using namespace parlotrim;
using parlotrim::testing::FormFixture;
using parlotrim::testing::Titles;

namespace {

const QStringList kAskBoth = {"Ask:Null Delete", "Ask:Line Delete"};

void ClickEntry(FileListBox* list, int row) {
  const QRect rect = list->visualItemRect(list->item(row));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
}

}  // namespace

class File1EventsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<FormFixture> f;
  FileListBox* list = nullptr;

 private slots:
  void init() {
    f.reset(new FormFixture({{"a.txt", "alpha"}, {"b.txt", "bravo"}, {"c.txt", "charlie"}}));
    QVERIFY(f->show());
    list = f->c().File1;
    QCOMPARE(QApplication::focusWidget(), list);
  }
  void cleanup() { f.reset(); }

  void keyboardWalkLoadsNothing() {
    QTest::keyClick(list, Qt::Key_Down);
    QCOMPARE(f->form().File1FileName(), QStringLiteral("a.txt"));  // from none to the first
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Up);
    QCOMPARE(f->form().File1FileName(), QStringLiteral("b.txt"));
    QTest::keyClick(list, Qt::Key_End);
    QTest::keyClick(list, Qt::Key_Home);
    QTest::keyClick(list, Qt::Key_C);  // type-ahead
    QCOMPARE(f->form().File1FileName(), QStringLiteral("c.txt"));
    QVERIFY(f->services.boxes.empty());
    QVERIFY(f->form().Text2().isEmpty());
    QCOMPARE(QApplication::focusWidget(), list);
  }

  void endFromNoSelectionSelectsTheLast() {
    QTest::keyClick(list, Qt::Key_End);
    QCOMPARE(f->form().File1FileName(), QStringLiteral("c.txt"));
    QVERIFY(f->services.boxes.empty());
  }

  void enterLoadsTheSelectedEntry() {
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return);
    QCOMPARE(Titles(f->services), kAskBoth);
    QCOMPARE(f->form().Text2(), QStringLiteral("b.txt"));
    QCOMPARE(f->c().Label6->text(), QStringLiteral("Before"));
    QCOMPARE(QApplication::focusWidget(), f->c().Command1);
    QCOMPARE(f->form().IgnoreFileClick(), 13);
  }

  void tabLoadsLikeEnter() {
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Tab);
    QCOMPARE(Titles(f->services), kAskBoth);
    QCOMPARE(QApplication::focusWidget(), f->c().Command1);
  }

  void enterWithNothingSelected() {
    QTest::keyClick(list, Qt::Key_Enter);
    QCOMPARE(Titles(f->services), QStringList{"Err:File select"});
    QCOMPARE(f->services.boxes[0].prompt, QStringLiteral("ファイルが選択されていません！"));
    QVERIFY(f->form().Text2().isEmpty());
    QVERIFY(!f->c().Command1->isEnabled());
    QCOMPARE(QApplication::focusWidget(), list);
  }

  void shiftEnterGoesToCheck1() {
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), f->c().Check1);
    QVERIFY(f->services.boxes.empty());
    QVERIFY(f->form().Text2().isEmpty());
  }

  void ctrlOrAltEnterOnlyRecordTheKey_data() {
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Ctrl") << int(Qt::ControlModifier);
    QTest::newRow("Alt") << int(Qt::AltModifier);
    QTest::newRow("Shift+Ctrl") << int(Qt::ShiftModifier | Qt::ControlModifier);
  }
  void ctrlOrAltEnterOnlyRecordTheKey() {
    QFETCH(int, modifiers);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Return, Qt::KeyboardModifiers(modifiers));
    QVERIFY(f->services.boxes.empty());
    QCOMPARE(QApplication::focusWidget(), list);
    QCOMPARE(f->form().IgnoreFileClick(), 13);
  }

  void clickWithoutFocusLoads() {
    f->c().Command2->setFocus();
    ClickEntry(list, 2);
    QCOMPARE(Titles(f->services), kAskBoth);
    QCOMPARE(f->form().Text2(), QStringLiteral("c.txt"));
    QCOMPARE(QApplication::focusWidget(), f->c().Command1);
  }

  void clickAfterAWalkLoads() {
    QTest::keyClick(list, Qt::Key_Down);
    ClickEntry(list, 1);
    QCOMPARE(Titles(f->services), kAskBoth);
    QCOMPARE(f->form().Text2(), QStringLiteral("b.txt"));
  }

  void clickAfterAKeyThatChangedNothingIsSwallowedOnce() {
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Up);  // already on the first entry
    QCOMPARE(f->form().IgnoreFileClick(), 38);
    ClickEntry(list, 1);
    QCOMPARE(f->form().File1FileName(), QStringLiteral("b.txt"));
    QVERIFY(f->services.boxes.empty());
    QCOMPARE(f->form().IgnoreFileClick(), 0);
    ClickEntry(list, 1);
    QCOMPARE(Titles(f->services), kAskBoth);
    QCOMPARE(f->form().Text2(), QStringLiteral("b.txt"));
  }

  void shiftAloneAlsoArmsTheSwallow() {
    QTest::keyClick(list, Qt::Key_Shift);
    QCOMPARE(f->form().IgnoreFileClick(), 16);
    ClickEntry(list, 0);
    QVERIFY(f->services.boxes.empty());
  }

  void clickOnEmptySpaceIsNoClick() {
    f->c().Command2->setFocus();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      QPoint(5, list->viewport()->height() - 3));
    QVERIFY(f->services.boxes.empty());
    QCOMPARE(QApplication::focusWidget(), list);
  }
};

QTEST_MAIN(File1EventsTest)
#include "file1_events_test.moc"
