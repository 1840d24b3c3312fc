#pragma once
// Paragraph attributes in twips, as RTF and the paragraph dialog know them. A block keeps them
// in its format beside the pixel values the layout uses, so that a change of resolution (zoom,
// or 200 dots per inch for fax pages) re-derives the pixels without rounding drift.
#include <QList>
#include <QTextBlockFormat>

namespace kv {

struct TabStopTw {
  enum Kind { Left, Center, Right, Decimal };
  int pos = 0;  // twips from the left margin
  Kind kind = Left;
  bool operator==(const TabStopTw &) const = default;
};

enum class LineSpacing {
  Auto,      // single, from the font
  AtLeast,   // \slN, N > 0
  Exactly,   // \sl-N
  Multiple,  // \slN\slmult1: N/240 lines
};

struct ParagraphProps {
  Qt::Alignment align = Qt::AlignLeft;
  int firstIndent = 0;  // relative to the left indent, may be negative
  int leftIndent = 0;
  int rightIndent = 0;
  int spaceBefore = 0;
  int spaceAfter = 0;
  LineSpacing lineMode = LineSpacing::Auto;
  int lineValue = 0;  // twips for AtLeast/Exactly, 240ths of a line for Multiple
  bool pageBreakBefore = false;
  QList<TabStopTw> tabs;
  bool operator==(const ParagraphProps &) const = default;
};

// Reads what writeParagraphProps stored (a block never written reads as the defaults).
ParagraphProps readParagraphProps(const QTextBlockFormat &format);
// Stores the twips and sets the layout's pixel values for `dpi` dots per inch.
void writeParagraphProps(QTextBlockFormat &format, const ParagraphProps &props, double dpi);

inline double twipsToPixels(double twips, double dpi) {
  return twips * dpi / 1440.0;
}

}  // namespace kv

namespace kv {

// Page size and margins in twips; 8.5 x 11 inches with half-inch margins unless set otherwise.
struct PageLayoutTw {
  int width = 12240;
  int height = 15840;
  int left = 720, right = 720, top = 720, bottom = 720;
  int textWidth() const { return width - left - right; }
  int textHeight() const { return height - top - bottom; }
  bool operator==(const PageLayoutTw &) const = default;
};

}  // namespace kv
