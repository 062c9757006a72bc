// The real window on real keys, clicks and files; then the text window, the boxes, the pointer.
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTest>
#include <QTimer>
#include <memory>
#include <utility>
#include <vector>

#include "core/line_index.h"
#include "core/log_codec.h"
#include "platform/code_page.h"
#include "platform/qt_window_services.h"
#include "tests/core/test_files.h"
#include "ui/file_list_box.h"
#include "ui/form1.h"
#include "ui/keyword_box.h"
#include "ui/line_display.h"
#include "ui/working_text_view.h"
#include "ui/wrapping_check_box.h"
#ifdef Q_OS_WIN
#include "platform/win32/win_files.h"
#endif

using namespace parlotrim;

namespace {

// Window services that record each message box and answer it OK: no modal box ever appears.
struct ScriptedServices : WindowServices, testing::BoxLog {
  int MsgBox(QWidget*, const QString& prompt, int buttons, const QString& title) override {
    return Show(prompt, buttons, title);
  }
  void Beep() override {}
  void SetMousePointer(int) override {}
};

// A Form1 on a temporary folder holding logs (name, bytes); real: other services than the
// scripted ones; within: the folder in it where the program, and so its logs, lies.
struct FormFixture {
  explicit FormFixture(std::initializer_list<std::pair<NativeName, QByteArray>> logs = {},
                       WindowServices* real = nullptr, const NativeName& within = {}) {
    folder.mkdir(within);  // none when empty
    for (const auto& [name, bytes] : logs) folder.write(within + name, bytes);
    form = std::make_unique<Form1>(real ? *real : services, files, folder.file(within));
  }
  bool show() {  // false when the window never became active
    form->show();
    return QTest::qWaitForWindowActive(form.get());
  }

  testing::LogFolder folder;
  ScriptedServices services;
  SystemCalls disk;
  FileStore files{disk};
  std::unique_ptr<Form1> form;
};

const QColor kLightYellow(255, 255, 192);
const QMap<QString, QString> kBoxes = {{"Ask:Null Delete,Ask:Line Delete", "load"},
                                       {"Message:Log Change & Save,Complete Massage", "change"},
                                       {"Message:HTML Change & Save,Complete Massage", "html"}};

QColor Base(QWidget* w, QPalette::ColorGroup group = QPalette::Active) {
  return w->palette().color(group, QPalette::Base);
}

QString FocusName() {
  return QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : QString();
}

void LoadFirstEntry(const Form1Controls& c) {
  QTest::keyClick(c.File1, Qt::Key_Down);
  QTest::keyClick(c.File1, Qt::Key_Return);
}

struct KeyRow {
  QString from;                         // the control with the focus, which gets the keys
  QList<int> keys, clicks;              // each a key or button with its modifiers or'ed in
  QString start, result, on = "File1";  // result: focus (or "quit"), log, boxes; on: clicked
};

}  // namespace

Q_DECLARE_METATYPE(KeyRow)

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void startsWithNothingLoadedThenSwitchesEmphasis() {
    FormFixture f({{"b.txt", "x"}, {"A.TXT", ""}, {"c.txt.bak", ""}, {"d.log", ""}});
    // 200 twips above the middle, unclamped on the 800 x 800 offscreen screen; else centred.
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
      QCOMPARE(f.form->pos(), QPoint(-56, 109));
    else
      QVERIFY(qAbs(2 * f.form->x() + f.form->width() - f.form->screen()->size().width()) < 32);
    QVERIFY(f.show());
    const Form1Controls& c = f.form->Controls();
    QVERIFY(!c.Command1->isEnabled() && !c.Command3->isEnabled());
    QVERIFY(!c.Check1->isChecked() && !c.Text3->isEnabled() && c.Text2->isReadOnly());
    QVERIFY(c.Text1->Bytes().isEmpty() && c.Text2->text().isEmpty() && c.Label6->text().isEmpty());
    QCOMPARE(c.File1->count(), 2);
    QCOMPARE(f.form->windowTitle(), QStringLiteral("パーロトリムParlotrim"));
    QCOMPARE(Base(c.Text1), kLightYellow);
    QCOMPARE(Base(c.Text3, QPalette::Disabled), kLightYellow);
    // Each caption of one line is whole in its box, whichever face stands in for the Windows one.
    for (const QLabel* l : {c.Label1, c.Label2, c.Label3, c.Label4, c.Label7})
      QVERIFY2(l->fontMetrics().horizontalAdvance(l->text()) <= l->contentsRect().width(),
               qPrintable(l->objectName()));
    QTest::mouseClick(c.Command4, Qt::LeftButton);
    QTest::mouseClick(c.Label4, Qt::LeftButton);  // while the keyword box beside it is off
    const std::vector<testing::Box>& boxes = f.services.boxes;
    QCOMPARE(f.services.Titles(), (QStringList{"Product Information", "Product Information"}));
    QCOMPARE(boxes[1].prompt, boxes[0].prompt.split("\r\n").mid(2).join("\r\n"));
    QCOMPARE(boxes[0].buttons + boxes[1].buttons, 0);  // OK only
    // Emphasis on by a click at the end of its caption's second line; off, the keyword goes.
    QTest::mouseClick(c.Check1, Qt::LeftButton, {}, c.Check1->rect().bottomRight() - QPoint(3, 3));
    QVERIFY(c.Text3->isEnabled());
    QCOMPARE(Base(c.Text3), QApplication::palette().color(QPalette::Base));
    c.Text3->insert(QStringLiteral("連絡"));  // as an input method commits it
    c.Check1->setChecked(false);
    QVERIFY(!c.Text3->isEnabled() && c.Text3->text().isEmpty());
    QCOMPARE(Base(c.Text3, QPalette::Disabled), kLightYellow);
  }

  // Keys, then clicks, after a start: a log "loaded" or "failed" to load, the emphasis "ticked".
  void keysAndClicks_data() {
    QTest::addColumn<KeyRow>("row");
    const int down = Qt::Key_Down, up = Qt::Key_Up, enter = Qt::Key_Return, tab = Qt::Key_Tab;
    const int backtab = Qt::Key_Backtab, left = Qt::LeftButton, alt = Qt::AltModifier;
    const int shift = Qt::ShiftModifier, ctrl = Qt::ControlModifier, kp = Qt::Key_Enter;
    auto row = [](const char* name, const KeyRow& r) { QTest::newRow(name) << r; };
    const QList<int> walk = {down, down, down, up, Qt::Key_End, Qt::Key_Home, Qt::Key_C};
    row("keyboard walk loads nothing", {"File1", walk, {}, "", "File1 c.txt"});
    row("End from no selection", {"File1", {Qt::Key_End}, {}, "", "File1 c.txt"});
    row("Enter loads", {"File1", {down, down, enter}, {}, "", "Command1 b.txt load"});
    row("Enter, nothing selected", {"File1", {kp}, {}, "", "File1 Err:File select"});
    row("click without focus", {"Command2", {}, {left}, "", "Command1 b.txt load"});
    row("click with focus", {"File1", {down}, {left}, "", "Command1 b.txt load"});
    row("a key swallows a click", {"File1", {down, up}, {left, left}, "", "Command1 b.txt load"});
    row("Shift alone swallows too", {"File1", {Qt::Key_Shift}, {left}, "", "File1 b.txt"});
    row("Ctrl+click selected", {"File1", {down, down}, {ctrl | left}, "", "Command1 b.txt load"});
    const QList<int> nothing = {down, ctrl | Qt::Key_Space, ctrl | enter, shift | ctrl | enter};
    row("File1 Ctrl+Space, (Shift+)Ctrl+Enter", {"File1", nothing, {}, "", "File1 a.txt"});
    row("File1 Tab loads", {"File1", {down, tab}, {}, "", "Command1 a.txt load"});
    row("File1 Shift+Tab", {"File1", {shift | backtab}, {}, "", "Check1"});
    row("File1 Backtab, no modifier reported", {"File1", {backtab}, {}, "", "Check1"});
    row("Command1 Enter runs once", {"Command1", {enter}, {}, "loaded", "Command1 a.txt change"});
    row("Command1 Ctrl+Enter", {"Command1", {ctrl | enter}, {}, "loaded", "Command1 a.txt"});
    row("Command1 Tab", {"Command1", {tab}, {}, "loaded", "Command2 a.txt"});
    row("Command1 Shift+Enter", {"Command1", {shift | enter}, {}, "loaded", "File1 a.txt"});
    row("Command2 Enter quits", {"Command2", {enter}, {}, "", "quit"});
    const QList<int> others = {Qt::RightButton, Qt::MiddleButton, Qt::RightButton};  // no focus
    row("Command2 Alt+Enter, other clicks", {"Command2", {alt | enter}, others, "", "Command2"});
    row("Command2 Tab stays", {"Command2", {tab}, {}, "loaded", "Command2 a.txt"});
    row("Command2 Shift+Tab", {"Command2", {shift | backtab}, {}, "loaded", "Command1 a.txt"});
    row("Command2 Shift+Enter, not loaded", {"Command2", {shift | enter}, {}, "", "File1"});
    row("Check1 Enter, ticked", {"Check1", {enter}, {}, "ticked", "Text3"});
    row("Check1 Tab, unticked", {"Check1", {tab}, {}, "", "File1"});
    row("Check1 Shift+Enter", {"Check1", {shift | enter}, {}, "ticked", "File1"});
    row("Text3 Enter, loaded", {"Text3", {enter}, {}, "loaded ticked", "Command1 a.txt"});
    row("Text3 Tab, not loaded", {"Text3", {tab}, {}, "ticked", "File1"});
    row("Text3 Shift+Enter", {"Text3", {shift | enter}, {}, "ticked", "Check1"});
    row("Text3 Ctrl+Enter", {"Text3", {ctrl | enter}, {}, "loaded ticked", "Text3 a.txt"});
    row("F12 in Text1", {"Text1", {Qt::Key_F12}, {}, "loaded", "quit a.txt"});
    row("Shift+Ctrl+F12 in Text3", {"Text3", {shift | ctrl | Qt::Key_F12}, {}, "ticked", "quit"});
    // Outside the chain: the toolkit's traversal in the designed order; Enter presses a button.
    row("Text2 Tab", {"Text2", {tab}, {}, "loaded", "Text1 a.txt"});
    row("Command4 Tab", {"Command4", {tab}, {}, "", "Check1"});
    row("Command3 Enter saves HTML", {"Command3", {enter}, {}, "loaded", "Command3 a.txt html"});
    row("Command4 KP Enter", {"Command4", {kp}, {}, "", "Command4 Product Information"});
    // Clicks on the text window or name box hand the focus on; in the keyword box they select.
    row("Text1 clicked, nothing loaded", {"Command2", {}, {left}, "", "File1", "Text1"});
    row("Text1 clicked, read failed", {"Command2", {}, {left}, "failed", "File1 a.txt", "Text1"});
    row("Text2 clicked, read failed", {"Command2", {}, {left}, "failed", "File1 a.txt", "Text2"});
    row("Text2 clicked, loaded", {"Command2", {}, {left}, "loaded", "Command1 a.txt", "Text2"});
    row("Text3 clicked", {"File1", {}, {left}, "ticked", "Text3", "Text3"});
  }
  void keysAndClicks() {
    QFETCH(KeyRow, row);
    FormFixture f({{"a.txt", "alpha\r\n"}, {"b.txt", "bravo\r\n"}, {"c.txt", "charlie\r\n"}});
    QVERIFY(f.show());
    const Form1Controls& c = f.form->Controls();
    if (row.start.contains("failed")) QVERIFY(f.folder.remove("a.txt"));
    if (row.start.contains("loaded") || row.start.contains("failed")) LoadFirstEntry(c);
    c.Check1->setChecked(row.start.contains("ticked"));
    if (c.Check1->isChecked()) c.Text3->insert(QStringLiteral("連絡"));
    f.services.boxes.clear();
    QWidget* control = f.form->findChild<QWidget*>(row.from);
    control->setFocus();
    QSignalSpy keywordEnter(c.Text3, &QLineEdit::returnPressed);
    const int mods = Qt::KeyboardModifierMask;
    for (int key : row.keys)
      QTest::keyClick(control, Qt::Key(key & ~mods), Qt::KeyboardModifiers(key & mods));
    QWidget* clicked = f.form->findChild<QWidget*>(row.on);
    if (auto* area = qobject_cast<QAbstractScrollArea*>(clicked)) clicked = area->viewport();
    const QPoint at =
        row.on == "File1" ? c.File1->visualItemRect(c.File1->item(1)).center() : QPoint(5, 5);
    for (int b : row.clicks)
      QTest::mouseClick(clicked, Qt::MouseButton(b & ~mods), Qt::KeyboardModifiers(b & mods), at);
    QCOMPARE(keywordEnter.count(), 0);  // the window uses up Enter: the keyword box never sees it
    const QString titles = f.services.Titles().join(',');
    const QStringList got = {f.form->isVisible() ? FocusName() : "quit",
                             DecodeFileName(f.form->File1FileName()), kBoxes.value(titles, titles)};
    QCOMPARE(got.join(' ').simplified(), row.result);
    QCOMPARE(f.form->Text3(), QString(row.start.contains("ticked") ? "連絡" : ""));
    if (FocusName() == "Text3") QCOMPARE(c.Text3->selectedText(), c.Text3->text());
  }

  // A log in each encoding under a Japanese name in a Japanese folder, loaded, cleaned, changed and
  // exported: shown, copied and matched in its encoding; UTF-16 HTML starts with its BOM.
  void logInEachEncodingEndToEnd_data() {
    QTest::addColumn<int>("encoding");  // LogEncoding
    QTest::addColumn<QByteArray>("bom");
    QTest::addColumn<QString>("charset");  // for Unicode also the encoder the test writes with
    auto row = [](const char* name, LogEncoding e, const char* bom, const char* charset) {
      QTest::newRow(name) << int(e) << QByteArray(bom) << QString(charset);
    };
    row("shift jis", LogEncoding::Ansi, "", "x-sjis");
    row("utf-8", LogEncoding::Utf8, "", "UTF-8");
    row("utf-8 bom", LogEncoding::Utf8, "\xef\xbb\xbf", "UTF-8");
    row("utf-16 le", LogEncoding::Utf16Le, "\xff\xfe", "UTF-16LE");
    row("utf-16 be", LogEncoding::Utf16Be, "\xfe\xff", "UTF-16BE");
    row("iso-2022-jp", LogEncoding::Iso2022Jp, "", "ISO-2022-JP");
  }
  void logInEachEncodingEndToEnd() {
    QFETCH(int, encoding);
    QFETCH(QByteArray, bom);
    QFETCH(QString, charset);
    const auto unicode = QStringConverter::encodingForName(charset.toLatin1().constData());
    auto e = [&](const QString& text) {  // the others as the program writes them
      if (!unicode) return EncodeForLog(text, LogEncoding(encoding));
      return QByteArray(QStringEncoder(*unicode).encode(text));
    };
    const NativeName folder = testing::NameOf(QStringLiteral("ログ")) + kFolderSeparator,
                     logName = testing::NameOf(QStringLiteral("ログ.txt"));
    FormFixture f({{logName, bom + e(QStringLiteral("たろう\r\n----\r\n\r\n連絡: x"))}}, nullptr,
                  folder);
    QVERIFY(f.show());
    const Form1Controls& c = f.form->Controls();
    QCOMPARE(c.File1->item(0)->text(), QStringLiteral("ログ.txt"));
    QStringList label6;  // while each box is up
    f.services.onBox = [&](const testing::Box&) { label6 << c.Label6->text(); };
    LoadFirstEntry(c);
    QCOMPARE(c.Text2->text(), QStringLiteral("ログ.txt"));
    QCOMPARE(c.Label6->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    QVERIFY(c.Text1->Bytes() == e(QStringLiteral("\r\nたろう\r\n連絡: x")));
    c.Text1->SelectAll();
    c.Text1->Copy();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("\r\nたろう\r\n連絡: x"));
    QTest::mouseClick(c.Command1, Qt::LeftButton);
    QVERIFY(f.folder.read(folder + logName) ==
            bom + e(QStringLiteral("連絡: x\r\nたろう\r\n\r\n")));
    QCOMPARE(f.folder.entries(folder), QList<NativeName>{logName});
    QVERIFY(c.Text1->Bytes() == e(QStringLiteral("連絡: x\r\nたろう\r\n")));
    QCOMPARE(label6, (QStringList{"", "", "Before", "After"}));
    c.Check1->setChecked(true);
    c.Text3->insert(QStringLiteral("連絡"));
    QTest::mouseClick(c.Command3, Qt::LeftButton);
    const QByteArray html = f.folder.read(folder + testing::NameOf(QStringLiteral("ログ.html")));
    QVERIFY(html.startsWith((charset.startsWith("UTF-16") ? bom : QByteArray()) + e("<html>\r\n")));
    QVERIFY(html.contains(e("charset=" + charset + "\"")));
    const QString title = charset == "ISO-2022-JP" ? "&#12525;&#12464;" : "ログ";  // references
    QVERIFY(html.contains(e("<title>" + title + ".html</title>")));
    QVERIFY(html.contains(e(QStringLiteral("たろう<br>\r\n<strong>連絡: x</strong><br>\r\n"))));
    QVERIFY(html.endsWith(e(QStringLiteral("</body></html>\r\n"))));
  }

  void linesAsShown() {
    const LogEncoding ansi = LogEncoding::Ansi;
    const QByteArray utf8Cut = QByteArray(kMaxShownBytes - 1, 'x') + "\xe3\x81\x9f";
    const QList<std::tuple<QByteArray, QStringList, LogEncoding>> cases = {
        {"", {""}, ansi},  // an empty text is one empty line
        {"\r\nabc\r\nxyz", {"", "abc", "xyz"}, ansi},
        {"a\nb\r\nc", {"a\u240Ab", "c"}, ansi},  // a lone LF is a symbol, not a break
        {"a\rb\r\r\nc", {"a\u240Db\u240D", "c"}, ansi},
        {"a\n\rb", {"a\u240A\u240Db"}, ansi},
        {QByteArray("\x82\xa0\0\x1b\x7f", 5), {"あ\u2400\u241B\u2421"}, ansi},
        {"ab\tc\r\nabcdefgh\tc", {"ab      c", "abcdefgh        c"}, ansi},  // tab stops of 8
        {QByteArray(kMaxShownBytes + 10, 'x'), {QString(kMaxShownBytes, 'x') + u'\u2026'}, ansi},
        // Other encodings: lines split at CR LF in code units, decoded in the log's encoding.
        {QByteArray("\x5f\x30\r\0\n\0\x0d\x0a\r\0\x00\xd8\r\0\n\0x", 17),
         {"た", "\u0A0D\u240D\uFFFD", "\uFFFD"},
         LogEncoding::Utf16Le},
        {QByteArray("\x30\x5f\0\r\0\n\0\t", 8), {"た", "        "}, LogEncoding::Utf16Be},
        {"\xe3\x81\x9f\r\n\xef\xbd\xb1\n", {"た", "ｱ\u240A"}, LogEncoding::Utf8},
        {utf8Cut + "y", {QString(kMaxShownBytes - 1, 'x') + u'\u2026'}, LogEncoding::Utf8},
        {"\x1b$B$?\x1b(B\r\na", {"た", "a"}, LogEncoding::Iso2022Jp},
    };
    for (const auto& [text, shown, encoding] : cases) {
      const LineIndex index(text, encoding);
      QStringList got;
      for (qsizetype n = 0; n < index.LineCount(); ++n)
        got << LineForDisplay(index.Line(text, n), encoding);
      QCOMPARE(got, shown);
      QVERIFY(index.Line(text, index.LineCount()).isEmpty() && index.Line(text, -1).isEmpty());
    }
  }

  // A small text and one large enough to be indexed on another thread.
  void textViewScrollsAndCopies() {
    for (int lines : {1000, 400000}) {
      WorkingTextView view;
      view.resize(300, 200);
      view.show();
      QByteArray text("\x82\xa0\nb");
      for (int i = 0; i < lines; ++i) text += "\r\nline " + QByteArray::number(i);
      view.SetBytes(text.append(400, 'w'));
      QCoreApplication::processEvents();
      QScrollBar* v = view.verticalScrollBar();
      QCOMPARE(v->maximum(), lines + 1 - v->pageStep());
      QVERIFY(view.horizontalScrollBar()->maximum() > 0);
      QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
      QCOMPARE(view.TopLine(), v->maximum());
      QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
      QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
      QCOMPARE(QGuiApplication::clipboard()->text(), "あ\nb" + QString::fromLatin1(text.mid(4)));
      view.SetBytes(text);  // new text starts again at the top, unselected
      QVERIFY(view.TopLine() == 0 && !view.AllSelected());
      view.SetBytes(view.Bytes());
      QCOMPARE(view.LineCount(), lines + 1);
    }
  }

  // The logs lie in the program's folder, with one separator after it, also at a drive's root.
  void logFolderIsTheProgramFolder() {
    FormFixture f({{"a.txt", "alpha\r\n"}});
    const NativeName path = f.folder.path();
    std::vector<std::pair<NativeName, NativeName>> rows = {{path.chopped(1), path}, {path, path}};
#ifdef Q_OS_WIN
    // A drive letter for the log folder, as subst makes one; Wine maps drive letters only
    // through the links of its prefix, so under Wine the runner names a drive of its own,
    // whose root is an empty folder.
    QString drive = qEnvironmentVariable("PARLOTRIM_ROOT_DRIVE");
    const bool defined = drive.isEmpty() && ::DefineDosDeviceW(0, L"P:", win::W(path.chopped(1)));
    if (defined)
      drive = QStringLiteral("P:\\");
    else if (!drive.isEmpty())
      QFile::copy(path + "a.txt", drive + "a.txt");
    if (!drive.isEmpty()) rows.push_back({drive, drive});
#endif
    for (const auto& [program, logFolder] : rows) {
      Form1 form(f.services, f.files, program);
      QCOMPARE(form.LogFolder(), logFolder);
      LoadFirstEntry(form.Controls());
      QCOMPARE(form.Controls().Label6->text(), QStringLiteral("Before"));
    }
#ifdef Q_OS_WIN
    if (defined)
      ::DefineDosDeviceW(DDD_REMOVE_DEFINITION, L"P:", nullptr);
    else
      QFile::remove(drive + "a.txt");
    QVERIFY2(!drive.isEmpty(), "no drive letter could be mapped");
#endif
  }

  // The busy pointer is one override, never stacked, and goes with the services.
  void busyPointer() {
    auto services = std::make_unique<QtWindowServices>();
    QList<int> shapes;  // the override's after each step, -1 for none
    for (int code : {vbHourglass, vbHourglass, vbDefault, vbHourglass, -1}) {  // -1: services go
      code < 0 ? services.reset() : services->SetMousePointer(code);
      const QCursor* cursor = QGuiApplication::overrideCursor();
      shapes << (cursor ? int(cursor->shape()) : -1);
    }
    QCOMPARE(shapes, (QList<int>{Qt::WaitCursor, Qt::WaitCursor, -1, Qt::WaitCursor, -1}));
  }

  // The real boxes: plain text, no icon, OK the default; Enter answers OK, Esc and the close box
  // Cancel. After each the window has the keys again, with no window manager to give them back.
  void boxesGiveTheKeysBack() {
    QtWindowServices services;
    FormFixture f({{"a.txt", "one\r\n\r\n----\r\n"}}, &services);
    QVERIFY(f.show());
    QList<int> answers = {Qt::Key_Escape, 0, Qt::Key_Return, Qt::Key_Return, Qt::Key_Enter};
    QStringList seen;  // each box's title and number of buttons, "odd" where not as above
    QString text;      // the last box's
    QTimer answer;
    connect(&answer, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (!box || !box->isActiveWindow()) return;
      const bool plain = box->textFormat() == Qt::PlainText && box->icon() == QMessageBox::NoIcon &&
                         box->defaultButton() == box->button(QMessageBox::Ok);
      seen << box->windowTitle() + (plain ? " " : " odd ") + QString::number(box->buttons().size());
      text = box->text();
      const int key = answers.isEmpty() ? Qt::Key_Return : answers.takeFirst();
      key ? QTest::keyClick(box, Qt::Key(key)) : void(box->close());  // 0: the close box
    });
    answer.start(10);
    auto keys = [&f] { return QTest::qWaitForWindowActive(f.form.get()) ? FocusName() : "none"; };
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QCOMPARE(keys(), "File1");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(keys(), "Command1");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QCOMPARE(keys(), "Command1");  // Change and Save: the focus stays where it was
    QCOMPARE(f.folder.read("a.txt"), "----\r\n\r\none\r\n\r\n");  // the questions turned down
    // A box without a parent takes the keys from the window that has them, and gives them back.
    QCOMPARE(services.MsgBox(nullptr, "a <b>\r\nc", vbOKCancel, "Ask:x"), vbOK);
    QCOMPARE(keys(), "Command1");
    QCOMPARE(text, "a <b>\nc");
    QCOMPARE(seen, (QStringList{"Ask:Null Delete 2", "Ask:Line Delete 2",
                                "Message:Log Change & Save 2", "Complete Massage 1", "Ask:x 2"}));
    QWidget other;  // the window that sends the focus somewhere takes the keys back too
    other.show();
    other.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&other));
    f.form->SetFocus(Control::File1);
    QCOMPARE(keys(), "File1");
    QCOMPARE(f.form->IgnoreFileClick(), 0);  // new focus for the list: a click on it loads
  }
};

QTEST_MAIN(WindowTest)
#include "window_test.moc"
