#include "richtext/rtf_writer.h"

#include <QTextBlock>
#include <QTextDocument>
#include <QTextFragment>
#include <cmath>

#include "base/cp1252.h"
#include "richtext/merge_field.h"

namespace kv {
namespace {

QString familyOf(const QTextCharFormat &f, const QTextDocument &doc) {
  const QStringList fams = f.fontFamilies().toStringList();
  if (!fams.isEmpty() && !fams.first().isEmpty()) return fams.first();
  return doc.defaultFont().family();
}

int halfPointsOf(const QTextCharFormat &f, const QTextDocument &doc) {
  double pt = f.fontPointSize();
  if (pt <= 0) pt = doc.defaultFont().pointSizeF();
  if (pt <= 0) pt = 10;
  return static_cast<int>(std::lround(pt * 2));
}

class Writer {
 public:
  Writer(const QTextDocument &doc, const PageLayoutTw &page) : doc_(doc), page_(page) {}
  QByteArray run();

 private:
  int fontIndex(const QString &family);
  int colorIndex(const QTextCharFormat &f);
  void collect();
  void charProps(const QTextCharFormat &f);
  void paraProps(const QTextBlockFormat &f);
  void text(const QString &s);

  const QTextDocument &doc_;
  PageLayoutTw page_;
  QStringList fonts_;
  QList<QRgb> colors_;
  QByteArray out_;
};

int Writer::fontIndex(const QString &family) {
  int i = static_cast<int>(fonts_.indexOf(family));
  if (i < 0) {
    fonts_.append(family);
    i = static_cast<int>(fonts_.size()) - 1;
  }
  return i;
}

int Writer::colorIndex(const QTextCharFormat &f) {
  if (!f.hasProperty(QTextFormat::ForegroundBrush) || f.foreground().style() == Qt::NoBrush)
    return 0;
  const QRgb c = f.foreground().color().rgb();
  int i = static_cast<int>(colors_.indexOf(c));
  if (i < 0) {
    colors_.append(c);
    i = static_cast<int>(colors_.size()) - 1;
  }
  return i + 1;
}

void Writer::collect() {
  fontIndex(doc_.defaultFont().family());
  for (QTextBlock b = doc_.begin(); b.isValid(); b = b.next()) {
    fontIndex(familyOf(b.charFormat(), doc_));
    colorIndex(b.charFormat());
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextCharFormat f = it.fragment().charFormat();
      fontIndex(familyOf(f, doc_));
      colorIndex(f);
    }
  }
}

void Writer::charProps(const QTextCharFormat &f) {
  out_ += "\\plain\\f" + QByteArray::number(fontIndex(familyOf(f, doc_))) + "\\fs" +
          QByteArray::number(halfPointsOf(f, doc_));
  if (f.fontWeight() >= QFont::DemiBold) out_ += "\\b";
  if (f.fontItalic()) out_ += "\\i";
  if (f.fontUnderline()) out_ += "\\ul";
  if (f.fontStrikeOut()) out_ += "\\strike";
  if (const int c = colorIndex(f)) out_ += "\\cf" + QByteArray::number(c);
  if (f.verticalAlignment() == QTextCharFormat::AlignSuperScript) out_ += "\\super";
  if (f.verticalAlignment() == QTextCharFormat::AlignSubScript) out_ += "\\sub";
  out_ += ' ';
}

void Writer::paraProps(const QTextBlockFormat &bf) {
  const ParagraphProps p = readParagraphProps(bf);
  out_ += "\\pard";
  const Qt::Alignment a = p.align;
  if (a & Qt::AlignHCenter)
    out_ += "\\qc";
  else if (a & Qt::AlignRight)
    out_ += "\\qr";
  else if (a & Qt::AlignJustify)
    out_ += "\\qj";
  else
    out_ += "\\ql";
  auto num = [this](const char *w, int v) {
    if (v != 0) out_ += QByteArray(w) + QByteArray::number(v);
  };
  num("\\li", p.leftIndent);
  num("\\ri", p.rightIndent);
  num("\\fi", p.firstIndent);
  num("\\sb", p.spaceBefore);
  num("\\sa", p.spaceAfter);
  switch (p.lineMode) {
    case LineSpacing::Auto:
      break;
    case LineSpacing::AtLeast:
      out_ += "\\sl" + QByteArray::number(p.lineValue) + "\\slmult0";
      break;
    case LineSpacing::Exactly:
      out_ += "\\sl-" + QByteArray::number(p.lineValue) + "\\slmult0";
      break;
    case LineSpacing::Multiple:
      out_ += "\\sl" + QByteArray::number(p.lineValue) + "\\slmult1";
      break;
  }
  if (p.pageBreakBefore) out_ += "\\pagebb";
  for (const TabStopTw &t : p.tabs) {
    switch (t.kind) {
      case TabStopTw::Left:
        break;
      case TabStopTw::Center:
        out_ += "\\tqc";
        break;
      case TabStopTw::Right:
        out_ += "\\tqr";
        break;
      case TabStopTw::Decimal:
        out_ += "\\tqdec";
        break;
    }
    out_ += "\\tx" + QByteArray::number(t.pos);
  }
}

void Writer::text(const QString &s) {
  for (QChar qc : s) {
    const char16_t c = qc.unicode();
    switch (c) {
      case u'\\':
        out_ += "\\\\";
        continue;
      case u'{':
        out_ += "\\{";
        continue;
      case u'}':
        out_ += "\\}";
        continue;
      case u'\t':
        out_ += "\\tab ";
        continue;
      case u'\u2028':
      case u'\n':
        out_ += "\\line ";
        continue;
      case u'\u00A0':
        out_ += "\\~";
        continue;
      case u'\u00AD':
        out_ += "\\-";
        continue;
      case u'\u2011':
        out_ += "\\_";
        continue;
      case u'\uFFFC':
        continue;
      default:
        break;
    }
    if (c >= 0x20 && c < 0x7F) {
      out_ += static_cast<char>(c);
    } else if (c < 0x20) {
      continue;
    } else if (const int b = unicodeToCp1252(c); b >= 0) {
      static const char hex[] = "0123456789abcdef";
      out_ += "\\'";
      out_ += hex[b >> 4];
      out_ += hex[b & 15];
    } else {
      out_ += "\\u" + QByteArray::number(static_cast<int>(static_cast<std::int16_t>(c))) + "\\'3f";
    }
  }
}

QByteArray Writer::run() {
  collect();
  // The font and colour tables go first, so the body is written into a buffer of its own.
  QByteArray header = "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n{\\fonttbl";
  QByteArray body;
  out_.swap(body);
  out_ += "\\paperw" + QByteArray::number(page_.width) + "\\paperh" +
          QByteArray::number(page_.height) + "\\margl" + QByteArray::number(page_.left) +
          "\\margr" + QByteArray::number(page_.right) + "\\margt" + QByteArray::number(page_.top) +
          "\\margb" + QByteArray::number(page_.bottom) + "\\deftab720\n";
  for (QTextBlock b = doc_.begin(); b.isValid(); b = b.next()) {
    paraProps(b.blockFormat());
    charProps(b.charFormat());
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextFragment frag = it.fragment();
      const QTextCharFormat f = frag.charFormat();
      if (IsMergeField(f)) {
        // One field per object character.
        for (int i = 0; i < frag.length(); ++i) {
          out_ += "{\\field{\\*\\fldinst  " +
                  MergeFieldInstruction(MergeFieldNumber(f)).toLatin1() + " }{\\fldrslt {";
          charProps(f);
          text(MergeFieldText(f));
          out_ += "}}}";
        }
        continue;
      }
      out_ += '{';
      charProps(f);
      text(frag.text());
      out_ += '}';
    }
    out_ += "\\par\n";
  }
  out_ += "}\n";
  body.swap(out_);
  for (int i = 0; i < fonts_.size(); ++i) {
    header += "{\\f" + QByteArray::number(i) + "\\fnil\\fcharset0 ";
    out_.clear();
    text(fonts_[i]);
    header += out_ + ";}";
  }
  header += "}\n{\\colortbl;";
  for (QRgb c : colors_)
    header += "\\red" + QByteArray::number(qRed(c)) + "\\green" + QByteArray::number(qGreen(c)) +
              "\\blue" + QByteArray::number(qBlue(c)) + ";";
  header += "}\n";
  return header + body;
}

}  // namespace

QByteArray WriteRtf(const QTextDocument &doc, const PageLayoutTw &page) {
  return Writer(doc, page).run();
}

}  // namespace kv
