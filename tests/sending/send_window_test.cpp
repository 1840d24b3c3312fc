// The send window and the main window's Send: the row rendered, the window filled from the
// settings and read back into them, the row's outcome, a modem held by receive mode, keyboard
// use, and a window that stays open while its fax is under way (scripted modem on a pty).
#include <gtest/gtest.h>

#include <QDir>
#include <QLabel>
#include <QTest>
#include <map>

#include "app/status_line.h"
#include "base/error_text.h"
#include "comm/device_layer.h"
#include "comm/main_thread_qt.h"
#include "compose/main_screen_fixture.h"
#include "fax/apf_io.h"
#include "scriptmodem/script_modem.h"
#include "sending/send_fax_form.h"
#include "support/event_wait.h"
#include "support/modal.h"
#include "support/sent_rows.h"

namespace kv {
namespace {

// A shown main window whose Com numbers name the devices of `devices` (others do not exist).
class MainSend : public test::ShownMainScreenTest {
 protected:
  void SetUp() override {
    test::App();
    mt = std::make_unique<QtMainThread>();
    MainThread::install(mt.get());
    SetPortDeviceResolver([this](int n) {
      auto it = devices.find(n);
      return it != devices.end() ? it->second : "/nonexistent/ttyKV" + std::to_string(n);
    });
    test::ShownMainScreenTest::SetUp();
  }
  void TearDown() override {
    test::ShownMainScreenTest::TearDown();
    SetPortDeviceResolver({});
    MainThread::install(nullptr);
  }
  // A fax of a one-page cover and a one-page document, current in the list.
  void addRow() {
    ASSERT_TRUE(test::AddSentRow(w->Records, "COVER", "Body text", {"Acme", "5551234", "Offer"}));
    w->FaxTableCloseAndOpen();
    recno = w->Records.FaxTable.RecNo();
  }
  QStringList texts() const {
    QStringList t;
    for (const auto &r : shown) t << r.text;
    return t;
  }
  QStringList workFiles() const {
    return QDir(dir_.path()).entryList({"KRV_*.APF", "KRVAX*.APF", "_TMP.BMP"}, QDir::Files);
  }
  std::unique_ptr<QtMainThread> mt;
  std::map<int, std::string> devices;
  int recno = 0;
};

TEST_F(MainSend, NothingToSendBeepsOrSaysSo) {
  const int beeps = Dialogs::beepCount();
  w->SendButtonClick();  // no rows
  EXPECT_EQ(Dialogs::beepCount(), beeps + 1);
  ASSERT_TRUE(test::AddSentRow(w->Records, "", " \n  \n", {"Acme", "5551234", "Blank"}));
  w->FaxTableCloseAndOpen();
  w->SendButtonClick();
  EXPECT_EQ(texts(),
            (QStringList{"Fax has no contents or cover sheet", "Error creating fax file"}));
  w->Records.FaxTable.Close();
  EXPECT_EQ(test::ReadSendColumns(dir_.path(), 1).toStdString(), "False|||None|");
  EXPECT_TRUE(workFiles().isEmpty());
}

TEST_F(MainSend, ClosingUnsentStoresCancelledAndTheWindowsSettings) {
  addRow();
  w->Settings.Data.comPort = 1;
  w->Settings.Data.userName = "Ann";
  w->Settings.Data.dialAttempts = 5;
  ASSERT_TRUE(w->Settings.Save());
  test::OnModal<TSendFaxForm>([&](TSendFaxForm &f) {
    EXPECT_EQ(f.windowTitle(), "Send Fax: [Acme - Offer]");
    EXPECT_EQ(f.sfPhoneNumber->text(), "5551234");
    EXPECT_EQ(f.sfusername->text(), "Ann");
    EXPECT_EQ(f.ComPort->ItemIndex(), 1);
    EXPECT_EQ(f.sfDialAttempts->text(), "5");
    // The user changes some controls; one number is no number.
    f.sfusername->setText("Bob");
    f.sfDialAttempts->setText("lots");
    f.FaxClass->setCurrentIndex(3);
    f.TransferRate->setCurrentIndex(1);
    f.PulseButton->setChecked(true);
    // Enter sends: Com2 has no device, which the user is told; the window stays usable.
    QTest::keyClick(f.sfPhoneNumber, Qt::Key_Return);
    EXPECT_FALSE(f.Busy());
    EXPECT_TRUE(f.isVisible());
    QTest::keyClick(&f, Qt::Key_Escape);
  });
  w->SendButtonClick();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].text.startsWith(
      "Unable to open the specified communications port ( Com2 )\nError message: there is no "
      "device /nonexistent/ttyKV2"))
      << shown[0].text.toStdString();
  // The row: pages and "Cancelled", not sent; the work file gone; pointer and status back.
  EXPECT_TRUE(workFiles().isEmpty()) << workFiles().join(" ").toStdString();
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
  EXPECT_TRUE(w->ButtonBar->isEnabled());
  EXPECT_EQ(CurrentStatusLine()->text(), "");
  w->Records.FaxTable.Close();
  EXPECT_EQ(test::ReadSendColumns(dir_.path(), recno).toStdString(), "False|||2|Cancelled");
  // The settings file has the window's controls, except the number that was none.
  const Settings saved = LoadSettings(w->Settings.FileName());
  EXPECT_EQ(saved.userName, "Bob");
  EXPECT_EQ(saved.dialAttempts, 5);
  EXPECT_EQ(saved.faxClass, 3);
  EXPECT_EQ(saved.maximumBps, 4800);
  EXPECT_EQ(saved.toneOrPulse, 1);
  EXPECT_EQ(saved.comPort, 1);
}

TEST_F(MainSend, AModemHeldByReceiveModeIsSaidToBe) {
  ScriptModem modem(ModemScript::parse("mute\n"));
  devices[1] = modem.path();
  addRow();
  w->Settings.Data.comPort = 0;
  // Receive mode keeps the main window's port open on the same device.
  w->KvComPort1.SetComNumber(1);
  w->KvComPort1.SetOpen(true);
  test::OnModal<TSendFaxForm>([&](TSendFaxForm &f) {
    f.SendFaxButton->click();
    EXPECT_FALSE(f.Busy());
    f.Closebutton->click();
  });
  w->SendButtonClick();
  EXPECT_TRUE(w->KvComPort1.Open());  // receive mode keeps its port
  w->KvComPort1.SetOpen(false);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_TRUE(shown[0].text.startsWith(
      "The modem is in use by receive mode ( Com 1 )\n\nReceive "
      "mode of this program (process " +
      QString::number(getpid()) + ") holds " + QString::fromStdString(modem.path())))
      << shown[0].text.toStdString();
  w->Records.FaxTable.Close();
  EXPECT_EQ(test::ReadSendColumns(dir_.path(), recno).toStdString(), "False|||2|Cancelled");
}

// The window on its own: mnemonics, tab order, and a fax under way that keeps it open.
class SendWindow : public test::ProgramDirTest {
 protected:
  void SetUp() override {
    ProgramDirTest::SetUp();
    mt = std::make_unique<QtMainThread>();
    MainThread::install(mt.get());
  }
  void TearDown() override {
    SetPortDeviceResolver({});
    MainThread::install(nullptr);
    ProgramDirTest::TearDown();
  }
  std::unique_ptr<QtMainThread> mt;
  TSettingsLink settings;
};

TEST_F(SendWindow, MnemonicsAreUniqueAndLeadToTheirControls) {
  TSendFaxForm f(nullptr, settings);
  std::map<QChar, QString> seen;
  auto take = [&](const QString &text) {
    const int amp = text.indexOf('&');
    if (amp < 0 || amp + 1 >= text.size()) return;
    const QChar key = text[amp + 1].toLower();
    EXPECT_FALSE(seen.count(key)) << "&" << QString(key).toStdString() << " in \""
                                  << text.toStdString() << "\" and \"" << seen[key].toStdString()
                                  << "\"";
    seen[key] = text;
  };
  for (auto *l : f.findChildren<QLabel *>()) {
    if (!l->text().contains('&')) continue;
    take(l->text());
    EXPECT_NE(l->buddy(), nullptr) << l->text().toStdString();
  }
  for (auto *b : f.findChildren<QAbstractButton *>())
    if (!b->text().startsWith("Com")) take(b->text());  // the port radios have digits
  EXPECT_GE(seen.size(), 20u);

  f.show();
  f.sfusername->setFocus();
  QStringList order;
  for (QWidget *w = f.sfusername; order.size() < 8; w = w->nextInFocusChain()) {
    if (w->focusPolicy() & Qt::TabFocus) order << w->objectName();
  }
  EXPECT_EQ(order.mid(0, 8),
            (QStringList{"sfusername", "sfStationID", "sfDialPrefix", "sfPhoneNumber",
                         "sfDialAttempts", "sfRetryWait", "sfTimeOut", "SendFaxButton"}));
}

// The number (a row's, typed or changed in the window) and the dial prefix are checked
// before the port opens: what a modem would run as a command never reaches it.
TEST_F(SendWindow, ANumberThatCannotBeDialledIsRefusedBeforeThePortOpens) {
  ScriptModem modem(ModemScript::parse("silence 300\n"));
  SetPortDeviceResolver([&](int) { return modem.path(); });
  TSendFaxForm f(nullptr, settings);
  f.FaxFile = path("fax.apf");
  f.PhoneNumber = "555;ATZ";
  f.show();
  const std::pair<QLineEdit *, const char *> refused[] = {
      {f.sfPhoneNumber, "The fax number \"555;ATZ\" cannot be dialled: it holds ';'"},
      {f.sfDialPrefix, "The dial prefix \"9,X\" cannot be dialled: it holds the letter 'X'"},
  };
  for (const auto &[field, reason] : refused) {
    if (field == f.sfDialPrefix) {
      f.sfPhoneNumber->setText("555 1234");
      f.sfDialPrefix->setText("9,X");
    }
    shown.clear();
    f.SendFaxButton->click();
    EXPECT_FALSE(f.Busy());
    EXPECT_FALSE(f.KvComPort1.Open());
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, DialogRequest::Error);
    EXPECT_TRUE(shown[0].text.startsWith(reason)) << shown[0].text.toStdString();
  }
  const ScriptReport report = modem.finish(std::chrono::seconds(2));
  EXPECT_TRUE(report.ok()) << report.describe();
}

// A number written with "+" while no international prefix is set: the user is told once, ever
// (the settings file remembers it), what is dialled instead; the row keeps what was typed.
TEST_F(SendWindow, ADroppedPlusIsToldOnlyOnce) {
  SetPortDeviceResolver([](int) { return std::string("/nonexistent/ttyKV1"); });
  for (int run = 0; run < 2; ++run) {
    TSettingsLink link;  // what the file holds now
    link.Load();
    TSendFaxForm f(nullptr, link);
    f.FaxFile = path("fax.apf");
    f.PhoneNumber = "+1 (555) 014-2";
    f.show();
    shown.clear();
    f.SendFaxButton->click();
    f.SendFaxButton->click();
    std::vector<DialogRequest::Kind> kinds;
    for (const auto &r : shown) kinds.push_back(r.kind);
    if (run == 0) {
      ASSERT_EQ(kinds, (std::vector{DialogRequest::Information, DialogRequest::Error,
                                    DialogRequest::Error}));
      EXPECT_TRUE(
          shown[0].text.startsWith("No international prefix is set in File, Preferences, "
                                   "so the \"+\" of the number is not dialled: 15550142 "
                                   "is dialled."))
          << shown[0].text.toStdString();
    } else {
      EXPECT_EQ(kinds, (std::vector{DialogRequest::Error, DialogRequest::Error}));
    }
    EXPECT_EQ(f.sfPhoneNumber->text(), "+1 (555) 014-2");
  }
}

TEST_F(SendWindow, StaysOpenWhileSendingAndReportsTheEnd) {
  ScriptModem modem(ModemScript::parse(
      "timeout 5000\n> ATE0Q0V1X4S0=0S2=43\n< OK\n> AT+FCLASS=1\n< OK\n> AT+FTM=?\n"
      "< 24,48,72,96\n< OK\n> AT+FCLASS=1\n< OK\n> ATDT5551234\nmute\n"));
  SetPortDeviceResolver([&](int) { return modem.path(); });
  TSendFaxForm f(nullptr, settings);
  SendOptions o;
  o.faxClassItem = 1;
  f.SetOptions(o);
  f.FaxFile = path("fax.apf");
  f.PhoneNumber = "5551234";
  {
    ApfWriter apf;
    std::vector<std::uint8_t> line(216, 0);
    ASSERT_EQ(apf.create(f.FaxFile.toStdString()), ecOK);
    ASSERT_EQ(apf.beginPage(false, false), ecOK);
    for (int y = 0; y < 100; ++y) ASSERT_EQ(apf.writeLine(line.data()), ecOK);
    ASSERT_EQ(apf.endPage(), ecOK);
    ASSERT_EQ(apf.finish("ME"), ecOK);
  }
  f.show();
  f.SendFaxButton->click();
  ASSERT_TRUE(f.Busy()) << f.status->text().toStdString();
  ASSERT_TRUE(
      kv::test::eventually([&] { return f.KvSendFax1.ProgressCode() == 2; }, 10000));  // dialling
  // Close, Escape and another Send only beep while the fax is under way.
  const int beeps = Dialogs::beepCount();
  f.Closebutton->click();
  QTest::keyClick(f.sfTimeOut, Qt::Key_Escape);
  f.SendFaxButton->click();
  EXPECT_EQ(Dialogs::beepCount(), beeps + 3);
  EXPECT_TRUE(f.isVisible());
  ASSERT_TRUE(f.KvFaxStatus1.Visible());
  // The status window belongs to the form, so it stays in front of it; Escape there cancels.
  TStandardFaxDisplay *status = f.KvFaxStatus1.Display();
  EXPECT_EQ(status->parentWidget(), &f);
  EXPECT_TRUE(status->isWindow());
  EXPECT_EQ(status->windowModality(), Qt::WindowModal);
  QTest::keyClick(status, Qt::Key_Escape);
  ASSERT_TRUE(kv::test::eventually([&] { return !f.Busy(); }, 30000));
  const QString cancelled = QString::fromStdString(errorText(ecCancelRequested));
  EXPECT_EQ(f.ResultText, cancelled);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Finished: " + cancelled);
  EXPECT_FALSE(f.KvComPort1.Open());
  EXPECT_TRUE(QFile::exists(path("KRVSEND.TRC")));
  EXPECT_TRUE(QFile::exists(path("KRVSEND.LOG")));
  f.Closebutton->click();
  EXPECT_FALSE(f.isVisible());
}

}  // namespace
}  // namespace kv
