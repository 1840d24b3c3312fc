#pragma once
// The document of the word-processor control: text with character and paragraph formatting
// and merge fields, read from and written to RTF, laid out on a page of given size and
// margins at a given resolution, and drawn page by page. It needs no window: the rendering of
// faxes uses it on its own.
#include <QImage>
#include <QString>
#include <QTextCursor>
#include <QTextDocument>
#include <functional>
#include <memory>
#include <vector>

#include "richtext/paragraph_props.h"

class QPainter;

namespace kv {

class TRichDocument : public QTextDocument {
  Q_OBJECT
 public:
  explicit TRichDocument(QObject *parent = nullptr);
  ~TRichDocument() override;

  // --- Content -------------------------------------------------------------------------------
  // Replaces the content with the RTF. False (the document then empty, `error` saying why)
  // when the bytes are not RTF; damaged RTF is read as far as it goes.
  bool LoadRtf(const QByteArray &rtf, QString *error = nullptr);
  QByteArray SaveRtf() const;
  bool LoadRtfFile(const QString &path, QString *error = nullptr);
  bool SaveRtfFile(const QString &path, QString *error = nullptr) const;
  // Empties the document; the character format at the caret stays.
  void Clear();
  // No characters at all (a merge field counts as content).
  bool IsEmpty() const;
  // The PDF document sent in place of this one's text ("" for none); it goes in and out with
  // the RTF (see pdf_attachment.h) and Clear() drops it.
  const QString &PdfAttachment() const { return pdfAttachment_; }
  void SetPdfAttachment(const QString &path) { pdfAttachment_ = path; }

  // --- Layout --------------------------------------------------------------------------------
  void SetPageLayout(const PageLayoutTw &page);
  const PageLayoutTw &PageLayout() const { return page_; }
  // True when the RTF last loaded named its paper; the editors give other documents the
  // locale's paper.
  bool HasOwnPageSize() const { return ownPageSize_; }
  // The resolution the text is laid out at: the screen's times the zoom for editing, the
  // printer's or the fax's for pages. Paragraph attributes are re-derived from their twips.
  void SetLayoutDpi(double dpi);
  double LayoutDpi() const { return dpi_; }
  // Width of the text column in layout pixels.
  double TextWidthPixels() const;
  // Re-derives every paragraph's pixel values (after paragraphs came in from elsewhere).
  void Relayout();

  // --- Paragraph attributes ------------------------------------------------------------------
  ParagraphProps ParagraphAt(const QTextCursor &cursor) const;
  // Applies to every paragraph the cursor's selection touches.
  void SetParagraph(QTextCursor &cursor, const ParagraphProps &props);

  // --- Merge fields --------------------------------------------------------------------------
  void InsertMergeField(QTextCursor &cursor, int number, const QString &label);
  // Replaces every merge field with the text `textFor(number)` supplies: text starting with
  // "{\rtf" is inserted as rich text, other text as plain text in the field's format, where a
  // carriage return starts a new line and a line feed is dropped.
  void RunMerge(const std::function<QString(int)> &textFor);
  int MergeFieldCount() const;
  // Inserts plain text (CR = new line, LF dropped) or, when it starts with "{\rtf", rich text.
  void InsertTextOrRtf(QTextCursor &cursor, const QString &text);

  // --- Pages ---------------------------------------------------------------------------------
  // Draws one page onto `painter`, laid out at the painter's resolution with the page
  // layout's text width: the page that holds line `firstLine` (lines counted over the whole
  // document from 0), its top at `top`, its left edge at `left`, nothing right of
  // left + wrapWidth or below `bottom`. A page ends at a paragraph that starts a new page or
  // where the text height of the page layout is full. Answers the first line of the next page,
  // or 0 when the text is exhausted. Text is drawn black and without antialiasing, for
  // monochrome pages.
  int DrawPage(QPainter &painter, int left, int top, int wrapWidth, int bottom, int firstLine);
  // Pages the document fills at `dpi`.
  int PageCount(double dpi);

 signals:
  void pageLayoutChanged();

 private:
  QString pdfAttachment_;
  struct PagePlan;
  void preparePages(double dpi);

  PageLayoutTw page_;
  bool ownPageSize_ = false;
  double dpi_ = 96;
  QImage layoutDevice_;
  std::unique_ptr<PagePlan> plan_;
};

// Makes `copy` (a clone of a document) ready to be laid out as fax pages at `dpi`: paragraph
// pixels re-derived, no page break before the first paragraph, glyphs without antialiasing.
// All in one edit, so that a layout follows once and not once per paragraph.
void PrepareFaxPageCopy(QTextDocument &copy, double dpi);

// The resolution of the screen the program runs on (96 without one).
double ScreenDpi();

}  // namespace kv
