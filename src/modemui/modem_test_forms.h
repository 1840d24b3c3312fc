#pragma once
// The two modem test windows: the search for the port the modem is on, and the check of the
// fax classes it supports. Each borrows its caller's port component, runs its test once when
// first shown, and hands back a result the caller offers to adopt.
#include <QDialog>
#include <QLabel>
#include <QPushButton>
#include <array>

#include "modem/modem_ops.h"

namespace kv {

class TKvCustomComPort;
class TKvSendFax;

class TFindModemForm : public QDialog {
  Q_OBJECT
 public:
  // Tries `ports` in turn.
  TFindModemForm(QWidget *parent, TKvCustomComPort &port, std::vector<SerialPort> ports);

  std::vector<QLabel *> PortLabels;  // one for each port, in the order tried
  QLabel *Result;
  QPushButton *OkButton;
  // The Com number of the first port that answered, or -1; valid once the search has run.
  int FoundPort() const { return result_.found; }
  bool Done() const { return done_; }

 protected:
  void showEvent(QShowEvent *e) override;
  // Closing before the search has finished would leave the port mid-test.
  void reject() override;

 private:
  void runSearch();
  TKvCustomComPort &port_;
  std::vector<SerialPort> ports_;
  ModemSearchResult result_;
  bool started_ = false, done_ = false;
};

class TCheckFaxClassForm : public QDialog {
  Q_OBJECT
 public:
  TCheckFaxClassForm(QWidget *parent, TKvCustomComPort &port, TKvSendFax &fax, int comNumber);

  std::array<QLabel *, 3> ClassLabels;
  QLabel *Status;
  QPushButton *OkButton;
  const FaxClassCheck &Check() const { return result_; }
  bool Done() const { return done_; }

 protected:
  void showEvent(QShowEvent *e) override;
  void reject() override;

 private:
  void runCheck();
  TKvCustomComPort &port_;
  TKvSendFax &fax_;
  int comNumber_;
  FaxClassCheck result_;
  bool started_ = false, done_ = false;
};

// The "Find Modem" button of the windows that choose a port: runs the search on `port` over
// every port the system has and returns the port item (0 = Com1) to select: `chosenItem`
// unless a modem was found elsewhere and the user agreed to take it (its device is then
// recorded in the "Ports" section). The port's ComNumber is set back to the chosen one.
int FindModemButton(QWidget *parent, TKvCustomComPort &port, int chosenItem);

// The "Check Fax Class" button: checks the modem on port item `portItem` and returns the fax
// class item to select (0 auto detect, 1 class 1, 2 class 2, 3 class 2.0): `classItem` unless
// a different class was recommended and the user agreed to take it.
int CheckFaxClassButton(QWidget *parent, TKvCustomComPort &port, TKvSendFax &fax, int portItem,
                        int classItem);

}  // namespace kv
