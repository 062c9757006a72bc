#include <gtest/gtest.h>

#include <QList>
#include <QString>

#include "core/html_document.h"
#include "platform/code_page.h"

namespace parlotrim {
namespace {

const QByteArray kHead =
    "<html>\r\n"
    "<head>\r\n"
    "<meta http-equiv=\"Content-Type\"content=\"text/html; charset=x-sjis\">\r\n"
    // プログラム名　パーロトリム Parlotrim in Shift JIS.
    "<meta name=\"GENERATOR\" content=\""
    "\x83\x76\x83\x8d\x83\x4f\x83\x89\x83\x80\x96\xbc\x81\x40"
    "\x83\x70\x81\x5b\x83\x8d\x83\x67\x83\x8a\x83\x80 Parlotrim\">\r\n";

TEST(HtmlDocument, HeadAndTailBytes) {
  const HtmlDocumentParts parts = MakeHtmlDocumentParts(QStringLiteral("diary.html"));
  EXPECT_EQ(parts.head, kHead +
                            "<title>diary.html</title>\r\n"
                            "</head>\r\n"
                            "<body bgcolor=\"#FFFFFF\">\r\n");
  EXPECT_EQ(parts.tail, "\r\n</body></html>\r\n");
}

TEST(HtmlDocument, TitleEncoding) {
  struct Case {
    QString name;
    QByteArray title;
  };
  const QList<Case> cases = {
      {QStringLiteral("ログ 1.html"), "<title>\x83\x8d\x83\x4f 1.html</title>"},
      {QStringLiteral("a&b<c>.html"), "<title>a&amp;b&lt;c&gt;.html</title>"},
      // No Shift JIS code: a numeric character reference keeps the name readable.
      {QStringLiteral("caf\u00e9\U0001F600.html"), "<title>caf&#233;&#128512;.html</title>"},
  };
  for (const Case& c : cases) {
    EXPECT_TRUE(MakeHtmlDocumentParts(c.name).head.contains(c.title)) << c.name.toStdString();
  }
}

TEST(HtmlDocument, NameDropsLastFourCharacters) {
  const QList<std::pair<QString, QString>> cases = {
      {"diary.txt", "diary.html"},
      {"a.b.TXT", "a.b.html"},
      {".txt", ".html"},
      {"日記.txt", "日記.html"},
      {"ab", ".html"},
  };
  for (const auto& [log, document] : cases) EXPECT_EQ(HtmlDocumentName(log), document);
}

TEST(CodePage, KeywordEncoding) {
  bool ok = false;
  EXPECT_EQ(EncodeCodePage(QStringLiteral("パ～"), &ok), "\x83\x70\x81\x60");
  EXPECT_TRUE(ok);
  EncodeCodePage(QStringLiteral("x\u00e9"), &ok);
  EXPECT_FALSE(ok);
  EXPECT_EQ(EncodeCodePage(QString(), &ok), QByteArray());
  EXPECT_TRUE(ok);
}

TEST(CodePage, DecodingForDisplay) {
  const QList<std::pair<QByteArray, QString>> cases = {
      {"\x83\x70\x81\x5b", QStringLiteral("パー")},
      {"\xb1\x5c~", QStringLiteral("ｱ\\~")},
      {"a\x80" "b\xa0\xfd\xff", QStringLiteral("a\uFFFDb\uFFFD\uFFFD\uFFFD")},
      {"\x83 x", QStringLiteral("\uFFFD x")},   // lead byte without its trail byte
      {"x\x83", QStringLiteral("x\uFFFD")},     // lead byte at the end
      {"\x85\x40", QStringLiteral("\uFFFD")},  // well-formed but unassigned
      {QByteArray("\0\x1a\x1c\n\x7f", 5), QStringLiteral("\u0000\u001a\u001c\n\u007f")},
  };
  for (const auto& [bytes, text] : cases) EXPECT_EQ(DecodeCodePage(bytes), text) << bytes.toHex().constData();
}

}  // namespace
}  // namespace parlotrim
