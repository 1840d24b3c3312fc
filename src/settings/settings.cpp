#include "settings/settings.h"

#include "base/exceptions.h"
#include "base/name_compare.h"
#include "base/program_dir_rule.h"

namespace kv {
namespace {

constexpr const char *kReceive = "Receive";
constexpr const char *kUser = "User";
constexpr const char *kDialing = "Dialing";
constexpr const char *kModem = "Modem";
constexpr const char *kResetting = "Resetting";
constexpr const char *kFont = "Default Font";
constexpr const char *kHints = "Hints";
constexpr const char *kPorts = "Ports";

constexpr int kRates[] = {2400, 4800, 7200, 9600, 12000, 14400};

IniFile loadOrEmpty(const std::filesystem::path &iniPath) {
  IniFile ini;
  ini.load(iniPath);
  return ini;
}

// The file as it is before a save changes some keys. A file that exists but cannot be read is
// not replaced: what it holds beyond our keys would be lost.
IniFile loadForUpdate(const std::filesystem::path &iniPath) {
  IniFile ini;
  std::string why;
  if (ini.load(iniPath, &why) == IniFile::LoadStatus::Unreadable) {
    EIniWrite e("Cannot write the settings file " + iniPath.string() + ": " + why);
    e.ErrorCode = ecIniWrite;
    throw e;
  }
  return ini;
}

}  // namespace

Settings readSettings(const IniFile &ini) {
  const Settings d;
  Settings s;
  s.receiveWav = ini.readString(kReceive, "Wav", d.receiveWav);
  s.receiveAtStartup = ini.readBool(kReceive, "AtStartup", d.receiveAtStartup);
  s.answerOnRing = ini.readInteger(kReceive, "AnswerOnRing", d.answerOnRing);
  s.userFax = ini.readString(kUser, "Fax", d.userFax);
  s.userName = ini.readString(kUser, "Name", d.userName);
  s.dialPrefix = ini.readString(kDialing, "DialPrefix", d.dialPrefix);
  s.internationalPrefix = ini.readString(kDialing, "InternationalPrefix", d.internationalPrefix);
  s.plusNoticeGiven = ini.readBool(kDialing, "PlusNoticeGiven", d.plusNoticeGiven);
  s.dialAttempts = ini.readInteger(kDialing, "DialAttempts", d.dialAttempts);
  s.retryWait = ini.readInteger(kDialing, "RetryWait", d.retryWait);
  s.blindDial = ini.readBool(kDialing, "BlindDial", d.blindDial);
  s.ignoreBusy = ini.readBool(kDialing, "IgnoreBusy", d.ignoreBusy);
  s.toneOrPulse = ini.readInteger(kDialing, "ToneOrPulse", d.toneOrPulse);
  s.dialTimeout = ini.readInteger(kDialing, "Timeout", d.dialTimeout);
  s.modemInit = ini.readString(kModem, "InitString", d.modemInit);
  s.comPort = ini.readInteger(kModem, "ComPort", d.comPort);
  s.faxClass = ini.readInteger(kModem, "FaxClass", d.faxClass);
  s.maximumBps = ini.readInteger(kModem, "MaximumBPS", d.maximumBps);
  s.twoDimensional = ini.readBool(kModem, "TwoDimensional", d.twoDimensional);
  s.resetString = ini.readString(kResetting, "String", d.resetString);
  s.afterResetString = ini.readString(kResetting, "AfterString", d.afterResetString);
  s.fontName = ini.readString(kFont, "Name", d.fontName);
  s.fontSize = ini.readInteger(kFont, "Size", d.fontSize);
  s.fontBold = ini.readBool(kFont, "Bold", d.fontBold);
  s.fontItalic = ini.readBool(kFont, "Italic", d.fontItalic);
  s.fontUnderline = ini.readBool(kFont, "Underline", d.fontUnderline);
  s.hintsOn = ini.readBool(kHints, "On", d.hintsOn);
  return s;
}

void writeSettings(const Settings &s, IniFile &ini) {
  // This order decides where sections and keys land in a new file; keep it.
  ini.writeString(kReceive, "Wav", s.receiveWav);
  ini.writeBool(kReceive, "AtStartup", s.receiveAtStartup);
  ini.writeInteger(kReceive, "AnswerOnRing", s.answerOnRing);
  ini.writeString(kUser, "Fax", s.userFax);
  ini.writeString(kUser, "Name", s.userName);
  ini.writeString(kDialing, "DialPrefix", s.dialPrefix);
  ini.writeString(kModem, "InitString", s.modemInit);
  ini.writeInteger(kDialing, "DialAttempts", s.dialAttempts);
  ini.writeInteger(kDialing, "RetryWait", s.retryWait);
  ini.writeBool(kDialing, "BlindDial", s.blindDial);
  ini.writeBool(kDialing, "IgnoreBusy", s.ignoreBusy);
  ini.writeInteger(kModem, "ComPort", s.comPort);
  ini.writeInteger(kModem, "FaxClass", s.faxClass);
  ini.writeInteger(kDialing, "ToneOrPulse", s.toneOrPulse);
  ini.writeInteger(kDialing, "Timeout", s.dialTimeout);
  ini.writeString(kFont, "Name", s.fontName);
  ini.writeInteger(kFont, "Size", s.fontSize);
  ini.writeBool(kFont, "Bold", s.fontBold);
  ini.writeBool(kFont, "Italic", s.fontItalic);
  ini.writeBool(kFont, "Underline", s.fontUnderline);
  ini.writeInteger(kModem, "MaximumBPS", s.maximumBps);
  ini.writeString(kResetting, "String", s.resetString);
  ini.writeString(kResetting, "AfterString", s.afterResetString);
  ini.writeBool(kHints, "On", s.hintsOn);
  ini.writeBool(kModem, "TwoDimensional", s.twoDimensional);
  // A newer key: a file that never had it keeps the shape older programs wrote.
  if (!s.internationalPrefix.empty() || ini.hasKey(kDialing, "InternationalPrefix"))
    ini.writeString(kDialing, "InternationalPrefix", s.internationalPrefix);
  if (s.plusNoticeGiven || ini.hasKey(kDialing, "PlusNoticeGiven"))
    ini.writeBool(kDialing, "PlusNoticeGiven", s.plusNoticeGiven);
}

Settings LoadSettings(const std::filesystem::path &iniPath, std::string *problem) {
  IniFile ini;
  std::string why;
  if (problem) problem->clear();
  if (ini.load(iniPath, &why) == IniFile::LoadStatus::Unreadable) {
    if (problem) *problem = "The settings file " + iniPath.string() + " cannot be read: " + why;
    Settings s;
    s.comPort = 0;
    return s;
  }
  Settings s = readSettings(ini);
  if (problem) *problem = comPortProblem(s.comPort, iniPath);
  return s;
}

std::string comPortProblem(int comPort, const std::filesystem::path &iniPath) {
  if (comPort >= -1 && comPort < kMaxComPorts) return {};
  return "ComPort=" + std::to_string(comPort) + " in " + iniPath.string() +
         " names no port: ComPort=0 to " + std::to_string(kMaxComPorts - 1) + " are Com1 to Com" +
         std::to_string(kMaxComPorts);
}

void SaveSettings(const Settings &settings, const std::filesystem::path &iniPath) {
  IniFile ini = loadForUpdate(iniPath);
  writeSettings(settings, ini);
  ini.save(iniPath);
}

int transferRateIndex(int bps) {
  for (int i = 0; i < 6; ++i)
    if (kRates[i] == bps) return i;
  return 3;
}

int transferRateForIndex(int index) {
  return index >= 0 && index < 6 ? kRates[index] : 9600;
}

std::string placementSection(std::string_view windowClass, int pixelsPerInch) {
  std::string section = std::string(windowClass) + "_Placement";
  if (pixelsPerInch > 96) section += std::to_string(pixelsPerInch);
  return section;
}

WindowPlacement readPlacement(const IniFile &ini, std::string_view windowClass, int pixelsPerInch,
                              bool maximizedNow) {
  const std::string section = placementSection(windowClass, pixelsPerInch);
  WindowPlacement p;
  p.left = ini.readInteger(section, "Left", 0);
  p.top = ini.readInteger(section, "Top", 0);
  p.right = ini.readInteger(section, "Right", 0);
  p.bottom = ini.readInteger(section, "Bottom", 0);
  p.maximized = ini.readBool(section, "Maximized", maximizedNow);
  return p;
}

void writePlacement(IniFile &ini, std::string_view windowClass, int pixelsPerInch,
                    const WindowPlacement &p) {
  const std::string section = placementSection(windowClass, pixelsPerInch);
  ini.writeInteger(section, "Left", p.left);
  ini.writeInteger(section, "Top", p.top);
  ini.writeInteger(section, "Right", p.right);
  ini.writeInteger(section, "Bottom", p.bottom);
  ini.writeBool(section, "Maximized", p.maximized);
}

WindowPlacement LoadWindowPlacement(const std::filesystem::path &iniPath,
                                    std::string_view windowClass, int pixelsPerInch,
                                    bool maximizedNow) {
  return readPlacement(loadOrEmpty(iniPath), windowClass, pixelsPerInch, maximizedNow);
}

void SaveWindowPlacement(const std::filesystem::path &iniPath, std::string_view windowClass,
                         int pixelsPerInch, const WindowPlacement &placement) {
  IniFile ini = loadForUpdate(iniPath);
  writePlacement(ini, windowClass, pixelsPerInch, placement);
  ini.save(iniPath);
}

std::optional<ScreenRect> restoredRect(const WindowPlacement &p, int screenWidth,
                                       int screenHeight) {
  if (p.bottom == 0) return std::nullopt;
  ScreenRect r{p.left, p.top, p.right, p.bottom};
  if (screenWidth < r.right) {
    r.left += screenWidth - r.right;
    r.right = screenWidth;
  }
  if (screenHeight < r.bottom) {
    r.top += screenHeight - r.bottom;
    r.bottom = screenHeight;
  }
  return r;
}

ScreenPoint centeredPosition(std::string_view windowClass, int width, int height,
                             const ScreenRect &mainWindow, bool mainMaximized, int screenWidth,
                             int screenHeight) {
  if (mainMaximized || sameNameIgnoringCase(windowClass, "TMAINSCREEN"))
    return {(screenWidth - width) / 2, (screenHeight - height) / 2};
  return {mainWindow.left + (mainWindow.width() - width) / 2,
          mainWindow.top + (mainWindow.height() - height) / 2};
}

std::string portDeviceName(const IniFile &ini, int n) {
  if (n < 1 || n > kMaxComPorts) return {};
  const std::string fallback = "/dev/ttyS" + std::to_string(n - 1);
  std::string device = ini.readString(kPorts, "Com" + std::to_string(n), fallback);
  // An empty entry names no device at all; the usual one is meant.
  return device.empty() ? fallback : device;
}

std::string portDeviceName(const std::filesystem::path &iniPath, int n) {
  return portDeviceName(loadOrEmpty(iniPath), n);
}

std::string portDeviceBesideProgram(int n) {
  std::error_code ec;
  std::filesystem::path ini = settingsFilePath(RunningProgramDir());
  if (!std::filesystem::exists(ini, ec)) return {};
  return portDeviceName(ini, n);
}

std::map<int, std::string> portEntries(const IniFile &ini) {
  std::map<int, std::string> ports;
  for (const std::string &key : ini.keyNames(kPorts)) {
    // "Com7" only: "Com07" is not the key the port's lookup reads.
    if (key.size() < 4 || !sameNameIgnoringCase(key.substr(0, 3), "COM") || key[3] == '0') continue;
    int n = 0;
    for (char c : key.substr(3)) {
      if (c < '0' || c > '9' || n > kMaxComPorts) {
        n = 0;
        break;
      }
      n = n * 10 + (c - '0');
    }
    if (n < 1 || n > kMaxComPorts) continue;
    std::string device = ini.readString(kPorts, key, "");
    if (!device.empty()) ports[n] = device;
  }
  return ports;
}

void SavePortDevice(const std::filesystem::path &iniPath, int n, const std::string &device) {
  IniFile ini = loadForUpdate(iniPath);
  ini.writeString(kPorts, "Com" + std::to_string(n), device);
  ini.save(iniPath);
}

}  // namespace kv
