// End to end through the real window: load, Change and Save, HTML Save, quit and the product
// information messages, with scripted answers to the message boxes and the files on disk.
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "form_fixture.h"
#include "platform/code_page.h"
#include "ui/file_list_box.h"
#include "ui/keyword_box.h"
#include "ui/working_text_view.h"
#include "ui/wrapping_check_box.h"

using namespace parlotrim;
using parlotrim::testing::FormFixture;
using parlotrim::testing::ShownBox;
using parlotrim::testing::Titles;

namespace {

QByteArray Sjis(const QString& text) {
  return EncodeCodePage(text);
}

// A log with a separator, a blank line, a line that begins with the keyword, a single dash and
// markup characters.
QByteArray ChatLog() {
  return Sjis(QStringLiteral("----\r\n一行目\r\n\r\n連絡: 二行目\r\n-\r\n<b>&</b>\r\n"));
}

void Click(QWidget* w) {
  QTest::mouseClick(w, Qt::LeftButton);
}

void LoadFirstEntry(FormFixture& f) {
  QTest::keyClick(f.c().File1, Qt::Key_Down);
  QTest::keyClick(f.c().File1, Qt::Key_Return);
}

QColor TextColour(QLabel* label) {
  return label->palette().color(QPalette::WindowText);
}

}  // namespace

class OperationsFlowTest : public QObject {
  Q_OBJECT

 private slots:
  void loadChangeAndSaveThenHtmlSave() {
    FormFixture f({{"chat.txt", ChatLog()}});
    QVERIFY(f.show());
    const Form1Controls& c = f.c();
    QString label6AtCompletion;
    f.services.onBox = [&](const ShownBox& box) {
      if (box.title == QStringLiteral("Complete Massage")) label6AtCompletion = c.Label6->text();
    };

    LoadFirstEntry(f);
    QCOMPARE(Titles(f.services), (QStringList{"Ask:Null Delete", "Ask:Line Delete"}));
    QVERIFY(f.form().Flags().NullDelete && f.form().Flags().LineDelete);
    QCOMPARE(c.Text1->Bytes(), Sjis(QStringLiteral("\r\n一行目\r\n連絡: 二行目\r\n<b>&</b>")));
    QCOMPARE(c.Text1->LineCount(), 4);
    QCOMPARE(c.Label6->text(), QStringLiteral("Before"));
    QCOMPARE(TextColour(c.Label6), QColor(255, 0, 0));
    QVERIFY(c.Command1->isEnabled() && c.Command3->isEnabled());
    QCOMPARE(f.services.pointer, 0);

    f.services.boxes.clear();
    Click(c.Command1);
    QCOMPARE(Titles(f.services), (QStringList{"Message:Log Change & Save", "Complete Massage"}));
    QCOMPARE(f.services.boxes[1].prompt, QStringLiteral("Text change complete!"));
    const QByteArray reversed = Sjis(QStringLiteral("<b>&</b>\r\n連絡: 二行目\r\n一行目\r\n"));
    QCOMPARE(f.read("chat.txt"), reversed + "\r\n");
    QCOMPARE(c.Text1->Bytes(), reversed);
    QCOMPARE(label6AtCompletion, QStringLiteral("After"));
    QCOMPARE(TextColour(c.Label6), QColor(0, 0, 255));
    QCOMPARE(f.services.pointer, 0);

    c.Check1->setChecked(true);
    c.Text3->insert(QStringLiteral("連絡"));  // as an input method commits it
    f.services.boxes.clear();
    label6AtCompletion.clear();
    Click(c.Command3);
    QCOMPARE(Titles(f.services), (QStringList{"Message:HTML Change & Save", "Complete Massage"}));
    // The log now holds the reversed lines (and a last empty one, which the blank rule drops);
    // the document reverses them once more.
    const QByteArray body =
        Sjis(QStringLiteral("一行目<br>\r\n<strong>連絡: 二行目</strong><br>\r\n<b>&</b><br>\r\n"));
    const QByteArray head =
        "<html>\r\n<head>\r\n"
        "<meta http-equiv=\"Content-Type\"content=\"text/html; charset=x-sjis\">\r\n" +
        Sjis(QStringLiteral("<meta name=\"GENERATOR\" content=\"プログラム名　パーロトリム "
                            "Parlotrim\">\r\n")) +
        "<title>chat.html</title>\r\n</head>\r\n<body bgcolor=\"#FFFFFF\">\r\n";
    QCOMPARE(f.read("chat.html"), head + body + "\r\n</body></html>\r\n");
    QCOMPARE(c.Text1->Bytes(), body);
    QCOMPARE(label6AtCompletion, QStringLiteral("After"));
    QCOMPARE(f.read("chat.txt"), reversed + "\r\n");  // HTML Save only reads the log
    QCOMPARE(f.entries(), (QStringList{"chat.html", "chat.txt"}));
  }

  void loadWithBothAnswersCancelKeepsEveryLine() {
    FormFixture f({{"chat.txt", ChatLog()}});
    QVERIFY(f.show());
    f.services.answers = {2, 2};
    LoadFirstEntry(f);
    QVERIFY(!f.form().Flags().NullDelete && !f.form().Flags().LineDelete);
    QCOMPARE(f.c().Text1->Bytes(),
             Sjis(QStringLiteral("\r\n----\r\n一行目\r\n\r\n連絡: 二行目\r\n-\r\n<b>&</b>")));
  }

  void cancelledChangeLeavesTheLog() {
    FormFixture f({{"chat.txt", ChatLog()}});
    QVERIFY(f.show());
    LoadFirstEntry(f);
    f.services.boxes.clear();
    f.services.answers = {2};
    Click(f.c().Command1);
    QCOMPARE(Titles(f.services),
             (QStringList{"Message:Log Change & Save", "Message:Log Change & Save"}));
    QCOMPARE(f.services.boxes[1].prompt, QStringLiteral("処理は中断されました。"));
    QCOMPARE(f.services.beeps, 1);
    QCOMPARE(f.read("chat.txt"), ChatLog());
    QCOMPARE(QApplication::focusWidget(), f.c().File1);
    QCOMPARE(f.c().Label6->text(), QStringLiteral("Before"));
  }

  void logThatVanishedIsReported() {
    FormFixture f({{"gone.txt", "x"}});
    QVERIFY(f.show());
    QVERIFY(QFile::remove(f.folder() + "gone.txt"));
    LoadFirstEntry(f);
    QCOMPARE(Titles(f.services),
             (QStringList{"Ask:Null Delete", "Ask:Line Delete", "Err:File read"}));
    QCOMPARE(f.services.pointer, 0);
    QVERIFY(!f.c().Command1->isEnabled());
    QCOMPARE(QApplication::focusWidget(), f.c().File1);
    QVERIFY(f.entries().isEmpty());
  }

  void quitAsksNothingAndWritesNothing() {
    FormFixture f({{"chat.txt", ChatLog()}});
    QVERIFY(f.show());
    LoadFirstEntry(f);
    f.services.boxes.clear();
    Click(f.c().Command2);
    QVERIFY(!f.form().isVisible());
    QVERIFY(f.services.boxes.empty());
    QCOMPARE(f.read("chat.txt"), ChatLog());
    QCOMPARE(f.entries(), QStringList{"chat.txt"});
  }

  void closeBoxQuitsToo() {
    FormFixture f;
    QVERIFY(f.show());
    QVERIFY(f.form().close());
    QVERIFY(!f.form().isVisible());
    QVERIFY(f.services.boxes.empty());
  }

  void productInformation() {
    FormFixture f;
    QVERIFY(f.show());
    const Form1Controls& c = f.c();
    Click(c.Command4);
    Click(c.Label4);  // takes clicks while the keyword box beside it is disabled
    QCOMPARE(Titles(f.services), (QStringList{"Product Information", "Product Information"}));
    const QStringList full = f.services.boxes[0].prompt.split(QStringLiteral("\r\n"));
    QCOMPARE(full.size(), 5);
    QCOMPARE(full[0], QStringLiteral("プログラム名　パーロトリム Parlotrim"));
    QCOMPARE(full[1], QStringLiteral("　　　　　　　　(Ver 1.30)"));
    QVERIFY(!full[2].isEmpty());
    for (int i : {3, 4}) {
      QVERIFY(full[i].startsWith(QString(16, QLatin1Char(' '))));
      QVERIFY(full[i].at(16) != QLatin1Char(' '));
    }
    QVERIFY(full[4].contains(QStringLiteral("@example.org")));
    QCOMPARE(f.services.boxes[1].prompt, full.mid(2).join(QStringLiteral("\r\n")));
    QCOMPARE(f.services.boxes[0].buttons, 0);
    QCOMPARE(f.services.boxes[1].buttons, 0);
    QVERIFY(c.Label6->text().isEmpty());
    QVERIFY(c.Text1->Bytes().isEmpty());
    QVERIFY(!c.Command1->isEnabled());
  }
};

QTEST_MAIN(OperationsFlowTest)
#include "operations_flow_test.moc"
