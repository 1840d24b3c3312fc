#include "richtext/merge_field.h"

#include <QAbstractTextDocumentLayout>
#include <QFontMetricsF>
#include <QPainter>
#include <QRegularExpression>
#include <QTextDocument>

namespace kv {
namespace {

QFont deviceFont(QTextDocument *doc, const QTextFormat &format) {
  QFont f = format.toCharFormat().font();
  if (QPaintDevice *pd = doc->documentLayout()->paintDevice()) return QFont(f, pd);
  return f;
}

}  // namespace

QString MergeFieldLabel(int number) {
  static const char *const labels[kMergeFieldCount] = {"[RECIPIENT]", "[FAX#]", "[SUBJECT]",
                                                       "[DATE]", "[TIME]"};
  return number >= 1 && number <= kMergeFieldCount ? QString::fromLatin1(labels[number - 1])
                                                   : QString();
}

QTextCharFormat MergeFieldFormat(const QTextCharFormat &base, int number, const QString &label) {
  QTextCharFormat f = base;
  f.setObjectType(kMergeFieldObject);
  f.setProperty(kMergeFieldNumberProperty, number);
  f.setProperty(kMergeFieldLabelProperty, label);
  return f;
}

bool IsMergeField(const QTextFormat &format) {
  return format.objectType() == kMergeFieldObject;
}

int MergeFieldNumber(const QTextFormat &format) {
  return IsMergeField(format) ? format.intProperty(kMergeFieldNumberProperty) : 0;
}

QString MergeFieldText(const QTextFormat &format) {
  return format.stringProperty(kMergeFieldLabelProperty);
}

QString MergeFieldInstruction(int number) {
  return QStringLiteral("MERGEFIELD F%1").arg(number);
}

int ParseMergeFieldInstruction(const QString &instruction) {
  static const QRegularExpression re(QStringLiteral("^\\s*MERGEFIELD\\s+F(\\d{1,4})\\b"),
                                     QRegularExpression::CaseInsensitiveOption);
  const QRegularExpressionMatch m = re.match(instruction);
  return m.hasMatch() ? m.captured(1).toInt() : 0;
}

QSizeF MergeFieldHandler::intrinsicSize(QTextDocument *doc, int, const QTextFormat &format) {
  const QFontMetricsF fm(deviceFont(doc, format));
  return QSizeF(fm.horizontalAdvance(MergeFieldText(format)), fm.height());
}

void MergeFieldHandler::drawObject(QPainter *painter, const QRectF &rect, QTextDocument *doc, int,
                                   const QTextFormat &format) {
  const QFont font = deviceFont(doc, format);
  const QFontMetricsF fm(font);
  painter->save();
  painter->setFont(font);
  painter->setPen(Qt::red);
  painter->drawText(QPointF(rect.left(), rect.top() + fm.ascent()), MergeFieldText(format));
  painter->restore();
}

void MergeFieldHandler::install(QTextDocument *doc) {
  QAbstractTextDocumentLayout *layout = doc->documentLayout();
  if (layout->handlerForObject(kMergeFieldObject)) return;
  layout->registerHandler(kMergeFieldObject, new MergeFieldHandler(layout));
}

}  // namespace kv
