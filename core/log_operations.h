// The three log operations: the load of a log picked in File1, Change and Save (Command1) and
// HTML Save (Command3). They talk to the window only through LogWindow and to the disk only
// through FileStore.
#pragma once

#include <QByteArray>
#include <QString>

#include "core/line_cleaning.h"
#include "core/log_window.h"
#include "core/module1.h"
#include "platform/file_store.h"

namespace parlotrim {

class LogOperations {
 public:
  // logFolder ends with the folder separator; a log's path is logFolder + its bare name.
  LogOperations(LogWindow& window, FileStore& files, NativeName logFolder, Module1& module);

  // Loads the log selected in File1: asks the two cleaning questions and shows the cleaned
  // log as the working text.
  void LoadSequence();
  // Change and Save: rewrites the loaded log with its cleaned lines in reverse order.
  void Command1_Click();
  // HTML Save: writes the cleaned log, reversed, as an HTML document beside it.
  void Command3_Click();

 private:
  // Reads the log and shows its working text; on failure the text window is left empty.
  FileResult ShowWorkingText(const NativeName& name);
  // Tells the user why an operation on the file name failed (pointer back to normal first).
  void ReportFailure(const FileResult& result, const NativeName& name, const QString& writeFailed);

  LogWindow& window_;
  FileStore& files_;
  NativeName logFolder_;
  Module1& module_;
};

}  // namespace parlotrim
