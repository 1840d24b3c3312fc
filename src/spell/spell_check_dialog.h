#pragma once
// The Spell Check window: walks the words of a text, stops at each one the dictionaries do not
// know, offers replacements, and replaces, skips or adds the word to the user dictionary.
#include <QDialog>

#include "spell/vizuv_spell.h"
#include "spell/word_pass.h"

class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPushButton;

namespace kv {

class StatusLineOwner;
class TRichEdit;

class TSpellCheckDialog : public QDialog {
  Q_OBJECT
 public:
  explicit TSpellCheckDialog(spell::ISpellWordPass &text, QWidget *parent = nullptr);
  ~TSpellCheckDialog() override;

  QPushButton *Replace;
  QPushButton *Cancelbutton;
  QPushButton *GetNextWordButton;
  QPushButton *Addbutton;
  QLineEdit *Word;
  QLineEdit *ReplaceAs;
  QListWidget *WordList;
  QLabel *status;

  spell::TVizuvSpell Spell;
  int UserDictionary = -1;

  void CheckNextWord();
  void ReplaceClick();
  void GetNextWordButtonClick();
  void AddbuttonClick();
  void WordListClick(QListWidgetItem *item);

  void done(int result) override;

 protected:
  void showEvent(QShowEvent *event) override;
  void changeEvent(QEvent *event) override;

 private:
  void start();
  spell::ISpellWordPass &text_;
  StatusLineOwner *statusOwner_;
  bool started_ = false;
  bool passRunning_ = false;
  bool mainMissing_ = false;
};

// Checks the spelling of a text in the Spell Check window, centred over the main window. The
// editors' spell-check buttons call this. True when the pass ran to the end.
bool SpellCheck(spell::ISpellWordPass &text, QWidget *parent);
// The same for an editor's rich-text control (the spell-check button of the fax editor and the
// cover template editor).
bool SpellCheck(TRichEdit *edit, QWidget *parent);

}  // namespace kv
