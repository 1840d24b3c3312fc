#pragma once
// What the fax editor and the cover template editor do alike with a rich-text editor: the tool
// buttons they append to its formatting bar (page break, paragraph properties, word wrap), the
// zoom menu, and the page layout of a new document.
#include <QMenu>
#include <QToolButton>
#include <functional>

namespace kv {

class TFormatBar;
class TRichEdit;

// The paper of the locale with half-inch margins, unless the editor's document names its own.
void SetDefaultPage(TRichEdit &editor);

// Appends a tool button with a caption and hint to a formatting bar.
QToolButton *AddToolButton(TFormatBar &bar, const QString &name, const QString &caption,
                           const QString &hint);

// "Add a page break here?" (Yes by default): on Yes the text after the caret starts a new page.
void AskPageBreak(QWidget *parent, TRichEdit &editor);
// The paragraph properties dialog on the editor.
void ShowParagraphDialog(QWidget *parent, TRichEdit &editor);
// Toggles word wrap; the button shows the state and its hint says what a click does.
void ToggleWordWrap(QToolButton &button, TRichEdit &editor);
// A word-wrap button as it starts: pressed exactly when the editor wraps.
void ShowWordWrap(QToolButton &button, const TRichEdit &editor);

// The spell checker on the editor (its formatting bar's spell-check button).
void RequestSpellCheck(QWidget *parent, TRichEdit &editor);

// The zoom menu: 70%, 80% and 100% for the editor `target` names when it opens or an item is
// chosen; the drop-down button shows the editor's zoom.
class TZoomMenu : public QMenu {
  Q_OBJECT
 public:
  TZoomMenu(QToolButton *button, std::function<TRichEdit *()> target);
  QAction *Zoom70, *Zoom80, *Zoom100;
  QToolButton *Zoombutton;
  // Sets the button's caption to the target editor's zoom.
  void ShowZoom();

 private:
  void ZoomMenuPopup();
  void ZoomClick(QAction *item);
  std::function<TRichEdit *()> target_;
};

}  // namespace kv
