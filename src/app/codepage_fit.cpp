#include "app/codepage_fit.h"

#include <QLineEdit>

#include "app/dialogs.h"
#include "base/cp1252.h"

namespace kv {
namespace {

bool inCodePage(char32_t u) {
  return unicodeToCp1252(u) >= 0;
}

// Characters without a decomposition that still have a near neighbour in the code page.
char32_t nearLetter(char32_t u) {
  switch (u) {
    case 0x0141:
      return U'L';  // L with stroke
    case 0x0142:
      return U'l';
    case 0x0110:
      return U'D';  // D with stroke
    case 0x0111:
      return U'd';
    case 0x0131:
      return U'i';  // dotless i
    case 0x2010:
    case 0x2011:
    case 0x2012:
    case 0x2212:
      return U'-';
    case 0x2015:
      return 0x2014;
    case 0x201B:
      return 0x2018;
    case 0x201F:
      return 0x201C;
    case 0x2032:
      return U'\'';
    case 0x2033:
      return U'"';
    case 0x00A0:
      return U' ';
    default:
      return 0;
  }
}

}  // namespace

QString FitToCp1252(const QString &text) {
  QString out;
  out.reserve(text.size());
  for (char32_t u : text.toUcs4()) {
    if (inCodePage(u)) {
      out.append(QString::fromUcs4(&u, 1));
      continue;
    }
    if (char32_t n = nearLetter(u); n && inCodePage(n)) {
      out.append(QString::fromUcs4(&n, 1));
      continue;
    }
    // A composed form the code page has ("Å" for the angstrom sign), else the compatibility
    // decomposition's characters that it has, accents dropped: "ő" becomes "o", "ﬁ" "fi".
    const QString composed = QString::fromUcs4(&u, 1).normalized(QString::NormalizationForm_KC);
    if (composed.size() == 1 && inCodePage(composed.at(0).unicode())) {
      out.append(composed);
      continue;
    }
    const QString parts = QString::fromUcs4(&u, 1).normalized(QString::NormalizationForm_KD);
    QString kept;
    for (char32_t p : parts.toUcs4())
      if (inCodePage(p) && !QChar::isMark(p)) kept.append(QString::fromUcs4(&p, 1));
    out.append(kept.isEmpty() ? QStringLiteral("?") : kept);
  }
  return out;
}

bool ConfirmCodePageFit(QWidget *parent,
                        const std::vector<std::pair<QString, QLineEdit *>> &edits) {
  QString list;
  for (const auto &[label, edit] : edits) {
    const QString fitted = FitToCp1252(edit->text());
    if (fitted != edit->text())
      list += QStringLiteral("\r%1: \"%2\" is stored as \"%3\"").arg(label, edit->text(), fitted);
  }
  if (list.isEmpty()) return true;
  if (!Dialogs::askYesNo(parent, "Characters",
                         "Some characters cannot be kept in the table, which stores Windows-1252 "
                         "text:\r" +
                             list + "\r\rSave it this way?",
                         false))
    return false;
  for (const auto &[label, edit] : edits) edit->setText(FitToCp1252(edit->text()));
  return true;
}

}  // namespace kv
