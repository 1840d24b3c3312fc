#pragma once
// The fax editor's choice of a PDF document in place of a typed one: a strip beside the
// document editor with "Attach PDF..." (and "Remove PDF" once one is attached), and the view
// that stands in for the editor while a PDF is the fax document. The attachment itself lives
// in the editor's document (TRichDocument::PdfAttachment), so it is stored with the row's RTF.
#include <QWidget>

class QLabel;
class QPushButton;

namespace kv {

class TRichEdit;

class TPdfAttachPanel : public QWidget {
  Q_OBJECT
 public:
  // `editor` is the document editor and `editorParts` what is hidden while a PDF stands in
  // for it (the editor and its formatting bar).
  TPdfAttachPanel(TRichEdit &editor, QList<QWidget *> editorParts, QWidget *parent);

  // Checks the PDF document and makes it the fax document; false (nothing changed, the user
  // told why) when it cannot be faxed.
  bool AttachPdf(const QString &path);
  // Back to the typed document, which was kept meanwhile.
  void RemovePdf();
  // Shows what the document holds now (after the row was loaded into the editor).
  void Refresh();

  QPushButton *AttachButton, *RemoveButton;
  QLabel *Caption;  // in the strip
  QLabel *PdfView;  // in place of the editor

 signals:
  void attachmentChanged();

 private:
  void chooseFile();
  TRichEdit &editor_;
  QList<QWidget *> editorParts_;
};

}  // namespace kv
