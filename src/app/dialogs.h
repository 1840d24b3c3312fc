#pragma once
// Every message box of the program goes through here, so that tests can answer them by script
// and see what the user would have been told.
#include <QString>
#include <functional>

class QWidget;

namespace kv {

struct DialogRequest {
  enum Kind { Information, Error, YesNo };
  Kind kind = Information;
  QString caption;
  QString text;
  bool yesIsDefault = true;
};

class Dialogs {
 public:
  // Returns true for Yes (always true for a plain message).
  using Handler = std::function<bool(const DialogRequest &)>;

  static void information(QWidget *parent, const QString &text, const QString &caption = {});
  static void error(QWidget *parent, const QString &text, const QString &caption = {});
  static bool askYesNo(QWidget *parent, const QString &caption, const QString &text,
                       bool yesIsDefault);
  // A command that finds nothing to act on beeps.
  static void beep();

  // Replaces the real message boxes; an empty handler restores them.
  static void setHandler(Handler handler);
  static int beepCount();

  // From now on no message is shown and every question takes its default answer: the program
  // is ending on a signal, and a box opened now (by work queued before) would keep it alive.
  static void silenceForGood();

 private:
  static bool run(QWidget *parent, const DialogRequest &request);
};

}  // namespace kv
