// The focus chain on real key events: where each key moves the focus from each control of the
// chain, what it runs, and the edge cases around Enter, Tab, F12, Space and mouse clicks.
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

namespace {

QWidget* Named(FormFixture& f, const QString& name) {
  return f.form().findChild<QWidget*>(name);
}

// What a key ran, told by the boxes it brought up and by the window closing.
QString ActionRun(FormFixture& f) {
  if (!f.form().isVisible()) return QStringLiteral("quit");
  const QStringList titles = Titles(f.services);
  if (titles.isEmpty()) return QString();
  if (titles.first() == QStringLiteral("Ask:Null Delete")) return QStringLiteral("load");
  if (titles.first() == QStringLiteral("Message:Log Change & Save"))
    return QStringLiteral("change");
  return titles.join(QLatin1Char(','));
}

QString FocusName() {
  QWidget* focus = QApplication::focusWidget();
  return focus ? focus->objectName() : QString();
}

constexpr int kShift = Qt::ShiftModifier;
constexpr int kCtrl = Qt::ControlModifier;
constexpr int kAlt = Qt::AltModifier;

}  // namespace

class FocusChainTest : public QObject {
  Q_OBJECT

  std::unique_ptr<FormFixture> f;

  // A window with one log selected in the list; loaded and ticked as asked.
  void Start(bool loaded, bool ticked) {
    f.reset(new FormFixture({{"a.txt", "alpha\r\n"}}));
    QVERIFY(f->show());
    QTest::keyClick(f->c().File1, Qt::Key_Down);
    if (loaded) QTest::keyClick(f->c().File1, Qt::Key_Return);
    if (ticked) f->c().Check1->setChecked(true);
    f->services.boxes.clear();
  }

 private slots:
  void cleanup() { f.reset(); }

  void chain_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<QString>("to");  // empty: the window is gone
    QTest::addColumn<QString>("action");

    const int enter = Qt::Key_Return, tab = Qt::Key_Tab, backtab = Qt::Key_Backtab;
    auto row = [](const char* name, const char* from, int key, int mods, bool loaded, bool ticked,
                  const char* to, const char* action) {
      QTest::newRow(name) << from << key << mods << loaded << ticked << to << action;
    };
    row("File1 Enter loads", "File1", enter, 0, false, false, "Command1", "load");
    row("File1 keypad Enter loads", "File1", Qt::Key_Enter, 0, false, false, "Command1", "load");
    row("File1 Tab loads", "File1", tab, 0, false, false, "Command1", "load");
    row("File1 Shift+Enter", "File1", enter, kShift, false, false, "Check1", "");
    row("File1 Shift+Tab", "File1", backtab, kShift, false, false, "Check1", "");
    row("Command1 Enter runs Change and Save", "Command1", enter, 0, true, false, "Command1",
        "change");
    row("Command1 Tab", "Command1", tab, 0, true, false, "Command2", "");
    row("Command1 Shift+Enter", "Command1", enter, kShift, true, false, "File1", "");
    row("Command1 Shift+Tab", "Command1", backtab, kShift, true, false, "File1", "");
    row("Command2 Enter quits", "Command2", enter, 0, false, false, "", "quit");
    row("Command2 Tab stays", "Command2", tab, 0, true, false, "Command2", "");
    row("Command2 Shift+Enter, loaded", "Command2", enter, kShift, true, false, "Command1", "");
    row("Command2 Shift+Tab, loaded", "Command2", backtab, kShift, true, false, "Command1", "");
    row("Command2 Shift+Enter, not loaded", "Command2", enter, kShift, false, false, "File1", "");
    row("Command2 Shift+Tab, not loaded", "Command2", backtab, kShift, false, false, "File1", "");
    row("Check1 Enter, ticked", "Check1", enter, 0, false, true, "Text3", "");
    row("Check1 Tab, ticked", "Check1", tab, 0, false, true, "Text3", "");
    row("Check1 Enter, unticked", "Check1", enter, 0, false, false, "File1", "");
    row("Check1 Tab, unticked", "Check1", tab, 0, false, false, "File1", "");
    row("Check1 Shift+Enter", "Check1", enter, kShift, false, true, "File1", "");
    row("Check1 Shift+Tab", "Check1", backtab, kShift, false, true, "File1", "");
    row("Text3 Enter, loaded", "Text3", enter, 0, true, true, "Command1", "");
    row("Text3 Tab, loaded", "Text3", tab, 0, true, true, "Command1", "");
    row("Text3 Enter, not loaded", "Text3", enter, 0, false, true, "File1", "");
    row("Text3 Tab, not loaded", "Text3", tab, 0, false, true, "File1", "");
    row("Text3 Shift+Enter", "Text3", enter, kShift, false, true, "Check1", "");
    row("Text3 Shift+Tab", "Text3", backtab, kShift, false, true, "Check1", "");
    for (const char* from : {"Check1", "Command1", "Command2", "Text3"}) {
      for (int mods : {kCtrl, kAlt, kCtrl | kShift}) {
        const QByteArray name = QByteArray(from) + " Enter with " + QByteArray::number(mods, 16);
        row(name.constData(), from, enter, mods, true, true, from, "");
      }
      const QByteArray name = QByteArray(from) + " Ctrl+Tab";
      row(name.constData(), from, tab, kCtrl, true, true, from, "");
    }
    const char* everywhere[] = {"File1",    "Text2",    "Text1",  "Command1", "Command3",
                                "Command2", "Command4", "Check1", "Text3"};
    for (const char* from : everywhere) {
      for (int mods : {0, kShift, kCtrl, kAlt}) {
        const QByteArray name = QByteArray("F12 in ") + from + " with " + QByteArray::number(mods);
        row(name.constData(), from, Qt::Key_F12, mods, true, true, "", "quit");
      }
    }
    // The controls outside the chain keep the standard traversal in the tab order.
    row("Text2 Tab", "Text2", tab, 0, true, false, "Text1", "");
    row("Text1 Tab, loaded", "Text1", tab, 0, true, false, "Command1", "");
    row("Text1 Tab, not loaded", "Text1", tab, 0, false, false, "Command2", "");
    row("Command3 Tab", "Command3", tab, 0, true, false, "Command2", "");
    row("Command4 Tab", "Command4", tab, 0, false, false, "Check1", "");
    row("Command4 Shift+Tab", "Command4", backtab, kShift, false, false, "Command2", "");
  }
  void chain() {
    QFETCH(QString, from);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(bool, loaded);
    QFETCH(bool, ticked);
    QFETCH(QString, to);
    QFETCH(QString, action);
    Start(loaded, ticked);
    QWidget* start = Named(*f, from);
    start->setFocus();
    QCOMPARE(FocusName(), from);
    QTest::keyClick(start, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(ActionRun(*f), action);
    if (!to.isEmpty()) QCOMPARE(FocusName(), to);
  }

  void enterOnCommand1RunsChangeAndSaveOnce() {
    Start(true, false);
    QTest::keyClick(f->c().Command1, Qt::Key_Return);
    QCOMPARE(Titles(f->services), (QStringList{"Message:Log Change & Save", "Complete Massage"}));
    QCOMPARE(f->read("a.txt"), QByteArray("alpha\r\n\r\n"));
  }

  void cancelledChangeSendsTheFocusToFile1() {
    Start(true, false);
    f->services.answers = {2};
    QTest::keyClick(f->c().Command1, Qt::Key_Return);
    QCOMPARE(FocusName(), QStringLiteral("File1"));
    QCOMPARE(f->read("a.txt"), QByteArray("alpha\r\n"));
  }

  void keywordBoxKeepsItsTextOnEnterAndTab() {
    Start(true, true);
    f->c().Text3->setFocus();
    QTest::keyClicks(f->c().Text3, QStringLiteral("abc"));
    QTest::keyClick(f->c().Text3, Qt::Key_Return);
    f->c().Text3->setFocus();
    QTest::keyClick(f->c().Text3, Qt::Key_Tab);
    f->c().Text3->setFocus();
    QTest::keyClick(f->c().Text3, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(f->form().Text3(), QStringLiteral("abc"));
  }

  void keywordIsSelectedWhenReachedSoTypingReplacesIt() {
    Start(false, true);
    f->c().Text3->insert(QStringLiteral("連絡"));
    f->c().Check1->setFocus();
    QTest::keyClick(f->c().Check1, Qt::Key_Return);
    QCOMPARE(FocusName(), QStringLiteral("Text3"));
    QCOMPARE(f->c().Text3->selectedText(), QStringLiteral("連絡"));
    QTest::keyClicks(f->c().Text3, QStringLiteral("ab"));
    QCOMPARE(f->form().Text3(), QStringLiteral("ab"));
  }

  void keywordIsSelectedWhenClicked() {
    Start(false, true);
    f->c().Text3->insert(QStringLiteral("keyword"));
    f->c().File1->setFocus();
    QTest::mouseClick(f->c().Text3, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(FocusName(), QStringLiteral("Text3"));
    QCOMPARE(f->c().Text3->selectedText(), QStringLiteral("keyword"));
  }

  void clickInTextWindowOrNameBox_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QString>("to");
    QTest::newRow("Text1 before a load") << "Text1" << false << "File1";
    QTest::newRow("Text2 before a load") << "Text2" << false << "File1";
    QTest::newRow("Text1 after a load") << "Text1" << true << "Command1";
    QTest::newRow("Text2 after a load") << "Text2" << true << "Command1";
  }
  void clickInTextWindowOrNameBox() {
    QFETCH(QString, target);
    QFETCH(bool, loaded);
    QFETCH(QString, to);
    Start(loaded, false);
    f->c().Command2->setFocus();
    QWidget* w = Named(*f, target);
    if (auto* view = qobject_cast<WorkingTextView*>(w)) w = view->viewport();
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(10, 5));
    QCOMPARE(FocusName(), to);
  }

  void emptyNameAfterALoad() {
    // A load that found no entry selected empties Text2 but leaves Command1 enabled.
    Start(true, true);
    f->c().File1->setCurrentItem(nullptr, QItemSelectionModel::Clear);
    f->c().File1->setFocus();
    QTest::keyClick(f->c().File1, Qt::Key_Return);
    QCOMPARE(Titles(f->services), QStringList{"Err:File select"});
    QVERIFY(f->form().Text2().isEmpty());
    QVERIFY(f->c().Command1->isEnabled());
    QTest::mouseClick(f->c().Text1->viewport(), Qt::LeftButton, {}, QPoint(10, 5));
    QCOMPARE(FocusName(), QStringLiteral("File1"));
    f->c().Text3->setFocus();
    QTest::keyClick(f->c().Text3, Qt::Key_Return);
    QCOMPARE(FocusName(), QStringLiteral("Command1"));
  }

  void spaceTogglesCheck1AndPressesButtons() {
    Start(false, false);
    f->c().Check1->setFocus();
    QTest::keyClick(f->c().Check1, Qt::Key_Space);
    QVERIFY(f->c().Check1->isChecked());
    QVERIFY(f->c().Text3->isEnabled());
    QCOMPARE(FocusName(), QStringLiteral("Check1"));
    QTest::keyClick(f->c().Check1, Qt::Key_Space);
    QVERIFY(!f->c().Text3->isEnabled());

    f->c().Command4->setFocus();
    QTest::keyClick(f->c().Command4, Qt::Key_Space);
    QCOMPARE(Titles(f->services), QStringList{"Product Information"});
    f->c().Command2->setFocus();
    QTest::keyClick(f->c().Command2, Qt::Key_Space);
    QVERIFY(!f->form().isVisible());
  }
};

QTEST_MAIN(FocusChainTest)
#include "focus_chain_test.moc"
