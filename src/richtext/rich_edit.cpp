#include "richtext/rich_edit.h"

#include <QAbstractTextDocumentLayout>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QUrl>
#include <algorithm>

namespace kv {
namespace {

constexpr int kViewMargin = 8;
constexpr const char *kRtfMime = "text/rtf";

bool isWordChar(QChar c) {
  return c.isLetterOrNumber() || c.isMark();
}
bool isApostrophe(QChar c) {
  return c == QLatin1Char('\'') || c == QChar(0x2019);
}

}  // namespace

TRichEdit::TRichEdit(QWidget *parent) : QTextEdit(parent), doc_(new TRichDocument(this)) {
  // A little white space around the text on screen; pages are drawn without it.
  doc_->setDocumentMargin(kViewMargin);
  setDocument(doc_);
  setAcceptRichText(true);
  setTabChangesFocus(false);
  doc_->SetLayoutDpi(ScreenDpi() * zoom_ / 100.0);
  connect(doc_, &TRichDocument::pageLayoutChanged, this, &TRichEdit::applyWrap);
  applyWrap();
}

TRichEdit::~TRichEdit() = default;

bool TRichEdit::LoadRtf(const QByteArray &rtf, QString *error) {
  EndWordPass();
  const bool ok = doc_->LoadRtf(rtf, error);
  CaretToStart();
  return ok;
}

QByteArray TRichEdit::SaveRtf() const {
  return doc_->SaveRtf();
}

bool TRichEdit::LoadFromFile(const QString &path, QString *error) {
  EndWordPass();
  const bool ok = doc_->LoadRtfFile(path, error);
  CaretToStart();
  return ok;
}

bool TRichEdit::SaveToFile(const QString &path, QString *error) const {
  return doc_->SaveRtfFile(path, error);
}

void TRichEdit::Clear() {
  EndWordPass();
  const QTextCharFormat keep = currentCharFormat();
  doc_->Clear();
  setCurrentCharFormat(keep);
}

bool TRichEdit::IsEmpty() const {
  return doc_->IsEmpty();
}

void TRichEdit::Reformat() {
  doc_->Relayout();
  applyWrap();
}

void TRichEdit::InsertPageBreak() {
  QTextCursor c = textCursor();
  c.setPosition(c.selectionStart());
  c.beginEditBlock();
  if (!c.atBlockStart()) c.insertBlock();
  ParagraphProps props = doc_->ParagraphAt(c);
  props.pageBreakBefore = true;
  doc_->SetParagraph(c, props);
  c.endEditBlock();
  setTextCursor(c);
}

void TRichEdit::paintEvent(QPaintEvent *event) {
  QTextEdit::paintEvent(event);
  // A page break shows as a dashed line across the view above the paragraph that starts the
  // new page; only the paragraphs in view are looked at.
  QPainter painter(viewport());
  QPen pen(palette().color(QPalette::Text));
  pen.setStyle(Qt::DashLine);
  pen.setWidth(1);
  painter.setPen(pen);
  const QPointF scroll(horizontalScrollBar()->value(), verticalScrollBar()->value());
  QAbstractTextDocumentLayout *layout = doc_->documentLayout();
  for (QTextBlock b = cursorForPosition(QPoint(0, 0)).block(); b.isValid(); b = b.next()) {
    const QRectF r = layout->blockBoundingRect(b).translated(-scroll);
    if (r.top() > viewport()->height()) break;
    if (b == doc_->firstBlock() ||
        !(b.blockFormat().pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore))
      continue;
    const int y = static_cast<int>(r.top()) - 1;
    painter.drawLine(0, y, viewport()->width(), y);
  }
}

void TRichEdit::Repaint() {
  viewport()->update();
}

void TRichEdit::CaretToStart() {
  QTextCursor c(doc_);
  c.movePosition(QTextCursor::Start);
  setTextCursor(c);
  ensureCursorVisible();
}

void TRichEdit::SetPageLayout(const PageLayoutTw &page) {
  doc_->SetPageLayout(page);
}

void TRichEdit::applyWrap() {
  if (wordWrap_) {
    setLineWrapMode(QTextEdit::FixedPixelWidth);
    setLineWrapColumnOrWidth(static_cast<int>(doc_->TextWidthPixels()) + 2 * kViewMargin);
  } else {
    setLineWrapMode(QTextEdit::NoWrap);
  }
  viewport()->update();
}

void TRichEdit::SetWordWrap(bool on) {
  wordWrap_ = on;
  applyWrap();
}

void TRichEdit::SetZoom(int percent) {
  zoom_ = std::clamp(percent, 10, 500);
  doc_->SetLayoutDpi(ScreenDpi() * zoom_ / 100.0);
  applyWrap();
}

QMimeData *TRichEdit::createMimeDataFromSelection() const {
  auto *data = new QMimeData;
  const QTextCursor c = textCursor();
  if (!c.hasSelection()) return data;
  TRichDocument piece;
  QTextCursor(&piece).insertFragment(c.selection());
  data->setData(QString::fromLatin1(kRtfMime), piece.SaveRtf());
  QString text = c.selection().toPlainText();
  text.replace(QChar(0x2028), QLatin1Char('\n'));
  data->setText(text);
  return data;
}

// Files copied or dragged from a file manager carry their addresses as text too; those are no
// text of the fax.
static bool carriesFiles(const QMimeData *source) {
  if (!source->hasUrls()) return false;
  for (const QUrl &url : source->urls())
    if (url.isLocalFile()) return true;
  return false;
}

bool TRichEdit::canInsertFromMimeData(const QMimeData *source) const {
  if (carriesFiles(source)) return false;
  return source->hasFormat(QString::fromLatin1(kRtfMime)) || source->hasText();
}

void TRichEdit::insertFromMimeData(const QMimeData *source) {
  if (carriesFiles(source)) return;
  QTextCursor c = textCursor();
  if (source->hasFormat(QString::fromLatin1(kRtfMime))) {
    TRichDocument piece;
    piece.SetLayoutDpi(doc_->LayoutDpi());
    if (piece.LoadRtf(source->data(QString::fromLatin1(kRtfMime)))) {
      QTextCursor all(&piece);
      all.select(QTextCursor::Document);
      c.insertFragment(all.selection());
      setTextCursor(c);
      return;
    }
  }
  if (source->hasText()) {
    // Plain text takes the format at the caret.
    QString text = source->text();
    text.remove(QLatin1Char('\r'));
    c.insertText(text);
    setTextCursor(c);
  }
}

ParagraphProps TRichEdit::ParagraphAttributes() const {
  return doc_->ParagraphAt(textCursor());
}

void TRichEdit::SetParagraphAttributes(const ParagraphProps &props) {
  QTextCursor c = textCursor();
  const int from = std::min(c.anchor(), c.position());
  const int to = std::max(c.anchor(), c.position());
  QTextCursor w(doc_);
  w.beginEditBlock();
  for (QTextBlock b = doc_->findBlock(from); b.isValid() && b.position() <= to; b = b.next()) {
    w.setPosition(b.position());
    doc_->SetParagraph(w, props);
  }
  w.endEditBlock();
}

TRichEdit::IndentsAndSpacing TRichEdit::GetIndentsAndSpacing() const {
  const ParagraphProps p = ParagraphAttributes();
  IndentsAndSpacing v;
  v.firstIndent = p.leftIndent + p.firstIndent;
  v.leftIndent = p.leftIndent;
  v.rightIndent = p.rightIndent;
  v.spaceBefore = p.spaceBefore;
  v.spaceAfter = p.spaceAfter;
  v.lineHeight =
      p.lineMode == LineSpacing::AtLeast || p.lineMode == LineSpacing::Exactly ? p.lineValue : 0;
  return v;
}

void TRichEdit::SetParagraphSpacing(int spaceBefore, int lineHeight, int spaceAfter) {
  ParagraphProps p = ParagraphAttributes();
  const int current = GetIndentsAndSpacing().lineHeight;
  p.spaceBefore = std::clamp(spaceBefore, 0, 31680);
  p.spaceAfter = std::clamp(spaceAfter, 0, 31680);
  if (lineHeight != current) {
    p.lineMode = lineHeight > 0 ? LineSpacing::AtLeast : LineSpacing::Auto;
    p.lineValue = std::clamp(lineHeight, 0, 31680);
  }
  SetParagraphAttributes(p);
}

void TRichEdit::SetParagraphIndents(int firstIndent, int leftIndent, int rightIndent) {
  ParagraphProps p = ParagraphAttributes();
  p.leftIndent = std::clamp(leftIndent, -31680, 31680);
  p.rightIndent = std::clamp(rightIndent, -31680, 31680);
  p.firstIndent = std::clamp(firstIndent, -31680, 31680) - p.leftIndent;
  SetParagraphAttributes(p);
}

QTextCharFormat TRichEdit::CaretAttributes() const {
  return currentCharFormat();
}

void TRichEdit::SetCaretAttributes(const QTextCharFormat &format) {
  QTextCursor c = textCursor();
  if (c.hasSelection()) c.mergeCharFormat(format);
  mergeCurrentCharFormat(format);
  // An empty paragraph's height follows its own format.
  if (doc_->IsEmpty()) {
    QTextCursor b(doc_);
    QTextCharFormat f = b.blockCharFormat();
    f.merge(format);
    b.setBlockCharFormat(f);
  }
}

void TRichEdit::InsertMergeField(int number, const QString &label) {
  QTextCursor c = textCursor();
  doc_->InsertMergeField(c, number, label);
  setTextCursor(c);
}

void TRichEdit::Merge() {
  EndWordPass();
  doc_->RunMerge([this](int n) { return OnGetTextToInsert ? OnGetTextToInsert(n) : QString(); });
  Repaint();
}

void TRichEdit::StartWordPass() {
  wordPass_ = true;
  wordStart_ = wordEnd_ = 0;
  marked_ = false;
  updateMark();
}

QString TRichEdit::NextWord() {
  if (!wordPass_) StartWordPass();
  marked_ = false;
  updateMark();
  auto at = [this](int i) { return doc_->characterAt(i); };
  int i = wordEnd_;
  const int n = doc_->characterCount();
  while (i < n) {
    while (i < n && !isWordChar(at(i))) ++i;
    if (i >= n) break;
    const int start = i;
    bool digits = false;
    QString word;
    while (i < n) {
      const QChar c = at(i);
      if (isWordChar(c)) {
        digits = digits || c.isDigit();
      } else if (!(isApostrophe(c) && i > start && i + 1 < n && isWordChar(at(i + 1)))) {
        break;
      }
      word.append(c);
      ++i;
    }
    if (!digits) {
      wordStart_ = start;
      wordEnd_ = i;
      return word;
    }
  }
  wordStart_ = wordEnd_ = n;
  return {};
}

void TRichEdit::MarkWord() {
  if (!wordPass_ || wordEnd_ <= wordStart_) return;
  marked_ = true;
  updateMark();
  QTextCursor c(doc_);
  c.setPosition(wordStart_);
  c.setPosition(wordEnd_, QTextCursor::KeepAnchor);
  setTextCursor(c);
  ensureCursorVisible();
}

void TRichEdit::ReplaceWord(const QString &text) {
  if (!wordPass_ || wordEnd_ <= wordStart_) return;
  QTextCursor c(doc_);
  c.setPosition(wordStart_);
  c.setPosition(wordEnd_, QTextCursor::KeepAnchor);
  // The replacement takes the format of the word's first character.
  QTextCursor first(doc_);
  first.setPosition(wordStart_ + 1);
  const QTextCharFormat f = first.charFormat();
  c.insertText(text, f);
  wordEnd_ = wordStart_ + static_cast<int>(text.size());
  marked_ = false;
  updateMark();
}

void TRichEdit::EndWordPass() {
  if (!wordPass_) return;
  wordPass_ = false;
  marked_ = false;
  updateMark();
  QTextCursor c = textCursor();
  c.clearSelection();
  setTextCursor(c);
}

void TRichEdit::updateMark() {
  QList<QTextEdit::ExtraSelection> marks;
  if (marked_) {
    QTextEdit::ExtraSelection s;
    s.cursor = QTextCursor(doc_);
    s.cursor.setPosition(wordStart_);
    s.cursor.setPosition(wordEnd_, QTextCursor::KeepAnchor);
    s.format.setUnderlineStyle(QTextCharFormat::WaveUnderline);
    s.format.setUnderlineColor(Qt::red);
    s.format.setBackground(QColor(255, 236, 160));
    marks.append(s);
  }
  setExtraSelections(marks);
  viewport()->update();
}

int TRichEdit::DrawPage(QPainter &painter, int left, int top, int wrapWidth, int bottom,
                        int firstLine) {
  return doc_->DrawPage(painter, left, top, wrapWidth, bottom, firstLine);
}

}  // namespace kv
