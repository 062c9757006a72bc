// The Qt message boxes and the busy pointer.
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "platform/qt_window_services.h"

using parlotrim::QtWindowServices;

namespace {

// Runs act on the message box once it is up (from the box's own event loop).
void WhenBoxIsUp(std::function<void(QMessageBox*)> act) {
  QTimer::singleShot(0, [act] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) {
      QFAIL("no message box is up");
      return;
    }
    act(box);
  });
}

}  // namespace

class WindowServicesTest : public QObject {
  Q_OBJECT

 private slots:
  void answers_data() {
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("result");
    QTest::newRow("OK/Cancel, Enter") << 1 << int(Qt::Key_Return) << 1;
    QTest::newRow("OK/Cancel, keypad Enter") << 1 << int(Qt::Key_Enter) << 1;
    QTest::newRow("OK/Cancel, Esc") << 1 << int(Qt::Key_Escape) << 2;
    QTest::newRow("OK only, Enter") << 0 << int(Qt::Key_Return) << 1;
  }
  void answers() {
    QFETCH(int, buttons);
    QFETCH(int, key);
    QFETCH(int, result);
    QtWindowServices services;
    WhenBoxIsUp([key](QMessageBox* box) { QTest::keyClick(box, Qt::Key(key)); });
    QCOMPARE(services.MsgBox(nullptr, QStringLiteral("prompt"), buttons, QStringLiteral("t")),
             result);
  }

  void closeBoxAnswersCancel() {
    QtWindowServices services;
    WhenBoxIsUp([](QMessageBox* box) { box->close(); });
    QCOMPARE(services.MsgBox(nullptr, QStringLiteral("p"), 1, QStringLiteral("t")), 2);
  }

  void showsTitlePlainPromptNoIconAndOkAsDefault() {
    QtWindowServices services;
    QString title, text;
    int buttons = 0;
    bool iconless = false, okDefault = false;
    Qt::TextFormat format = Qt::AutoText;
    WhenBoxIsUp([&](QMessageBox* box) {
      title = box->windowTitle();
      text = box->text();
      format = box->textFormat();
      iconless = box->icon() == QMessageBox::NoIcon;
      buttons = int(box->buttons().size());
      okDefault = box->defaultButton() == box->button(QMessageBox::Ok);
      box->button(QMessageBox::Ok)->click();
    });
    QCOMPARE(services.MsgBox(nullptr, QStringLiteral("a <b>\r\nc"), 1, QStringLiteral("Ask:x")), 1);
    QCOMPARE(title, QStringLiteral("Ask:x"));
    QCOMPARE(text, QStringLiteral("a <b>\nc"));
    QCOMPARE(format, Qt::PlainText);
    QVERIFY(iconless);
    QCOMPARE(buttons, 2);
    QVERIFY(okDefault);
  }

  void busyPointerNeverStacks() {
    QtWindowServices services;
    services.SetMousePointer(11);
    services.SetMousePointer(11);
    QVERIFY(QGuiApplication::overrideCursor());
    QCOMPARE(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    services.SetMousePointer(0);
    QVERIFY(!QGuiApplication::overrideCursor());
    services.SetMousePointer(0);
    QVERIFY(!QGuiApplication::overrideCursor());
  }

  void busyPointerGoesWithTheServices() {
    {
      QtWindowServices services;
      services.SetMousePointer(11);
    }
    QVERIFY(!QGuiApplication::overrideCursor());
  }
};

QTEST_MAIN(WindowServicesTest)
#include "window_services_test.moc"
