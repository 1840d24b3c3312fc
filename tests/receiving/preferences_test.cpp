// The Preferences window from the main window's menu: every setting in and back out, the rate
// list's mapping, a bad number, the sound file choice, the default font, the modem search on the
// window's own port, and the keys.
#include <gtest/gtest.h>

#include <QFile>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include "app/main_screen.h"
#include "app/preferences.h"
#include "app/wave_sound.h"
#include "modemui/modem_test_forms.h"
#include "modemui/port_choice.h"
#include "receive_support.h"
#include "support/modal.h"

namespace kv {
namespace {

using test::OnModal;

class PreferencesTest : public test::ReceiveTest {
 protected:
  void SetUp() override {
    ReceiveTest::SetUp();
    WavePlayer() = [this](const QString &f) { played.push_back(f); };
    w = std::make_unique<TMainScreen>();
  }
  void TearDown() override {
    w.reset();
    WavePlayer() = nullptr;
    TPreferences::OpenWaveDialog = saved;
    ReceiveTest::TearDown();
  }
  // Opens Preferences from the menu, runs `act` in it, and answers the settings in the file.
  Settings run(const std::function<void(TPreferences &)> &act) {
    OnModal<TPreferences>([&](TPreferences &p) { act(p); });
    w->mnuPreferences->trigger();
    return LoadSettings(settingsFilePath(ProgramDir().toStdString()));
  }
  std::unique_ptr<TMainScreen> w;
  std::vector<QString> played;
  decltype(TPreferences::OpenWaveDialog) saved = TPreferences::OpenWaveDialog;
};

TEST_F(PreferencesTest, EverySettingComesInAndGoesBackOnAccept) {
  Settings s = w->Settings.Data;
  s.comPort = 2;
  s.faxClass = 3;
  s.toneOrPulse = 1;
  s.answerOnRing = 3;
  s.blindDial = true;
  s.userName = "Ada";
  s.userFax = "+1 555 0100";
  s.dialPrefix = "9,";
  s.internationalPrefix = "00";
  s.modemInit = "S7=60";
  s.maximumBps = 19200;  // not in the list: shows and stores as 9600
  s.dialAttempts = 5;
  s.retryWait = 30;
  s.dialTimeout = 45;
  s.receiveWav = "/tmp/x.wav";
  s.receiveAtStartup = true;
  w->Settings.Data = s;
  Settings got = run([](TPreferences &p) {
    EXPECT_EQ(p.ComPort->ItemIndex(), 2);
    EXPECT_EQ(p.FaxClass->ItemIndex(), 3);
    EXPECT_EQ(p.ToneOrPulse->ItemIndex(), 1);
    EXPECT_EQ(p.AnswerOnRing->ItemIndex(), 2);
    EXPECT_TRUE(p.CheckBlindDial->isChecked());
    EXPECT_FALSE(p.CheckIgnoreBusy->isChecked());
    EXPECT_EQ(p.TransferRate->currentText(), "9600");
    EXPECT_EQ(p.TimeOut->text(), "45");
    EXPECT_EQ(p.Name->maxLength(), 35);
    EXPECT_EQ(p.FaxNumber->maxLength(), 20);
    EXPECT_EQ(CurrentStatusLine(), p.status);
    test::Snapshot(p, "preferences");
    p.AnswerOnRing->SetItemIndex(0);
    p.CheckIgnoreBusy->setChecked(true);
    p.OkButton->click();
  });
  s.maximumBps = 9600;
  s.answerOnRing = 1;
  s.ignoreBusy = true;
  EXPECT_TRUE(got == s);
  EXPECT_EQ(CurrentStatusLine(), w->status);
}

TEST_F(PreferencesTest, ABadNumberIsReportedAndCancelKeepsEverything) {
  const Settings before = LoadSettings(settingsFilePath(ProgramDir().toStdString()));
  Settings got = run([this](TPreferences &p) {
    p.Name->setText("changed");
    p.RetryWait->clear();
    p.OkButton->click();
    // Told, and the window stays for the number to be mended.
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].kind, DialogRequest::Error);
    EXPECT_TRUE(p.isVisible());
    EXPECT_EQ(p.focusWidget(), p.RetryWait);
    QTest::keyClick(&p, Qt::Key_Escape);
  });
  EXPECT_TRUE(got == before);
  EXPECT_EQ(w->Settings.Data.userName, "");
}

// The prefixes are dialled before every number: a CR, ";" or a letter in them would become a
// modem command, so they are refused with the reason and the window stays to mend them.
TEST_F(PreferencesTest, PrefixesThatAreNotDialStringsAreRefused) {
  Settings got = run([this](TPreferences &p) {
    const std::pair<QLineEdit *, const char *> cases[] = {
        {p.DialPrefix, "The dial prefix \"9;ATZ\" cannot be dialled: it holds ';'"},
        {p.InternationalPrefix, "The international prefix \"+\" cannot be dialled"},
    };
    for (const auto &[field, reason] : cases) {
      field->setText(field == p.DialPrefix ? "9;ATZ" : "+");
      p.OkButton->click();
      ASSERT_FALSE(shown.empty());
      EXPECT_EQ(shown.back().kind, DialogRequest::Error);
      EXPECT_TRUE(shown.back().text.startsWith(reason)) << shown.back().text.toStdString();
      EXPECT_TRUE(p.isVisible());
      EXPECT_EQ(p.focusWidget(), field);
      field->setText("9,");
    }
    p.InternationalPrefix->setText("011");
    p.OkButton->click();
  });
  EXPECT_EQ(got.dialPrefix, "9,");
  EXPECT_EQ(got.internationalPrefix, "011");
}

TEST_F(PreferencesTest, TheSoundFileIsChosenPlayedAndCleared) {
  QFile(path("ring.wav")).open(QIODevice::WriteOnly);
  std::vector<QString> offered;
  QString answer;
  TPreferences::OpenWaveDialog = [&](QWidget *, const QString &dir, const QString &pre) {
    offered = {dir, pre};
    return answer;
  };
  Settings got = run([&](TPreferences &p) {
    struct Step {
      QString chosen, edit;
    } steps[] = {
        {"/music/song.mp3", ""}, {path("ring.wav"), path("ring.wav")}, {"", path("ring.wav")}};
    for (const Step &s : steps) {
      answer = s.chosen;
      p.SelectWavButton->click();
      EXPECT_EQ(p.WaveFileEdit->text(), s.edit) << s.chosen.toStdString();
    }
    EXPECT_EQ(offered[0], ProgramDir());
    EXPECT_EQ(offered[1], path("ring.wav"));  // an existing file is preselected
    p.BitBtn2->click();
    p.WaveFileEdit->setText(path("missing.wav"));
    p.BitBtn2->click();  // nothing, and no message
    p.BitBtn1->click();
    EXPECT_EQ(p.WaveFileEdit->text(), "");
    // Return in a text field accepts (in the port list it only closes the list).
    p.WaveFileEdit->setFocus();
    QTest::keyClick(&p, Qt::Key_Return);
  });
  EXPECT_EQ(played, std::vector<QString>{path("ring.wav")});
  EXPECT_EQ(got.receiveWav, "");
  EXPECT_TRUE(shown.empty());
}

TEST_F(PreferencesTest, DefaultFontAndFindModemUseTheirTools) {
  scriptOn(2, "> AT\n< OK\n");
  auto font = TMainScreen::FontDialog;
  TMainScreen::FontDialog = [](QWidget *, QFont &f) {
    f = QFont("Courier New", 12);
    return true;
  };
  answer = true;
  Settings got = run([&](TPreferences &p) {
    p.ExplorerButton1->click();
    // Closed once its search is over (the search itself runs inside the window's showing).
    OnModal<TFindModemForm>([](TFindModemForm &f) {
      auto *poll = new QTimer(&f);
      QObject::connect(poll, &QTimer::timeout, &f, [&f] {
        if (f.Done()) f.accept();
      });
      poll->start(10);
    });
    p.FindModemButton->click();
    EXPECT_EQ(p.ComPort->ItemIndex(), 1);  // Com2 answered, and Yes took it
    EXPECT_FALSE(p.KvComPort.Open());
    p.OkButton->click();
  });
  TMainScreen::FontDialog = font;
  EXPECT_EQ(got.fontName, "Courier New");
  EXPECT_EQ(got.comPort, 1);
}

}  // namespace
}  // namespace kv
