#include "spell/spell_check_dialog.h"

#include <QEvent>
#include <QFile>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialogs.h"
#include "app/hints.h"
#include "app/program_dir.h"
#include "app/status_line.h"
#include "app/window_placement.h"
#include "base/error_text.h"
#include "spell/rich_edit_word_pass.h"
#include "spell/spell_pass.h"
#include "spell/spell_words.h"

namespace kv {

namespace {

QPushButton *button(QWidget *parent, const char *name, const QString &caption,
                    const QString &hint) {
  auto *b = new QPushButton(caption, parent);
  b->setObjectName(name);
  b->setAutoDefault(false);
  SetHint(b, hint);
  return b;
}

}  // namespace

TSpellCheckDialog::TSpellCheckDialog(spell::ISpellWordPass &text, QWidget *parent)
    : QDialog(parent), text_(text) {
  setObjectName("SpellCheckDialog");
  setWindowTitle("Spell Check");
  setFixedSize(366, 284);
  QFont font("Arial");
  font.setPointSize(8);
  setFont(font);

  Replace = button(this, "Replace", "Replace ", "Replace the word");
  Replace->setDefault(true);
  GetNextWordButton = button(this, "GetNextWordButton", "&Skip Word", "Skip the word");
  Addbutton = button(this, "Addbutton", "&Add Word", "Add the word to the user dictionary");
  Cancelbutton = button(this, "Cancelbutton", "Cancel", "Cancel the spell check");

  Word = new QLineEdit(this);
  Word->setObjectName("Word");
  SetHint(Word, "The spell checker does not have this word in its dictionary");
  ReplaceAs = new QLineEdit(this);
  ReplaceAs->setObjectName("ReplaceAs");
  SetHint(ReplaceAs, "The spelling error will be replaced with this word if you click Replace");
  QFont bold = font;
  bold.setBold(true);
  ReplaceAs->setFont(bold);
  QPalette red = ReplaceAs->palette();
  red.setColor(QPalette::Text, Qt::red);
  ReplaceAs->setPalette(red);
  WordList = new QListWidget(this);
  WordList->setObjectName("WordList");
  SetHint(WordList,
          "Click one of these suggested replacements to move it into the Replace With box");

  auto label = [this](const QString &caption, QWidget *buddy) {
    auto *l = new QLabel(caption, this);
    l->setBuddy(buddy);
    return l;
  };
  auto *grid = new QGridLayout;
  grid->setContentsMargins(10, 10, 10, 6);
  grid->setHorizontalSpacing(12);
  grid->setVerticalSpacing(3);
  grid->addWidget(label("Possible spelling error", Word), 0, 0);
  grid->addWidget(Word, 1, 0);
  grid->addWidget(label("Replace with", ReplaceAs), 2, 0);
  grid->addWidget(ReplaceAs, 3, 0);
  grid->addWidget(label("Possible replacements", WordList), 4, 0);
  grid->addWidget(WordList, 5, 0, 2, 1);
  auto *buttons = new QVBoxLayout;
  buttons->setSpacing(6);
  buttons->addSpacing(14);
  for (QPushButton *b : {Replace, GetNextWordButton, Addbutton, Cancelbutton}) {
    b->setMinimumWidth(88);
    buttons->addWidget(b);
  }
  buttons->addStretch();
  grid->addLayout(buttons, 0, 1, 7, 1);
  grid->setRowStretch(6, 1);
  grid->setColumnStretch(0, 1);

  status = new QLabel(this);
  status->setObjectName("status");
  StyleStatusLine(status, 20);
  auto *outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(4);
  outer->addLayout(grid, 1);
  outer->addWidget(status);

  setTabOrder(Word, ReplaceAs);
  setTabOrder(ReplaceAs, WordList);
  setTabOrder(WordList, Replace);
  setTabOrder(Replace, GetNextWordButton);
  setTabOrder(GetNextWordButton, Addbutton);
  setTabOrder(Addbutton, Cancelbutton);

  connect(Replace, &QPushButton::clicked, this, &TSpellCheckDialog::ReplaceClick);
  connect(GetNextWordButton, &QPushButton::clicked, this,
          &TSpellCheckDialog::GetNextWordButtonClick);
  connect(Addbutton, &QPushButton::clicked, this, &TSpellCheckDialog::AddbuttonClick);
  connect(Cancelbutton, &QPushButton::clicked, this, &QDialog::reject);
  connect(WordList, &QListWidget::itemClicked, this, &TSpellCheckDialog::WordListClick);
  connect(WordList, &QListWidget::itemDoubleClicked, this, &TSpellCheckDialog::WordListClick);
  // Moving through the list with the keyboard picks as a click does.
  connect(WordList, &QListWidget::currentItemChanged, this,
          [this](QListWidgetItem *item) { WordListClick(item); });

  statusOwner_ = new StatusLineOwner(status);

  // The main dictionary in the program directory, else the one shipped with the program, else
  // the default one; without any the check would call every word wrong, so the window says so
  // and leaves the text alone.
  Spell.DictionaryName = (ProgramDir() + "vizuv.dct").toStdString();
  const QString own = ProgramDir() + "krv.dct";
  const QString main = QFile::exists(own) ? own : ShippedFilePath("krv.dct");
  if (!Spell.Open(main.toStdString()) && !Spell.Open(Spell.DictionaryName)) mainMissing_ = true;
  const QString user = ProgramDir() + "krvu.dct";
  UserDictionary = QFile::exists(user) ? Spell.OpenUser(user.toStdString())
                                       : Spell.CreateUser(user.toStdString(), {});
  Addbutton->setEnabled(UserDictionary != -1);
}

TSpellCheckDialog::~TSpellCheckDialog() {
  delete statusOwner_;
}

void TSpellCheckDialog::showEvent(QShowEvent *event) {
  QDialog::showEvent(event);
  if (started_) return;
  started_ = true;
  QMetaObject::invokeMethod(this, &TSpellCheckDialog::start, Qt::QueuedConnection);
}

void TSpellCheckDialog::changeEvent(QEvent *event) {
  QDialog::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) statusOwner_->activate();
}

void TSpellCheckDialog::start() {
  if (mainMissing_) {
    hide();
    Dialogs::error(this, "The spelling dictionary " + ProgramDir() +
                             "krv.dct is missing or damaged, so the spelling cannot be checked.");
    reject();
    return;
  }
  text_.StartWordPass();
  passRunning_ = true;
  CheckNextWord();
}

void TSpellCheckDialog::CheckNextWord() {
  const QString word = spell::NextMisspelledWord(Spell, text_);
  if (word.isEmpty()) {
    hide();
    Dialogs::information(this, "Spell check complete");
    accept();
    return;
  }
  const QStringList suggestions = spell::SuggestionsFor(Spell, word);
  WordList->blockSignals(true);
  WordList->clear();
  WordList->addItems(suggestions);
  if (!suggestions.isEmpty()) WordList->setCurrentRow(0);  // the one in Replace with
  WordList->blockSignals(false);
  text_.MarkWord();
  Word->setText(word);
  ReplaceAs->setText(suggestions.isEmpty() ? word : suggestions.front());
  ShowStatus(suggestions.isEmpty()
                 ? QString("No suggestions for \"%1\"").arg(word)
                 : QString("%1 suggestions for \"%2\"").arg(suggestions.size()).arg(word));
}

void TSpellCheckDialog::ReplaceClick() {
  if (!passRunning_) return;
  text_.ReplaceMarkedWord(ReplaceAs->text());
  CheckNextWord();
  text_.Repaint();
}

void TSpellCheckDialog::GetNextWordButtonClick() {
  if (passRunning_) CheckNextWord();
}

void TSpellCheckDialog::AddbuttonClick() {
  if (!passRunning_) return;
  std::string bytes;
  if (!Word->text().isEmpty() && spell::toSpellBytes(Word->text(), bytes) &&
      !Spell.AddWord(bytes, UserDictionary) && Spell.LastResult() < 0) {
    // Too long or a full dictionary adds nothing quietly; a file that cannot be written is told.
    Dialogs::error(this, QString("The word could not be added: the user dictionary %1 cannot "
                                 "be written (%2).")
                             .arg(ProgramDir() + "krvu.dct",
                                  QString::fromStdString(Spell.LastProblem().empty()
                                                             ? errorText(Spell.LastResult())
                                                             : Spell.LastProblem())));
  }
  CheckNextWord();
}

void TSpellCheckDialog::WordListClick(QListWidgetItem *item) {
  if (item) ReplaceAs->setText(item->text());
}

void TSpellCheckDialog::done(int result) {
  if (passRunning_) {
    passRunning_ = false;
    text_.EndWordPass();
  }
  Spell.Close();
  QDialog::done(result);
}

bool SpellCheck(spell::ISpellWordPass &text, QWidget *parent) {
  TSpellCheckDialog dialog(text, parent);
  CenterWindow(&dialog);
  return dialog.exec() == QDialog::Accepted;
}

bool SpellCheck(TRichEdit *edit, QWidget *parent) {
  spell::RichEditWordPass pass(edit);
  return SpellCheck(pass, parent);
}

}  // namespace kv
