// The fax editor driven from the main window: a fax with a cover from a template and a
// recipient from the phone book read back by independent readers; clone, edit and cancel; the
// editor's own controls; and a row that cannot be written.
#include <QAction>
#include <QDate>
#include <QFile>
#include <QLocale>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QToolButton>

#include "app/main_screen.h"
#include "app/test_support.h"
#include "compose/cover_browse.h"
#include "compose/editor_tools.h"
#include "compose/fax_editor.h"
#include "compose/pdf_attach.h"
#include "compose/phone_book.h"
#include "compose_support.h"
#include "faximage/apf_export.h"
#include "main_screen_fixture.h"
#include "richtext/fax_render.h"
#include "richtext/format_bar.h"
#include "richtext/paragraph_prop_dlg.h"
#include "richtext/pdf_attachment.h"
#include "richtext/rich_document.h"
#include "richtext/rich_edit.h"
#include "spell/spell_check_dialog.h"
#include "support/event_wait.h"
#include "support/modal.h"

namespace kv {
namespace {

class FaxEditorTest : public test::ShownMainScreenTest {
 protected:
  TTable &sent() { return w->Records.FaxTable; }
  QString field(const char *name) { return sent().FieldByName(name)->AsString().trimmed(); }
};

// The cover keeps its fields: what the fax names is the row as it is when the fax is drawn,
// not as it was when the template was loaded.
TEST_F(FaxEditorTest, CoverFieldsAreFilledWhenTheFaxIsDrawn) {
  test::AddTemplate(w->Records, "Standard");
  test::AddPhoneEntry(w->Records, "Acme Legal", "+1 555 0100");
  w->Settings.Data.userName = "Harbour Office";
  w->Settings.Data.userFax = "555 0199";
  test::OnModal<TFaxEditor>([&](TFaxEditor &e) {
    EXPECT_EQ(e.windowTitle(), "Fax Editor");
    EXPECT_TRUE(e.RecipientButton->isChecked());
    EXPECT_FALSE(e.Zoombutton->isVisible());
    QTest::keyClicks(e.Subject, "Contract draft");
    test::OnModal<TPhoneBook>([](TPhoneBook &b) {
      EXPECT_TRUE(b.OKButton->isVisible());
      EXPECT_FALSE(b.Closebutton->isVisible());
      b.OKButton->click();
    });
    e.AddressButton->click();
    EXPECT_EQ(e.Recipient->text(), "Acme Legal");
    EXPECT_EQ(e.FaxNumber->text(), "+1 555 0100");
    test::Snapshot(e, "fax_editor_recipient");

    e.CoverButton->click();
    EXPECT_TRUE(e.Zoombutton->isVisible());
    EXPECT_EQ(e.Zoombutton->text(), "100%");
    test::OnModal<TCoverBrowse>([](TCoverBrowse &b) {
      EXPECT_FALSE(b.CloseButton->isVisible());
      test::Snapshot(b, "cover_browse_choosing");
      QTest::keyClick(&b, Qt::Key_Return);
    });
    e.LoadCoverButton->click();
    EXPECT_EQ(e.WPCover->Document()->MergeFieldCount(), kMergeFieldCount);
    test::Snapshot(e, "fax_editor_cover");
    EXPECT_FALSE(w->Records.CoverTable.Active());  // closed again after the choice

    // Changed after the template was loaded.
    e.RecipientButton->click();
    e.Recipient->setText("Baker Surgery");
    e.FaxNumber->setText("020 7946 0001");
    e.Subject->setText("Signed lease");
    e.DocumentButton->click();
    QTest::keyClicks(e.WPDoc, "Please sign page two.");
    test::Snapshot(e, "fax_editor_document");
    e.OKButton->click();
  });
  w->Newbutton->click();

  ASSERT_EQ(w->FaxModel->rowCount(), 1);
  EXPECT_TRUE(w->SendButton->isEnabled());
  test::Snapshot(*w, "main_window_after_new");
  EXPECT_EQ(test::ReadSentRow(dir_.path(), sent().RecNo()),
            "Baker Surgery|020 7946 0001|Signed lease");
  // Stored: the fields, which other word processors show as their labels.
  const QString stored = test::UnrtfText(path("cover.rtf"));
  EXPECT_TRUE(stored.contains("To: [RECIPIENT]")) << stored.toStdString();
  EXPECT_TRUE(stored.contains("Pages: [PAGES]"));
  EXPECT_EQ(test::UnrtfText(path("doc.rtf")).right(21), "Please sign page two.");

  // Drawn as the main window sends and views it: OCR reads the values of the row as it is now.
  const QDateTime drawn = QDateTime::currentDateTime();
  const QString fax = w->CreateFaxFile();
  ASSERT_FALSE(fax.isEmpty());
  EXPECT_EQ(w->PageCount, 2);
  std::string error;
  ASSERT_EQ(ExportApfToTiff(fax.toStdString(), path("fax.tif").toStdString(), error), ecOK);
  QFile::remove(fax);
  const QString text = test::Run("tesseract", {path("fax.tif"), "stdout"}).simplified();
  for (const QString &expected :
       {QString("To: Baker Surgery"), QString("Fax: 020 7946 0001"), QString("Re: Signed lease"),
        QString("From: Harbour Office"), QString("Reply fax: 555 0199"), QString("Pages: 2"),
        "Date: " + QLocale().toString(drawn.date(), QLocale::ShortFormat)})
    EXPECT_TRUE(text.contains(expected)) << expected.toStdString() << " in " << text.toStdString();
  EXPECT_FALSE(text.contains("Acme")) << text.toStdString();
  EXPECT_FALSE(text.contains("[")) << text.toStdString();  // no field left unfilled
}

// A PDF document as the fax document: a file that cannot be faxed is refused with its reason;
// an attached one takes the editor's place, is kept in the row's RTF where readers of the table
// and of RTF still see the typed text, renders as its own pages, and can be removed again.
TEST_F(FaxEditorTest, AttachedPdfIsTheFaxDocument) {
  const QString pdf = QStringLiteral(KORVANE_SOURCE_DIR "/tests/compose/data/two_pages.pdf");
  test::OnModal<TFaxEditor>([&](TFaxEditor &e) {
    // The first activation shows the recipient page: let it pass before going to the document.
    (void)QTest::qWaitForWindowActive(&e, 1000);
    e.Recipient->setText("Acme Legal");
    e.DocumentButton->click();
    QTest::keyClicks(e.WPDoc, "Typed words");
    EXPECT_TRUE(e.PdfAttach->RemoveButton->isHidden());
    e.DocumentButton->click();
    test::Snapshot(*e.DocumentPage, "fax_editor_document_no_pdf");
    EXPECT_FALSE(e.PdfAttach->AttachPdf(path("missing.pdf")));
    EXPECT_FALSE(e.WPDoc->isHidden());
    // Alt+D is the strip's mnemonic for the choice (the file dialog is not driven here).
    EXPECT_EQ(e.PdfAttach->AttachButton->shortcut(), QKeySequence("Alt+D"));
    EXPECT_TRUE(e.PdfAttach->AttachPdf(pdf));
    EXPECT_TRUE(e.WPDoc->isHidden());
    EXPECT_FALSE(e.PdfAttach->PdfView->isHidden());
    EXPECT_FALSE(e.PdfAttach->RemoveButton->isHidden());
    EXPECT_TRUE(e.PdfAttach->PdfView->text().contains("2 pages"));
    e.DocumentButton->click();
    test::Snapshot(e, "fax_editor_pdf");
    e.OKButton->click();
  });
  w->Newbutton->click();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].text.contains("missing.pdf cannot be faxed")) << shown[0].text.toStdString();

  EXPECT_EQ(test::ReadSentRow(dir_.path(), sent().RecNo()), "Acme Legal||");
  QFile doc(path("doc.rtf"));
  ASSERT_TRUE(doc.open(QIODevice::ReadOnly));
  const QByteArray rtf = doc.readAll();
  EXPECT_EQ(PdfAttachmentOf(rtf), pdf);
  EXPECT_EQ(test::UnrtfText(path("doc.rtf")).right(11), "Typed words");

  // Rendered: the PDF's two pages in place of the typed text, after the cover sheet; OCR of the
  // fax finds the cover's words, then the first PDF page's, then the second's.
  TRichDocument cover, document;
  ASSERT_TRUE(document.LoadRtf(rtf));
  ASSERT_TRUE(cover.LoadRtf("{\\rtf1\\fs36 Cover sheet for Acme Legal\\par}"));
  int pages = 0;
  const QString fax = RenderFax(cover, document, {dir_.path() + "/", {}, {}, {}}, pages);
  EXPECT_EQ(pages, 3);
  std::string error;
  ASSERT_EQ(ExportApfToTiff(fax.toStdString(), path("fax.tif").toStdString(), error), ecOK);
  const QString text = test::Run("tesseract", {path("fax.tif"), "stdout"});
  const auto cover_ = text.indexOf("Cover sheet"), alpha = text.indexOf("Alpha page"),
             beta = text.indexOf("Beta page");
  EXPECT_TRUE(cover_ >= 0 && alpha > cover_ && beta > alpha) << text.toStdString();
  EXPECT_FALSE(text.contains("Typed words"));

  // Edited again: the PDF is shown; removed, the typed text is the document once more.
  test::OnModal<TFaxEditor>([&](TFaxEditor &e) {
    e.DocumentButton->click();
    EXPECT_FALSE(e.PdfAttach->PdfView->isHidden());
    QTest::keyClick(e.PdfAttach->RemoveButton, Qt::Key_Space);
    EXPECT_FALSE(e.WPDoc->isHidden());
    EXPECT_EQ(e.WPDoc->toPlainText(), "Typed words");
    e.OKButton->click();
  });
  w->EditButton->click();
  test::ReadSentRow(dir_.path(), sent().RecNo());
  QFile again(path("doc.rtf"));
  ASSERT_TRUE(again.open(QIODevice::ReadOnly));
  EXPECT_TRUE(PdfAttachmentOf(again.readAll()).isEmpty());
}

TEST_F(FaxEditorTest, CloneEditAndCancel) {
  const QString subject = "Minutes of the annual general meeting of 2026";  // 45 characters
  test::OnModal<TFaxEditor>([&](TFaxEditor &e) {
    e.Recipient->setText("Baker Street Surgery");
    e.FaxNumber->setText("020 7946 0001");
    e.Subject->setText(subject);
    e.WPDoc->insertPlainText("Body text");
    QTest::keyClick(e.Subject, Qt::Key_Return);  // Enter accepts
  });
  w->Newbutton->click();
  ASSERT_EQ(w->FaxModel->rowCount(), 1);

  test::OnModal<TFaxEditor>([&](TFaxEditor &e) {
    EXPECT_EQ(e.Subject->text(), ("[clone]" + subject).left(50));
    EXPECT_EQ(e.Recipient->text(), "Baker Street Surgery");
    EXPECT_EQ(e.WPDoc->toPlainText(), "Body text");
    e.OKButton->click();
  });
  w->CloneButton->click();
  EXPECT_FALSE(w->CloneMode);
  ASSERT_EQ(w->FaxModel->rowCount(), 2);
  EXPECT_EQ(field("SUBJECT"), ("[clone]" + subject).left(50));

  // Edit keeps the subject as it is; Escape cancels and nothing changes.
  test::OnModal<TFaxEditor>([&](TFaxEditor &e) {
    EXPECT_EQ(e.Subject->text(), ("[clone]" + subject).left(50));
    e.Recipient->setText("Changed");
    QTest::keyClick(&e, Qt::Key_Escape);
  });
  w->EditButton->click();
  EXPECT_EQ(field("RECIPIENT"), "Baker Street Surgery");
  test::OnModal<TFaxEditor>([](TFaxEditor &e) {
    e.Recipient->setText("Baker Street Practice");
    e.OKButton->click();
  });
  w->mnuEdit->trigger();
  EXPECT_EQ(field("RECIPIENT"), "Baker Street Practice");
  EXPECT_EQ(w->FaxModel->rowCount(), 2);
}

TEST_F(FaxEditorTest, ARowThatCannotBeWrittenKeepsTheEditorOpen) {
  int shownTimes = 0;
  test::OnModal<TFaxEditor>([&](TFaxEditor &e) {
    ++shownTimes;
    e.Recipient->setText("Kept");
    sent().Close();  // the write will fail
    test::OnModal<TFaxEditor>([&](TFaxEditor &again) {
      ++shownTimes;
      EXPECT_EQ(again.Recipient->text(), "Kept");
      again.CancelButton->click();
    });
    e.OKButton->click();
  });
  w->Newbutton->click();
  EXPECT_EQ(shownTimes, 2);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].kind, DialogRequest::Error);
  EXPECT_TRUE(shown[0].text.contains("KRV.DBF"));
  // What was typed and never stored is not thrown away without a question.
  EXPECT_EQ(shown[1].text, "Discard the changes to this fax?");
}

// A number the modem could not dial (a letter, or what would end the dial command) is not
// saved: the editor names the character and stays open with what was typed.
TEST_F(FaxEditorTest, ANumberThatCannotBeDialledKeepsTheEditorOpen) {
  test::OnModal<TFaxEditor>([&](TFaxEditor &e) {
    e.Recipient->setText("Flowers");
    for (const char *bad : {"1-800-FLOWERS", "555;ATZ"}) {
      e.FaxNumber->setText(bad);
      e.OKButton->click();
      EXPECT_TRUE(e.isVisible());
      ASSERT_FALSE(shown.empty());
      EXPECT_EQ(shown.back().kind, DialogRequest::Error);
      EXPECT_TRUE(
          shown.back().text.startsWith(QString("The fax number \"%1\" cannot be dialled").arg(bad)))
          << shown.back().text.toStdString();
    }
    e.FaxNumber->setText("1 (800) 356-9377");
    e.OKButton->click();
  });
  w->Newbutton->click();
  EXPECT_EQ(field("PHONE"), "1 (800) 356-9377");
}

TEST_F(FaxEditorTest, EditorControls) {
  TFaxEditor e(w->Records, w->Settings.Data, w.get());
  e.show();
  // The edits take 35, 25 and 50 characters.
  for (auto [edit, n] :
       {std::pair{e.Recipient, 35}, std::pair{e.FaxNumber, 25}, std::pair{e.Subject, 50}}) {
    edit->setText(QString(n + 5, 'x'));
    EXPECT_EQ(edit->text().size(), n);
  }
  // Zoom: the menu ticks the editor's zoom, none for another value.
  e.DocumentButton->click();
  emit e.ZoomMenu->aboutToShow();
  EXPECT_TRUE(e.ZoomMenu->Zoom100->isChecked());
  e.ZoomMenu->Zoom70->trigger();
  EXPECT_EQ(e.WPDoc->Zoom(), 70);
  EXPECT_EQ(e.Zoombutton->text(), "70%");
  e.WPDoc->SetZoom(90);
  emit e.ZoomMenu->aboutToShow();
  for (QAction *a : {e.ZoomMenu->Zoom70, e.ZoomMenu->Zoom80, e.ZoomMenu->Zoom100})
    EXPECT_FALSE(a->isChecked());
  e.CoverButton->click();
  EXPECT_EQ(e.Zoombutton->text(), "100%");  // the cover's own zoom

  // Word wrap: pressed exactly while on, the hint says what a click does.
  const bool wrap = e.WPDoc->WordWrap();
  e.DocWordWrapButton->click();
  EXPECT_EQ(e.WPDoc->WordWrap(), !wrap);
  EXPECT_EQ(e.DocWordWrapButton->isChecked(), !wrap);
  EXPECT_EQ(e.DocWordWrapButton->toolTip(), wrap ? "Toggle word wrap on" : "Toggle word wrap off");

  // The formatting bar's spell check opens the spell checker on that editor.
  ASSERT_TRUE(QFile::copy(KORVANE_BIN_DIR "/krv.dct", path("krv.dct")));
  e.WPDoc->insertPlainText("Helo ");
  bool checked = false;
  test::OnModal<TSpellCheckDialog>([&](TSpellCheckDialog &d) {
    ASSERT_TRUE(kv::test::eventually([&] { return d.Word->text() == QString("Helo"); }, 5000));
    checked = true;
    d.Cancelbutton->click();
  });
  e.WPToolDoc->SpellAction->trigger();
  EXPECT_TRUE(checked);

  // Ctrl+B works on the editor of the page shown, though both bars carry it. (Synthetic key
  // events carry no native key codes, which only the offscreen platform does without.)
  if (QGuiApplication::platformName() == "offscreen") {
    e.DocumentButton->click();
    e.activateWindow();
    ASSERT_TRUE(kv::test::eventually([&] { return QApplication::activeWindow() == &e; }, 3000));
    e.WPDoc->selectAll();
    QTest::keyClick(e.WPDoc, Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(e.WPDoc->textCursor().charFormat().fontWeight(), QFont::Bold);
  }

  // Each bar's paragraph button opens the paragraph dialog on its own editor.
  for (auto [button, editor] : {std::pair{e.ParagraphSetupButton, e.WPDoc},
                                std::pair{e.CoverParagraphSetupbutton, e.WPCover}}) {
    test::OnModal<TParagraphPropDlg>([ed = editor](TParagraphPropDlg &d) {
      EXPECT_EQ(d.Editor, ed);
      d.reject();
    });
    button->click();
  }

  // Page break (Yes by default): No leaves the text, Yes starts a new page at the caret.
  e.WPDoc->insertPlainText("one\ntwo three");
  QTextCursor caret = e.WPDoc->textCursor();
  caret.movePosition(QTextCursor::PreviousWord);
  e.WPDoc->setTextCursor(caret);
  answer = false;
  e.DocPageBreakButton->click();
  EXPECT_EQ(shown.back().caption, "Page Break");
  EXPECT_EQ(shown.back().text, "Add a page break here?");
  EXPECT_TRUE(shown.back().yesIsDefault);
  EXPECT_FALSE(e.WPDoc->ParagraphAttributes().pageBreakBefore);
  answer = true;
  e.DocPageBreakButton->click();
  EXPECT_TRUE(e.WPDoc->ParagraphAttributes().pageBreakBefore);
  EXPECT_EQ(e.WPDoc->textCursor().block().text(), "three");
  EXPECT_EQ(e.WPDoc->textCursor().block().previous().text(), "two ");
  test::Snapshot(e, "fax_editor_page_break");

  // Cancelling the template browser leaves the cover as it was; a loaded template keeps its
  // fields, to be filled when the fax is drawn.
  test::AddTemplate(w->Records, "Standard");
  e.Recipient->clear();
  e.FaxNumber->clear();
  e.Subject->clear();
  e.WPCover->insertPlainText("my own cover");
  test::OnModal<TCoverBrowse>([](TCoverBrowse &b) { b.CancelButton->click(); });
  e.LoadCoverButton->click();
  EXPECT_EQ(e.WPCover->toPlainText(), "my own cover");
  test::OnModal<TCoverBrowse>([](TCoverBrowse &b) { b.Acceptbutton->click(); });
  e.LoadCoverButton->click();
  EXPECT_EQ(e.WPCover->Document()->MergeFieldCount(), kMergeFieldCount);
}

}  // namespace
}  // namespace kv
