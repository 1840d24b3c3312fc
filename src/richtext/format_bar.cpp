#include "richtext/format_bar.h"

#include <QActionGroup>
#include <QComboBox>
#include <QFontComboBox>
#include <QIntValidator>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>
#include <functional>

#include "richtext/rich_edit.h"

namespace kv {
namespace {

// Small drawn pictures, so the bar looks the same on every desktop theme: in the bar's text
// colour (they must show on a dark bar too), drawn afresh for screens at twice the density.
QIcon drawnIcon(const std::function<void(QPainter &)> &draw) {
  QIcon icon;
  for (int scale : {1, 2}) {
    QPixmap pm(16 * scale, 16 * scale);
    pm.setDevicePixelRatio(scale);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

QIcon alignIcon(Qt::Alignment a, const QColor &ink) {
  return drawnIcon([a, ink](QPainter &p) {
    p.setPen(QPen(ink, 1, Qt::SolidLine, Qt::FlatCap));
    const int widths[] = {14, 10, 14, 8, 12};
    for (int i = 0; i < 5; ++i) {
      int w = (a & Qt::AlignJustify) ? 14 : widths[i];
      int x = 1;
      if (a & Qt::AlignRight) x = 15 - w;
      if (a & Qt::AlignHCenter) x = (16 - w) / 2;
      const qreal y = 2.5 + i * 3;
      p.drawLine(QPointF(x, y), QPointF(x + w, y));
    }
  });
}

QIcon letterIcon(const QString &text, bool bold, bool italic, bool underline, const QColor &ink) {
  return drawnIcon([=](QPainter &p) {
    QFont f(QStringLiteral("Liberation Serif"));
    f.setPixelSize(14);
    f.setBold(bold);
    f.setItalic(italic);
    f.setUnderline(underline);
    p.setFont(f);
    p.setPen(ink);
    p.drawText(QRectF(0, 0, 16, 16), Qt::AlignCenter, text);
  });
}

}  // namespace

TFormatBar::TFormatBar(TRichEdit *editor, QWidget *parent) : QToolBar(parent), editor_(editor) {
  setObjectName(QStringLiteral("FormatBar"));
  setIconSize(QSize(16, 16));
  setMovable(false);

  FontName = new QFontComboBox(this);
  FontName->setObjectName(QStringLiteral("FontName"));
  FontName->setToolTip(QStringLiteral("Font"));
  FontName->setMaximumWidth(180);
  addWidget(FontName);
  FontSize = new QComboBox(this);
  FontSize->setObjectName(QStringLiteral("FontSize"));
  FontSize->setToolTip(QStringLiteral("Font size"));
  FontSize->setEditable(true);
  FontSize->lineEdit()->setValidator(new QIntValidator(1, 1638, FontSize));
  for (int s : {8, 9, 10, 11, 12, 14, 16, 18, 20, 22, 24, 26, 28, 36, 48, 72})
    FontSize->addItem(QString::number(s));
  FontSize->setMinimumContentsLength(3);
  addWidget(FontSize);
  addSeparator();

  const QColor ink = palette().color(QPalette::ButtonText);
  auto action = [this](const char *name, const QIcon &icon, const QString &tip, bool checkable) {
    QAction *a = addAction(icon, tip);
    a->setObjectName(QLatin1String(name));
    a->setToolTip(tip);
    a->setCheckable(checkable);
    return a;
  };
  NormalAction = action("Normal", letterIcon(QStringLiteral("N"), false, false, false, ink),
                        QStringLiteral("Normal"), false);
  BoldAction = action("Bold", letterIcon(QStringLiteral("B"), true, false, false, ink),
                      QStringLiteral("Bold"), true);
  ItalicAction = action("Italic", letterIcon(QStringLiteral("I"), false, true, false, ink),
                        QStringLiteral("Italic"), true);
  UnderlineAction = action("Underline", letterIcon(QStringLiteral("U"), false, false, true, ink),
                           QStringLiteral("Underline"), true);
  BoldAction->setShortcut(QKeySequence::Bold);
  ItalicAction->setShortcut(QKeySequence::Italic);
  UnderlineAction->setShortcut(QKeySequence::Underline);
  addSeparator();
  LeftAction =
      action("AlignLeft", alignIcon(Qt::AlignLeft, ink), QStringLiteral("Align left"), true);
  CenterAction =
      action("AlignCenter", alignIcon(Qt::AlignHCenter, ink), QStringLiteral("Center"), true);
  RightAction =
      action("AlignRight", alignIcon(Qt::AlignRight, ink), QStringLiteral("Align right"), true);
  JustifyAction =
      action("Justify", alignIcon(Qt::AlignJustify, ink), QStringLiteral("Justify"), true);
  auto *group = new QActionGroup(this);
  for (QAction *a : {LeftAction, CenterAction, RightAction, JustifyAction}) group->addAction(a);
  addSeparator();
  CopyAction =
      action("Copy", QIcon::fromTheme(QStringLiteral("edit-copy")), QStringLiteral("Copy"), false);
  CutAction =
      action("Cut", QIcon::fromTheme(QStringLiteral("edit-cut")), QStringLiteral("Cut"), false);
  PasteAction = action("Paste", QIcon::fromTheme(QStringLiteral("edit-paste")),
                       QStringLiteral("Paste"), false);
  SpellAction = action("SpellCheck", letterIcon(QStringLiteral("\u2713"), true, false, false, ink),
                       QStringLiteral("Check spelling"), false);
  // Themes without these pictures show the words instead.
  for (QAction *a : {CopyAction, CutAction, PasteAction})
    if (a->icon().isNull())
      if (auto *b = qobject_cast<QToolButton *>(widgetForAction(a)))
        b->setToolButtonStyle(Qt::ToolButtonTextOnly);

  connect(FontName, &QFontComboBox::textActivated, this, [this](const QString &family) {
    QTextCharFormat f;
    f.setFontFamilies({family});
    mergeFormat(f);
  });
  connect(FontSize, &QComboBox::textActivated, this, [this](const QString &text) {
    const int pt = text.toInt();
    if (pt <= 0) return;
    QTextCharFormat f;
    f.setFontPointSize(pt);
    mergeFormat(f);
  });
  connect(NormalAction, &QAction::triggered, this, [this] {
    QTextCharFormat f;
    f.setFontWeight(QFont::Normal);
    f.setFontItalic(false);
    f.setFontUnderline(false);
    mergeFormat(f);
  });
  connect(BoldAction, &QAction::triggered, this, [this](bool on) {
    QTextCharFormat f;
    f.setFontWeight(on ? QFont::Bold : QFont::Normal);
    mergeFormat(f);
  });
  connect(ItalicAction, &QAction::triggered, this, [this](bool on) {
    QTextCharFormat f;
    f.setFontItalic(on);
    mergeFormat(f);
  });
  connect(UnderlineAction, &QAction::triggered, this, [this](bool on) {
    QTextCharFormat f;
    f.setFontUnderline(on);
    mergeFormat(f);
  });
  connect(LeftAction, &QAction::triggered, this, [this] { setAlignment(Qt::AlignLeft); });
  connect(CenterAction, &QAction::triggered, this, [this] { setAlignment(Qt::AlignHCenter); });
  connect(RightAction, &QAction::triggered, this, [this] { setAlignment(Qt::AlignRight); });
  connect(JustifyAction, &QAction::triggered, this, [this] { setAlignment(Qt::AlignJustify); });
  connect(CopyAction, &QAction::triggered, editor_, &QTextEdit::copy);
  connect(CutAction, &QAction::triggered, editor_, &QTextEdit::cut);
  connect(PasteAction, &QAction::triggered, editor_, &QTextEdit::paste);
  connect(SpellAction, &QAction::triggered, editor_, &TRichEdit::spellCheckRequested);
  connect(editor_, &QTextEdit::cursorPositionChanged, this, &TFormatBar::followCaret);
  connect(editor_, &QTextEdit::currentCharFormatChanged, this, &TFormatBar::followCaret);
  followCaret();
}

QToolButton *TFormatBar::AddButton(QToolButton *button) {
  if (!ownSeparator_) {
    addSeparator();
    ownSeparator_ = true;
  }
  button->setAutoRaise(true);
  addWidget(button);
  return button;
}

void TFormatBar::mergeFormat(const QTextCharFormat &f) {
  if (updating_) return;
  editor_->SetCaretAttributes(f);
  editor_->setFocus();
}

void TFormatBar::setAlignment(Qt::Alignment a) {
  ParagraphProps p = editor_->ParagraphAttributes();
  p.align = a;
  editor_->SetParagraphAttributes(p);
  editor_->setFocus();
}

void TFormatBar::followCaret() {
  updating_ = true;
  const QTextCharFormat f = editor_->currentCharFormat();
  const QStringList fams = f.fontFamilies().toStringList();
  const QString family =
      fams.isEmpty() ? editor_->document()->defaultFont().family() : fams.first();
  FontName->setCurrentText(family);
  const double pt =
      f.fontPointSize() > 0 ? f.fontPointSize() : editor_->document()->defaultFont().pointSizeF();
  FontSize->setCurrentText(QString::number(qRound(pt)));
  BoldAction->setChecked(f.fontWeight() >= QFont::DemiBold);
  ItalicAction->setChecked(f.fontItalic());
  UnderlineAction->setChecked(f.fontUnderline());
  const Qt::Alignment a = editor_->ParagraphAttributes().align;
  if (a & Qt::AlignHCenter)
    CenterAction->setChecked(true);
  else if (a & Qt::AlignJustify)
    JustifyAction->setChecked(true);
  else if (a & Qt::AlignRight)
    RightAction->setChecked(true);
  else
    LeftAction->setChecked(true);
  updating_ = false;
}

}  // namespace kv
