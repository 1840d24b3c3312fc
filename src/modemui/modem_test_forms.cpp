#include "modemui/modem_test_forms.h"

#include <QApplication>
#include <QFontDatabase>
#include <QGridLayout>
#include <QTimer>
#include <QVBoxLayout>

#include "app/dialogs.h"
#include "app/program_dir.h"
#include "app/window_placement.h"
#include "comm/com_port.h"
#include "fax/send_fax.h"
#include "settings/settings.h"

namespace kv {

namespace {

void repaintNow(QWidget *w) {
  w->repaint();
  QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

QString q(const std::string &s) {
  return QString::fromStdString(s).replace('\r', '\n');
}

QLabel *resultLabel(QWidget *parent, const char *name, const QString &text) {
  auto *l = new QLabel(text, parent);
  l->setObjectName(name);
  l->setWordWrap(true);
  l->setMinimumHeight(4 * l->fontMetrics().lineSpacing());
  l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  return l;
}

// Grows the window so that every line of a word-wrapped result shows.
void fitText(QDialog *d, QLabel *label) {
  label->setMinimumHeight(label->heightForWidth(label->width()));
  d->adjustSize();
}

QPushButton *hiddenOk(QDialog *d) {
  auto *b = new QPushButton("Ok", d);
  b->setObjectName("OkButton");
  b->setDefault(true);
  b->hide();
  QObject::connect(b, &QPushButton::clicked, d, &QDialog::accept);
  return b;
}

QHBoxLayout *centred(QWidget *w) {
  auto *row = new QHBoxLayout;
  row->addStretch();
  row->addWidget(w);
  row->addStretch();
  return row;
}

}  // namespace

TFindModemForm::TFindModemForm(QWidget *parent, TKvCustomComPort &port,
                               std::vector<SerialPort> ports)
    : QDialog(parent), port_(port), ports_(std::move(ports)) {
  setObjectName("FindModemForm");
  setWindowTitle("Finding Modem...Please wait");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  auto *grid = new QGridLayout;
  grid->addWidget(new QLabel("Communications Ports:", this), 0, 0, 1, 3);
  for (std::size_t i = 0; i < ports_.size(); ++i) {
    const SerialPort &p = ports_[i];
    auto *label = new QLabel(QString("Com %1:").arg(p.number), this);
    label->setObjectName(QString("Com%1Label").arg(p.number));
    label->setMinimumWidth(260);
    PortLabels.push_back(label);
    // A long stable name is shortened in its middle; the whole of it is the tip.
    const QString text = QString::fromStdString(p.deviceText());
    auto *device = new QLabel(this);
    device->setText(device->fontMetrics().elidedText(text, Qt::ElideMiddle, 300));
    device->setToolTip(text);
    device->setEnabled(p.present);
    grid->addWidget(label, int(i) + 1, 1);
    grid->addWidget(device, int(i) + 1, 2);
  }
  grid->setColumnMinimumWidth(0, 16);
  Result = resultLabel(this, "Result", "Testing Communications ports...please wait.");
  OkButton = hiddenOk(this);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addSpacing(8);
  layout->addWidget(Result);
  layout->addLayout(centred(OkButton));
  // Wide enough for a USB modem's stable name beside its port.
  setFixedWidth(620);
}

void TFindModemForm::showEvent(QShowEvent *e) {
  QDialog::showEvent(e);
  if (started_) return;
  started_ = true;
  // After the window has been drawn once, so the user sees the ports being tried.
  QTimer::singleShot(0, this, [this] { runSearch(); });
}

void TFindModemForm::reject() {
  if (done_) QDialog::reject();
}

void TFindModemForm::runSearch() {
  const std::string dir = ProgramDir().toStdString();
  port_.SetTraceName(dir + "KRVTEST.TRC");
  port_.SetLogName(dir + "KRVTEST.LOG");
  OkButton->hide();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  result_ = FindModem(port_, ports_, [this](int i, const std::string &text) {
    PortLabels[std::size_t(i)]->setText(q(text));
    repaintNow(this);
  });
  QApplication::restoreOverrideCursor();
  Result->setText(q(result_.resultText));
  OkButton->show();
  fitText(this, Result);
  OkButton->setFocus();
  setWindowTitle("Find Modem");
  done_ = true;
  Dialogs::beep();
}

TCheckFaxClassForm::TCheckFaxClassForm(QWidget *parent, TKvCustomComPort &port, TKvSendFax &fax,
                                       int comNumber)
    : QDialog(parent), port_(port), fax_(fax), comNumber_(comNumber) {
  setObjectName("CheckFaxClassForm");
  setWindowTitle("Finding Fax Class...Please wait");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  auto *grid = new QGridLayout;
  grid->addWidget(new QLabel("Fax Classes:", this), 0, 0, 1, 2);
  const char *const captions[] = {"Class 1 :", "Class 2 :", "Class 2.0 :"};
  for (int i = 0; i < 3; ++i) {
    ClassLabels[std::size_t(i)] = new QLabel(captions[i], this);
    ClassLabels[std::size_t(i)]->setObjectName(QString("Class%1Label").arg(i + 1));
    ClassLabels[std::size_t(i)]->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    grid->addWidget(ClassLabels[std::size_t(i)], i + 1, 1);
  }
  grid->setColumnMinimumWidth(0, 16);
  Status = resultLabel(this, "Status", "Testing Fax Classes...please wait.");
  OkButton = hiddenOk(this);
  auto *layout = new QVBoxLayout(this);
  layout->addLayout(grid);
  layout->addSpacing(8);
  layout->addWidget(Status);
  layout->addLayout(centred(OkButton));
  setFixedWidth(440);
}

void TCheckFaxClassForm::showEvent(QShowEvent *e) {
  QDialog::showEvent(e);
  if (started_) return;
  started_ = true;
  QTimer::singleShot(0, this, [this] { runCheck(); });
}

void TCheckFaxClassForm::reject() {
  if (done_) QDialog::reject();
}

void TCheckFaxClassForm::runCheck() {
  result_ = CheckFaxClass(port_, fax_, comNumber_, [this](const std::string &s) {
    Status->setText(q(s));
    repaintNow(this);
  });
  for (std::size_t i = 0; i < 3; ++i) ClassLabels[i]->setText(q(result_.labels[i]));
  QFont f = ClassLabels[2]->font();
  f.setBold(result_.boldClass2_0);
  ClassLabels[2]->setFont(f);
  Status->setText(q(result_.status));
  Dialogs::beep();
  OkButton->show();
  fitText(this, Status);
  OkButton->setFocus();
  setWindowTitle("Check Fax Class");
  done_ = true;
}

int FindModemButton(QWidget *parent, TKvCustomComPort &port, int chosenItem) {
  const auto ini = settingsFilePath(ProgramDir().toStdString());
  const std::vector<SerialPort> ports = SystemSerialPorts(ini);
  int found = -1;
  {
    TFindModemForm form(parent, port, ports);
    CenterWindow(&form);
    form.exec();
    found = form.FoundPort();
  }
  port.SetComNumber(std::uint16_t(chosenItem + 1));
  if (found > 0 && found != chosenItem + 1 &&
      Dialogs::askYesNo(parent, "Com Port", QString("Set Com Port to Com %1").arg(found), true)) {
    for (const SerialPort &p : ports) {
      if (p.number != found) continue;
      try {
        RememberPortDevice(ini, p);
      } catch (const std::exception &e) {
        Dialogs::error(parent, QString::fromStdString(e.what()));
        return chosenItem;
      }
    }
    return found - 1;
  }
  return chosenItem;
}

int CheckFaxClassButton(QWidget *parent, TKvCustomComPort &port, TKvSendFax &fax, int portItem,
                        int classItem) {
  FaxClassCheck check;
  {
    TCheckFaxClassForm form(parent, port, fax, portItem + 1);
    CenterWindow(&form);
    form.exec();
    check = form.Check();
  }
  if (check.recommended >= 0 && check.recommended + 1 != classItem &&
      Dialogs::askYesNo(parent, "Fax Class",
                        QString::fromStdString("Set fax class as " + check.name + " ?"), true))
    return check.recommended + 1;
  return classItem;
}

}  // namespace kv
