#include "richtext/rtf_reader.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <algorithm>
#include <unordered_map>
#include <vector>

#include "base/cp1252.h"
#include "richtext/merge_field.h"
#include "richtext/paragraph_props.h"
#include "richtext/rtf_tokenizer.h"

namespace kv {
namespace {

using rtf::Token;
using rtf::TokenKind;

// Where the text of a group goes.
enum class Dest {
  Text,         // the document
  Skip,         // nowhere: pictures, style sheet, headers, unknown {\*...} groups
  FontTable,    // font names
  ColorTable,   // \red\green\blue;
  FieldInst,    // the instruction of a field
  FieldResult,  // the shown result of a field
};

struct CharState {
  int font = -1;  // font number; -1 = the document's default font
  int halfPoints = 24;
  bool bold = false, italic = false, underline = false, strike = false, hidden = false;
  int color = 0;     // index into the colour table; 0 = automatic
  int vertical = 0;  // 1 superscript, -1 subscript
  bool operator==(const CharState &) const = default;
};

struct GroupState {
  Dest dest = Dest::Text;
  CharState ch;
  ParagraphProps para;
  bool inTable = false;     // \intbl
  int uc = 1;               // fallback characters after \uN
  int field = -1;           // index of the field this group belongs to
  bool fieldGroup = false;  // this group opened the field
};

struct Font {
  QString name;
};

struct Field {
  QString instruction;
  int mergeNumber = 0;
  QString label;
  CharState labelFormat;
  bool haveLabelFormat = false;
};

class Reader {
 public:
  Reader(QTextDocument &doc, double dpi) : doc_(doc), cursor_(&doc), dpi_(dpi) {
    stack_.reserve(64);
    stack_.push_back(GroupState{});
    stack_.back().dest = Dest::Skip;  // until the outer group opens
  }

  RtfReadResult run(std::string_view input);

 private:
  GroupState &state() { return stack_.back(); }
  void openGroup();
  void closeGroup();
  void word(const Token &t);
  void symbol(char c);
  void text(std::string_view bytes);
  void emitChar(char16_t c);
  void emitUnicode(std::int32_t n);
  void emitSpecial(char16_t c);
  void flushText();
  void endParagraph(bool fromPar);
  void finishDocument();
  void applyBlockFormat();
  QTextCharFormat charFormat(const CharState &c) const;
  QString fontName(int number) const;
  bool charWord(std::string_view name, bool has, int v);
  bool paraWord(std::string_view name, bool has, int v);
  bool pageWord(std::string_view name, bool has, int v);
  PageLayoutTw page_;
  bool paperNamed_ = false;

  QTextDocument &doc_;
  QTextCursor cursor_;
  double dpi_;
  std::vector<GroupState> stack_;
  int overflowDepth_ = 0;  // groups past the depth limit, sharing the deepest state
  bool starPending_ = false;
  bool started_ = false;
  int skipFallback_ = 0;  // fallback characters still to drop after \uN

  std::unordered_map<int, Font> fonts_;
  int fontBeingRead_ = -1;
  QString fontNameBuffer_;
  int defaultFont_ = 0;
  std::vector<QColor> colors_{QColor()};
  bool colorsStarted_ = false;
  int red_ = 0, green_ = 0, blue_ = 0;

  std::vector<Field> fields_;

  QString pending_;  // text not yet inserted, in the format pendingFormat_
  CharState pendingFormat_;
  CharState lastCharState_;
  bool blockHasContent_ = false;
  bool blockFromPar_ = false;  // the current block was opened by a \par
  bool pageBreakBefore_ = false;
  bool cellPending_ = false;
  TabStopTw::Kind pendingTab_ = TabStopTw::Left;
  std::vector<int> cellX_;
  int rowLeft_ = 0;
  bool rowTabs_ = false;
  bool cutNote_ = false;
  bool finished_ = false;
};

RtfReadResult Reader::run(std::string_view input) {
  RtfReadResult r;
  rtf::Tokenizer tok(input);
  doc_.setUndoRedoEnabled(false);
  cursor_.beginEditBlock();
  for (Token t = tok.next(); t.kind != TokenKind::End; t = tok.next()) {
    switch (t.kind) {
      case TokenKind::GroupOpen:
        openGroup();
        break;
      case TokenKind::GroupClose:
        closeGroup();
        break;
      case TokenKind::Word:
        word(t);
        break;
      case TokenKind::Symbol:
        symbol(t.name.empty() ? '\0' : t.name[0]);
        break;
      case TokenKind::HexByte: {
        const char b = static_cast<char>(t.byte);
        text(std::string_view(&b, 1));
        break;
      }
      case TokenKind::Binary:
        // Binary data belongs to pictures and objects, never to the text.
        if (skipFallback_ > 0) --skipFallback_;
        break;
      case TokenKind::Text:
        text(t.text);
        break;
      case TokenKind::End:
        break;
    }
    if (started_ && stack_.size() == 1 && overflowDepth_ == 0) break;  // the outer group closed
  }
  finishDocument();
  cursor_.endEditBlock();
  doc_.setUndoRedoEnabled(true);
  r.ok = true;
  if (paperNamed_) {
    // Margins that leave less than an inch of text are not kept.
    if (page_.textWidth() < 1440 || page_.textHeight() < 1440)
      page_.left = page_.right = page_.top = page_.bottom = 720;
    r.page = page_;
  }
  if (tok.truncatedBinary() || cutNote_)
    r.error = QStringLiteral("The document was damaged; it has been read as far as possible.");
  return r;
}

void Reader::openGroup() {
  starPending_ = false;
  if (!started_) {
    started_ = true;
    stack_.push_back(GroupState{});
    return;
  }
  if (static_cast<int>(stack_.size()) >= kRtfMaxDepth) {
    ++overflowDepth_;
    return;
  }
  GroupState s = state();
  s.fieldGroup = false;
  stack_.push_back(s);
}

void Reader::closeGroup() {
  starPending_ = false;
  skipFallback_ = 0;
  if (overflowDepth_ > 0) {
    --overflowDepth_;
    return;
  }
  if (stack_.size() <= 1) return;
  if (stack_.size() == 2) finishDocument();  // the outer group ends the document
  GroupState closing = state();
  if (closing.dest == Dest::FontTable && fontBeingRead_ >= 0 && !fontNameBuffer_.isEmpty()) {
    // An entry without its closing semicolon.
    auto it = fonts_.find(fontBeingRead_);
    if (it != fonts_.end() && it->second.name.isEmpty())
      it->second.name = fontNameBuffer_.trimmed();
    fontNameBuffer_.clear();
  }
  stack_.pop_back();
  if (closing.fieldGroup && closing.field >= 0 &&
      closing.field < static_cast<int>(fields_.size())) {
    const Field &f = fields_[closing.field];
    if (f.mergeNumber > 0 && state().dest == Dest::Text) {
      flushText();
      const CharState &c = f.haveLabelFormat ? f.labelFormat : state().ch;
      cursor_.insertText(QString(QChar::ObjectReplacementCharacter),
                         MergeFieldFormat(charFormat(c), f.mergeNumber, f.label));
      blockHasContent_ = true;
    }
  }
  // Character formatting in effect changes back with the group; the text pending so far keeps
  // its own format.
}

QString Reader::fontName(int number) const {
  auto it = fonts_.find(number < 0 ? defaultFont_ : number);
  if (it == fonts_.end()) return {};
  return it->second.name;
}

QTextCharFormat Reader::charFormat(const CharState &c) const {
  QTextCharFormat f;
  // Text in a font the table does not name is in the document's default font, named
  // explicitly so that it reads back the same.
  const QString name = fontName(c.font);
  f.setFontFamilies({name.isEmpty() ? doc_.defaultFont().family() : name});
  f.setFontPointSize(std::clamp(c.halfPoints, 2, 3276) / 2.0);
  f.setFontWeight(c.bold ? QFont::Bold : QFont::Normal);
  f.setFontItalic(c.italic);
  f.setFontUnderline(c.underline);
  f.setFontStrikeOut(c.strike);
  if (c.color > 0 && c.color < static_cast<int>(colors_.size()) && colors_[c.color].isValid())
    f.setForeground(colors_[c.color]);
  if (c.vertical > 0) f.setVerticalAlignment(QTextCharFormat::AlignSuperScript);
  if (c.vertical < 0) f.setVerticalAlignment(QTextCharFormat::AlignSubScript);
  return f;
}

void Reader::flushText() {
  if (pending_.isEmpty()) return;
  cursor_.insertText(pending_, charFormat(pendingFormat_));
  pending_.clear();
}

void Reader::emitChar(char16_t c) {
  GroupState &s = state();
  if (s.dest == Dest::FontTable) {
    if (c == u';') {
      if (fontBeingRead_ >= 0) {
        auto it = fonts_.find(fontBeingRead_);
        if (it != fonts_.end() && it->second.name.isEmpty())
          it->second.name = fontNameBuffer_.trimmed();
      }
      fontNameBuffer_.clear();
    } else if (fontNameBuffer_.size() < 128) {
      fontNameBuffer_.append(QChar(c));
    }
    return;
  }
  if (s.dest == Dest::ColorTable) {
    if (c == u';') {
      if (!colorsStarted_) {
        colorsStarted_ = true;  // the first entry is "automatic"
      } else if (static_cast<int>(colors_.size()) < kRtfMaxColors) {
        colors_.emplace_back(std::clamp(red_, 0, 255), std::clamp(green_, 0, 255),
                             std::clamp(blue_, 0, 255));
      }
      red_ = green_ = blue_ = 0;
    }
    return;
  }
  if (s.dest == Dest::FieldInst) {
    if (s.field >= 0 && fields_[s.field].instruction.size() < 1024)
      fields_[s.field].instruction.append(QChar(c));
    return;
  }
  if (s.dest == Dest::FieldResult && s.field >= 0 && fields_[s.field].mergeNumber > 0) {
    Field &f = fields_[s.field];
    if (!f.haveLabelFormat) {
      f.labelFormat = s.ch;
      f.haveLabelFormat = true;
    }
    if (f.label.size() < 100) f.label.append(QChar(c));
    return;
  }
  if (s.dest != Dest::Text && s.dest != Dest::FieldResult) return;
  if (s.ch.hidden) return;
  if (cellPending_) {
    // The separator between cells takes the previous cell's format, so that an underlined
    // cell does not underline the gap before it.
    cellPending_ = false;
    if (!pending_.isEmpty() && !(pendingFormat_ == lastCharState_)) flushText();
    if (pending_.isEmpty()) pendingFormat_ = lastCharState_;
    pending_.append(QLatin1Char('\t'));
    blockHasContent_ = true;
  }
  if (!pending_.isEmpty() && !(pendingFormat_ == s.ch)) flushText();
  if (pending_.isEmpty()) pendingFormat_ = s.ch;
  pending_.append(QChar(c));
  blockHasContent_ = true;
  lastCharState_ = s.ch;
}

// Tabs and line breaks inside the text; cell separators come through here too.
void Reader::emitSpecial(char16_t c) {
  const GroupState &s = state();
  if (s.dest != Dest::Text && s.dest != Dest::FieldResult) return;
  if (s.ch.hidden) return;
  if (s.dest == Dest::FieldResult && s.field >= 0 && fields_[s.field].mergeNumber > 0) return;
  if (!pending_.isEmpty() && !(pendingFormat_ == s.ch)) flushText();
  if (pending_.isEmpty()) pendingFormat_ = s.ch;
  pending_.append(QChar(c));
  blockHasContent_ = true;
}

void Reader::emitUnicode(std::int32_t n) {
  if (n < 0) n += 65536;
  if (n < 0 || n > 0xFFFF) n = 0xFFFD;
  const int uc = state().uc;
  // Control characters are no text, and the document's own separators and object marks
  // must not come from the file's text.
  if (n == 0x2029) n = 0x2028;
  if (n == '\t')
    emitSpecial(u'\t');
  else if (n >= 0x20 && n != 0x7F && n != 0xFFFC)
    emitChar(static_cast<char16_t>(n));
  skipFallback_ = uc;
}

void Reader::text(std::string_view bytes) {
  for (char ch : bytes) {
    if (skipFallback_ > 0) {
      --skipFallback_;
      continue;
    }
    const auto b = static_cast<std::uint8_t>(ch);
    char32_t u = b;
    if (b >= 0x80) {
      u = cp1252ToUnicode(b);
      if (u == 0) u = 0xFFFD;
    }
    if ((b < 0x20 && b != '\t') || b == 0x7F) continue;  // control bytes are no text
    if (b == '\t') {
      if (state().dest == Dest::Text || state().dest == Dest::FieldResult) emitSpecial(u'\t');
      continue;
    }
    emitChar(static_cast<char16_t>(u));
  }
}

void Reader::applyBlockFormat() {
  QTextBlockFormat bf = cursor_.blockFormat();
  ParagraphProps p = state().para;
  if (pageBreakBefore_) p.pageBreakBefore = true;
  if (rowTabs_) {
    // A table row is one line of tab-separated cells: stops at the cells' left edges keep the
    // columns where they were.
    for (std::size_t i = 0; i + 1 < cellX_.size(); ++i)
      p.tabs.append({cellX_[i] - rowLeft_, TabStopTw::Left});
    std::sort(p.tabs.begin(), p.tabs.end(),
              [](const TabStopTw &a, const TabStopTw &b) { return a.pos < b.pos; });
  }
  writeParagraphProps(bf, p, dpi_);
  cursor_.setBlockFormat(bf);
  cursor_.setBlockCharFormat(charFormat(state().ch));
}

void Reader::endParagraph(bool fromPar) {
  if (state().dest != Dest::Text) return;
  flushText();
  applyBlockFormat();
  cursor_.insertBlock();
  blockHasContent_ = false;
  blockFromPar_ = fromPar;
  pageBreakBefore_ = false;
  cellPending_ = false;
  rowTabs_ = false;
}

void Reader::finishDocument() {
  if (finished_ || !started_) return;
  finished_ = true;
  flushText();
  // The document's last paragraph takes the state at the end of the text (of a truncated
  // document too).
  if (blockFromPar_ && !blockHasContent_ && cursor_.block().previous().isValid()) {
    // The \par that ended the last paragraph opens no further one.
    cursor_.deletePreviousChar();
  } else {
    applyBlockFormat();
  }
}

bool Reader::charWord(std::string_view n, bool has, int v) {
  CharState &c = state().ch;
  const bool on = !has || v != 0;
  if (n == "plain") {
    c = CharState{};
  } else if (n == "f") {
    c.font = has ? v : -1;
  } else if (n == "fs") {
    c.halfPoints = has && v > 0 ? v : 24;
  } else if (n == "b") {
    c.bold = on;
  } else if (n == "i") {
    c.italic = on;
  } else if (n == "ul" || n == "uld" || n == "uldb" || n == "ulw" || n == "uldash" || n == "ulth" ||
             n == "ulwave") {
    c.underline = on;
  } else if (n == "ulnone") {
    c.underline = false;
  } else if (n == "strike" || n == "striked") {
    c.strike = on;
  } else if (n == "cf") {
    c.color = has ? v : 0;
  } else if (n == "v") {
    c.hidden = on;
  } else if (n == "super" || n == "up") {
    c.vertical = on ? 1 : 0;
  } else if (n == "sub" || n == "dn") {
    c.vertical = on ? -1 : 0;
  } else if (n == "nosupersub") {
    c.vertical = 0;
  } else {
    return false;
  }
  return true;
}

bool Reader::paraWord(std::string_view n, bool has, int v) {
  GroupState &s = state();
  ParagraphProps &p = s.para;
  // Indents and spacing are kept within a page's reach so that junk cannot push text off it.
  const int tw = has ? std::clamp(v, -31680, 31680) : 0;
  if (n == "pard") {
    p = ParagraphProps{};
    s.inTable = false;
  } else if (n == "ql") {
    p.align = Qt::AlignLeft;
  } else if (n == "qr") {
    p.align = Qt::AlignRight;
  } else if (n == "qc") {
    p.align = Qt::AlignHCenter;
  } else if (n == "qj" || n == "qd") {
    p.align = Qt::AlignJustify;
  } else if (n == "li" || n == "lin") {
    p.leftIndent = tw;
  } else if (n == "ri" || n == "rin") {
    p.rightIndent = tw;
  } else if (n == "fi") {
    p.firstIndent = tw;
  } else if (n == "sb") {
    p.spaceBefore = std::max(0, tw);
  } else if (n == "sa") {
    p.spaceAfter = std::max(0, tw);
  } else if (n == "sl") {
    if (!has || tw == 0) {
      p.lineMode = LineSpacing::Auto;
      p.lineValue = 0;
    } else if (p.lineMode == LineSpacing::Multiple && tw > 0) {
      p.lineValue = tw;
    } else {
      p.lineMode = tw > 0 ? LineSpacing::AtLeast : LineSpacing::Exactly;
      p.lineValue = tw > 0 ? tw : -tw;
    }
  } else if (n == "slmult") {
    if (has && v == 1 && p.lineMode == LineSpacing::AtLeast) p.lineMode = LineSpacing::Multiple;
    if (has && v == 1 && p.lineMode == LineSpacing::Auto) p.lineMode = LineSpacing::Multiple;
    if (p.lineMode == LineSpacing::Multiple && p.lineValue <= 0) p.lineMode = LineSpacing::Auto;
  } else if (n == "pagebb") {
    p.pageBreakBefore = !has || v != 0;
  } else if (n == "tx" || n == "tb") {
    if (p.tabs.size() < 64 && tw >= 0) p.tabs.append({tw, pendingTab_});
    pendingTab_ = TabStopTw::Left;
  } else if (n == "tqr") {
    pendingTab_ = TabStopTw::Right;
  } else if (n == "tqc") {
    pendingTab_ = TabStopTw::Center;
  } else if (n == "tqdec") {
    pendingTab_ = TabStopTw::Decimal;
  } else if (n == "intbl") {
    s.inTable = true;
  } else {
    return false;
  }
  return true;
}

void Reader::word(const Token &t) {
  const std::string_view n = t.name;
  const bool has = t.hasParam;
  const int v = t.param;
  GroupState &s = state();
  const bool star = starPending_;
  starPending_ = false;

  if (skipFallback_ > 0 && n != "u" && n != "uc") {
    --skipFallback_;  // a control word standing in for the character after \uN
    return;
  }
  if (s.dest == Dest::Skip) return;

  if (star) {
    if (n == "fldinst" && s.field >= 0) {
      s.dest = Dest::FieldInst;
    } else {
      s.dest = Dest::Skip;
    }
    return;
  }

  // Destinations.
  if (n == "fonttbl") {
    s.dest = Dest::FontTable;
    fontBeingRead_ = -1;
    return;
  }
  if (n == "colortbl") {
    s.dest = Dest::ColorTable;
    return;
  }
  if (n == "field") {
    flushText();
    if (fields_.size() < 100000) {
      fields_.push_back(Field{});
      s.field = static_cast<int>(fields_.size()) - 1;
      s.fieldGroup = true;
    }
    return;
  }
  if (n == "fldinst") {
    s.dest = s.field >= 0 ? Dest::FieldInst : Dest::Skip;
    return;
  }
  if (n == "fldrslt") {
    if (s.field >= 0) {
      Field &f = fields_[s.field];
      f.mergeNumber = ParseMergeFieldInstruction(f.instruction);
      s.dest = Dest::FieldResult;
    }
    return;
  }
  static constexpr std::string_view kSkipped[] = {"stylesheet",
                                                  "info",
                                                  "pict",
                                                  "object",
                                                  "header",
                                                  "headerl",
                                                  "headerr",
                                                  "headerf",
                                                  "footer",
                                                  "footerl",
                                                  "footerr",
                                                  "footerf",
                                                  "footnote",
                                                  "annotation",
                                                  "listtable",
                                                  "listoverridetable",
                                                  "revtbl",
                                                  "rsidtbl",
                                                  "xmlnstbl",
                                                  "filetbl",
                                                  "pn",
                                                  "nonshppict",
                                                  "shp",
                                                  "datafield",
                                                  "atnid",
                                                  "atnauthor",
                                                  "template",
                                                  "bkmkstart",
                                                  "bkmkend",
                                                  "txe",
                                                  "xe",
                                                  "tc",
                                                  "objdata",
                                                  "themedata",
                                                  "colorschememapping"};
  if (std::find(std::begin(kSkipped), std::end(kSkipped), n) != std::end(kSkipped)) {
    s.dest = Dest::Skip;
    return;
  }

  // Unicode characters count in every destination (font names included).
  if (n == "uc") {
    s.uc = has ? std::clamp(v, 0, 10) : 1;
    return;
  }
  if (n == "u") {
    if (has) emitUnicode(v);
    return;
  }
  if (s.dest == Dest::FontTable) {
    if (n == "f" && has) {
      fontBeingRead_ = v;
      fontNameBuffer_.clear();
      if (static_cast<int>(fonts_.size()) < kRtfMaxFonts || fonts_.count(v))
        fonts_.try_emplace(v, Font{});
      else
        cutNote_ = true;
    }
    return;
  }
  if (s.dest == Dest::ColorTable) {
    if (n == "red") red_ = v;
    if (n == "green") green_ = v;
    if (n == "blue") blue_ = v;
    return;
  }
  if (s.dest == Dest::FieldInst) return;

  // Document settings.
  if (n == "deff") {
    defaultFont_ = v;
    return;
  }

  // Text and breaks.
  if (n == "par" || n == "sect") {
    if (s.inTable && (s.dest == Dest::Text)) {
      emitSpecial(u'\u2028');  // a paragraph inside a cell stays in its row
      return;
    }
    endParagraph(true);
    return;
  }
  if (n == "row" || n == "nestrow") {
    if (n == "nestrow") {
      emitSpecial(u'\u2028');
      return;
    }
    rowTabs_ = !cellX_.empty();
    s.inTable = false;  // until the next row says \intbl again
    endParagraph(true);
    return;
  }
  if (n == "cell" || n == "nestcell") {
    cellPending_ = true;
    // A cell's paragraph that starts a new page takes its whole row there.
    if (s.para.pageBreakBefore) pageBreakBefore_ = true;
    // A cell that stays empty still takes its column.
    if (!blockHasContent_ && pending_.isEmpty()) blockHasContent_ = true;
    return;
  }
  if (n == "trowd") {
    cellX_.clear();
    rowLeft_ = 0;
    return;
  }
  if (n == "trleft") {
    rowLeft_ = std::clamp(v, -31680, 31680);
    return;
  }
  if (n == "cellx") {
    if (static_cast<int>(cellX_.size()) < kRtfMaxCells) cellX_.push_back(std::clamp(v, 0, 31680));
    return;
  }
  if (n == "page") {
    if (s.dest != Dest::Text) return;
    if (blockHasContent_ || !pending_.isEmpty()) endParagraph(false);
    pageBreakBefore_ = true;
    return;
  }
  if (n == "line") {
    if (s.dest == Dest::Text || s.dest == Dest::FieldResult) emitSpecial(u'\u2028');
    return;
  }
  if (n == "tab") {
    if (s.dest == Dest::Text || s.dest == Dest::FieldResult) emitSpecial(u'\t');
    return;
  }
  struct Named {
    std::string_view word;
    char16_t ch;
  };
  static constexpr Named kChars[] = {
      {"emdash", u'\u2014'},    {"endash", u'\u2013'},  {"bullet", u'\u2022'},
      {"lquote", u'\u2018'},    {"rquote", u'\u2019'},  {"ldblquote", u'\u201C'},
      {"rdblquote", u'\u201D'}, {"emspace", u'\u2003'}, {"enspace", u'\u2002'},
      {"qmspace", u'\u2005'},   {"zwj", u'\u200D'},     {"zwnj", u'\u200C'}};
  for (const Named &c : kChars) {
    if (n == c.word) {
      emitChar(c.ch);
      return;
    }
  }
  if (charWord(n, has, v)) return;
  if (pageWord(n, has, v)) return;
  paraWord(n, has, v);
}

bool Reader::pageWord(std::string_view n, bool has, int v) {
  // Paper from 3 to 22 inches and margins up to 3 inches: junk cannot make a page without room.
  const int paper = std::clamp(v, 3 * 1440, 22 * 1440), margin = std::clamp(v, 0, 3 * 1440);
  if (!has) return false;
  if (n == "paperw") {
    page_.width = paper;
    paperNamed_ = true;
  } else if (n == "paperh") {
    page_.height = paper;
    paperNamed_ = true;
  } else if (n == "margl") {
    page_.left = margin;
  } else if (n == "margr") {
    page_.right = margin;
  } else if (n == "margt") {
    page_.top = margin;
  } else if (n == "margb") {
    page_.bottom = margin;
  } else {
    return false;
  }
  return true;
}

void Reader::symbol(char c) {
  if (c == '*') {
    starPending_ = true;
    return;
  }
  starPending_ = false;
  if (skipFallback_ > 0) {
    --skipFallback_;
    return;
  }
  switch (c) {
    case '\\':
      emitChar(u'\\');
      break;
    case '{':
      emitChar(u'{');
      break;
    case '}':
      emitChar(u'}');
      break;
    case '~':
      emitChar(u'\u00A0');
      break;
    case '-':
      emitChar(u'\u00AD');
      break;
    case '_':
      emitChar(u'\u2011');
      break;
    case '\t':
      emitSpecial(u'\t');
      break;
    default:
      break;  // \| \: and others carry no text
  }
}

}  // namespace

bool LooksLikeRtf(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size() &&
         (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n'))
    ++i;
  return bytes.substr(i, 5) == "{\\rtf";
}

RtfReadResult ReadRtf(std::string_view rtf, QTextDocument &doc, double dpi) {
  doc.clear();
  MergeFieldHandler::install(&doc);
  if (!LooksLikeRtf(rtf)) {
    RtfReadResult r;
    r.error = QStringLiteral("The text is not in Rich Text Format.");
    return r;
  }
  Reader reader(doc, dpi);
  return reader.run(rtf);
}

}  // namespace kv
