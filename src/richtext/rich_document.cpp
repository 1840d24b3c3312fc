#include "richtext/rich_document.h"
#include "richtext/pdf_attachment.h"

#include <QAbstractTextDocumentLayout>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTextBlock>
#include <QTextDocumentFragment>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

#include "richtext/document_fonts.h"
#include "richtext/merge_field.h"
#include "richtext/rtf_reader.h"
#include "richtext/rtf_writer.h"

namespace kv {
namespace {

void setDeviceDpi(QImage &img, double dpi) {
  const int dpm = static_cast<int>(std::lround(dpi / 0.0254));
  img.setDotsPerMeterX(dpm);
  img.setDotsPerMeterY(dpm);
}

// Every block of `doc` in order with a cursor, for format changes. They make one edit: the
// layout follows once at its end, not after each block (which made long documents quadratic).
template <typename F>
void forEachBlock(QTextDocument &doc, F f) {
  QTextCursor c(&doc);
  c.beginEditBlock();
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    c.setPosition(b.position());
    f(b, c);
  }
  c.endEditBlock();
}

// Re-derives the pixels of every paragraph from its twips.
void applyDpi(QTextDocument &doc, double dpi) {
  const bool undo = doc.isUndoRedoEnabled();
  // Re-deriving pixels is no edit the user could undo.
  doc.setUndoRedoEnabled(false);
  forEachBlock(doc, [dpi](const QTextBlock &b, QTextCursor &c) {
    QTextBlockFormat f = b.blockFormat();
    writeParagraphProps(f, readParagraphProps(f), dpi);
    c.setBlockFormat(f);
  });
  doc.setUndoRedoEnabled(undo);
}

}  // namespace

void PrepareFaxPageCopy(QTextDocument &copy, double dpi) {
  copy.setUndoRedoEnabled(false);
  copy.setDocumentMargin(0);
  QTextCursor edit(&copy);
  edit.beginEditBlock();
  applyDpi(copy, dpi);
  // A break before the very first paragraph would leave a blank first page.
  QTextBlockFormat f = edit.blockFormat();
  f.setPageBreakPolicy(QTextFormat::PageBreak_Auto);
  edit.setBlockFormat(f);
  // Fax pages are black and white: no grey edges on the glyphs.
  QTextCursor all(&copy);
  all.select(QTextCursor::Document);
  QTextCharFormat crisp;
  crisp.setFontStyleStrategy(QFont::NoAntialias);
  all.mergeCharFormat(crisp);
  forEachBlock(copy, [](const QTextBlock &b, QTextCursor &c) {
    QTextCharFormat f = b.charFormat();
    f.setFontStyleStrategy(QFont::NoAntialias);
    c.setBlockCharFormat(f);
  });
  edit.endEditBlock();
}

double ScreenDpi() {
  if (const QScreen *s = QGuiApplication::primaryScreen()) return s->logicalDotsPerInchY();
  return 96;
}

// The laid-out pages of a copy of the document at one resolution.
struct TRichDocument::PagePlan {
  double dpi = 0;
  QImage device{1, 1, QImage::Format_Mono};
  std::unique_ptr<QTextDocument> doc;
  double pageHeight = 0;
  double pageWidth = 0;
  std::vector<int> firstLine;  // per page: the index of its first line
};

TRichDocument::TRichDocument(QObject *parent)
    : QTextDocument(parent), layoutDevice_(1, 1, QImage::Format_Mono) {
  RegisterDocumentFonts();
  setDocumentMargin(0);
  QFont f(QStringLiteral("Arial"));
  f.setPointSize(10);
  setDefaultFont(f);
  dpi_ = ScreenDpi();
  setDeviceDpi(layoutDevice_, dpi_);
  documentLayout()->setPaintDevice(&layoutDevice_);
  MergeFieldHandler::install(this);
  connect(this, &QTextDocument::contentsChanged, this, [this] { plan_.reset(); });
}

TRichDocument::~TRichDocument() = default;

bool TRichDocument::LoadRtf(const QByteArray &rtf, QString *error) {
  const RtfReadResult r = ReadRtf(std::string_view(rtf.constData(), rtf.size()), *this, dpi_);
  if (error) *error = r.error;
  if (!r.ok) clear();
  pdfAttachment_ = r.ok ? PdfAttachmentOf(rtf) : QString();
  ownPageSize_ = r.page.has_value();
  if (r.page) SetPageLayout(*r.page);
  plan_.reset();
  return r.ok;
}

QByteArray TRichDocument::SaveRtf() const {
  return WithPdfAttachment(WriteRtf(*this, page_), pdfAttachment_);
}

bool TRichDocument::LoadRtfFile(const QString &path, QString *error) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    Clear();
    if (error) *error = QStringLiteral("Cannot read %1: %2").arg(path, f.errorString());
    return false;
  }
  return LoadRtf(f.readAll(), error);
}

bool TRichDocument::SaveRtfFile(const QString &path, QString *error) const {
  QFile f(path);
  const QByteArray data = SaveRtf();
  if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(data) != data.size() ||
      !f.flush()) {
    if (error) *error = QStringLiteral("Cannot write %1: %2").arg(path, f.errorString());
    return false;
  }
  return true;
}

void TRichDocument::Clear() {
  clear();
  pdfAttachment_.clear();
  MergeFieldHandler::install(this);
  plan_.reset();
}

bool TRichDocument::IsEmpty() const {
  return isEmpty();
}

void TRichDocument::SetPageLayout(const PageLayoutTw &page) {
  page_ = page;
  plan_.reset();
  emit pageLayoutChanged();
}

double TRichDocument::TextWidthPixels() const {
  return twipsToPixels(std::max(page_.textWidth(), 144), dpi_);
}

void TRichDocument::SetLayoutDpi(double dpi) {
  dpi = std::clamp(dpi, 10.0, 2400.0);
  if (std::abs(dpi - dpi_) < 1e-6) return;
  dpi_ = dpi;
  setDeviceDpi(layoutDevice_, dpi_);
  documentLayout()->setPaintDevice(&layoutDevice_);
  applyDpi(*this, dpi_);
  emit pageLayoutChanged();
}

void TRichDocument::Relayout() {
  applyDpi(*this, dpi_);
  markContentsDirty(0, characterCount());
}

ParagraphProps TRichDocument::ParagraphAt(const QTextCursor &cursor) const {
  return readParagraphProps(cursor.blockFormat());
}

void TRichDocument::SetParagraph(QTextCursor &cursor, const ParagraphProps &props) {
  QTextBlockFormat f = cursor.blockFormat();
  writeParagraphProps(f, props, dpi_);
  cursor.setBlockFormat(f);
}

void TRichDocument::InsertMergeField(QTextCursor &cursor, int number, const QString &label) {
  QTextCharFormat base = cursor.charFormat();
  if (IsMergeField(base)) {
    base.setObjectType(QTextFormat::NoObject);
    base.clearProperty(kMergeFieldNumberProperty);
    base.clearProperty(kMergeFieldLabelProperty);
  }
  cursor.insertText(QString(QChar::ObjectReplacementCharacter),
                    MergeFieldFormat(base, number, label));
  // Typing after the field goes on in plain text.
  cursor.setCharFormat(base);
}

int TRichDocument::MergeFieldCount() const {
  int n = 0;
  for (QTextBlock b = begin(); b.isValid(); b = b.next())
    for (auto it = b.begin(); !it.atEnd(); ++it)
      if (IsMergeField(it.fragment().charFormat())) n += it.fragment().length();
  return n;
}

void TRichDocument::InsertTextOrRtf(QTextCursor &cursor, const QString &text) {
  if (text.startsWith(QLatin1String("{\\rtf"))) {
    TRichDocument piece;
    piece.SetLayoutDpi(dpi_);
    if (piece.LoadRtf(text.toLatin1())) {
      // A fragment of one paragraph goes in as text only, so the field's paragraph stays.
      QTextCursor all(&piece);
      all.select(QTextCursor::Document);
      cursor.insertFragment(all.selection());
    }
    return;
  }
  QString plain = text;
  plain.remove(QLatin1Char('\n'));
  plain.replace(QLatin1Char('\r'), QChar(0x2028));
  cursor.insertText(plain);
}

void TRichDocument::RunMerge(const std::function<QString(int)> &textFor) {
  QTextCursor c(this);
  c.beginEditBlock();
  // Fields are found afresh after each replacement, as the inserted text moves the rest.
  for (int pos = 0; pos < characterCount();) {
    QTextCursor probe(this);
    probe.setPosition(pos);
    if (!probe.movePosition(QTextCursor::NextCharacter, QTextCursor::KeepAnchor)) break;
    const QTextCharFormat f = probe.charFormat();
    if (!IsMergeField(f) || probe.selectedText() != QString(QChar::ObjectReplacementCharacter)) {
      ++pos;
      continue;
    }
    QTextCharFormat plainFormat = f;
    plainFormat.setObjectType(QTextFormat::NoObject);
    plainFormat.clearProperty(kMergeFieldNumberProperty);
    plainFormat.clearProperty(kMergeFieldLabelProperty);
    const QString text = textFor ? textFor(MergeFieldNumber(f)) : QString();
    probe.removeSelectedText();
    probe.setCharFormat(plainFormat);
    const int before = characterCount();
    InsertTextOrRtf(probe, text);
    pos += std::max(0, characterCount() - before + 1);
  }
  c.endEditBlock();
}

void TRichDocument::preparePages(double dpi) {
  auto plan = std::make_unique<PagePlan>();
  plan->dpi = dpi;
  setDeviceDpi(plan->device, dpi);
  plan->doc.reset(clone());
  QTextDocument &d = *plan->doc;
  // Formats first, while the copy has no layout yet: it is laid out once, when its page size
  // is set below.
  PrepareFaxPageCopy(d, dpi);
  d.documentLayout()->setPaintDevice(&plan->device);
  MergeFieldHandler::install(&d);
  plan->pageWidth = twipsToPixels(std::max(page_.textWidth(), 144), dpi);
  plan->pageHeight = twipsToPixels(std::max(page_.textHeight(), 144), dpi);
  d.setPageSize(QSizeF(plan->pageWidth, plan->pageHeight));

  QAbstractTextDocumentLayout *layout = d.documentLayout();
  int line = 0;
  int lastPage = -1;
  for (QTextBlock b = d.begin(); b.isValid(); b = b.next()) {
    const QRectF br = layout->blockBoundingRect(b);
    const QTextLayout *tl = b.layout();
    const int n = tl ? tl->lineCount() : 0;
    for (int i = 0; i < n; ++i, ++line) {
      const double y = br.top() + tl->lineAt(i).y();
      const int page = static_cast<int>(std::floor((y + 0.5) / plan->pageHeight));
      while (lastPage < page) {
        plan->firstLine.push_back(line);
        ++lastPage;
      }
    }
  }
  if (plan->firstLine.empty()) plan->firstLine.push_back(0);
  plan_ = std::move(plan);
}

int TRichDocument::PageCount(double dpi) {
  if (!plan_ || std::abs(plan_->dpi - dpi) > 1e-6) preparePages(dpi);
  return static_cast<int>(plan_->firstLine.size());
}

int TRichDocument::DrawPage(QPainter &painter, int left, int top, int wrapWidth, int bottom,
                            int firstLine) {
  const double dpi = painter.device() ? painter.device()->logicalDpiY() : dpi_;
  if (firstLine <= 0 || !plan_ || std::abs(plan_->dpi - dpi) > 1e-6) preparePages(dpi);
  const std::vector<int> &starts = plan_->firstLine;
  // The page that holds the line.
  const auto next = std::upper_bound(starts.begin(), starts.end(), std::max(firstLine, 0));
  const int page = static_cast<int>(next - starts.begin()) - 1;

  const double pageTop = page * plan_->pageHeight;
  const double height = std::min<double>(plan_->pageHeight, bottom - top);
  const QRectF clip(-left, pageTop, wrapWidth + left, height);
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, false);
  painter.setRenderHint(QPainter::TextAntialiasing, false);
  painter.translate(left, top - pageTop);
  painter.setClipRect(clip);
  QAbstractTextDocumentLayout::PaintContext ctx;
  ctx.clip = clip;
  ctx.palette.setColor(QPalette::Text, Qt::black);
  plan_->doc->documentLayout()->draw(&painter, ctx);
  painter.restore();
  return next == starts.end() ? 0 : *next;
}

}  // namespace kv
