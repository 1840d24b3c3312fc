#pragma once
// The formatting bar of a rich-text editor: font name and size, normal, bold, italic,
// underline, the four alignments, copy, cut, paste and spell check. It follows the caret and
// acts on the editor it is bound to; windows append their own tool buttons with AddButton.
#include <QTextCharFormat>
#include <QToolBar>

class QComboBox;
class QFontComboBox;
class QToolButton;

namespace kv {

class TRichEdit;

class TFormatBar : public QToolBar {
  Q_OBJECT
 public:
  explicit TFormatBar(TRichEdit *editor, QWidget *parent = nullptr);

  TRichEdit *Editor() const { return editor_; }
  // Appends a window's own tool button after a separator (the first time) and answers it.
  QToolButton *AddButton(QToolButton *button);

  QFontComboBox *FontName;
  QComboBox *FontSize;
  QAction *NormalAction, *BoldAction, *ItalicAction, *UnderlineAction;
  QAction *LeftAction, *CenterAction, *RightAction, *JustifyAction;
  QAction *CopyAction, *CutAction, *PasteAction, *SpellAction;

 private:
  void followCaret();
  void mergeFormat(const QTextCharFormat &f);
  void setAlignment(Qt::Alignment a);

  TRichEdit *editor_;
  bool ownSeparator_ = false;
  bool updating_ = false;
};

}  // namespace kv
