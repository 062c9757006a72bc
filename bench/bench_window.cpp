// Times the window side of a load: from Enter on the file list to the text painted in the
// text window, for a large Shift JIS chat log, against GNU tac reading the same file.
// Usage: bench_window [megabytes] [rounds]. Runs on any Qt platform (offscreen by default).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <cstdlib>

#include "platform/file_store.h"
#include "platform/message_box.h"
#include "ui/file_list_box.h"
#include "ui/form1.h"
#include "ui/form1_controls.h"
#include "ui/working_text_view.h"

namespace {

// Answers every box with OK, as Enter would.
struct AnswerOk : parlotrim::WindowServices {
  int MsgBox(QWidget*, const QString&, int, const QString&) override { return 1; }
  void Beep() override {}
  void SetMousePointer(int) override {}
};

// A chat log of short lines: a time, a speaker and a message in Shift JIS, with a blank line
// or a separator now and then.
QByteArray MakeLog(qint64 bytes) {
  const QByteArray speakers[] = {"\x82\xb3\x82\xad\x82\xe7", "\x83\x5e\x83\x8d\x83\x45", "guest"};
  const QByteArray words[] = {"\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd", "\x97\xb9\x89\xf0",
                              "\x8d\xa1\x93\xfa\x82\xcd", "ok", "\x83\x65\x83\x58\x83\x67"};
  QByteArray log;
  log.reserve(bytes + 256);
  for (unsigned n = 1; log.size() < bytes; ++n) {
    if (n % 37 == 0) {
      log += "\r\n";
    } else if (n % 53 == 0) {
      log += "----\r\n";
    } else {
      log += "[" + QByteArray::number(n % 24) + ":" + QByteArray::number(n % 60) + "] ";
      log += speakers[n % 3] + "\x81\x84" + words[n % 5] + words[(n / 5) % 5] + "\r\n";
    }
  }
  return log;
}

double TacSeconds(const QString& path) {
  QElapsedTimer timer;
  timer.start();
  const QByteArray command = "tac '" + QFile::encodeName(path) + "' > /dev/null";
  if (std::system(command.constData()) != 0) return -1;
  return timer.nsecsElapsed() / 1e9;
}

double LoadSeconds(const QString& folder) {
  AnswerOk services;
  parlotrim::DiskFileStore files;
  parlotrim::Form1 form(services, files, folder);
  form.show();
  if (!QTest::qWaitForWindowActive(&form)) return -1;
  const parlotrim::Form1Controls& c = form.Controls();
  QTest::keyClick(c.File1, Qt::Key_Down);  // selects the log; loads nothing
  QElapsedTimer timer;
  timer.start();
  QTest::keyClick(c.File1, Qt::Key_Return);
  c.Text1->viewport()->repaint();
  const double seconds = timer.nsecsElapsed() / 1e9;
  if (c.Text1->LineCount() < 2) return -1;
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const double megabytes = argc > 1 ? std::atof(argv[1]) : 100;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  QTemporaryDir dir;
  const QString path = dir.path() + "/chat.txt";
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) ||
      file.write(MakeLog(qint64(megabytes * 1024 * 1024))) < 0 || !file.flush())
    return 1;
  file.close();

  double tac = 1e9, load = 1e9;
  for (int round = 0; round < rounds; ++round) {
    const double t = TacSeconds(path);
    const double l = LoadSeconds(dir.path());
    if (t < 0 || l < 0) {
      std::fprintf(stderr, "a run failed\n");
      return 1;
    }
    tac = std::min(tac, t);
    load = std::min(load, l);
  }
  std::printf(
      "%.0f MB log, best of %d: tac %.3f s, Enter to text shown %.3f s (%.2f x tac; "
      "target 1.5 x: %s)\n",
      megabytes, rounds, tac, load, load / tac, load <= 1.5 * tac ? "met" : "MISSED");
  return 0;
}
