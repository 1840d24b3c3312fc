#pragma once
// The main window's settings: in memory for the whole run, loaded from and saved to KRV.INI
// in the program directory, which also keeps the window placements.
#include <QString>

#include "app/window_placement.h"
#include "settings/settings.h"

namespace kv {

class TSettingsLink : public IPlacementStore {
 public:
  // The settings in memory; the windows that edit them change this record, then Save().
  Settings Data;

  std::filesystem::path FileName() const;
  // A missing or unreadable file gives the defaults; LoadProblem() then says what the user
  // must be told (a file that exists but cannot be read, a ComPort that names no port).
  void Load();
  QString LoadProblem() const { return loadProblem_; }
  // False (LastError names the file) when the file cannot be written.
  bool Save();
  QString LastError() const { return lastError_; }

  int ComPort() const { return Data.comPort; }
  void SetComPort(int port) { Data.comPort = port; }
  bool AtStartup() const { return Data.receiveAtStartup; }
  bool HintsOn() const { return Data.hintsOn; }
  void SetHintsOn(bool on) { Data.hintsOn = on; }

  WindowPlacement ReadPlacement(const QString &windowClass, int pixelsPerInch,
                                bool maximizedNow) override;
  bool WritePlacement(const QString &windowClass, int pixelsPerInch,
                      const WindowPlacement &placement) override;

 private:
  QString lastError_;
  QString loadProblem_;
};

}  // namespace kv
