#pragma once
// The fax editor: who a fax goes to (recipient, fax number, subject), its optional cover sheet
// and its document, on three pages. It stores nothing itself: the main window fills it from a
// row of the sent-fax table and writes it back when the user accepts.
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>

#include "app/bar_dialog.h"
#include "compose/discard_question.h"
#include "compose/fax_row.h"

namespace kv {

class TFaxRecords;
class TFormatBar;
class TPdfAttachPanel;
class TRichEdit;
class TZoomMenu;

class TFaxEditor : public TBarDialog {
  Q_OBJECT
 public:
  TFaxEditor(TFaxRecords &records, const Settings &settings, QWidget *parent = nullptr);
  ~TFaxEditor() override;

  QToolButton *Helpbutton, *RecipientButton, *DocumentButton, *CoverButton, *Zoombutton, *OKButton,
      *CancelButton;
  QStackedWidget *NoteBook;
  QWidget *RecipientPage, *DocumentPage, *CoverPage;
  QLineEdit *Recipient, *FaxNumber, *Subject;
  QPushButton *AddressButton;
  TRichEdit *WPCover, *WPDoc;
  TFormatBar *WPToolCover, *WPToolDoc;
  QToolButton *CoverParagraphSetupbutton, *CoverDocPageBreakButton, *CoverDocWordWrapButton,
      *LoadCoverButton;
  QToolButton *ParagraphSetupButton, *DocPageBreakButton, *DocWordWrapButton;
  TZoomMenu *ZoomMenu;
  // Beside the document editor: a PDF document as the fax document instead.
  TPdfAttachPanel *PdfAttach;

  // The recipient fields as the row stores them.
  FaxRowText RowText() const;

 public slots:
  void RecipientButtonClick();
  void DocumentButtonClick();
  void CoverButtonClick();
  void AddressButtonClick();
  void LoadCoverButtonClick();
  void OKButtonClick();
  void SpellCheckRequested(TRichEdit *editor);
  // Cancel, Escape and closing: asks first when anything was changed.
  void reject() override;

 protected:
  void showEvent(QShowEvent *event) override;
  bool event(QEvent *e) override;

 private:
  QWidget *makeEditorPage(TRichEdit *&editor, TFormatBar *&bar, const char *name);
  TFaxRecords &records_;
  const Settings &settings_;
  bool firstActivate_ = true;
  bool shown_ = false;
  DiscardQuestion discard_;
};

}  // namespace kv
