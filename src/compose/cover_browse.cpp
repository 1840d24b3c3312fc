#include "compose/cover_browse.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/button_bar.h"
#include "app/codepage_fit.h"
#include "app/dialogs.h"
#include "app/fax_tables.h"
#include "app/help_window.h"
#include "app/hints.h"
#include "app/rich_text_io.h"
#include "app/window_placement.h"
#include "compose/editor_tools.h"
#include "compose/fax_row.h"
#include "richtext/format_bar.h"
#include "richtext/merge_field.h"
#include "richtext/rich_edit.h"

namespace kv {
namespace {
constexpr int kBrowserHelp = 1017;
constexpr int kEditorHelp = 1018;

QString description(TTable &table) {
  TField *f = table.FieldByName("DESCRIPT");
  return f ? f->AsString().trimmed() : QString();
}
}  // namespace

bool OpenCoverTable(TFaxRecords &records, QWidget *parent) {
  if (records.OpenCoverDBF()) return true;
  const QString why = records.CoverTable.LastError().isEmpty() ? records.CoverApollo.LastError()
                                                               : records.CoverTable.LastError();
  const QString file = records.CoverTable.FilePath();
  Dialogs::error(parent, why.contains(file)
                             ? "The cover sheet templates cannot be opened: " + why + "."
                             : QStringLiteral("The cover sheet templates %1 cannot be opened%2.")
                                   .arg(file, why.isEmpty() ? QString() : ": " + why));
  return false;
}

// ---- template editor -------------------------------------------------------------------------

TCoverEditor::TCoverEditor(QWidget *parent)
    : TBarDialog(parent, 31), discard_(this, "template", [this] {
        return CoverDescription->text().toUtf8() + '\n' + WPCover->SaveRtf();
      }) {
  setObjectName("CoverEditor");
  setWindowTitle("Cover Sheet Template Editor");
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
  HelpButton = AddBarButton(ButtonBar, "HelpButton", "&Help",
                            "Get help for the Cover Sheet Template Editor", ButtonPicture::Help);
  ExplorerButton1 = AddBarButton(
      ButtonBar, "ExplorerButton1", "&Insert",
      "Insert a field from the recipient data, or the current date and time", ButtonPicture::New);
  Zoombutton = AddBarButton(ButtonBar, "Zoombutton", "100%",
                            "Set the view percentage for the current editor", ButtonPicture::View);
  AddBarStretch(ButtonBar);
  OKbutton = AddBarButton(ButtonBar, "OKbutton", "&Accept", "Ok - save changes to this template",
                          ButtonPicture::Ok);
  CancelButton =
      AddBarButton(ButtonBar, "CancelButton", "Cance&l",
                   "Cancel - do not save changes to this template", ButtonPicture::Cancel);

  CoverDescription = new QLineEdit(this);
  CoverDescription->setObjectName("CoverDescription");
  CoverDescription->setMaxLength(kDescriptionLength);
  SetHint(CoverDescription, "Enter a description for this cover sheet template here");
  CoverDescription->setMinimumWidth(
      CoverDescription->fontMetrics().horizontalAdvance(QString(kDescriptionLength, 'n')) + 12);
  auto *label = new QLabel("&Description", this);
  label->setBuddy(CoverDescription);
  auto *row = new QHBoxLayout;
  row->setContentsMargins(10, 8, 10, 8);
  row->addWidget(label);
  row->addWidget(CoverDescription);
  row->addStretch();
  WPCover = new TRichEdit(this);
  WPCover->setObjectName("WPCover");
  WPToolBar1 = new TFormatBar(WPCover, this);
  Body->setContentsMargins(0, 0, 0, 0);
  Body->setSpacing(0);
  Body->addLayout(row);
  Body->addWidget(WPToolBar1);
  Body->addWidget(WPCover, 1);

  // Create: three tool buttons, the word-wrap hint, the merge field and zoom menus.
  CoverParagraphSetupbutton = AddToolButton(*WPToolBar1, "CoverParagraphSetupbutton",
                                            "Paragraph...", "Paragraph properties");
  CoverDocPageBreakButton =
      AddToolButton(*WPToolBar1, "CoverDocPageBreakButton", "Page Break", "Insert Page Break");
  CoverDocWordWrapButton = AddToolButton(*WPToolBar1, "CoverDocWordWrapButton", "Wrap", {});
  ShowWordWrap(*CoverDocWordWrapButton, *WPCover);
  PopupMenu1 = new QMenu(this);
  PopupMenu1->setObjectName("PopupMenu1");
  auto field = [this](const char *name, const char *caption) {
    QAction *a = PopupMenu1->addAction(caption);
    a->setObjectName(name);
    return a;
  };
  mnuRecipient1 = field("mnuRecipient1", "Recipient");
  mnuFaxNumber1 = field("mnuFaxNumber1", "Fax Number");
  mnuSubject = field("mnuSubject", "Subject");
  mnuDate = field("mnuDate", "Date");
  mnuTime = field("mnuTime", "Time");
  PopupMenu1->addSeparator();
  mnuSender = field("mnuSender", "Sender");
  mnuSenderFax = field("mnuSenderFax", "Sender Fax Number");
  mnuPageCount = field("mnuPageCount", "Page Count");
  ExplorerButton1->setMenu(PopupMenu1);
  ExplorerButton1->setPopupMode(QToolButton::InstantPopup);
  ZoomMenu = new TZoomMenu(Zoombutton, [this] { return WPCover; });

  SetKeyButtons(OKbutton, {CancelButton});
  connect(PopupMenu1, &QMenu::triggered, this, &TCoverEditor::MergeFieldClick);
  connect(OKbutton, &QToolButton::clicked, this, &TCoverEditor::OKbuttonClick);
  connect(CancelButton, &QToolButton::clicked, this, &QDialog::reject);
  connect(HelpButton, &QToolButton::clicked, this, [] { THelpWindow::showTopic(kEditorHelp); });
  connect(CoverDocPageBreakButton, &QToolButton::clicked, this,
          [this] { AskPageBreak(this, *WPCover); });
  connect(CoverParagraphSetupbutton, &QToolButton::clicked, this,
          [this] { ShowParagraphDialog(this, *WPCover); });
  connect(CoverDocWordWrapButton, &QToolButton::clicked, this,
          [this] { ToggleWordWrap(*CoverDocWordWrapButton, *WPCover); });
  connect(WPCover, &TRichEdit::spellCheckRequested, this,
          [this] { RequestSpellCheck(this, *WPCover); });
  resize(std::max({640, ButtonBar->sizeHint().width(), WPToolBar1->sizeHint().width() + 8}), 520);
  SetKeepsPlacement(true);
  RestoreWindowPlacement(this);
}

void TCoverEditor::showEvent(QShowEvent *event) {
  TBarDialog::showEvent(event);
  if (shown_) return;
  shown_ = true;
  SetDefaultPage(*WPCover);
  CoverDescription->setFocus();
  discard_.TakeBaseline();
}

void TCoverEditor::reject() {
  if (discard_.MayClose()) TBarDialog::reject();
}

bool TCoverEditor::event(QEvent *e) {
  const bool first = e->type() == QEvent::WindowActivate && !property("activated").toBool();
  const bool handled = TBarDialog::event(e);
  if (first) {
    // Only the first activation moves the caret: later ones come back from a dialog.
    setProperty("activated", true);
    WPCover->Reformat();
    WPCover->CaretToStart();
  }
  return handled;
}

void TCoverEditor::MergeFieldClick(QAction *item) {
  const QString caption = item->text().remove('&');
  for (int n = 1; n <= kMergeFieldCount; ++n)
    if (caption.compare(MergeFieldCaption(n), Qt::CaseInsensitive) == 0) {
      WPCover->InsertMergeField(n, MergeFieldLabel(n));
      WPCover->Repaint();
      return;
    }
}

void TCoverEditor::OKbuttonClick() {
  if (ConfirmCodePageFit(this, {{"Description", CoverDescription}})) accept();
}

// ---- browser ---------------------------------------------------------------------------------

TCoverBrowse::TCoverBrowse(TFaxRecords &records, const Settings &settings, QWidget *parent)
    : TBarDialog(parent, 31), records_(records), settings_(settings) {
  setObjectName("CoverBrowse");
  setWindowTitle("Cover Sheet Template Browser");
  HelpButton = AddBarButton(ButtonBar, "HelpButton", "&Help",
                            "Get help for Cover Sheet Template Browser", ButtonPicture::Help);
  NewButton = AddBarButton(ButtonBar, "NewButton", "&New", "Create a new fax cover template",
                           ButtonPicture::New);
  ModifyButton =
      AddBarButton(ButtonBar, "ModifyButton", "&Edit",
                   "Edit the currently selected fax cover template", ButtonPicture::Edit);
  CloneButton =
      AddBarButton(ButtonBar, "CloneButton", "&Clone",
                   "Clone the currently selected fax cover template", ButtonPicture::Clone);
  DeleteButton =
      AddBarButton(ButtonBar, "DeleteButton", "&Delete",
                   "Delete  the currently selected fax cover template", ButtonPicture::Delete);
  AddBarStretch(ButtonBar);
  Acceptbutton = AddBarButton(ButtonBar, "Acceptbutton", "&Accept", "Use this cover sheet template",
                              ButtonPicture::Ok);
  CancelButton = AddBarButton(ButtonBar, "CancelButton", "Cance&l",
                              "Cancel - do not use any of these templates", ButtonPicture::Cancel);
  CloseButton = AddBarButton(ButtonBar, "CloseButton", "C&lose",
                             "Close the Cover Sheet Template Browser", ButtonPicture::Exit);

  CoverGrid = new QTableView(this);
  CoverGrid->setObjectName("CoverGrid");
  CoverModel = new TTableModel(records_.CoverTable, kCoverColumns, this);
  CoverModel->attach(CoverGrid);
  CoverModel->setEmptyText("There are no cover sheet templates yet. Press New to make one.");
  CoverGrid->horizontalHeader()->setStretchLastSection(true);
  Body->setContentsMargins(0, 0, 0, 0);
  Body->addWidget(CoverGrid);
  // The list is what the window is about: the keyboard starts there, not on the bar.
  CoverGrid->setFocus();

  SetKeyButtons(Acceptbutton, {CancelButton, CloseButton});
  connect(HelpButton, &QToolButton::clicked, this, [] { THelpWindow::showTopic(kBrowserHelp); });
  connect(NewButton, &QToolButton::clicked, this, &TCoverBrowse::NewButtonClick);
  connect(ModifyButton, &QToolButton::clicked, this, &TCoverBrowse::ModifyButtonClick);
  connect(CloneButton, &QToolButton::clicked, this, &TCoverBrowse::CloneButtonClick);
  connect(DeleteButton, &QToolButton::clicked, this, &TCoverBrowse::DeleteButtonClick);
  connect(Acceptbutton, &QToolButton::clicked, this, &TCoverBrowse::AcceptbuttonClick);
  connect(CancelButton, &QToolButton::clicked, this, &QDialog::reject);
  connect(CloseButton, &QToolButton::clicked, this, &QDialog::reject);
  connect(CoverGrid, &QTableView::doubleClicked, this, [this] {
    if (CanClick(Acceptbutton))
      Acceptbutton->click();
    else
      ModifyButtonClick();
  });
  connect(CoverModel, &QAbstractItemModel::modelReset, this, &TCoverBrowse::UpdateButtons);
  SetChoosing(false);
  resize(std::max(sizeHint().width(), 620), 340);
  SetKeepsPlacement(true);
  RestoreWindowPlacement(this);
}

TCoverBrowse::~TCoverBrowse() {
  // The list listens to the table, which its owner closes after this window is gone.
  CoverGrid->setModel(nullptr);
  delete CoverModel;
}

void TCoverBrowse::SetChoosing(bool choosing) {
  Acceptbutton->setVisible(choosing);
  CancelButton->setVisible(choosing);
  CloseButton->setVisible(!choosing);
  UpdateButtons();
}

bool TCoverBrowse::hasTemplate() {
  return records_.CoverTable.Active() && TFaxRecords::HasCurrentRow(records_.CoverTable);
}

void TCoverBrowse::UpdateButtons() {
  const bool any = hasTemplate();
  ModifyButton->setEnabled(any);
  CloneButton->setEnabled(any);
  DeleteButton->setEnabled(any);
  Acceptbutton->setEnabled(any);
}

void TCoverBrowse::runEditor(TCoverEditor &editor, bool append) {
  TTable &table = records_.CoverTable;
  CenterWindow(&editor);
  while (editor.exec() == QDialog::Accepted) {
    const bool ok = (append ? table.Append() : table.Edit()) &&
                    table.FieldByName("DESCRIPT")->SetAsString(editor.CoverDescription->text()) &&
                    SaveRichText(TRichTextIO(*editor.WPCover), "COVER", records_.CoverApollo) &&
                    table.Post();
    if (ok) break;
    const QString why = table.LastError();
    table.Cancel();
    // The template stays in the editor: nothing typed is lost.
    Dialogs::error(
        this,
        QStringLiteral("The template could not be saved in %1: %2").arg(table.FilePath(), why));
  }
  UpdateButtons();
}

void TCoverBrowse::NewButtonClick() {
  if (!records_.CoverTable.Active()) return;
  TCoverEditor editor(this);
  if (CloneFlag && hasTemplate()) {
    editor.CoverDescription->setText("[clone]" + description(records_.CoverTable));
    TRichTextIO cover(*editor.WPCover);
    LoadRichText(cover, "COVER", records_.CoverApollo);
  } else {
    editor.CoverDescription->clear();
    ApplyDefaultFont(*editor.WPCover, settings_);
  }
  CloneFlag = false;
  runEditor(editor, true);
}

void TCoverBrowse::ModifyButtonClick() {
  if (!hasTemplate()) {
    Dialogs::beep();
    return;
  }
  TCoverEditor editor(this);
  editor.CoverDescription->setText(description(records_.CoverTable));
  TRichTextIO cover(*editor.WPCover);
  LoadRichText(cover, "COVER", records_.CoverApollo);
  runEditor(editor, false);
}

void TCoverBrowse::CloneButtonClick() {
  if (!hasTemplate()) {
    Dialogs::beep();
    return;
  }
  CloneFlag = true;
  NewButtonClick();
}

void TCoverBrowse::DeleteButtonClick() {
  TTable &table = records_.CoverTable;
  if (!hasTemplate()) {
    Dialogs::beep();
    return;
  }
  if (Dialogs::askYesNo(this, "Delete",
                        "Delete the current cover template?:\r" + description(table), false) &&
      !table.Delete())
    Dialogs::error(this, QStringLiteral("The template could not be deleted from %1: %2")
                             .arg(table.FilePath(), table.LastError()));
  table.Resync();
  UpdateButtons();
}

void TCoverBrowse::AcceptbuttonClick() {
  if (!hasTemplate()) {
    Dialogs::beep();
    return;
  }
  accept();
}

}  // namespace kv
