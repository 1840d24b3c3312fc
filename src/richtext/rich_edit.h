#pragma once
// The word-processor control every editor of the program uses (cover sheets, templates, fax
// documents). It edits a TRichDocument (rich_document.h): RTF in and out, page layout in
// twips, paragraph attributes at the caret, word wrap, zoom, merge fields, a word-by-word pass
// for the spell checker, and the drawing of pages. Its formatting bar is TFormatBar
// (format_bar.h).
#include <QTextEdit>
#include <functional>

#include "richtext/paragraph_props.h"
#include "richtext/rich_document.h"

namespace kv {

class TRichEdit : public QTextEdit {
  Q_OBJECT
 public:
  explicit TRichEdit(QWidget *parent = nullptr);
  ~TRichEdit() override;

  TRichDocument *Document() const { return doc_; }

  // --- Content -------------------------------------------------------------------------------
  // Replace the content. False when the data is not RTF (the control is then empty and
  // `error` says why); damaged RTF is read as far as it goes.
  bool LoadRtf(const QByteArray &rtf, QString *error = nullptr);
  QByteArray SaveRtf() const;
  bool LoadFromFile(const QString &path, QString *error = nullptr);
  bool SaveToFile(const QString &path, QString *error = nullptr) const;
  void Clear();
  bool IsEmpty() const;
  // Re-layout of the whole text (after page layout or paragraph changes), and repaint.
  void Reformat();
  void Repaint();
  void CaretToStart();

  // --- Page layout and view ------------------------------------------------------------------
  // Page size and margins in twips (the editors use 12240 x 15840 with 720 margins).
  void SetPageLayout(const PageLayoutTw &page);
  PageLayoutTw PageLayout() const { return doc_->PageLayout(); }
  // Word wrap on: lines break at the page's text width; off: only at paragraph ends.
  void SetWordWrap(bool on);
  bool WordWrap() const { return wordWrap_; }
  // Zoom in percent of the screen's resolution (10 to 500); 100 at start.
  void SetZoom(int percent);
  int Zoom() const { return zoom_; }

  // --- Paragraph attributes at the caret -----------------------------------------------------
  ParagraphProps ParagraphAttributes() const;
  // Applied to every paragraph of the selection.
  void SetParagraphAttributes(const ParagraphProps &props);
  // The six values of the paragraph dialog, in twips. Line height is the \sl-style height
  // (0 = single spacing; a proportional spacing reads as 0).
  struct IndentsAndSpacing {
    int firstIndent = 0;  // absolute: where the first line starts
    int leftIndent = 0;
    int rightIndent = 0;
    int spaceBefore = 0;
    int spaceAfter = 0;
    int lineHeight = 0;
  };
  IndentsAndSpacing GetIndentsAndSpacing() const;
  // Line height 0 gives single spacing, more gives at least that height; a line height equal
  // to what GetIndentsAndSpacing answered keeps the paragraph's spacing mode.
  void SetParagraphSpacing(int spaceBefore, int lineHeight, int spaceAfter);
  void SetParagraphIndents(int firstIndent, int leftIndent, int rightIndent);

  // --- Character attributes at the caret -----------------------------------------------------
  QTextCharFormat CaretAttributes() const;
  // Merged into the selection, or set as the attributes of what is typed next.
  void SetCaretAttributes(const QTextCharFormat &format);

  // Ends the page at the caret: the text after it starts a paragraph on a new page (at the
  // start of a paragraph, that paragraph starts the new page). The editor draws a dashed line
  // where a page break is.
  void InsertPageBreak();

  // --- Merge fields --------------------------------------------------------------------------
  // Inserts a field (number 1 to 5, label such as "[RECIPIENT]") at the caret.
  void InsertMergeField(int number, const QString &label);
  // Asked for the text of each field by number during Merge(); "" inserts nothing.
  std::function<QString(int number)> OnGetTextToInsert;
  // Replaces every merge field with the text OnGetTextToInsert supplies (see
  // TRichDocument::RunMerge for how the text is taken).
  void Merge();

  // --- Word-by-word pass (spell checking) ----------------------------------------------------
  // A word is a run of letters, with apostrophes inside it; runs that contain digits are
  // passed over.
  void StartWordPass();
  // The next word after the current one; "" at the end of the text.
  QString NextWord();
  // Highlights the current word and scrolls it into view.
  void MarkWord();
  // Replaces the current (marked) word by `text`, keeping its formatting; the pass goes on
  // after the replacement.
  void ReplaceWord(const QString &text);
  // Ends the pass and removes the mark.
  void EndWordPass();
  bool InWordPass() const { return wordPass_; }

  // --- Pages ---------------------------------------------------------------------------------
  // See TRichDocument::DrawPage.
  int DrawPage(QPainter &painter, int left, int top, int wrapWidth, int bottom, int firstLine);

 signals:
  // The formatting bar's spell-check button; the window opens the spell checker.
  void spellCheckRequested();

 protected:
  void paintEvent(QPaintEvent *event) override;
  // The clipboard carries RTF (and plain text), so that formatting survives copying between
  // editors and from and to other word processors.
  QMimeData *createMimeDataFromSelection() const override;
  bool canInsertFromMimeData(const QMimeData *source) const override;
  void insertFromMimeData(const QMimeData *source) override;

 private:
  void applyWrap();
  void updateMark();

  TRichDocument *doc_;
  bool wordWrap_ = true;
  int zoom_ = 100;
  bool wordPass_ = false;
  int wordStart_ = 0, wordEnd_ = 0;  // the current word; empty before the first
  bool marked_ = false;
};

}  // namespace kv
