#pragma once
// The demonstration without a modem: a simulated telephone line (linesim) with a fax machine at
// its far end on a pseudo-terminal, and the program's port pointed at it. It runs in a directory
// of its own (demo/ in the program directory) so that the user's settings and faxes stay as they
// are. The far end stores what it is sent and calls to send a sample fax only when the user asks
// for one (or once it has received the user's first fax), as soon as the program then waits for
// calls: never on a timer of its own, which would ring into the user's sends.
#include <QObject>
#include <QString>
#include <QStringList>

class QProcess;
class QWidget;

namespace kv {

class TDemoLine : public QObject {
  Q_OBJECT
 public:
  // The port number the demo's own settings use for the line (the port choices offer 1 to 6).
  static constexpr int kPort = 6;
  // Asked for a fax, the far end calls once the program has waited for calls (receive mode,
  // port open, nothing said, no call on the line) this long (simulated seconds, which on the
  // demo line are real ones).
  static constexpr int kFarDialIdle = 3;
  // The help page that walks the user through the demo, shown when it starts.
  static constexpr int kHelpTopic = 1040;

  // `programDir`: the directory the demo's own directory is made in.
  explicit TDemoLine(const QString &programDir, QObject *parent = nullptr);
  ~TDemoLine() override;

  // The demo's program directory, ending in '/'.
  QString dir() const { return dir_; }
  // Prepares the directory (KRV.INI with port kPort on the line, the sample fax the far end
  // sends) and starts the line. False, with the reason in `error`, when it cannot.
  bool Start(QString &error);
  // The line's own log so far.
  QString log() const { return log_; }
  // Asks the far end for its sample fax: it calls as soon as the program waits for calls.
  void RequestFax();
  // Puts "Ask the demo line for a fax" into the menu of `window` that holds its action named
  // "mnuDemo" (the Help menu).
  void AddMenuEntry(QWidget &window);

  // A fax the far end has received: announced by farReceived, but not while the user reads a
  // message or a fax is going out (a viewer opened then would cover the send's result box).
  void FarFaxArrived(const QString &tiff);

  // linesim beside the executable, else on the PATH; empty when there is none.
  static QString LinesimPath();

 signals:
  // The far end has received a whole fax, stored as this TIFF file.
  void farReceived(const QString &tiff);

 private:
  void readLog();
  void announceFarFaxes();
  QString dir_;
  QProcess *line_ = nullptr;
  QString log_, pending_, lastFarFile_;
  bool askedAfterFirstFax_ = false;
  QStringList farFaxes_;  // received by the far end, not yet announced
  bool announcePending_ = false;
};

}  // namespace kv
