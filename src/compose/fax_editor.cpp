#include "compose/fax_editor.h"

#include <QButtonGroup>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/button_bar.h"
#include "app/codepage_fit.h"
#include "app/dialogs.h"
#include "app/fax_tables.h"
#include "app/help_window.h"
#include "app/hints.h"
#include "app/window_placement.h"
#include "compose/cover_browse.h"
#include "compose/editor_tools.h"
#include "compose/pdf_attach.h"
#include "compose/phone_book.h"
#include "richtext/format_bar.h"
#include "richtext/rich_edit.h"

namespace kv {
namespace {
constexpr int kHelpTopic = 1015;

QLineEdit *makeEdit(QWidget *parent, const char *name, int length, const QString &hint) {
  auto *e = new QLineEdit(parent);
  e->setObjectName(name);
  e->setMaxLength(length);
  SetHint(e, hint);
  // Wide enough for every character the field takes.
  e->setMinimumWidth(e->fontMetrics().horizontalAdvance(QString(length, 'n')) + 12);
  return e;
}

}  // namespace

TFaxEditor::TFaxEditor(TFaxRecords &records, const Settings &settings, QWidget *parent)
    : TBarDialog(parent, 31), records_(records), settings_(settings), discard_(this, "fax", [this] {
        return (RowText().recipient + '\n' + RowText().phone + '\n' + RowText().subject).toUtf8() +
               WPCover->SaveRtf() + WPDoc->SaveRtf();
      }) {
  setObjectName("FaxEditor");
  setWindowTitle("Fax Editor");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  Helpbutton = AddBarButton(ButtonBar, "Helpbutton", "&Help", "Get help for Fax Editor",
                            ButtonPicture::Help);
  RecipientButton = AddBarButton(ButtonBar, "RecipientButton", "&Recipient Info",
                                 "Edit the recipient information", ButtonPicture::Edit);
  DocumentButton = AddBarButton(ButtonBar, "DocumentButton", "&Fax Document",
                                "Edit the fax document", ButtonPicture::New);
  CoverButton = AddBarButton(ButtonBar, "CoverButton", "&Cover Sheet",
                             "Edit the optional fax cover sheet", ButtonPicture::Clone);
  auto *pages = new QButtonGroup(this);
  for (QToolButton *b : {RecipientButton, DocumentButton, CoverButton}) {
    b->setCheckable(true);
    pages->addButton(b);
  }
  RecipientButton->setChecked(true);
  Zoombutton = AddBarButton(ButtonBar, "Zoombutton", "100%",
                            "Set the view percentage for the current editor", ButtonPicture::View);
  Zoombutton->hide();
  AddBarStretch(ButtonBar);
  OKButton = AddBarButton(ButtonBar, "OKButton", "&Accept", "Ok - save changes to this fax",
                          ButtonPicture::Ok);
  CancelButton = AddBarButton(ButtonBar, "CancelButton", "Cance&l",
                              "Cancel - do not save changes to this fax", ButtonPicture::Cancel);

  NoteBook = new QStackedWidget(this);
  NoteBook->setObjectName("NoteBook");
  Body->setContentsMargins(0, 0, 0, 0);
  Body->addWidget(NoteBook);

  // Recipient page.
  RecipientPage = new QWidget(NoteBook);
  RecipientPage->setObjectName("Recipient");
  Recipient = makeEdit(RecipientPage, "Recipient", kRecipientLength, "Enter recipient name here");
  FaxNumber =
      makeEdit(RecipientPage, "FaxNumber", kFaxNumberLength, "Enter recipient fax number here");
  Subject = makeEdit(RecipientPage, "Subject", kSubjectLength, "Enter subject (topic) of fax here");
  AddressButton = new QPushButton("&Phonebook...", RecipientPage);
  AddressButton->setObjectName("AddressButton");
  AddressButton->setAutoDefault(false);
  SetHint(AddressButton, "Click here to access the Phone Book");
  auto *form = new QFormLayout;
  form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
  auto *recipientRow = new QHBoxLayout;
  recipientRow->addWidget(Recipient);
  recipientRow->addWidget(AddressButton);
  recipientRow->addStretch();
  auto *recipientLabel = new QLabel("Recipie&nt", RecipientPage);
  recipientLabel->setBuddy(Recipient);
  form->addRow(recipientLabel, recipientRow);
  form->addRow("Fax N&umber", FaxNumber);
  form->addRow("Su&bject", Subject);
  auto *recipientLayout = new QVBoxLayout(RecipientPage);
  recipientLayout->setContentsMargins(16, 16, 16, 16);
  recipientLayout->addLayout(form);
  recipientLayout->addStretch();
  NoteBook->addWidget(RecipientPage);

  DocumentPage = makeEditorPage(WPDoc, WPToolDoc, "Fax Document");
  CoverPage = makeEditorPage(WPCover, WPToolCover, "Cover Sheet");
  WPCover->setObjectName("WPCover");
  WPDoc->setObjectName("WPDoc");
  NoteBook->addWidget(DocumentPage);
  NoteBook->addWidget(CoverPage);

  // Create: the tool buttons of both bars, both word-wrap hints, the saved placement.
  WPToolDoc->setFixedHeight(WPToolCover->sizeHint().height());
  DocPageBreakButton =
      AddToolButton(*WPToolDoc, "DocPageBreakButton", "Page Break", "Insert Page Break");
  ParagraphSetupButton =
      AddToolButton(*WPToolDoc, "ParagraphSetupButton", "Paragraph...", "Paragraph properties");
  DocWordWrapButton = AddToolButton(*WPToolDoc, "DocWordWrapButton", "Wrap", {});
  CoverDocPageBreakButton =
      AddToolButton(*WPToolCover, "CoverDocPageBreakButton", "Page Break", "Insert Page Break");
  CoverParagraphSetupbutton = AddToolButton(*WPToolCover, "CoverParagraphSetupbutton",
                                            "Paragraph...", "Paragraph properties");
  CoverDocWordWrapButton = AddToolButton(*WPToolCover, "CoverDocWordWrapButton", "Wrap", {});
  LoadCoverButton = AddToolButton(*WPToolCover, "LoadCoverButton", "Template...",
                                  "Load Cover Sheet from Template");
  // The PDF strip goes between the document's formatting bar and its editor, and its view
  // takes the editor's place while a PDF is attached.
  PdfAttach = new TPdfAttachPanel(*WPDoc, {WPToolDoc, WPDoc}, DocumentPage);
  if (auto *docLayout = qobject_cast<QVBoxLayout *>(DocumentPage->layout())) {
    docLayout->insertWidget(1, PdfAttach);
    docLayout->addWidget(PdfAttach->PdfView, 1);
  }
  ShowWordWrap(*DocWordWrapButton, *WPDoc);
  ShowWordWrap(*CoverDocWordWrapButton, *WPCover);

  ZoomMenu =
      new TZoomMenu(Zoombutton, [this] { return DocumentButton->isChecked() ? WPDoc : WPCover; });

  SetKeyButtons(OKButton, {CancelButton});
  connect(Helpbutton, &QToolButton::clicked, this, [] { THelpWindow::showTopic(kHelpTopic); });
  connect(RecipientButton, &QToolButton::clicked, this, &TFaxEditor::RecipientButtonClick);
  connect(DocumentButton, &QToolButton::clicked, this, &TFaxEditor::DocumentButtonClick);
  connect(CoverButton, &QToolButton::clicked, this, &TFaxEditor::CoverButtonClick);
  connect(AddressButton, &QPushButton::clicked, this, &TFaxEditor::AddressButtonClick);
  connect(LoadCoverButton, &QToolButton::clicked, this, &TFaxEditor::LoadCoverButtonClick);
  connect(OKButton, &QToolButton::clicked, this, &TFaxEditor::OKButtonClick);
  connect(CancelButton, &QToolButton::clicked, this, &QDialog::reject);
  for (auto [button, editor] :
       {std::pair{DocPageBreakButton, WPDoc}, std::pair{CoverDocPageBreakButton, WPCover}})
    connect(button, &QToolButton::clicked, this, [this, e = editor] { AskPageBreak(this, *e); });
  for (auto [button, editor] :
       {std::pair{ParagraphSetupButton, WPDoc}, std::pair{CoverParagraphSetupbutton, WPCover}})
    connect(button, &QToolButton::clicked, this,
            [this, e = editor] { ShowParagraphDialog(this, *e); });
  for (auto [button, editor] :
       {std::pair{DocWordWrapButton, WPDoc}, std::pair{CoverDocWordWrapButton, WPCover}})
    connect(button, &QToolButton::clicked, this,
            [b = button, e = editor] { ToggleWordWrap(*b, *e); });
  for (TRichEdit *e : {WPDoc, WPCover}) {
    connect(e, &TRichEdit::spellCheckRequested, this, [this, e] { SpellCheckRequested(e); });
  }

  setTabOrder(Recipient, AddressButton);
  setTabOrder(AddressButton, FaxNumber);
  setTabOrder(FaxNumber, Subject);
  // Wide enough for the whole button bar (with the zoom button) and formatting bar.
  const int wide = std::max({592, ButtonBar->sizeHint().width() + Zoombutton->sizeHint().width(),
                             WPToolCover->sizeHint().width() + 8});
  resize(wide, 403 + ButtonBar->height() + status->height());
  SetKeepsPlacement(true);
  RestoreWindowPlacement(this);
  Recipient->setFocus();
}

TFaxEditor::~TFaxEditor() = default;

QWidget *TFaxEditor::makeEditorPage(TRichEdit *&editor, TFormatBar *&bar, const char *name) {
  auto *page = new QWidget(NoteBook);
  page->setObjectName(name);
  editor = new TRichEdit(page);
  bar = new TFormatBar(editor, page);
  auto *layout = new QVBoxLayout(page);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  layout->addWidget(bar);
  layout->addWidget(editor, 1);
  return page;
}

FaxRowText TFaxEditor::RowText() const {
  return {Recipient->text(), FaxNumber->text(), Subject->text()};
}

void TFaxEditor::showEvent(QShowEvent *event) {
  TBarDialog::showEvent(event);
  if (shown_) return;
  shown_ = true;
  PdfAttach->Refresh();  // the row was loaded into the editor since it was made
  SetDefaultPage(*WPDoc);
  SetDefaultPage(*WPCover);
  // What the main window loaded is the fax as it stands.
  discard_.TakeBaseline();
}

void TFaxEditor::reject() {
  if (discard_.MayClose()) TBarDialog::reject();
}

bool TFaxEditor::event(QEvent *e) {
  const bool handled = TBarDialog::event(e);
  // The first activation starts on the recipient page with both texts from their start; later
  // ones (back from the phone book or a dialog) leave the user where they were.
  if (e->type() == QEvent::WindowActivate && firstActivate_) {
    firstActivate_ = false;
    RecipientButton->setChecked(true);
    RecipientButtonClick();
    for (TRichEdit *ed : {WPDoc, WPCover}) {
      ed->Reformat();
      ed->CaretToStart();
    }
  }
  return handled;
}

void TFaxEditor::RecipientButtonClick() {
  NoteBook->setCurrentWidget(RecipientPage);
  Zoombutton->hide();
  Recipient->setFocus();
}

void TFaxEditor::DocumentButtonClick() {
  NoteBook->setCurrentWidget(DocumentPage);
  ZoomMenu->ShowZoom();
  Zoombutton->show();
  if (!WPDoc->isHidden())
    WPDoc->setFocus();
  else
    PdfAttach->AttachButton->setFocus();
}

void TFaxEditor::CoverButtonClick() {
  NoteBook->setCurrentWidget(CoverPage);
  ZoomMenu->ShowZoom();
  Zoombutton->show();
  WPCover->setFocus();
}

void TFaxEditor::AddressButtonClick() {
  TPhoneBook book(this);
  if (!OpenPhoneBook(records_, book)) return;
  book.SetChoosing(true);
  CenterWindow(&book);
  if (book.exec() != QDialog::Accepted) return;
  Recipient->setText(book.ChosenName);
  FaxNumber->setText(book.ChosenNumber);
}

void TFaxEditor::LoadCoverButtonClick() {
  if (!OpenCoverTable(records_, this)) return;
  {
    TCoverBrowse browse(records_, settings_, this);
    browse.SetChoosing(true);
    CenterWindow(&browse);
    if (browse.exec() == QDialog::Accepted) {
      TRichTextIO cover(*WPCover);
      cover.Clear();
      if (!LoadRichText(cover, "COVER", records_.CoverApollo))
        ShowStatus("The template's text could not be read; the cover sheet is empty.");
      // The fields stay fields: they are filled from the row when the fax is drawn.
      WPCover->Reformat();
    }
  }
  records_.CoverTable.Close();
}

void TFaxEditor::OKButtonClick() {
  if (!ConfirmCodePageFit(
          this, {{"Recipient", Recipient}, {"Fax Number", FaxNumber}, {"Subject", Subject}}))
    return;
  if (QString why; !CheckFaxNumber(FaxNumber->text(), why)) {
    Dialogs::error(this, why);
    RecipientButton->setChecked(true);
    RecipientButtonClick();
    FaxNumber->setFocus();
    return;
  }
  accept();
}

void TFaxEditor::SpellCheckRequested(TRichEdit *editor) {
  RequestSpellCheck(this, *editor);
}

}  // namespace kv
