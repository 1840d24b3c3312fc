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

// The locale's long time format without its time zone, which a cover sheet does not show.
QString longTime(const QLocale &locale, const QTime &time) {
  QString format = locale.timeFormat(QLocale::LongFormat);
  format.remove(QRegularExpression(QStringLiteral("\\s*t+")));
  return locale.toString(time, format.trimmed());
}

}  // namespace

QString MergeFieldLabel(int number) {
  static const char *const labels[kMergeFieldCount] = {"[RECIPIENT]",   "[FAX#]", "[SUBJECT]",
                                                       "[DATE]",        "[TIME]", "[SENDER]",
                                                       "[SENDER FAX#]", "[PAGES]"};
  return number >= 1 && number <= kMergeFieldCount ? QString::fromLatin1(labels[number - 1])
                                                   : QString();
}

QString MergeFieldCaption(int number) {
  static const char *const captions[kMergeFieldCount] = {
      "Recipient", "Fax Number", "Subject",           "Date",
      "Time",      "Sender",     "Sender Fax Number", "Page Count"};
  return number >= 1 && number <= kMergeFieldCount ? QString::fromLatin1(captions[number - 1])
                                                   : QString();
}

QString MergeFieldValue(int number, const MergeValues &v, const QLocale &locale) {
  QString text;
  switch (number) {
    case 1:
      text = v.recipient;
      break;
    case 2:
      text = v.faxNumber;
      break;
    case 3:
      text = v.subject;
      break;
    case 4:
      text = locale.toString(v.when.date(), QLocale::ShortFormat);
      break;
    case 5:
      text = longTime(locale, v.when.time());
      break;
    case 6:
      text = v.senderName;
      break;
    case 7:
      text = v.senderFax;
      break;
    case 8:
      text = QString::number(v.pageCount);
      break;
    default:
      return {};
  }
  return text.left(kMergeTextLength);
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
