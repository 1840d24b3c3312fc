#pragma once
// The "Fax Status" window a fax component reports to while a session runs: who is called, the
// negotiated parameters, the page under way with its progress bar, the elapsed time, the
// status text (with the redial count-down) and "Cancel".
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <string>

#include "fax/fax_session.h"
#include "faxui/kv_meter.h"

namespace kv {

// Seconds as minutes, ":" and two-digit seconds, right-aligned in six characters.
std::string statusMinutes(int seconds);
// The file name part of a path, cut to 20 characters with "..." appended when longer.
std::string statusFileName(const std::string &path);
// Percent of the page done, rounded to the nearest (halves to even); 0 for an empty page.
int pagePercent(long bytesDone, long pageLength);

class TStandardFaxDisplay : public QDialog {
  Q_OBJECT
 public:
  explicit TStandardFaxDisplay(QWidget *parent = nullptr);

  // Reads every value from the fax component (on the main thread, within its status event).
  void UpdateValues();
  void SetFax(TKvAbstractFax *fax) { fax_ = fax; }
  TKvAbstractFax *Fax() const { return fax_; }
  // Stops both timers (between sessions).
  void StopTimers();
  bool ElapsedRunning() const { return elapsedRunning_; }
  bool RedialRunning() const { return redialRunning_; }

  QLabel *fsPhoneNumber, *fsFaxFileName, *fsCoverFileName, *fsTotalPages, *fsDialAttempt;
  QLabel *fsRemoteID, *fsConnectBPS, *fsResolution, *fsWidth, *fsErrorControl;
  QLabel *fsCurrentPage, *fsPageLength, *fsBytesTransferred, *fsElapsedTime;
  QLabel *fsStatusMsg, *fsLabel19;
  TKvMeter *Meter;
  QPushButton *fsCancel;

 protected:
  // Escape cancels the session rather than hiding the window of a running fax.
  void reject() override;

 private:
  void cancelClick();
  // The two texts that move between status events: elapsed time and redial count-down.
  void showTimes();
  int elapsedSeconds() const;
  int redialSecondsLeft() const;

  TKvAbstractFax *fax_ = nullptr;
  QElapsedTimer elapsed_;
  bool elapsedRunning_ = false;
  QElapsedTimer redial_;
  int redialWait_ = 0;  // seconds
  bool redialRunning_ = false;
  int progress_ = 0;
  std::string statusText_;
  QTimer clock_;  // refreshes the two moving texts once a second while shown
};

enum TFormPosition { poDesigned, poScreenCenter };

// The status display component: link it to a fax component's StatusDisplay.
class TKvFaxStatus : public TKvAbstractFaxStatus {
 public:
  explicit TKvFaxStatus(QWidget *parent = nullptr);
  ~TKvFaxStatus() override;

  TFormPosition Position() const { return position_; }
  void SetPosition(TFormPosition p) { position_ = p; }
  bool Ctl3D = true;
  bool Visible() const { return display_ && display_->isVisible(); }
  void SetVisible(bool on);
  // Raises the shown window and gives it the keyboard (Escape cancels there).
  void BringToFront();
  // The fax component shown; empty between sessions.
  TKvAbstractFax *Fax() const { return display_ ? display_->Fax() : nullptr; }
  // A component going away clears itself here.
  void SetFax(TKvAbstractFax *fax);

  void UpdateDisplay(TKvAbstractFax &fax, bool first, bool last) override;
  TStandardFaxDisplay *Display() const { return display_; }

 private:
  void placeWindow();
  QPointer<TStandardFaxDisplay> display_;
  TFormPosition position_ = poScreenCenter;
};

}  // namespace kv
