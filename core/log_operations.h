// The three log operations: the load of a log picked in File1, Change and Save (Command1) and
// HTML Save (Command3). They talk to the window only through LogWindow and to the disk only
// through FileStore.
#pragma once

#include <QString>

#include "core/line_cleaning.h"
#include "core/log_window.h"
#include "core/module1.h"
#include "platform/file_store.h"

namespace parlotrim {

class LogOperations {
 public:
  // logFolder ends with the folder separator; a log's path is logFolder + its bare name.
  LogOperations(LogWindow& window, FileStore& files, QString logFolder, Module1& module);

  // Loads the log selected in File1: asks the two cleaning questions and shows the cleaned
  // log as the working text.
  void LoadSequence();
  // Change and Save: rewrites the loaded log with its cleaned lines in reverse order.
  void Command1_Click();
  // HTML Save: writes the cleaned log, reversed, as an HTML document beside it.
  void Command3_Click();

 private:
  void ReportReadFailure(const QString& path, const QString& cause);
  // Reads the log at path and builds its lines, last first, as the converted text (emphasis
  // null) or the HTML body. On failure reports it and returns false.
  bool ReadReversed(const QString& path, const Emphasis* emphasis, QByteArray* text);
  // Replaces path with pieces, then either sets "After" and tells completion, or reports
  // failure with the cause.
  void WriteAndFinish(const QString& path, const QList<QByteArrayView>& pieces,
                      const QString& failure, const QString& completion);

  LogWindow& window_;
  FileStore& files_;
  QString logFolder_;
  Module1& module_;
};

}  // namespace parlotrim
