// Parlotrim: opens the window on the logs that lie beside the executable.
#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "platform/file_store.h"
#include "platform/qt_window_services.h"
#include "ui/form1.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);

  // Qt's own texts (the message box buttons) in the language of the system: built into the
  // Windows program, Qt's own files elsewhere.
  QTranslator qtTranslator;
  if (qtTranslator.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QStringLiteral(":/translations")) ||
      qtTranslator.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(&qtTranslator);

  parlotrim::SystemCalls disk;
  parlotrim::FileStore files(disk);
  parlotrim::QtWindowServices services;
  parlotrim::Form1 form(services, files, parlotrim::ProgramFolder());
  form.show();
  return app.exec();
}
