#include "app/ui_font.h"

#include <QFontDatabase>
#include <QGuiApplication>

namespace kv {
namespace {
constexpr int kBodyPoints = 8;
}  // namespace

bool UiFontIsArial() {
  // A substitute the font system maps Arial to is not Arial: its metrics differ, so the
  // desktop's font is the better choice then.
  return QFontDatabase::hasFamily(QStringLiteral("Arial"));
}

QFont UiFont(int points, bool bold) {
  QFont f;
  if (UiFontIsArial()) {
    f = QFont(QStringLiteral("Arial"));
    f.setPointSize(points);
  } else {
    f = QGuiApplication::font();
    const qreal desktop = f.pointSizeF() > 0 ? f.pointSizeF() : 9;
    f.setPointSizeF(std::max<qreal>(6, desktop + points - kBodyPoints));
  }
  f.setBold(bold);
  return f;
}

}  // namespace kv
