// The text window: how the working text is cut into lines and shown, scrolling, and copying.
#include <QClipboard>
#include <QGuiApplication>
#include <QScrollBar>
#include <QTest>

#include "ui/line_display.h"
#include "ui/line_index.h"
#include "ui/working_text_view.h"

using parlotrim::LineForDisplay;
using parlotrim::LineIndex;
using parlotrim::WorkingTextView;

class TextViewTest : public QObject {
  Q_OBJECT

 private slots:
  void linesAreCutAtCrLfOnly_data() {
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::addColumn<int>("longest");
    using L = QList<QByteArray>;
    QTest::newRow("empty text is one empty line") << QByteArray() << L{""} << 0;
    QTest::newRow("working text after a load")
        << QByteArray("\r\nabc\r\nxyz") << L{"", "abc", "xyz"} << 1;
    QTest::newRow("lone LF stays in its line") << QByteArray("a\nb\r\nc") << L{"a\nb", "c"} << 0;
    QTest::newRow("lone CR stays in its line") << QByteArray("a\rb\r\n") << L{"a\rb", ""} << 0;
    QTest::newRow("CR before CR LF") << QByteArray("a\r\r\nb") << L{"a\r", "b"} << 0;
    QTest::newRow("LF CR is no break") << QByteArray("a\n\rb") << L{"a\n\rb"} << 0;
    QTest::newRow("CR at the very end") << QByteArray("ab\r") << L{"ab\r"} << 0;
    QTest::newRow("empty lines only") << QByteArray("\r\n\r\n") << L{"", "", ""} << 0;
    QTest::newRow("longest last") << QByteArray("a\r\nbb\r\nccc") << L{"a", "bb", "ccc"} << 2;
  }
  void linesAreCutAtCrLfOnly() {
    QFETCH(QByteArray, text);
    QFETCH(QList<QByteArray>, lines);
    QFETCH(int, longest);
    const LineIndex index(text);
    QList<QByteArray> got;
    for (qsizetype n = 0; n < index.LineCount(); ++n) got << index.Line(text, n).toByteArray();
    QCOMPARE(got, lines);
    QCOMPARE(index.LongestLine(), longest);
    QVERIFY(index.Line(text, index.LineCount()).isEmpty());
    QVERIFY(index.Line(text, -1).isEmpty());
  }

  void controlCharactersShowAsSymbols_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QByteArray("abc") << QStringLiteral("abc");
    QTest::newRow("shift jis") << QByteArray("\x82\xa0\x8a\xbf") << QStringLiteral("あ漢");
    QTest::newRow("lone LF") << QByteArray("a\nb") << QStringLiteral("a\u240Ab");
    QTest::newRow("lone CR") << QByteArray("a\rb") << QStringLiteral("a\u240Db");
    QTest::newRow("NUL and ESC") << QByteArray("\0\x1b", 2) << QStringLiteral("\u2400\u241B");
    QTest::newRow("DEL") << QByteArray("\x7f") << QStringLiteral("\u2421");
    QTest::newRow("tab to column 8") << QByteArray("ab\tc") << QStringLiteral("ab      c");
    QTest::newRow("tab on a stop")
        << QByteArray("abcdefgh\tc") << QStringLiteral("abcdefgh        c");
    QTest::newRow("invalid byte") << QByteArray(
                                         "a\xa0"
                                         "b")
                                  << QStringLiteral("a\uFFFDb");
  }
  void controlCharactersShowAsSymbols() {
    QFETCH(QByteArray, line);
    QFETCH(QString, shown);
    const QString got = LineForDisplay(line);
    // A code page may map a byte that is no character to a private-use character instead.
    if (QTest::currentDataTag() == QByteArray("invalid byte") &&
        got.at(1).category() == QChar::Other_PrivateUse)
      return;
    QCOMPARE(got, shown);
  }

  void veryLongLineIsCut() {
    const QByteArray line(parlotrim::kMaxShownBytes + 10, 'x');
    const QString shown = LineForDisplay(line);
    QCOMPARE(shown.size(), parlotrim::kMaxShownBytes + 1);
    QCOMPARE(shown.back(), QChar(0x2026));
  }

  void scrollsByLinesAndFromTheTop() {
    WorkingTextView view;
    view.resize(300, 200);
    view.show();
    QByteArray text;
    for (int i = 0; i < 1000; ++i) text += "\r\nline " + QByteArray::number(i);
    view.SetBytes(text);
    QCOMPARE(view.LineCount(), 1001);
    QScrollBar* v = view.verticalScrollBar();
    QCOMPARE(v->maximum(), 1001 - v->pageStep());
    QTest::keyClick(&view, Qt::Key_Down);
    QCOMPARE(view.TopLine(), 1);
    QTest::keyClick(&view, Qt::Key_PageDown);
    QCOMPARE(view.TopLine(), 1 + v->pageStep());
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(view.TopLine(), v->maximum());
    // New text starts again at the top.
    view.SetBytes(text);
    QCOMPARE(view.TopLine(), 0);
  }

  void longLinesScrollSideways() {
    WorkingTextView view;
    view.resize(300, 200);
    view.show();
    view.SetBytes("\r\nshort\r\n" + QByteArray(400, 'w'));
    QScrollBar* h = view.horizontalScrollBar();
    QVERIFY(h->maximum() > 0);
    QTest::keyClick(&view, Qt::Key_End);
    QCOMPARE(h->value(), h->maximum());
    QTest::keyClick(&view, Qt::Key_Home);
    QCOMPARE(h->value(), 0);
    view.SetBytes("short");
    QCOMPARE(h->maximum(), 0);
  }

  void selectAllAndCopyGiveTheWholeText() {
    WorkingTextView view;
    view.show();
    view.SetBytes("\r\n\x82\xa0\nb\r\nc");
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    QTest::keyClick(&view, Qt::Key_A, Qt::ControlModifier);
    QVERIFY(view.AllSelected());
    QTest::keyClick(&view, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("\r\nあ\nb\r\nc"));
    view.SetBytes("x");
    QVERIFY(!view.AllSelected());
  }
};

QTEST_MAIN(TextViewTest)
#include "text_view_test.moc"
