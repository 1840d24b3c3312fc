#pragma once
// "Paragraph Properties": the indents and spacing of the paragraph at the caret of a
// rich-text editor, in inches, centimetres or points, and the paper size of the document. The fax
// editor and the cover template editor open it modally for one of their editors.
#include <QDialog>

class QComboBox;
class QLineEdit;
class QPushButton;

namespace kv {

class TRichEdit;

class TParagraphPropDlg : public QDialog {
  Q_OBJECT
 public:
  explicit TParagraphPropDlg(QWidget *parent = nullptr);

  // The editor to work on; set before the dialog is shown.
  TRichEdit *Editor = nullptr;

  QLineEdit *FirstIndent, *LeftIndent, *RightIndent;
  QComboBox *FirstIndentCombo, *ComboBox1;
  // Letter, Legal or A4 for the whole document (and the document's own size when it is none).
  QComboBox *PaperCombo;
  QLineEdit *SpaceBeforePts, *SpaceAfterPts, *LineHeightPts;
  QPushButton *Okbutton, *CancelButton;

  // The six values in twips, as shown and edited.
  enum Value { vFirst, vLeft, vRight, vBefore, vAfter, vLine, vCount };
  int Twips(Value v) const { return twips_[v]; }

  // What a field shows for `twips` in the current unit, and what its text means in twips
  // (empty = 0; text that is no number leaves the value as it was).
  QString Display(const QLineEdit *field, int twips) const;
  bool ParseTwips(const QLineEdit *field, const QString &text, int &twips) const;

 protected:
  void showEvent(QShowEvent *event) override;
  void keyPressEvent(QKeyEvent *event) override;

 private slots:
  void FormShow();
  void ComboBox1Change();
  void FirstIndentComboChange();
  void FieldEdited(QLineEdit *field);
  void OkbuttonClick();

 private:
  QLineEdit *fieldOf(Value v) const;
  void displayAll();
  void setHints();
  bool isPoints(const QLineEdit *field) const;

  int twips_[vCount] = {};
  bool displaying_ = false;
};

}  // namespace kv
