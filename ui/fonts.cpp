#include "ui/fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace parlotrim {

QString JapaneseGothicFamily() {
  static const QString chosen = [] {
    const QStringList japanese = QFontDatabase::families(QFontDatabase::Japanese);
    const QStringList preferred = {
        QStringLiteral("ＭＳ Ｐゴシック"),  QStringLiteral("MS PGothic"),
        QStringLiteral("IPAPGothic"),       QStringLiteral("IPA Pゴシック"),
        QStringLiteral("Noto Sans CJK JP"), QStringLiteral("Source Han Sans JP"),
        QStringLiteral("VL PGothic"),       QStringLiteral("TakaoPGothic"),
        QStringLiteral("Noto Sans JP"),     QStringLiteral("IPAGothic"),
        QStringLiteral("IPAexGothic"),      QStringLiteral("Meiryo"),
        QStringLiteral("Yu Gothic"),        QStringLiteral("Hiragino Sans"),
    };
    for (const QString& name : preferred) {
      if (japanese.contains(name, Qt::CaseInsensitive)) return name;
    }
    for (const QString& name : japanese) {
      if (name.contains(QStringLiteral("Gothic"), Qt::CaseInsensitive) ||
          name.contains(QStringLiteral("ゴシック")) ||
          name.contains(QStringLiteral("Sans"), Qt::CaseInsensitive))
        return name;
    }
    return japanese.value(0);
  }();
  return chosen;
}

QFont TitleFont(qreal pointSize) {
  QFont font;
  const QString family = JapaneseGothicFamily();
  if (!family.isEmpty()) font.setFamilies({family});
  font.setPointSizeF(pointSize);
  font.setWeight(QFont::Bold);
  return font;
}

QFont WithJapaneseFallback(const QFont& base) {
  const QString family = JapaneseGothicFamily();
  if (family.isEmpty()) return base;
  QFont font = base;
  QStringList families = base.families();
  if (families.isEmpty()) families << base.family();
  if (!families.contains(family)) families << family;
  font.setFamilies(families);
  return font;
}

}  // namespace parlotrim
