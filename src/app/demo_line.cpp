#include "app/demo_line.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTimer>

#include "app/status_line.h"
#include "base/program_dir_rule.h"
#include "faximage/apf_export.h"
#include "faximage/converter.h"
#include "sending/send_fax_form.h"
#include "settings/settings.h"

namespace kv {

namespace {
const char kSampleText[] =
    "KORVANE DEMO FAX\n"
    "\n"
    "This fax was sent to you by the fax machine at the far end of the\n"
    "simulated telephone line. It went through the same steps as a real one:\n"
    "the far end dialled, your program answered, both sides agreed on speed\n"
    "and resolution, and the page was modulated, carried over the line as\n"
    "sound, demodulated and stored as an APF file in the receive directory.\n"
    "\n"
    "To send a fax yourself: New, write a few lines, Accept, then Send.\n"
    "The far end stores what it receives and the demo shows it to you.\n"
    "To have this fax again: Help, Ask the demo line for a fax, then Receive.\n";

// The user reads a message or watches a fax go out.
bool userIsBusy() {
  QWidget *modal = QApplication::activeModalWidget();
  if (!modal) return false;
  if (qobject_cast<QMessageBox *>(modal)) return true;
  auto *send = qobject_cast<TSendFaxForm *>(modal);
  return send && send->Busy();
}

// The page the far end sends: made by the program's own converter, kept as the TIFF a fax
// machine would hold.
bool makeSample(const QString &dir, QString &error) {
  const QString tiff = dir + "sample.tif";
  if (QFileInfo::exists(tiff)) return true;
  const QString text = dir + "sample.txt", apf = dir + "sample.apf";
  QFile f(text);
  if (!f.open(QIODevice::WriteOnly) || f.write(kSampleText) < 0) {
    error = "Cannot write " + text;
    return false;
  }
  f.close();
  TKvFaxConverter c;
  c.setInputDocumentType(idText);
  c.setDocumentFile(text.toStdString());
  c.setOutFileName(apf.toStdString());
  c.setResolution(frHigh);
  std::string why;
  const bool ok =
      c.convert() >= 0 && ExportApfToTiff(apf.toStdString(), tiff.toStdString(), why) >= 0;
  if (!ok)
    error = "Cannot make the sample fax: " +
            QString::fromStdString(why.empty() ? c.ErrorReason() : why);
  QFile::remove(text);
  QFile::remove(apf);
  return ok;
}

// The demo's settings: a user, a station id and the line on port kPort, Class 1 as the line's
// modem is. Whatever else the user changes in the demo stays for the next demo.
bool writeSettings(const QString &dir, const QString &device, QString &error) {
  const std::filesystem::path ini = settingsFilePath(dir.toStdString());
  try {
    Settings s = LoadSettings(ini);
    if (s.isFirstRun()) {
      s.userName = "Korvane Demo";
      s.userFax = "+1 555 0100";
    }
    s.comPort = TDemoLine::kPort - 1;
    s.faxClass = 1;
    SaveSettings(s, ini);
    IniFile file;
    file.load(ini);
    file.writeString("Ports", "Com" + std::to_string(TDemoLine::kPort), device.toStdString());
    file.save(ini);
  } catch (const std::exception &e) {
    error = QString::fromLocal8Bit(e.what());
    return false;
  }
  return true;
}
}  // namespace

TDemoLine::TDemoLine(const QString &programDir, QObject *parent)
    : QObject(parent), dir_(QDir(programDir).filePath("demo") + '/') {}

TDemoLine::~TDemoLine() {
  if (line_ && line_->state() != QProcess::NotRunning) {
    line_->terminate();
    if (!line_->waitForFinished(3000)) line_->kill();
    line_->waitForFinished(1000);
  }
}

QString TDemoLine::LinesimPath() {
  const QString beside = QString::fromStdString((ExecutableDir() / "linesim").string());
  if (QFileInfo(beside).isExecutable()) return beside;
  return QStandardPaths::findExecutable("linesim");
}

bool TDemoLine::Start(QString &error) {
  const QString linesim = LinesimPath();
  if (linesim.isEmpty()) {
    error = "The simulated line (linesim) is not installed beside the program.";
    return false;
  }
  if (!QDir().mkpath(dir_)) {
    error = "Cannot make the demo directory " + dir_;
    return false;
  }
  const QString device = dir_ + "modem";
  if (!makeSample(dir_, error) || !writeSettings(dir_, device, error)) return false;

  line_ = new QProcess(this);
  line_->setProcessChannelMode(QProcess::MergedChannels);
  connect(line_, &QProcess::readyRead, this, &TDemoLine::readLog);
  line_->start(linesim,
               {"-v", "--timeout", "86400", "--far-receive", dir_ + "far-%d.tif", "--far-send",
                dir_ + "sample.tif", "--far-id", "+1 555 0199", "--far-dial-idle",
                QString::number(kFarDialIdle), "--far-dial-on-request", device});
  if (!line_->waitForStarted(5000)) {
    error = "Cannot start " + linesim + ": " + line_->errorString();
    return false;
  }
  // The port exists once linesim has made its pseudo-terminal.
  for (int i = 0; i < 50 && !QFileInfo::exists(device); ++i) {
    if (line_->waitForFinished(100)) break;
  }
  if (!QFileInfo::exists(device)) {
    readLog();
    error = "The simulated line did not start:\n" + log_.trimmed();
    return false;
  }
  return true;
}

void TDemoLine::RequestFax() {
  if (!line_ || line_->state() != QProcess::Running) return;
  line_->write("call\n");
  ShowStatus("The demo line's far end calls with a fax as soon as Receive is on");
}

void TDemoLine::AddMenuEntry(QWidget &window) {
  auto *demo = window.findChild<QAction *>("mnuDemo");
  if (!demo) return;
  for (QMenu *menu : window.findChildren<QMenu *>()) {
    if (!menu->actions().contains(demo)) continue;
    auto *ask = new QAction("&Ask the demo line for a fax", menu);
    ask->setObjectName("mnuDemoAskFax");
    ask->setStatusTip("The far end of the simulated line calls you with a sample fax");
    connect(ask, &QAction::triggered, this, &TDemoLine::RequestFax);
    const auto actions = menu->actions();
    const auto at = actions.indexOf(demo) + 1;
    menu->insertAction(at < actions.size() ? actions[at] : nullptr, ask);
    return;
  }
}

void TDemoLine::FarFaxArrived(const QString &tiff) {
  farFaxes_ << tiff;
  if (!announcePending_) announceFarFaxes();
}

void TDemoLine::announceFarFaxes() {
  announcePending_ = false;
  if (farFaxes_.isEmpty()) return;
  if (userIsBusy()) {
    // Looked at again shortly: the user's message or send ends by the user's hand.
    announcePending_ = true;
    QTimer::singleShot(300, this, &TDemoLine::announceFarFaxes);
    return;
  }
  const QStringList files = std::exchange(farFaxes_, {});
  for (const QString &f : files) emit farReceived(f);
}

// The far end tells its result ("far end: received 1 page(s) ...: OK (file)") and then the call
// ends; only then is its file complete.
void TDemoLine::readLog() {
  static const QRegularExpression received(
      R"(far end: received [1-9]\d* page\(s\).*: OK \((.+)\)$)");
  static const QRegularExpression ended(R"(call \d+ ended)");
  pending_ += QString::fromLocal8Bit(line_->readAll());
  qsizetype nl;
  while ((nl = pending_.indexOf('\n')) >= 0) {
    const QString line = pending_.left(nl);
    pending_.remove(0, nl + 1);
    log_ += line + '\n';
    if (auto m = received.match(line); m.hasMatch()) {
      lastFarFile_ = m.captured(1);
    } else if (ended.match(line).hasMatch() && !lastFarFile_.isEmpty()) {
      FarFaxArrived(lastFarFile_);
      lastFarFile_.clear();
      // The far end answers the user's first fax with one of its own, when the user waits.
      if (!askedAfterFirstFax_) {
        askedAfterFirstFax_ = true;
        RequestFax();
      }
    }
  }
}

}  // namespace kv
