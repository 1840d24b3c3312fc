#include "app/hints.h"

#include <QApplication>
#include <QEvent>
#include <QProxyStyle>
#include <QStatusTipEvent>
#include <QWidget>

#include "app/status_line.h"

namespace kv {
namespace {
bool hintsOn = true;

class HintDelayStyle : public QProxyStyle {
 public:
  using QProxyStyle::QProxyStyle;
  int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                QStyleHintReturn *ret) const override {
    if (hint == SH_ToolTip_WakeUpDelay) return Hints::kDelayMs;
    return QProxyStyle::styleHint(hint, option, widget, ret);
  }
};
}  // namespace

void Hints::install(QApplication &app) {
  app.setStyle(new HintDelayStyle(app.style()->name()));
  app.installEventFilter(new Hints(&app));
}

bool Hints::enabled() {
  return hintsOn;
}
void Hints::setEnabled(bool on) {
  hintsOn = on;
}

bool Hints::eventFilter(QObject *watched, QEvent *event) {
  switch (event->type()) {
    case QEvent::ToolTip:
      // Hints off: no pop-ups anywhere in the program.
      if (!hintsOn) return true;
      break;
    case QEvent::StatusTip:
      // The status tip travels from the control up to its window; catch it once, at the
      // top-level window, so that the text lands in whichever status line is current.
      if (auto *w = qobject_cast<QWidget *>(watched); w && w->isWindow()) {
        if (hintsOn) ShowStatus(static_cast<QStatusTipEvent *>(event)->tip());
        return true;
      }
      break;
    default:
      break;
  }
  return QObject::eventFilter(watched, event);
}

void SetHint(QWidget *widget, const QString &hint) {
  widget->setToolTip(hint);
  widget->setStatusTip(hint);
}

}  // namespace kv
