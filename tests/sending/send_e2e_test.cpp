// Sending a composed fax over the simulated line to the far-end fax machine: from the main
// window (the real windows, driven as a user would) and with korvane-fax send-row. The far
// end's pages are read back by OCR, the row by python3-dbf.
#include <gtest/gtest.h>

#include <QDate>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <fstream>

#include "../linesim/fax_images.h"
#include "app/dialogs.h"
#include "app/main_screen.h"
#include "app/program_dir.h"
#include "app/test_support.h"
#include "base/error_text.h"
#include "comm/device_layer.h"
#include "comm/main_thread_qt.h"
#include "compose/compose_support.h"
#include "e2e/process.h"
#include "e2e/simulated_line.h"
#include "sending/send_fax_form.h"
#include "support/event_wait.h"
#include "support/modal.h"
#include "support/sent_rows.h"

namespace kv {
namespace {

using namespace std::chrono_literals;

const std::string kTool = std::string(KORVANE_BIN_DIR) + "/korvane-fax";
// Half the simulated line's default: a loaded machine starves an 8x line of page data.
constexpr double kSpeed = 4;

// A program directory on the simulated line: Com1 is the line's modem, the settings send with
// Class 1 and try the number once, and row 1 is a fax with a template cover sheet (its merge
// fields filled for the recipient) and a two-page document, composed by korvane-fax compose.
class SendOverLine : public ::testing::Test {
 protected:
  void compose(test::SimulatedLine &line) {
    test::App();
    dir = QString::fromStdString(line.programDir());
    line.appendIni(
        "[Modem]\nComPort=0\nFaxClass=1\n[User]\nName=Ann\nFax=555 0100\n"
        "[Dialing]\nDialAttempts=1\n");
    SetProgramDir(dir);
    {
      TFaxRecords records;
      test::AddTemplate(records, "Standard");
    }
    std::ofstream(line.programDir() + "/doc.rtf")
        << "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\fs28 Quarterly invoice summary\\par "
           "\\page Second page remarks\\par }";
    test::Process p({kTool, "compose", "--program-dir", line.programDir(), "--recipient",
                     "Acme Legal", "--fax", "5551234", "--subject", "Contract draft",
                     "--cover-template", "Standard", "--doc", line.programDir() + "/doc.rtf"},
                    line.programDir() + "/compose.log");
    ASSERT_TRUE(p.wait(60s));
    ASSERT_EQ(p.exitCode(), 0) << p.output();
  }
  // The far end's pages as tesseract reads them, blanks folded.
  static QString ocr(const std::string &tiff) {
    QProcess p;
    p.start("tesseract", {QString::fromStdString(tiff), "stdout"});
    p.waitForFinished(120000);
    return QString::fromUtf8(p.readAllStandardOutput()).simplified();
  }
  // The fax as it went out is kept for row 1 in sent/, with its pages.
  void expectKeptPages(int pages) {
    const QStringList kept = QDir(dir + "/sent").entryList({"1-*.APF"}, QDir::Files);
    ASSERT_EQ(kept.size(), 1) << kept.join(' ').toStdString();
    test::Process info({kTool, "info", (dir + "/sent/" + kept[0]).toStdString()},
                       dir.toStdString() + "/info.log");
    ASSERT_TRUE(info.wait(30s));
    EXPECT_NE(info.output().find("Pages:      " + std::to_string(pages)), std::string::npos)
        << info.output();
  }
  QString dir;
};

// The main window's Send with the window driven as a user would: Send Fax, watch, Close.
class WindowSend : public SendOverLine {
 protected:
  void SetUp() override {
    test::App();
    mt = std::make_unique<QtMainThread>();
    MainThread::install(mt.get());
    Dialogs::setHandler([this](const DialogRequest &r) {
      shown << r.text;
      return true;
    });
  }
  void TearDown() override {
    Dialogs::setHandler({});
    SetPortDeviceResolver({});
    SetProgramDir({});
    MainThread::install(nullptr);
  }
  // Sends row 1 from the main window and answers the window's result text.
  QString sendFromWindow(test::SimulatedLine &line) {
    SetPortDeviceResolver([ini = line.iniPath()](int n) { return portDeviceName(ini, n); });
    QString result;
    auto main = std::make_unique<TMainScreen>();
    main->show();
    [&] { ASSERT_TRUE(kv::test::eventually([&] { return !main->FirstActivate; }, 5000)); }();
    test::OnModal<TSendFaxForm>([&](TSendFaxForm &f) {
      SessionClock clock;
      clock.setSimulatedLine(kSpeed);
      f.KvSendFax1.SetClock(clock);
      test::Snapshot(f, "send_window");
      f.SendFaxButton->click();
      if (!qEnvironmentVariableIsEmpty("KORVANE_SHOTS")) {
        // The status window over the send window in the middle of the second page.
        ASSERT_TRUE(kv::test::eventually(
            [&] {
              return !f.Busy() ||
                     (f.KvFaxStatus1.Display()->fsCurrentPage->text().trimmed() == "2" &&
                      f.KvFaxStatus1.Display()->Meter->Position() > 20 &&
                      f.KvFaxStatus1.Display()->Meter->Position() < 90);
            },
            150000));
        if (f.Busy()) {
          test::Snapshot(f, "send_window_busy");
          test::Snapshot(*f.KvFaxStatus1.Display(), "fax_status_live");
          // The whole screen too (under Xvfb): the status window where it stands over the other.
          QGuiApplication::primaryScreen()->grabWindow(0).save(
              qEnvironmentVariable("KORVANE_SHOTS") + "/screen_live.png");
        }
      }
      ASSERT_TRUE(kv::test::eventually([&] { return !f.Busy(); }, 150000));
      result = f.ResultText;
      finishedAt = f.FinishedAt;
      f.Closebutton->click();
    });
    main->SendButtonClick();
    test::Snapshot(*main, "main_after_send");
    main.reset();  // the tables closed before another reader looks
    return result;
  }
  std::unique_ptr<QtMainThread> mt;
  QStringList shown;
  QDateTime finishedAt;  // as the send window last told it
};

TEST_F(WindowSend, ACoverAndTwoPagesReachTheFarEndAndTheRowSaysSent) {
  test::LineOptions o;
  o.speed = kSpeed;
  o.calls = 1;
  o.farReceive = "far.tif";
  test::SimulatedLine line(o);
  compose(line);
  EXPECT_EQ(sendFromWindow(line), "Sent") << shown.join(" / ").toStdString() << line.log();
  EXPECT_EQ(shown, QStringList{"Finished: OK"});
  EXPECT_EQ(line.finish(), 0) << line.log();
  const auto pages = test::readTiffPages(line.farReceived());
  EXPECT_EQ(pages.size(), 3u);
  const QString text = ocr(line.farReceived());
  for (const char *words : {"FAX COVER", "Acme Legal", "5551234", "Contract draft",
                            "Quarterly invoice summary", "Second page remarks", "Page 3 of 3"})
    EXPECT_TRUE(text.contains(words, Qt::CaseInsensitive))
        << words << " not in: " << text.toStdString();
  const QString row = test::ReadSendColumns(dir, 1);
  const QStringList cols = row.split('|');
  ASSERT_EQ(cols.size(), 5) << row.toStdString();
  EXPECT_EQ(cols[0], "True");
  EXPECT_EQ(cols[1], QDate::currentDate().toString("yyyy-MM-dd"));
  // The time the fax went through, not the time its window was closed.
  EXPECT_EQ(cols[2], finishedAt.toString("hh:mm"));
  EXPECT_EQ(cols[3], "3");
  EXPECT_EQ(cols[4], "Sent");
  EXPECT_TRUE(QFile::exists(dir + "/KRVSEND.TRC"));
  EXPECT_TRUE(QDir(dir).entryList({"KRV_*.APF"}).isEmpty());
  expectKeptPages(3);
}

TEST_F(WindowSend, ABusyNumberLeavesTheBusyTextAndTheRowUnsent) {
  test::LineOptions o;
  o.speed = kSpeed;
  o.extra = {"--busy", "5551234"};
  test::SimulatedLine line(o);
  compose(line);
  const QString busy = QString::fromStdString(errorText(ecFaxBusy));
  EXPECT_EQ(sendFromWindow(line), busy) << line.log();
  EXPECT_EQ(test::ReadSendColumns(dir, 1).toStdString(), ("False|||3|" + busy).toStdString());
  EXPECT_FALSE(QDir(dir + "/sent").exists());  // nothing went out, nothing is kept
}

TEST_F(SendOverLine, SendRowSendsAndWritesTheRowAsTheWindowDoes) {
  test::LineOptions o;
  o.speed = kSpeed;
  o.calls = 1;
  o.farReceive = "far.tif";
  test::SimulatedLine line(o);
  compose(line);
  SetProgramDir({});
  test::Process tx({kTool, "send-row", "1", "--program-dir", line.programDir(), "--speed", "4"},
                   line.programDir() + "/send-row.log");
  ASSERT_TRUE(tx.wait(150s));
  EXPECT_EQ(tx.exitCode(), 0) << tx.output() << line.log();
  EXPECT_EQ(line.finish(), 0) << line.log();
  EXPECT_EQ(test::readTiffPages(line.farReceived()).size(), 3u);
  const QStringList cols = test::ReadSendColumns(dir, 1).split('|');
  ASSERT_EQ(cols.size(), 5);
  EXPECT_EQ(cols[0], "True");
  EXPECT_EQ(cols[1], QDate::currentDate().toString("yyyy-MM-dd"));
  EXPECT_EQ(cols[3], "3");
  EXPECT_EQ(cols[4], "Sent");
  EXPECT_TRUE(QFile::exists(dir + "/KRVSEND.TRC"));
  EXPECT_TRUE(QDir(dir).entryList({"KRV_*.APF"}).isEmpty());
  expectKeptPages(3);
}

}  // namespace
}  // namespace kv
