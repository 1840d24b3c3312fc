#pragma once
// The program-wide status line that receives progress texts. A window with its own status
// line points it there while it lives (StatusLineOwner) and gives it back afterwards.
#include <QLabel>
#include <QPointer>

namespace kv {

QLabel *CurrentStatusLine();
void SetCurrentStatusLine(QLabel *line);
// Writes to the current status line, if there is one.
void ShowStatus(const QString &text);

// Makes a status line look like the program's: blue text centred on silver.
void StyleStatusLine(QLabel *line, int height);

// Points CurrentStatusLine at a window's own line for the window's lifetime.
class StatusLineOwner {
 public:
  explicit StatusLineOwner(QLabel *own);
  ~StatusLineOwner();
  // Called on every activation of the owning window.
  void activate();
  StatusLineOwner(const StatusLineOwner &) = delete;
  StatusLineOwner &operator=(const StatusLineOwner &) = delete;

 private:
  QPointer<QLabel> own_;
  QPointer<QLabel> saved_;
};

// Hourglass pointer for a long operation; restored on every way out.
class BusyCursor {
 public:
  BusyCursor();
  ~BusyCursor();
  BusyCursor(const BusyCursor &) = delete;
  BusyCursor &operator=(const BusyCursor &) = delete;
};

}  // namespace kv
