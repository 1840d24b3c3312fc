// The menu item "Preferences" (and the first run's own opening of it).
#include "app/main_screen.h"
#include "app/preferences.h"

namespace kv {

void TMainScreen::mnuPreferencesClick() {
  const bool firstRun = FirstRun;
  FirstRun = false;
  ShowPreferences(this, Settings, firstRun, [this] { ChooseDefaultFont(); });
}

}  // namespace kv
