// The settings record in KRV.INI, window placement data and port device names.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "base/exceptions.h"
#include "settings/settings.h"
#include "support/temp_files.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

using test::readFile;
using test::writeFile;

class SettingsFile : public ::testing::Test {
 protected:
  void SetUp() override { ini_ = settingsFilePath(dir_); }
  std::vector<std::string> dirEntries() const { return tmp_.entries(); }
  test::TempDir tmp_{"kv-settings-"};
  fs::path dir_{tmp_.path()};
  fs::path ini_;
};

Settings unusualSettings() {
  Settings s;
  s.receiveWav = "/home/user/sounds/fax arrived.wav";
  s.receiveAtStartup = true;
  s.answerOnRing = 3;
  s.userFax = " +49 30 1234567 ";
  s.userName = "\"Quoted\" Name";
  s.dialPrefix = "9,";
  s.dialAttempts = 7;
  s.retryWait = 120;
  s.blindDial = true;
  s.ignoreBusy = true;
  s.toneOrPulse = 1;
  s.dialTimeout = 90;
  s.modemInit = "AT&F;E0=1";
  s.comPort = 0;
  s.faxClass = 3;
  s.maximumBps = 14400;
  s.resetString = std::string(1023, 'R');
  s.afterResetString = "ATZ";
  s.fontName = "DejaVu Sans";
  s.fontSize = 12;
  s.fontBold = true;
  s.fontItalic = true;
  s.fontUnderline = true;
  s.hintsOn = false;
  return s;
}

TEST_F(SettingsFile, MissingFileGivesDefaultsAndFirstRun) {
  const Settings s = LoadSettings(ini_);
  EXPECT_EQ(s, Settings());
  EXPECT_TRUE(s.isFirstRun());
  EXPECT_EQ(s.answerOnRing, 1);
  EXPECT_EQ(s.dialAttempts, 3);
  EXPECT_EQ(s.retryWait, 60);
  EXPECT_EQ(s.dialTimeout, 60);
  EXPECT_EQ(s.maximumBps, 9600);
  EXPECT_EQ(s.fontName, "Arial");
  EXPECT_EQ(s.fontSize, 10);
  EXPECT_TRUE(s.hintsOn);
}

TEST_F(SettingsFile, SaveOfDefaultsMatchesTheExpectedFileByteForByte) {
  SaveSettings(Settings(), ini_);
  EXPECT_EQ(readFile(ini_), readFile(fs::path(SETTINGS_TEST_DATA) / "default_settings.ini"));
  // Saving again changes nothing.
  SaveSettings(Settings(), ini_);
  EXPECT_EQ(readFile(ini_), readFile(fs::path(SETTINGS_TEST_DATA) / "default_settings.ini"));
}

TEST_F(SettingsFile, RoundTripKeepsEveryValueAndTheRestOfTheFile) {
  writeFile(ini_,
            "[Ports]\nCom1=/dev/ttyUSB0\n\n[Modem]\nComPort=4\nVendorKey=keep\n\n"
            "[TMainScreen_Placement]\nLeft=10\nTop=20\nRight=500\nBottom=400\nMaximized=0\n");
  const Settings s = unusualSettings();
  SaveSettings(s, ini_);
  EXPECT_EQ(LoadSettings(ini_), s);
  const std::string text = readFile(ini_);
  EXPECT_NE(text.find("Com1=/dev/ttyUSB0"), std::string::npos);
  EXPECT_NE(text.find("VendorKey=keep"), std::string::npos);
  EXPECT_NE(text.find("Right=500"), std::string::npos);
  EXPECT_EQ(text.find("ComPort=4"), std::string::npos);
  EXPECT_NE(text.find("ComPort=0"), std::string::npos);
}

TEST_F(SettingsFile, DamagedFileGivesDefaultsOnlyForWhatCannotBeRead) {
  std::string damaged =
      "\x01\x02garbage\xff\xfe\n[Receive\nAnswerOnRing=two\nAtStartup=1\n"
      "[Dialing]\nRetryWait=\nDialAttempts=0x05\nTimeout=1e3\n";
  damaged += std::string("\0\0\0[Modem]\nComPort=2\n", 21);
  damaged += "[Default Font]\nSize=12pt\nName=Courier";  // cut off mid-line, no line end
  writeFile(ini_, damaged);
  const Settings s = LoadSettings(ini_);
  EXPECT_EQ(s.answerOnRing, 1);
  EXPECT_TRUE(s.receiveAtStartup);
  EXPECT_EQ(s.retryWait, 60);
  EXPECT_EQ(s.dialAttempts, 5);
  EXPECT_EQ(s.dialTimeout, 60);
  EXPECT_EQ(s.fontSize, 10);
  EXPECT_EQ(s.fontName, "Courier");
  // The NULs belong to a line that is not a header: [Modem] is not found there.
  EXPECT_EQ(s.comPort, -1);
  // Saving over a damaged file keeps its odd lines and makes every key readable.
  SaveSettings(s, ini_);
  EXPECT_EQ(LoadSettings(ini_), s);
  EXPECT_NE(readFile(ini_).find("garbage"), std::string::npos);
}

TEST_F(SettingsFile, SaveIsAtomicAndKeepsPermissionsAndLinks) {
  writeFile(ini_, "[User]\nName=old\n");
  ::chmod(ini_.c_str(), 0600);
  Settings s;
  s.userName = "new";
  SaveSettings(s, ini_);
  struct stat st {};
  ASSERT_EQ(::stat(ini_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(dirEntries(), std::vector<std::string>{"KRV.INI"});  // no temporary left behind

  // A link to the settings file stays a link; the file it names is updated.
  const fs::path real = dir_ / "real.ini";
  fs::rename(ini_, real);
  fs::create_symlink(real, ini_);
  s.userName = "through link";
  SaveSettings(s, ini_);
  EXPECT_TRUE(fs::is_symlink(ini_));
  EXPECT_EQ(LoadSettings(real).userName, "through link");
}

TEST_F(SettingsFile, UnwritableOrUnreadableFileRaisesNamingTheFile) {
  const fs::path nowhere = dir_ / "no such dir" / "KRV.INI";
  try {
    SaveSettings(Settings(), nowhere);
    FAIL();
  } catch (const EIniWrite &e) {
    EXPECT_NE(e.message().find(nowhere.string()), std::string::npos) << e.message();
    EXPECT_EQ(e.ErrorCode, ecIniWrite);
  }
  // Something that exists but cannot be read as a file is not replaced.
  fs::create_directory(ini_);
  EXPECT_FALSE(LoadSettings(ini_).isFirstRun());
  EXPECT_THROW(SaveSettings(Settings(), ini_), EIniWrite);
  EXPECT_TRUE(fs::is_directory(ini_));
}

// A settings file that is there but cannot be read is reported as such: it is not a first
// start (whose Preferences would then replace it), and no save replaces it.
TEST_F(SettingsFile, AFileThatCannotBeReadIsReportedNotTakenForAFirstStart) {
  struct Case {
    const char *what;
    std::function<void()> make;
    const char *why;
  } cases[] = {
      {"a directory in its place", [&] { fs::create_directory(ini_); }, "is not a file"},
      {"larger than a settings file can be",
       [&] {
         writeFile(ini_, "[Modem]\nComPort=2\n");
         fs::resize_file(ini_, IniFile::kMaxFileBytes + 1);
       },
       "holds more than 1 MiB, more than a settings file can"},
      {"not readable by this user",
       [&] {
         writeFile(ini_, "[Modem]\nComPort=2\n");
         ::chmod(ini_.c_str(), 0);
       },
       "Permission denied"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    if (std::string(c.why) == "Permission denied" && ::geteuid() == 0) continue;  // root reads all
    fs::remove_all(ini_);
    c.make();
    const std::string before = fs::is_regular_file(ini_) ? std::to_string(fs::file_size(ini_)) : "";
    std::string problem;
    const Settings s = LoadSettings(ini_, &problem);
    EXPECT_EQ(problem.rfind("The settings file " + ini_.string() + " cannot be read: ", 0), 0u)
        << problem;
    EXPECT_NE(problem.find(c.why), std::string::npos) << problem;
    EXPECT_FALSE(s.isFirstRun());
    EXPECT_THROW(SaveSettings(s, ini_), EIniWrite);
    EXPECT_EQ(fs::is_regular_file(ini_) ? std::to_string(fs::file_size(ini_)) : "", before);
    ::chmod(ini_.c_str(), 0600);
  }
}

// A ComPort that names no port is told with the number the file holds, not one wrapped into
// a port number; the usable ones and "never set" are not.
TEST_F(SettingsFile, AComPortThatNamesNoPortIsReportedWithItsNumber) {
  const std::pair<const char *, int> cases[] = {
      {"999999", 999999}, {"50", 50}, {"-2", -2}, {"0x7FFFFFFF", 2147483647},
      {"49", -1},         {"0", -1},  {"-1", -1},
  };
  for (const auto &[text, bad] : cases) {
    writeFile(ini_, std::string("[Modem]\nComPort=") + text + "\n");
    std::string problem;
    const Settings s = LoadSettings(ini_, &problem);
    if (bad == -1) {
      EXPECT_EQ(problem, "") << text;
      continue;
    }
    EXPECT_EQ(s.comPort, bad);
    EXPECT_EQ(problem, "ComPort=" + std::to_string(bad) + " in " + ini_.string() +
                           " names no port: ComPort=0 to 49 are Com1 to Com50");
  }
}

TEST(TransferRate, IndexMapping) {
  const int rates[] = {2400, 4800, 7200, 9600, 12000, 14400};
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(transferRateIndex(rates[i]), i);
    EXPECT_EQ(transferRateForIndex(i), rates[i]);
  }
  EXPECT_EQ(transferRateIndex(33600), 3);
  EXPECT_EQ(transferRateIndex(0), 3);
  EXPECT_EQ(transferRateForIndex(-1), 9600);
  EXPECT_EQ(transferRateForIndex(6), 9600);
}

TEST_F(SettingsFile, WindowPlacementPerPixelDensity) {
  EXPECT_EQ(placementSection("TMainScreen", 96), "TMainScreen_Placement");
  EXPECT_EQ(placementSection("TMainScreen", 72), "TMainScreen_Placement");
  EXPECT_EQ(placementSection("TMainScreen", 120), "TMainScreen_Placement120");

  const WindowPlacement at96{10, 20, 810, 620, false};
  const WindowPlacement at120{5, 6, 1005, 906, true};
  SaveWindowPlacement(ini_, "TMainScreen", 96, at96);
  SaveWindowPlacement(ini_, "TMainScreen", 120, at120);
  Settings s;
  s.userName = "kept apart";
  SaveSettings(s, ini_);
  EXPECT_EQ(LoadWindowPlacement(ini_, "TMainScreen", 96, true), at96);
  EXPECT_EQ(LoadWindowPlacement(ini_, "TMainScreen", 120, false), at120);
  EXPECT_EQ(LoadSettings(ini_).userName, "kept apart");
  const std::string text = readFile(ini_);
  EXPECT_NE(text.find("[TMainScreen_Placement]\nLeft=10\nTop=20\nRight=810\nBottom=620\n"
                      "Maximized=0\n"),
            std::string::npos);
  // Nothing stored: zeros, and Maximized as the window is now.
  EXPECT_EQ(LoadWindowPlacement(ini_, "TFaxViewer", 96, true), (WindowPlacement{0, 0, 0, 0, true}));
}

TEST(WindowGeometry, RestoredRectStaysOnTheScreen) {
  EXPECT_FALSE(restoredRect({10, 10, 300, 0, false}, 1280, 1024));
  EXPECT_EQ(restoredRect({10, 20, 300, 400, false}, 1280, 1024), (ScreenRect{10, 20, 300, 400}));
  // Past the right and bottom edges: moved left and up by the excess, size kept.
  EXPECT_EQ(restoredRect({1000, 900, 1500, 1200, false}, 1280, 1024),
            (ScreenRect{780, 724, 1280, 1024}));
}

TEST(WindowGeometry, CenteredOverMainWindowOrScreen) {
  const ScreenRect main{100, 50, 901, 651};  // 801 x 601
  EXPECT_EQ(centeredPosition("TSendFaxForm", 400, 300, main, false, 1280, 1024),
            (ScreenPoint{100 + 200, 50 + 150}));
  EXPECT_EQ(centeredPosition("TSendFaxForm", 400, 300, main, true, 1280, 1024),
            (ScreenPoint{440, 362}));
  EXPECT_EQ(centeredPosition("tmainscreen", 801, 601, main, false, 1280, 1024),
            (ScreenPoint{239, 211}));
  // A dialog larger than the main window: negative halves round towards zero.
  EXPECT_EQ(centeredPosition("TBig", 804, 604, ScreenRect{0, 0, 801, 601}, false, 1280, 1024),
            (ScreenPoint{-1, -1}));
}

TEST_F(SettingsFile, PortDeviceNames) {
  writeFile(ini_, "[Ports]\nCom1=/dev/ttyUSB0\nCom3=\nCOM4 = /dev/ttyACM0 \n");
  EXPECT_EQ(portDeviceName(ini_, 1), "/dev/ttyUSB0");
  EXPECT_EQ(portDeviceName(ini_, 2), "/dev/ttyS1");
  EXPECT_EQ(portDeviceName(ini_, 3), "/dev/ttyS2");
  EXPECT_EQ(portDeviceName(ini_, 4), "/dev/ttyACM0");
  EXPECT_EQ(portDeviceName(ini_, 50), "/dev/ttyS49");
  EXPECT_EQ(portDeviceName(ini_, 0), "");
  EXPECT_EQ(portDeviceName(ini_, 51), "");
  EXPECT_EQ(portDeviceName(dir_ / "missing.ini", 1), "/dev/ttyS0");
}

}  // namespace
}  // namespace kv
