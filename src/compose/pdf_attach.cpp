#include "compose/pdf_attach.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include "app/dialogs.h"
#include "app/file_drop.h"
#include "app/hints.h"
#include "app/status_line.h"
#include "pdfpages/pdf_document.h"
#include "richtext/rich_document.h"
#include "richtext/rich_edit.h"

namespace kv {

TPdfAttachPanel::TPdfAttachPanel(TRichEdit &editor, QList<QWidget *> editorParts, QWidget *parent)
    : QWidget(parent), editor_(editor), editorParts_(std::move(editorParts)) {
  setObjectName("PdfAttachPanel");
  Caption = new QLabel(this);
  Caption->setObjectName("PdfCaption");
  AttachButton = new QPushButton("Attach P&DF...", this);
  AttachButton->setObjectName("AttachPdfButton");
  AttachButton->setAutoDefault(false);
  SetHint(AttachButton, "Fax the pages of a PDF document instead of the typed document");
  RemoveButton = new QPushButton("Re&move PDF", this);
  RemoveButton->setObjectName("RemovePdfButton");
  RemoveButton->setAutoDefault(false);
  SetHint(RemoveButton, "Fax the typed document again instead of the PDF document");
  auto *row = new QHBoxLayout(this);
  row->setContentsMargins(8, 4, 8, 4);
  row->addWidget(Caption, 1);
  row->addWidget(AttachButton);
  row->addWidget(RemoveButton);

  PdfView = new QLabel(parent);
  PdfView->setObjectName("PdfView");
  PdfView->setAlignment(Qt::AlignCenter);
  PdfView->setWordWrap(true);
  PdfView->setMargin(24);
  PdfView->setAutoFillBackground(true);
  PdfView->setBackgroundRole(QPalette::Base);
  PdfView->setFrameShape(QFrame::StyledPanel);
  PdfView->setTextInteractionFlags(Qt::TextSelectableByMouse);

  connect(AttachButton, &QPushButton::clicked, this, &TPdfAttachPanel::chooseFile);
  // A PDF dropped on the document attaches it as the button does, once the drop has ended.
  for (QWidget *target : {static_cast<QWidget *>(&editor_), static_cast<QWidget *>(PdfView),
                          static_cast<QWidget *>(this)})
    TFileDrop::Install(target, IsPdfFile, [this](const QString &path) {
      QTimer::singleShot(0, this, [this, path] { AttachPdf(path); });
    });
  connect(RemoveButton, &QPushButton::clicked, this, &TPdfAttachPanel::RemovePdf);
  Refresh();
}

void TPdfAttachPanel::chooseFile() {
  const QString path = QFileDialog::getOpenFileName(this, "Attach PDF Document", QString(),
                                                    "PDF documents (*.pdf *.PDF);;All files (*)");
  if (!path.isEmpty()) AttachPdf(path);
}

bool TPdfAttachPanel::AttachPdf(const QString &path) {
  const QString full = QFileInfo(path).absoluteFilePath();
  // Every page is drawn once, as sending will: a document that cannot be drawn within the
  // work limit is refused now rather than when the fax goes out.
  PdfDocument pdf;
  Result checked;
  {
    BusyCursor busy;
    checked = pdf.openChecked(full.toStdString());
  }
  if (checked < 0) {
    Dialogs::error(this,
                   QStringLiteral("%1 cannot be faxed:\n%2")
                       .arg(QFileInfo(full).fileName(), QString::fromStdString(pdf.problem())),
                   "Attach PDF");
    return false;
  }
  editor_.Document()->SetPdfAttachment(full);
  Refresh();
  emit attachmentChanged();
  return true;
}

void TPdfAttachPanel::RemovePdf() {
  editor_.Document()->SetPdfAttachment({});
  Refresh();
  emit attachmentChanged();
  AttachButton->setFocus();
}

void TPdfAttachPanel::Refresh() {
  const QString path = editor_.Document()->PdfAttachment();
  const bool attached = !path.isEmpty();
  for (QWidget *w : editorParts_) w->setVisible(!attached);
  PdfView->setVisible(attached);
  RemoveButton->setVisible(attached);
  if (!attached) {
    Caption->setText("The typed document below is faxed after the cover sheet.");
    return;
  }
  const QString name = QFileInfo(path).fileName();
  Caption->setText(QStringLiteral("Faxing the PDF document %1.").arg(name));
  PdfView->setToolTip(path);
  PdfDocument pdf;
  if (pdf.open(path.toStdString()) < 0) {
    PdfView->setText(
        QStringLiteral("<p><b>%1</b></p><p>This PDF document cannot be faxed now:"
                       "<br>%2</p><p>Attach it again, or remove it.</p>")
            .arg(path.toHtmlEscaped(), QString::fromStdString(pdf.problem()).toHtmlEscaped()));
    return;
  }
  const int pages = pdf.pageCount();
  PdfView->setText(
      QStringLiteral("<p><b>%1</b></p><p>%2 %3, faxed after the cover sheet in place of the typed "
                     "document.</p><p style='color:gray'>%4</p>")
          .arg(name.toHtmlEscaped())
          .arg(pages)
          .arg(pages == 1 ? "page" : "pages")
          .arg(QFileInfo(path).absolutePath().toHtmlEscaped()));
}

}  // namespace kv
