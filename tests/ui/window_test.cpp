// The real window on real key and mouse events: start-up, layout, the emphasis switch, the file
// list, the focus chain, the operations end to end with the files on disk and a keyboard-only
// run; then its parts on their own: how the working text is cut into lines and shown, the text
// window's scrolling and copying, the Qt message boxes and the busy pointer.
#include <sys/stat.h>

#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "platform/code_page.h"
#include "platform/qt_window_services.h"
#include "ui/file_list_box.h"
#include "ui/keyword_box.h"
#include "ui/line_display.h"
#include "ui/line_index.h"
#include "ui/working_text_view.h"
#include "ui/wrapping_check_box.h"
#include "ui_fixture.h"

using namespace parlotrim;
using parlotrim::testing::FormFixture;

namespace {

const QColor kLightYellow(255, 255, 192);
const QStringList kLoad = {"Ask:Null Delete", "Ask:Line Delete"};
const QStringList kChange = {"Message:Log Change & Save", "Complete Massage"};

QColor Base(QWidget* w, QPalette::ColorGroup group = QPalette::Active) {
  return w->palette().color(group, QPalette::Base);
}

QString FocusName() {
  QWidget* focus = QApplication::focusWidget();
  return focus ? focus->objectName() : QString();
}

void LoadFirstEntry(FormFixture& f) {
  QTest::keyClick(f.c().File1, Qt::Key_Down);
  QTest::keyClick(f.c().File1, Qt::Key_Return);
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void startsWithNothingLoaded() {
    FormFixture f({{"b.txt", "x"}, {"A.TXT", ""}, {"c.txt.bak", ""}, {"d.log", ""}});
    // Centred, 200 twips above the middle, and not clamped to the offscreen screen (800 x 800).
    QCOMPARE(f.form().pos(), QPoint(-56, 109));
    QVERIFY(f.show());
    const Form1Controls& c = f.c();
    QVERIFY(!c.Command1->isEnabled() && !c.Command3->isEnabled());
    QVERIFY(c.Command2->isEnabled() && c.Command4->isEnabled());
    QVERIFY(!c.Check1->isChecked() && !c.Text3->isEnabled() && c.Text2->isReadOnly());
    QVERIFY(c.Text1->Bytes().isEmpty() && c.Text2->text().isEmpty() && c.Label6->text().isEmpty());
    QCOMPARE(c.File1->count(), 2);
    QVERIFY(f.form().File1FileName().isEmpty());
    QCOMPARE(FocusName(), "File1");
    QCOMPARE(f.form().LogFolder(), f.folder.path());
    QCOMPARE(Base(c.Text1), kLightYellow);
    QCOMPARE(Base(c.Text3, QPalette::Disabled), kLightYellow);
  }

  void emphasisSwitchOnOffOn() {
    FormFixture f;
    QVERIFY(f.show());
    const Form1Controls& c = f.c();
    const QColor system = QApplication::palette().color(QPalette::Base);
    c.Check1->setChecked(true);
    QVERIFY(c.Text3->isEnabled());
    QCOMPARE(Base(c.Text3), system);
    c.Text3->insert(QStringLiteral("連絡"));  // as an input method commits it
    c.Check1->setChecked(false);
    QVERIFY(!c.Text3->isEnabled() && c.Text3->text().isEmpty());
    QCOMPARE(Base(c.Text3, QPalette::Disabled), kLightYellow);
    // On again by a click on the second line of the wrapped caption, at its right edge.
    QTest::mouseClick(c.Check1, Qt::LeftButton, {}, c.Check1->rect().bottomRight() - QPoint(3, 3));
    QVERIFY(c.Text3->isEnabled() && c.Text3->text().isEmpty());  // the keyword is gone for good
    QCOMPARE(Base(c.Text3), system);
  }

  void file1Events_data() {
    QTest::addColumn<QList<int>>("keys");    // each a key, with its modifiers or'ed in
    QTest::addColumn<bool>("focused");       // File1 has the focus before (else Command2 has)
    QTest::addColumn<QList<int>>("clicks");  // on the second entry: a button and its modifiers
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QStringList>("boxes");  // a load hands the focus on to Command1
    using K = QList<int>;
    const int down = Qt::Key_Down, up = Qt::Key_Up, left = Qt::LeftButton;
    const int ctrl = Qt::ControlModifier, shift = Qt::ShiftModifier;
    QTest::newRow("keyboard walk loads nothing")
        << K{down, down, down, up, Qt::Key_End, Qt::Key_Home, Qt::Key_C} << true << K{} << "c.txt"
        << QStringList();
    QTest::newRow("End from no selection")
        << K{Qt::Key_End} << true << K{} << "c.txt" << QStringList();
    QTest::newRow("Enter loads") << K{down, down, Qt::Key_Return} << true << K{} << "b.txt"
                                 << kLoad;
    QTest::newRow("Enter with nothing selected")
        << K{Qt::Key_Enter} << true << K{} << "" << QStringList{"Err:File select"};
    QTest::newRow("click without focus") << K{} << false << K{left} << "b.txt" << kLoad;
    QTest::newRow("click with focus") << K{down} << true << K{left} << "b.txt" << kLoad;
    QTest::newRow("click after a key that changed nothing is swallowed once")
        << K{down, up} << true << K{left, left} << "b.txt" << kLoad;
    QTest::newRow("Shift alone swallows too")
        << K{Qt::Key_Shift} << true << K{left} << "b.txt" << QStringList();
    QTest::newRow("Ctrl+click on the selected entry keeps it and loads")
        << K{down, down} << true << K{ctrl | left} << "b.txt" << kLoad;
    QTest::newRow("Ctrl+click on another entry")
        << K{down} << true << K{ctrl | left} << "b.txt" << kLoad;
    QTest::newRow("Shift+click") << K{down} << true << K{shift | left} << "b.txt" << kLoad;
    QTest::newRow("Ctrl+Space keeps the selection")
        << K{down, ctrl | Qt::Key_Space} << true << K{} << "a.txt" << QStringList();
    QTest::newRow("right and middle clicks do nothing, not even focus")
        << K{} << false << K{Qt::RightButton, Qt::MiddleButton, Qt::RightButton} << ""
        << QStringList();
  }
  void file1Events() {
    QFETCH(QList<int>, keys);
    QFETCH(bool, focused);
    QFETCH(QList<int>, clicks);
    QFETCH(QString, selected);
    QFETCH(QStringList, boxes);
    FormFixture f({{"a.txt", "alpha"}, {"b.txt", "bravo"}, {"c.txt", "charlie"}});
    QVERIFY(f.show());
    FileListBox* list = f.c().File1;
    if (!focused) f.c().Command2->setFocus();
    const int mods = Qt::KeyboardModifierMask;
    for (int key : keys)
      QTest::keyClick(list, Qt::Key(key & ~mods), Qt::KeyboardModifiers(key & mods));
    const QPoint second = list->visualItemRect(list->item(1)).center();
    for (int click : clicks)
      QTest::mouseClick(list->viewport(), Qt::MouseButton(click & ~mods),
                        Qt::KeyboardModifiers(click & mods), second);
    QCOMPARE(f.form().File1FileName(), selected);
    QCOMPARE(f.services.Titles(), boxes);
    QCOMPARE(f.form().Text2(), boxes == kLoad ? selected : QString());
    QCOMPARE(FocusName(), boxes == kLoad ? "Command1" : focused ? "File1" : "Command2");
  }

  void focusChain_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("condition");  // "loaded" (a log is loaded), "ticked" (Check1)
    QTest::addColumn<QString>("to");         // empty: the window is gone
    QTest::addColumn<QString>("action");
    const int enter = Qt::Key_Return, tab = Qt::Key_Tab, backtab = Qt::Key_Backtab;
    const int f12 = Qt::Key_F12, shift = Qt::ShiftModifier, ctrl = Qt::ControlModifier;
    auto row = [](const char* name, const char* from, int key, int mods, const char* condition,
                  const char* to, const char* action) {
      QTest::newRow(name) << from << key << mods << condition << to << action;
    };
    row("File1 Shift+Tab", "File1", backtab, shift, "", "Check1", "");
    row("File1 Backtab, no modifier reported", "File1", backtab, 0, "", "Check1", "");
    row("Command1 Enter runs Change and Save once", "Command1", enter, 0, "loaded", "Command1",
        "change");
    row("Command1 Ctrl+Enter does nothing", "Command1", enter, ctrl, "loaded", "Command1", "");
    row("Command1 Tab", "Command1", tab, 0, "loaded", "Command2", "");
    row("Command2 Enter quits", "Command2", enter, 0, "", "", "quit");
    row("Command2 Alt+Enter does nothing", "Command2", enter, Qt::AltModifier, "", "Command2", "");
    row("Command2 Tab stays", "Command2", tab, 0, "loaded", "Command2", "");
    row("Command2 Shift+Tab, loaded", "Command2", backtab, shift, "loaded", "Command1", "");
    row("Command2 Shift+Enter, not loaded", "Command2", enter, shift, "", "File1", "");
    row("Check1 Enter, ticked", "Check1", enter, 0, "ticked", "Text3", "");
    row("Check1 Tab, unticked", "Check1", tab, 0, "", "File1", "");
    row("Check1 Shift+Enter", "Check1", enter, shift, "ticked", "File1", "");
    row("Text3 Enter, loaded", "Text3", enter, 0, "loaded ticked", "Command1", "");
    row("Text3 Tab, not loaded", "Text3", tab, 0, "ticked", "File1", "");
    row("Text3 Shift+Enter", "Text3", enter, shift, "ticked", "Check1", "");
    row("Text3 Ctrl+Enter does nothing", "Text3", enter, ctrl, "loaded ticked", "Text3", "");
    row("F12 in File1", "File1", f12, 0, "", "", "quit");
    row("F12 in Text1", "Text1", f12, 0, "loaded", "", "quit");
    row("Shift+F12 in Text3", "Text3", f12, shift, "ticked", "", "quit");
    row("Ctrl+F12 in Command4", "Command4", f12, ctrl, "", "", "quit");
    // Controls outside the chain keep the toolkit's traversal in the designed tab order.
    row("Text2 Tab", "Text2", tab, 0, "loaded", "Text1", "");
    row("Command4 Tab", "Command4", tab, 0, "", "Check1", "");
    // Enter presses the buttons outside the chain, as Space does.
    row("Command3 Enter runs HTML Save", "Command3", enter, 0, "loaded", "Command3",
        "Message:HTML Change & Save,Complete Massage");
    row("Command4 keypad Enter", "Command4", Qt::Key_Enter, 0, "", "Command4",
        "Product Information");
  }
  void focusChain() {
    QFETCH(QString, from);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, condition);
    QFETCH(QString, to);
    QFETCH(QString, action);
    FormFixture f({{"a.txt", "alpha\r\n"}});
    QVERIFY(f.show());
    const Form1Controls& c = f.c();
    QTest::keyClick(c.File1, Qt::Key_Down);
    if (condition.contains("loaded")) QTest::keyClick(c.File1, Qt::Key_Return);
    const bool ticked = condition.contains("ticked");
    c.Check1->setChecked(ticked);
    if (ticked) c.Text3->insert(QStringLiteral("連絡"));
    f.services.boxes.clear();
    QWidget* start = f.form().findChild<QWidget*>(from);
    start->setFocus();
    QCOMPARE(FocusName(), from);
    QSignalSpy keywordEnter(c.Text3, &QLineEdit::returnPressed);
    QTest::keyClick(start, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QCOMPARE(keywordEnter.count(), 0);  // the window uses up Enter: the keyword box never sees it
    const QStringList titles = f.services.Titles();
    QCOMPARE(!f.form().isVisible() ? "quit"
             : titles == kLoad     ? "load"
             : titles == kChange   ? "change"
                                   : titles.join(','),
             action);
    if (to.isEmpty()) return;
    QCOMPARE(FocusName(), to);
    if (ticked) QCOMPARE(f.form().Text3(), QStringLiteral("連絡"));  // the keyword box keeps it
    if (to == "Text3") QCOMPARE(c.Text3->selectedText(), c.Text3->text());  // typing replaces it
  }

  void clicksHandTheFocusOn() {
    FormFixture f({{"a.txt", "alpha\r\n"}, {"b.txt", "bravo\r\n"}});
    QVERIFY(f.show());
    const Form1Controls& c = f.c();
    QTest::mouseClick(c.Text1->viewport(), Qt::LeftButton, {}, QPoint(10, 5));
    QCOMPARE(FocusName(), "File1");  // nothing loaded yet
    QVERIFY(::unlink(f.folder.file("a.txt").constData()) == 0);
    LoadFirstEntry(f);
    QCOMPARE(f.services.Titles(), kLoad + QStringList{"Err:File read"});
    for (QWidget* clicked : {c.Text1->viewport(), static_cast<QWidget*>(c.Text2)}) {
      c.Command2->setFocus();
      QTest::mouseClick(clicked, Qt::LeftButton, {}, QPoint(10, 5));
      QCOMPARE(FocusName(), "File1");  // the name is shown, but Change and Save is still off
    }
    LoadFirstEntry(f);  // the next entry, b.txt
    QTest::mouseClick(c.Text2, Qt::LeftButton, {}, QPoint(10, 5));
    QCOMPARE(FocusName(), "Command1");
    c.Check1->setChecked(true);
    c.Text3->insert(QStringLiteral("keyword"));
    QTest::mouseClick(c.Text3, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(c.Text3->selectedText(), QStringLiteral("keyword"));
  }

  // A log whose name is Shift JIS bytes (copied from Windows) is listed by its decoded name and
  // rewritten and exported by its real bytes; the window shows each step.
  void shiftJisNamedLogEndToEnd() {
    const QByteArray name = "\x83\x8d\x83\x4f.txt";  // ログ.txt
    FormFixture f({{name, EncodeCodePage(QStringLiteral("一行目\r\n連絡: 二行目\r\n"))}});
    QVERIFY(f.show());
    const Form1Controls& c = f.c();
    QCOMPARE(c.File1->item(0)->text(), QStringLiteral("ログ.txt"));
    QString label6AtCompletion;
    f.services.onBox = [&](const testing::ShownBox& box) {
      if (box.title == "Complete Massage") label6AtCompletion = c.Label6->text();
    };
    LoadFirstEntry(f);
    QCOMPARE(c.Text2->text(), QStringLiteral("ログ.txt"));
    QCOMPARE(c.Label6->text(), QStringLiteral("Before"));
    QCOMPARE(c.Label6->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QTest::mouseClick(c.Command1, Qt::LeftButton);
    const QByteArray reversed = EncodeCodePage(QStringLiteral("連絡: 二行目\r\n一行目\r\n"));
    QCOMPARE(f.folder.read(name), reversed + "\r\n");
    QCOMPARE(c.Text1->Bytes(), reversed);
    QCOMPARE(label6AtCompletion, QStringLiteral("After"));
    QCOMPARE(c.Label6->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    c.Check1->setChecked(true);
    c.Text3->insert(QStringLiteral("連絡"));
    QTest::mouseClick(c.Command3, Qt::LeftButton);
    const QByteArray html = f.folder.read("\x83\x8d\x83\x4f.html");
    QVERIFY(html.contains("<title>\x83\x8d\x83\x4f.html</title>"));
    QVERIFY(html.contains(EncodeCodePage(QStringLiteral("<strong>連絡: 二行目</strong><br>"))));
    const QStringList htmlSave = {"Message:HTML Change & Save", "Complete Massage"};
    QCOMPARE(f.services.Titles(), kLoad + kChange + htmlSave);
    QTest::mouseClick(c.Command2, Qt::LeftButton);  // quit asks nothing and writes nothing
    QVERIFY(!f.form().isVisible() && f.services.Titles().size() == 6);
    QCOMPARE(f.folder.read(name), reversed + "\r\n");
  }

  // A failed save leaves the window ready and telling the truth: the ordinary pointer under the
  // box, the status still "Before", both buttons on, and the text window showing the log as it
  // is on disk (none, when it is gone).
  void failedSaveShowsWhatIsTrue_data() {
    QTest::addColumn<bool>("change");
    QTest::addColumn<QString>("title");
    QTest::newRow("log deleted, Change and Save") << true << "Err:File read";
    QTest::newRow("document name taken by a folder, HTML Save") << false << "Err:File write";
  }
  void failedSaveShowsWhatIsTrue() {
    QFETCH(bool, change);
    QFETCH(QString, title);
    FormFixture f({{"log.txt", "A\r\nB\r\n"}});
    QVERIFY(f.show());
    const Form1Controls& c = f.c();
    bool hourglass = false;
    f.services.onBox = [&](const testing::ShownBox&) {
      hourglass = hourglass || QGuiApplication::overrideCursor();
    };
    LoadFirstEntry(f);
    const QByteArray loaded = c.Text1->Bytes();
    QVERIFY(change ? ::unlink(f.folder.file("log.txt").constData()) == 0
                   : ::mkdir(f.folder.file("log.html").constData(), 0755) == 0);
    QTest::mouseClick(change ? c.Command1 : c.Command3, Qt::LeftButton);
    QCOMPARE(f.services.Titles().last(), title);
    QVERIFY(!hourglass && !QGuiApplication::overrideCursor());
    QCOMPARE(c.Label6->text(), QStringLiteral("Before"));
    QVERIFY(c.Command1->isEnabled() && c.Command3->isEnabled());
    QCOMPARE(c.Text1->Bytes(), change ? QByteArray() : loaded);
  }

  void productInformation() {
    FormFixture f;
    QVERIFY(f.show());
    QTest::mouseClick(f.c().Command4, Qt::LeftButton);
    QTest::mouseClick(f.c().Label4, Qt::LeftButton);  // while the keyword box beside it is off
    QCOMPARE(f.services.Titles(), (QStringList{"Product Information", "Product Information"}));
    const QStringList full = f.services.boxes[0].prompt.split("\r\n");
    QCOMPARE(full.size(), 5);
    QCOMPARE(f.services.boxes[1].prompt, full.mid(2).join("\r\n"));
    QCOMPARE(f.services.boxes[0].buttons + f.services.boxes[1].buttons, 0);  // OK only
  }

  void linesAsShown_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<int>("longest");
    using L = QStringList;
    QTest::newRow("empty text is one empty line") << QByteArray() << L{""} << 0;
    QTest::newRow("working text after a load")
        << QByteArray("\r\nabc\r\nxyz") << L{"", "abc", "xyz"} << 1;
    QTest::newRow("lone LF is a symbol, not a break")
        << QByteArray("a\nb\r\nc") << L{"a\u240Ab", "c"} << 0;
    QTest::newRow("lone CR, CR before CR LF")
        << QByteArray("a\rb\r\r\nc") << L{"a\u240Db\u240D", "c"} << 0;
    QTest::newRow("LF CR is no break") << QByteArray("a\n\rb") << L{"a\u240A\u240Db"} << 0;
    QTest::newRow("Shift JIS, NUL, ESC, DEL")
        << QByteArray("\x82\xa0\0\x1b\x7f", 5) << L{"あ\u2400\u241B\u2421"} << 0;
    QTest::newRow("tabs to columns of eight")
        << QByteArray("ab\tc\r\nabcdefgh\tc") << L{"ab      c", "abcdefgh        c"} << 1;
    QTest::newRow("very long line is cut")
        << QByteArray(kMaxShownBytes + 10, 'x') << L{QString(kMaxShownBytes, 'x') + u'\u2026'} << 0;
  }
  void linesAsShown() {
    QFETCH(QByteArray, text);
    QFETCH(QStringList, shown);
    QFETCH(int, longest);
    const LineIndex index(text);
    QStringList got;
    for (qsizetype n = 0; n < index.LineCount(); ++n) got << LineForDisplay(index.Line(text, n));
    QCOMPARE(got, shown);
    QCOMPARE(index.LongestLine(), longest);
    QVERIFY(index.Line(text, index.LineCount()).isEmpty() && index.Line(text, -1).isEmpty());
  }

  void textViewScrollsAndCopies() {
    WorkingTextView view;
    view.resize(300, 200);
    view.show();
    QByteArray text("\x82\xa0\nb");
    for (int i = 0; i < 1000; ++i) text += "\r\nline " + QByteArray::number(i);
    view.SetBytes(text + QByteArray(400, 'w'));
    QScrollBar* v = view.verticalScrollBar();
    QCOMPARE(v->maximum(), 1001 - v->pageStep());
    QVERIFY(view.horizontalScrollBar()->maximum() > 0);
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(view.TopLine(), v->maximum());
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(),
             QStringLiteral("あ\nb") + QString::fromLatin1(text.mid(4) + QByteArray(400, 'w')));
    view.SetBytes(text);  // new text starts again at the top, unselected
    QCOMPARE(view.TopLine(), 0);
    QVERIFY(!view.AllSelected());
  }

  void messageBoxes_data() {
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("key");  // 0: the close box
    QTest::addColumn<int>("result");
    QTest::newRow("Enter is OK") << 1 << int(Qt::Key_Return) << 1;
    QTest::newRow("Esc is Cancel") << 1 << int(Qt::Key_Escape) << 2;
    QTest::newRow("close box is Cancel") << 1 << 0 << 2;
    QTest::newRow("OK only, Enter") << 0 << int(Qt::Key_Enter) << 1;
  }
  void messageBoxes() {
    QFETCH(int, buttons);
    QFETCH(int, key);
    QFETCH(int, result);
    QtWindowServices services;
    QString seen;  // stays empty unless the box is plain text, without icon and OK the default
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      QVERIFY(box);
      if (box->textFormat() == Qt::PlainText && box->icon() == QMessageBox::NoIcon &&
          box->defaultButton() == box->button(QMessageBox::Ok))
        seen = QStringList{box->windowTitle(), box->text(), QString::number(box->buttons().size())}
                   .join('|');
      key ? QTest::keyClick(box, Qt::Key(key)) : void(box->close());
    });
    QCOMPARE(services.MsgBox(nullptr, "a <b>\r\nc", buttons, "Ask:x"), result);
    QCOMPARE(seen, QStringLiteral("Ask:x|a <b>\nc|%1").arg(buttons + 1));
  }

  void boxesGiveTheKeysBack() {
    // The real boxes over the real window, each answered with Enter once it has the keys. After
    // every box the window has the keys again, in the control that had them or that the window
    // chose; no window manager needs to give them back.
    QtWindowServices services;
    FormFixture f({{"a.txt", "one\r\n"}}, &services);
    QVERIFY(f.show());
    Form1& form = f.form();
    QStringList titles;
    QTimer answer;
    connect(&answer, &QTimer::timeout, [&titles] {
      QWidget* box = QApplication::activeModalWidget();
      if (!box || !box->isActiveWindow()) return;
      titles << box->windowTitle();
      QTest::keyClick(box, Qt::Key_Return);
    });
    answer.start(10);
    // A key typed into the window, where the focus is; false when the window has not got the
    // keys before the key or after what the key did.
    auto type = [&form](Qt::Key key) {
      if (!QTest::qWaitForWindowActive(&form)) return false;
      QTest::keyClick(QApplication::focusWidget(), key);
      return QTest::qWaitForWindowActive(&form);
    };
    QVERIFY(type(Qt::Key_Down));
    QVERIFY(type(Qt::Key_Return));
    QCOMPARE(titles, kLoad);
    QCOMPARE(FocusName(), "Command1");
    QVERIFY(type(Qt::Key_Return));  // Change and Save: the focus stays where it was
    QCOMPARE(titles, kLoad + kChange);
    QCOMPARE(FocusName(), "Command1");
    QWidget other;  // the window that sends the focus somewhere takes the keys back too
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    form.SetFocus(Control::File1);
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(FocusName(), "File1");
    QCOMPARE(form.IgnoreFileClick(), 0);  // new focus for the list: a click on it loads
  }

  void busyPointerNeverStacks() {
    {
      QtWindowServices services;
      services.SetMousePointer(11);
      services.SetMousePointer(11);
      QVERIFY(QGuiApplication::overrideCursor());
      QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
      services.SetMousePointer(0);
      QVERIFY(!QGuiApplication::overrideCursor());
      services.SetMousePointer(11);
    }
    QVERIFY(!QGuiApplication::overrideCursor());  // gone with the services
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
