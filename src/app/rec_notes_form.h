#pragma once
// The notes of a received fax: a heading naming the sender and one line of notes, as long as
// the NOTES field of the received-fax table.
#include <QLineEdit>

#include "app/bar_dialog.h"

namespace kv {

class TRecNotesForm : public TBarDialog {
  Q_OBJECT
 public:
  static constexpr int kNotesLength = 60;
  explicit TRecNotesForm(QWidget *parent = nullptr);

  QToolButton *Helpbutton, *OKButton, *Cancelbutton;
  QLabel *Descript;
  QLineEdit *Notes;
};

}  // namespace kv
