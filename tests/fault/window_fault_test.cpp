// A failure seen in the real window: the "Err:" box comes with the ordinary pointer, never the
// hourglass; the status still reads "Before"; both buttons still work.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "platform/file_store.h"
#include "platform/qt_window_services.h"
#include "tests/core/test_files.h"
#include "ui/file_list_box.h"
#include "ui/form1.h"

namespace parlotrim {
namespace {

// The real pointer service, with every box answered OK at once and noted by its title and
// whether the hourglass was over it.
class AnsweringServices : public QtWindowServices {
 public:
  int MsgBox(QWidget*, const QString&, int, const QString& title) override {
    boxes << title + (QGuiApplication::overrideCursor() ? " under the hourglass" : "");
    return 1;
  }
  QStringList boxes;
};

TEST(WindowFaults, FailureLeavesWindowReady) {
  for (bool change : {true, false}) {
    SCOPED_TRACE(change ? "log deleted, Change and Save" : "document name taken by a folder");
    parlotrim::testing::LogFolder folder;
    folder.write("log.txt", "A\r\nB\r\n");
    AnsweringServices services;
    PosixCalls calls;
    FileStore disk(calls);
    Form1 form(services, disk, folder.path().chopped(1));
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    const Form1Controls& c = form.Controls();
    QTest::keyClick(c.File1, Qt::Key_Down);
    QTest::keyClick(c.File1, Qt::Key_Return);
    ASSERT_EQ(c.Label6->text(), "Before");

    ASSERT_TRUE(change ? ::unlink(folder.file("log.txt").constData()) == 0
                       : ::mkdir(folder.file("log.html").constData(), 0755) == 0);
    services.boxes.clear();
    QTest::mouseClick(change ? c.Command1 : c.Command3, Qt::LeftButton);
    ASSERT_EQ(services.boxes.size(), 2);
    EXPECT_EQ(services.boxes.back(), change ? "Err:File read" : "Err:File write");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(c.Label6->text(), "Before");
    EXPECT_TRUE(c.Command1->isEnabled() && c.Command3->isEnabled());
  }
}

}  // namespace
}  // namespace parlotrim

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
