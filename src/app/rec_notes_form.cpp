#include "app/rec_notes_form.h"

#include <QToolButton>
#include <QVBoxLayout>

#include "app/button_bar.h"
#include "app/codepage_fit.h"
#include "app/help_window.h"

namespace kv {
namespace {
constexpr int kHelpTopic = 1027;
}

TRecNotesForm::TRecNotesForm(QWidget *parent) : TBarDialog(parent, 31) {
  setObjectName("RecNotesForm");
  setWindowTitle("Received Fax Notes");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  Helpbutton = AddBarButton(ButtonBar, "Helpbutton", "&Help", "Help on the notes of a received fax",
                            ButtonPicture::Help);
  AddBarStretch(ButtonBar);
  OKButton = AddBarButton(ButtonBar, "OKButton", "&Accept", "Accept changes made and exit",
                          ButtonPicture::Ok);
  Cancelbutton = AddBarButton(ButtonBar, "Cancelbutton", "Cance&l", "Cancel changes made and exit",
                              ButtonPicture::Cancel);

  Descript = new QLabel(this);
  Descript->setObjectName("Descript");
  QFont bold = Descript->font();
  bold.setBold(true);
  Descript->setFont(bold);
  auto *label = new QLabel("&Notes", this);
  Notes = new QLineEdit(this);
  Notes->setObjectName("Notes");
  Notes->setMaxLength(kNotesLength);
  label->setBuddy(Notes);
  Body->addWidget(Descript);
  Body->addSpacing(6);
  Body->addWidget(label);
  Body->addWidget(Notes);
  Body->addStretch();

  SetKeyButtons(OKButton, {Cancelbutton});
  connect(OKButton, &QToolButton::clicked, this, [this] {
    if (ConfirmCodePageFit(this, {{"Notes", Notes}})) accept();
  });
  connect(Cancelbutton, &QToolButton::clicked, this, &QDialog::reject);
  connect(Helpbutton, &QToolButton::clicked, this, [] { THelpWindow::showTopic(kHelpTopic); });
  // Wide enough for sixty characters of notes at any font size.
  const int wide = Notes->fontMetrics().horizontalAdvance(QString(kNotesLength, 'n')) + 40;
  resize(std::max(405, wide), 221);
  Notes->setFocus();
}

}  // namespace kv
