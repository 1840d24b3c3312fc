// The main window's commands on the rows of the two lists: new, clone, edit and delete faxes
// (a sent fax with its pages kept is shown, not edited), the notes of a received fax, and the
// cover sheet and phone book windows.
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/dialogs.h"
#include "app/main_screen.h"
#include "app/program_dir.h"
#include "app/rec_notes_form.h"
#include "app/window_placement.h"
#include "compose/cover_browse.h"
#include "compose/fax_editor.h"
#include "compose/fax_row.h"
#include "compose/pdf_attach.h"
#include "compose/phone_book.h"
#include "richtext/format_bar.h"
#include "richtext/rich_edit.h"
#include "sending/sent_archive.h"

namespace kv {
namespace {

QString fieldText(TTable &table, const char *field) {
  TField *f = table.FieldByName(field);
  if (!f) return {};
  QString s = f->AsString();
  while (s.endsWith(' ')) s.chop(1);
  return s;
}

bool hasRows(TTable &table) {
  return table.Active() && TFaxRecords::HasCurrentRow(table);
}

// The received file of a row, when its name is a plain file name of the receive directory; a
// name with a directory part would point outside it and is not ours to delete.
QString receivedFile(TTable &table) {
  const QString name = fieldText(table, "FAXFILE").trimmed();
  if (name.isEmpty() || QFileInfo(name).fileName() != name || name == "." || name == "..")
    return {};
  return ProgramDir() + "receive/" + name;
}

}  // namespace

// Fills the editor from the current sent row: both memos and the three texts, the subject
// behind "[clone]" for a clone (cut to the subject's 50 characters by its edit).
static void fillEditor(TFaxEditor &editor, TFaxRecords &records, bool clone) {
  TTable &table = records.FaxTable;
  TRichTextIO cover(*editor.WPCover), document(*editor.WPDoc);
  LoadRichText(cover, "RTFCOVER", records.FaxApollo);
  LoadRichText(document, "RTFDOC", records.FaxApollo);
  editor.Recipient->setText(fieldText(table, "RECIPIENT"));
  editor.Subject->setText((clone ? "[clone]" : "") + fieldText(table, "SUBJECT"));
  editor.FaxNumber->setText(fieldText(table, "PHONE"));
}

// Shows the editor until what it holds is stored or the user cancels: a row that cannot be
// written keeps the editor open with the text in it. True when a row was written.
static bool runEditor(QWidget *parent, TFaxEditor &editor, TFaxRecords &records, bool append) {
  while (editor.exec() == QDialog::Accepted) {
    QString error;
    if (WriteFaxRow(records, TRichTextIO(*editor.WPCover), TRichTextIO(*editor.WPDoc),
                    editor.RowText(), append, error))
      return true;
    Dialogs::error(parent, error);
  }
  return false;
}

void TMainScreen::NewbuttonClick() {
  {
    TFaxEditor editor(Records, Settings.Data, this);
    if (CloneMode) {
      fillEditor(editor, Records, true);
    } else {
      ApplyDefaultFont(*editor.WPCover);
      ApplyDefaultFont(*editor.WPDoc);
      if (!DroppedPdf.isEmpty()) editor.PdfAttach->AttachPdf(DroppedPdf);
    }
    if (runEditor(this, editor, Records, true)) {
      QCoreApplication::processEvents();
      FaxTableCloseAndOpen();
      QCoreApplication::processEvents();
    }
  }
  CloneMode = false;
  SetButtons();
}

void TMainScreen::CloneButtonClick() {
  if (!hasRows(Records.FaxTable)) {
    Dialogs::beep();
    return;
  }
  CloneMode = true;
  NewbuttonClick();
}

// A sent fax whose pages are kept is a record: shown as it went, with nothing to change or
// accept.
static void showAsRecord(TFaxEditor &editor) {
  for (QLineEdit *e : {editor.Recipient, editor.FaxNumber, editor.Subject}) e->setReadOnly(true);
  for (TRichEdit *e : {editor.WPCover, editor.WPDoc}) e->setReadOnly(true);
  for (QWidget *w : std::initializer_list<QWidget *>{
           editor.AddressButton, editor.LoadCoverButton, editor.WPToolCover, editor.WPToolDoc,
           editor.CoverParagraphSetupbutton, editor.CoverDocPageBreakButton,
           editor.ParagraphSetupButton, editor.DocPageBreakButton, editor.PdfAttach,
           editor.OKButton})
    w->setEnabled(false);
  editor.OKButton->hide();
  auto *note = new QLabel(
      QStringLiteral("Sent faxes cannot be changed; use Clone to send it again"), &editor);
  note->setObjectName(QStringLiteral("SentNote"));
  note->setWordWrap(true);
  note->setContentsMargins(12, 8, 12, 0);
  QFont bold = note->font();
  bold.setBold(true);
  note->setFont(bold);
  editor.Body->insertWidget(0, note);
}

void TMainScreen::EditSentFax() {
  if (!hasRows(Records.FaxTable)) {
    Dialogs::beep();
    return;
  }
  TFaxEditor editor(Records, Settings.Data, this);
  fillEditor(editor, Records, false);
  // Rows sent before their pages were kept stay editable, as they always were.
  if (!KeptSentFax(Records.FaxTable, ProgramDir()).isEmpty()) {
    showAsRecord(editor);
    editor.exec();
    return;
  }
  runEditor(this, editor, Records, false);
}

void TMainScreen::mnuCoverClick() {
  if (!OpenCoverTable(Records, this)) return;
  {
    TCoverBrowse browse(Records, Settings.Data, this);
    browse.SetChoosing(false);
    CenterWindow(&browse);
    browse.exec();
  }
  Records.CoverTable.Close();
}

void TMainScreen::EditButtonClick() {
  if (CurrentPage() == 1)
    EditReceivedFax();
  else
    EditSentFax();
}

void TMainScreen::EditReceivedFax() {
  TTable &table = Records.RecTable;
  if (!hasRows(table)) {
    Dialogs::beep();
    return;
  }
  const int n = table.RecNo();
  TRecNotesForm notes(this);
  notes.Notes->setText(fieldText(table, "NOTES"));
  notes.Descript->setText("From: " + fieldText(table, "FROM"));
  CenterWindow(&notes);
  if (notes.exec() != QDialog::Accepted) return;
  if (n > 0) table.GotoRecord(n);
  if (!table.Edit() || !table.FieldByName("NOTES")->SetAsString(notes.Notes->text()) ||
      !table.Post()) {
    const QString why = table.LastError();
    table.Cancel();
    Dialogs::error(
        this, QStringLiteral("The notes could not be saved in %1: %2").arg(table.FilePath(), why));
  }
}

void TMainScreen::DeleteButtonClick() {
  const bool received = CurrentPage() == 1;
  TTable &table = received ? Records.RecTable : Records.FaxTable;
  if (!hasRows(table)) {
    Dialogs::beep();
    return;
  }
  const QString what = received ? "(from: \"" + fieldText(table, "FROM") + "\")"
                                : "(subject: \"" + fieldText(table, "SUBJECT") + "\")";
  if (Dialogs::askYesNo(this, "Delete", "Delete the current fax?\r\n" + what, false)) {
    const QString file =
        received ? receivedFile(table) : KeptSentFax(Records.FaxTable, ProgramDir());
    if (!table.Delete()) {
      Dialogs::error(this, QStringLiteral("The fax could not be deleted from %1: %2")
                               .arg(table.FilePath(), table.LastError()));
    } else {
      table.Resync();
      // The image goes only once its row has gone; one already missing is no error.
      if (!file.isEmpty()) QFile::remove(file);
    }
  }
  SetButtons();
}

void TMainScreen::mnuPhoneBookClick() {
  TPhoneBook book(this);
  if (!OpenPhoneBook(Records, book)) return;
  CenterWindow(&book);
  book.exec();
}

}  // namespace kv
