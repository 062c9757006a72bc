// The product information messages: the full five-line one of the "Product Information" button
// and the short three-line one of the "Keyword" label.
#pragma once

#include <QString>

namespace parlotrim {

inline const QString kProductInformationTitle = QStringLiteral("Product Information");

QString ProductInformation();
QString ShortProductInformation();

}  // namespace parlotrim
