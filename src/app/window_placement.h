#pragma once
// Where windows appear: placement remembered per window class in the settings file (apart for
// each screen density above 96 pixels per inch), and dialogs centred before they are shown.
#include <QString>

#include "settings/settings.h"

class QWidget;

namespace kv {

// Where placements are kept: the settings file in the program, memory in tests.
class IPlacementStore {
 public:
  virtual ~IPlacementStore() = default;
  // Missing keys read 0, and `maximizedNow` for Maximized.
  virtual WindowPlacement ReadPlacement(const QString &windowClass, int pixelsPerInch,
                                        bool maximizedNow) = 0;
  // False when the settings file cannot be written.
  virtual bool WritePlacement(const QString &windowClass, int pixelsPerInch,
                              const WindowPlacement &placement) = 0;
};

// The store and main window the functions below use (set once by the main window).
void SetPlacementStore(IPlacementStore *store);
IPlacementStore *PlacementStore();
void SetMainWindow(QWidget *main);
QWidget *MainWindow();

// Class name without namespace ("TMainScreen").
QString WindowClassName(const QWidget *window);
// Pixels per inch of the window's screen.
int PixelsPerInch(const QWidget *window);

bool SaveWindowPlacement(QWidget *window);
void RestoreWindowPlacement(QWidget *window);
// Centres a window over the main window (on the screen for the main window itself and while
// the main window is maximised).
void CenterWindow(QWidget *window);

}  // namespace kv
