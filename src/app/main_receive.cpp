// Receive mode on the main window: the Receive button, the receiver's events as the main window
// shows them (status line, new rows, the sound) and the receive port. What receive mode does is
// the shared core's (receiving/receive_mode.h); this is the window around it.
#include <QCoreApplication>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>
#include <set>

#include "app/dialogs.h"
#include "app/hints.h"
#include "app/icons.h"
#include "app/main_receive.h"
#include "app/main_screen.h"
#include "app/program_dir.h"
#include "app/status_line.h"
#include "app/wave_sound.h"
#include "base/error_text.h"
#include "receiving/fax_notice.h"
#include "receiving/receive_tray.h"
#include "receiving/unread_faxes.h"

namespace kv {

namespace {

// The unread names as last read, held by the window for its list's marks.
class UnreadNames : public QObject {
 public:
  explicit UnreadNames(QObject *parent) : QObject(parent) { setObjectName("UnreadNames"); }
  std::set<std::string> names;
};

std::string receiveDir() {
  return (ProgramDir() + "receive").toStdString();
}

UnreadNames &unreadOf(TMainScreen &w) {
  auto *u = w.findChild<UnreadNames *>("UnreadNames", Qt::FindDirectChildrenOnly);
  if (u) return *u;
  u = new UnreadNames(&w);
  w.RecFaxModel->setRowMark(
      [u](TTable &table, int row) {
        return u->names.count(table.ValueAt(row, "FAXFILE").toString().trimmed().toStdString()) > 0;
      },
      "Unread");
  return *u;
}

TReceiveTray &trayOf(TMainScreen &w) {
  auto *t = w.findChild<TReceiveTray *>("ReceiveTray", Qt::FindDirectChildrenOnly);
  return t ? *t : *new TReceiveTray(&w);
}

}  // namespace

void ShowUnreadFaxes(TMainScreen &w) {
  UnreadNames &u = unreadOf(w);
  u.names = LoadUnreadFaxes(receiveDir());
  int unread = 0;
  TTable &table = w.Records.RecTable;
  if (!u.names.empty() && table.Active())
    for (int row = 0, n = table.RowCount(); row < n; ++row)
      unread +=
          int(u.names.count(table.ValueAt(row, "FAXFILE").toString().trimmed().toStdString()));
  w.TabSet1->setTabText(1, unread ? QString("Received (%1)").arg(unread) : QString("Received"));
  w.TabSet1->setTabToolTip(
      1, unread ? QString("%1 received fax(es) not viewed yet").arg(unread) : QString());
  w.RecFaxModel->refreshMarks();
  trayOf(w).Update(w.ReceiveMode, unread);
}

void MarkReceivedFaxViewed(TMainScreen &w, const QString &faxFile) {
  std::string problem;
  if (!MarkFaxUnread(receiveDir(), faxFile.toStdString(), false, problem))
    ShowStatus(QString::fromStdString("The fax could not be marked as viewed: " + problem));
  ShowUnreadFaxes(w);
}

void TMainScreen::prepareReceivePort() {
  PrepareReceivePort(KvComPort1, ProgramDir().toStdString());
  Receive.ShowStatus = [this](const std::string &text) {
    status->setText(QString::fromStdString(text));
  };
  Receive.ProcessEvents = [] { QCoreApplication::processEvents(); };
  Receive.Inform = [this](const std::string &text) {
    Dialogs::information(this, QString::fromStdString(text));
  };
  Receive.FaxRecorded = [this](const ReceivedFax &fax) { KvReceiveFax1FaxRecorded(fax); };
  // A receiver that ends by itself (its device has gone) leaves receive mode off, and says why,
  // rather than a STOP button over a port that takes no calls.
  Receive.SessionFinished = [this](Result code) {
    if (!ReceiveMode) return;
    ReceiveModeOff();
    SetButtons();
    ShowStatus(QString("Receive mode ended: %1").arg(QString::fromStdString(errorText(code))));
  };
}

void TMainScreen::UpdateValues() {
  Receive.UpdateValues();
}

void TMainScreen::setReceiveButton(bool receiving) {
  ReceiveButton->setText(receiving ? "&STOP" : "&Receive");
  SetHint(ReceiveButton, receiving ? "Stop receiving faxes" : "Start receiving faxes");
  ReceiveButton->setIcon(ButtonIcon(receiving ? ButtonPicture::Stop : ButtonPicture::Receive));
}

void TMainScreen::ReceiveButtonClick() {
  QString failure;
  {
    BusyCursor busy;
    LastFaxError = 0;
    if (!ReceiveMode) {
      ReceiveModeOn();
      if (!ReceiveMode) failure = status->property("receiveFailure").toString();
    } else {
      ReceiveModeOff();
    }
    SetButtons();
  }
  // Told with the normal pointer back.
  if (!failure.isEmpty()) Dialogs::information(this, failure);
}

void TMainScreen::ReceiveModeOn() {
  ReceiveMode = true;
  SetButtons();
  QCoreApplication::processEvents();
  ShowStatus("Starting receive mode...");
  std::string message;
  const bool started = Receive.StartReceiving(Settings.Data, message);
  status->setProperty("receiveFailure", QString::fromStdString(message));
  if (!started) {
    ReceiveMode = false;
    ShowStatus(QString());
    setReceiveButton(false);
    return;
  }
  setReceiveButton(true);
}

void TMainScreen::ReceiveModeOff() {
  // Whatever fails on the way, receive mode ends and the port is released.
  Receive.StopReceiving(Settings.Data);
  ReceiveMode = false;
  ShowStatus(QString());
  setReceiveButton(false);
}

// A fax is in the receive directory and its row in the table (the core's work, run after the
// receiver's event): the list shows it, the sound plays, the commands follow.
void TMainScreen::KvReceiveFax1FaxRecorded(const ReceivedFax &fax) {
  QCoreApplication::processEvents();
  RecTableCloseAndOpen();
  QCoreApplication::processEvents();
  ShowDesktopNotice(ReceivedFaxNotice(fax));
  QMetaObject::invokeMethod(this, &TMainScreen::PlayReceivedSound, Qt::QueuedConnection);
  SetButtons();
}

void TMainScreen::PlayReceivedSound() {
  PlayWaveFile(QString::fromStdString(Settings.Data.receiveWav));
}

}  // namespace kv
