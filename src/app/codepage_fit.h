#pragma once
// The tables keep their text in Windows-1252. Text with other characters is stored with each
// such character replaced by the nearest one the code page has (its letter without the accent,
// a plain quote or dash) or by "?" when there is none; these say beforehand what will be kept.
#include <QString>
#include <utility>
#include <vector>

class QLineEdit;
class QWidget;

namespace kv {

// The text as the tables will store it.
QString FitToCp1252(const QString &text);
inline bool FitsCp1252(const QString &text) {
  return FitToCp1252(text) == text;
}

// Edits whose text the code page cannot keep are named to the user with what would be stored.
// On Yes their text is replaced by the stored form and the answer is true; on No nothing
// changes and the answer is false. True without a question when every text fits.
bool ConfirmCodePageFit(QWidget *parent, const std::vector<std::pair<QString, QLineEdit *>> &edits);

}  // namespace kv
