// Failures seen from the real window: after a failed Change and Save or HTML Save the user
// has read an "Err:" box naming the file (with the ordinary pointer, not the hourglass, over
// it), the status still reads "Before" in red, both buttons still work, and the files are as
// they were.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_store.h"
#include "platform/qt_window_services.h"
#include "tests/fault/fault_support.h"
#include "ui/file_list_box.h"
#include "ui/form1.h"

namespace parlotrim {
namespace {

// The real pointer service, with message boxes answered OK at once. Notes for each box
// whether the hourglass was showing over it.
class AnsweringServices : public QtWindowServices {
 public:
  int MsgBox(QWidget*, const QString& prompt, int, const QString& title) override {
    boxes.push_back({prompt, title, QGuiApplication::overrideCursor() != nullptr});
    return 1;
  }
  struct Box {
    QString prompt;
    QString title;
    bool hourglass;
  };
  std::vector<Box> boxes;
};

class FailingSyncStore : public DiskFileStore {
 protected:
  bool Sync(QSaveFile&, QString* error) override {
    *error = QStringLiteral("Input/output error");
    return false;
  }
};

enum class Op { Change, Html };

struct Case {
  const char* name;
  Op op;
  std::function<void(const QString& folder)> inject;
  bool failingSync;
  const char* title;
  const char* failing;
};

TEST(WindowFaults, FailureLeavesWindowReadyAndFilesAlone) {
  auto removeLog = [](const QString& folder) { ASSERT_TRUE(QFile::remove(folder + "log.txt")); };
  auto nothing = [](const QString&) {};
  auto folderAsDocument = [](const QString& folder) {
    ASSERT_TRUE(QDir().mkpath(folder + "log.html/inside"));
  };
  const std::vector<Case> cases = {
      {"log deleted, Change and Save", Op::Change, removeLog, false, "Err:File read", "log.txt"},
      {"log deleted, HTML Save", Op::Html, removeLog, false, "Err:File read", "log.txt"},
      {"sync fails, Change and Save", Op::Change, nothing, true, "Err:File write", "log.txt"},
      {"sync fails, HTML Save", Op::Html, nothing, true, "Err:File write", "log.html"},
      {"document is a folder", Op::Html, folderAsDocument, false, "Err:File write", "log.html"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString folder = dir.path() + QLatin1Char('/');
    {
      QFile log(folder + "log.txt");
      ASSERT_TRUE(log.open(QIODevice::WriteOnly));
      log.write(testing::MakeLog(4000));
    }
    AnsweringServices services;
    DiskFileStore disk;
    FailingSyncStore failingSync;
    FileStore& store = c.failingSync ? static_cast<FileStore&>(failingSync) : disk;
    Form1 form(services, store, dir.path());
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));
    const Form1Controls& controls = form.Controls();
    QTest::keyClick(controls.File1, Qt::Key_Down);
    QTest::keyClick(controls.File1, Qt::Key_Return);
    ASSERT_EQ(controls.Label6->text(), "Before");
    const QColor red = controls.Label6->palette().color(QPalette::WindowText);

    c.inject(folder);
    if (::testing::Test::HasFatalFailure()) return;
    const testing::Snapshot before = testing::TakeSnapshot(folder);
    services.boxes.clear();
    QTest::mouseClick(c.op == Op::Change ? controls.Command1 : controls.Command3, Qt::LeftButton);

    ASSERT_EQ(services.boxes.size(), 2u);
    const AnsweringServices::Box& error = services.boxes.back();
    EXPECT_EQ(error.title, c.title);
    EXPECT_TRUE(error.prompt.contains(QDir::toNativeSeparators(folder + c.failing)))
        << error.prompt.toStdString();
    EXPECT_FALSE(error.hourglass);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(controls.Label6->text(), "Before");
    EXPECT_EQ(controls.Label6->palette().color(QPalette::WindowText), red);
    EXPECT_TRUE(controls.Command1->isEnabled());
    EXPECT_TRUE(controls.Command3->isEnabled());
    EXPECT_EQ(testing::TakeSnapshot(folder), before);
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
