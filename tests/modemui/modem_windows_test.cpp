// The modem tool windows driven as a user would, against scripted modems on ptys that the Com
// numbers stand for: reset strings tried and stored, the port search and the class check with
// the questions their callers ask.
#include <gtest/gtest.h>

#include <QTest>
#include <QTimer>
#include <fstream>
#include <map>

#include "app/settings_link.h"
#include "app/test_support.h"
#include "comm/device_layer.h"
#include "comm/main_thread_qt.h"
#include "fax/send_fax.h"
#include "modemui/modem_test_forms.h"
#include "modemui/port_choice.h"
#include "modemui/reset_modem_form.h"
#include "scriptmodem/script_modem.h"
#include "settings/settings.h"
#include "support/event_wait.h"
#include "support/modal.h"
#include "support/serial_dev_dir.h"

namespace kv {
namespace {

using test::OnModal;

// Runs `act` on the modal window T once its test has finished.
template <class T>
void WhenDone(std::function<void(T &)> act) {
  OnModal<T>([act](T &form) {
    auto *poll = new QTimer(&form);
    QObject::connect(poll, &QTimer::timeout, &form, [poll, act, &form] {
      if (!form.Done()) return;
      poll->stop();
      act(form);
    });
    poll->start(10);
  });
}

class ModemWindows : public test::ProgramDirTest {
 protected:
  void SetUp() override {
    ProgramDirTest::SetUp();
    mt = std::make_unique<QtMainThread>();  // needs the application
    MainThread::install(mt.get());
    SetPortDeviceResolver([this](int n) {
      auto it = devices.find(n);
      if (it != devices.end()) return it->second;
      // Beyond the six, as the program does: what the settings file names.
      return n > 6 ? portDeviceName(settingsFilePath(ProgramDir().toStdString()), n)
                   : "/nonexistent/ttyKV" + std::to_string(n);
    });
    SetSerialScanDirs(dev.dirs());
  }
  void TearDown() override {
    SetSerialScanDirs({});
    SetPortDeviceResolver({});
    MainThread::install(nullptr);
    ProgramDirTest::TearDown();
  }
  std::map<int, std::string> devices;
  std::unique_ptr<QtMainThread> mt;
  test::SerialDevDir dev;
};

TEST_F(ModemWindows, ResetStringsAreTriedAndStoredOnClose) {
  TSettingsLink settings;
  settings.Data.comPort = 1;
  settings.Data.resetString = "&F";
  settings.Data.afterResetString = "ATZ";
  ASSERT_TRUE(settings.Save());
  ScriptModem modem(ModemScript::parse("> AT&F\n< ok\n"));
  devices[2] = modem.path();

  QString sent, missing;
  int beepsForEmpty = 0;
  OnModal<TResetModemForm>([&](TResetModemForm &f) {
    EXPECT_EQ(f.ComPort->ItemIndex(), 1);
    EXPECT_EQ(f.ResetString->text(), "&F");
    f.SendNow1->click();  // "AT" goes in front of what is sent, not into the edit
    sent = f.Status->text();
    EXPECT_EQ(f.ResetString->text(), "&F");
    EXPECT_TRUE(f.OkButton->isEnabled());
    test::Snapshot(f, "modem_reset");

    f.ComPort->SetItemIndex(2);  // Com3: no such device
    f.SendNow1->click();
    missing = f.Status->text();

    f.ResetAfterString->clear();
    const int before = Dialogs::beepCount();
    f.SendNow2->click();
    beepsForEmpty = Dialogs::beepCount() - before;
    f.Recommended2->click();
    f.ResetString->setText("AT&F1");
    f.OkButton->click();
  });
  ShowModemReset(nullptr, settings);
  EXPECT_EQ(sent, "Modem reset");
  // The port's text, then which device and why.
  EXPECT_TRUE(missing.startsWith("Unable to open the specified communications port ( Com3 )"))
      << missing.toStdString();
  EXPECT_TRUE(missing.contains("Error message: there is no device")) << missing.toStdString();
  EXPECT_EQ(beepsForEmpty, 1);
  EXPECT_TRUE(modem.finish().ok());

  TSettingsLink reread;
  reread.Load();
  EXPECT_EQ(reread.Data.resetString, "AT&F1");
  EXPECT_EQ(reread.Data.afterResetString, "ATZ");
  EXPECT_EQ(reread.Data.comPort, 1);  // the port tried is not stored
}

TEST_F(ModemWindows, FindModemOffersTheFirstPortThatAnswers) {
  ScriptModem two(ModemScript::parse("> AT\n< OK\n"));
  ScriptModem four(ModemScript::parse("> AT\n< OK\n"));
  devices[2] = two.path();
  devices[4] = four.path();
  TKvComPort port;
  port.SetAutoOpen(false);
  QStringList labels;
  WhenDone<TFindModemForm>([&](TFindModemForm &f) {
    for (auto *l : f.PortLabels) labels << l->text();
    EXPECT_EQ(f.Result->text(), "A modem was found on Com Port 2 (" +
                                    QString::fromStdString(two.path()) +
                                    "). We suggest setting the Port as Com 2.");
    EXPECT_TRUE(f.OkButton->isVisible());
    EXPECT_EQ(f.windowTitle(), "Find Modem");
    test::Snapshot(f, "find_modem");
    f.OkButton->click();
  });
  EXPECT_EQ(FindModemButton(nullptr, port, 5), 1);  // Com6 chosen, Com2 taken on Yes
  EXPECT_EQ(labels.value(0), "Com 1: Port does not exist");
  EXPECT_EQ(labels.value(1), "Com 2: MODEM");
  EXPECT_EQ(labels.value(3), "Com 4: MODEM");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Com Port");
  EXPECT_EQ(shown[0].text, "Set Com Port to Com 2");
  EXPECT_EQ(port.ComNumber(), 6);  // set back to the choice
  EXPECT_EQ(port.TraceName(), (ProgramDir() + "KRVTEST.TRC").toStdString());
  EXPECT_FALSE(port.Open());
}

// A USB modem, seen only in the "dev" folder: Find Modem tries it after the six, offers it, and
// taking it records its stable name for its Com number, so that the number opens it.
TEST_F(ModemWindows, FindModemOffersAUsbModemAndTheChoiceKeepsItsDevice) {
  ScriptModem usb(ModemScript::parse("> AT\n< OK\n> AT\n< OK\n"));
  dev.link("ttyUSB0", usb.path());
  const std::string stable = dev.byId("usb-Maker_Fax_Modem_1234-if00", "ttyUSB0");
  TKvComPort port;
  port.SetAutoOpen(false);
  QStringList labels;
  WhenDone<TFindModemForm>([&](TFindModemForm &f) {
    for (auto *l : f.PortLabels) labels << l->text();
    test::Snapshot(f, "find_modem_usb");
    f.OkButton->click();
  });
  EXPECT_EQ(FindModemButton(nullptr, port, 0), 6);  // Com7 taken on Yes
  ASSERT_EQ(labels.size(), 7);
  EXPECT_EQ(labels.value(6), "Com 7: MODEM");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].text, "Set Com Port to Com 7");
  const auto ini = settingsFilePath(ProgramDir().toStdString());
  EXPECT_EQ(portDeviceName(ini, 7), stable);

  // The port choice shows it by number, device and stable name; the number opens the modem.
  TPortChoice choice("Port");
  choice.SetItemIndex(6);
  EXPECT_EQ(choice.List->currentText().toStdString(),
            "Com7   " + dev.dev() + "/ttyUSB0 (usb-Maker_Fax_Modem_1234-if00)");
  EXPECT_GE(choice.List->findData(1), 0);  // the classic six stay
  choice.show();
  test::Snapshot(choice, "port_choice_usb");
  port.SetComNumber(std::uint16_t(choice.ItemIndex() + 1));
  std::string message;
  EXPECT_TRUE(OpenComPortWithMessage(port, message)) << message;
  std::string at = "AT";
  EXPECT_TRUE(SendModemString(port, at));
  port.SetOpen(false);
}

// Picking a port from the list, by keyboard as a user would, records the device it stands for.
TEST_F(ModemWindows, PickingAUsbPortRecordsItsDevice) {
  ScriptModem acm(ModemScript::parse(""));
  dev.link("ttyACM0", acm.path());
  TPortChoice choice("Port");
  const int row = choice.List->findData(7);
  ASSERT_GE(row, 0);
  int changedTo = -1;
  QObject::connect(&choice, &TPortChoice::changed, [&](int item) { changedTo = item; });
  choice.List->setCurrentIndex(row);
  emit choice.List->activated(row);
  EXPECT_EQ(changedTo, 6);
  EXPECT_EQ(portDeviceName(settingsFilePath(ProgramDir().toStdString()), 7),
            dev.dev() + "/ttyACM0");
  EXPECT_EQ(choice.findChild<QLabel *>("PortDevice")->text().toStdString(),
            "Com7 is the device " + dev.dev() + "/ttyACM0");
  // Alt+3 picks Com3 from the keyboard, as the six ports' mnemonics always did.
  choice.show();
  choice.activateWindow();
  ASSERT_TRUE(test::eventually([&] { return choice.isActiveWindow(); }, 5000));
  QTest::keyClick(&choice, Qt::Key_3, Qt::AltModifier);
  EXPECT_EQ(choice.ItemIndex(), 2);
  EXPECT_EQ(changedTo, 2);
}

TEST_F(ModemWindows, CheckFaxClassRecommendsAndAsks) {
  struct Case {
    const char *reply;
    int classItem, want;
    bool bold, asked;
    const char *label2, *status;
  } cases[] = {
      {"0,1,2.0", 0, 3, true, true, "Class 2.0 : Supported", "Try using the recommended"},
      {"0,1,2", 2, 2, false, false, "Class 2.0 : Not Supported", "Try using the recommended"},
      {"ERROR", 1, 1, false, false, "Class 2.0 : unknown", "Unable to determine Fax Class"},
  };
  for (const Case &c : cases) {
    shown.clear();
    ScriptModem modem(ModemScript::parse(std::string("> AT&F\n< OK\n> AT+FCLASS=?\n< ") + c.reply +
                                         "\n" + (c.reply[0] == 'E' ? "" : "< OK\n")));
    devices[3] = modem.path();
    TKvComPort port;
    port.SetAutoOpen(false);
    TKvSendFax fax;
    QString label2, status;
    bool bold = false;
    WhenDone<TCheckFaxClassForm>([&](TCheckFaxClassForm &f) {
      label2 = f.ClassLabels[2]->text();
      bold = f.ClassLabels[2]->font().bold();
      status = f.Status->text();
      EXPECT_EQ(f.windowTitle(), "Check Fax Class");
      if (c.bold) test::Snapshot(f, "check_fax_class");
      f.OkButton->click();
    });
    EXPECT_EQ(CheckFaxClassButton(nullptr, port, fax, 2, c.classItem), c.want) << c.reply;
    EXPECT_EQ(label2, c.label2) << c.reply;
    EXPECT_EQ(bold, c.bold) << c.reply;
    EXPECT_TRUE(status.startsWith(c.status)) << status.toStdString();
    EXPECT_EQ(shown.size(), c.asked ? 1u : 0u) << c.reply;
    if (c.asked) {
      EXPECT_EQ(shown[0].text, "Set fax class as Class 2.0 ?");
    }
    EXPECT_FALSE(port.Open());
  }
}

}  // namespace
}  // namespace kv
