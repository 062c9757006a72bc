// The whole window worked from the keyboard alone, as a user without a mouse would.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "form_fixture.h"
#include "ui/file_list_box.h"
#include "ui/keyword_box.h"
#include "ui/working_text_view.h"
#include "ui/wrapping_check_box.h"

using namespace parlotrim;
using parlotrim::testing::FormFixture;
using parlotrim::testing::Titles;

class KeyboardRunTest : public QObject {
  Q_OBJECT

  static void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWidget* focus = QApplication::focusWidget();
    QVERIFY(focus);
    QTest::keyClick(focus, key, modifiers);
  }
  static QString FocusName() { return QApplication::focusWidget()->objectName(); }

 private slots:
  void keyboardOnly() {
    FormFixture f({{"log.txt", "one\r\n----\r\n\r\ntwo\r\n"}});
    QVERIFY(f.show());
    // Every box is answered with Enter, that is OK.
    Press(Qt::Key_Down);
    Press(Qt::Key_Return);
    QCOMPARE(Titles(f.services), (QStringList{"Ask:Null Delete", "Ask:Line Delete"}));
    QCOMPARE(FocusName(), QStringLiteral("Command1"));
    QCOMPARE(f.c().Text1->Bytes(), QByteArray("\r\none\r\ntwo"));

    Press(Qt::Key_Return);
    QCOMPARE(Titles(f.services).mid(2),
             (QStringList{"Message:Log Change & Save", "Complete Massage"}));
    QCOMPARE(f.read("log.txt"), QByteArray("two\r\none\r\n\r\n"));
    QCOMPARE(f.c().Label6->text(), QStringLiteral("After"));
    QCOMPARE(FocusName(), QStringLiteral("Command1"));

    Press(Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(FocusName(), QStringLiteral("File1"));
    Press(Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(FocusName(), QStringLiteral("Check1"));
    Press(Qt::Key_Space);
    QVERIFY(f.c().Check1->isChecked());
    Press(Qt::Key_Return);
    QCOMPARE(FocusName(), QStringLiteral("Text3"));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("two"));
    Press(Qt::Key_Return);
    QCOMPARE(FocusName(), QStringLiteral("Command1"));
    QCOMPARE(f.form().Text3(), QStringLiteral("two"));
    QCOMPARE(f.services.boxes.size(), size_t(4));

    Press(Qt::Key_F12);
    QVERIFY(!f.form().isVisible());
    QCOMPARE(f.read("log.txt"), QByteArray("two\r\none\r\n\r\n"));
  }
};

QTEST_MAIN(KeyboardRunTest)
#include "keyboard_run_test.moc"
