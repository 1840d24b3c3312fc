#pragma once
// Where the fax printer puts things on a sheet: the area of each fax page, the header and
// footer texts with their macros, and the size of the page image in that area.
#include <QDateTime>
#include <QRect>
#include <QString>

namespace kv {

enum TFaxPrintScale { psNone, psFitToPage };

// Fax pixels per inch across a line (8 per millimetre) and down the page (fine rows, which is
// what a decoded page has once normal rows are doubled): the true size of a fax on paper.
inline constexpr double kFaxDotsPerInchX = 203.2;
inline constexpr double kFaxDotsPerInchY = 195.58;

// Each "$" starts a macro running to the next space: $D date, $F file, $N page count,
// $P page, $T time (either case); any other letter gives nothing.
QString ExpandPrintMacros(const QString &caption, const QString &fileName, int page, int pageCount,
                          const QDateTime &now);

// Dates and times in the system's short date and long time formats (without a time zone).
QString ShortDateText(const QDate &date);
QString LongTimeText(const QTime &time);

// Sheets of a multi-page print: four pages in portrait, two in landscape.
int PagesPerSheet(bool multiPage, bool landscape);

// The area of the sheet for the page `distance` pages after the first printed one; with
// several pages a sheet a quarter (portrait: top-left, top-right, bottom-left, bottom-right)
// or a half (landscape: left, right), 2 pixels in from each side.
QRect PageArea(const QRect &sheet, bool multiPage, bool landscape, int distance);

// Size of a page image of w x h fax pixels in `area`: the largest that fits with its
// proportions kept (fit), or its true size at `deviceDpi` cut to the area.
QSize PrintedSize(int w, int h, const QSize &area, TFaxPrintScale scale, double deviceDpi);

}  // namespace kv
