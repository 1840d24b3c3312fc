// A PDF attachment kept in a document's RTF: file names of every kind come back as they went
// in, the document's own reader skips the group, and saving keeps it.
#include <gtest/gtest.h>

#include "richtext/pdf_attachment.h"
#include "richtext/rich_document.h"
#include "richtext_support.h"

namespace kv {
namespace {

TEST(PdfAttachment, FileNamesRoundTrip) {
  for (const QString &path :
       {QStringLiteral("/home/ann/fax.pdf"), QStringLiteral("/tmp/with space/and {braces}.pdf"),
        QStringLiteral("/tmp/back\\slash.pdf"), QStringLiteral("/home/zoë/Überweisung € 3.pdf")}) {
    const QByteArray rtf = WithPdfAttachment("{\\rtf1 text\\par}", path);
    EXPECT_TRUE(rtf.startsWith("{\\rtf1 text\\par{\\*\\kvpdfattach ")) << rtf.constData();
    EXPECT_TRUE(rtf.endsWith("}}"));
    for (char c : rtf) EXPECT_LT(static_cast<unsigned char>(c), 0x80) << "RTF stays 7-bit";
    EXPECT_EQ(PdfAttachmentOf(rtf), path);
  }
}

TEST(PdfAttachment, NoneOrNotOurs) {
  struct Case {
    const char *rtf;
  } cases[] = {
      {"{\\rtf1 plain\\par}"},
      {"{\\rtf1 {\\*\\kvpdfattach /a.pdf"},           // never closes
      {"{\\rtf1 {\\*\\kvpdfattach /a\\par b.pdf}}"},  // a control word inside
      {"{\\rtf1 {\\*\\kvpdfattach {\\b x}.pdf}}"},    // a nested group
  };
  for (const Case &c : cases) EXPECT_TRUE(PdfAttachmentOf(c.rtf).isEmpty()) << c.rtf;
  EXPECT_EQ(WithPdfAttachment("{\\rtf1 x}", ""), QByteArray("{\\rtf1 x}"));
}

TEST(PdfAttachment, DocumentKeepsItThroughLoadAndSave) {
  test::GuiApp();
  TRichDocument doc;
  ASSERT_TRUE(doc.LoadRtf(WithPdfAttachment("{\\rtf1 Typed text\\par}", "/srv/a.pdf")));
  EXPECT_EQ(doc.toPlainText().trimmed(), "Typed text");
  EXPECT_EQ(doc.PdfAttachment(), "/srv/a.pdf");
  TRichDocument copy;
  ASSERT_TRUE(copy.LoadRtf(doc.SaveRtf()));
  EXPECT_EQ(copy.PdfAttachment(), "/srv/a.pdf");
  copy.Clear();
  EXPECT_TRUE(copy.PdfAttachment().isEmpty());
  ASSERT_TRUE(copy.LoadRtf("{\\rtf1 other}"));
  EXPECT_TRUE(copy.PdfAttachment().isEmpty());
}

}  // namespace
}  // namespace kv
