#include "richtext/paragraph_props.h"

#include <algorithm>

#include <QGuiApplication>
#include <QScreen>
#include <QTextOption>
#include <QVariantList>

namespace kv {
namespace {

enum Property {
  pFirst = QTextFormat::UserProperty + 0x100,
  pLeft,
  pRight,
  pBefore,
  pAfter,
  pLineMode,
  pLineValue,
  pTabs,  // list of ints: position * 4 + kind
  pStored,
};

// Qt's text layout scales vertical margins, fixed line heights and tab positions by the
// layout device's resolution over the screen's, but takes horizontal margins and indents as
// device pixels. Values of the first kind are therefore given at the screen's resolution.
double layoutBaseDpi() {
  if (const QScreen *s = QGuiApplication::primaryScreen()) return qRound(s->logicalDotsPerInchY());
  return 96;
}

}  // namespace

ParagraphProps readParagraphProps(const QTextBlockFormat &f) {
  ParagraphProps p;
  p.align = f.alignment() & Qt::AlignHorizontal_Mask;
  if (!p.align) p.align = Qt::AlignLeft;
  p.pageBreakBefore = f.pageBreakPolicy() & QTextFormat::PageBreak_AlwaysBefore;
  if (!f.hasProperty(pStored)) return p;
  p.firstIndent = f.intProperty(pFirst);
  p.leftIndent = f.intProperty(pLeft);
  p.rightIndent = f.intProperty(pRight);
  p.spaceBefore = f.intProperty(pBefore);
  p.spaceAfter = f.intProperty(pAfter);
  p.lineMode = static_cast<LineSpacing>(f.intProperty(pLineMode));
  p.lineValue = f.intProperty(pLineValue);
  for (const QVariant &v : f.property(pTabs).toList()) {
    const int n = v.toInt();
    p.tabs.append({n >> 2, static_cast<TabStopTw::Kind>(n & 3)});
  }
  return p;
}

void writeParagraphProps(QTextBlockFormat &f, const ParagraphProps &p, double dpi) {
  f.setProperty(pStored, true);
  f.setProperty(pFirst, p.firstIndent);
  f.setProperty(pLeft, p.leftIndent);
  f.setProperty(pRight, p.rightIndent);
  f.setProperty(pBefore, p.spaceBefore);
  f.setProperty(pAfter, p.spaceAfter);
  f.setProperty(pLineMode, static_cast<int>(p.lineMode));
  f.setProperty(pLineValue, p.lineValue);
  const double base = layoutBaseDpi();
  QVariantList tabs;
  QList<QTextOption::Tab> qtabs;
  // Qt measures tab positions from the start of each line, RTF from the margin. They are
  // placed for the first line, where tabs are nearly always used; a hanging indent has its
  // implied stop at the left indent.
  const int firstLineStart = p.leftIndent + p.firstIndent;
  QList<TabStopTw> stops = p.tabs;
  if (p.firstIndent < 0) stops.append({p.leftIndent, TabStopTw::Left});
  std::sort(stops.begin(), stops.end(),
            [](const TabStopTw &a, const TabStopTw &b) { return a.pos < b.pos; });
  for (const TabStopTw &t : p.tabs) tabs.append(t.pos * 4 + static_cast<int>(t.kind));
  for (const TabStopTw &t : stops) {
    if (t.pos <= firstLineStart) continue;
    QTextOption::Tab q;
    q.position = twipsToPixels(t.pos - firstLineStart, base);
    switch (t.kind) {
      case TabStopTw::Left:
        q.type = QTextOption::LeftTab;
        break;
      case TabStopTw::Center:
        q.type = QTextOption::CenterTab;
        break;
      case TabStopTw::Right:
        q.type = QTextOption::RightTab;
        break;
      case TabStopTw::Decimal:
        q.type = QTextOption::DelimiterTab;
        q.delimiter = QLatin1Char('.');
        break;
    }
    qtabs.append(q);
  }
  f.setProperty(pTabs, tabs);
  f.setTabPositions(qtabs);

  f.setAlignment(p.align);
  f.setLeftMargin(twipsToPixels(p.leftIndent, dpi));
  f.setRightMargin(twipsToPixels(p.rightIndent, dpi));
  f.setTextIndent(twipsToPixels(p.firstIndent, dpi));
  f.setTopMargin(twipsToPixels(p.spaceBefore, base));
  f.setBottomMargin(twipsToPixels(p.spaceAfter, base));
  switch (p.lineMode) {
    case LineSpacing::Auto:
      f.setLineHeight(100, QTextBlockFormat::SingleHeight);
      break;
    case LineSpacing::AtLeast:
      f.setLineHeight(twipsToPixels(p.lineValue, base), QTextBlockFormat::MinimumHeight);
      break;
    case LineSpacing::Exactly:
      f.setLineHeight(twipsToPixels(p.lineValue, base), QTextBlockFormat::FixedHeight);
      break;
    case LineSpacing::Multiple:
      f.setLineHeight(p.lineValue * 100.0 / 240.0, QTextBlockFormat::ProportionalHeight);
      break;
  }
  f.setPageBreakPolicy(p.pageBreakBefore ? QTextFormat::PageBreak_AlwaysBefore
                                         : QTextFormat::PageBreak_Auto);
}

}  // namespace kv
