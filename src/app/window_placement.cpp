#include "app/window_placement.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QStyle>
#include <QWidget>

namespace kv {
namespace {
IPlacementStore *store = nullptr;
QPointer<QWidget> mainWindow;

QRect screenRect(const QWidget *w) {
  const QScreen *s = w->screen();
  return s ? s->geometry() : QRect(0, 0, 1024, 768);
}

// The window manager's frame around `w`: as it is once known, else room for a title bar and
// borders where a window manager frames windows (before the first frame is drawn), so that a
// window fitted to the screen does not end with its title bar above it.
QMargins frameMargins(const QWidget *w) {
  const QRect frame = w->frameGeometry(), inner = w->geometry();
  if (frame != inner)
    return {inner.left() - frame.left(), inner.top() - frame.top(), frame.right() - inner.right(),
            frame.bottom() - inner.bottom()};
  const QString platform = QGuiApplication::platformName();
  if ((w->windowFlags() & Qt::FramelessWindowHint) ||
      (platform != "xcb" && !platform.startsWith("wayland")))
    return {};
  const int border = w->style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
  return {border, w->style()->pixelMetric(QStyle::PM_TitleBarHeight) + border, border, border};
}

// A window whose top left corner is off every screen cannot be moved back by its title bar:
// it comes back onto the screen that holds most of it, cut to that screen's size if need be.
// `r` is the window's rectangle without the frame `frame`, which must fit on the screen too.
QRect keptOnScreen(const QRect &r, const QWidget *w, const QMargins &frame) {
  const QScreen *s = QGuiApplication::screenAt(r.center());
  if (!s) s = w->screen();
  const QRect area = (s ? s->availableGeometry() : QRect(0, 0, 1024, 768)).marginsRemoved(frame);
  QRect out(r.topLeft(), r.size().boundedTo(area.size()));
  if (out.right() > area.right()) out.moveRight(area.right());
  if (out.bottom() > area.bottom()) out.moveBottom(area.bottom());
  if (out.left() < area.left()) out.moveLeft(area.left());
  if (out.top() < area.top()) out.moveTop(area.top());
  return out;
}
}  // namespace

void SetPlacementStore(IPlacementStore *s) {
  store = s;
}
IPlacementStore *PlacementStore() {
  return store;
}
void SetMainWindow(QWidget *main) {
  mainWindow = main;
}
QWidget *MainWindow() {
  return mainWindow;
}

QString WindowClassName(const QWidget *window) {
  const QString name = QString::fromLatin1(window->metaObject()->className());
  return name.section("::", -1);
}

int PixelsPerInch(const QWidget *window) {
  const QScreen *s = window->screen();
  return s ? qRound(s->logicalDotsPerInch()) : 96;
}

bool SaveWindowPlacement(QWidget *window) {
  if (!store) return false;
  const QRect r =
      window->normalGeometry().isValid() ? window->normalGeometry() : window->geometry();
  WindowPlacement p;
  p.left = r.left();
  p.top = r.top();
  p.right = r.left() + r.width();
  p.bottom = r.top() + r.height();
  p.maximized = window->isMaximized();
  return store->WritePlacement(WindowClassName(window), PixelsPerInch(window), p);
}

void RestoreWindowPlacement(QWidget *window) {
  if (!store) {
    CenterWindow(window);
    return;
  }
  const WindowPlacement p =
      store->ReadPlacement(WindowClassName(window), PixelsPerInch(window), window->isMaximized());
  const QRect screen = screenRect(window);
  if (const auto r = restoredRect(p, screen.width(), screen.height()))
    window->setGeometry(keptOnScreen(QRect(r->left, r->top, r->width(), r->height()), window,
                                     frameMargins(window)));
  else
    CenterWindow(window);
  if (p.maximized) window->setWindowState(window->windowState() | Qt::WindowMaximized);
  SaveWindowPlacement(window);
}

void CenterWindow(QWidget *window) {
  if (!window->testAttribute(Qt::WA_Resized)) window->adjustSize();
  const QRect screen = screenRect(window);
  // A window made for a larger screen (or a scaled desktop) is cut down to fit on this one.
  const QMargins frame = frameMargins(window);
  const QRect area = window->screen() ? window->screen()->availableGeometry() : screen;
  const QSize fits = window->size().boundedTo(area.marginsRemoved(frame).size());
  if (fits != window->size()) window->resize(fits.expandedTo(window->minimumSize()));
  const QSize size = window->size().grownBy(frame);
  QWidget *main = mainWindow;
  ScreenRect over{screen.left(), screen.top(), screen.right() + 1, screen.bottom() + 1};
  bool maximized = true;  // no main window: centre on the screen
  if (main && main != window) {
    const QRect m = main->frameGeometry();
    over = {m.left(), m.top(), m.left() + m.width(), m.top() + m.height()};
    maximized = main->isMaximized();
  }
  const ScreenPoint at =
      centeredPosition(WindowClassName(window).toStdString(), size.width(), size.height(), over,
                       maximized, screen.width(), screen.height());
  window->move(keptOnScreen(QRect(QPoint(at.x, at.y), size), window, {}).topLeft());
  // Changing flags re-creates a shown window, so only windows not yet shown get the menu.
  const Qt::WindowFlags flags = window->windowFlags();
  if ((flags & Qt::WindowMaximizeButtonHint) && !(flags & Qt::WindowSystemMenuHint) &&
      !window->isVisible())
    window->setWindowFlag(Qt::WindowSystemMenuHint, true);
}

}  // namespace kv
