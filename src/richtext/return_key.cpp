#include "richtext/return_key.h"

#include <QAbstractSpinBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTextEdit>

namespace kv {

bool ReturnBelongsToControl(const QWidget *focus) {
  for (const QWidget *w = focus; w && !w->isWindow(); w = w->parentWidget())
    if (qobject_cast<const QComboBox *>(w) || qobject_cast<const QAbstractSpinBox *>(w) ||
        qobject_cast<const QTextEdit *>(w) || qobject_cast<const QPlainTextEdit *>(w))
      return true;
  return false;
}

bool IsPlainReturn(const QKeyEvent *e) {
  const bool plain = e->modifiers() == Qt::NoModifier || e->modifiers() == Qt::KeypadModifier;
  return plain && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter);
}

}  // namespace kv
