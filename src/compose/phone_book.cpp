#include "compose/phone_book.h"

#include <QCoreApplication>
#include <QFormLayout>
#include <QHeaderView>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/button_bar.h"
#include "app/codepage_fit.h"
#include "app/dialogs.h"
#include "app/fax_tables.h"
#include "app/help_window.h"
#include "app/window_placement.h"
#include "compose/fax_row.h"

namespace kv {
namespace {
constexpr int kBrowserHelp = 1019;
constexpr int kEditorHelp = 1020;

QString trimmed(TTable &table, const char *field) {
  TField *f = table.FieldByName(field);
  return f ? f->AsString().trimmed() : QString();
}
}  // namespace

// ---- editor ----------------------------------------------------------------------------------

TPhoneBookEditor::TPhoneBookEditor(QWidget *parent)
    : TBarDialog(parent, 31),
      discard_(this, "entry", [this] { return (Name->text() + '\n' + Number->text()).toUtf8(); }) {
  setObjectName("PhoneBookEditor");
  setWindowTitle("Phone Book Editor");
  Helpbutton = AddBarButton(ButtonBar, "Helpbutton", "&Help", "Get help for the Phone Book Editor",
                            ButtonPicture::Help);
  AddBarStretch(ButtonBar);
  OKButton = AddBarButton(ButtonBar, "OKButton", "&Accept", "Accept changes made and exit",
                          ButtonPicture::Ok);
  Cancelbutton = AddBarButton(ButtonBar, "Cancelbutton", "Cance&l", "Cancel changes made and exit",
                              ButtonPicture::Cancel);

  auto *form = new QFormLayout;
  form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
  Name = new QLineEdit(this);
  Name->setObjectName("Name");
  Name->setMaxLength(kNameLength);
  Name->setToolTip("Type the recipient's name here");
  Number = new QLineEdit(this);
  Number->setObjectName("Number");
  Number->setMaxLength(kNumberLength);
  Number->setToolTip("Type the fax number here");
  form->addRow("&Name", Name);
  form->addRow("&Fax Number", Number);
  Body->addLayout(form);
  Body->addStretch();

  SetKeyButtons(OKButton, {Cancelbutton});
  connect(OKButton, &QToolButton::clicked, this, &TPhoneBookEditor::OKButtonClick);
  connect(Cancelbutton, &QToolButton::clicked, this, &QDialog::reject);
  connect(Helpbutton, &QToolButton::clicked, this, [] { THelpWindow::showTopic(kEditorHelp); });
  // Room for a whole name of 35 characters.
  const int wide = Name->fontMetrics().horizontalAdvance(QString(kNameLength, 'n')) + 120;
  resize(std::max(331, wide), 200);
}

void TPhoneBookEditor::showEvent(QShowEvent *event) {
  TBarDialog::showEvent(event);
  discard_.TakeBaseline();
}

void TPhoneBookEditor::reject() {
  if (discard_.MayClose()) TBarDialog::reject();
}

void TPhoneBookEditor::OKButtonClick() {
  if (!ConfirmCodePageFit(this, {{"Name", Name}, {"Fax Number", Number}})) return;
  if (QString why; !CheckFaxNumber(Number->text(), why)) {
    Dialogs::error(this, why);
    Number->setFocus();
    return;
  }
  accept();
}

// ---- browser ---------------------------------------------------------------------------------

TPhoneBook::TPhoneBook(QWidget *parent) : TBarDialog(parent, 31) {
  setObjectName("PhoneBook");
  setWindowTitle("Phone Book Browser");
  Helpbutton = AddBarButton(ButtonBar, "Helpbutton", "&Help",
                            "Get help for Phonebook Browser", ButtonPicture::Help);
  Addbutton = AddBarButton(ButtonBar, "Addbutton", "&New", "Create a new phone book entry",
                           ButtonPicture::New);
  Modifybutton = AddBarButton(ButtonBar, "Modifybutton", "&Edit",
                              "Edit the currently selected phone book entry", ButtonPicture::Edit);
  Deletebutton =
      AddBarButton(ButtonBar, "Deletebutton", "&Delete",
                   "Delete the currently selected phone book entry", ButtonPicture::Delete);
  AddBarStretch(ButtonBar);
  OKButton = AddBarButton(ButtonBar, "OKButton", "&Accept", "Use this phone book entry",
                          ButtonPicture::Ok);
  Cancelbutton =
      AddBarButton(ButtonBar, "Cancelbutton", "Cance&l",
                   "Cancel - do not use any of these phone book entries", ButtonPicture::Cancel);
  Closebutton = AddBarButton(ButtonBar, "Closebutton", "C&lose", "Close the Phone Book Browser",
                             ButtonPicture::Exit);

  PhoneApollo.DataSource = &PhoneTable;
  PhoneGrid = new QTableView(this);
  PhoneGrid->setObjectName("PhoneGrid");
  PhoneModel = new TTableModel(PhoneTable, kPhoneColumns, this);
  PhoneModel->attach(PhoneGrid);
  PhoneModel->setEmptyText("The phone book is empty. Press New to add a recipient.");
  PhoneGrid->horizontalHeader()->setStretchLastSection(true);
  Body->setContentsMargins(0, 0, 0, 0);
  Body->addWidget(PhoneGrid);

  SetKeyButtons(OKButton, {Cancelbutton, Closebutton});
  connect(Addbutton, &QToolButton::clicked, this, &TPhoneBook::AddbuttonClick);
  connect(Modifybutton, &QToolButton::clicked, this, &TPhoneBook::ModifybuttonClick);
  connect(Deletebutton, &QToolButton::clicked, this, &TPhoneBook::DeletebuttonClick);
  connect(OKButton, &QToolButton::clicked, this, &TPhoneBook::OKButtonClick);
  connect(Cancelbutton, &QToolButton::clicked, this, &QDialog::reject);
  connect(Closebutton, &QToolButton::clicked, this, &QDialog::reject);
  connect(Helpbutton, &QToolButton::clicked, this, [] { THelpWindow::showTopic(kBrowserHelp); });
  // A double click picks the entry when choosing and edits it when managing.
  connect(PhoneGrid, &QTableView::doubleClicked, this, [this] {
    if (CanClick(OKButton))
      OKButton->click();
    else
      ModifybuttonClick();
  });
  SetChoosing(false);
  resize(std::max(sizeHint().width(), 560), 340);
  SetKeepsPlacement(true);
  RestoreWindowPlacement(this);
}

TPhoneBook::~TPhoneBook() {
  // The list listens to the table, which goes before the child widgets do.
  PhoneGrid->setModel(nullptr);
  delete PhoneModel;
  PhoneTable.Close();
}

void TPhoneBook::SetChoosing(bool choosing) {
  OKButton->setVisible(choosing);
  Cancelbutton->setVisible(choosing);
  Closebutton->setVisible(!choosing);
  UpdateButtons();
}

bool TPhoneBook::event(QEvent *e) {
  const bool handled = TBarDialog::event(e);
  if (e->type() == QEvent::WindowActivate) {
    QCoreApplication::processEvents();
    UpdateButtons();
  }
  return handled;
}

bool TPhoneBook::hasEntry() {
  return PhoneTable.Active() && TFaxRecords::HasCurrentRow(PhoneTable);
}

void TPhoneBook::UpdateButtons() {
  const bool any = hasEntry();
  Modifybutton->setEnabled(any);
  Deletebutton->setEnabled(any);
  OKButton->setEnabled(any);
}

bool TPhoneBook::storeEntry(const TPhoneBookEditor &editor) {
  const bool ok = PhoneTable.FieldByName("NAME")->SetAsString(editor.Name->text()) &&
                  PhoneTable.FieldByName("PHONE")->SetAsString(editor.Number->text()) &&
                  PhoneTable.Post();
  if (!ok) {
    const QString why = PhoneTable.LastError();
    PhoneTable.Cancel();
    Dialogs::error(
        this,
        QStringLiteral("The entry could not be saved in %1: %2").arg(PhoneTable.FilePath(), why));
  }
  return ok;
}

void TPhoneBook::AddbuttonClick() {
  if (!PhoneTable.Active()) return;
  TPhoneBookEditor editor(this);
  CenterWindow(&editor);
  if (editor.exec() == QDialog::Accepted && PhoneTable.Append()) storeEntry(editor);
  UpdateButtons();
}

void TPhoneBook::ModifybuttonClick() {
  if (!hasEntry()) {
    Dialogs::beep();
    return;
  }
  TPhoneBookEditor editor(this);
  editor.Name->setText(trimmed(PhoneTable, "NAME"));
  editor.Number->setText(trimmed(PhoneTable, "PHONE"));
  CenterWindow(&editor);
  if (editor.exec() == QDialog::Accepted && PhoneTable.Edit()) storeEntry(editor);
  UpdateButtons();
}

void TPhoneBook::DeletebuttonClick() {
  if (!hasEntry()) {
    Dialogs::beep();
    return;
  }
  if (Dialogs::askYesNo(this, "Delete",
                        "Delete the current phone book entry?:\r" + trimmed(PhoneTable, "NAME"),
                        false) &&
      !PhoneTable.Delete())
    Dialogs::error(this, QStringLiteral("The entry could not be deleted from %1: %2")
                             .arg(PhoneTable.FilePath(), PhoneTable.LastError()));
  PhoneTable.Resync();
  QCoreApplication::processEvents();
  UpdateButtons();
}

void TPhoneBook::OKButtonClick() {
  if (!hasEntry()) {
    Dialogs::beep();
    return;
  }
  ChosenName = trimmed(PhoneTable, "NAME");
  ChosenNumber = trimmed(PhoneTable, "PHONE");
  accept();
}

}  // namespace kv

namespace kv {
bool OpenPhoneBook(TFaxRecords &records, TPhoneBook &book) {
  if (records.OpenPhoneDBF(book.PhoneTable, book.PhoneApollo)) return true;
  const QString why = book.PhoneTable.LastError().isEmpty() ? book.PhoneApollo.LastError()
                                                            : book.PhoneTable.LastError();
  const QString file = book.PhoneTable.FilePath();
  Dialogs::error(book.parentWidget(), why.contains(file)
                                          ? "The phone book cannot be opened: " + why + "."
                                          : QStringLiteral("The phone book %1 cannot be opened%2.")
                                                .arg(file, why.isEmpty() ? QString() : ": " + why));
  return false;
}
}  // namespace kv
