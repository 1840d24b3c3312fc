#pragma once
// The program's settings and where they live in KRV.INI: the settings record, window placement
// data and the serial device names of the ports. Plain C++ (the command-line tool uses it too);
// applying a placement to a real window is the window layer's business.
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "settings/ini_file.h"

namespace kv {

inline constexpr const char *kSettingsFileName = "KRV.INI";

// KRV.INI in the program directory.
inline std::filesystem::path settingsFilePath(const std::filesystem::path &programDir) {
  return programDir / kSettingsFileName;
}

struct Settings {
  // [Receive]
  std::string receiveWav;         // Wav: sound played when a fax has arrived; empty = none
  bool receiveAtStartup = false;  // AtStartup
  int answerOnRing = 1;           // AnswerOnRing: 1 to 3
  // [User]
  std::string userFax;   // Fax: own fax number, sent as station identifier
  std::string userName;  // Name
  // [Dialing]
  std::string dialPrefix;  // DialPrefix
  // InternationalPrefix: dialled in place of a number's leading "+" (00, 011, ...); empty
  // drops the "+".
  std::string internationalPrefix;
  // PlusNoticeGiven: the user has been told once that a "+" goes undialled without that prefix.
  bool plusNoticeGiven = false;
  int dialAttempts = 3;     // DialAttempts
  int retryWait = 60;       // RetryWait, seconds
  bool blindDial = false;   // BlindDial
  bool ignoreBusy = false;  // IgnoreBusy
  int toneOrPulse = 0;      // ToneOrPulse: 0 tone, 1 pulse
  int dialTimeout = 60;     // Timeout, seconds
  // [Modem]
  std::string modemInit;       // InitString
  int comPort = -1;            // ComPort: port index, 0 = first; -1 = never set (first run)
  int faxClass = 0;            // FaxClass: 0 detect, 1 class 1, 2 class 2, 3 class 2.0
  int maximumBps = 9600;       // MaximumBPS
  bool twoDimensional = true;  // TwoDimensional: offer and send MR where the far end takes it
  // [Resetting]
  std::string resetString;       // String: sent before a fax job
  std::string afterResetString;  // AfterString: sent after a fax job
  // [Default Font]
  std::string fontName = "Arial";  // Name
  int fontSize = 10;               // Size, points
  bool fontBold = false;           // Bold
  bool fontItalic = false;         // Italic
  bool fontUnderline = false;      // Underline
  // [Hints]
  bool hintsOn = true;  // On

  bool isFirstRun() const { return comPort == -1; }
  bool operator==(const Settings &) const = default;
};

// Every key from |ini|; what is missing or not a number takes its default.
Settings readSettings(const IniFile &ini);
// Every key into |ini|, in the fixed save order; other contents of |ini| stay as they are.
void writeSettings(const Settings &settings, IniFile &ini);

// Reads the settings file; a missing, unreadable or damaged file gives the defaults for what
// cannot be read. A file that exists but cannot be read is not a first start: its settings
// are the defaults with the first port (isFirstRun() false), and saves refuse to replace it.
// `problem`, when given, receives what the user must be told (that file and why, or the
// ComPort problem below); empty when there is nothing to tell.
Settings LoadSettings(const std::filesystem::path &iniPath, std::string *problem = nullptr);

// Ports are Com1 to Com50, ComPort 0 to 49; -1 means never set.
inline constexpr int kMaxComPorts = 50;
// "ComPort=999999 in <file> names no port: ..." for a value outside -1..49; empty otherwise.
std::string comPortProblem(int comPort, const std::filesystem::path &iniPath);
// Writes all settings into the file, keeping everything else in it (placements, ports, keys of
// other programs). Atomic; throws EIniWrite naming the file when it cannot be written.
void SaveSettings(const Settings &settings, const std::filesystem::path &iniPath);

// The transfer-rate list: 0 = 2400, 1 = 4800, 2 = 7200, 3 = 9600, 4 = 12000, 5 = 14400. Any other
// rate shows as index 3; any other index stores 9600.
int transferRateIndex(int bps);
int transferRateForIndex(int index);

// A window's normal (not maximised) rectangle in screen pixels and whether it is maximised.
struct WindowPlacement {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  bool maximized = false;
  bool operator==(const WindowPlacement &) const = default;
};

// "<windowClass>_Placement", with the pixels per inch appended above 96
// ("TMainScreen_Placement120"), so each screen density keeps its own placement.
std::string placementSection(std::string_view windowClass, int pixelsPerInch);

// Missing keys read as 0; a missing Maximized reads as |maximizedNow|.
WindowPlacement readPlacement(const IniFile &ini, std::string_view windowClass, int pixelsPerInch,
                              bool maximizedNow);
void writePlacement(IniFile &ini, std::string_view windowClass, int pixelsPerInch,
                    const WindowPlacement &placement);

// File forms of the two above; saving keeps the rest of the file and is atomic (throws
// EIniWrite naming the file).
WindowPlacement LoadWindowPlacement(const std::filesystem::path &iniPath,
                                    std::string_view windowClass, int pixelsPerInch,
                                    bool maximizedNow);
void SaveWindowPlacement(const std::filesystem::path &iniPath, std::string_view windowClass,
                         int pixelsPerInch, const WindowPlacement &placement);

struct ScreenRect {
  int left = 0;
  int top = 0;
  int right = 0;
  int bottom = 0;
  int width() const { return right - left; }
  int height() const { return bottom - top; }
  bool operator==(const ScreenRect &) const = default;
};

// The rectangle a restored window gets: the stored one, moved left (up) by as much as it
// reaches past the screen's right (bottom) edge. nullopt when nothing was stored (Bottom 0):
// the window is then centred instead.
std::optional<ScreenRect> restoredRect(const WindowPlacement &placement, int screenWidth,
                                       int screenHeight);

// Top-left corner for centring a window of the given size: the main window itself (class
// "TMainScreen", any case) and every window opened while the main window is maximised are
// centred on the screen, any other over the main window. Halves round towards zero.
struct ScreenPoint {
  int x = 0;
  int y = 0;
  bool operator==(const ScreenPoint &) const = default;
};
ScreenPoint centeredPosition(std::string_view windowClass, int width, int height,
                             const ScreenRect &mainWindow, bool mainMaximized, int screenWidth,
                             int screenHeight);

// Device of serial port |n| (1..50): key Com<n> of section "Ports", else /dev/ttyS<n-1>. Empty
// for a number outside 1..50.
std::string portDeviceName(const IniFile &ini, int n);
std::string portDeviceName(const std::filesystem::path &iniPath, int n);
// Device of port |n| from the settings file beside the running program; empty when there is no
// such file. The programs install it as the serial layer's port resolver.
std::string portDeviceBesideProgram(int n);
// The ports the "Ports" section names a device for, by number (keys Com1 to Com50 with a
// non-empty value; other keys are left alone).
std::map<int, std::string> portEntries(const IniFile &ini);
// Names `device` as port |n| (1..50) in the file, keeping the rest of it. Atomic; throws
// EIniWrite naming the file when it cannot be written.
void SavePortDevice(const std::filesystem::path &iniPath, int n, const std::string &device);

}  // namespace kv
