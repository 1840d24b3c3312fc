#include "app/settings_link.h"

#include <exception>

#include "app/program_dir.h"

namespace kv {

std::filesystem::path TSettingsLink::FileName() const {
  return settingsFilePath(ProgramDir().toStdString());
}

void TSettingsLink::Load() {
  std::string problem;
  Data = LoadSettings(FileName(), &problem);
  loadProblem_ = QString::fromStdString(problem);
}

bool TSettingsLink::Save() {
  try {
    SaveSettings(Data, FileName());
    return true;
  } catch (const std::exception &e) {
    lastError_ = QString::fromStdString(e.what());
    return false;
  }
}

WindowPlacement TSettingsLink::ReadPlacement(const QString &windowClass, int pixelsPerInch,
                                             bool maximizedNow) {
  return LoadWindowPlacement(FileName(), windowClass.toStdString(), pixelsPerInch, maximizedNow);
}

bool TSettingsLink::WritePlacement(const QString &windowClass, int pixelsPerInch,
                                   const WindowPlacement &placement) {
  try {
    SaveWindowPlacement(FileName(), windowClass.toStdString(), pixelsPerInch, placement);
    return true;
  } catch (const std::exception &e) {
    lastError_ = QString::fromStdString(e.what());
    return false;
  }
}

}  // namespace kv
