#include "viewer/print_layout.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace kv {

namespace {
// The locale's format without its time zone: a print log line reads like a clock.
QString withoutZone(QString format) {
  format.remove(QLatin1Char('t'));
  return format.trimmed();
}
}  // namespace

QString ShortDateText(const QDate &date) {
  return QLocale::system().toString(date, QLocale::ShortFormat);
}

QString LongTimeText(const QTime &time) {
  return time.toString(withoutZone(QLocale::system().timeFormat(QLocale::LongFormat)));
}

QString ExpandPrintMacros(const QString &caption, const QString &fileName, int page, int pageCount,
                          const QDateTime &now) {
  QString out;
  for (qsizetype i = 0; i < caption.size(); ++i) {
    if (caption[i] != QLatin1Char('$')) {
      out += caption[i];
      continue;
    }
    const QChar letter = i + 1 < caption.size() ? caption[i + 1].toUpper() : QChar();
    switch (letter.unicode()) {
      case 'D':
        out += ShortDateText(now.date());
        break;
      case 'F':
        out += fileName;
        break;
      case 'N':
        out += QString::number(pageCount);
        break;
      case 'P':
        out += QString::number(page);
        break;
      case 'T':
        out += LongTimeText(now.time());
        break;
      default:
        break;
    }
    while (i + 1 < caption.size() && caption[i + 1] != QLatin1Char(' ')) ++i;
  }
  return out;
}

int PagesPerSheet(bool multiPage, bool landscape) {
  return !multiPage ? 1 : landscape ? 2 : 4;
}

QRect PageArea(const QRect &sheet, bool multiPage, bool landscape, int distance) {
  if (!multiPage) return sheet;
  const int w = sheet.width(), h = sheet.height();
  QRect r;
  if (landscape) {
    r = QRect(sheet.left() + (distance % 2 ? w / 2 : 0), sheet.top(), w / 2, h);
  } else {
    const int q = distance % 4;
    r = QRect(sheet.left() + (q % 2 ? w / 2 : 0), sheet.top() + (q / 2 ? h / 2 : 0), w / 2, h / 2);
  }
  return r.adjusted(2, 2, -2, -2);
}

QSize PrintedSize(int w, int h, const QSize &area, TFaxPrintScale scale, double deviceDpi) {
  if (w <= 0 || h <= 0 || area.isEmpty()) return {};
  // Normal and fine pages alike have fine rows here, and fax pixels are not square: the
  // proportions are those of the paper, not of the pixel grid.
  const double paperW = w / kFaxDotsPerInchX, paperH = h / kFaxDotsPerInchY;
  if (scale == psNone) {
    const int pw = static_cast<int>(std::lround(paperW * deviceDpi));
    const int ph = static_cast<int>(std::lround(paperH * deviceDpi));
    // Cut to the area both ways: a page never spills onto its neighbour's place.
    return {std::min(pw, area.width()), std::min(ph, area.height())};
  }
  // Width from the area's height first; if that is too wide, from the area's width.
  int outH = area.height();
  int outW = static_cast<int>(std::lround(outH * paperW / paperH));
  if (outW > area.width()) {
    outW = area.width();
    outH = static_cast<int>(std::lround(outW * paperH / paperW));
  }
  return {std::max(outW, 1), std::max(outH, 1)};
}

}  // namespace kv
