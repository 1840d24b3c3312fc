#include "faxui/fax_status.h"

#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <cmath>
#include <cstdio>

#include "base/error_text.h"
#include "fax/send_fax.h"

namespace kv {

std::string statusMinutes(int seconds) {
  if (seconds < 0) seconds = 0;
  char buf[32];
  std::snprintf(buf, sizeof buf, "%6s",
                (std::to_string(seconds / 60) + ":" + (seconds % 60 < 10 ? "0" : "") +
                 std::to_string(seconds % 60))
                    .c_str());
  return buf;
}

std::string statusFileName(const std::string &path) {
  const auto cut = path.find_last_of("/\\:");
  std::string name = cut == std::string::npos ? path : path.substr(cut + 1);
  if (name.size() > 20) name = name.substr(0, 20) + "...";
  return name;
}

int pagePercent(long bytesDone, long pageLength) {
  if (pageLength <= 0) return 0;
  // nearbyint rounds halves to the even neighbour in the default rounding mode.
  return int(std::nearbyint(double(bytesDone) / double(pageLength) * 100.0));
}

namespace {

QLabel *valueLabel(QWidget *parent, const char *name) {
  auto *l = new QLabel(parent);
  l->setObjectName(name);
  l->setTextInteractionFlags(Qt::TextSelectableByMouse);
  l->setMinimumWidth(120);
  return l;
}

// A framed box of caption/value rows.
QFrame *rowBox(QWidget *parent, std::initializer_list<std::pair<const char *, QLabel *>> rows) {
  auto *box = new QFrame(parent);
  box->setFrameShape(QFrame::StyledPanel);
  auto *grid = new QGridLayout(box);
  grid->setColumnStretch(1, 1);
  grid->setVerticalSpacing(2);
  int r = 0;
  for (auto [caption, value] : rows) {
    auto *c = new QLabel(caption, box);
    grid->addWidget(c, r, 0);
    grid->addWidget(value, r, 1);
    ++r;
  }
  grid->setRowStretch(r, 1);  // rows keep to the top when the neighbour box is taller
  return box;
}

// The pauses before a redial, which the window counts down.
bool redialWaiting(int progress) {
  return progress == fpBusyWait || progress == fpIncomingCallWait;
}

QString q(const std::string &s) {
  return QString::fromStdString(s);
}

}  // namespace

TStandardFaxDisplay::TStandardFaxDisplay(QWidget *parent) : QDialog(parent) {
  setObjectName("StandardFaxDisplay");
  setWindowTitle("Fax Status");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  setModal(false);

  fsPhoneNumber = valueLabel(this, "fsPhoneNumber");
  fsFaxFileName = valueLabel(this, "fsFaxFileName");
  fsCoverFileName = valueLabel(this, "fsCoverFileName");
  fsTotalPages = valueLabel(this, "fsTotalPages");
  fsDialAttempt = valueLabel(this, "fsDialAttempt");
  fsRemoteID = valueLabel(this, "fsRemoteID");
  fsConnectBPS = valueLabel(this, "fsConnectBPS");
  fsResolution = valueLabel(this, "fsResolution");
  fsWidth = valueLabel(this, "fsWidth");
  fsErrorControl = valueLabel(this, "fsErrorControl");
  fsCurrentPage = valueLabel(this, "fsCurrentPage");
  fsPageLength = valueLabel(this, "fsPageLength");
  fsBytesTransferred = valueLabel(this, "fsBytesTransferred");
  fsElapsedTime = valueLabel(this, "fsElapsedTime");
  fsStatusMsg = valueLabel(this, "fsStatusMsg");
  fsStatusMsg->setWordWrap(true);
  QFont bold = fsStatusMsg->font();
  bold.setBold(true);
  fsStatusMsg->setFont(bold);
  // The times keep their width as they count.
  fsElapsedTime->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));

  // The file names are kept for the component's sake but not shown.
  fsFaxFileName->hide();
  fsCoverFileName->hide();
  auto *call = rowBox(this, {{"Phone number:", fsPhoneNumber},
                             {"Total pages:", fsTotalPages},
                             {"Dial attempt:", fsDialAttempt}});
  auto *session = rowBox(this, {{"Remote ID:", fsRemoteID},
                                {"Connect BPS:", fsConnectBPS},
                                {"Resolution:", fsResolution},
                                {"Width:", fsWidth},
                                {"Error control:", fsErrorControl}});
  auto *page = rowBox(this, {{"Current page:", fsCurrentPage},
                             {"Page length:", fsPageLength},
                             {"Bytes transferred:", fsBytesTransferred},
                             {"Elapsed time:", fsElapsedTime}});
  auto *statusRow = new QHBoxLayout;
  statusRow->addWidget(new QLabel("Status:", this));
  statusRow->addWidget(fsStatusMsg, 1);

  fsLabel19 = new QLabel("Page progress:", this);
  fsLabel19->setObjectName("fsLabel19");
  Meter = new TKvMeter(this);
  Meter->setObjectName("Meter");
  Meter->setFixedSize(380, 20);
  Meter->SetStep(10);
  Meter->SetPosition(0);
  auto *progressRow = new QHBoxLayout;
  progressRow->addWidget(fsLabel19);
  progressRow->addWidget(Meter, 1);

  fsCancel = new QPushButton("Cancel", this);
  fsCancel->setObjectName("fsCancel");
  fsCancel->setDefault(true);
  connect(fsCancel, &QPushButton::clicked, this, [this] { cancelClick(); });
  auto *buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(fsCancel);
  buttons->addStretch();

  auto *top = new QHBoxLayout;
  top->addWidget(call, 1);
  top->addWidget(session, 1);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(page);
  layout->addLayout(statusRow);
  layout->addLayout(progressRow);
  layout->addSpacing(4);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);

  clock_.setInterval(1000);
  connect(&clock_, &QTimer::timeout, this, [this] { showTimes(); });
  fsElapsedTime->setText("00:00");
}

void TStandardFaxDisplay::cancelClick() {
  if (fax_) fax_->AbortFax();
}

void TStandardFaxDisplay::reject() {
  cancelClick();
}

void TStandardFaxDisplay::StopTimers() {
  elapsedRunning_ = false;
  redialRunning_ = false;
  clock_.stop();
}

int TStandardFaxDisplay::elapsedSeconds() const {
  return elapsedRunning_ ? int(elapsed_.elapsed() / 1000) : 0;
}

int TStandardFaxDisplay::redialSecondsLeft() const {
  if (!redialRunning_) return 0;
  const qint64 leftMs = qint64(redialWait_) * 1000 - redial_.elapsed();
  return leftMs <= 0 ? 0 : int((leftMs + 999) / 1000);
}

void TStandardFaxDisplay::showTimes() {
  fsElapsedTime->setText(elapsedRunning_ ? q(statusMinutes(elapsedSeconds())) : "00:00");
  std::string status = statusText_;
  if (redialWaiting(progress_)) status += statusMinutes(redialSecondsLeft());
  fsStatusMsg->setText(q(status));
}

void TStandardFaxDisplay::UpdateValues() {
  if (!fax_) return;
  TKvAbstractFax &fax = *fax_;
  const int p = fax.ProgressCode();
  auto *sender = dynamic_cast<TKvSendFax *>(&fax);

  if (!elapsedRunning_ && (p == fpSessionParams || p == fpGotRemoteId)) {
    elapsed_.start();
    elapsedRunning_ = true;
  } else if (elapsedRunning_ && (p == fpUserAbort || p == fpFaxSent || p == fpGotHangup)) {
    elapsedRunning_ = false;
  }
  if (!redialRunning_ && redialWaiting(p)) {
    redial_.start();
    redialWait_ = sender ? sender->DialRetryWait() : 0;
    redialRunning_ = true;
  } else if (redialRunning_ && !redialWaiting(p)) {
    redialRunning_ = false;
  }

  fsFaxFileName->setText(q(statusFileName(fax.FaxFile)));
  if (sender) {
    fsPhoneNumber->setText(q(sender->PhoneNumber.typed()));
    fsCoverFileName->setText(q(statusFileName(sender->CoverFile)));
    fsDialAttempt->setText(QString::number(sender->DialAttempt()));
  } else {
    fsPhoneNumber->clear();
    fsCoverFileName->clear();
    fsDialAttempt->setText("1");
  }
  fsTotalPages->setText(QString::number(fax.PageTotal()));
  fsRemoteID->setText(q(fax.PartnerID()));
  fsConnectBPS->setText(QString::number(fax.LineRate()));
  fsResolution->setText(fax.FineMode() ? "high" : "standard");
  fsWidth->setText(fax.WidePage() ? "2048" : "1728");
  fsErrorControl->setText(fax.ErrorCorrection() ? "on" : "off");

  const int page = fax.PageNumber();
  fsCurrentPage->setText(page == 0 ? QString("<cover page>") : QString::number(page));
  const long length = fax.PageLength();
  const long done = fax.BytesTransferred();
  fsPageLength->setText(QString::number(length));
  fsBytesTransferred->setText(QString::number(done));

  progress_ = p;
  statusText_ = progressText(p);
  showTimes();

  if (sender) {
    fsLabel19->setText("Page progress:");
    Meter->show();
    Meter->SetMin(0);
    Meter->SetMax(100);
    Meter->SetPosition(pagePercent(done, length));
  } else {
    Meter->hide();
    fsLabel19->setText("Page progress: N/A");
  }
  if (elapsedRunning_ || redialRunning_) {
    if (!clock_.isActive()) clock_.start();
  } else {
    clock_.stop();
  }
}

TKvFaxStatus::TKvFaxStatus(QWidget *parent) : display_(new TStandardFaxDisplay(parent)) {
  display_->hide();
}

TKvFaxStatus::~TKvFaxStatus() {
  delete display_.data();
}

void TKvFaxStatus::SetVisible(bool on) {
  if (!display_) return;
  if (on) placeWindow();
  display_->setVisible(on);
}

void TKvFaxStatus::BringToFront() {
  if (!Visible()) return;
  display_->raise();
  display_->activateWindow();
  display_->fsCancel->setFocus();
}

void TKvFaxStatus::SetFax(TKvAbstractFax *fax) {
  if (display_) display_->SetFax(fax);
}

void TKvFaxStatus::placeWindow() {
  if (position_ != poScreenCenter || !display_) return;
  display_->adjustSize();
  QScreen *screen = display_->screen() ? display_->screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect frame = display_->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  display_->move(frame.topLeft());
}

void TKvFaxStatus::UpdateDisplay(TKvAbstractFax &fax, bool first, bool last) {
  if (!display_) return;
  if (first) {
    display_->StopTimers();
    display_->SetFax(&fax);
    SetVisible(true);
    BringToFront();
  }
  if (last) {
    display_->hide();
    display_->StopTimers();
    display_->SetFax(nullptr);
    return;
  }
  display_->UpdateValues();
}

}  // namespace kv
