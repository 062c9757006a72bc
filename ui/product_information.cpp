#include "ui/product_information.h"

#include <QStringList>

#include "core/texts.h"

namespace parlotrim {

namespace {

const QString kVersionLine = QStringLiteral("　　　　　　　　(Ver 1.30)");
const QString kAuthorLine = QStringLiteral("作成・制作　Parlotrim development team");
const QString kMakerLine = QStringLiteral("                Parlotrim Project");
const QString kContactLine = QStringLiteral("                parlotrim@example.org");

}  // namespace

QString ProductInformation() {
  return QStringList{texts::kProgramName, kVersionLine, kAuthorLine, kMakerLine, kContactLine}.join(
      texts::kCrLf);
}

QString ShortProductInformation() {
  return QStringList{kAuthorLine, kMakerLine, kContactLine}.join(texts::kCrLf);
}

}  // namespace parlotrim
